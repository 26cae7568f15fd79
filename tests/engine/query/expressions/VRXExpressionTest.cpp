// Parsing: the shape of the tree (precedence, flattening, IS TRUE and
// friends), the parse errors with their positions, and nesting limits.
#include <gtest/gtest.h>

#include <string>

#include "engine/base/VRXExcept.h"
#include "engine/query/expressions/VRXExprParser.h"
#include "tests/engine/query/expressions/ExprTestRow.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

// The tree as text: operators by name, fields and constants as written.
std::string Shape(const TVRXExprNode& node) {
  std::string name;
  if (auto* f = dynamic_cast<const TVRXExprNodeField*>(&node)) return f->QualifiedName();
  if (auto* c = dynamic_cast<const TVRXExprNodeConst*>(&node))
    return c->Value().IsNull() ? "NULL" : c->Value().GetAsString();
  if (dynamic_cast<const TVRXExprNodeSubquery*>(&node)) return "SUBQUERY";
  if (dynamic_cast<const TVRXExprNodeCase*>(&node)) name = "CASE";
  else if (node.Operator() == eoConcat) name = "||";
  else name = std::string(OperatorName(node.Operator()));
  name += "(";
  for (int32_t i = 0; i < node.ChildCount(); ++i) {
    if (i > 0) name += " ";
    name += Shape(node.Child(i));
  }
  return name + ")";
}

std::string ParsedCondition(std::string_view text) {
  TVRXExpression e;
  e.ParseFilter(nullptr, text, false, false);
  return Shape(*e.Root());
}

TEST(ExprParseTest, TreeShapes) {
  const struct {
    const char* text;
    const char* shape;
  } cases[] = {
      {"a = 1 OR b = 2 AND c = 3", "OR(=(a 1) AND(=(b 2) =(c 3)))"},
      {"a = 1 OR b = 2 OR c = 3", "OR(OR(=(a 1) =(b 2)) =(c 3))"},
      {"a = 1 AND (b = 2 AND c = 3) AND d = 4", "AND(=(a 1) =(b 2) =(c 3) =(d 4))"},
      {"NOT a = 1 AND b = 2", "AND(NOT(=(a 1)) =(b 2))"},
      {"(a = 1) IS FALSE", "NOT(=(a 1))"},
      {"(a = 1) IS NOT FALSE", "=(a 1)"},
      {"(a = 1) IS NOT UNKNOWN", "IS NOT NULL(=(a 1))"},
      {"(a + 1) * 2 > t.b", ">(*(+(a 1) 2) t.b)"},
      {"a - b - c = -d", "=(+(a -(b) -(c)) -(d))"},
      {"a * b / c = 1", "=(/(*(a b) c) 1)"},
      {"a || 'x' || b = 'y'", "=(||(a x b) y)"},
      {"a NOT BETWEEN 1 AND 2 AND b NOT IN (1, 2)",
       "AND(unknown(a 1 2) unknown(b 1 2))"},
      {"a NOT LIKE 'x%' OR b IS NOT NULL", "OR(NOT LIKE(a x%) IS NOT NULL(b))"},
      {"a > ALL (SELECT b FROM t WHERE (c = 1))", ">(a SUBQUERY)"},
      {"EXISTS (SELECT * FROM t)", "unknown(SUBQUERY)"},
      {"CASE WHEN a = 1 THEN 'x' ELSE 'y' END = 'x'", "=(CASE(=(a 1) x y) x)"},
      {"[my field] = `select`", "=(my field select)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsedCondition(c.text), c.shape) << c.text;
}

TEST(ExprParseTest, ErrorsCarryTheirPosition) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"a =", "Unexpected end of SQL command found at line 1, column 3 - Native error: 30082"},
      {"a = 1 b", "Unexpected token 'b' found at line 1, column 7 - Native error: 30083"},
      {"a", "Unexpected end of SQL command found at line 1, column 1 - Native error: 30082"},
      {"a b", "Boolean expression expected, but 'b' found at line 1, column 3 - Native error: 30084"},
      {"(a = 1) IS MAYBE",
       "Token 'TRUE, FALSE or UNKNOWN' expected, but 'MAYBE' found at line 1, column 12 - Native "
       "error: 30085"},
      {"UPPER() = 'A'",
       "Argument expected for function 'UPPER' at line 1, column 7 - Native error: 30086"},
      {"POS('a' 'b') = 1",
       "Token ',' or 'IN' expected, but 'b' found at line 1, column 9 - Native error: 30085"},
      {"SUBSTRING('a' FOR 1) = 'a'",
       "Token ',' or 'from' expected, but 'FOR' found at line 1, column 15 - Native error: 30085"},
      {"SUBSTRING('a' FROM 1 'x') = 'a'",
       "Token ')' or ',' or 'FOR' expected, but 'x' found at line 1, column 22 - Native error: "
       "30085"},
      {"TODATE('1', 2) = a",
       "Const DateFormat string expected, but '2' found at line 1, column 13 - Native error: "
       "30088"},
      {"CASE WHEN THEN 1 END = 1",
       "Search Condition for CASE function expected, but 'THEN' found at line 1, column 11 - "
       "Native error: 30091"},
      {"CASE a WHEN 1 2 END = 1",
       "Token 'THEN' expected, but '2' found at line 1, column 15 - Native error: 30085"},
      {"CASE a WHEN 1 THEN 2 ELSE , END = 1",
       "'Else Result Expression' for CASE function expected, but ',' found at line 1, column 27 - "
       "Native error: 30092"},
      {"CAST(a AS BLOB) = 1",
       "Cannot convert an expression to specified type: 'BLOB' - Native error: 30093"},
      {"CAST(a AS NOTATYPE) = 1",
       "Cannot convert an expression to specified type: 'NOTATYPE' - Native error: 30093"},
      {"f(1) = 1", "Unexpected token 'f' found at line 1, column 1 - Native error: 30083"},
      {"a = 1\n  AND b", "Unexpected end of SQL command found at line 2, column 7 - Native error: 30082"},
      {"  ", "Blank SQL command - Native error: 30095"},
      {"a = 1; b = 2", "Unexpected token 'b' found at line 1, column 8 - Native error: 30083"},
      {"a = 1 'it''s %s'",
       "Unexpected token 'it's %s' found at line 1, column 7 - Native error: 30083"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageOf([&] { ParsedCondition(c.text); }), c.message) << c.text;
}

TEST(ExprParseTest, NestingIsBounded) {
  auto nested = [](int levels) {
    return std::string(static_cast<size_t>(levels), '(') + "a" +
           std::string(static_cast<size_t>(levels), ')') + " = 1";
  };
  EXPECT_EQ(ParsedCondition(nested(60)), "=(a 1)");
  for (int levels : {300, 100000}) {
    const std::string message = MessageOf([&] { ParsedCondition(nested(levels)); });
    EXPECT_NE(message.find("Expression is nested too deeply at line 1"), std::string::npos)
        << message;
  }
  // Long chains are flat or refused; never a tree deeper than evaluation
  // allows.
  std::string ors = "a = 0";
  for (int i = 1; i < 5000; ++i) ors += " OR a = " + std::to_string(i);
  EXPECT_NE(MessageOf([&] { ParsedCondition(ors); }).find("nested too deeply"), std::string::npos);
  std::string ands = "a = 0";
  for (int i = 1; i < 5000; ++i) ands += " AND a = " + std::to_string(i);
  TVRXExpression flat;
  flat.ParseFilter(nullptr, ands, false, false);
  EXPECT_EQ(flat.Root()->ChildCount(), 5000);
}

TEST(ExprParseTest, ValueLeavesTheCursorAfterIt) {
  TVRXLexer lexer("SELECT a + 1, b FROM t", nullptr);
  lexer.NextStatement();
  lexer.SetPosition(1);
  TVRXExpression e;
  e.ParseValue(nullptr, lexer);
  EXPECT_EQ(Shape(*e.Root()), "+(a 1)");
  TToken t;
  lexer.CurrentToken(t);
  EXPECT_EQ(t.kind, tktComma);
}

}  // namespace
}  // namespace vrx
