// The matching steps: command lines and manual match, numbering of tables of
// two and of four from wm.out, the 255-table limit, and the failures of
// reading wm.out.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/core/PairingEngine.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ConsecutiveMatching;
using testing_support::ScriptedEngine;
using testing_support::WriteFile;

class PairingStepsTest : public ::testing::Test, public ScriptedEngine {
 protected:
  void SetUp() override { engine.SetManualMatch(true); }

  // N players, no history yet.
  void Players(int n) {
    engine.SetPlayerCount(n);
    engine.LayoutGrid();
  }

  std::string ErrorOf(const std::function<void()>& step) {
    try {
      step();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }
};

TEST_F(PairingStepsTest, ManualMatchShowsEachLineAndReadsWmOutAsLeft) {
  Players(4);
  matchings = {"1 3\r\n2 4\r\n3 1\r\n4 2\r\n", "1 2\r\n2 1\r\n"};
  engine.FullPairing();
  const std::string ask = "Prosim provedete manualne akci odpovidajici prikazu: ";
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{
                                  ask + "cmd  /c del wm.out",
                                  ask + "cmd  /c wmatch wm.in > wm.out",
                                  ask + "cmd /c del wm.out",
                                  ask + "cmd /c wmatch wm.in > wm.out",
                              }));
  EXPECT_EQ(engine.RoundCount(), 1);
  EXPECT_EQ(TableColumn(1), "1 1 1 1");
  EXPECT_EQ(engine.MatchingLines(), (TextLines{"1 2", "2 1"}));
  EXPECT_EQ(clipboard.text, "1\t\t\r1\t\t\r1\t\t\r1\t\t\r");
  EXPECT_EQ(view.pageShown, 1);
  EXPECT_EQ(view.round, 1);
  EXPECT_EQ(view.matchingChanged, 2);
  // wm.in holds the pair graph, the last one computed.
  EXPECT_EQ(testing_support::ReadFile("wm.in"),
            "2 1 U\r\n1 1 0 0\r\n2 6000000\r\n1 2 0 0\r\n1 6000000\r\n");
}

TEST_F(PairingStepsTest, CommandPrefixChangesOnlyThePairsStep) {
  Players(4);
  PairingEngine::SetCommandPrefix("command");
  matchings = {ConsecutiveMatching(4), ConsecutiveMatching(2)};
  engine.FullPairing();
  PairingEngine::SetCommandPrefix("cmd ");
  const std::string ask = "Prosim provedete manualne akci odpovidajici prikazu: ";
  ASSERT_EQ(dialogs.messages.size(), 4u);
  EXPECT_EQ(dialogs.messages[0], ask + "command /c del wm.out");
  EXPECT_EQ(dialogs.messages[1], ask + "command /c wmatch wm.in > wm.out");
  EXPECT_EQ(dialogs.messages[2], ask + "cmd /c del wm.out");
  EXPECT_EQ(dialogs.messages[3], ask + "cmd /c wmatch wm.in > wm.out");
}

TEST_F(PairingStepsTest, PairsAreNumberedByTheirLowerPlayer) {
  Players(6);
  matchings = {"1 4\n2 6\n3 5\n4 1\n5 3\n6 2\n"};
  engine.MatchPairs();
  EXPECT_EQ(TableColumn(1), "1 2 3 1 3 2");
  EXPECT_EQ(engine.Grid().Cell(1, 2), "");  // points and score are left as they were
}

TEST_F(PairingStepsTest, OddCountsLeaveTableZero) {
  struct Case {
    int players;
    std::string pairs;
    std::string fours;
    std::string tables;
  };
  const Case cases[] = {
      // five players: player 5 unmatched, then pairs 1 and 2 form table 1
      {5, ConsecutiveMatching(5), "1 2\n2 1\n", "1 1 1 1 0"},
      // six players, three pairs: pair 3 is left over in the four step
      {6, ConsecutiveMatching(6), "1 2\n2 1\n3 0\n", "1 1 1 1 0 0"},
      // seven players: pair 3 (players 5, 6) unmatched, player 7 at table 0
      {7, ConsecutiveMatching(7), "1 2\n2 1\n3 0\n", "1 1 1 1 0 0 0"},
      // pairs 1 and 3 at table 1, 2 and 4 at table 2
      {8, ConsecutiveMatching(8), "1 3\n2 4\n3 1\n4 2\n", "1 1 2 2 1 1 2 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.players);
    engine.ClearTable();
    Players(c.players);
    matchings = {c.pairs, c.fours};
    engine.MatchPairs();
    engine.ComputeFourWeights();
    engine.MatchTablesOfFour();
    EXPECT_EQ(TableColumn(1), c.tables);
    EXPECT_EQ(engine.RoundCount(), 1);
  }
}

TEST_F(PairingStepsTest, AtMost255TablesPerStep) {
  Players(510);
  matchings = {ConsecutiveMatching(510)};
  engine.MatchPairs();
  EXPECT_EQ(engine.Grid().Cell(510, 1), "255");

  engine.ClearTable();
  Players(512);
  matchings = {ConsecutiveMatching(512)};
  EXPECT_EQ(ErrorOf([&] { engine.MatchPairs(); }), "Range check error");
  EXPECT_EQ(engine.RoundCount(), 0);  // nothing of the round is added
  EXPECT_EQ(engine.Grid().Cell(1, 1), "");
}

TEST_F(PairingStepsTest, FourStepNumbersAtMost255Tables) {
  std::vector<std::vector<std::string>> rows;
  for (int k = 1; k <= 1024; ++k) rows.push_back({std::to_string((k + 1) / 2), "", ""});
  SetRounds(1, rows);
  matchings = {ConsecutiveMatching(512)};
  EXPECT_EQ(ErrorOf([&] { engine.MatchTablesOfFour(); }), "Range check error");
  EXPECT_EQ(engine.Grid().Cell(1, 1), "1");  // pair numbers stay
}

TEST_F(PairingStepsTest, WmOutFailures) {
  Players(4);
  // The user runs nothing: wm.out was never written.
  EXPECT_EQ(ErrorOf([&] { engine.MatchPairs(); }),
            "Cannot open file \"" + (std::filesystem::current_path() / "wm.out").string() +
                "\". No such file or directory");
  EXPECT_EQ(engine.RoundCount(), 0);
  EXPECT_EQ(engine.MatchingLines(), TextLines{"PAROVANI"});

  // Fewer lines than vertices: said so, and no round is added.
  matchings = {"1 2\n2 1\n3 4\n"};
  EXPECT_EQ(ErrorOf([&] { engine.MatchPairs(); }), "wm.out has 3 lines, expected 4");
  EXPECT_EQ(engine.RoundCount(), 0);
  EXPECT_EQ(engine.Grid().Cell(1, 1), "");

  engine.ClearTable();
  matchings = {"1 2\n2 x\n3 4\n4 3\n"};
  EXPECT_EQ(ErrorOf([&] { engine.MatchPairs(); }), "'x' is not a valid integer value");

  // Only the text after the first blank counts; a line without one is read whole.
  engine.ClearTable();
  matchings = {"9 2\n1\n3  4\n4 3 \n"};
  EXPECT_EQ(ErrorOf([&] { engine.MatchPairs(); }), "'3 ' is not a valid integer value");
  engine.ClearTable();
  matchings = {"9 2\n1\n3  4\n4 3\n"};
  engine.MatchPairs();
  EXPECT_EQ(TableColumn(1), "1 1 2 2");

  // A mate below 0 is out of range.
  engine.ClearTable();
  matchings = {"1 -1\n2 1\n3 4\n4 3\n"};
  EXPECT_EQ(ErrorOf([&] { engine.MatchPairs(); }), "Range check error");
}

TEST_F(PairingStepsTest, NoPlayersShowsTheNoDataMessageOnly) {
  Players(0);
  engine.FullPairing();
  EXPECT_EQ(dialogs.messages,
            std::vector<std::string>{"Žádná data. Načtěte data a zkuste to znovu."});
  engine.ComputePairWeights();
  EXPECT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(engine.WeightsLines(), TextLines{"VAHY"});
  EXPECT_FALSE(std::filesystem::exists("wm.in"));
  EXPECT_EQ(clipboard.sets, 0);
}

TEST_F(PairingStepsTest, EachStepUsesTheWeightsListAsItStands) {
  Players(4);
  engine.ComputePairWeights();
  engine.SetWeightsLines({"edited by hand"});
  matchings = {ConsecutiveMatching(4)};
  engine.MatchPairs();
  EXPECT_EQ(testing_support::ReadFile("wm.in"), "edited by hand\r\n");
}

}  // namespace
}  // namespace pelvaro
