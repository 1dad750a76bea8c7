// Test classes for the runtime: one small dispatch class per transaction attribute, registered as
// "MtsTest.Required", "MtsTest.Supported" and "MtsTest.NotSupported". Their one method, Run,
// runs a body that the test gives, so each test writes what the intercepted call does:
//
//   auto obj = mts::CreateObject(kRequired);
//   RunIn(*obj, [&] { Exec(cs, "insert ..."); mts::RequireObjectContext().SetAbort(); });
//
// Bodies are kept in a process-wide table for the duration of the call (safe from any thread).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/automation/dispatch.h"

namespace morvane::mts::testing {

inline constexpr std::string_view kRequired = "MtsTest.Required";
inline constexpr std::string_view kSupported = "MtsTest.Supported";
inline constexpr std::string_view kNotSupported = "MtsTest.NotSupported";

// Registers the three classes (again); call it from each fixture.
void RegisterTestClasses();

// Calls obj.Run by late binding with the body; RunIn's call returns Empty, RunReturning's the
// body's result.
void RunIn(automation::Dispatch& obj, std::function<void()> body);
automation::Variant RunReturning(automation::Dispatch& obj, std::function<automation::Variant()> body);

// Opens a db::Connection on the string, runs the statement and closes it, as the called code does.
void Exec(const std::string& connectionString, const std::string& sql);

}  // namespace morvane::mts::testing
