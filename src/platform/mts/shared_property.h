// The shared property group manager: process-wide groups of named or numbered properties whose
// values are Variants (object references included), shared by every thread and object of the
// process. Creating a group or a property tells whether it existed; each read or write of one
// property is atomic (isolation LockSetGet). Groups live until the process ends (release mode
// Process); every manager object sees the same groups.
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
  // An existing property; raises an error (number 0x80110820, a property that does not exist)
  // when there is none.
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
  // An existing group; raises when there is none.
  std::shared_ptr<SharedPropertyGroup> Group(std::string_view name) const;
};

// Registers the manager's class (and the runtime's other classes) in the registry.
void RegisterRuntimeClasses();

}  // namespace morvane::mts
