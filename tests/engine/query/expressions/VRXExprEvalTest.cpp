// Evaluation of parsed expressions over an in-memory row: SQL NULLs and
// Locate's NULLs, LIKE, the string functions, CAST, CASE, arithmetic,
// aggregates, ROWNUM, partial comparison and the index candidates.
#include <gtest/gtest.h>

#include <string>

#include "engine/base/VRXExcept.h"
#include "tests/engine/query/expressions/ExprTestRow.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using A = TVRXAdvancedFieldType;
using pelvaro::test::MessageOf;
using test::TestRow;

TestRow People() {
  TestRow row;
  row.Add("Name", A::String, 20, "John")
      .Add("Age", A::Integer, 0, "42")
      .Add("Nothing", A::Integer, 0, "", true)
      .Add("Note", A::String, 10, "", true)
      .Add("Big", A::Integer, 0, "2147483647");
  return row;
}

// "NULL" for a NULL result, else the value as text.
std::string Value(TestRow& row, std::string_view text) {
  TVRXLexer lexer(text, nullptr);
  lexer.NextStatement();
  TVRXExpression e;
  e.ParseValue(nullptr, lexer);
  e.BindToCursor(&row);
  const TVRXVariant* v = e.GetValue(true);
  return v->IsNull() ? "NULL" : v->GetAsString();
}

std::string Condition(TestRow& row, std::string_view text) {
  TVRXExpression e;
  e.ParseFilter(&row, text, false, false);
  const TVRXVariant* v = e.GetValue(true);
  return v->IsNull() ? "NULL" : v->GetAsLogical() ? "true" : "false";
}

TEST(ExprEvalTest, Conditions) {
  TestRow row = People();
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      // SQL NULLs: comparisons never yield NULL; "<>" is the one true one.
      {"Nothing <> 5", "true"},
      {"Nothing = Nothing", "false"},
      {"Nothing < 5", "false"},
      {"NOT (Nothing > 5)", "true"},
      {"Nothing IS NULL", "true"},
      {"Age IS NOT NULL", "true"},
      {"Nothing IN (1, 2)", "NULL"},
      {"Age IN (1, 42)", "true"},
      {"Age NOT IN (1, 42)", "false"},
      {"Age BETWEEN 40 AND 42", "true"},
      {"Age NOT BETWEEN 40 AND 42", "false"},
      {"Age BETWEEN Nothing AND 50", "NULL"},
      // AND: a NULL goes on, a later false wins; OR likewise for true.
      {"Nothing IN (1) AND Age = 1", "false"},
      {"Nothing IN (1) AND Age = 42", "NULL"},
      {"Nothing IN (1) OR Age = 42", "true"},
      {"(Age = 42) IS TRUE", "true"},
      {"(Age = 42) IS NOT TRUE", "false"},
      {"(Nothing IN (1)) IS UNKNOWN", "true"},
      // Precedence: a = 1 OR b = 2 AND c = 3 is a = 1 OR (b = 2 AND c = 3).
      {"Age = 42 OR Age = 1 AND Age = 2", "true"},
      {"(Age = 42 OR Age = 1) AND Age = 2", "false"},
      // The LIKE table; no escape character, case matters.
      {"'abc' LIKE 'a%'", "true"},
      {"'abc' LIKE '%c'", "true"},
      // An empty text is NULL in this engine.
      {"'' LIKE '%'", "NULL"},
      {"'ab' LIKE 'a_'", "true"},
      {"'abc' LIKE 'a_'", "false"},
      {"'ABC' LIKE 'abc'", "false"},
      {"Name NOT LIKE 'J%'", "false"},
      {"Note LIKE '%'", "NULL"},
      // Arithmetic inside comparisons, the numbers at the INTEGER limit.
      {"Age * 2 + 1 = 85", "true"},
      {"2147483646 < 2147483647", "true"},
      {"Big - 1 = 2147483646", "true"},
      {"-Age = 0 - 42", "true"},
      {"(Age + 1) * 2 = 86", "true"},
      {"TRUE", "true"},
      {"Name = 'John' AND (Age > 40 OR Age < 10)", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(Condition(row, c.text), c.expected) << c.text;
}

TEST(ExprEvalTest, Values) {
  TestRow row = People();
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"LENGTH(NULL)", "0"},
      {"LENGTH(Name)", "4"},
      {"LENGTH('čaj')", "3"},
      {"SUBSTRING('abcdef' FROM 3)", "cdef"},
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", "bcd"},
      {"SUBSTRING('abcdef', 5, 10)", "ef"},
      {"SUBSTRING('abcdef' FROM 9)", "NULL"},  // the empty text
      {"SUBSTRING(Note FROM 1)", "NULL"},
      {"POS('c' IN 'abc')", "3"},
      {"POSITION('x', 'abc')", "0"},
      {"POS('j' IN 'čaj')", "3"},
      {"CAST('abcdef' AS VARCHAR(3))", "abc"},
      {"CAST(42 AS VARCHAR)", "42"},
      {"CAST('12' AS INTEGER) + 1", "13"},
      {"UPPER(Name) || '!'", "JOHN!"},
      {"LOWER('ŽLUŤ')", "žluť"},
      {"TRIM('  a b  ') || '|'", "a b|"},
      {"LTRIM('  a ') || '|'", "a |"},
      {"RTRIM('  a ') || '|'", "  a|"},
      {"'a' + 1 + 2", "a12"},
      {"1 + 2 + 'a'", "12a"},
      {"'x' || Age", "x42"},
      {"Note || 'x'", "x"},
      {"Age + Nothing", "NULL"},
      {"7 / 2", "3"},
      {"CASE Age WHEN 1 THEN 'one' WHEN 42 THEN 'many' ELSE 'other' END", "many"},
      {"CASE WHEN Age > 50 THEN 'old' END", "NULL"},
      {"CASE WHEN Age > 40 THEN 1 ELSE 2.5 END", "1"},
      {"CASE Name WHEN 'JOHN' THEN 'same ignoring case' END", "same ignoring case"},
      {"TOSTRING(TODATE('24.12.2023', 'DD.MM.YYYY'), 'YYYY-MM-DD')", "2023-12-24"},
  };
  for (const auto& c : cases) EXPECT_EQ(Value(row, c.text), c.expected) << c.text;

  TVRXLexer lexer("MIMETOBIN('SgBobg==')", nullptr);
  lexer.NextStatement();
  TVRXExpression mime;
  mime.ParseValue(nullptr, lexer);
  EXPECT_EQ(mime.GetValue()->GetAsBlob(), std::string("J\0hn", 4));

  std::string large(5000, 'x');
  EXPECT_EQ(Value(row, "CAST('" + large + "' AS VARCHAR)").size(), 4096u);
}

TEST(ExprEvalTest, ErrorsWhileEvaluating) {
  TestRow row = People();
  EXPECT_EQ(MessageOf([&] { Value(row, "Big + 1"); }),
            "Integer overflow in numeric operator '+' - Native error: 30065");
  EXPECT_EQ(MessageOf([&] { Value(row, "-Big - 2"); }),
            "Integer overflow in numeric operator '-' - Native error: 30065");
  EXPECT_EQ(MessageOf([&] { Value(row, "Big * Big"); }),
            "Integer overflow in numeric operator '*' - Native error: 30066");
  EXPECT_EQ(MessageOf([&] { Condition(row, "Age LIKE 5"); }),
            "Not string argument in function 'LIKE' - Native error: 30074");
  EXPECT_EQ(MessageOf([&] { Condition(row, "Age IN (SELECT x FROM t)"); }),
            "Subquery cannot be executed without an SQL statement - Native error: 30077");
  EXPECT_EQ(MessageOf([&] { Condition(row, "Missing = 1"); }),
            "Field 'Missing' not found - Native error: 30070");
  TVRXExpression empty;
  EXPECT_EQ(MessageOf([&] { empty.IsTrue(); }), "Value is Null - Native error: 30073");
}

TEST(ExprEvalTest, TwoNumbersAroundTheIntegerLimit) {
  TestRow row = People();
  for (auto [text, type] : {std::pair{"2147483646", A::Integer}, {"2147483647", A::LargeInt}}) {
    TVRXLexer lexer(text, nullptr);
    lexer.NextStatement();
    TVRXExpression e;
    e.ParseValue(nullptr, lexer);
    EXPECT_EQ(e.GetDataType(), type) << text;
    EXPECT_EQ(e.GetValue()->GetAsString(), text);
  }
}

TEST(ExprEvalTest, LocateTreatsNullsAsValues) {
  TestRow row = People();
  TVRXExpression locate;
  const TVRXVariant nullKey[] = {TVRXVariant(TVRXBaseFieldType::Integer)};
  locate.BuildLocate(&row, "nothing", nullKey, false, false);
  EXPECT_TRUE(locate.IsTrue());  // a NULL field locates a NULL key
  TVRXVariant john;
  john.SetAsString("JOHN");
  TVRXVariant age;
  age.SetAsInteger(42);
  const TVRXVariant two[] = {john, age};
  locate.BuildLocate(&row, " Name ; Age", two, false, true);
  EXPECT_TRUE(locate.IsTrue());
  locate.BuildLocate(&row, "Name;Age", two, false, false);
  EXPECT_FALSE(locate.IsTrue());
  EXPECT_EQ(MessageOf([&] { locate.BuildLocate(&row, "Name;Age", nullKey, false, false); }),
            "Count of FieldNames (2) not equal counts of KeyValues (1) - Native error: 30081");
  // LocateValue: "<" with NULL first.
  locate.BuildLocateValue(&row, "Nothing", age, eoLess);
  EXPECT_TRUE(locate.IsTrue());
}

TEST(ExprEvalTest, PartialCompareInFilters) {
  for (const char* name : {"John", "Joan", "Jo*", "Bob"}) {
    TestRow row;
    row.Add("Name", A::String, 20, name);
    TVRXExpression partial;
    partial.ParseFilter(&row, "Name = 'Jo*'", false, true);
    TVRXExpression exact;
    exact.ParseFilter(&row, "Name = 'Jo*'", false, false);
    const std::string n = name;
    EXPECT_EQ(partial.IsTrue(), n != "Bob") << name;
    EXPECT_EQ(exact.IsTrue(), n == "Jo*") << name;
  }
}

TEST(ExprEvalTest, RowNumCountsEvaluations) {
  TestRow row = People();
  TVRXLexer lexer("ROWNUM", nullptr);
  lexer.NextStatement();
  TVRXExpression e;
  e.ParseValue(nullptr, lexer);
  EXPECT_EQ(e.GetDataType(), A::Integer);
  for (int expected = 1; expected <= 3; ++expected) EXPECT_EQ(e.GetValue()->GetAsInteger(), expected);
}

TEST(ExprEvalTest, AggregatesResetAndAccumulate) {
  TestRow row;
  row.Add("V", A::Integer, 0, "", true);
  struct Case {
    const char* text;
    A type;
    const char* empty;
    const char* result;
  };
  const Case cases[] = {
      {"SUM(V)", A::LargeInt, "NULL", "2147483650"},  // beyond INTEGER
      {"AVG(V)", A::Float, "NULL", "1073741825"},
      {"MIN(V)", A::Integer, "NULL", "3"},  // the NULL first row is passed over
      {"MAX(V)", A::Integer, "NULL", "2147483647"},
      {"COUNT(V)", A::Integer, "0", "2"},
      {"COUNT(*)", A::Integer, "0", "3"},
      // The engine's addition takes the other operand for a NULL on the left.
      {"SUM(V) + COUNT(*)", A::LargeInt, "0", "2147483653"},
  };
  for (const Case& c : cases) {
    TVRXLexer lexer(c.text, nullptr);
    lexer.NextStatement();
    TVRXExpression e;
    e.ParseValue(nullptr, lexer);
    e.BindToCursor(&row);
    EXPECT_TRUE(e.IsAggregate()) << c.text;
    EXPECT_EQ(e.GetDataType(), c.type) << c.text;
    for (int group = 0; group < 2; ++group) {
      e.ResetAggregates();
      const TVRXVariant* v = e.GetValue(true);
      EXPECT_EQ(v->IsNull() ? "NULL" : v->GetAsString(), c.empty) << c.text;
      for (const char* value : {"", "3", "2147483647"}) {
        if (*value == 0)
          row.Value(0).Clear(TVRXBaseFieldType::Integer);
        else
          row.Value(0).SetAsString(value);
        e.Accumulate();
      }
      EXPECT_EQ(e.GetValue(true)->GetAsString(), c.result) << c.text;
    }
  }
}

TEST(ExprEvalTest, ResultTypesAndSizes) {
  TestRow row = People();
  const struct {
    const char* text;
    A type;
    int32_t size;
  } cases[] = {
      {"Name || 'abc'", A::String, 23},
      {"UPPER(Name)", A::String, 20},
      {"SUBSTRING(Name FROM 2)", A::String, 20},
      {"CAST(Age AS VARCHAR)", A::String, 11},
      {"CAST(Age AS CHAR(4))", A::Char, 4},
      {"Age + 1", A::Integer, 0},
      {"Age * 1.5", A::Float, 0},
      {"LENGTH(Name)", A::Integer, 0},
      {"CASE WHEN Age > 1 THEN Name ELSE 'x' END", A::String, 20},
      {"CURRENT_DATE", A::Date, 0},
      {"TODATE('10:00', 'HH24:NN')", A::Time, 0},
  };
  for (const auto& c : cases) {
    TVRXLexer lexer(c.text, nullptr);
    lexer.NextStatement();
    TVRXExpression e;
    e.ParseValue(nullptr, lexer);
    e.BindToCursor(&row);
    EXPECT_EQ(e.GetDataType(), c.type) << c.text;
    EXPECT_EQ(e.GetDataSize(), c.size) << c.text;
  }
}

// An index over Age of the row, ascending or descending.
class AgeIndex : public TVRXExprIndexInfo {
 public:
  AgeIndex(const TVRXExprRowSource& cursor, bool descending)
      : cursor_(cursor), descending_(descending) {}
  const TVRXExprRowSource& ScannedCursor() const override { return cursor_; }
  int32_t KeyFieldCount() const override { return 2; }
  std::string KeyFieldName(int32_t position) const override {
    return position == 0 ? "AGE" : "NAME";
  }
  bool KeyCaseInsensitive(int32_t) const override { return false; }
  bool KeyDescending(int32_t) const override { return descending_; }
  bool IsTemporaryOfOtherSession(int32_t) const override { return false; }

 private:
  const TVRXExprRowSource& cursor_;
  bool descending_;
};

TEST(ExprEvalTest, IndexAnswerableConditions) {
  TestRow row = People();
  AgeIndex ascending(row, false);
  AgeIndex descending(row, true);
  const struct {
    const char* text;
    bool usable;
    TVRXScanKind kind;
    TVRXScanKind descendingKind;
  } cases[] = {
      {"Age > 5", true, TVRXScanKind::Greater, TVRXScanKind::Less},
      {"5 < Age", true, TVRXScanKind::Greater, TVRXScanKind::Less},
      {"5 >= Age", true, TVRXScanKind::LessOrEqual, TVRXScanKind::GreaterOrEqual},
      {"Age = 5", true, TVRXScanKind::Equal, TVRXScanKind::Equal},
      {"Age IS NULL", true, TVRXScanKind::Equal, TVRXScanKind::Equal},
      {"Age IS NOT NULL", true, TVRXScanKind::Greater, TVRXScanKind::Less},
      {"Age <> 5", false, {}, {}},
      {"Age > Big", false, {}, {}},
      {"Name = 'x'", false, {}, {}},
      {"Age + 1 > 5", false, {}, {}},
      {"NOT (Age > 5)", false, {}, {}},
      {"Age > 5 OR Age < 2", false, {}, {}},
  };
  for (const auto& c : cases) {
    TVRXExpression e;
    e.ParseFilter(&row, c.text, false, false);
    const std::vector<TVRXExprNode*> nodes = e.IndexCandidates();
    ASSERT_EQ(nodes.size(), 1u) << c.text;
    EXPECT_EQ(nodes[0]->CanUseIndex(0, TVRXScanKind::None, 1, ascending), c.usable) << c.text;
    if (!c.usable) continue;
    EXPECT_EQ(nodes[0]->IndexTerm(0, ascending).kind, c.kind) << c.text;
    EXPECT_EQ(nodes[0]->IndexTerm(0, descending).kind, c.descendingKind) << c.text;
  }
  // Conjuncts of the top AND are candidates one by one; the second key
  // field follows an equality only, and only with "=".
  TVRXExpression e;
  e.ParseFilter(&row, "Age = 42 AND Name = 'John' AND Name > 'A'", false, false);
  const std::vector<TVRXExprNode*> nodes = e.IndexCandidates();
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_TRUE(nodes[1]->CanUseIndex(1, TVRXScanKind::Equal, 1, ascending));
  EXPECT_FALSE(nodes[1]->CanUseIndex(1, TVRXScanKind::Greater, 1, ascending));
  EXPECT_FALSE(nodes[2]->CanUseIndex(1, TVRXScanKind::Equal, 1, ascending));
  EXPECT_EQ(nodes[0]->IndexTerm(0, ascending).key.GetAsInteger(), 42);
  // A partial comparison is never answered from the index.
  TVRXExpression partial;
  partial.ParseFilter(&row, "Age = 42 AND Name = 'Jo*'", false, true);
  EXPECT_FALSE(partial.IndexCandidates()[1]->CanUseIndex(1, TVRXScanKind::Equal, 1, ascending));
}

}  // namespace
}  // namespace vrx
