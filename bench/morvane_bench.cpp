// morvane_bench: measures the component against hand-written baselines doing the same database
// work in the same run, and prints one row per figure (see bench_figures.h).
//
//   morvane_bench [--quick] [--runs N] [--only sqlite,http,odbc]
//
// --quick uses small sizes and asserts no target (CI runs it so that the benchmarks keep
// working). Every measurement runs in a child process of its own: the program started again as
// "morvane_bench --child NAME ARGS...".
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bench_children.h"
#include "bench_data.h"
#include "bench_figures.h"

namespace morvane::bench {

const std::map<std::string, ChildMain>& Children() {
  static const std::map<std::string, ChildMain> children = [] {
    std::map<std::string, ChildMain> c;
    AddSqliteChildren(c);
    AddHttpChildren(c);
    AddOdbcChildren(c);
    return c;
  }();
  return children;
}

Sides MeasureSides(int runs, const std::vector<std::string>& systemArgs, const std::vector<std::string>& baselineArgs) {
  Sides sides;
  for (int i = 0; i < runs; ++i) {
    // Alternating the order as well spreads a slow moment of the machine over both sides.
    if (i % 2 == 0) {
      sides.system.push_back(RunChild(systemArgs));
      sides.baseline.push_back(RunChild(baselineArgs));
    } else {
      sides.baseline.push_back(RunChild(baselineArgs));
      sides.system.push_back(RunChild(systemArgs));
    }
  }
  return sides;
}

namespace {

double MedianOf(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

double Median(const std::vector<ChildResult>& results, const std::string& key) {
  std::vector<double> values;
  for (const ChildResult& r : results) values.push_back(r.Number(key));
  return MedianOf(values);
}

double MedianRss(const std::vector<ChildResult>& results) {
  std::vector<double> values;
  for (const ChildResult& r : results) values.push_back(static_cast<double>(r.maxRssKiB));
  return MedianOf(values);
}

std::string FormatNumber(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  if (decimals != 0) return text;
  // Thousands separated by commas: 90,000.
  const std::string digits = text;
  const std::size_t sign = !digits.empty() && digits[0] == '-' ? 1 : 0;
  std::string s = digits.substr(0, sign);
  for (std::size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0) s += ',';
    s += digits[i];
  }
  return s;
}

std::string FormatSeconds(double seconds) {
  if (seconds < 1e-3) return FormatNumber(seconds * 1e6, 1) + " µs";
  if (seconds < 1.0) return FormatNumber(seconds * 1e3, 1) + " ms";
  return FormatNumber(seconds, 2) + " s";
}

std::string FormatKiB(double kib) { return FormatNumber(kib / 1024.0, 1) + " MiB"; }

FigureRow Compare(const Context& ctx, std::string what, double system, double baseline, std::string unit, double limit,
                  bool lowerIsBetter) {
  FigureRow row;
  row.what = std::move(what);
  auto format = [&unit](double v) {
    if (unit == "s") return FormatSeconds(v);
    if (unit == "KiB") return FormatKiB(v);
    return FormatNumber(v, 1) + " " + unit;
  };
  row.system = format(system);
  row.baseline = format(baseline);
  row.ratio = system / baseline;
  row.target = (lowerIsBetter ? "≤ " : "≥ ") + FormatNumber(limit, 1) + "×";
  if (!ctx.quick) row.holds = lowerIsBetter ? *row.ratio <= limit : *row.ratio >= limit;
  return row;
}

std::string CpuNote(const std::string& what, const Sides& sides) {
  const double system = Median(sides.system, "cpu_seconds");
  const double baseline = Median(sides.baseline, "cpu_seconds");
  return what + ": CPU time " + FormatSeconds(system) + " vs " + FormatSeconds(baseline) + " (" +
         FormatNumber(system / baseline, 2) + "×)";
}

namespace {

struct Options {
  bool quick = false;
  int runs = 0;  // 0: the mode's default
  std::vector<std::string> groups = {"sqlite", "http", "odbc"};
};

void Usage(std::ostream& out) {
  out << "usage: morvane_bench [--quick] [--runs N] [--only sqlite,http,odbc]\n"
         "  --quick   small sizes, one run per side, no target asserted (for CI)\n"
         "  --runs N  measurements per side (default 5, quick 1); the median is reported\n"
         "  --only    the groups of figures to run (default all)\n";
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string MachineLine() {
  utsname u{};
  ::uname(&u);
  double load[3] = {0, 0, 0};
  ::getloadavg(load, 3);
  char text[256];
  std::snprintf(text, sizeof text, "%s %s, %ld processors online, load average %.2f", u.sysname, u.machine,
                ::sysconf(_SC_NPROCESSORS_ONLN), load[0]);
  return text;
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  return text;
}

void PrintTable(const Context& ctx, const std::vector<FigureRow>& rows) {
  std::cout << "\n| figure | system | baseline | ratio | target | holds |\n"
               "|---|---|---|---|---|---|\n";
  for (const FigureRow& r : rows) {
    const std::string ratio = r.ratio ? FormatNumber(*r.ratio, 2) + "×" : "—";
    const std::string holds = r.holds ? (*r.holds ? "yes" : "**no**") : (ctx.quick && r.ratio ? "(quick)" : "—");
    std::cout << "| " << r.what << " | " << r.system << " | " << r.baseline << " | " << ratio << " | " << r.target
              << " | " << holds << " |\n";
  }
  bool first = true;
  for (const FigureRow& r : rows) {
    if (r.note.empty()) continue;
    if (first) std::cout << "\n";
    first = false;
    std::cout << "- " << r.note << "\n";
  }
  std::cout.flush();
}

int RunChildMain(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "morvane_bench --child NAME ARGS...\n";
    return 2;
  }
  const auto& children = Children();
  auto it = children.find(argv[2]);
  if (it == children.end()) {
    std::cerr << "morvane_bench: no measurement named " << argv[2] << "\n";
    return 2;
  }
  try {
    it->second(ChildArgs(argv + 3, argv + argc));
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "morvane_bench --child " << argv[2] << ": " << e.what() << "\n";
    return 1;
  }
}

int RunMain(const Options& options) {
  Context ctx;
  ctx.quick = options.quick;
  ctx.runs = options.runs > 0 ? options.runs : (options.quick ? 1 : 5);
  ctx.morvaneExe = MORVANE_EXE;

  std::string pattern = (std::filesystem::temp_directory_path() / "morvane-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  ctx.work = pattern;
  struct Cleanup {
    std::filesystem::path dir;
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  } cleanup{ctx.work};

  std::cout << "morvane_bench " << (ctx.quick ? "--quick" : "(full)") << ", " << ctx.runs
            << " run(s) per side, median reported; " << Today() << "\n"
            << MachineLine() << "; SQLite " << sqlite3_libversion() << "\n";
  std::cout.flush();

  int status = 0;
  std::vector<FigureRow> rows;
  auto wanted = [&options](const std::string& group) {
    return std::find(options.groups.begin(), options.groups.end(), group) != options.groups.end();
  };
  auto run = [&](const std::string& group, auto figures) {
    if (!wanted(group)) return;
    try {
      std::vector<FigureRow> more = figures(ctx);
      rows.insert(rows.end(), more.begin(), more.end());
    } catch (const std::exception& e) {
      std::cerr << "morvane_bench: the " << group << " figures failed: " << e.what() << "\n";
      status = 1;
    }
  };
  try {
    ctx.schemaDb = ctx.work / "schema.db";
    CreateSchemaDatabase(ctx.schemaDb);
  } catch (const std::exception& e) {
    std::cerr << "morvane_bench: cannot create the database: " << e.what() << "\n";
    return 1;
  }
  run("sqlite", SqliteFigures);
  run("http", HttpFigures);
  run("odbc", OdbcFigures);
  PrintTable(ctx, rows);
  return status;
}

}  // namespace

}  // namespace morvane::bench

int main(int argc, char** argv) {
  using namespace morvane::bench;
  if (argc >= 2 && std::string(argv[1]) == "--child") return RunChildMain(argc, argv);

  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--runs" && i + 1 < argc) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--only" && i + 1 < argc) {
      options.groups = SplitCommas(argv[++i]);
    } else if (arg == "--help" || arg == "-h") {
      Usage(std::cout);
      return 0;
    } else {
      Usage(std::cerr);
      return 2;
    }
  }
  return RunMain(options);
}
