#include "test_objects.h"

#include <atomic>
#include <map>
#include <mutex>

#include "platform/automation/dispatch_table.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"
#include "platform/db/connection.h"

namespace morvane::mts::testing {

using automation::DispatchTable;
using automation::TransactionAttribute;
using automation::Variant;

namespace {

using Body = std::function<Variant()>;

struct Bodies {
  std::mutex mutex;
  std::map<std::string, Body> byKey;  // guarded by mutex
  std::atomic<long> next{0};
};

Bodies& TheBodies() {
  static Bodies bodies;
  return bodies;
}

Body TakeBody(const std::string& key) {
  Bodies& b = TheBodies();
  std::lock_guard lock(b.mutex);
  auto it = b.byKey.find(key);
  if (it == b.byKey.end()) return [] { return Variant(); };
  return it->second;
}

template <TransactionAttribute Attribute>
class Probe : public automation::DispatchObject<Probe<Attribute>> {
 public:
  static const DispatchTable<Probe>& Table() {
    static const DispatchTable<Probe> table =
        DispatchTable<Probe>(Info()).Method("Run", 1, {Key()}, automation::VT_VARIANT,
                                            [](Probe&, std::span<Variant> a) { return TakeBody(a[0].text())(); });
    return table;
  }

 private:
  static automation::ParamInfo Key() {
    automation::ParamInfo p;
    p.name = "sKey";
    p.type = automation::VT_BSTR;
    return p;
  }
  static automation::TypeInfo Info() {
    automation::TypeInfo info;
    switch (Attribute) {
      case TransactionAttribute::Required: info.className = "Required"; break;
      case TransactionAttribute::Supported: info.className = "Supported"; break;
      case TransactionAttribute::NotSupported: info.className = "NotSupported"; break;
    }
    info.progId = "MtsTest." + info.className;
    info.clsid = "{00000000-0000-0000-0000-00000000000" + std::to_string(static_cast<int>(Attribute)) + "}";
    info.interfaceName = "_" + info.className;
    info.typeLibrary = "MtsTest";
    info.transaction = Attribute;
    return info;
  }
};

template <TransactionAttribute Attribute>
void Register() {
  automation::Registry::Instance().Register(Probe<Attribute>::Table().info(),
                                            [] { return std::make_shared<Probe<Attribute>>(); });
}

}  // namespace

void RegisterTestClasses() {
  Register<TransactionAttribute::Required>();
  Register<TransactionAttribute::Supported>();
  Register<TransactionAttribute::NotSupported>();
}

Variant RunReturning(automation::Dispatch& obj, std::function<Variant()> body) {
  Bodies& b = TheBodies();
  const std::string key = "body" + std::to_string(b.next.fetch_add(1));
  {
    std::lock_guard lock(b.mutex);
    b.byKey.emplace(key, std::move(body));
  }
  struct Forget {
    const std::string& key;
    ~Forget() {
      std::lock_guard lock(TheBodies().mutex);
      TheBodies().byKey.erase(key);
    }
  } forget{key};
  return automation::Call(obj, "Run", key);
}

void RunIn(automation::Dispatch& obj, std::function<void()> body) {
  RunReturning(obj, [body = std::move(body)] {
    body();
    return Variant();
  });
}

void Exec(const std::string& connectionString, const std::string& sql) {
  auto connection = db::Connection::New();
  connection->Open(connectionString);
  connection->Execute(sql);
  connection->Close();
}

}  // namespace morvane::mts::testing
