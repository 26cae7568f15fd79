// Maximum-weight matching of a parsed graph file, for the wmatch program and
// its tests. The implementation uses LEMON, whose headers are kept out of
// this header so that callers may be built with any language standard.
#pragma once

#include <vector>

#include "tools/wmatch/GraphFile.h"

namespace pelvaro::wmatch {

// A matching of maximum total weight (not of maximum cardinality): an edge of
// negative weight is never part of it. Returns mates indexed 1..vertexCount
// (entry 0 unused): the vertex matched to k, or 0 when k is unmatched.
std::vector<int> MaxWeightMatching(const Graph& graph);

}  // namespace pelvaro::wmatch
