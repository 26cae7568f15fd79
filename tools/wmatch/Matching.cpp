#include "tools/wmatch/Matching.h"

#include <cstdint>

#include <lemon/matching.h>
#include <lemon/smart_graph.h>

namespace pelvaro::wmatch {

std::vector<int> MaxWeightMatching(const Graph& graph) {
  using lemon::SmartGraph;
  SmartGraph g;
  std::vector<SmartGraph::Node> nodes;
  nodes.reserve(static_cast<std::size_t>(graph.vertexCount) + 1);
  nodes.push_back(lemon::INVALID);  // vertex numbers are 1-based
  g.reserveNode(graph.vertexCount);
  for (int k = 1; k <= graph.vertexCount; ++k) nodes.push_back(g.addNode());

  // An edge of negative weight never belongs to a maximum-weight matching
  // (dropping it from a matching raises the total), so it is left out of the
  // graph. The weight bound of the graph file keeps LEMON's integer duals,
  // scaled by MaxWeightedMatching::dualScale, far from overflow.
  SmartGraph::EdgeMap<std::int64_t> weights(g);
  for (const Edge& edge : graph.edges) {
    if (edge.weight < 0) continue;
    SmartGraph::Edge e = g.addEdge(nodes[edge.u], nodes[edge.v]);
    weights.set(e, edge.weight);
  }

  lemon::MaxWeightedMatching<SmartGraph, SmartGraph::EdgeMap<std::int64_t>> matching(g, weights);
  matching.run();

  std::vector<int> mates(nodes.size(), 0);
  for (int k = 1; k <= graph.vertexCount; ++k) {
    SmartGraph::Node mate = matching.mate(nodes[k]);
    // SmartGraph numbers nodes 0, 1, 2, ... in the order they were added.
    if (mate != lemon::INVALID) mates[k] = g.id(mate) + 1;
  }
  return mates;
}

}  // namespace pelvaro::wmatch
