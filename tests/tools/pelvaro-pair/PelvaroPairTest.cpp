// pelvaro-pair run as a process, with the real matching program on PATH:
// clipboard text in, the grid with the next round out, the engine's message
// texts on standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
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

TEST_F(PelvaroPairTest, OptionErrorsNameTheOption) {
  struct Case {
    std::vector<std::string> args;
    std::string firstLine;
  };
  const Case cases[] = {
      {{"--byes", "1.5"},
       "pelvaro-pair: --byes needs a whole number from 0 to 7 (fewer than the 8 players), not "
       "'1.5'"},
      {{"--byes", "two"},
       "pelvaro-pair: --byes needs a whole number from 0 to 7 (fewer than the 8 players), not "
       "'two'"},
      {{"--byes=-1"},
       "pelvaro-pair: --byes needs a whole number from 0 to 7 (fewer than the 8 players), not "
       "'-1'"},
      {{"--byes", "8"},
       "pelvaro-pair: --byes needs a whole number from 0 to 7 (fewer than the 8 players), not "
       "'8'"},
      {{"--byes"}, "pelvaro-pair: --byes needs a value"},
      {{"--players"}, "pelvaro-pair: --players needs a value"},
      {{"--players", "3"}, "pelvaro-pair: --players needs a whole number from 4 to 511, not '3'"},
      {{"--players", "x", "--fewer-repeats"},
       "pelvaro-pair: --players needs a whole number from 4 to 1023, not 'x'"},
      {{"--players", "12"}, "pelvaro-pair: --players 12 asks for more players than the 8 rows read"},
      {{"--crlf=yes"}, "pelvaro-pair: --crlf takes no value"},
      {{"--unknown"}, "pelvaro-pair: unknown argument '--unknown'"},
      {{"grid.txt"}, "pelvaro-pair: unknown argument 'grid.txt'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLine);
    const ToolRun run = Pair(OneRound(), c.args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.firstLine);
    EXPECT_EQ(run.out, "");
  }
  const ToolRun help = Pair("", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--players", "--byes", "--ignore-missing", "--fewer-repeats", "--crlf",
                             "Table 0", "PATH"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST_F(PelvaroPairTest, GridErrorsNameRowAndCell) {
  struct Case {
    std::string row3;  // the third of eight rows of one round
    std::string error;
  };
  const Case cases[] = {
      {"x\t4\t0", "row 3, cell 1: the table of round 1 is 'x', not a whole number of 0 or more"},
      {"\t4\t0", "row 3, cell 1: the table of round 1 is '', not a whole number of 0 or more"},
      {"1\t4 4\t0", "row 3, cell 2: the points of round 1 are '4 4', not a number"},
      {"1\t7,5\t0",
       "row 3, cell 2: '7,5' holds a character the grid cannot keep (cells hold digits, '.', "
       "blanks and ASCII letters)"},
      {"1\t4\t-5",
       "row 3, cell 3: '-5' holds a character the grid cannot keep (cells hold digits, '.', "
       "blanks and ASCII letters)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row3);
    std::string input = OneRound();
    const size_t third = input.find("1\t4\t2\r\n");
    ASSERT_NE(third, std::string::npos);
    input.replace(third, 5, c.row3);  // the line end stays
    const ToolRun run = Pair(input);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "pelvaro-pair: " + c.error + "\n");
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(PelvaroPairTest, RowsInAndOut) {
  // A last row without a line end is a player.
  std::string input = OneRound();
  input.resize(input.size() - 2);
  ToolRun run = Pair(input);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows(run.out).size(), 8u);

  // --crlf ends rows with CR LF.
  run = Pair(OneRound(), {"--crlf"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 8);
  EXPECT_EQ(run.out.find("\r\n"), run.out.find('\r'));

  // A lone CR is one empty player, who cannot fill a table.
  run = Pair("\r");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "pelvaro-pair: 1 player cannot fill a table of four (for round 1 give --players N "
            "and no input)\n");

  // Round 1: no input, the player count given; 18 players leave two at table 0.
  run = Pair("", {"--players", "18"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto rows = Rows(run.out);
  ASSERT_EQ(rows.size(), 18u);
  std::map<std::string, int> tables;
  for (const auto& row : rows) ++tables[row[0]];
  EXPECT_EQ(tables, (std::map<std::string, int>{{"0", 2}, {"1", 4}, {"2", 4}, {"3", 4}, {"4", 4}}));
  EXPECT_EQ(run.err, "");  // no history, no repeats
}

TEST_F(PelvaroPairTest, FewerRepeatsNeedsNoMatchingProgram) {
  setenv("PATH", "/nonexistent", 1);
  // Sixteen players after one round at four tables: a second round without
  // repeats exists, and the search seats it.
  std::string input;
  for (int p = 0; p < 16; ++p) {
    input += std::to_string(p / 4 + 1) + "\t" + std::to_string(8 - 2 * (p % 4)) + "\t0\n";
  }
  const ToolRun run = Pair(input, {"--fewer-repeats"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto rows = Rows(run.out);
  ASSERT_EQ(rows.size(), 16u);
  std::map<std::string, std::set<std::string>> oldTables;
  for (const auto& row : rows) {
    EXPECT_TRUE(oldTables[row[3]].insert(row[0]).second) << "a repeat at table " << row[3];
  }
  EXPECT_EQ(oldTables.size(), 4u);
  EXPECT_FALSE(std::filesystem::exists("wm.in"));
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
