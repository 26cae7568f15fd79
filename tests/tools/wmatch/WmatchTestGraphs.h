// Graphs for the wmatch tests: random small graphs from fixed seeds, their
// text in the pairing engine's graph file layout, and a brute-force optimum
// to hold the matching against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/wmatch/GraphFile.h"

namespace pelvaro::wmatch::testing {

// A graph on n vertices where each pair is an edge with the given
// probability, with weights uniform in [minWeight, maxWeight].
Graph RandomGraph(std::uint32_t seed, int n, double density, std::int64_t minWeight,
                  std::int64_t maxWeight);

// The graph file text: header, then each vertex's block with its neighbours
// ascending, every edge listed from both ends; lines end in CR LF.
std::string GraphFileText(const Graph& graph);

// The largest total weight any matching of the graph reaches, by trying them
// all (fine up to a dozen vertices).
std::int64_t BestMatchingWeight(const Graph& graph);

// Checks that mates (1-based, 0 = unmatched) is a matching of the graph's
// edges; returns its total weight, or sets problem and returns 0.
std::int64_t MatchingWeight(const Graph& graph, const std::vector<int>& mates,
                            std::string& problem);

}  // namespace pelvaro::wmatch::testing
