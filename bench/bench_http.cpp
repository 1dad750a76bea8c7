#include "bench_children.h"
#include "bench_figures.h"

namespace morvane::bench {

void AddHttpChildren(std::map<std::string, ChildMain>&) {}

std::vector<FigureRow> HttpFigures(const Context&) { return {}; }

}  // namespace morvane::bench
