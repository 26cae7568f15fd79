// The wmatch program run as the pairing engine runs it: a separate process
// with the graph file as its argument (or on standard input) and standard
// output captured in a file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/wmatch/WmatchMalformedCases.h"
#include "tests/tools/wmatch/WmatchTestGraphs.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace pelvaro::wmatch {
namespace {

using pelvaro::test::ReadFile;
using pelvaro::test::WriteFile;

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct RunResult {
  int exitCode = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs wmatch with the given arguments in the current directory; standard
// input comes from stdinPath, standard output goes to stdoutPath.
RunResult RunWmatch(std::vector<std::string> args, const std::string& stdinPath = "/dev/null",
                    const std::string& stdoutPath = "out.txt") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, "err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  args.insert(args.begin(), WMATCH_PATH);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int spawnError = posix_spawn(&pid, WMATCH_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  RunResult result;
  if (spawnError != 0) {
    ADD_FAILURE() << "cannot start " << WMATCH_PATH;
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (stdoutPath == "out.txt") result.out = ReadFile("out.txt");
  result.err = ReadFile("err.txt");
  return result;
}

// Parses "k mate" lines, insisting on the exact layout: line k starts with k.
std::vector<int> Mates(const std::string& out, int vertexCount, std::string& problem) {
  std::vector<int> mates{0};
  std::istringstream in(out);
  std::string line;
  for (int k = 1; std::getline(in, line); ++k) {
    std::string prefix = std::to_string(k) + " ";
    if (line.rfind(prefix, 0) != 0) {
      problem = "line " + std::to_string(k) + " reads '" + line + "'";
      return {};
    }
    std::string rest = line.substr(prefix.size());
    if (rest.empty() || rest.find_first_not_of("0123456789") != std::string::npos) {
      problem = "line " + std::to_string(k) + " has mate '" + rest + "'";
      return {};
    }
    mates.push_back(std::stoi(rest));
  }
  if (!out.empty() && out.back() != '\n') problem = "last line has no line end";
  if (static_cast<int>(mates.size()) != vertexCount + 1) problem = "wrong number of lines";
  return mates;
}

TEST(WmatchProcess, ReadsTheFileNamedByItsArgument) {
  WriteFile("wm.in", testing::kTriangle);
  RunResult r = RunWmatch({"wm.in"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "1 2\n2 1\n3 0\n");
  EXPECT_EQ(r.err, "");
}

TEST(WmatchProcess, ReadsStandardInputWithoutArgumentOrWithDash) {
  WriteFile("wm.in", testing::kTriangle);
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-"}}) {
    RunResult r = RunWmatch(args, "wm.in");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "1 2\n2 1\n3 0\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(WmatchProcess, EmptyGraphGivesEmptyOutput) {
  WriteFile("wm.in", "0 0 U\r\n");
  RunResult r = RunWmatch({"wm.in"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
}

TEST(WmatchProcess, MatchesRandomGraphsOptimally) {
  for (std::uint32_t seed = 1; seed <= 24; ++seed) {
    const int n = static_cast<int>(seed % 10) + 1;
    Graph graph = testing::RandomGraph(seed, n, 0.7, -50, 200);
    SCOPED_TRACE("seed " + std::to_string(seed));
    WriteFile("wm.in", testing::GraphFileText(graph));
    RunResult r = RunWmatch({"wm.in"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string problem;
    std::vector<int> mates = Mates(r.out, n, problem);
    ASSERT_EQ(problem, "");
    EXPECT_EQ(testing::MatchingWeight(graph, mates, problem), testing::BestMatchingWeight(graph));
    EXPECT_EQ(problem, "");
  }
}

// A complete graph on 32 players as the pairing engine writes it, with one
// perfect matching weighted above every other edge: that matching is the
// only optimum, so the output is known without a second solver.
TEST(WmatchProcess, FindsThePlantedPairingOfThirtyTwoPlayers) {
  constexpr int kPlayers = 32;
  std::mt19937 random(7);
  std::vector<int> order(kPlayers);
  std::iota(order.begin(), order.end(), 1);
  std::shuffle(order.begin(), order.end(), random);
  std::vector<int> planted(kPlayers + 1, 0);
  for (int i = 0; i < kPlayers; i += 2) {
    planted[order[i]] = order[i + 1];
    planted[order[i + 1]] = order[i];
  }
  std::uniform_int_distribution<int> other(982'000, 1'000'000);
  Graph graph{kPlayers, {}};
  for (int u = 1; u <= kPlayers; ++u) {
    for (int v = u + 1; v <= kPlayers; ++v) {
      graph.edges.push_back(Edge{u, v, planted[u] == v ? 1'000'001 : other(random)});
    }
  }
  std::string text = testing::GraphFileText(graph);
  ASSERT_THAT(text, StartsWith("32 496 U\r\n31 1 0 0\r\n2 "));
  WriteFile("wm.in", text);
  RunResult r = RunWmatch({"wm.in"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string problem;
  EXPECT_EQ(Mates(r.out, kPlayers, problem), planted);
  EXPECT_EQ(problem, "");
}

class WmatchProcessRejects : public ::testing::TestWithParam<testing::MalformedCase> {};

// One line on standard error naming the file and the line, nothing on
// standard output (so wm.out holds no partial matching), exit status 1.
TEST_P(WmatchProcessRejects, WithOneLineNamingTheLine) {
  const testing::MalformedCase& c = GetParam();
  WriteFile("wm.in", c.text);
  RunResult r = RunWmatch({"wm.in"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, StartsWith("wmatch: wm.in: line " + std::to_string(c.line) + ": "));
  EXPECT_THAT(r.err, HasSubstr(c.reason));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_EQ(r.err.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(Faults, WmatchProcessRejects,
                         ::testing::ValuesIn(testing::MalformedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WmatchProcess, MalformedStandardInputIsNamedAsSuch) {
  WriteFile("wm.in", "3 3\r\n");
  RunResult r = RunWmatch({}, "wm.in");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, StartsWith("wmatch: <stdin>: line 1: header must read"));
}

struct TroubleCase {
  const char* name;
  std::vector<std::string> args;
  const char* stdoutPath;
  const char* message;
};

class WmatchProcessTrouble : public ::testing::TestWithParam<TroubleCase> {};

// Usage and input/output failures exit 2 with one line, never a silent 0.
TEST_P(WmatchProcessTrouble, ExitsTwoWithOneLine) {
  const TroubleCase& c = GetParam();
  WriteFile("wm.in", testing::kTriangle);
  RunResult r = RunWmatch(c.args, "/dev/null", c.stdoutPath);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_THAT(r.err, StartsWith(c.message));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WmatchProcessTrouble,
    ::testing::Values(
        TroubleCase{"TwoArguments", {"wm.in", "wm.in"}, "out.txt", "wmatch: usage: wmatch [FILE]"},
        TroubleCase{"MissingFile",
                    {"absent.in"},
                    "out.txt",
                    "wmatch: cannot open absent.in: No such file or directory"},
        TroubleCase{"DirectoryAsFile", {"."}, "out.txt", "wmatch: cannot read .: "},
        TroubleCase{"FullDisk", {"wm.in"}, "/dev/full", "wmatch: cannot write the matching: "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelvaro::wmatch
