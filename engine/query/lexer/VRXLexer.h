// The SQL lexer: splits the text of a script into statements, each a list of
// tokens with the line and column of their first character, and binds the
// script's parameter markers to the caller's parameter values. The statement
// parser and the expression parser read tokens only through the cursor
// operations here; the filter of a dataset is lexed the same way.
//
// Lexical rules in short:
//  - ";" separates statements; a statement without tokens is dropped.
//  - "--" comments run to the end of the line (or of the text), "/* */"
//    comments to their closing pair: one the text ends in is an error;
//    both separate tokens.
//  - 'text' and "text" are string literals, [name] a bracketed name and
//    `name` a back-quoted name (a word that is never a keyword, where a
//    backslash takes the next character as it stands); inside each, the
//    closing character written twice stands for itself.
//  - numbers are unsigned; "." or "E" make them floats ("1.5", ".5", "1e+5");
//    a dot right after a name is a qualifier, so "t.1" is t, ".", 1.
//  - "<=", "<>", ">=" and "||" are one word each; "+", "-", "*", "/", "=",
//    "<", ">" and "|" are words of their own.
//  - ":Name" is a named parameter, "?" a positional one, named Param1,
//    Param2, ... in the order of the "?" markers of the whole script.
//  - lines and columns count from 1; a column counts characters, so the
//    bytes that continue a UTF-8 sequence do not move it.
//
// Every lexing failure is an EVRXException, and one rejects the whole
// script: no statement of it is kept.
//
// Ownership: the lexer keeps its own copy of the text and owns the parameter
// values of its tokens (shared with the tokens copied out of it, and never
// changed after lexing). The parameter list is only read while lexing.
// Not thread-safe: a lexer is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/query/lexer/VRXKeywords.h"
#include "engine/query/lexer/VRXSQLParams.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

// Native error numbers of the lexer.
inline constexpr int32_t kErrMissingRightParenthesis = 30059;
inline constexpr int32_t kErrUnexpectedRightParenthesis = 30060;
inline constexpr int32_t kErrUnterminatedString = 30061;
inline constexpr int32_t kErrInvalidNumericSymbol = 30062;
inline constexpr int32_t kErrUnterminatedComment = 30064;
inline constexpr int32_t kErrParameterNotFound = 30358;

// Token kinds; the numbers are fixed (the parsers test kinds against bit
// masks built from them, see TokenKindBit).
enum TTokenKind : uint8_t {
  tktNone = 0,              // no token: past the end of a statement
  tktString = 1,            // a word that is no number, keyword or parameter; a `name`
  tktQuotedString = 2,      // 'text' or "text"
  tktBracketedString = 3,   // [name]
  tktInt = 4,               // digits only
  tktFloat = 5,             // a number with "." or "E"
  tktReservedWord = 6,      // a word of the keyword list
  tktParameter = 7,         // :Name or ?
  tktLeftParenthesis = 8,   // (
  tktRightParenthesis = 9,  // )
  tktComma = 10,            // ,
  tktDot = 11,              // . outside a number
};

constexpr uint32_t TokenKindBit(TTokenKind kind) { return uint32_t{1} << kind; }

struct TToken {
  TTokenKind kind = tktNone;
  // Position in the keyword list for tktReservedWord, else kNoKeyword.
  uint16_t keywordNo = kNoKeyword;
  // The characters as written; quoted tokens without their quotes and with
  // doubled closing characters undoubled; for parameters the name.
  std::string text;
  // The bound value of a tktParameter (a copy of the parameter taken while
  // lexing), else empty.
  std::shared_ptr<const TVRXVariant> value;
  // Of the first character (the opening quote of quoted tokens), from 1.
  int32_t line = 0;
  int32_t column = 0;
};

// One statement of a script.
struct TSQLCommand {
  std::vector<TToken> tokens;
  // Index of the current token: 0 .. tokens.size() (the latter is past the
  // end).
  int32_t cursor = 0;

  int32_t TokenCount() const { return static_cast<int32_t>(tokens.size()); }
};

class TVRXLexer {
 public:
  // Lexes the whole of `text` at once, binding parameter markers against
  // `params` (nullptr: a script without parameters; any marker then fails
  // as an unknown parameter would). Every statement's cursor is 0 and there
  // is no current statement until NextStatement. Raises:
  //  "Invalid numeric symbol '%s' at line %d, column %d" (30062): a
  //    character other than a digit, ".", "E", "e", "+" or "-" inside a
  //    number (e.g. the "a" of 12abc);
  //  "Missing symbol ')' at line %d, column %d" (30059): more "(" than ")"
  //    in a statement, at its last "(";
  //  "Unexpected symbol ')' found at line %d, column %d" (30060): more ")"
  //    than "(" in a statement, at its last ")"; with as many of each, at a
  //    ")" that closes nothing;
  //  "Unterminated string at line %d, column %d" (30061): a quoted token not
  //    closed before the end of the text, at its opening character;
  //  "Unterminated comment at line %d, column %d" (30064): a "/*" comment
  //    not closed before the end of the text, at its "/";
  //  "Value for parameter '%s' not found" (30358): a named marker without
  //    a parameter of that name;
  //  "List index out of bounds (%d)" (30063): a "?" marker beyond the end of
  //    the parameter list.
  TVRXLexer(std::string_view text, const TVRXSQLParams* params);

  TVRXLexer(const TVRXLexer&) = delete;
  TVRXLexer& operator=(const TVRXLexer&) = delete;

  std::string_view Text() const { return {text_.data(), text_.size()}; }
  int32_t StatementCount() const { return static_cast<int32_t>(statements_.size()); }
  const TSQLCommand& Statement(int32_t index) const;
  // -1 before the first NextStatement, StatementCount() after the last.
  int32_t CurrentStatementIndex() const { return current_; }

  // Moves to the next statement; false when there is none.
  bool NextStatement();

  // The cursor operations below work on the current statement; without one
  // (before the first or after the last) they find no token.

  // Copies the token at the cursor; false and a tktNone token past the end.
  bool CurrentToken(TToken& token) const;
  // Advances the cursor by one and copies the token there; false and a
  // tktNone token when there is none (the cursor then stays one past the
  // last token).
  bool NextToken(TToken& token);
  // Copies the token after the cursor without moving.
  bool PeekToken(TToken& token) const;

  // The cursor of the current statement (0 without one), for backtracking.
  int32_t GetPosition() const;
  // Sets the cursor when `position` lies in 0..TokenCount() (TokenCount()
  // being past the end) and leaves it otherwise; true when a token is
  // there. The second form copies that token (tktNone when there is none).
  bool SetPosition(int32_t position);
  bool SetPosition(int32_t position, TToken& token);

  // Appends an empty statement and makes it current; then AddToken appends
  // to it. For token lists that no text produced. AddToken without a
  // current statement throws std::logic_error.
  void AddStatement();
  void AddToken(TToken token);

  // The token is a keyword and its number is `keywordNo`, or any keyword
  // for kAnyKeyword.
  static bool IsKeyword(const TToken& token, uint16_t keywordNo);

 private:
  TSQLCommand* Current();
  const TSQLCommand* Current() const;

  // Exactly the text, without a terminator: a read past its end is a read
  // outside the block, which the sanitizers report.
  std::vector<char> text_;
  std::vector<TSQLCommand> statements_;
  int32_t current_ = -1;
};

}  // namespace vrx
