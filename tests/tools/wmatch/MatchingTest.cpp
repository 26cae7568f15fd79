// The matching against brute force: maximum total weight, never maximum
// cardinality, on many small random graphs.
#include "tools/wmatch/Matching.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/tools/wmatch/WmatchTestGraphs.h"

namespace pelvaro::wmatch {
namespace {

using testing::BestMatchingWeight;
using testing::MatchingWeight;
using testing::RandomGraph;

struct WeightRange {
  const char* name;
  std::int64_t min;
  std::int64_t max;
};

// Small ranges give many ties; the large ones probe the 64-bit arithmetic up
// to the weight limit of the graph file.
const WeightRange kRanges[] = {
    {"small, half negative", -20, 20},
    {"mostly negative", -100, 10},
    {"pairing-like", 900'000, 1'000'000},
    {"near the limit", kMaxAbsWeight - 1000, kMaxAbsWeight},
    {"whole range", -kMaxAbsWeight, kMaxAbsWeight},
};

TEST(MaxWeightMatching, EqualsBruteForceOnSmallRandomGraphs) {
  const double densities[] = {0.3, 0.6, 1.0};
  for (const WeightRange& range : kRanges) {
    for (double density : densities) {
      for (int n = 0; n <= 10; ++n) {
        for (std::uint32_t seed = 1; seed <= 6; ++seed) {
          Graph graph = RandomGraph(seed * 1000 + static_cast<std::uint32_t>(n), n, density,
                                    range.min, range.max);
          SCOPED_TRACE(std::string(range.name) + ", n=" + std::to_string(n) +
                       ", density=" + std::to_string(density) + ", seed=" + std::to_string(seed));
          std::vector<int> mates = MaxWeightMatching(graph);
          std::string problem;
          std::int64_t weight = MatchingWeight(graph, mates, problem);
          ASSERT_EQ(problem, "");
          EXPECT_EQ(weight, BestMatchingWeight(graph));
        }
      }
    }
  }
}

struct FixedCase {
  const char* name = "";
  Graph graph;
  std::vector<int> mates;
};

void PrintTo(const FixedCase& c, std::ostream* os) { *os << c.name; }

class MaxWeightMatchingFixed : public ::testing::TestWithParam<FixedCase> {};

TEST_P(MaxWeightMatchingFixed, Mates) {
  EXPECT_EQ(MaxWeightMatching(GetParam().graph), GetParam().mates);
}

// Built case by case: an optimising GCC 12 misreads one nested braced list
// of these as using uninitialised vectors.
std::vector<FixedCase> FixedCases() {
  std::vector<FixedCase> cases;
  auto add = [&](const char* name, int vertexCount, std::initializer_list<Edge> edges,
                 std::initializer_list<int> mates) {
    FixedCase& c = cases.emplace_back();
    c.name = name;
    c.graph.vertexCount = vertexCount;
    c.graph.edges.assign(edges.begin(), edges.end());
    c.mates.assign(mates.begin(), mates.end());
  };
  // Two edges would weigh 2; the middle edge alone weighs 3.
  add("WeightBeforeCardinality", 4, {{1, 2, 1}, {2, 3, 3}, {3, 4, 1}}, {0, 0, 3, 2, 0});
  add("NegativeEdgesStaySingle", 4, {{1, 2, -1}, {3, 4, -5}, {1, 4, 2}}, {0, 4, 0, 0, 1});
  add("OddVertexCountLeavesOneSingle", 3, {{1, 2, 10}, {1, 3, 10}, {2, 3, 11}}, {0, 0, 3, 2});
  add("NoVertices", 0, {}, {0});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, MaxWeightMatchingFixed, ::testing::ValuesIn(FixedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelvaro::wmatch
