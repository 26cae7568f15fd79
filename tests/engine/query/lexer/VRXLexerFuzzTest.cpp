// The lexer against a few hundred thousand random and mutated SQL texts: it
// either lexes a text into tokens that sit where their characters are, or
// raises one of its own errors pointing at the character at fault. Meant to
// run under the sanitizers, which catch a read past the end of the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/query/lexer/VRXLexer.h"

namespace vrx {
namespace {

const char* const kSeeds[] = {
    "SELECT MAX(Kolo) as result FROM seskupeni;",
    "SELECT COUNT(*) FROM hraci WHERE Jmeno LIKE 'Nov%' ORDER BY 1 DESC",
    "SELECT a.b, 'It''s', \"x\"\"y\", [a]]b], `c\\`d` FROM t WHERE x >= 1.5e+3 AND y <> .5 -- c\n",
    "INSERT INTO t (a, b) VALUES (:Name, ?); UPDATE t SET a = a || 'x' /* c */ WHERE b <= ?",
    "CREATE TABLE [seskupeni] (Hrac INTEGER, Stul SMALLINT, Body FLOAT);\r\nDROP TABLE x",
    "SELECT t.1, 3-1, f(g(1), (2)) FROM t1 INNER JOIN t2 ON t1.id=t2.id; ;; /* open",
    "DELETE FROM param WHERE Kolo < :kolo OR Jmeno = 'Žluťoučký kůň'",
    "SELECT ?, ?, :a FROM `select` UNION SELECT 1e-2, .5, 12 FROM [x y]",
};

// Characters that the lexer treats specially, weighted towards them.
constexpr std::string_view kAlphabet = "();,.'\"[]`\\-/*+=<>|:? \t\r\n eEaZ0159_%!#";
const char* const kPieces[] = {"--",  "/*", "*/",   "''",   "\"\"",  "]]", "``",
                               "1e+", ".5", "<>",   "||",   ":Name", "?",  "SELECT",
                               "ž",   "😀",  "\xC5", "\x80", "\0"};

std::string RandomText(std::mt19937& random) {
  std::string text;
  const size_t length = random() % 48;
  for (size_t i = 0; i < length; ++i) {
    if (random() % 8 == 0)
      text += static_cast<char>(random() % 256);
    else
      text += kAlphabet[random() % kAlphabet.size()];
  }
  return text;
}

std::string Mutated(std::mt19937& random) {
  std::string text = kSeeds[random() % std::size(kSeeds)];
  const int edits = 1 + static_cast<int>(random() % 6);
  for (int e = 0; e < edits; ++e) {
    const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
    switch (random() % 6) {
      case 0:
        text.insert(at, 1, kAlphabet[random() % kAlphabet.size()]);
        break;
      case 1: {
        const char* piece = kPieces[random() % std::size(kPieces)];
        text.insert(at, piece, piece[0] == '\0' ? 1 : std::char_traits<char>::length(piece));
        break;
      }
      case 2:
        text.erase(at, random() % 8);
        break;
      case 3:
        if (at < text.size()) text[at] = static_cast<char>(random() % 256);
        break;
      case 4:
        text.resize(at);
        break;
      case 5: {
        const std::string other = kSeeds[random() % std::size(kSeeds)];
        const size_t from = random() % other.size();
        text.insert(at, other.substr(from, random() % 24));
        break;
      }
    }
  }
  return text;
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// Where each (line, column) lies in a text, counted as the lexer counts.
class Positions {
 public:
  explicit Positions(std::string_view text) {
    at_.reserve(text.size());
    int32_t line = 1;
    int32_t column = 1;
    for (char c : text) {
      at_.push_back({line, column});
      if (c == '\n') {
        ++line;
        column = 1;
      } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
        ++column;
      }
    }
  }

  // The byte offsets at (line, column), after `after`. Positions never
  // decrease along the text, so they are found by bisection.
  std::pair<size_t, size_t> Offsets(int32_t line, int32_t column, size_t after) const {
    const auto range =
        std::equal_range(at_.begin() + static_cast<ptrdiff_t>(std::min(after, at_.size())),
                         at_.end(), std::pair{line, column});
    return {static_cast<size_t>(range.first - at_.begin()),
            static_cast<size_t>(range.second - at_.begin())};
  }

 private:
  std::vector<std::pair<int32_t, int32_t>> at_;
};

bool StartsWith(std::string_view text, size_t at, std::string_view part) {
  return text.substr(at, part.size()) == part;
}

// Whether `token` may start at byte `at` of `text`.
bool TokenFits(std::string_view text, size_t at, const TToken& token, int32_t questionMarks) {
  const char c = text[at];
  switch (token.kind) {
    case tktLeftParenthesis:
      return c == '(' && token.text == "(";
    case tktRightParenthesis:
      return c == ')' && token.text == ")";
    case tktComma:
      return c == ',' && token.text == ",";
    case tktDot:
      return c == '.' && token.text == ".";
    case tktQuotedString:
      return c == '\'' || c == '"';
    case tktBracketedString:
      return c == '[';
    case tktInt:
      return StartsWith(text, at, token.text) &&
             token.text.find_first_not_of("0123456789") == std::string::npos;
    case tktFloat:
      return StartsWith(text, at, token.text) &&
             token.text.find_first_of(".Ee") != std::string::npos;
    case tktReservedWord:
      return StartsWith(text, at, token.text) && FindKeyword(token.text) == token.keywordNo &&
             token.keywordNo != kNoKeyword;
    case tktParameter:
      if (!token.value) return false;
      if (c == ':') return StartsWith(text, at + 1, token.text);
      return c == '?' && token.text == "Param" + std::to_string(questionMarks);
    case tktString:
      return c == '`' || (!token.text.empty() && StartsWith(text, at, token.text) &&
                          token.keywordNo == kNoKeyword);
    case tktNone:
      return false;
  }
  return false;
}

// Empty when the lexed statements agree with the text, else what is wrong.
std::string CheckTokens(std::string_view text, const TVRXLexer& lexer) {
  const Positions positions(text);
  size_t after = 0;
  int32_t questionMarks = 0;
  for (int32_t s = 0; s < lexer.StatementCount(); ++s) {
    const TSQLCommand& command = lexer.Statement(s);
    if (command.tokens.empty()) return "an empty statement";
    if (command.cursor != 0) return "a cursor not at 0";
    for (const TToken& token : command.tokens) {
      if (token.kind == tktParameter && token.text.rfind("Param", 0) == 0 &&
          token.text == "Param" + std::to_string(questionMarks + 1))
        ++questionMarks;
      bool found = false;
      const auto [first, last] = positions.Offsets(token.line, token.column, after);
      for (size_t at = first; at < last; ++at) {
        if (TokenFits(text, at, token, questionMarks)) {
          after = at + 1;
          found = true;
          break;
        }
      }
      if (!found)
        return "token '" + Escaped(token.text) + "' of kind " + std::to_string(token.kind) +
               " at line " + std::to_string(token.line) + ", column " +
               std::to_string(token.column) + " does not fit the text there";
    }
  }
  return {};
}

// Empty when `e` is one of the lexer's errors, rightly placed.
std::string CheckError(std::string_view text, const EVRXException& e) {
  const std::string message = e.Message();
  const std::string suffix = " - Native error: " + std::to_string(e.NativeError());
  if (e.NativeError() == kErrParameterNotFound) {
    return message.rfind("Value for parameter '", 0) == 0 ? "" : "bad message";
  }
  if (e.NativeError() == kErrParamIndexOutOfBounds) {
    return message.rfind("List index out of bounds (", 0) == 0 ? "" : "bad message";
  }
  const size_t lineAt = message.rfind(" at line ");
  if (lineAt == std::string::npos) return "no position";
  int32_t line = 0;
  int32_t column = 0;
  if (std::sscanf(message.c_str() + lineAt, " at line %d, column %d", &line, &column) != 2)
    return "no position";
  const std::string where =
      " at line " + std::to_string(line) + ", column " + std::to_string(column) + suffix;
  const auto [first, last] = Positions(text).Offsets(line, column, 0);
  for (size_t at = first; at < last; ++at) {
    const char c = text[at];
    switch (e.NativeError()) {
      case kErrMissingRightParenthesis:
        if (c == '(' && message == "Missing symbol ')'" + where) return {};
        break;
      case kErrUnexpectedRightParenthesis:
        if (c == ')' && message == "Unexpected symbol ')' found" + where) return {};
        break;
      case kErrUnterminatedComment:
        if (c == '/' && at + 1 < text.size() && text[at + 1] == '*' &&
            message == "Unterminated comment" + where)
          return {};
        break;
      case kErrUnterminatedString:
        if ((c == '\'' || c == '"' || c == '[' || c == '`') &&
            message == "Unterminated string" + where)
          return {};
        break;
      case kErrInvalidNumericSymbol: {
        size_t end = at + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
        const std::string symbol(text.substr(at, end - at));
        if (message == "Invalid numeric symbol '" + symbol + "'" + where) return {};
        break;
      }
      default:
        return "unexpected native error";
    }
  }
  return "the error does not fit the text at its position";
}

TEST(VRXLexerFuzz, RandomAndMutatedTextsGiveTokensOrTheLexerErrors) {
  TVRXSQLParams params;
  params.Add("Name").SetAsString("value");
  params.Add("kolo").SetAsInteger(3);
  params.Add();
  params.Add("a");

  std::mt19937 random(20240614);
  constexpr int kTexts = 300000;
  int failures = 0;
  int errors = 0;
  for (int n = 0; n < kTexts && failures < 10; ++n) {
    const std::string text = n % 4 == 0 ? RandomText(random) : Mutated(random);
    std::string problem;
    try {
      const TVRXLexer lexer(text, &params);
      problem = CheckTokens(text, lexer);
    } catch (const EVRXException& e) {
      ++errors;
      problem = CheckError(text, e);
      if (!problem.empty()) problem += ": " + e.Message();
    } catch (const std::exception& e) {
      problem = std::string("foreign exception: ") + e.what();
    }
    if (!problem.empty()) {
      ++failures;
      ADD_FAILURE() << "text \"" << Escaped(text) << "\": " << problem;
    }
  }
  // Both outcomes are exercised, not just one.
  EXPECT_GT(errors, kTexts / 10);
  EXPECT_LT(errors, kTexts - kTexts / 10);
}

}  // namespace
}  // namespace vrx
