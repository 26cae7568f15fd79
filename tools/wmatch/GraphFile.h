// The graph file that wmatch reads: the weighted, undirected graph the pairing
// engine writes as wm.in. This unit only parses and validates; it knows nothing
// of matching, so it can be tested without starting a process. Used by the
// wmatch program and its tests.
//
// Format (one item per line, fields separated by blanks or tabs, LF or CR LF
// line ends, blank lines ignored anywhere, line numbers counted from 1 over
// every line):
//
//   N M U                  header: vertex count, edge count (each edge once), "U"
//   d v x y                for v = 1..N in this order: the vertex line, d is the
//                          number of neighbour lines that follow; x and y are
//                          integers that are read and ignored
//   u w                    d lines: neighbour u of v and the weight of edge v-u
//
// Every edge is listed from both ends with the same weight. Weights are
// decimal integers with an optional leading '-', at most kMaxAbsWeight in
// magnitude, so that the matching's scaled dual arithmetic stays far inside
// 64 bits. Anything else is rejected with a GraphFileError naming the line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelvaro::wmatch {

inline constexpr std::int64_t kMaxAbsWeight = 1'000'000'000'000'000;  // 10^15

struct Edge {
  int u = 0;  // the smaller end, 1-based
  int v = 0;  // the larger end
  std::int64_t weight = 0;
};

struct Graph {
  int vertexCount = 0;
  std::vector<Edge> edges;  // each edge once, in the order of first listing
};

// A malformed graph file. what() is one line: "line L: reason".
class GraphFileError : public std::runtime_error {
 public:
  GraphFileError(int line, const std::string& reason);
  int line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  int line_;
  std::string reason_;
};

// Parses a whole graph file. Throws GraphFileError on the first fault found.
Graph ParseGraphFile(std::string_view text);

}  // namespace pelvaro::wmatch
