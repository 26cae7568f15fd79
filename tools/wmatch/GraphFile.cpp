#include "tools/wmatch/GraphFile.h"

#include <charconv>
#include <cstddef>
#include <unordered_map>
#include <utility>

namespace pelvaro::wmatch {

GraphFileError::GraphFileError(int line, const std::string& reason)
    : std::runtime_error("line " + std::to_string(line) + ": " + reason),
      line_(line),
      reason_(reason) {}

namespace {

struct Line {
  int number = 0;
  std::vector<std::string_view> fields;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    std::size_t start = pos;
    while (pos < text.size() && !IsBlank(text[pos])) ++pos;
    if (pos > start) fields.push_back(text.substr(start, pos - start));
  }
  return fields;
}

// A token as it may appear in a one-line message: control and non-ASCII bytes
// become '?', and a long token is cut.
std::string Quote(std::string_view token) {
  constexpr std::size_t kMaxShown = 24;
  std::string shown = "'";
  for (std::size_t i = 0; i < token.size() && i < kMaxShown; ++i) {
    unsigned char c = static_cast<unsigned char>(token[i]);
    shown += (c < 0x20 || c >= 0x7f) ? '?' : static_cast<char>(c);
  }
  if (token.size() > kMaxShown) shown += "...";
  return shown + "'";
}

std::string FieldCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " field" : " fields");
}

class Parser {
 public:
  explicit Parser(std::string_view text) {
    int number = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      std::string_view content = text.substr(pos, end - pos);
      if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
      ++number;
      std::vector<std::string_view> fields = SplitFields(content);
      if (!fields.empty()) lines_.push_back(Line{number, std::move(fields)});
      pos = end + 1;
    }
    lastLine_ = number == 0 ? 1 : number;
  }

  Graph Run() {
    if (lines_.empty()) Fail(lastLine_, "missing header line 'vertices edges U'");
    const Line& header = lines_.front();
    if (header.fields.size() != 3) {
      Fail(header.number,
           "header must read 'vertices edges U', found " + FieldCount(header.fields.size()));
    }
    // Every vertex needs a line of its own, so a larger count cannot be right;
    // checking it first also keeps a corrupt header from sizing allocations.
    const std::int64_t linesLeft = static_cast<std::int64_t>(lines_.size()) - 1;
    std::int64_t n = Integer(header.number, header.fields[0], "vertex count");
    if (n < 0) Fail(header.number, "vertex count " + std::to_string(n) + " is negative");
    if (n > linesLeft) {
      Fail(header.number, "header announces " + std::to_string(n) + " vertices but only " +
                              std::to_string(linesLeft) + " non-blank lines follow");
    }
    std::int64_t m = Integer(header.number, header.fields[1], "edge count");
    std::int64_t maxEdges = n * (n - 1) / 2;
    if (m < 0 || m > maxEdges) {
      Fail(header.number, "edge count " + std::to_string(m) + " is out of range 0.." +
                              std::to_string(maxEdges) + " for " + std::to_string(n) + " vertices");
    }
    if (header.fields[2] != "U") {
      Fail(header.number, "graph type " + Quote(header.fields[2]) + " is not U (undirected)");
    }

    const int vertexCount = static_cast<int>(n);
    graph_.vertexCount = vertexCount;
    const auto expectedEdges = static_cast<std::size_t>(m < linesLeft ? m : linesLeft);
    edgeIndex_.reserve(expectedEdges);
    graph_.edges.reserve(expectedEdges);
    next_ = 1;
    for (int v = 1; v <= vertexCount; ++v) ReadBlock(v);
    if (next_ < lines_.size()) {
      Fail(lines_[next_].number,
           "unexpected line after the block of the last vertex " + std::to_string(vertexCount));
    }

    for (const Edge& edge : graph_.edges) {
      const Ends& ends = edgeIndex_.at(Key(edge.u, edge.v));
      if (ends.lineU == 0 || ends.lineV == 0) {
        bool fromU = ends.lineU != 0;
        int lister = fromU ? edge.u : edge.v;
        int other = fromU ? edge.v : edge.u;
        Fail(fromU ? ends.lineU : ends.lineV,
             "edge " + std::to_string(lister) + "-" + std::to_string(other) +
                 " is listed in the block of vertex " + std::to_string(lister) +
                 " but not in the block of vertex " + std::to_string(other));
      }
    }
    if (static_cast<std::int64_t>(graph_.edges.size()) != m) {
      Fail(header.number, "header announces " + std::to_string(m) +
                              " edges but the vertex blocks list " +
                              std::to_string(graph_.edges.size()));
    }
    return std::move(graph_);
  }

 private:
  // Where each end of an edge listed it; 0 = not (yet) listed from that end.
  struct Ends {
    std::size_t index = 0;  // into graph_.edges
    int lineU = 0;
    int lineV = 0;
  };

  static std::uint64_t Key(int u, int v) {
    return (static_cast<std::uint64_t>(u) << 32) | static_cast<std::uint32_t>(v);
  }

  [[noreturn]] static void Fail(int line, const std::string& reason) {
    throw GraphFileError(line, reason);
  }

  static std::int64_t Integer(int line, std::string_view token, const char* what) {
    std::int64_t value = 0;
    const char* first = token.data();
    const char* last = first + token.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range && ptr == last) {
      Fail(line, std::string(what) + " " + Quote(token) + " does not fit in 64 bits");
    }
    if (ec != std::errc() || ptr != last) {
      Fail(line, std::string(what) + " " + Quote(token) + " is not an integer");
    }
    return value;
  }

  void ReadBlock(int v) {
    const int n = graph_.vertexCount;
    const std::string vs = std::to_string(v);
    if (next_ >= lines_.size()) {
      Fail(lastLine_,
           "file ends before the vertex line of vertex " + vs + " of " + std::to_string(n));
    }
    const Line& vertexLine = lines_[next_++];
    const auto& f = vertexLine.fields;
    if (f.size() == 2 && v > 1) {
      Fail(vertexLine.number, "found a neighbour line where the vertex line of vertex " + vs +
                                  " was expected (degree of vertex " + std::to_string(v - 1) +
                                  " too small?)");
    }
    if (f.size() != 4) {
      Fail(vertexLine.number,
           "expected the vertex line 'degree " + vs + " 0 0', found " + FieldCount(f.size()));
    }
    std::int64_t degree = Integer(vertexLine.number, f[0], "degree");
    std::int64_t number = Integer(vertexLine.number, f[1], "vertex number");
    Integer(vertexLine.number, f[2], "coordinate");
    Integer(vertexLine.number, f[3], "coordinate");
    if (number != v) {
      Fail(vertexLine.number,
           "expected the vertex line of vertex " + vs + ", found vertex " + std::to_string(number));
    }
    if (degree < 0 || degree > n - 1) {
      Fail(vertexLine.number, "degree " + std::to_string(degree) + " of vertex " + vs +
                                  " is out of range 0.." + std::to_string(n - 1));
    }

    for (std::int64_t i = 0; i < degree; ++i) {
      auto progress = [&] { return std::to_string(i) + " of " + std::to_string(degree); };
      if (next_ >= lines_.size()) {
        Fail(lastLine_, "file ends in the block of vertex " + vs + " after " + progress() +
                            " neighbour lines");
      }
      const Line& line = lines_[next_++];
      const auto& g = line.fields;
      if (g.size() == 4) {
        Fail(line.number, "found a vertex line after " + progress() +
                              " neighbour lines of vertex " + vs + " (degree too large?)");
      }
      if (g.size() != 2) {
        Fail(line.number, "expected a neighbour line 'neighbour weight' of vertex " + vs +
                              ", found " + FieldCount(g.size()));
      }
      std::int64_t u = Integer(line.number, g[0], "neighbour");
      std::int64_t weight = Integer(line.number, g[1], "weight");
      if (u < 1 || u > n) {
        Fail(line.number, "neighbour " + std::to_string(u) + " of vertex " + vs +
                              " is out of range 1.." + std::to_string(n));
      }
      if (u == v) Fail(line.number, "vertex " + vs + " lists itself as a neighbour");
      if (weight < -kMaxAbsWeight || weight > kMaxAbsWeight) {
        Fail(line.number, "weight " + std::to_string(weight) + " is out of range -" +
                              std::to_string(kMaxAbsWeight) + ".." + std::to_string(kMaxAbsWeight));
      }
      AddListing(v, static_cast<int>(u), weight, line.number);
    }
  }

  void AddListing(int v, int u, std::int64_t weight, int line) {
    const bool vIsSmall = v < u;
    const int a = vIsSmall ? v : u;
    const int b = vIsSmall ? u : v;
    auto [it, inserted] = edgeIndex_.try_emplace(Key(a, b));
    Ends& ends = it->second;
    if (inserted) {
      ends.index = graph_.edges.size();
      graph_.edges.push_back(Edge{a, b, weight});
    } else {
      int earlier = vIsSmall ? ends.lineU : ends.lineV;
      if (earlier != 0) {
        Fail(line, "vertex " + std::to_string(v) + " lists neighbour " + std::to_string(u) +
                       " twice (also on line " + std::to_string(earlier) + ")");
      }
      const Edge& edge = graph_.edges[ends.index];
      if (edge.weight != weight) {
        int other = vIsSmall ? ends.lineV : ends.lineU;
        Fail(line, "edge " + std::to_string(v) + "-" + std::to_string(u) + " has weight " +
                       std::to_string(weight) + " here but " + std::to_string(edge.weight) +
                       " on line " + std::to_string(other));
      }
    }
    (vIsSmall ? ends.lineU : ends.lineV) = line;
  }

  std::vector<Line> lines_;  // the non-blank lines, split into fields
  int lastLine_ = 1;
  std::size_t next_ = 0;  // index into lines_ of the next unread line
  Graph graph_;
  std::unordered_map<std::uint64_t, Ends> edgeIndex_;
};

}  // namespace

Graph ParseGraphFile(std::string_view text) { return Parser(text).Run(); }

}  // namespace pelvaro::wmatch
