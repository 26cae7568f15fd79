#include "tests/tools/wmatch/WmatchTestGraphs.h"

#include <algorithm>
#include <optional>
#include <random>

namespace pelvaro::wmatch::testing {

namespace {

using WeightMatrix = std::vector<std::vector<std::optional<std::int64_t>>>;

WeightMatrix Matrix(const Graph& graph) {
  const auto size = static_cast<std::size_t>(graph.vertexCount) + 1;
  WeightMatrix w(size, std::vector<std::optional<std::int64_t>>(size));
  for (const Edge& e : graph.edges) {
    w[e.u][e.v] = e.weight;
    w[e.v][e.u] = e.weight;
  }
  return w;
}

// Best weight over the vertices not in usedMask: the lowest free vertex stays
// single or is matched to some later free neighbour.
std::int64_t Best(const WeightMatrix& w, int n, unsigned usedMask) {
  int first = 1;
  while (first <= n && (usedMask & (1u << first)) != 0) ++first;
  if (first > n) return 0;
  unsigned withFirst = usedMask | (1u << first);
  std::int64_t best = Best(w, n, withFirst);
  for (int other = first + 1; other <= n; ++other) {
    if ((usedMask & (1u << other)) != 0 || !w[first][other]) continue;
    best = std::max(best, *w[first][other] + Best(w, n, withFirst | (1u << other)));
  }
  return best;
}

}  // namespace

Graph RandomGraph(std::uint32_t seed, int n, double density, std::int64_t minWeight,
                  std::int64_t maxWeight) {
  std::mt19937_64 random(seed);
  std::bernoulli_distribution isEdge(density);
  std::uniform_int_distribution<std::int64_t> weight(minWeight, maxWeight);
  Graph graph;
  graph.vertexCount = n;
  for (int u = 1; u <= n; ++u) {
    for (int v = u + 1; v <= n; ++v) {
      if (isEdge(random)) graph.edges.push_back(Edge{u, v, weight(random)});
    }
  }
  return graph;
}

std::string GraphFileText(const Graph& graph) {
  WeightMatrix w = Matrix(graph);
  const int n = graph.vertexCount;
  std::string text = std::to_string(n) + " " + std::to_string(graph.edges.size()) + " U\r\n";
  for (int v = 1; v <= n; ++v) {
    int degree = 0;
    for (int u = 1; u <= n; ++u) degree += w[v][u] ? 1 : 0;
    text += std::to_string(degree) + " " + std::to_string(v) + " 0 0\r\n";
    for (int u = 1; u <= n; ++u) {
      if (w[v][u]) text += std::to_string(u) + " " + std::to_string(*w[v][u]) + "\r\n";
    }
  }
  return text;
}

std::int64_t BestMatchingWeight(const Graph& graph) {
  return Best(Matrix(graph), graph.vertexCount, 0);
}

std::int64_t MatchingWeight(const Graph& graph, const std::vector<int>& mates,
                            std::string& problem) {
  const int n = graph.vertexCount;
  if (mates.size() != static_cast<std::size_t>(n) + 1) {
    problem = "expected " + std::to_string(n) + " mates, got " + std::to_string(mates.size() - 1);
    return 0;
  }
  WeightMatrix w = Matrix(graph);
  std::int64_t total = 0;
  for (int k = 1; k <= n; ++k) {
    int mate = mates[k];
    if (mate == 0) continue;
    if (mate < 0 || mate > n || mates[mate] != k) {
      problem = "vertex " + std::to_string(k) + " has mate " + std::to_string(mate) +
                " that is not matched back";
      return 0;
    }
    if (!w[k][mate]) {
      problem = "vertex " + std::to_string(k) + " is matched to " + std::to_string(mate) +
                " along no edge";
      return 0;
    }
    if (k < mate) total += *w[k][mate];
  }
  return total;
}

}  // namespace pelvaro::wmatch::testing
