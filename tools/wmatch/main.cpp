// wmatch: maximum-weight matching of the graph file the pairing engine writes.
//
//   wmatch [FILE]      reads FILE, or standard input when FILE is absent or "-"
//
// On success it writes one line per vertex k = 1..N, "k mate" (mate 0 when k
// is unmatched), each ended by LF, to standard output, writes nothing else and
// exits 0. A malformed graph file gives one line on standard error,
// "wmatch: FILE: line L: reason", no output and exit 1; a usage, read or
// write error gives one line on standard error and exit 2. The whole input is
// checked before anything is written, so wm.out never holds half a matching.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/wmatch/GraphFile.h"
#include "tools/wmatch/Matching.h"

namespace {

constexpr int kExitMalformed = 1;
constexpr int kExitTrouble = 2;

// Reads the whole stream; false on a read error (errno tells why).
bool ReadAll(std::FILE* in, std::string& text) {
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
  return std::ferror(in) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelvaro::wmatch;
  if (argc > 2) {
    std::fprintf(stderr, "wmatch: usage: wmatch [FILE]\n");
    return kExitTrouble;
  }
  const bool fromStdin = argc < 2 || std::strcmp(argv[1], "-") == 0;
  const std::string name = fromStdin ? "<stdin>" : argv[1];

  std::string text;
  std::FILE* in = fromStdin ? stdin : std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "wmatch: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
    return kExitTrouble;
  }
  bool readOk = ReadAll(in, text);
  int readErrno = errno;
  if (!fromStdin) std::fclose(in);
  if (!readOk) {
    std::fprintf(stderr, "wmatch: cannot read %s: %s\n", name.c_str(), std::strerror(readErrno));
    return kExitTrouble;
  }

  Graph graph;
  try {
    graph = ParseGraphFile(text);
  } catch (const GraphFileError& error) {
    std::fprintf(stderr, "wmatch: %s: %s\n", name.c_str(), error.what());
    return kExitMalformed;
  }

  std::vector<int> mates = MaxWeightMatching(graph);
  std::string out;
  out.reserve(static_cast<std::size_t>(graph.vertexCount) * 12);
  for (int k = 1; k <= graph.vertexCount; ++k) {
    out += std::to_string(k);
    out += ' ';
    out += std::to_string(mates[k]);
    out += '\n';
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "wmatch: cannot write the matching: %s\n", std::strerror(errno));
    return kExitTrouble;
  }
  return 0;
}
