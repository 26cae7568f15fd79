// Meeting counts, points totals and the weights of the player and pair
// graphs, including the exact wm.in text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/CoreErrors.h"
#include "app/core/NumberText.h"
#include "app/core/PairingEngine.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ReadFile;
using testing_support::ScriptedEngine;

class PairingWeightsTest : public ::testing::Test, public ScriptedEngine {
 protected:
  // Players of one table per round: player p has table tables[p-1][r-1]
  // and points points[p-1][r-1] in round r; scores are 0.
  void SetHistory(const std::vector<std::vector<int>>& tables,
                  const std::vector<std::vector<std::string>>& points) {
    std::vector<std::vector<std::string>> rows;
    const int rounds = static_cast<int>(tables[0].size());
    for (size_t p = 0; p < tables.size(); ++p) {
      std::vector<std::string> cells;
      for (int r = 0; r < rounds; ++r) {
        cells.push_back(std::to_string(tables[p][static_cast<size_t>(r)]));
        cells.push_back(points[p][static_cast<size_t>(r)]);
        cells.push_back("0");
      }
      rows.push_back(cells);
    }
    SetRounds(rounds, rows);
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

TEST_F(PairingWeightsTest, WithoutHistoryEveryPairWeighsAMillionAndTwoByesLess) {
  EXPECT_EQ(engine.PairWeight(1, 2), 1000000);
  EXPECT_EQ(engine.PairWeight(31, 32), 1000000);
  engine.SetByesText("2");
  EXPECT_EQ(engine.MeetingCount(31, 32), 20);
  EXPECT_EQ(engine.PairWeight(31, 32), 982000);
  EXPECT_EQ(engine.PairWeight(32, 31), 982000);
  EXPECT_EQ(engine.PairWeight(30, 31), 1000000);  // only one of them is a BYE
  EXPECT_EQ(engine.PairWeight(1, 32), 1000000);
  // The BYE rule needs no history and no questions.
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(PairingWeightsTest, MeetingsCost) {
  // Players 1 and 2 sat together in the first m of five rounds.
  const int expected[] = {1000000, 999800, 999000, 999000, 998000, 997000};
  for (int m = 0; m <= 5; ++m) {
    std::vector<int> one, two;
    for (int r = 0; r < 5; ++r) {
      one.push_back(1);
      two.push_back(r < m ? 1 : 2);
    }
    SetHistory({one, two}, {{"4", "4", "4", "4", "4"}, {"4", "4", "4", "4", "4"}});
    EXPECT_EQ(engine.MeetingCount(1, 2), m);
    EXPECT_EQ(engine.PairWeight(1, 2), expected[m]) << m << " meetings";
  }
}

TEST_F(PairingWeightsTest, TableZeroIsAMeetingAndCountsCompareIntegers) {
  SetHistory({{0, 3, 1}, {0, 3, 2}, {0, 3, 1}, {5, 3, 1}},
             {{"1", "1", "1"}, {"1", "1", "1"}, {"1", "1", "1"}, {"1", "1", "1"}});
  engine.Grid().SetCell(3, 4, "  3");  // leading blanks are part of an integer text
  EXPECT_EQ(engine.MeetingCount(1, 2), 2);
  EXPECT_EQ(engine.TripleCount(1, 2, 3), 2);
  EXPECT_EQ(engine.TripleCount(1, 3, 4), 2);
  EXPECT_EQ(engine.QuadCount(1, 2, 3, 4), 1);
}

TEST_F(PairingWeightsTest, PointsAreRoundedHalvesToEven) {
  struct Case {
    const char* points;
    char separator;
    int32_t total;
  };
  const Case cases[] = {
      {"2.5", '.', 2}, {"3.5", '.', 4}, {"0.5", '.', 0}, {"-2.5", '.', -2}, {"2.51", '.', 3},
      {"2,5", ',', 2}, {"3,5", ',', 4}, {" 7 ", '.', 7}, {"1e1", '.', 10},  {"+6", '.', 6},
  };
  for (const Case& c : cases) {
    SetHistory({{1}, {1}}, {{c.points}, {"0"}});
    engine.SetDecimalSeparator(c.separator);
    EXPECT_EQ(engine.PointsTotal(1), c.total) << c.points;
  }
  engine.SetDecimalSeparator('.');
}

TEST_F(PairingWeightsTest, PointsDifferenceCostsFiveTimesItsSquare) {
  SetHistory({{1, 2}, {2, 1}}, {{"8", "6"}, {"4", "7"}});
  EXPECT_EQ(engine.PointsTotal(1), 14);
  EXPECT_EQ(engine.PointsTotal(2), 11);
  EXPECT_EQ(engine.PairWeight(1, 2), 1000000 - 45);
}

TEST_F(PairingWeightsTest, WeightsUseThirtyTwoBitArithmetic) {
  SetHistory({{1}, {2}}, {{"30000"}, {"0"}});
  // 1,000,000 - 5 * 30000^2 = -4,499,000,000, which wraps to -204,032,704.
  EXPECT_EQ(engine.PairWeight(1, 2), -204032704);
  EXPECT_EQ(RoundToInt32(3e9), -1294967296);
  EXPECT_THROW(RoundToInt32(1e30), EInvalidOp);
}

TEST_F(PairingWeightsTest, ConversionErrorsNameTheText) {
  SetHistory({{1}, {2}}, {{"8"}, {"6"}});
  engine.Grid().SetCell(2, 1, "x1");
  EXPECT_EQ(ErrorOf([&] { engine.MeetingCount(1, 2); }), "'x1' is not a valid integer value");
  engine.Grid().SetCell(2, 1, "2");
  engine.Grid().SetCell(2, 2, "6.5");
  engine.SetDecimalSeparator(',');
  EXPECT_EQ(ErrorOf([&] { engine.PointsTotal(2); }), "'6.5' is not a valid floating point value");
  engine.SetDecimalSeparator('.');
  engine.SetByesText("two");
  EXPECT_EQ(ErrorOf([&] { engine.ComputePairWeights(); }), "'two' is not a valid integer value");
  engine.SetByesText("");
  EXPECT_EQ(ErrorOf([&] { engine.PairWeight(1, 2); }), "'' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { StrToInt("99999999999"); }), "'99999999999' is not a valid integer value");
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST_F(PairingWeightsTest, MissingResultsQuestionIsAskedOncePerComputation) {
  SetHistory({{1, 1}, {1, 1}, {2, 2}, {2, 2}}, {{"8", ""}, {"6", ""}, {"8", "6"}, {"6", ""}});
  dialogs.answer = true;
  engine.ComputePairWeights();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0],
            "Asi jste nezadal výsledky a chcete nalosovat další kolo. Mám ignorovat nevyplněné "
            "výsledky a považovat je za 0 a nalosovat další kolo?");
  EXPECT_TRUE(engine.MissingResultsAsked());
  EXPECT_TRUE(engine.IgnoreMissingResults());
  EXPECT_EQ(engine.PointsTotal(3), 14);
  EXPECT_EQ(engine.PointsTotal(4), 6);  // the empty cell counts 0

  // The flags start afresh with the next computation, so it asks again; No
  // stops it.
  dialogs.answer = false;
  try {
    engine.ComputePairWeights();
    FAIL() << "expected the missing-results error";
  } catch (const vrx::Exception& e) {
    EXPECT_STREQ(e.what(),
                 "Nezadaný výsledek, končím párování. Doplňte výsledky a zkuste to znovu.");
  }
  EXPECT_EQ(dialogs.questions.size(), 2u);
  EXPECT_TRUE(engine.MissingResultsAsked());
  EXPECT_FALSE(engine.IgnoreMissingResults());
  // After a No the same computation keeps refusing without asking again.
  EXPECT_THROW(engine.PointsTotal(1), vrx::Exception);
  EXPECT_EQ(dialogs.questions.size(), 2u);
}

TEST_F(PairingWeightsTest, FourPlayerGraphTextByteForByte) {
  // Round 1: players 1, 2 at table 1 and 3, 4 at table 2; points 8 6 4 2.
  SetHistory({{1}, {1}, {2}, {2}}, {{"8"}, {"6"}, {"4"}, {"2"}});
  engine.ComputePairWeights();
  EXPECT_EQ(view.weightsChanged, 1);
  engine.SetManualMatch(true);
  matchings.push_back("1 2\r\n2 1\r\n3 4\r\n4 3\r\n");
  engine.MatchPairs();
  const std::string expected =
      "4 6 U\r\n"
      "3 1 0 0\r\n2 999780\r\n3 999920\r\n4 999820\r\n"
      "3 2 0 0\r\n1 999780\r\n3 999980\r\n4 999920\r\n"
      "3 3 0 0\r\n1 999920\r\n2 999980\r\n4 999780\r\n"
      "3 4 0 0\r\n1 999820\r\n2 999920\r\n3 999780\r\n";
  EXPECT_EQ(ReadFile("wm.in"), expected);
}

TEST_F(PairingWeightsTest, HeaderOfThirtyTwoPlayers) {
  engine.ComputePairWeights();
  const TextLines& lines = engine.WeightsLines();
  ASSERT_EQ(lines.size(), 1u + 32u * 32u);
  EXPECT_EQ(lines[0], "32 496 U");
  EXPECT_EQ(lines[1], "31 1 0 0");
  EXPECT_EQ(lines[2], "2 1000000");
  EXPECT_EQ(lines[33], "31 2 0 0");
  EXPECT_EQ(lines[34], "1 1000000");
}

TEST_F(PairingWeightsTest, PairGraphWeighsTheHistoryOnly) {
  // Round 1: all four at table 1 (8 6 4 2). Round 2, the new pairs: (1,2)
  // at table 1 and (3,4) at table 2, points not yet typed.
  SetRounds(2, {{"1", "8", "0", "1", "", ""},
                {"1", "6", "0", "1", "", ""},
                {"1", "4", "0", "2", "", ""},
                {"1", "2", "0", "2", "", ""}});
  engine.ComputeFourWeights();
  EXPECT_TRUE(dialogs.questions.empty());  // round 2's empty points are not read
  EXPECT_EQ(engine.RoundCount(), 2);
  // Six weights of 999,800 less 5*(4+16+36+4+16+4); four triples and one
  // quadruple met once: 5,998,400 - 160,000 - 1,000,000.
  EXPECT_EQ(engine.WeightsLines(),
            (TextLines{"2 1 U", "1 1 0 0", "2 4838400", "1 2 0 0", "1 4838400"}));
}

TEST_F(PairingWeightsTest, PairIndexErrors) {
  SetRounds(1, {{"1", "", ""}, {"1", "", ""}, {"1", "", ""}, {"2", "", ""}});
  EXPECT_EQ(ErrorOf([&] { engine.ComputeFourWeights(); }),
            "Nekorektni parovani do dvojic, u stolu cislo 1jsou  nalosovani vic jak dva hraci!");
  EXPECT_EQ(engine.RoundCount(), 1);  // restored after the error

  engine.Grid().SetCell(3, 1, "3");  // above N div 2 = 2
  EXPECT_EQ(ErrorOf([&] { engine.ComputeFourWeights(); }), "Range check error");
  EXPECT_EQ(engine.RoundCount(), 1);
  engine.Grid().SetCell(3, 1, "-1");
  EXPECT_EQ(ErrorOf([&] { engine.ComputeFourWeights(); }), "Range check error");

  engine.SetManualMatch(true);
  matchings.push_back("1 2\n2 1\n");
  engine.Grid().SetCell(3, 1, "2");
  engine.Grid().SetCell(4, 1, "2");
  engine.Grid().SetCell(1, 1, "2");
  EXPECT_EQ(ErrorOf([&] { engine.MatchTablesOfFour(); }),
            "Nekorektni parovani do dvojic, u stolu cislo 2jsou  nalosovani vic jak dva hraci!");
}

}  // namespace
}  // namespace pelvaro
