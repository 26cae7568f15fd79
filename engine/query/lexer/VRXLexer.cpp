#include "engine/query/lexer/VRXLexer.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "engine/base/VRXExcept.h"

namespace vrx {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// Characters that end an open token and start one of their own.
bool IsBreaker(char c) { return std::string_view("><=(),/*:?|").find(c) != std::string_view::npos; }
bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// One pass over the text. Positions are byte offsets; the line and column
// of the character at `pos_` are kept alongside.
class Scanner {
 public:
  Scanner(std::string_view text, const TVRXSQLParams* params, std::vector<TSQLCommand>& out)
      : text_(text), params_(params), out_(out) {
    tokens_.reserve(16);
  }

  void Run() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ';') {
        EndToken();
        Step();
        EndStatement();
      } else if (c == '-' && At(pos_ + 1) == '-') {
        EndToken();
        SkipLineComment();
      } else if (c == '/' && At(pos_ + 1) == '*') {
        EndToken();
        SkipBlockComment();
      } else if (IsWhiteSpace(c)) {
        EndToken();
        Step();
      } else if (open_ != Open::None && !StartsToken(c)) {
        Append(c);
      } else {
        EndToken();
        StartToken(c);
      }
    }
    EndToken();
    EndStatement();
  }

 private:
  enum class Open { None, Word, Number, Dot };

  // The character at `pos`, or 0 at and past the end.
  char At(size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }

  // Moves past the character at `pos_`: a line feed starts a new line, a
  // carriage return and the continuation bytes of a UTF-8 sequence do not
  // move the column, anything else moves it by one.
  void Step() {
    const char c = text_[pos_++];
    // Positions stop counting at the largest int32 rather than wrap.
    if (c == '\n') {
      if (line_ < INT32_MAX) ++line_;
      column_ = 1;
    } else if (c != '\r' && !IsContinuationByte(c) && column_ < INT32_MAX) {
      ++column_;
    }
  }

  void SkipLineComment() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      Step();
      if (c == '\n') break;
    }
  }

  // A comment that the text ends inside is an error: it would silently
  // swallow whatever follows its start ("DELETE FROM t /* x WHERE id = 5"
  // would delete every record).
  void SkipBlockComment() {
    const int32_t line = line_;
    const int32_t column = column_;
    Step();
    Step();
    while (pos_ < text_.size()) {
      if (text_[pos_] == '*' && At(pos_ + 1) == '/') {
        Step();
        Step();
        return;
      }
      Step();
    }
    throw EVRXException("Unterminated comment at line %d, column %d", {line, column},
                        kErrUnterminatedComment);
  }

  // Whether `c` ends the open token and starts a new one.
  bool StartsToken(char c) const {
    if (IsBreaker(c)) return true;
    switch (open_) {
      case Open::Word:
        return c == '.' || c == '+' || c == '-';
      case Open::Number:
        if (c == '+' || c == '-') {
          const char last = token_.back();
          return last != 'E' && last != 'e';
        }
        return false;
      case Open::Dot:
        return !IsDigit(c);
      case Open::None:
        return true;
    }
    return true;
  }

  void Append(char c) {
    if (open_ == Open::Dot) open_ = Open::Number;  // only digits reach an open dot
    if (open_ == Open::Number && !IsDigit(c) && c != '.' && c != 'E' && c != 'e' && c != '+' &&
        c != '-') {
      // The whole character, not just its first byte.
      size_t end = pos_ + 1;
      while (end < text_.size() && IsContinuationByte(text_[end])) ++end;
      throw EVRXException("Invalid numeric symbol '%s' at line %d, column %d",
                          {text_.substr(pos_, end - pos_), line_, column_},
                          kErrInvalidNumericSymbol);
    }
    token_ += c;
    Step();
  }

  void OpenToken(enum Open kind) {
    open_ = kind;
    token_.assign(1, text_[pos_]);
    tokenLine_ = line_;
    tokenColumn_ = column_;
    Step();
  }

  void StartToken(char c) {
    switch (c) {
      case '\'':
      case '"':
        ReadQuoted(c, tktQuotedString, false);
        return;
      case '[':
        ReadQuoted(']', tktBracketedString, false);
        return;
      case '`':
        ReadQuoted('`', tktString, true);
        return;
      case '(':
        ++depth_;
        lastOpen_ = {line_, column_};
        Emit(tktLeftParenthesis, 1);
        return;
      case ')':
        --depth_;
        lastClose_ = {line_, column_};
        if (depth_ < 0 && !strayClose_.line) strayClose_ = lastClose_;
        Emit(tktRightParenthesis, 1);
        return;
      case ',':
        Emit(tktComma, 1);
        return;
      case '.':
        // Right after a name the dot qualifies it (t.1 is t, ".", 1);
        // elsewhere it may begin a number (.5).
        if (nameEnd_ == pos_)
          Emit(tktDot, 1);
        else
          OpenToken(Open::Dot);
        return;
      case '+':
      case '-':
      case '*':
      case '/':
      case '=':
        Emit(tktString, 1);
        return;
      case '<': {
        const char next = At(pos_ + 1);
        Emit(tktString, next == '=' || next == '>' ? 2 : 1);
        return;
      }
      case '>':
        Emit(tktString, At(pos_ + 1) == '=' ? 2 : 1);
        return;
      case '|':
        Emit(tktString, At(pos_ + 1) == '|' ? 2 : 1);
        return;
      default:
        OpenToken(IsDigit(c) ? Open::Number : Open::Word);
        return;
    }
  }

  // A complete token of the next `length` characters.
  void Emit(TTokenKind kind, size_t length) {
    TToken& token = tokens_.emplace_back();
    token.kind = kind;
    token.text.assign(text_.data() + pos_, length);
    token.line = line_;
    token.column = column_;
    for (size_t i = 0; i < length; ++i) Step();
  }

  // Collects a quoted token up to `close`; the closing character written
  // twice stands for itself, and with `escapes` a backslash takes the next
  // character as it stands. A text that ends first leaves the statement
  // marked as unterminated at the opening character.
  void ReadQuoted(char close, TTokenKind kind, bool escapes) {
    TToken token;
    token.kind = kind;
    token.line = line_;
    token.column = column_;
    Step();
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (escapes && c == '\\') {
        Step();
        if (pos_ == text_.size()) break;
        token.text += text_[pos_];
        Step();
      } else if (c == close && At(pos_ + 1) == close) {
        token.text += c;
        Step();
        Step();
      } else if (c == close) {
        Step();
        nameEnd_ = pos_;
        tokens_.push_back(std::move(token));
        return;
      } else {
        token.text += c;
        Step();
      }
    }
    unterminated_ = {token.line, token.column};
  }

  void EndToken() {
    if (open_ == Open::None) return;
    TToken token;
    token.line = tokenLine_;
    token.column = tokenColumn_;
    token.text = std::move(token_);
    token_.clear();
    switch (open_) {
      case Open::Number:
        token.kind = token.text.find_first_of(".Ee") != std::string::npos ? tktFloat : tktInt;
        break;
      case Open::Dot:
        token.kind = tktDot;
        break;
      case Open::Word:
        EndWord(token);
        break;
      case Open::None:
        break;
    }
    open_ = Open::None;
    tokens_.push_back(std::move(token));
  }

  void EndWord(TToken& token) {
    if (token.text[0] == ':') {
      token.kind = tktParameter;
      token.text.erase(0, 1);
      const TVRXSQLParam* param = params_ ? params_->FindByName(token.text) : nullptr;
      if (!param)
        throw EVRXException("Value for parameter '%s' not found", {token.text},
                            kErrParameterNotFound);
      token.value = std::make_shared<const TVRXVariant>(static_cast<const TVRXVariant&>(*param));
    } else if (token.text[0] == '?') {
      token.kind = tktParameter;
      const int32_t index = questionMarks_++;
      token.text = "Param" + std::to_string(index + 1);
      if (!params_)
        throw EVRXException("List index out of bounds (%d)", {index}, kErrParamIndexOutOfBounds);
      token.value = std::make_shared<const TVRXVariant>(
          static_cast<const TVRXVariant&>(params_->Items(index)));
    } else {
      token.keywordNo = FindKeyword(token.text);
      token.kind = token.keywordNo == kNoKeyword ? tktString : tktReservedWord;
      if (token.kind == tktString) nameEnd_ = pos_;
      return;
    }
    nameEnd_ = pos_;
  }

  void EndStatement() {
    // An unterminated literal swallowed the rest of the text, parentheses
    // included, so it is the one to report.
    if (unterminated_.line)
      throw EVRXException("Unterminated string at line %d, column %d",
                          {unterminated_.line, unterminated_.column}, kErrUnterminatedString);
    if (depth_ > 0)
      throw EVRXException("Missing symbol ')' at line %d, column %d",
                          {lastOpen_.line, lastOpen_.column}, kErrMissingRightParenthesis);
    if (depth_ < 0 || strayClose_.line) {
      const Where where = depth_ < 0 ? lastClose_ : strayClose_;
      throw EVRXException("Unexpected symbol ')' found at line %d, column %d",
                          {where.line, where.column}, kErrUnexpectedRightParenthesis);
    }
    if (!tokens_.empty()) {
      out_.emplace_back();
      out_.back().tokens = std::move(tokens_);
      tokens_.clear();
      tokens_.reserve(16);
    }
    depth_ = 0;
    lastOpen_ = lastClose_ = strayClose_ = Where{};
  }

  struct Where {
    int32_t line = 0;  // 0: not seen
    int32_t column = 0;
  };

  const std::string_view text_;
  const TVRXSQLParams* const params_;
  std::vector<TSQLCommand>& out_;

  size_t pos_ = 0;
  int32_t line_ = 1;
  int32_t column_ = 1;
  int32_t questionMarks_ = 0;  // "?" markers so far, over the whole script
  // The offset just past the last name-like token (word or quoted), so that
  // a dot there is known to qualify it.
  size_t nameEnd_ = std::string_view::npos;

  // The open token.
  enum Open open_ = Open::None;
  std::string token_;
  int32_t tokenLine_ = 0;
  int32_t tokenColumn_ = 0;

  // The current statement.
  std::vector<TToken> tokens_;
  int32_t depth_ = 0;
  Where lastOpen_;
  Where lastClose_;
  Where strayClose_;  // the first ")" that closed nothing
  Where unterminated_;
};

}  // namespace

TVRXLexer::TVRXLexer(std::string_view text, const TVRXSQLParams* params)
    : text_(text.begin(), text.end()) {
  Scanner(Text(), params, statements_).Run();
}

const TSQLCommand& TVRXLexer::Statement(int32_t index) const {
  if (index < 0 || index >= StatementCount())
    throw std::out_of_range("statement index out of range");
  return statements_[static_cast<size_t>(index)];
}

TSQLCommand* TVRXLexer::Current() {
  return const_cast<TSQLCommand*>(std::as_const(*this).Current());
}

const TSQLCommand* TVRXLexer::Current() const {
  return current_ >= 0 && current_ < StatementCount() ? &statements_[static_cast<size_t>(current_)]
                                                      : nullptr;
}

bool TVRXLexer::NextStatement() {
  if (current_ < StatementCount()) ++current_;
  return current_ < StatementCount();
}

namespace {

bool CopyToken(const TSQLCommand* command, int32_t index, TToken& token) {
  if (command && index >= 0 && index < command->TokenCount()) {
    token = command->tokens[static_cast<size_t>(index)];
    return true;
  }
  token = TToken{};
  return false;
}

}  // namespace

bool TVRXLexer::CurrentToken(TToken& token) const {
  const TSQLCommand* command = Current();
  return CopyToken(command, command ? command->cursor : 0, token);
}

bool TVRXLexer::NextToken(TToken& token) {
  TSQLCommand* command = Current();
  if (command && command->cursor < command->TokenCount()) ++command->cursor;
  return CopyToken(command, command ? command->cursor : 0, token);
}

bool TVRXLexer::PeekToken(TToken& token) const {
  const TSQLCommand* command = Current();
  return CopyToken(command, command ? command->cursor + 1 : 0, token);
}

int32_t TVRXLexer::GetPosition() const {
  const TSQLCommand* command = Current();
  return command ? command->cursor : 0;
}

bool TVRXLexer::SetPosition(int32_t position) {
  TSQLCommand* command = Current();
  if (!command || position < 0 || position > command->TokenCount()) return false;
  command->cursor = position;
  return position < command->TokenCount();
}

bool TVRXLexer::SetPosition(int32_t position, TToken& token) {
  const bool inside = SetPosition(position);
  if (inside)
    CurrentToken(token);
  else
    token = TToken{};
  return inside;
}

void TVRXLexer::AddStatement() {
  statements_.emplace_back();
  current_ = StatementCount() - 1;
}

void TVRXLexer::AddToken(TToken token) {
  TSQLCommand* command = Current();
  if (!command) throw std::logic_error("TVRXLexer::AddToken without a current statement");
  command->tokens.push_back(std::move(token));
}

bool TVRXLexer::IsKeyword(const TToken& token, uint16_t keywordNo) {
  return token.kind == tktReservedWord &&
         (keywordNo == kAnyKeyword || token.keywordNo == keywordNo);
}

}  // namespace vrx
