#include "bench_children.h"
#include "bench_figures.h"

namespace morvane::bench {

void AddOdbcChildren(std::map<std::string, ChildMain>&) {}

std::vector<FigureRow> OdbcFigures(const Context&) { return {}; }

}  // namespace morvane::bench
