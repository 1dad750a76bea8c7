// The figures the benchmark program prints: one row per measured figure, with the system's
// figure, the baseline's, their ratio, the target and whether it holds. Each group of figures
// runs its measurements (child processes, see bench_process.h) and returns its rows.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench_process.h"

namespace morvane::bench {

struct Context {
  bool quick = false;               // small sizes, targets not asserted
  int runs = 5;                     // measurements of each side; the median is reported
  std::filesystem::path work;       // a folder of this run's files
  std::filesystem::path schemaDb;   // an empty database of the schema and seed, to copy
  std::string morvaneExe;           // the `morvane` executable (for the HTTP figure)
};

struct FigureRow {
  std::string what;                 // what was measured
  std::string system;               // the system's figure, with its unit
  std::string baseline;             // the baseline's figure
  std::optional<double> ratio;      // system / baseline, when they compare
  std::string target;               // e.g. "≤ 2.0×", or "reported"
  std::optional<bool> holds;        // nothing in quick mode, for "reported" rows and skipped rows
  std::string note;                 // printed under the table
};

// Runs `runs` measurements of each side, alternating so that both meet the same machine load.
struct Sides {
  std::vector<ChildResult> system, baseline;
};
Sides MeasureSides(int runs, const std::vector<std::string>& systemArgs, const std::vector<std::string>& baselineArgs);

// The median of the key over the results.
double Median(const std::vector<ChildResult>& results, const std::string& key);
// The median peak resident size in KiB.
double MedianRss(const std::vector<ChildResult>& results);

// A row comparing system and baseline: ratio = system / baseline; holds when the ratio is at
// most (lowerIsBetter) or at least (otherwise) `limit`, and not in quick mode.
FigureRow Compare(const Context& ctx, std::string what, double system, double baseline, std::string unit,
                  double limit, bool lowerIsBetter);

// A note on the CPU time (every thread of the measured process) of the timed sections, which a
// busy machine disturbs less than the elapsed time: "<what>: CPU time 1.2 s vs 0.8 s (1.50×)".
std::string CpuNote(const std::string& what, const Sides& sides);

// "12.3 ms", "1.24 s", "85.2 MiB" ...
std::string FormatSeconds(double seconds);
std::string FormatKiB(double kib);
std::string FormatNumber(double value, int decimals);

std::vector<FigureRow> SqliteFigures(const Context& ctx);
std::vector<FigureRow> HttpFigures(const Context& ctx);
std::vector<FigureRow> OdbcFigures(const Context& ctx);

}  // namespace morvane::bench
