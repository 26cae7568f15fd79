// The grid operations of the pairing engine: layout, clearing, the round and
// player counts, and the clipboard text in both directions.
#include <gtest/gtest.h>

#include <string>

#include "app/core/PairingEngine.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ScriptedEngine;

class PairingGridOpsTest : public ::testing::Test, public ScriptedEngine {
 protected:
  void Load(const std::string& text) {
    clipboard.text = text;
    engine.LoadGridFromClipboard();
  }
  const std::string& Cell(int row, int col) const { return engine.Grid().Cell(row, col); }
};

TEST_F(PairingGridOpsTest, NewEngineHasEmptyGridForThirtyTwoPlayers) {
  EXPECT_EQ(engine.Grid().RowCount(), 33);
  EXPECT_EQ(engine.Grid().ColCount(), 15);
  EXPECT_EQ(engine.RoundCount(), 0);
  EXPECT_EQ(engine.PlayerCount(), 32);
  EXPECT_EQ(engine.ByesText(), "0");
  EXPECT_FALSE(engine.ManualMatch());
  EXPECT_EQ(engine.WeightsLines(), TextLines{"VAHY"});
  EXPECT_EQ(engine.MatchingLines(), TextLines{"PAROVANI"});
  for (int k = 1; k <= 32; ++k) EXPECT_EQ(Cell(k, 0), std::to_string(k));
  EXPECT_EQ(Cell(0, 0), "");
  EXPECT_EQ(Cell(1, 1), "");
}

TEST_F(PairingGridOpsTest, CreationResetsTheProcessWideCommandPrefix) {
  PairingEngine::SetCommandPrefix("command ");
  ScriptedEngine other;
  EXPECT_EQ(PairingEngine::CommandPrefix(), "cmd ");
  PairingEngine::SetCommandPrefix("x ");
  EXPECT_EQ(PairingEngine::CommandPrefix(), "x ");  // one value for every engine
  PairingEngine::SetCommandPrefix("cmd ");
}

TEST_F(PairingGridOpsTest, RoundCountOnlyEverAddsColumns) {
  engine.SetRoundCount(6);
  EXPECT_EQ(engine.Grid().ColCount(), 19);
  EXPECT_EQ(engine.RoundCount(), 6);
  engine.SetRoundCount(2);
  EXPECT_EQ(engine.Grid().ColCount(), 19);
  EXPECT_EQ(engine.RoundCount(), 2);
  engine.SetRoundCount(4);  // 13 columns are enough
  EXPECT_EQ(engine.Grid().ColCount(), 19);
}

TEST_F(PairingGridOpsTest, LayoutEmptiesBeyondPlayersAndRoundsButKeepsTheRows) {
  engine.SetRoundCount(4);
  for (int r = 0; r < engine.Grid().RowCount(); ++r) {
    for (int c = 1; c < engine.Grid().ColCount(); ++c) engine.Grid().SetCell(r, c, "x");
  }
  engine.SetRoundCount(2);
  engine.SetPlayerCount(30);
  engine.LayoutGrid();
  EXPECT_EQ(engine.Grid().RowCount(), 33);
  EXPECT_EQ(Cell(30, 6), "x");
  EXPECT_EQ(Cell(30, 7), "");
  EXPECT_EQ(Cell(0, 7), "");   // the header row too
  EXPECT_EQ(Cell(0, 6), "x");  // within the rounds the header row is left alone
  EXPECT_EQ(Cell(31, 1), "");
  EXPECT_EQ(Cell(31, 0), "");  // no player number beyond N
  EXPECT_EQ(Cell(32, 0), "");
  EXPECT_EQ(Cell(30, 0), "30");

  engine.SetPlayerCount(40);
  engine.LayoutGrid();
  EXPECT_EQ(engine.Grid().RowCount(), 41);
  EXPECT_EQ(Cell(40, 0), "40");
}

TEST_F(PairingGridOpsTest, ClearTableLeavesRowNumbersAndTheRoundDisplay) {
  Load("1\t8\t10\t2\t6\t5\r1\t6\t3\t2\t4\t4\r");
  ASSERT_EQ(view.round, 2);
  engine.ClearTable();
  EXPECT_EQ(engine.RoundCount(), 0);
  EXPECT_EQ(view.round, 2);
  for (int r = 0; r < engine.Grid().RowCount(); ++r) {
    for (int c = 0; c < engine.Grid().ColCount(); ++c) {
      EXPECT_EQ(Cell(r, c), (c == 0 && r >= 1 && r <= 2) ? std::to_string(r) : "") << r << "," << c;
    }
  }
}

TEST_F(PairingGridOpsTest, ThirtyTwoLinesOfTwelveValuesWithCrLf) {
  std::string text;
  for (int p = 1; p <= 32; ++p) {
    for (int c = 1; c <= 12; ++c) text += std::to_string(p * 100 + c) + (c < 12 ? "\t" : "\r\n");
  }
  Load(text);
  EXPECT_EQ(engine.PlayerCount(), 32);
  EXPECT_EQ(engine.RoundCount(), 4);
  EXPECT_EQ(view.round, 4);
  EXPECT_EQ(view.players, 32);
  EXPECT_EQ(engine.Grid().RowCount(), 33);
  for (int p = 1; p <= 32; ++p) {
    for (int c = 1; c <= 12; ++c) ASSERT_EQ(Cell(p, c), std::to_string(p * 100 + c));
    EXPECT_EQ(Cell(p, 13), "");
  }
}

TEST_F(PairingGridOpsTest, ClipboardTextCases) {
  struct Case {
    const char* name;
    const char* text;
    int players;
    int rounds;
    std::vector<std::pair<std::pair<int, int>, const char*>> cells;
  };
  const Case cases[] = {
      {"a last line without CR stores its cells but the last one and is no player",
       "1\t2\t3\r4\t5\t6",
       1,
       1,
       {{{1, 3}, "3"}, {{2, 1}, ""}}},
      {"7 cells give 3 rounds", "1\t2\t3\t4\t5\t6\t7\r", 1, 3, {{{1, 7}, "7"}, {{1, 8}, ""}}},
      {"the last CR-ended line decides the rounds",
       "1\t2\t3\t4\t5\t6\r1\t2\r",
       2,
       1,
       {{{1, 6}, "6"}}},
      {"a minus sign or a decimal comma splits a number",
       "-5\t2,5\tab.c d\r",
       1,
       1,
       {{{1, 1}, "5"}, {{1, 2}, "5"}, {{1, 3}, "ab.c d"}}},
      {"letters with diacritics end a cell",
       "Jan\xC4\x8D"
       "1\tx\xC3\xA9\r",
       1,
       1,
       {{{1, 1}, "1"}, {{1, 2}, ""}}},
      {"empty cells are stored empty", "\t\t7\r", 1, 1, {{{1, 1}, ""}, {{1, 3}, "7"}}},
      {"LF alone ends only a cell", "1\n2\t3\r", 1, 1, {{{1, 1}, "2"}, {{1, 2}, "3"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.text);
    EXPECT_EQ(engine.PlayerCount(), c.players);
    EXPECT_EQ(engine.RoundCount(), c.rounds);
    EXPECT_EQ(engine.Grid().RowCount(), c.players + 1);
    for (const auto& [where, value] : c.cells) {
      EXPECT_EQ(Cell(where.first, where.second), value) << where.first << "," << where.second;
    }
  }
}

TEST_F(PairingGridOpsTest, LoadingMoreRowsThanTheGridHoldsGrowsAndNumbersThem) {
  std::string text;
  for (int p = 1; p <= 40; ++p) text += std::to_string(p) + "\t8\t1\r";
  std::string wide;
  for (int c = 1; c <= 20; ++c) wide += "9\t";
  text += wide + "9\r";  // 21 cells: more columns than the grid has
  Load(text);
  EXPECT_EQ(engine.PlayerCount(), 41);
  EXPECT_EQ(engine.RoundCount(), 7);
  EXPECT_EQ(engine.Grid().ColCount(), 22);
  EXPECT_EQ(engine.Grid().RowCount(), 42);
  EXPECT_EQ(Cell(41, 21), "9");
  EXPECT_EQ(Cell(40, 1), "40");
  EXPECT_EQ(Cell(41, 0), "41");
}

TEST_F(PairingGridOpsTest, LoadingFewerRowsShrinksTheGrid) {
  Load("1\t2\t3\r4\t5\t6\r");
  EXPECT_EQ(engine.Grid().RowCount(), 3);
  EXPECT_EQ(view.players, 2);
}

TEST_F(PairingGridOpsTest, CopyAfterLoadReproducesTheValuesWithCrOnlyLineEnds) {
  const std::string pasted = "1\t8\t30\t2\t6.5\t25\r\n2\t6\t20\t1\t\t\r\n";
  Load(pasted);
  engine.CopyGridToClipboard();
  EXPECT_EQ(clipboard.text, "1\t8\t30\t2\t6.5\t25\r2\t6\t20\t1\t\t\r");
}

TEST_F(PairingGridOpsTest, CopyWithoutRoundsGivesOneEmptyLinePerPlayer) {
  engine.SetPlayerCount(3);
  engine.LayoutGrid();
  engine.CopyGridToClipboard();
  EXPECT_EQ(clipboard.text, "\r\r\r");
}

TEST_F(PairingGridOpsTest, ZeroScoresOfTheNewestRound) {
  Load("1\t8\t30\t2\t6\t25\r1\t6\t20\t2\t8\t27\r");
  engine.ZeroScores();
  EXPECT_EQ(Cell(1, 6), "0");
  EXPECT_EQ(Cell(2, 6), "0");
  EXPECT_EQ(Cell(1, 3), "30");
  EXPECT_EQ(Cell(3, 6), "");

  engine.ClearTable();
  engine.ZeroScores();  // no round yet: the player numbers stay
  EXPECT_EQ(Cell(1, 0), "1");
  EXPECT_EQ(Cell(2, 0), "2");
}

}  // namespace
}  // namespace pelvaro
