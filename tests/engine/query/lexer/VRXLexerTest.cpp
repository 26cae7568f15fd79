// The SQL lexer: token kinds and texts, positions, statement splitting, the
// error texts with their positions, parameter binding and the cursor
// operations the parsers use; run in en_US and cs_CZ.
#include "engine/query/lexer/VRXLexer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

struct Tok {
  TTokenKind kind;
  std::string text;
  bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Tok& tok) {
  return out << int(tok.kind) << ":" << tok.text;
}

// Every token of every statement, in order; statements separated by a
// tktNone entry.
std::vector<Tok> Tokens(const TVRXLexer& lexer) {
  std::vector<Tok> result;
  for (int32_t s = 0; s < lexer.StatementCount(); ++s) {
    if (s > 0) result.push_back({tktNone, ""});
    for (const TToken& token : lexer.Statement(s).tokens)
      result.push_back({token.kind, token.text});
  }
  return result;
}

std::vector<Tok> Tokens(std::string_view text) { return Tokens(TVRXLexer(text, nullptr)); }

// ---- token kinds and texts ----

struct TokenCase {
  const char* text;
  std::vector<Tok> expected;
};

const std::vector<TokenCase> kTokenCases = {
    // Names, qualifiers and numbers.
    {"x.y", {{tktString, "x"}, {tktDot, "."}, {tktString, "y"}}},
    {"1.5", {{tktFloat, "1.5"}}},
    {".5", {{tktFloat, ".5"}}},
    {"1e+5", {{tktFloat, "1e+5"}}},
    {"2E-3", {{tktFloat, "2E-3"}}},
    {"12", {{tktInt, "12"}}},
    {"t.1", {{tktString, "t"}, {tktDot, "."}, {tktInt, "1"}}},
    {"[t].1", {{tktBracketedString, "t"}, {tktDot, "."}, {tktInt, "1"}}},
    {"t .5", {{tktString, "t"}, {tktFloat, ".5"}}},
    {"(.5)", {{tktLeftParenthesis, "("}, {tktFloat, ".5"}, {tktRightParenthesis, ")"}}},
    {"a+.5", {{tktString, "a"}, {tktString, "+"}, {tktFloat, ".5"}}},
    {"SELECT.5", {{tktReservedWord, "SELECT"}, {tktFloat, ".5"}}},
    {"t.*", {{tktString, "t"}, {tktDot, "."}, {tktString, "*"}}},
    {". x", {{tktDot, "."}, {tktString, "x"}}},
    {".x", {{tktDot, "."}, {tktString, "x"}}},
    {"3-1", {{tktInt, "3"}, {tktString, "-"}, {tktInt, "1"}}},
    {"3+1e-2-1",
     {{tktInt, "3"}, {tktString, "+"}, {tktFloat, "1e-2"}, {tktString, "-"}, {tktInt, "1"}}},
    {"a-b+c",
     {{tktString, "a"}, {tktString, "-"}, {tktString, "b"}, {tktString, "+"}, {tktString, "c"}}},
    // Operators: two-character ones are one word, the rest stand alone.
    {"a<>b", {{tktString, "a"}, {tktString, "<>"}, {tktString, "b"}}},
    {"a<=b", {{tktString, "a"}, {tktString, "<="}, {tktString, "b"}}},
    {"a>=b", {{tktString, "a"}, {tktString, ">="}, {tktString, "b"}}},
    {"a<b", {{tktString, "a"}, {tktString, "<"}, {tktString, "b"}}},
    {"a>b", {{tktString, "a"}, {tktString, ">"}, {tktString, "b"}}},
    {"x||y", {{tktString, "x"}, {tktString, "||"}, {tktString, "y"}}},
    {"x|y", {{tktString, "x"}, {tktString, "|"}, {tktString, "y"}}},
    {"a>=<b", {{tktString, "a"}, {tktString, ">="}, {tktString, "<"}, {tktString, "b"}}},
    {"a><b", {{tktString, "a"}, {tktString, ">"}, {tktString, "<"}, {tktString, "b"}}},
    {"a<>=b", {{tktString, "a"}, {tktString, "<>"}, {tktString, "="}, {tktString, "b"}}},
    {"a=<b", {{tktString, "a"}, {tktString, "="}, {tktString, "<"}, {tktString, "b"}}},
    {"a<<b", {{tktString, "a"}, {tktString, "<"}, {tktString, "<"}, {tktString, "b"}}},
    {"a|||b", {{tktString, "a"}, {tktString, "||"}, {tktString, "|"}, {tktString, "b"}}},
    {"a==b", {{tktString, "a"}, {tktString, "="}, {tktString, "="}, {tktString, "b"}}},
    {"a*b/c=d",
     {{tktString, "a"},
      {tktString, "*"},
      {tktString, "b"},
      {tktString, "/"},
      {tktString, "c"},
      {tktString, "="},
      {tktString, "d"}}},
    {"a!=b", {{tktString, "a!"}, {tktString, "="}, {tktString, "b"}}},
    {"a%b_c#", {{tktString, "a%b_c#"}}},
    {"<", {{tktString, "<"}}},
    {"f(a,b)",
     {{tktString, "f"},
      {tktLeftParenthesis, "("},
      {tktString, "a"},
      {tktComma, ","},
      {tktString, "b"},
      {tktRightParenthesis, ")"}}},
    // Literals and quoted names with their doubling rules.
    {"'It''s'", {{tktQuotedString, "It's"}}},
    {"\"say \"\"hi\"\"\"", {{tktQuotedString, "say \"hi\""}}},
    {"\"it's\"", {{tktQuotedString, "it's"}}},
    {"'say \"hi\"'", {{tktQuotedString, "say \"hi\""}}},
    {"''", {{tktQuotedString, ""}}},
    {"''''", {{tktQuotedString, "'"}}},
    {"'a;b--c/*d'", {{tktQuotedString, "a;b--c/*d"}}},
    {"'line\none'", {{tktQuotedString, "line\none"}}},
    {"[my name]", {{tktBracketedString, "my name"}}},
    {"[a]]b]", {{tktBracketedString, "a]b"}}},
    {"[a[b]", {{tktBracketedString, "a[b"}}},
    {"`odd name`", {{tktString, "odd name"}}},
    {"`a``b`", {{tktString, "a`b"}}},
    {"`a\\`b\\\\`", {{tktString, "a`b\\"}}},
    {"a='b'", {{tktString, "a"}, {tktString, "="}, {tktQuotedString, "b"}}},
    {"'a''b'c", {{tktQuotedString, "a'b"}, {tktString, "c"}}},
    // A quote inside a word is part of the word.
    {"It's", {{tktString, "It's"}}},
    // Keywords in any case; in brackets or back-quotes they are names.
    {"select", {{tktReservedWord, "select"}}},
    {"Select", {{tktReservedWord, "Select"}}},
    {"[select]", {{tktBracketedString, "select"}}},
    {"`select`", {{tktString, "select"}}},
    {"'select'", {{tktQuotedString, "select"}}},
    {"selected", {{tktString, "selected"}}},
    // Only ASCII letters fold: "ß" upper-cases to "SS" but is no keyword.
    {"aßertion", {{tktString, "aßertion"}}},
    {"Počet", {{tktString, "Počet"}}},
    // Comments and white space separate tokens and vanish.
    {"a--b\nc", {{tktString, "a"}, {tktString, "c"}}},
    {"a/*x*/b", {{tktString, "a"}, {tktString, "b"}}},
    {"a /* x\ny */ b", {{tktString, "a"}, {tktString, "b"}}},
    {"a/*/b*/c", {{tktString, "a"}, {tktString, "c"}}},
    {"-- 'not a string\nx", {{tktString, "x"}}},
    {"a\t\r\nb", {{tktString, "a"}, {tktString, "b"}}},
    {"1--2", {{tktInt, "1"}}},
    {"x -- trailing comment", {{tktString, "x"}}},
    {"x/", {{tktString, "x"}, {tktString, "/"}}},
    {"x-", {{tktString, "x"}, {tktString, "-"}}},
};

TEST(VRXLexer, TokenKindsAndTexts) {
  for (const TokenCase& c : kTokenCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Tokens(c.text), c.expected);
  }
}

TEST(VRXLexer, KeywordNumbers) {
  TVRXLexer lexer("select FROM Truncate absolute [where] zone password x", nullptr);
  ASSERT_EQ(lexer.StatementCount(), 1);
  const std::vector<TToken>& t = lexer.Statement(0).tokens;
  const uint16_t expected[] = {179, 90, 265, 0, kNoKeyword, 229, 230, kNoKeyword};
  ASSERT_EQ(t.size(), std::size(expected));
  for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(t[i].keywordNo, expected[i]) << t[i].text;
  EXPECT_EQ(Keyword("SELECT"), 179);

  // Every word of the list is found at its own number, in any case, and
  // nothing else is found.
  for (size_t i = 0; i < kKeywords.size(); ++i) {
    std::string lower(kKeywords[i]);
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(FindKeyword(kKeywords[i]), i);
    EXPECT_EQ(FindKeyword(lower), i);
  }
  for (const char* word : {"", "SELECTS", "SELEC", "ZZZ", "A", "BLOBCOMPRESSIONALGORITHMS"})
    EXPECT_EQ(FindKeyword(word), kNoKeyword) << word;

  TToken token;
  token.kind = tktReservedWord;
  token.keywordNo = Keyword("FROM");
  EXPECT_TRUE(TVRXLexer::IsKeyword(token, Keyword("FROM")));
  EXPECT_TRUE(TVRXLexer::IsKeyword(token, kAnyKeyword));
  EXPECT_FALSE(TVRXLexer::IsKeyword(token, Keyword("SELECT")));
  token.kind = tktString;  // a name that happens to carry a number
  EXPECT_FALSE(TVRXLexer::IsKeyword(token, Keyword("FROM")));
  EXPECT_FALSE(TVRXLexer::IsKeyword(token, kAnyKeyword));
}

// ---- positions ----

struct PositionCase {
  const char* text;
  // line, column of each token in order
  std::vector<std::pair<int32_t, int32_t>> expected;
};

const std::vector<PositionCase> kPositionCases = {
    {"SELECT a, b", {{1, 1}, {1, 8}, {1, 9}, {1, 11}}},
    {"a\nb\n\nc", {{1, 1}, {2, 1}, {4, 1}}},
    // A carriage return moves nothing; a tab is one column.
    {"a\r\n\tb", {{1, 1}, {2, 2}}},
    {"a\r\rb", {{1, 1}, {1, 2}}},
    // Quoted tokens sit at their opening character; what they hold counts.
    {"x 'a\nbc' y", {{1, 1}, {1, 3}, {2, 5}}},
    {"[a b] `c` \"d\"", {{1, 1}, {1, 7}, {1, 11}}},
    {"'It''s' x", {{1, 1}, {1, 9}}},
    // Comments count their characters and lines.
    {"/* a\nbc */ z", {{2, 7}}},
    {"-- a\nz", {{2, 1}}},
    {"a;b", {{1, 1}, {1, 3}}},
    // Two-character operators and the numbers around them.
    {"a<=12", {{1, 1}, {1, 2}, {1, 4}}},
    {"3-1.5e+2", {{1, 1}, {1, 2}, {1, 3}}},
    // A UTF-8 character is one column, whatever its byte count.
    {"žluť x", {{1, 1}, {1, 6}}},
    {"'😀' x", {{1, 1}, {1, 5}}},
    // Parameters are placed at their marker.
    {"a = :p + ?", {{1, 1}, {1, 3}, {1, 5}, {1, 8}, {1, 10}}},
};

TEST(VRXLexer, LinesAndColumnsCountFromOne) {
  TVRXSQLParams params;
  params.Add("p");
  params.Add();
  for (const PositionCase& c : kPositionCases) {
    SCOPED_TRACE(c.text);
    TVRXLexer lexer(c.text, &params);
    std::vector<std::pair<int32_t, int32_t>> got;
    for (int32_t s = 0; s < lexer.StatementCount(); ++s)
      for (const TToken& token : lexer.Statement(s).tokens)
        got.emplace_back(token.line, token.column);
    EXPECT_EQ(got, c.expected);
  }
}

// ---- statements ----

struct StatementCase {
  const char* text;
  // the texts of the tokens of each statement, joined by blanks
  std::vector<std::string> expected;
};

const std::vector<StatementCase> kStatementCases = {
    {"SELECT 1; SELECT 2", {"SELECT 1", "SELECT 2"}},
    {"SELECT 1;", {"SELECT 1"}},
    {"SELECT 1;\n", {"SELECT 1"}},
    {";", {}},
    {";;", {}},
    {"", {}},
    {" \n\t ", {}},
    {"-- only a comment", {}},
    {"/* a */ ; -- b\n;", {}},
    {"a;;b", {"a", "b"}},
    {"SELECT 'a;b'; c", {"SELECT a;b", "c"}},
    {"a -- x; y\nb", {"a b"}},
    {"a /* x; y */ b", {"a b"}},
    {"SELECT 1 -- no line feed", {"SELECT 1"}},
    {"x;y;z", {"x", "y", "z"}},
    // Parentheses balance per statement.
    {"f(1);g(2)", {"f ( 1 )", "g ( 2 )"}},
};

TEST(VRXLexer, SplitsTextIntoStatements) {
  for (const StatementCase& c : kStatementCases) {
    SCOPED_TRACE(c.text);
    TVRXLexer lexer(c.text, nullptr);
    std::vector<std::string> got;
    for (int32_t s = 0; s < lexer.StatementCount(); ++s) {
      std::string joined;
      for (const TToken& token : lexer.Statement(s).tokens)
        joined += (joined.empty() ? "" : " ") + token.text;
      got.push_back(joined);
    }
    EXPECT_EQ(got, c.expected);
  }
}

// ---- errors ----

struct ErrorCase {
  const char* text;
  const char* message;
};

const std::vector<ErrorCase> kErrorCases = {
    // Letters and other characters inside a number.
    {"12abc", "Invalid numeric symbol 'a' at line 1, column 3 - Native error: 30062"},
    {"SELECT\n  1x", "Invalid numeric symbol 'x' at line 2, column 4 - Native error: 30062"},
    {"1.5.f", "Invalid numeric symbol 'f' at line 1, column 5 - Native error: 30062"},
    {"1e5g", "Invalid numeric symbol 'g' at line 1, column 4 - Native error: 30062"},
    {".5a", "Invalid numeric symbol 'a' at line 1, column 3 - Native error: 30062"},
    {"1'a'", "Invalid numeric symbol ''' at line 1, column 2 - Native error: 30062"},
    {"1[a]", "Invalid numeric symbol '[' at line 1, column 2 - Native error: 30062"},
    {"12ž", "Invalid numeric symbol 'ž' at line 1, column 3 - Native error: 30062"},
    {"ž 12_", "Invalid numeric symbol '_' at line 1, column 5 - Native error: 30062"},
    {"t.1x", "Invalid numeric symbol 'x' at line 1, column 4 - Native error: 30062"},
    // Parentheses: the missing one at the last "(", the surplus one at the
    // last ")".
    {"SELECT (1", "Missing symbol ')' at line 1, column 8 - Native error: 30059"},
    {"SELECT 1)", "Unexpected symbol ')' found at line 1, column 9 - Native error: 30060"},
    {"f((a)", "Missing symbol ')' at line 1, column 3 - Native error: 30059"},
    {"f(a)))", "Unexpected symbol ')' found at line 1, column 6 - Native error: 30060"},
    {"SELECT 1;\nSELECT (2", "Missing symbol ')' at line 2, column 8 - Native error: 30059"},
    {"(1;)", "Missing symbol ')' at line 1, column 1 - Native error: 30059"},
    // As many ")" as "(", but one of them closes nothing.
    {"f a) (b", "Unexpected symbol ')' found at line 1, column 4 - Native error: 30060"},
    {")(", "Unexpected symbol ')' found at line 1, column 1 - Native error: 30060"},
    // Parentheses in literals, names and comments do not count.
    // Unterminated quoted tokens, at their opening character.
    {"SELECT 'abc", "Unterminated string at line 1, column 8 - Native error: 30061"},
    {"x\n \"abc", "Unterminated string at line 2, column 2 - Native error: 30061"},
    {"[abc", "Unterminated string at line 1, column 1 - Native error: 30061"},
    {"`abc", "Unterminated string at line 1, column 1 - Native error: 30061"},
    {"`abc\\", "Unterminated string at line 1, column 1 - Native error: 30061"},
    {"`abc\\`", "Unterminated string at line 1, column 1 - Native error: 30061"},
    {"'abc''", "Unterminated string at line 1, column 1 - Native error: 30061"},
    {"'", "Unterminated string at line 1, column 1 - Native error: 30061"},
    {"a; 'b; c", "Unterminated string at line 1, column 4 - Native error: 30061"},
    // A block comment the text ends in would swallow what follows it.
    {"DELETE FROM t /* x WHERE id = 5",
     "Unterminated comment at line 1, column 15 - Native error: 30064"},
    {"a;\n b /*/", "Unterminated comment at line 2, column 4 - Native error: 30064"},
    {"'/*' /*", "Unterminated comment at line 1, column 6 - Native error: 30064"},
    // The open literal took the ")" with it: that is what went wrong.
    {"SELECT ('abc)", "Unterminated string at line 1, column 9 - Native error: 30061"},
    // The first failing statement stops the script.
    {"SELECT 1)\n; SELECT 2x",
     "Unexpected symbol ')' found at line 1, column 9 - Native error: 30060"},
    {"SELECT 2x; SELECT 1)",
     "Invalid numeric symbol 'x' at line 1, column 9 - Native error: 30062"},
};

TEST(VRXLexer, MalformedTextsRaiseTheirErrors) {
  for (const ErrorCase& c : kErrorCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MessageOf([&] { TVRXLexer(c.text, nullptr); }), c.message);
  }
  for (const char* fine : {"'(' \")\" [(] `)` -- )\n /* ( */ x"}) {
    SCOPED_TRACE(fine);
    EXPECT_NO_THROW(TVRXLexer(fine, nullptr));
  }
}

TEST(VRXLexer, ErrorsCarryTheirNativeNumbers) {
  const std::pair<const char*, int32_t> cases[] = {
      {"(", kErrMissingRightParenthesis}, {")", kErrUnexpectedRightParenthesis},
      {"'", kErrUnterminatedString},      {"1a", kErrInvalidNumericSymbol},
      {":p", kErrParameterNotFound},      {"?", kErrParamIndexOutOfBounds},
  };
  for (const auto& [text, code] : cases) {
    try {
      TVRXLexer lexer(text, nullptr);
      ADD_FAILURE() << text << ": no exception";
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.NativeError(), code) << text;
    }
  }
}

// ---- parameters ----

TEST(VRXLexer, NamedMarkersBindByNameInAnyCase) {
  TVRXSQLParams params;
  params.Add("Round").SetAsInteger(3);
  params.Add("POČET").SetAsString("čtyři");
  params.Add("round").SetAsInteger(99);  // shadowed by the first "Round"
  TVRXLexer lexer("SELECT :Round, :ROUND, :round, :počet FROM t WHERE x=:Počet", &params);
  std::vector<std::pair<std::string, std::string>> got;
  for (const TToken& token : lexer.Statement(0).tokens) {
    if (token.kind != tktParameter) continue;
    ASSERT_TRUE(token.value);
    got.emplace_back(token.text, token.value->GetAsString());
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Round", "3"}, {"ROUND", "3"}, {"round", "3"}, {"počet", "čtyři"}, {"Počet", "čtyři"}};
  EXPECT_EQ(got, expected);

  EXPECT_EQ(MessageOf([&] { TVRXLexer("SELECT :Rounds", &params); }),
            "Value for parameter 'Rounds' not found - Native error: 30358");
  EXPECT_EQ(MessageOf([&] { TVRXLexer("SELECT :", &params); }),
            "Value for parameter '' not found - Native error: 30358");
  EXPECT_EQ(MessageOf([&] { TVRXLexer("SELECT :a", nullptr); }),
            "Value for parameter 'a' not found - Native error: 30358");
}

TEST(VRXLexer, QuestionMarksAreNumberedOverTheWholeScript) {
  TVRXSQLParams params;
  params.Add("first").SetAsInteger(10);
  params.Add("second").SetAsString("two");
  params.Add("third").SetAsString("3.5");
  TVRXLexer lexer("SELECT ? FROM t; SELECT :third, ?x FROM u WHERE a=?", &params);
  std::vector<std::pair<std::string, std::string>> got;
  for (int32_t s = 0; s < lexer.StatementCount(); ++s)
    for (const TToken& token : lexer.Statement(s).tokens)
      if (token.kind == tktParameter) got.emplace_back(token.text, token.value->GetAsString());
  // A named marker takes no number; "?x" is a "?" marker like any other.
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Param1", "10"}, {"third", "3.5"}, {"Param2", "two"}, {"Param3", "3.5"}};
  EXPECT_EQ(got, expected);

  EXPECT_EQ(MessageOf([&] { TVRXLexer("? ? ? ?", &params); }),
            "List index out of bounds (3) - Native error: 30063");
  // A "?" in a literal, a name or a comment is no marker.
  TVRXLexer quoted("'?' [?] `?` -- ?\n /* ? */ x", nullptr);
  for (const TToken& token : quoted.Statement(0).tokens) EXPECT_NE(token.kind, tktParameter);
}

TEST(VRXLexer, ParameterValuesAreCopiedWhileLexing) {
  TVRXSQLParams params;
  params.Add().SetAsInteger(7);
  TVRXSQLParam& name = params.Add("Name");
  name.SetAsString("before");
  params.Add("Nothing");  // NULL stays NULL

  TVRXLexer lexer(":name ? :nothing", &params);
  name.SetAsString("after");
  params.Items(0).SetAsInteger(8);
  const std::vector<TToken>& tokens = lexer.Statement(0).tokens;
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].value->GetAsString(), "before");
  EXPECT_EQ(tokens[1].value->GetAsInteger(), 7);
  EXPECT_EQ(tokens[1].value->DataType(), TVRXBaseFieldType::Integer);
  EXPECT_TRUE(tokens[2].value->IsNull());

  // Freeing the parameters leaves the lexed values alone, and so does
  // freeing the lexer for the tokens copied out of it.
  params.Clear();
  TToken copy;
  {
    TVRXSQLParams again;
    again.Add("x").SetAsString("kept");
    auto owner = std::make_unique<TVRXLexer>(":x", &again);
    owner->NextStatement();
    owner->CurrentToken(copy);
  }
  EXPECT_EQ(copy.value->GetAsString(), "kept");
  EXPECT_EQ(tokens[0].value->GetAsString(), "before");
}

TEST(VRXSQLParams, ListOperations) {
  TVRXSQLParams params;
  EXPECT_EQ(params.Count(), 0);
  EXPECT_EQ(params.FindByName("x"), nullptr);
  TVRXSQLParam& added = params.Add();
  EXPECT_TRUE(added.IsNull());
  EXPECT_EQ(added.DataType(), TVRXBaseFieldType::Unknown);
  EXPECT_EQ(added.Name(), "");
  params.Add("Kolo");
  EXPECT_EQ(params.Count(), 2);
  EXPECT_EQ(params.FindByName("KOLO"), &params.Items(1));
  EXPECT_EQ(params.FindByName(""), &params.Items(0));
  EXPECT_EQ(MessageOf([&] { params.Items(2); }),
            "List index out of bounds (2) - Native error: 30063");
  EXPECT_EQ(MessageOf([&] { params.Items(-1); }),
            "List index out of bounds (-1) - Native error: 30063");
  params.Clear();
  EXPECT_EQ(params.Count(), 0);
}

// ---- the cursor operations ----

std::string KindText(const TToken& token) {
  return std::to_string(int(token.kind)) + ":" + token.text;
}

TEST(VRXLexer, CursorWalksAndBacktracksWithinAStatement) {
  TVRXLexer lexer("SELECT a FROM t; DELETE", nullptr);
  TToken token;
  // No current statement yet: nothing to read.
  EXPECT_EQ(lexer.CurrentStatementIndex(), -1);
  EXPECT_FALSE(lexer.CurrentToken(token));
  EXPECT_FALSE(lexer.NextToken(token));
  EXPECT_FALSE(lexer.SetPosition(0));
  EXPECT_EQ(lexer.GetPosition(), 0);

  ASSERT_TRUE(lexer.NextStatement());
  ASSERT_TRUE(lexer.CurrentToken(token));
  EXPECT_EQ(KindText(token), "6:SELECT");
  ASSERT_TRUE(lexer.PeekToken(token));
  EXPECT_EQ(KindText(token), "1:a");
  EXPECT_EQ(lexer.GetPosition(), 0);
  ASSERT_TRUE(lexer.NextToken(token));
  EXPECT_EQ(KindText(token), "1:a");
  EXPECT_EQ(lexer.GetPosition(), 1);
  ASSERT_TRUE(lexer.NextToken(token));
  ASSERT_TRUE(lexer.NextToken(token));
  EXPECT_EQ(KindText(token), "1:t");
  EXPECT_FALSE(lexer.PeekToken(token));
  EXPECT_EQ(token.kind, tktNone);

  // Past the end: no token, and the cursor stays just past the last one.
  EXPECT_FALSE(lexer.NextToken(token));
  EXPECT_EQ(token.kind, tktNone);
  EXPECT_EQ(token.keywordNo, kNoKeyword);
  EXPECT_FALSE(lexer.NextToken(token));
  EXPECT_EQ(lexer.GetPosition(), 4);
  EXPECT_FALSE(lexer.CurrentToken(token));

  // Backtracking.
  EXPECT_TRUE(lexer.SetPosition(2, token));
  EXPECT_EQ(KindText(token), "6:FROM");
  EXPECT_FALSE(lexer.SetPosition(4, token));
  EXPECT_EQ(token.kind, tktNone);
  EXPECT_EQ(lexer.GetPosition(), 4);
  EXPECT_FALSE(lexer.SetPosition(5));
  EXPECT_FALSE(lexer.SetPosition(-1));
  EXPECT_EQ(lexer.GetPosition(), 4);  // left where it was
  EXPECT_TRUE(lexer.SetPosition(1));

  // Each statement keeps its own cursor.
  ASSERT_TRUE(lexer.NextStatement());
  EXPECT_EQ(lexer.GetPosition(), 0);
  ASSERT_TRUE(lexer.CurrentToken(token));
  EXPECT_EQ(KindText(token), "6:DELETE");
  EXPECT_FALSE(lexer.NextToken(token));
  EXPECT_FALSE(lexer.NextStatement());
  EXPECT_FALSE(lexer.NextStatement());
  EXPECT_FALSE(lexer.CurrentToken(token));
  EXPECT_EQ(lexer.Statement(0).cursor, 1);
}

TEST(VRXLexer, BuildsStatementsTokenByToken) {
  // The way a statement assembles another one from tokens of its own,
  // parameter values included.
  TVRXSQLParams params;
  params.Add("p").SetAsInteger(5);
  TVRXLexer source("UPDATE t SET a=1 WHERE b=:p", &params);
  TVRXLexer built("", nullptr);
  EXPECT_EQ(built.StatementCount(), 0);
  EXPECT_THROW(built.AddToken(TToken{}), std::logic_error);
  built.AddStatement();
  EXPECT_EQ(built.CurrentStatementIndex(), 0);
  const std::vector<TToken>& tokens = source.Statement(0).tokens;
  for (size_t i = 6; i < tokens.size(); ++i) built.AddToken(tokens[i]);

  TToken token;
  ASSERT_TRUE(built.CurrentToken(token));
  EXPECT_TRUE(TVRXLexer::IsKeyword(token, Keyword("WHERE")));
  ASSERT_TRUE(built.SetPosition(3, token));
  EXPECT_EQ(token.kind, tktParameter);
  EXPECT_EQ(token.value->GetAsInteger(), 5);
  EXPECT_EQ(token.line, 1);
  EXPECT_EQ(token.column, 26);
}

}  // namespace
}  // namespace vrx
