// The current thread's resource loader: the object that the localised texts of a thread share
// (the Globals module's "ResLoader"). Each thread keeps its own slot from the first text it
// localises until a CParse of that thread ends (UnloadResLoader) or the thread ends; nothing is
// shared between threads and nothing is locked.
#pragma once

#include "platform/automation/dispatch.h"

namespace morvane::components {

// The thread's slot, holding nullptr until a loader is put in it; nullptr (no slot) once the
// thread's slot has been destroyed at thread exit, so that work done by later thread-exit or
// static destructors finds no loader rather than a destroyed one.
automation::DispatchPtr* ThreadResLoader() noexcept;

// Ends the current thread's loader: its "Unload" is called late-bound without arguments and the
// slot is cleared in any case, so that the next localised text creates a new loader. Never raises.
void UnloadResLoader() noexcept;

}  // namespace morvane::components
