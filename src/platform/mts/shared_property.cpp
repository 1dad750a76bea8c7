#include "platform/mts/shared_property.h"

#include <string>
#include <unordered_map>
#include <utility>

#include "platform/automation/registry.h"

namespace morvane::mts {

namespace errors = automation::errors;

using automation::DispatchTable;
using automation::ParamInfo;
using automation::TypeInfo;
using automation::VT_BOOL;
using automation::VT_BSTR;
using automation::VT_DISPATCH;
using automation::VT_I4;
using automation::VT_VARIANT;

namespace {

constexpr std::string_view kSource = SharedPropertyGroupManager::kProgId;

// A group of the process-wide store. A group created with release mode Process is held here
// until the process ends; one created with Standard is held only by its users and is gone (and
// may be created anew) once the last reference to it is released.
struct GroupEntry {
  std::shared_ptr<SharedPropertyGroup> held;  // set for release mode Process
  std::weak_ptr<SharedPropertyGroup> group;
  std::int32_t isolationMode = LockSetGet;
  std::int32_t releaseMode = Process;
};

struct GroupStore {
  std::mutex mutex;
  std::unordered_map<std::string, GroupEntry> groups;  // guarded by mutex; names compared exactly
};

// The process-wide store. Never destroyed: its values (object references included) live until
// the process ends and must not be torn down while other statics are being destroyed.
GroupStore& Store() {
  static GroupStore* store = new GroupStore;
  return *store;
}

// The type information of one of the manager's classes (without members).
TypeInfo SpmTypeInfo(std::string className, std::string interfaceName, std::string iid,
                     std::string progId = {}, std::string clsid = {}) {
  TypeInfo info;
  info.className = std::move(className);
  info.progId = std::move(progId);
  info.clsid = std::move(clsid);
  info.interfaceName = std::move(interfaceName);
  info.iid = std::move(iid);
  info.typeLibrary = "MTxSpm";
  return info;
}

ParamInfo Param(std::string name, automation::VarType type, bool byRef = false, bool optional = false) {
  ParamInfo p;
  p.name = std::move(name);
  p.type = type;
  p.byRef = byRef;
  p.optional = optional;
  return p;
}

void CheckMode(std::int32_t mode, const char* what) {
  if (mode != 0 && mode != 1)
    automation::Raise(errors::kInvalidProcedureCall, std::string(kSource),
                      std::string(what) + " must be 0 or 1, not " + std::to_string(mode));
}

template <class Key, class Map>
std::shared_ptr<SharedProperty> CreateIn(std::mutex& mutex, Map& map, const Key& key, bool* existed) {
  std::lock_guard lock(mutex);
  auto [it, inserted] = map.try_emplace(key);
  if (inserted) it->second = std::make_shared<SharedProperty>();
  if (existed) *existed = !inserted;
  return it->second;
}

template <class Key, class Map>
std::shared_ptr<SharedProperty> FindIn(std::mutex& mutex, const Map& map, const Key& key,
                                       const std::string& shown) {
  std::lock_guard lock(mutex);
  auto it = map.find(key);
  if (it == map.end())
    automation::Raise(errors::kSharedPropertyNotFound, std::string(kSource),
                      "the shared property group has no property " + shown);
  return it->second;
}

}  // namespace

// ---- SharedProperty -------------------------------------------------------------------------

Variant SharedProperty::Value() const {
  std::lock_guard lock(mutex_);
  return value_;
}

void SharedProperty::SetValue(Variant value) {
  Variant previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(value_, std::move(value));
  }
  // `previous` (possibly the last reference to an object) is released outside the lock.
}

const DispatchTable<SharedProperty>& SharedProperty::Table() {
  static const DispatchTable<SharedProperty> table =
      DispatchTable<SharedProperty>(SpmTypeInfo("SharedProperty", "ISharedProperty",
                                                                "{7C1E8A20-5B3D-4F6A-9E21-3D4B5C6A7F01}"))
          .Get("Value", 0, {}, VT_VARIANT, [](SharedProperty& self, std::span<Variant>) { return self.Value(); })
          .Put("Value", 0, {Param("Value", VT_VARIANT)}, [](SharedProperty& self, std::span<Variant> a) {
            self.SetValue(std::move(a[0]));
            return Variant();
          });
  return table;
}

// ---- SharedPropertyGroup --------------------------------------------------------------------

struct SharedPropertyGroup::Impl {
  mutable std::mutex mutex;
  // Names and positions are separate: a property created by name has no position.
  std::unordered_map<std::string, std::shared_ptr<SharedProperty>> byName;  // guarded by mutex
  std::unordered_map<std::int32_t, std::shared_ptr<SharedProperty>> byPosition;  // guarded by mutex
};

SharedPropertyGroup::SharedPropertyGroup() : impl_(std::make_unique<Impl>()) {}
SharedPropertyGroup::~SharedPropertyGroup() = default;

std::shared_ptr<SharedProperty> SharedPropertyGroup::CreateProperty(std::string_view name, bool* existed) {
  return CreateIn(impl_->mutex, impl_->byName, std::string(name), existed);
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::CreatePropertyByPosition(std::int32_t position, bool* existed) {
  return CreateIn(impl_->mutex, impl_->byPosition, position, existed);
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::Property(std::string_view name) const {
  return FindIn(impl_->mutex, impl_->byName, std::string(name), "named \"" + std::string(name) + "\"");
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::PropertyByPosition(std::int32_t position) const {
  return FindIn(impl_->mutex, impl_->byPosition, position, "at position " + std::to_string(position));
}

const DispatchTable<SharedPropertyGroup>& SharedPropertyGroup::Table() {
  using Self = SharedPropertyGroup;
  static const DispatchTable<Self> table =
      DispatchTable<Self>(SpmTypeInfo("SharedPropertyGroup", "ISharedPropertyGroup",
                                      "{7C1E8A20-5B3D-4F6A-9E21-3D4B5C6A7F02}"))
          .Method("CreatePropertyByPosition", 1, {Param("Index", VT_I4), Param("fExists", VT_BOOL, true, true)},
                  VT_DISPATCH,
                  [](Self& self, std::span<Variant> a) {
                    bool existed = false;
                    automation::DispatchPtr p = self.CreatePropertyByPosition(a[0].i4(), &existed);
                    a[1] = Variant(existed);
                    return Variant(std::move(p));
                  })
          .Get("PropertyByPosition", 2, {Param("Index", VT_I4)}, VT_DISPATCH,
               [](Self& self, std::span<Variant> a) {
                 return Variant(automation::DispatchPtr(self.PropertyByPosition(a[0].i4())));
               })
          .Method("CreateProperty", 3, {Param("Name", VT_BSTR), Param("fExists", VT_BOOL, true, true)}, VT_DISPATCH,
                  [](Self& self, std::span<Variant> a) {
                    bool existed = false;
                    automation::DispatchPtr p = self.CreateProperty(a[0].text(), &existed);
                    a[1] = Variant(existed);
                    return Variant(std::move(p));
                  })
          .Get("Property", 4, {Param("Name", VT_BSTR)}, VT_DISPATCH, [](Self& self, std::span<Variant> a) {
            return Variant(automation::DispatchPtr(self.Property(a[0].text())));
          });
  return table;
}

// ---- SharedPropertyGroupManager -------------------------------------------------------------

std::shared_ptr<SharedPropertyGroup> SharedPropertyGroupManager::CreatePropertyGroup(std::string_view name,
                                                                                     std::int32_t& isolationMode,
                                                                                     std::int32_t& releaseMode,
                                                                                     bool* existed) {
  CheckMode(isolationMode, "the isolation mode");
  CheckMode(releaseMode, "the release mode");
  GroupStore& store = Store();
  std::lock_guard lock(store.mutex);
  auto [it, inserted] = store.groups.try_emplace(std::string(name));
  GroupEntry& entry = it->second;
  if (!inserted) {
    if (std::shared_ptr<SharedPropertyGroup> group = entry.group.lock()) {
      isolationMode = entry.isolationMode;
      releaseMode = entry.releaseMode;
      if (existed) *existed = true;
      return group;
    }
  }
  auto group = std::make_shared<SharedPropertyGroup>();
  entry = GroupEntry{releaseMode == Process ? group : nullptr, group, isolationMode, releaseMode};
  if (existed) *existed = false;
  return group;
}

std::shared_ptr<SharedPropertyGroup> SharedPropertyGroupManager::Group(std::string_view name) const {
  GroupStore& store = Store();
  std::lock_guard lock(store.mutex);
  auto it = store.groups.find(std::string(name));
  std::shared_ptr<SharedPropertyGroup> group = it == store.groups.end() ? nullptr : it->second.group.lock();
  if (!group)
    automation::Raise(errors::kSharedPropertyNotFound, std::string(kSource),
                      "there is no shared property group named \"" + std::string(name) + "\"");
  return group;
}

const DispatchTable<SharedPropertyGroupManager>& SharedPropertyGroupManager::Table() {
  using Self = SharedPropertyGroupManager;
  static const DispatchTable<Self> table =
      DispatchTable<Self>(SpmTypeInfo("SharedPropertyGroupManager", "ISharedPropertyGroupManager",
                                      "{7C1E8A20-5B3D-4F6A-9E21-3D4B5C6A7F03}", std::string(kProgId),
                                      "{7C1E8A20-5B3D-4F6A-9E21-3D4B5C6A7F10}"))
          .Method("CreatePropertyGroup", 1,
                  {Param("Name", VT_BSTR),
                   Param("dwIsoMode", VT_I4, true),
                   Param("dwRelMode", VT_I4, true),
                   Param("fExists", VT_BOOL, true, true)},
                  VT_DISPATCH,
                  [](Self& self, std::span<Variant> a) {
                    std::int32_t isolation = a[1].i4();
                    std::int32_t release = a[2].i4();
                    bool existed = false;
                    automation::DispatchPtr group = self.CreatePropertyGroup(a[0].text(), isolation, release, &existed);
                    a[1] = Variant(isolation);
                    a[2] = Variant(release);
                    a[3] = Variant(existed);
                    return Variant(std::move(group));
                  })
          .Get("Group", 2, {Param("Name", VT_BSTR)}, VT_DISPATCH, [](Self& self, std::span<Variant> a) {
            return Variant(automation::DispatchPtr(self.Group(a[0].text())));
          });
  return table;
}

void RegisterRuntimeClasses() {
  automation::Registry::Instance().Register(SharedPropertyGroupManager::Table().info(), [] {
    return automation::DispatchPtr(std::make_shared<SharedPropertyGroupManager>());
  });
}

}  // namespace morvane::mts
