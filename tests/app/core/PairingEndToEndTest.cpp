// The whole next-round sequence with the real matching program: a grid of 32
// players with three rounds played comes back with a fourth round of tables
// of four.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/core/CommandInterpreter.h"
#include "app/core/PairingEngine.h"
#include "app/core/TextLines.h"
#include "tests/app/core/PairingTestSupport.h"

#ifndef PELVARO_WMATCH_PATH
#error "PELVARO_WMATCH_PATH names the built matching program"
#endif

namespace pelvaro {
namespace {

using testing_support::ScriptedEngine;

// Round r seats player p (0-based) at one of eight tables so that the three
// rounds mix the players; places at a table give 8, 6, 4, 2 points.
std::string ThreeRounds() {
  std::string text;
  for (int p = 0; p < 32; ++p) {
    const int tables[3] = {p / 4, (p % 8), (p / 4 + 3 * (p % 4)) % 8};
    for (int r = 0; r < 3; ++r) {
      int place = 0;  // how many players of the same table come before p
      for (int q = 0; q < p; ++q) {
        const int other[3] = {q / 4, (q % 8), (q / 4 + 3 * (q % 4)) % 8};
        if (other[r] == tables[r]) ++place;
      }
      const int points = 8 - 2 * place;
      text += std::to_string(tables[r] + 1) + "\t" + std::to_string(points) + "\t" +
              std::to_string(100 + p) + (r < 2 ? "\t" : "\r\n");
    }
  }
  return text;
}

class PairingEndToEndTest : public ::testing::Test, public ScriptedEngine {
 protected:
  void SetUp() override { SetWmatchProgram(PELVARO_WMATCH_PATH); }
  void TearDown() override { SetWmatchProgram(""); }
};

TEST_F(PairingEndToEndTest, ThirtyTwoPlayersGetAFourthRoundAtTablesOfFour) {
  clipboard.text = ThreeRounds();
  engine.LoadGridFromClipboard();
  ASSERT_EQ(engine.PlayerCount(), 32);
  ASSERT_EQ(engine.RoundCount(), 3);
  // Every table of the history holds four players.
  for (int r = 1; r <= 3; ++r) {
    std::map<std::string, int> sizes;
    for (int k = 1; k <= 32; ++k) ++sizes[engine.Grid().Cell(k, 3 * r - 2)];
    for (const auto& [table, size] : sizes)
      ASSERT_EQ(size, 4) << "round " << r << " table " << table;
  }

  engine.FullPairing();

  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(engine.RoundCount(), 4);
  std::map<int, std::vector<int>> tables;
  for (int k = 1; k <= 32; ++k) tables[std::stoi(engine.Grid().Cell(k, 10))].push_back(k);
  ASSERT_EQ(tables.size(), 8u);
  int expectedNumber = 1;
  for (const auto& [number, players] : tables) {
    EXPECT_EQ(number, expectedNumber++);
    EXPECT_EQ(players.size(), 4u) << "table " << number;
  }
  // No new table repeats a table of the history (that costs a million): the
  // four meet in the new round only.
  for (const auto& [number, players] : tables) {
    EXPECT_EQ(engine.QuadCount(players[0], players[1], players[2], players[3]), 1)
        << "table " << number;
  }

  // The files of the last step stay, and the clipboard has the new grid.
  const TextLines in = LoadLinesFromFile("wm.in");
  ASSERT_FALSE(in.empty());
  EXPECT_EQ(in[0], "16 120 U");
  EXPECT_EQ(LoadLinesFromFile("wm.out").size(), 16u);
  EXPECT_EQ(engine.MatchingLines().size(), 16u);
  const TextLines copied = SplitLines(clipboard.text);
  ASSERT_EQ(copied.size(), 32u);
  EXPECT_EQ(clipboard.text.find('\n'), std::string::npos);
  EXPECT_EQ(view.pageShown, 1);
  EXPECT_EQ(view.round, 4);
}

}  // namespace
}  // namespace pelvaro
