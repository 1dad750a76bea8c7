// The work each measurement process does ("morvane_bench --child NAME ARGS..."): for every figure
// one function for the system and one for its hand-written baseline. Each does its setup and a
// warm-up, times only the work being compared, and reports "seconds" (and what else it counts)
// through Report. A failure throws; the process then exits with status 1.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace morvane::bench {

using ChildArgs = std::vector<std::string>;
using ChildMain = std::function<void(const ChildArgs&)>;

// Every child function by name ("append-system", "append-baseline", ...).
const std::map<std::string, ChildMain>& Children();

// The children of each group, added to Children().
void AddSqliteChildren(std::map<std::string, ChildMain>& children);
void AddHttpChildren(std::map<std::string, ChildMain>& children);
void AddOdbcChildren(std::map<std::string, ChildMain>& children);

}  // namespace morvane::bench
