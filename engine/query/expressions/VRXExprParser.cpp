// Recursive descent over the tokens of the current statement. Every parse
// function is entered with cur_ on the first token of its construct and
// leaves cur_ on the first token after it.
#include "engine/query/expressions/VRXExprParser.h"

#include <string>

#include "engine/base/VRXExcept.h"
#include "engine/values/VRXConverts.h"
#include "engine/values/VRXTypes.h"

namespace vrx {

namespace {

using B = TVRXBaseFieldType;
using A = TVRXAdvancedFieldType;

// Refusal of a nesting too deep; never taken for a failed alternative.
class ETooDeep : public EVRXException {
 public:
  using EVRXException::EVRXException;
};

constexpr uint16_t kAll = Keyword("ALL");
constexpr uint16_t kAnd = Keyword("AND");
constexpr uint16_t kAny = Keyword("ANY");
constexpr uint16_t kAs = Keyword("AS");
constexpr uint16_t kAvg = Keyword("AVG");
constexpr uint16_t kBetween = Keyword("BETWEEN");
constexpr uint16_t kCase = Keyword("CASE");
constexpr uint16_t kCast = Keyword("CAST");
constexpr uint16_t kCount = Keyword("COUNT");
constexpr uint16_t kCurrentDate = Keyword("CURRENT_DATE");
constexpr uint16_t kCurrentTime = Keyword("CURRENT_TIME");
constexpr uint16_t kCurrentTimestamp = Keyword("CURRENT_TIMESTAMP");
constexpr uint16_t kDistinct = Keyword("DISTINCT");
constexpr uint16_t kElse = Keyword("ELSE");
constexpr uint16_t kEnd = Keyword("END");
constexpr uint16_t kExists = Keyword("EXISTS");
constexpr uint16_t kFalse = Keyword("FALSE");
constexpr uint16_t kFor = Keyword("FOR");
constexpr uint16_t kFrom = Keyword("FROM");
constexpr uint16_t kIn = Keyword("IN");
constexpr uint16_t kIs = Keyword("IS");
constexpr uint16_t kLastAutoinc = Keyword("LASTAUTOINC");
constexpr uint16_t kLength = Keyword("LENGTH");
constexpr uint16_t kLike = Keyword("LIKE");
constexpr uint16_t kLower = Keyword("LOWER");
constexpr uint16_t kLTrim = Keyword("LTRIM");
constexpr uint16_t kMax = Keyword("MAX");
constexpr uint16_t kMemory = Keyword("MEMORY");
constexpr uint16_t kMimeToBin = Keyword("MIMETOBIN");
constexpr uint16_t kMin = Keyword("MIN");
constexpr uint16_t kNot = Keyword("NOT");
constexpr uint16_t kNow = Keyword("NOW");
constexpr uint16_t kNull = Keyword("NULL");
constexpr uint16_t kOr = Keyword("OR");
constexpr uint16_t kPos = Keyword("POS");
constexpr uint16_t kPosition = Keyword("POSITION");
constexpr uint16_t kRowNum = Keyword("ROWNUM");
constexpr uint16_t kRTrim = Keyword("RTRIM");
constexpr uint16_t kSelect = Keyword("SELECT");
constexpr uint16_t kSome = Keyword("SOME");
constexpr uint16_t kSubstring = Keyword("SUBSTRING");
constexpr uint16_t kSum = Keyword("SUM");
constexpr uint16_t kSysDate = Keyword("SYSDATE");
constexpr uint16_t kThen = Keyword("THEN");
constexpr uint16_t kToDate = Keyword("TODATE");
constexpr uint16_t kToString = Keyword("TOSTRING");
constexpr uint16_t kTrim = Keyword("TRIM");
constexpr uint16_t kTrue = Keyword("TRUE");
constexpr uint16_t kUnknown = Keyword("UNKNOWN");
constexpr uint16_t kUpper = Keyword("UPPER");
constexpr uint16_t kWhen = Keyword("WHEN");

uint8_t ComparisonOf(const TToken& t) {
  if (t.kind != tktString) return eoNone;
  if (t.text == "=") return eoEqual;
  if (t.text == "<>") return eoNotEqual;
  if (t.text == ">") return eoGreater;
  if (t.text == "<") return eoLess;
  if (t.text == ">=") return eoGreaterOrEqual;
  if (t.text == "<=") return eoLessOrEqual;
  return eoNone;
}

bool IsSymbol(const TToken& t) {
  if (t.kind != tktString || t.text.empty()) return false;
  const char c = t.text[0];
  return c == '=' || c == '<' || c == '>' || c == '+' || c == '-' || c == '*' || c == '/' ||
         c == '|';
}

bool IsNumericConst(const TVRXExprNode& node) {
  auto* c = dynamic_cast<const TVRXExprNodeConst*>(&node);
  return c == nullptr || !IsTextType(c->Value().DataType());
}

class Parser {
 public:
  Parser(TVRXLexer& lexer, TVRXExprQueryContext* query, const TVRXExprParseOptions& options)
      : lexer_(lexer), query_(query), options_(options) {
    lexer_.CurrentToken(cur_);
    if (AtEnd()) {
      // The position of the statement's last token, if any.
      const int32_t index = lexer_.CurrentStatementIndex();
      if (index >= 0 && index < lexer_.StatementCount()) {
        const TSQLCommand& s = lexer_.Statement(index);
        if (!s.tokens.empty()) {
          lastLine_ = s.tokens.back().line;
          lastColumn_ = s.tokens.back().column;
        }
      }
      Fail("Unexpected end of SQL command found at line %d, column %d", {}, kErrParseUnexpectedEnd);
    }
  }

  std::unique_ptr<TVRXExprNode> SearchCondition();
  std::unique_ptr<TVRXExprNode> ValueExpression();

 private:
  struct Guard {
    explicit Guard(Parser& p) : parser(p) {
      if (++parser.nesting_ > kMaxExprNesting) parser.TooDeep();
    }
    ~Guard() { --parser.nesting_; }
    Parser& parser;
  };

  // ---- tokens ----
  bool AtEnd() const { return cur_.kind == tktNone; }
  void Next() {
    if (!AtEnd()) {
      lastLine_ = cur_.line;
      lastColumn_ = cur_.column;
    }
    lexer_.NextToken(cur_);
  }
  int32_t Position() const { return lexer_.GetPosition(); }
  void Restore(int32_t position) { lexer_.SetPosition(position, cur_); }
  bool Is(uint16_t keyword) const { return TVRXLexer::IsKeyword(cur_, keyword); }
  bool IsOp(std::string_view text) const { return cur_.kind == tktString && cur_.text == text; }
  bool IsLeft() const { return cur_.kind == tktLeftParenthesis; }
  bool IsRight() const { return cur_.kind == tktRightParenthesis; }
  bool IsComma() const { return cur_.kind == tktComma; }
  TToken Peek() const {
    TToken t;
    lexer_.PeekToken(t);
    return t;
  }

  // ---- errors ----
  [[noreturn]] void Fail(std::string_view format, std::initializer_list<FormatArg> args,
                         int32_t code) const {
    // The message up to its position, then the position; a "%" of the
    // token's text must not be read as a conversion.
    std::string text;
    for (char c : FormatText(format.substr(0, format.rfind(" at line")), args)) {
      text.push_back(c);
      if (c == '%') text.push_back('%');
    }
    const int32_t line = AtEnd() ? lastLine_ : cur_.line;
    const int32_t column = AtEnd() ? lastColumn_ : cur_.column;
    throw EVRXException(text + " at line %d, column %d", {line, column}, code);
  }
  [[noreturn]] void FailEnd() const {
    Fail("Unexpected end of SQL command found at line %d, column %d", {}, kErrParseUnexpectedEnd);
  }
  [[noreturn]] void FailUnexpected() const {
    if (AtEnd()) FailEnd();
    Fail("Unexpected token '%s' found at line %d, column %d", {cur_.text},
         kErrParseUnexpectedToken);
  }
  [[noreturn]] void FailExpected(std::string_view expected) const {
    if (AtEnd()) FailEnd();
    Fail("Token '%s' expected, but '%s' found at line %d, column %d", {expected, cur_.text},
         kErrParseTokenExpected);
  }
  [[noreturn]] void TooDeep() const {
    const int32_t line = AtEnd() ? lastLine_ : cur_.line;
    const int32_t column = AtEnd() ? lastColumn_ : cur_.column;
    throw ETooDeep("Expression is nested too deeply at line %d, column %d", {line, column},
                   kErrParseTooDeep);
  }
  std::unique_ptr<TVRXExprNode> Checked(std::unique_ptr<TVRXExprNode> node) const {
    if (node->Depth() > kMaxExprTreeDepth) TooDeep();
    return node;
  }
  void ExpectLeft() {
    if (!IsLeft()) FailExpected("(");
    Next();
  }
  void ExpectRight() {
    if (!IsRight()) FailExpected(")");
    Next();
  }
  void ExpectComma() {
    if (!IsComma()) FailExpected(",");
    Next();
  }
  // "(" of a function whose argument must follow.
  void OpenArguments(std::string_view function) {
    ExpectLeft();
    if (IsRight())
      Fail("Argument expected for function '%s' at line %d, column %d", {function},
           kErrParseArgumentExpected);
    if (AtEnd()) FailEnd();
  }

  // ---- grammar ----
  std::unique_ptr<TVRXExprNode> Term();
  std::unique_ptr<TVRXExprNode> Factor();
  std::unique_ptr<TVRXExprNode> Test();
  std::unique_ptr<TVRXExprNode> Primary();
  std::unique_ptr<TVRXExprNode> Predicate();
  std::unique_ptr<TVRXExprNode> Comparison(uint8_t op, std::unique_ptr<TVRXExprNode> left,
                                           std::unique_ptr<TVRXExprNode> right);
  std::unique_ptr<TVRXExprNode> Concatenation();
  std::unique_ptr<TVRXExprNode> Arithmetic();
  std::unique_ptr<TVRXExprNode> Product();
  std::unique_ptr<TVRXExprNode> Signed();
  std::unique_ptr<TVRXExprNode> NumericPrimary();
  std::unique_ptr<TVRXExprNode> Constant();
  std::unique_ptr<TVRXExprNode> FieldReference();
  std::unique_ptr<TVRXExprNode> Subquery(bool singleColumn, bool singleRow);
  std::unique_ptr<TVRXExprNode> Aggregate();
  std::unique_ptr<TVRXExprNode> Case();
  std::unique_ptr<TVRXExprNode> Cast();
  std::unique_ptr<TVRXExprNode> Function();
  std::string StringConstant(bool dateFormat);
  // A ")" that closes a parenthesised condition is followed by something
  // that continues a value: the parenthesis held a value, not a condition.
  bool ContinuesValue() const;

  TVRXLexer& lexer_;
  TVRXExprQueryContext* query_;
  TVRXExprParseOptions options_;
  TToken cur_;
  int32_t lastLine_ = 0;
  int32_t lastColumn_ = 0;
  int32_t nesting_ = 0;
};

std::unique_ptr<TVRXExprNode> Parser::SearchCondition() {
  Guard guard(*this);
  std::unique_ptr<TVRXExprNode> left = Term();
  while (Is(kOr)) {
    Next();
    auto node = std::make_unique<TVRXExprNodeBoolean>(eoOr);
    node->AddChild(std::move(left));
    node->AddChild(Term());
    left = Checked(std::move(node));
  }
  return left;
}

std::unique_ptr<TVRXExprNode> Parser::Term() {
  std::unique_ptr<TVRXExprNode> first = Factor();
  if (!Is(kAnd)) return first;
  auto node = std::make_unique<TVRXExprNodeBoolean>(eoAnd);
  node->AddChild(std::move(first));
  while (Is(kAnd)) {
    Next();
    node->AddChild(Factor());
  }
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Factor() {
  if (!Is(kNot)) return Test();
  Next();
  auto node = std::make_unique<TVRXExprNodeBoolean>(eoNot);
  node->AddChild(Test());
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Test() {
  std::unique_ptr<TVRXExprNode> primary = Primary();
  if (!Is(kIs)) return primary;
  Next();
  bool negated = false;
  if (Is(kNot)) {
    negated = true;
    Next();
  }
  uint8_t wrap = eoNone;
  if (Is(kTrue))
    wrap = negated ? eoNot : eoNone;
  else if (Is(kFalse))
    wrap = negated ? eoNone : eoNot;
  else if (Is(kUnknown))
    wrap = negated ? eoIsNotNull : eoIsNull;
  else
    FailExpected("TRUE, FALSE or UNKNOWN");
  Next();
  if (wrap == eoNone) return primary;
  auto node = std::make_unique<TVRXExprNodeBoolean>(wrap);
  node->AddChild(std::move(primary));
  return Checked(std::move(node));
}

bool Parser::ContinuesValue() const {
  if (ComparisonOf(cur_) != eoNone || IsSymbol(cur_)) return true;
  if (Is(kLike) || Is(kBetween) || Is(kIn)) return true;
  if (Is(kNot)) {
    const TToken next = Peek();
    return TVRXLexer::IsKeyword(next, kLike) || TVRXLexer::IsKeyword(next, kBetween) ||
           TVRXLexer::IsKeyword(next, kIn);
  }
  if (Is(kIs)) {
    // IS [NOT] NULL tests a value; IS [NOT] TRUE, FALSE, UNKNOWN a condition.
    TVRXLexer& lexer = const_cast<TVRXLexer&>(lexer_);
    const int32_t position = lexer.GetPosition();
    TToken t;
    lexer.NextToken(t);
    if (TVRXLexer::IsKeyword(t, kNot)) lexer.NextToken(t);
    const bool isNull = TVRXLexer::IsKeyword(t, kNull);
    lexer.SetPosition(position);
    return isNull;
  }
  return false;
}

std::unique_ptr<TVRXExprNode> Parser::Primary() {
  if (IsLeft() && !TVRXLexer::IsKeyword(Peek(), kSelect)) {
    const int32_t position = Position();
    try {
      Next();
      std::unique_ptr<TVRXExprNode> condition = SearchCondition();
      if (IsRight()) {
        Next();
        if (!ContinuesValue()) return condition;
      }
    } catch (const ETooDeep&) {
      throw;
    } catch (const EVRXException&) {
      // Not a condition in parentheses: retried as a predicate.
    }
    Restore(position);
  }
  return Predicate();
}

std::unique_ptr<TVRXExprNode> Parser::Comparison(uint8_t op, std::unique_ptr<TVRXExprNode> left,
                                                 std::unique_ptr<TVRXExprNode> right) {
  auto node = std::make_unique<TVRXExprNodeComparison>(op, options_.sqlNulls);
  node->SetCaseInsensitive(options_.caseInsensitive);
  if (options_.partialCompare) {
    for (TVRXExprNode* side : {left.get(), right.get()}) {
      auto* constant = dynamic_cast<TVRXExprNodeConst*>(side);
      if (constant == nullptr || !IsTextType(constant->Value().DataType()) ||
          constant->Value().IsNull())
        continue;
      const std::string text = constant->Value().GetAsString();
      if (text.empty() || text.back() != '*') continue;
      TVRXVariant prefix;
      prefix.SetAsString(std::string_view(text).substr(0, text.size() - 1));
      if (IsWideTextType(constant->Value().DataType())) prefix.ChangeType(B::WideString);
      constant->SetValue(std::move(prefix));
      node->SetPartial(true);
    }
  }
  node->AddChild(std::move(left));
  node->AddChild(std::move(right));
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Predicate() {
  if (AtEnd()) FailEnd();
  if (Is(kTrue) || Is(kFalse) ||
      (cur_.kind == tktParameter && cur_.value && cur_.value->DataType() == B::Logical)) {
    return Constant();
  }
  if (Is(kExists)) {
    Next();
    if (!IsLeft() || !TVRXLexer::IsKeyword(Peek(), kSelect)) FailExpected("(");
    auto node = std::make_unique<TVRXExprNodeBoolean>(eoExists);
    node->AddChild(Subquery(false, false));
    return node;
  }
  std::unique_ptr<TVRXExprNode> operand = ValueExpression();
  const uint8_t op = ComparisonOf(cur_);
  if (op != eoNone) {
    Next();
    if (Is(kAll) || Is(kAny) || Is(kSome)) {
      const uint8_t quantifier = Is(kAll) ? eqAll : eqAny;
      Next();
      if (!IsLeft() || !TVRXLexer::IsKeyword(Peek(), kSelect)) FailExpected("(");
      auto node = std::make_unique<TVRXExprNodeComparison>(op, options_.sqlNulls, quantifier);
      node->AddChild(std::move(operand));
      node->AddChild(Subquery(true, false));
      return node;
    }
    return Comparison(op, std::move(operand), ValueExpression());
  }
  bool negated = false;
  if (Is(kNot)) {
    negated = true;
    Next();
    if (!Is(kLike) && !Is(kBetween) && !Is(kIn)) FailUnexpected();
  }
  if (Is(kLike)) {
    Next();
    auto node = std::make_unique<TVRXExprNodeBoolean>(negated ? eoNotLike : eoLike);
    node->AddChild(std::move(operand));
    node->AddChild(ValueExpression());
    return Checked(std::move(node));
  }
  if (Is(kBetween)) {
    Next();
    auto node = std::make_unique<TVRXExprNodeBoolean>(negated ? eoNotBetween : eoBetween);
    node->AddChild(std::move(operand));
    node->AddChild(ValueExpression());
    if (!Is(kAnd)) FailExpected("AND");
    Next();
    node->AddChild(ValueExpression());
    return Checked(std::move(node));
  }
  if (Is(kIn)) {
    Next();
    auto node = std::make_unique<TVRXExprNodeBoolean>(negated ? eoNotIn : eoIn);
    node->AddChild(std::move(operand));
    if (IsLeft() && TVRXLexer::IsKeyword(Peek(), kSelect)) {
      node->AddChild(Subquery(true, false));
      return node;
    }
    ExpectLeft();
    node->AddChild(ValueExpression());
    while (IsComma()) {
      Next();
      node->AddChild(ValueExpression());
    }
    ExpectRight();
    return Checked(std::move(node));
  }
  if (Is(kIs)) {
    Next();
    bool not_ = false;
    if (Is(kNot)) {
      not_ = true;
      Next();
    }
    if (!Is(kNull)) FailExpected("NULL");
    Next();
    auto node = std::make_unique<TVRXExprNodeBoolean>(not_ ? eoIsNotNull : eoIsNull);
    node->AddChild(std::move(operand));
    return Checked(std::move(node));
  }
  if (AtEnd()) FailEnd();
  Fail("Boolean expression expected, but '%s' found at line %d, column %d", {cur_.text},
       kErrParseBooleanExpected);
}

std::unique_ptr<TVRXExprNode> Parser::ValueExpression() {
  Guard guard(*this);
  if (Is(kTrue) || Is(kFalse) || Is(kNull)) return Constant();
  if (Is(kMimeToBin)) {
    Next();
    OpenArguments("MimeToBin()");
    const TToken start = cur_;
    std::unique_ptr<TVRXExprNode> argument = Concatenation();
    if (auto* c = dynamic_cast<TVRXExprNodeConst*>(argument.get());
        c != nullptr && !c->Value().IsNull() && !IsTextType(c->Value().DataType())) {
      throw EVRXException(
          "String argument expected for function '%s', but '%s' found at line %d, column %d",
          {"MimeToBin()", start.text, start.line, start.column}, kErrParseStringArgument);
    }
    ExpectRight();
    auto node = std::make_unique<TVRXExprNodeBlob>(eoMimeToBin);
    node->AddChild(std::move(argument));
    return Checked(std::move(node));
  }
  return Concatenation();
}

std::unique_ptr<TVRXExprNode> Parser::Concatenation() {
  std::unique_ptr<TVRXExprNode> first = Arithmetic();
  if (!IsOp("||")) return first;
  auto node = std::make_unique<TVRXExprNodeStringFunction>(eoConcat);
  // A plain list of sums joins the concatenation operand by operand.
  if (first->Operator() == eoConcat && dynamic_cast<TVRXExprNodeStringFunction*>(first.get())) {
    for (auto& child : first->TakeChildren()) node->AddChild(std::move(child));
  } else {
    node->AddChild(std::move(first));
  }
  while (IsOp("||") || IsOp("+")) {
    Next();
    node->AddChild(NumericPrimary());
  }
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Arithmetic() {
  std::unique_ptr<TVRXExprNode> first = Product();
  if (!IsOp("+") && !IsOp("-")) return first;
  std::vector<std::unique_ptr<TVRXExprNode>> terms;
  bool texts = !IsNumericConst(*first);
  bool subtracted = false;
  terms.push_back(std::move(first));
  while (IsOp("+") || IsOp("-")) {
    const bool minus = IsOp("-");
    Next();
    std::unique_ptr<TVRXExprNode> term = Product();
    texts = texts || !IsNumericConst(*term);
    if (minus) {
      subtracted = true;
      auto negation = std::make_unique<TVRXExprNodeArithmetic>(eoNegate);
      negation->AddChild(std::move(term));
      term = std::move(negation);
    }
    terms.push_back(std::move(term));
  }
  // A string constant among the terms makes the "+" a concatenation.
  std::unique_ptr<TVRXExprNode> node;
  if (texts && !subtracted)
    node = std::make_unique<TVRXExprNodeStringFunction>(eoConcat);
  else
    node = std::make_unique<TVRXExprNodeArithmetic>(eoSum);
  for (auto& term : terms) node->AddChild(std::move(term));
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Product() {
  std::unique_ptr<TVRXExprNode> left = Signed();
  while (IsOp("*") || IsOp("/")) {
    const uint8_t op = IsOp("*") ? eoMultiply : eoDivide;
    if (!IsNumericConst(*left)) FailUnexpected();
    Next();
    auto node = std::make_unique<TVRXExprNodeArithmetic>(op);
    node->AddChild(std::move(left));
    const TToken start = cur_;
    std::unique_ptr<TVRXExprNode> right = Signed();
    if (!IsNumericConst(*right))
      throw EVRXException("Unexpected token '%s' found at line %d, column %d",
                          {start.text, start.line, start.column}, kErrParseUnexpectedToken);
    node->AddChild(std::move(right));
    left = Checked(std::move(node));
  }
  return left;
}

std::unique_ptr<TVRXExprNode> Parser::Signed() {
  bool negate = false;
  if (IsOp("+") || IsOp("-")) {
    negate = IsOp("-");
    Next();
    const TToken start = cur_;
    std::unique_ptr<TVRXExprNode> operand = NumericPrimary();
    if (!IsNumericConst(*operand))
      throw EVRXException("Unexpected token '%s' found at line %d, column %d",
                          {start.text, start.line, start.column}, kErrParseUnexpectedToken);
    if (!negate) return operand;
    auto node = std::make_unique<TVRXExprNodeArithmetic>(eoNegate);
    node->AddChild(std::move(operand));
    return Checked(std::move(node));
  }
  return NumericPrimary();
}

std::unique_ptr<TVRXExprNode> Parser::Constant() {
  TVRXVariant value;
  switch (cur_.kind) {
    case tktInt: {
      int64_t n = 0;
      if (TextToInteger(cur_.text, n)) {
        if (n < 2147483647)
          value.SetAsInteger(static_cast<int32_t>(n));
        else
          value.SetAsLargeInt(n);
        break;
      }
      [[fallthrough]];  // beyond 64 bits: a float
    }
    case tktFloat: {
      long double f = 0;
      if (!TextToFloat(cur_.text, f)) FailUnexpected();
      value.SetAsFloat(static_cast<double>(f));
      break;
    }
    case tktQuotedString:
      value.SetAsString(cur_.text);
      break;
    case tktParameter:
      if (cur_.value) value = *cur_.value;
      break;
    default:
      if (Is(kTrue) || Is(kFalse))
        value.SetAsLogical(Is(kTrue));
      else if (!Is(kNull))
        FailUnexpected();
      break;
  }
  Next();
  return std::make_unique<TVRXExprNodeConst>(std::move(value));
}

std::unique_ptr<TVRXExprNode> Parser::FieldReference() {
  std::string first = cur_.text;
  Next();
  if (IsLeft()) {
    const int32_t position = Position();
    // A name followed by "(" is a function this engine does not have.
    Restore(position - 1);
    FailUnexpected();
  }
  if (cur_.kind != tktDot) return std::make_unique<TVRXExprNodeField>("", std::move(first));
  Next();
  if (cur_.kind != tktString && cur_.kind != tktBracketedString &&
      cur_.kind != tktQuotedString && cur_.kind != tktReservedWord)
    FailUnexpected();
  if (IsSymbol(cur_)) FailUnexpected();
  std::string second = cur_.text;
  Next();
  return std::make_unique<TVRXExprNodeField>(std::move(first), std::move(second));
}

std::unique_ptr<TVRXExprNode> Parser::Subquery(bool singleColumn, bool singleRow) {
  // cur_ is the "(" before SELECT; the tokens up to the matching ")" are
  // the subquery's, parsed with the SQL statements.
  const int32_t first = Position() + 1;
  int depth = 0;
  do {
    if (IsLeft()) ++depth;
    if (IsRight()) --depth;
    if (depth > 0) Next();
    if (AtEnd()) FailExpected(")");
  } while (depth > 0);
  const int32_t end = Position();
  Next();
  return std::make_unique<TVRXExprNodeSubquery>(lexer_.CurrentStatementIndex(), first, end,
                                                singleColumn, singleRow);
}

std::unique_ptr<TVRXExprNode> Parser::NumericPrimary() {
  Guard guard(*this);
  switch (cur_.kind) {
    case tktNone:
      FailEnd();
    case tktInt:
    case tktFloat:
    case tktQuotedString:
    case tktParameter:
      return Constant();
    case tktString:
      if (IsSymbol(cur_)) FailUnexpected();
      return FieldReference();
    case tktBracketedString:
      return FieldReference();
    case tktLeftParenthesis: {
      if (TVRXLexer::IsKeyword(Peek(), kSelect)) return Subquery(true, true);
      Next();
      std::unique_ptr<TVRXExprNode> inner = ValueExpression();
      ExpectRight();
      return inner;
    }
    case tktReservedWord:
      if (Is(kNull) || Is(kTrue) || Is(kFalse)) return Constant();
      if (Is(kCount) || Is(kAvg) || Is(kMax) || Is(kMin) || Is(kSum)) return Aggregate();
      if (Is(kCase)) return Case();
      if (Is(kCast)) return Cast();
      return Function();
    default:
      FailUnexpected();
  }
}

std::unique_ptr<TVRXExprNode> Parser::Aggregate() {
  const uint8_t op = Is(kCount) ? eoAggCount
                     : Is(kAvg) ? eoAggAvg
                     : Is(kMax) ? eoAggMax
                     : Is(kMin) ? eoAggMin
                                : eoAggSum;
  Next();
  OpenArguments(OperatorName(op));
  if (op == eoAggCount && IsOp("*")) {
    Next();
    ExpectRight();
    return std::make_unique<TVRXExprNodeAggregated>(eoAggCountAll, false);
  }
  bool distinct = false;
  if (Is(kDistinct)) {
    distinct = true;
    Next();
  }
  auto node = std::make_unique<TVRXExprNodeAggregated>(op, distinct);
  node->AddChild(ValueExpression());
  ExpectRight();
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Case() {
  Next();
  auto node = std::make_unique<TVRXExprNodeCase>();
  // Runs one part of the CASE, turning its failure into `message`.
  auto part = [&](auto parse, std::string_view message, int32_t code) {
    const TToken start = cur_;
    try {
      return parse();
    } catch (const ETooDeep&) {
      throw;
    } catch (const EVRXException&) {
      if (start.kind == tktNone) FailEnd();
      throw EVRXException(std::string(message) + " at line %d, column %d",
                          {start.text, start.line, start.column}, code);
    }
  };
  auto value = [&] { return ValueExpression(); };
  auto condition = [&] { return SearchCondition(); };
  const bool searched = Is(kWhen);
  if (!searched)
    node->SetInput(part(value, "Input expression for CASE function expected, but '%s' found",
                        kErrParseCaseInput));
  if (!Is(kWhen)) FailExpected("WHEN");
  while (Is(kWhen)) {
    Next();
    std::unique_ptr<TVRXExprNode> when =
        searched ? part(condition, "Search Condition for CASE function expected, but '%s' found",
                        kErrParseCaseCondition)
                 : part(value, "When Expression for CASE function expected, but '%s' found",
                        kErrParseCaseWhen);
    if (!Is(kThen)) FailExpected("THEN");
    Next();
    node->AddWhen(std::move(when), ValueExpression());
  }
  if (Is(kElse)) {
    Next();
    node->SetElse(part(value, "'Else Result Expression' for CASE function expected, but '%s' found",
                       kErrParseCaseElse));
  }
  if (!Is(kEnd)) FailExpected("END");
  Next();
  return Checked(std::move(node));
}

std::unique_ptr<TVRXExprNode> Parser::Cast() {
  Next();
  OpenArguments("CAST");
  std::unique_ptr<TVRXExprNode> operand = ValueExpression();
  if (!Is(kAs) && !IsComma()) FailExpected("AS");
  Next();
  if (AtEnd()) FailEnd();
  std::string name = cur_.text;
  const TSQLFieldType* type = FindSQLFieldType(name);
  Next();
  // Type names of two words ("DOUBLE PRECISION", "CHARACTER VARYING").
  if (!AtEnd() && (cur_.kind == tktString || cur_.kind == tktReservedWord) && !IsSymbol(cur_)) {
    if (const TSQLFieldType* two = FindSQLFieldType(name + " " + cur_.text)) {
      type = two;
      name += " " + cur_.text;
      Next();
    }
  }
  if (type == nullptr || type->AdvancedType == A::Bytes || type->AdvancedType == A::VarBytes ||
      type->AdvancedType == A::Blob || type->AdvancedType == A::Graphic ||
      type->AdvancedType == A::Guid)
    throw EVRXException("Cannot convert an expression to specified type: '%s'", {name},
                        kErrParseCastType);
  std::unique_ptr<TVRXExprNode> size;
  if (IsLeft()) {
    Next();
    size = ValueExpression();
    ExpectRight();
  }
  ExpectRight();
  return Checked(
      std::make_unique<TVRXExprNodeCast>(type->AdvancedType, std::move(operand), std::move(size)));
}

std::string Parser::StringConstant(bool dateFormat) {
  if (AtEnd()) FailEnd();
  if (cur_.kind != tktQuotedString) {
    if (dateFormat)
      Fail("Const DateFormat string expected, but '%s' found at line %d, column %d", {cur_.text},
           kErrParseDateFormat);
    FailUnexpected();
  }
  std::string text = cur_.text;
  Next();
  return text;
}

std::unique_ptr<TVRXExprNode> Parser::Function() {
  auto unary = [&](uint8_t op, std::string_view name) {
    Next();
    OpenArguments(name);
    auto node = std::make_unique<TVRXExprNodeStringFunction>(op);
    node->AddChild(Concatenation());
    return node;
  };
  if (Is(kUpper) || Is(kLower) || Is(kTrim) || Is(kLTrim) || Is(kRTrim)) {
    const uint8_t op = Is(kUpper)   ? eoUpper
                       : Is(kLower) ? eoLower
                       : Is(kTrim)  ? eoTrim
                       : Is(kLTrim) ? eoLTrim
                                    : eoRTrim;
    auto node = unary(op, OperatorName(op));
    ExpectRight();
    return Checked(std::move(node));
  }
  if (Is(kLength)) {
    auto node = unary(eoLength, "LENGTH");
    ExpectRight();
    return Checked(std::move(node));
  }
  if (Is(kPos) || Is(kPosition)) {
    auto node = unary(eoPos, "POS");
    if (!Is(kIn) && !IsComma()) FailExpected(",' or 'IN");
    Next();
    node->AddChild(Concatenation());
    ExpectRight();
    return Checked(std::move(node));
  }
  if (Is(kSubstring)) {
    auto node = unary(eoSubstring, "SUBSTRING");
    if (!Is(kFrom) && !IsComma()) FailExpected(",' or 'from");
    Next();
    node->AddChild(Arithmetic());
    if (Is(kFor) || IsComma()) {
      Next();
      node->AddChild(Arithmetic());
    }
    if (!IsRight()) FailExpected(")' or ',' or 'FOR");
    Next();
    return Checked(std::move(node));
  }
  if (Is(kToString)) {
    Next();
    OpenArguments("TOSTRING");
    std::unique_ptr<TVRXExprNode> operand = ValueExpression();
    if (!IsComma() && !Is(kFrom)) FailExpected(",' or 'from");
    Next();
    auto node = std::make_unique<TVRXExprNodeDateFunction>(eoToString, StringConstant(true));
    node->AddChild(std::move(operand));
    ExpectRight();
    return Checked(std::move(node));
  }
  if (Is(kToDate)) {
    Next();
    OpenArguments("ToDate");
    std::unique_ptr<TVRXExprNode> operand = Concatenation();
    ExpectComma();
    auto node = std::make_unique<TVRXExprNodeDateFunction>(eoToDate, StringConstant(true));
    node->AddChild(std::move(operand));
    ExpectRight();
    return Checked(std::move(node));
  }
  if (Is(kSysDate) || Is(kNow) || Is(kCurrentTimestamp) || Is(kCurrentDate) || Is(kCurrentTime)) {
    const uint8_t op = Is(kCurrentDate) ? eoCurrentDate : Is(kCurrentTime) ? eoCurrentTime : eoSysDate;
    Next();
    return std::make_unique<TVRXExprNodeDateFunction>(op);
  }
  if (Is(kRowNum)) {
    Next();
    return std::make_unique<TVRXExprNodeSystem>(eoRowNum);
  }
  if (Is(kLastAutoinc)) {
    Next();
    OpenArguments("LASTAUTOINC");
    if (cur_.kind != tktString && cur_.kind != tktBracketedString && cur_.kind != tktQuotedString)
      FailUnexpected();
    std::string table = cur_.text;
    Next();
    bool inMemory = options_.inMemory;
    if (Is(kMemory)) {
      inMemory = true;
      Next();
    }
    ExpectComma();
    if (cur_.kind != tktString && cur_.kind != tktBracketedString && cur_.kind != tktQuotedString)
      FailUnexpected();
    std::string field = cur_.text;
    Next();
    ExpectRight();
    if (query_ == nullptr)
      throw EVRXException("Field '%s' not found", {field}, kErrExprFieldNotFound);
    std::unique_ptr<TVRXLastAutoincSource> source =
        query_->OpenLastAutoinc(table, inMemory || query_->InMemory(), field);
    return std::make_unique<TVRXExprNodeSystem>(std::move(table), std::move(field), inMemory,
                                                std::move(source));
  }
  FailUnexpected();
}

}  // namespace

std::unique_ptr<TVRXExprNode> ParseSearchCondition(TVRXLexer& lexer, TVRXExprQueryContext* query,
                                                   const TVRXExprParseOptions& options) {
  Parser parser(lexer, query, options);
  return parser.SearchCondition();
}

std::unique_ptr<TVRXExprNode> ParseValueExpression(TVRXLexer& lexer, TVRXExprQueryContext* query,
                                                   const TVRXExprParseOptions& options) {
  Parser parser(lexer, query, options);
  return parser.ValueExpression();
}

}  // namespace vrx
