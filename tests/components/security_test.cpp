#include "components/security/security_info.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/db/pool.h"
#include "platform/mts/runtime.h"
#include "support/strings.h"
#include "testing/service_fixture.h"

namespace morvane::components {

namespace errors = automation::errors;
namespace {

using automation::Variant;
using morvane::testing::ErrorOf;

constexpr std::int32_t kChangeRight = 2097152;  // 0x00200000, what the changes ask for
constexpr const char* kComponent = "Morvane.VchTempSetUpdate";

class SecurityService : public morvane::testing::ServiceFixture {
 protected:
  void TearDown() override { db::ConnectionPool::Instance().Clear(); }

  // Calls AccessCheck the way the system does: created through the runtime, called by name with
  // the numbers as Longs and the flag True.
  Variant Check(const std::string& props, std::int32_t type, std::int32_t id, std::int32_t access) {
    auto service = mts::CreateObject(strings::kSecurityServiceProgId);
    return automation::Call(*service, "AccessCheck", props, type, id, access, true, kComponent);
  }
};

TEST_F(SecurityService, TheAdministratorMayChangeTheSettings) {
  Variant allowed = Check(Dsn("chs", 1), 155, 1, kChangeRight);
  ASSERT_EQ(allowed.vt(), automation::VT_BOOL);
  EXPECT_TRUE(allowed.boolean());
  // Inside a caller's transaction too (the service then reads through the enlisted connection).
  mts::TransactionScope tx;
  EXPECT_TRUE(Check(Dsn("en", 1), 155, 1, kChangeRight).boolean());
  tx.Commit();
}

TEST_F(SecurityService, RefusalsRaise70WithAReadableText) {
  Exec("INSERT INTO t_AccessRight VALUES (3, 155, 1, 1)");
  Exec("INSERT INTO t_AccessRight VALUES (4, 155, 1, 2097153)");
  struct Case {
    const char* name;
    int user;
    std::int32_t type, id, access;
    const char* missing;  // the right the text must name
  } cases[] = {
      {"user without rows", 2, 155, 1, kChangeRight, "0x00200000"},
      {"user with another bit", 3, 155, 1, kChangeRight, "0x00200000"},
      {"only one of two bits missing", 4, 155, 1, 0x00600000, "0x00400000"},
      {"another object identifier", 1, 155, 2, kChangeRight, "0x00200000"},
      {"another object type", 1, 156, 1, kChangeRight, "0x00200000"},
  };
  for (const auto& c : cases) {
    automation::Error e = ErrorOf([&] { Check(Dsn("chs", c.user), c.type, c.id, c.access); });
    EXPECT_EQ(e.Number(), errors::kPermissionDenied) << c.name;
    EXPECT_EQ(e.Source(), "QuenBase.SecurityInfo") << c.name;
    const std::string& text = e.Description();
    for (const std::string& part : {"user " + std::to_string(c.user) + " (tester)", std::string(c.missing),
                                    "object type " + std::to_string(c.type), "object " + std::to_string(c.id),
                                    std::string(kComponent)})
      EXPECT_NE(text.find(part), std::string::npos) << c.name << ": \"" << part << "\" not in: " << text;
  }
}

TEST_F(SecurityService, EveryRequestedBitMustBeHeld) {
  // Masks may be stored signed or unsigned; both hold bit 31.
  Exec("INSERT INTO t_AccessRight VALUES (5, 155, 1, 4294967295)");
  Exec("INSERT INTO t_AccessRight VALUES (6, 155, 1, 2097152)");
  SecurityInfo service;
  struct Case {
    int user;
    std::int32_t access;
    bool allowed;
  } cases[] = {
      {1, kChangeRight, true},         {1, -1, true},          {5, INT32_MIN, true}, {5, -1, true},
      {6, kChangeRight, true},         {6, kChangeRight | 1, false}, {6, 0, true}, {2, 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(service.AccessCheck(Dsn("chs", c.user), 155, 1, c.access, false, kComponent), c.allowed)
        << "user " << c.user << " access " << c.access;
}

TEST_F(SecurityService, ADescriptionWithoutAUserOrConnectionIsAnError) {
  SecurityInfo service;
  struct Case {
    const char* name;
    std::string props;
    std::int32_t number;
  } cases[] = {
      {"no UserID", "ConnectString={" + ConnectString() + "};LANGUAGE=chs", errors::kInvalidProcedureCall},
      {"UserID not a number", "ConnectString={" + ConnectString() + "};UserID=admin",
       errors::kTypeMismatch},
      {"no ConnectString", "UserID=1;LANGUAGE=chs", errors::kInvalidProcedureCall},
  };
  for (const auto& c : cases) {
    automation::Error e = ErrorOf([&] { service.AccessCheck(c.props, 155, 1, kChangeRight, true, kComponent); });
    EXPECT_EQ(e.Number(), c.number) << c.name << ": " << e.Description();
  }
}

TEST_F(SecurityService, ADatabaseWithoutTheRightsTableFailsRatherThanAllows) {
  Exec("DROP TABLE t_AccessRight");
  automation::Error e = ErrorOf([&] { Check(Dsn("chs", 1), 155, 1, kChangeRight); });
  EXPECT_NE(e.Number(), 0);
  EXPECT_NE(e.Number(), errors::kPermissionDenied);
  EXPECT_NE(e.Description().find("t_AccessRight"), std::string::npos) << e.Description();
}

TEST(SecurityServiceRegistration, RegisteredAsSupported) {
  RegisterSecurityService();
  auto reg = automation::Registry::Instance().Find("QuenBase.SecurityInfo");
  ASSERT_TRUE(reg.has_value());
  EXPECT_EQ(reg->info->transaction, automation::TransactionAttribute::Supported);
  const automation::MemberInfo* m = reg->info->Find("AccessCheck", automation::InvokeKind::Method);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->params.size(), 6u);
  // Props by value; the three numbers and the component name by reference.
  const bool byRef[] = {false, true, true, true, false, true};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(m->params[i].byRef, byRef[i]) << m->params[i].name;
}

}  // namespace
}  // namespace morvane::components
