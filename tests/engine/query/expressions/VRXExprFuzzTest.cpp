// Random and mutated expressions: every text either parses (and its tree
// evaluates or fails with an engine error) or fails with an engine error;
// nothing crashes, however deep the nesting.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "tests/engine/query/expressions/ExprTestRow.h"

namespace vrx {
namespace {

using A = TVRXAdvancedFieldType;

const std::vector<std::string> kSeeds = {
    "a = 1 OR b = 2 AND c = 3",
    "NOT (a > 5) AND b LIKE 'x%' OR c IS NOT NULL",
    "a BETWEEN 1 AND 2 AND b NOT IN (1, 2, 3)",
    "CASE WHEN a > 1 THEN 'x' ELSE 'y' END = 'x'",
    "CASE b WHEN 'p' THEN 1 WHEN 'q' THEN 2 END > 0",
    "UPPER(b) || LOWER(b) = TRIM(b) || RTRIM(LTRIM(b))",
    "SUBSTRING(b FROM 2 FOR 3) = 'x' AND POS('a' IN b) > LENGTH(b)",
    "CAST(a AS VARCHAR(3)) = '1' AND CAST(b AS INTEGER) < 2",
    "(a + 1) * 2 / 3 - -a >= 2147483647",
    "TOSTRING(TODATE('1.2.2020', 'D.M.YYYY'), 'YYYY') = '2020'",
    "a > ALL (SELECT x FROM t) OR EXISTS (SELECT * FROM u)",
    "(a = 1) IS NOT UNKNOWN AND (b = 'x') IS FALSE",
    "MIMETOBIN('QUJD') = 'ABC' AND ROWNUM < 3",
    "SUM(a) + COUNT(*) > AVG(a) AND MAX(b) <> MIN(b)",
};

const std::vector<std::string> kPieces = {
    "(", ")", "(", ")", ",", " AND ", " OR ", " NOT ", "=", "<>", "<", ">=", "+", "-", "*", "/",
    "||", " a ", " b ", " t.a ", " 1 ", " 2147483647 ", " 1.5 ", " 'x' ", " NULL ", " TRUE ",
    " IS ", " NULL ", " LIKE ", " IN ", " BETWEEN ", " CASE ", " WHEN ", " THEN ", " ELSE ",
    " END ", " CAST ", " AS ", " VARCHAR ", " SELECT ", " UPPER ", " SUBSTRING ", " FROM ",
    " FOR ", " COUNT ", " ALL ", " EXISTS ", " ROWNUM ", " TODATE ", " UNKNOWN ", "''", "[",
    "]", "`", ";", ":p", "?", "%", "é", "\n"};

// Parses `text` as a condition and as a value; evaluates what parsed.
void Exercise(test::TestRow& row, const std::string& text) {
  try {
    TVRXExpression e;
    e.ParseFilter(&row, text, false, true);
    try {
      e.GetValue(true);
      e.GetDataType();
    } catch (const EVRXException&) {
    }
  } catch (const EVRXException&) {
  }
  try {
    TVRXLexer lexer(text, nullptr);
    if (!lexer.NextStatement()) return;
    TVRXExpression e;
    e.ParseValue(nullptr, lexer);
    e.BindToCursor(&row);
    e.ResetAggregates();
    e.Accumulate();
    e.GetValue(true);
    e.GetDataSize();
  } catch (const EVRXException&) {
  }
}

TEST(ExprFuzzTest, RandomAndMutatedExpressions) {
  test::TestRow row;
  row.Add("a", A::Integer, 0, "7").Add("b", A::String, 10, "xyz");
  std::mt19937 random(20240615);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  int parsed = 0;
  for (int round = 0; round < 150000; ++round) {
    std::string text;
    if (round % 2 == 0) {
      // A seed with a few random edits.
      text = kSeeds[pick(kSeeds.size())];
      for (size_t edits = 1 + pick(4); edits > 0; --edits) {
        const size_t at = pick(text.size() + 1);
        switch (pick(3)) {
          case 0:
            text.insert(at, kPieces[pick(kPieces.size())]);
            break;
          case 1:
            text.erase(at, pick(4));
            break;
          default:
            if (!text.empty()) text[at % text.size()] = static_cast<char>(32 + pick(95));
            break;
        }
      }
    } else {
      for (size_t n = 1 + pick(12); n > 0; --n) text += kPieces[pick(kPieces.size())];
    }
    try {
      TVRXExpression e;
      e.ParseFilter(nullptr, text, false, false);
      ++parsed;
    } catch (const EVRXException&) {
    }
    Exercise(row, text);
  }
  EXPECT_GT(parsed, 1000);  // the mutations leave many texts valid
}

TEST(ExprFuzzTest, DeepNestingIsRefusedNotACrash) {
  test::TestRow row;
  row.Add("a", A::Integer, 0, "7").Add("b", A::String, 10, "xyz");
  const std::vector<std::pair<std::string, std::string>> wraps = {
      {"(", ")"},         {"NOT (", ")"},          {"UPPER(", ")"},
      {"-(", ")"},        {"CASE WHEN ", " THEN 1 END = 1"}, {"CAST(", " AS INTEGER)"},
      {"(a = 1 OR ", ")"}, {"SUBSTRING(", " FROM 1)"},
  };
  for (const auto& [open, close] : wraps) {
    for (int levels : {50, 1000, 50000}) {
      std::string text;
      for (int i = 0; i < levels; ++i) text += open;
      text += "a = 1";
      for (int i = 0; i < levels; ++i) text += close;
      Exercise(row, text);
    }
  }
  std::string product = "a";
  for (int i = 0; i < 100000; ++i) product += " * a";
  Exercise(row, product + " = 1");
}

}  // namespace
}  // namespace vrx
