// The shared property group manager: process-wide groups of named or numbered properties whose
// values are Variants (object references included), shared by every thread and object of the
// process. Creating a group or a property tells whether it existed; each read or write of one
// property is atomic (isolation LockSetGet). Groups of release mode Process live until the
// process ends; a group of release mode Standard lives while some reference to it is held. Every
// manager object sees the same groups. Group and property names are compared exactly (letter
// case matters); names and positions of one group are separate sets of properties. Isolation
// LockMethod is recorded (and written back to later creators) but holds no lock across a method:
// such a group behaves as LockSetGet.
//
// ProgID "MTxSpm.SharedPropertyGroupManager.1". All members are thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/automation/dispatch_table.h"

namespace morvane::mts {

using automation::Variant;

// The error number of a group or property that does not exist (Group, Property,
// PropertyByPosition).

enum LockMode : std::int32_t { LockSetGet = 0, LockMethod = 1 };
enum ReleaseMode : std::int32_t { Standard = 0, Process = 1 };

class SharedProperty : public automation::DispatchObject<SharedProperty> {
 public:
  static const automation::DispatchTable<SharedProperty>& Table();
  // A new property reads as Empty until written.
  Variant Value() const;
  void SetValue(Variant value);

 private:
  mutable std::mutex mutex_;
  Variant value_;  // guarded by mutex_
};

class SharedPropertyGroup : public automation::DispatchObject<SharedPropertyGroup> {
 public:
  static const automation::DispatchTable<SharedPropertyGroup>& Table();
  ~SharedPropertyGroup() override;

  // Creates the property or opens the existing one; *existed tells which.
  std::shared_ptr<SharedProperty> CreateProperty(std::string_view name, bool* existed = nullptr);
  std::shared_ptr<SharedProperty> CreatePropertyByPosition(std::int32_t position, bool* existed = nullptr);
  // An existing property; raises kSharedPropertyNotFound when there is none.
  std::shared_ptr<SharedProperty> Property(std::string_view name) const;
  std::shared_ptr<SharedProperty> PropertyByPosition(std::int32_t position) const;

  SharedPropertyGroup();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class SharedPropertyGroupManager : public automation::DispatchObject<SharedPropertyGroupManager> {
 public:
  static const automation::DispatchTable<SharedPropertyGroupManager>& Table();
  static constexpr std::string_view kProgId = "MTxSpm.SharedPropertyGroupManager.1";

  // Creates the group or opens the existing one (the modes of an existing group are written back
  // to the arguments); *existed tells which. Exactly one of several racing creators is told that
  // the group did not exist.
  std::shared_ptr<SharedPropertyGroup> CreatePropertyGroup(std::string_view name, std::int32_t& isolationMode,
                                                           std::int32_t& releaseMode, bool* existed = nullptr);
  // An existing group; raises kSharedPropertyNotFound when there is none (or when a group of
  // release mode Standard has been released by all its users).
  std::shared_ptr<SharedPropertyGroup> Group(std::string_view name) const;
};

// Registers the manager's class (and the runtime's other classes) in the registry.
void RegisterRuntimeClasses();

}  // namespace morvane::mts
