// What the graph builder's tests share: the names of a graph's filters.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "converter/engine/graphwalk.h"

namespace tav {

// The names of the graph's filters, sorted.
inline std::vector<std::u16string> FilterNames(IGraphBuilder* graph) {
  std::vector<std::u16string> names;
  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph)) names.push_back(FilterName(f.Get()));
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tav
