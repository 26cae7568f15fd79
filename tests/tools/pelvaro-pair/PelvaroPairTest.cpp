// pelvaro-pair run as a process, with the real matching program on PATH:
// clipboard text in, the grid with the next round out, the engine's message
// texts on standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/os/Process.h"
#include "tests/support/TestSupport.h"

#ifndef PELVARO_PAIR_PATH
#error "PELVARO_PAIR_PATH and WMATCH_DIR name the built programs"
#endif

namespace {

using pelvaro::test::ReadFile;
using pelvaro::test::WriteFile;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class PelvaroPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    setenv("PATH", (std::string(WMATCH_DIR) + ":" + savedPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

  ToolRun Pair(const std::string& input, const std::vector<std::string>& args = {}) {
    WriteFile("input.txt", input);
    vrx::os::ProcessOptions options;
    options.stdinPath = "input.txt";
    options.stdoutPath = "output.txt";
    options.stderrPath = "errors.txt";
    const vrx::os::ProcessResult result = vrx::os::RunProcess(PELVARO_PAIR_PATH, args, options);
    EXPECT_TRUE(result.started);
    return {result.exitCode, ReadFile("output.txt"), ReadFile("errors.txt")};
  }

  // Eight players after one round at two tables; points 8 6 4 2 by seat.
  static std::string OneRound(const char* missingPoints = nullptr) {
    std::string text;
    for (int p = 0; p < 8; ++p) {
      const std::string points =
          (missingPoints != nullptr && p == 7) ? missingPoints : std::to_string(8 - 2 * (p % 4));
      text += std::to_string(p / 4 + 1) + "\t" + points + "\t" + std::to_string(p) + "\r\n";
    }
    return text;
  }

  static std::vector<std::vector<std::string>> Rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::string cell;
    std::vector<std::string> row;
    for (const char c : text) {
      if (c == '\t' || c == '\r') {
        row.push_back(cell);
        cell.clear();
        if (c == '\r') {
          rows.push_back(row);
          row.clear();
        }
      } else {
        cell += c;
      }
    }
    return rows;
  }

 private:
  std::string savedPath_;
};

TEST_F(PelvaroPairTest, SeatsTheNextRoundAtTablesOfFour) {
  const ToolRun run = Pair(OneRound());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Two tables of the first round cannot be mixed without repeats: the
  // report names each pair that meets again.
  EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "Repeat meetings in round 2: 4");
  EXPECT_NE(run.err.find("1 - 2 at table 1: met 1 time before\n"), std::string::npos);
  EXPECT_EQ(run.out.find('\n'), std::string::npos);  // CR-only line ends
  const auto rows = Rows(run.out);
  ASSERT_EQ(rows.size(), 8u);
  std::map<std::string, int> tables;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 6u);
    ++tables[row[3]];
  }
  EXPECT_EQ(tables, (std::map<std::string, int>{{"1", 4}, {"2", 4}}));
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(rows[0][1], "8");
  // The matching files of the last step stay in the current directory.
  // (the pair graph: four pairs)
  EXPECT_EQ(ReadFile("wm.in").substr(0, 16), "4 6 U\r\n3 1 0 0\r\n");
  const std::string out = ReadFile("wm.out");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
}

TEST_F(PelvaroPairTest, ReadsLinesEndedByLineFeedAlone) {
  std::string input = OneRound();
  input.erase(std::remove(input.begin(), input.end(), '\r'), input.end());
  const ToolRun run = Pair(input);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows(run.out).size(), 8u);
}

TEST_F(PelvaroPairTest, MissingResultsStopUnlessIgnored) {
  ToolRun run = Pair(OneRound(""));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Nezadaný výsledek, končím párování. Doplňte výsledky a zkuste to znovu.\n");

  run = Pair(OneRound(""), {"--ignore-missing"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows(run.out).size(), 8u);
}

TEST_F(PelvaroPairTest, PlayerCountAndByeOptions) {
  ToolRun run = Pair(OneRound(), {"--players", "4"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto rows = Rows(run.out);
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& row : rows) EXPECT_EQ(row[3], "1");

  run = Pair(OneRound(), {"--byes=2"});
  EXPECT_EQ(run.exitCode, 0) << run.err;

}

TEST_F(PelvaroPairTest, Failures) {
  ToolRun run = Pair("");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Žádná data. Načtěte data a zkuste to znovu.\n");
  EXPECT_EQ(run.out, "");

  run = Pair(OneRound(), {"--players", "-1"});
  EXPECT_EQ(run.exitCode, 2);
  run = Pair(OneRound(), {"--unknown"});
  EXPECT_EQ(run.exitCode, 2);

  setenv("PATH", "/nonexistent", 1);
  run = Pair(OneRound());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("wmatch"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("wm.in"));
}

}  // namespace
