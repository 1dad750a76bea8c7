// The access-rights check: the security service is created inside the caller's object context,
// once per check, and called by name with the arguments in order; its refusal reaches the caller
// unchanged, and without an object context the check raises 91.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/security/security_info.h"
#include "datasource/c_data_source.h"
#include "platform/automation/dispatch_table.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/mts/runtime.h"
#include "service/module.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::support {
namespace {

using automation::DispatchTable;
using automation::ParamInfo;
using automation::TypeInfo;
using automation::Variant;

constexpr const char* kProps = "ConnectString={Provider=SQLite;Data Source=x.db};UserID=7;LANGUAGE=en";

// A security service that records each check and refuses while `refuse` is set.
class FakeSecurity : public automation::DispatchObject<FakeSecurity> {
 public:
  static inline std::vector<std::vector<Variant>> calls;
  static inline int created = 0;
  static inline bool refuse = false;

  static const DispatchTable<FakeSecurity>& Table() {
    static const DispatchTable<FakeSecurity> table = [] {
      TypeInfo info;
      info.className = "SecurityInfo";
      info.progId = std::string(strings::kSecurityServiceProgId);
      info.clsid = "{0D7E8C40-5C3B-4B57-9B87-4E1F4D1B7A01}";
      info.transaction = automation::TransactionAttribute::Supported;
      return DispatchTable<FakeSecurity>(info).Method(
          "AccessCheck", 1,
          {ParamInfo{"Props", automation::VT_VARIANT}, ParamInfo{"ObjectType", automation::VT_VARIANT, true},
           ParamInfo{"ObjectID", automation::VT_VARIANT, true}, ParamInfo{"Access", automation::VT_VARIANT, true},
           ParamInfo{"Flag", automation::VT_VARIANT}, ParamInfo{"Component", automation::VT_VARIANT, true}},
          automation::VT_BOOL, [](FakeSecurity&, std::span<Variant> a) {
            calls.emplace_back(a.begin(), a.end());
            if (refuse) automation::Raise(70, "QuenBase.SecurityInfo", "Permission denied", "rights");
            return Variant(true);
          });
    }();
    return table;
  }
};

// A component method that makes the check, as a change of the service does.
class AccessCaller : public automation::DispatchObject<AccessCaller> {
 public:
  static const DispatchTable<AccessCaller>& Table() {
    static const DispatchTable<AccessCaller> table = [] {
      TypeInfo info;
      info.className = "AccessCaller";
      info.progId = "Morvane.Test.AccessCaller";
      info.clsid = "{0D7E8C40-5C3B-4B57-9B87-4E1F4D1B7A02}";
      info.transaction = automation::TransactionAttribute::Required;
      return DispatchTable<AccessCaller>(info).Method("Check", 1, {}, automation::VT_EMPTY,
                                                      [](AccessCaller&, std::span<Variant>) {
                                                        CheckUserAccess(DataSource(), 155, 1, 2097152,
                                                                        "Morvane.VchTempSetUpdate");
                                                        return Variant();
                                                      });
    }();
    return table;
  }
  static const datasource::CDataSource& DataSource() {
    static const auto ds = [] {
      auto parse = std::make_shared<datasource::CParse>();
      parse->ParseString(kProps);
      auto source = std::make_shared<datasource::CDataSource>();
      source->ParseObject = parse;
      return source;
    }();
    return *ds;
  }
};

class AccessCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DllRegisterServer();
    auto& registry = automation::Registry::Instance();
    registry.Register(FakeSecurity::Table().info(), [] {
      ++FakeSecurity::created;
      return automation::DispatchPtr(std::make_shared<FakeSecurity>());
    });
    registry.Register(AccessCaller::Table().info(), [] { return automation::DispatchPtr(std::make_shared<AccessCaller>()); });
    FakeSecurity::calls.clear();
    FakeSecurity::created = 0;
    FakeSecurity::refuse = false;
  }
  void TearDown() override {
    automation::Registry::Instance().Unregister("Morvane.Test.AccessCaller");
    components::RegisterSecurityService();  // the real service again
  }
};

TEST_F(AccessCheckTest, ServiceIsAskedWithTheArgumentsInOrder) {
  auto caller = mts::CreateObject("Morvane.Test.AccessCaller");
  automation::Call(*caller, "Check");
  ASSERT_EQ(FakeSecurity::calls.size(), 1u);
  const std::vector<Variant> expected{Variant(kProps), Variant(155), Variant(1), Variant(2097152), Variant(true),
                                      Variant("Morvane.VchTempSetUpdate")};
  EXPECT_EQ(FakeSecurity::calls[0], expected);
}

TEST_F(AccessCheckTest, EveryCheckCreatesItsOwnService) {
  auto caller = mts::CreateObject("Morvane.Test.AccessCaller");
  automation::Call(*caller, "Check");
  automation::Call(*caller, "Check");
  EXPECT_EQ(FakeSecurity::created, 2);
}

TEST_F(AccessCheckTest, RefusalReachesTheCallerUnchanged) {
  FakeSecurity::refuse = true;
  auto caller = mts::CreateObject("Morvane.Test.AccessCaller");
  try {
    automation::Call(*caller, "Check");
    FAIL() << "expected the refusal";
  } catch (const automation::Error& e) {
    EXPECT_EQ(e.Number(), 70);
    EXPECT_EQ(e.Source(), "QuenBase.SecurityInfo");
    EXPECT_EQ(e.Description(), "Permission denied");
  }
}

TEST_F(AccessCheckTest, WithoutObjectContextRaises91) {
  try {
    CheckUserAccess(AccessCaller::DataSource(), 155, 1, 2097152, "Morvane.VchTempSetUpdate");
    FAIL() << "expected 91";
  } catch (const automation::Error& e) {
    EXPECT_EQ(e.Number(), 91);
  }
  EXPECT_EQ(FakeSecurity::created, 0);
}

}  // namespace
}  // namespace morvane::support
