// The graph file parser: the layouts it accepts and the faults it names.
#include "tools/wmatch/GraphFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/tools/wmatch/WmatchMalformedCases.h"

namespace pelvaro::wmatch {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

MATCHER_P3(IsEdge, u, v, weight, "") { return arg.u == u && arg.v == v && arg.weight == weight; }

TEST(GraphFile, ReadsTheTriangleWithEachEdgeOnceInOrderOfFirstListing) {
  Graph graph = ParseGraphFile(testing::kTriangle);
  EXPECT_EQ(graph.vertexCount, 3);
  EXPECT_THAT(graph.edges, ElementsAre(IsEdge(1, 2, 5), IsEdge(1, 3, -7), IsEdge(2, 3, 4)));
}

struct AcceptedCase {
  const char* name;
  std::string text;
  int vertexCount;
  std::size_t edgeCount;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }

class GraphFileAccepts : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(GraphFileAccepts, Layout) {
  const AcceptedCase& c = GetParam();
  Graph graph = ParseGraphFile(c.text);
  EXPECT_EQ(graph.vertexCount, c.vertexCount);
  EXPECT_EQ(graph.edges.size(), c.edgeCount);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, GraphFileAccepts,
    ::testing::Values(
        AcceptedCase{"LfLineEnds", "2 1 U\n1 1 0 0\n2 3\n1 2 0 0\n1 3\n", 2, 1},
        AcceptedCase{"NoFinalLineEnd", "2 1 U\r\n1 1 0 0\r\n2 3\r\n1 2 0 0\r\n1 3", 2, 1},
        AcceptedCase{"BlankLinesAndTabs",
                     "\r\n  2\t1  U \r\n\r\n1 1 0 0\r\n\t2   3\r\n \r\n1 2 0 0\r\n1 3\r\n\r\n", 2,
                     1},
        AcceptedCase{"CoordinatesAreIgnored", "2 1 U\n1 1 17 -4\n2 3\n1 2 8 8\n1 3\n", 2, 1},
        AcceptedCase{"NoVertices", "0 0 U\r\n", 0, 0},
        AcceptedCase{"IsolatedVertices", "3 0 U\n0 1 0 0\n0 2 0 0\n0 3 0 0\n", 3, 0},
        AcceptedCase{"WeightsAtTheLimit",
                     "3 2 U\n2 1 0 0\n2 1000000000000000\n3 -1000000000000000\n"
                     "1 2 0 0\n1 1000000000000000\n1 3 0 0\n1 -1000000000000000\n",
                     3, 2},
        AcceptedCase{"LeadingZerosAndMinusZero", "2 1 U\n01 1 0 0\n002 -0\n1 2 0 0\n1 0\n", 2, 1}),
    [](const auto& info) { return std::string(info.param.name); });

class GraphFileRejects : public ::testing::TestWithParam<testing::MalformedCase> {};

// The parser stops at the first fault and names the line it is on.
TEST_P(GraphFileRejects, NamesTheLine) {
  const testing::MalformedCase& c = GetParam();
  try {
    ParseGraphFile(c.text);
    FAIL() << "accepted a malformed file";
  } catch (const GraphFileError& error) {
    EXPECT_EQ(error.line(), c.line);
    EXPECT_THAT(error.reason(), HasSubstr(c.reason));
    EXPECT_EQ(std::string(error.what()), "line " + std::to_string(c.line) + ": " + error.reason());
    EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, GraphFileRejects, ::testing::ValuesIn(testing::MalformedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GraphFile, HugeVertexCountIsRejectedBeforeAnythingIsSized) {
  try {
    ParseGraphFile("2000000000 1 U\n1 1 0 0\n");
    FAIL() << "accepted a vertex count the file cannot hold";
  } catch (const GraphFileError& error) {
    EXPECT_EQ(error.line(), 1);
    EXPECT_THAT(error.reason(), HasSubstr("announces 2000000000 vertices"));
  }
}

}  // namespace
}  // namespace pelvaro::wmatch
