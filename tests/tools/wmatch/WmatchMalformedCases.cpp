#include "tests/tools/wmatch/WmatchMalformedCases.h"

#include <sstream>

namespace pelvaro::wmatch::testing {

const char* const kTriangle =
    "3 3 U\r\n"
    "2 1 0 0\r\n"
    "2 5\r\n"
    "3 -7\r\n"
    "2 2 0 0\r\n"
    "1 5\r\n"
    "3 4\r\n"
    "2 3 0 0\r\n"
    "1 -7\r\n"
    "2 4\r\n";

namespace {

std::vector<std::string> TriangleLines() {
  std::vector<std::string> lines;
  std::istringstream in(kTriangle);
  for (std::string line; std::getline(in, line);) {
    line.pop_back();  // the CR
    lines.push_back(line);
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The triangle with line `number` (1-based) replaced.
std::string Replaced(int number, const std::string& line) {
  std::vector<std::string> lines = TriangleLines();
  lines[number - 1] = line;
  return Join(lines);
}

std::string Removed(int number) {
  std::vector<std::string> lines = TriangleLines();
  lines.erase(lines.begin() + (number - 1));
  return Join(lines);
}

}  // namespace

std::vector<MalformedCase> MalformedCases() {
  return {
      {"EmptyFile", "", 1, "missing header line"},
      {"OnlyBlankLines", "\r\n\r\n", 2, "missing header line"},
      {"HeaderWithoutType", Replaced(1, "3 3"), 1, "header must read 'vertices edges U'"},
      {"HeaderVertexCountNotInteger", Replaced(1, "three 3 U"), 1,
       "vertex count 'three' is not an integer"},
      {"HeaderVertexCountNegative", Replaced(1, "-3 3 U"), 1, "vertex count -3 is negative"},
      {"HeaderVertexCountOverflows", Replaced(1, "99999999999999999999 3 U"), 1,
       "does not fit in 64 bits"},
      {"HeaderNotUndirected", Replaced(1, "3 3 D"), 1, "graph type 'D' is not U"},
      {"EdgeCountAboveWhatVerticesAllow", Replaced(1, "3 4 U"), 1,
       "edge count 4 is out of range 0..3"},
      {"EdgeCountDisagreesWithBlocks", Replaced(1, "3 2 U"), 1,
       "header announces 2 edges but the vertex blocks list 3"},
      {"MoreVerticesThanBlocks", Replaced(1, "5 3 U"), 10,
       "file ends before the vertex line of vertex 4 of 5"},
      {"FewerVerticesThanBlocks", Replaced(1, "2 1 U"), 2,
       "degree 2 of vertex 1 is out of range 0..1"},
      {"VertexLineOutOfOrder", Replaced(5, "2 3 0 0"), 5,
       "expected the vertex line of vertex 2, found vertex 3"},
      {"VertexLineWithThreeFields", Replaced(2, "2 1 0"), 2,
       "expected the vertex line 'degree 1 0 0', found 3 fields"},
      {"CoordinateNotInteger", Replaced(2, "2 1 0 x"), 2, "coordinate 'x' is not an integer"},
      {"DegreeTooSmall", Replaced(2, "1 1 0 0"), 4,
       "found a neighbour line where the vertex line of vertex 2 was expected"},
      {"DegreeTooLarge", Removed(4), 4,
       "found a vertex line after 1 of 2 neighbour lines of vertex 1"},
      {"FileEndsInsideABlock", Removed(10), 9,
       "file ends in the block of vertex 3 after 1 of 2 neighbour lines"},
      {"NeighbourLineWithThreeFields", Replaced(3, "2 5 1"), 3,
       "expected a neighbour line 'neighbour weight' of vertex 1, found 3 fields"},
      {"NeighbourAboveRange", Replaced(3, "4 5"), 3,
       "neighbour 4 of vertex 1 is out of range 1..3"},
      {"NeighbourZero", Replaced(3, "0 5"), 3, "neighbour 0 of vertex 1 is out of range 1..3"},
      {"NeighbourNotInteger", Replaced(3, "two 5"), 3, "neighbour 'two' is not an integer"},
      {"SelfLoop", Replaced(3, "1 5"), 3, "vertex 1 lists itself as a neighbour"},
      {"WeightWithDecimals", Replaced(3, "2 5.5"), 3, "weight '5.5' is not an integer"},
      {"WeightWithPlusSign", Replaced(3, "2 +5"), 3, "weight '+5' is not an integer"},
      {"WeightWithTrailingText", Replaced(3, "2 5x"), 3, "weight '5x' is not an integer"},
      {"WeightWithControlByte", Replaced(3, "2 5\x01"), 3, "weight '5?' is not an integer"},
      {"WeightOverflows64Bits", Replaced(3, "2 9223372036854775808"), 3,
       "weight '9223372036854775808' does not fit in 64 bits"},
      {"WeightAboveLimit", Replaced(3, "2 1000000000000001"), 3,
       "weight 1000000000000001 is out of range -1000000000000000..1000000000000000"},
      {"WeightBelowLimit", Replaced(3, "2 -1000000000000001"), 3,
       "weight -1000000000000001 is out of range"},
      {"EdgeWithTwoWeights", Replaced(6, "1 6"), 6, "edge 2-1 has weight 6 here but 5 on line 3"},
      {"NeighbourListedTwice", Replaced(4, "2 5"), 4,
       "vertex 1 lists neighbour 2 twice (also on line 3)"},
      {"EdgeListedFromOneEndOnly", Removed(9).replace(Removed(9).find("2 3 0 0"), 7, "1 3 0 0"), 4,
       "edge 1-3 is listed in the block of vertex 1 but not in the block of vertex 3"},
      {"TextAfterTheLastBlock", std::string(kTriangle) + "1 2\r\n", 11,
       "unexpected line after the block of the last vertex 3"},
      {"CarriageReturnOnlyLineEnds", "2 1 U\r1 1 0 0\r2 3\r1 2 0 0\r1 3\r", 1,
       "header must read 'vertices edges U', found 11 fields"},
  };
}

}  // namespace pelvaro::wmatch::testing
