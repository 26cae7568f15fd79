// The seating with fewer repeat meetings: it finds a round without repeats
// where one exists even when the standings point elsewhere, keeps BYE players
// apart, lets those sit out who have not yet, numbers the tables like the
// matching steps do, and reports the repeats of the round it seats.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/core/PairingEngine.h"
#include "app/core/Seating.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ScriptedEngine;

SeatingInput Input(int players, const std::vector<int64_t>& points) {
  SeatingInput in;
  in.players = players;
  in.points = points;
  in.meetings.assign(static_cast<size_t>(players * players), 0);
  in.sitOuts.assign(static_cast<size_t>(players), 0);
  in.bye.assign(static_cast<size_t>(players), false);
  return in;
}

// Adds a round of the history: table[p] for every player, 0 = sat out.
void AddRound(SeatingInput& in, const std::vector<int>& table) {
  const int n = in.players;
  for (int a = 0; a < n; ++a) {
    if (table[static_cast<size_t>(a)] == 0) {
      ++in.sitOuts[static_cast<size_t>(a)];
      continue;
    }
    for (int b = 0; b < n; ++b) {
      if (a != b && table[static_cast<size_t>(a)] == table[static_cast<size_t>(b)])
        ++in.meetings[static_cast<size_t>(a * n + b)];
    }
  }
}

// Sixteen players as the points of the affine plane of order 4: four rounds
// played on four of its five parallel classes leave exactly one round without
// a repeat, the fifth class (players with the same x). The points sort the
// players by y, so the standings seat every table of the first class again.
TEST(SeatingTest, FindsTheOnlyRoundWithoutRepeats) {
  const int mul[4][4] = {{0, 0, 0, 0}, {0, 1, 2, 3}, {0, 2, 3, 1}, {0, 3, 1, 2}};
  std::vector<int64_t> points;
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) points.push_back(100 - 10 * y - x);
  SeatingInput in = Input(16, points);
  for (int slope = 0; slope < 4; ++slope) {
    std::vector<int> table;
    for (int x = 0; x < 4; ++x)
      for (int y = 0; y < 4; ++y) table.push_back(1 + (y ^ mul[slope][x]));  // b = y - m x
    AddRound(in, table);
  }
  std::vector<int> standings(16);
  for (int p = 0; p < 16; ++p) standings[static_cast<size_t>(p)] = p % 4;  // same y together
  EXPECT_EQ(ScoreSeating(in, standings).repeats, 24);

  const Seating seating = SeatWithFewerRepeats(in);
  EXPECT_EQ(ScoreSeating(in, seating).repeats, 0);
  for (int p = 0; p < 16; ++p) {
    EXPECT_EQ(seating[static_cast<size_t>(p)], seating[static_cast<size_t>(p / 4 * 4)]) << p;
  }
}

// Sixteen players after two rounds, tables of four by x, then by y (x, y
// in 0..3). A third round without repeats takes one player of each x and
// each y to a table, but only the rounds that are a parallel class of the
// affine plane of order 4 leave a fourth round without repeats, and the
// fourth one a fifth; the others (built like the cyclic group of order 4)
// force a repeat at every table of the next round. Points shared by all
// players of one x or one y make every round without repeats equally even,
// so only a look at the rounds after it can tell them apart.
TEST(SeatingTest, RoundsWithoutRepeatsLeaveSuchRoundsAfterThem) {
  struct Case {
    const char* name;
    int64_t points[4];  // by x; by y when byY
    bool byY;
  };
  const Case cases[] = {
      {"points by first table", {30, 20, 10, 0}, false},
      {"points by second table", {9, 6, 3, 0}, true},
      {"equal points", {0, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    std::vector<int64_t> points;
    for (int x = 0; x < 4; ++x)
      for (int y = 0; y < 4; ++y) points.push_back(c.points[c.byY ? y : x]);
    SeatingInput in = Input(16, points);
    std::vector<int> byX;
    std::vector<int> byY;
    for (int p = 0; p < 16; ++p) {
      byX.push_back(1 + p / 4);
      byY.push_back(1 + p % 4);
    }
    AddRound(in, byX);
    AddRound(in, byY);
    for (int round = 3; round <= 5; ++round) {
      const Seating seating = SeatWithFewerRepeats(in);
      EXPECT_EQ(ScoreSeating(in, seating).repeats, 0) << c.name << ", round " << round;
      AddRound(in, NumberTables(seating));
    }
    // Every pair has met exactly once.
    for (int a = 0; a < 16; ++a)
      for (int b = 0; b < 16; ++b)
        EXPECT_EQ(in.Meetings(a, b), a == b ? 0 : 1) << c.name << ": " << a << "-" << b;
  }
}

// Thirty-two players whose history never seated two of the same group of
// four together: those groups are a round without repeats, and the search
// finds one, with tables as even as the standings allow it.
TEST(SeatingTest, ZeroRepeatsWhenTheRoundAllowsIt) {
  std::vector<int64_t> points;
  for (int p = 0; p < 32; ++p) points.push_back((p * 37) % 29);
  SeatingInput in = Input(32, points);
  const int shifts[][2] = {{1, 0}, {3, 0}, {5, 0}, {7, 0}, {1, 1}, {3, 2}};
  for (const auto& [step, shift] : shifts) {
    std::vector<int> table;
    for (int p = 0; p < 32; ++p) table.push_back(1 + (p / 4 + step * (p % 4) + shift) % 8);
    AddRound(in, table);
  }
  const SeatingScore score = ScoreSeating(in, SeatWithFewerRepeats(in));
  EXPECT_EQ(score.repeats, 0);
  EXPECT_EQ(score.byePairs, 0);
}

TEST(SeatingTest, ByesApartAndSitOutsShared) {
  // Sixteen players, the last four BYEs with the lowest points: the
  // standings would seat them at one table.
  std::vector<int64_t> points;
  for (int p = 0; p < 16; ++p) points.push_back(50 - p);
  SeatingInput in = Input(16, points);
  for (int p = 12; p < 16; ++p) in.bye[static_cast<size_t>(p)] = true;
  const Seating seating = SeatWithFewerRepeats(in);
  std::set<int> tablesOfByes;
  for (int p = 12; p < 16; ++p) tablesOfByes.insert(seating[static_cast<size_t>(p)]);
  EXPECT_EQ(tablesOfByes.size(), 4u);

  // Eighteen players: two sit out, not the two lowest who sat out before.
  std::vector<int64_t> more;
  for (int p = 0; p < 18; ++p) more.push_back(50 - p);
  SeatingInput sitOut = Input(18, more);
  sitOut.sitOuts[16] = sitOut.sitOuts[17] = 1;
  const std::vector<int> numbers = NumberTables(SeatWithFewerRepeats(sitOut));
  EXPECT_NE(numbers[16], 0);
  EXPECT_NE(numbers[17], 0);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 0), 2);
}

TEST(SeatingTest, TablesNumberedByTheirLowestPlayer) {
  struct Case {
    Seating seating;
    std::vector<int> tables;
  };
  const Case cases[] = {
      {{1, 0, 1, 0, 0, 1, 1, 0}, {1, 2, 1, 2, 2, 1, 1, 2}},
      // 6 players: one table, the group after the tables sits out
      {{1, 0, 0, 1, 0, 0}, {0, 1, 1, 0, 1, 1}},
      {{0, 0, 0}, {0, 0, 0}},
      {{}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberTables(c.seating), c.tables);
}

// Through the engine: the grid's next round, its report, and no matching
// files.
TEST(SeatingEngineTest, FullPairingWithFewerRepeats) {
  ScriptedEngine s;
  // Nine players after one round: 1-4 at table 1, 5-8 at table 2, 9 out.
  std::vector<std::vector<std::string>> rows;
  const char* points[] = {"8", "6", "4", "2", "8", "6", "4", "2", ""};
  for (int p = 1; p <= 9; ++p) {
    rows.push_back({p <= 4 ? "1" : p <= 8 ? "2" : "0", points[p - 1], "0"});
  }
  s.SetRounds(1, rows);
  s.engine.SetFewerRepeats(true);
  s.engine.FullPairing();

  EXPECT_EQ(s.dialogs.questions.size(), 1u);  // player 9's empty points
  EXPECT_TRUE(s.dialogs.messages.empty());
  EXPECT_FALSE(std::filesystem::exists("wm.in"));
  EXPECT_EQ(s.engine.RoundCount(), 2);
  EXPECT_EQ(s.view.round, 2);
  EXPECT_EQ(s.view.pageShown, 1);
  EXPECT_EQ(s.engine.Grid().Cell(1, 4), "1");
  // Player 9 is seated now; one of the others sits out; the two old tables
  // are mixed two and two, the least two tables of four can do.
  EXPECT_NE(s.engine.Grid().Cell(9, 4), "0");
  int out = 0;
  for (int p = 1; p <= 9; ++p) out += s.engine.Grid().Cell(p, 4) == "0";
  EXPECT_EQ(out, 1);
  const TextLines& report = s.engine.RepeatReport();
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report[0], "Repeat meetings in round 2: " +
                           std::to_string(s.engine.RepeatMeetings().size()));
  EXPECT_LE(s.engine.RepeatMeetings().size(), 3u);
  for (const RepeatMeeting& m : s.engine.RepeatMeetings()) {
    EXPECT_EQ(m.before, 1);
    EXPECT_EQ(s.engine.Grid().Cell(m.first, 4), s.engine.Grid().Cell(m.second, 4));
  }
  EXPECT_EQ(s.clipboard.sets, 1);
}

TEST(SeatingEngineTest, ReportOfTheTablesOfFourStep) {
  ScriptedEngine s;
  s.engine.SetManualMatch(true);
  // Round 1: 1-4 at table 1, 5-8 at table 2; round 2 so far: pairs
  // (1,2) (3,5) (4,6) (7,8), joined as (1,2)+(3,5) and (4,6)+(7,8).
  std::vector<std::vector<std::string>> rows;
  const char* pairs[] = {"1", "1", "2", "3", "2", "3", "4", "4"};
  for (int p = 1; p <= 8; ++p) {
    rows.push_back({p <= 4 ? "1" : "2", "4", "0", pairs[p - 1], "", ""});
  }
  s.SetRounds(2, rows);
  s.matchings = {"1 2\n2 1\n3 4\n4 3\n"};
  s.engine.MatchTablesOfFour();
  EXPECT_EQ(s.engine.RepeatReport(), (TextLines{
                                          "Repeat meetings in round 2: 6",
                                          "1 - 2 at table 1: met 1 time before",
                                          "1 - 3 at table 1: met 1 time before",
                                          "2 - 3 at table 1: met 1 time before",
                                          "6 - 7 at table 2: met 1 time before",
                                          "6 - 8 at table 2: met 1 time before",
                                          "7 - 8 at table 2: met 1 time before",
                                      }));
}

}  // namespace
}  // namespace pelvaro
