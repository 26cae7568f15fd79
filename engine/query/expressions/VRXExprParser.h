// The expression parser: recursive descent over the lexer's tokens with
// backtracking where the grammar needs it (a parenthesis opens either a
// condition or a value). Used by TVRXExpression only.
//
// Nesting is bounded: a text nested deeper than the parser's stack allows,
// or a tree deeper than evaluation allows, is refused with "Expression is
// nested too deeply at line %d, column %d" instead of exhausting the stack.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/query/expressions/VRXExprNode.h"
#include "engine/query/lexer/VRXLexer.h"

namespace vrx {

// Native errors of the parser.
inline constexpr int32_t kErrParseUnexpectedEnd = 30082;
inline constexpr int32_t kErrParseUnexpectedToken = 30083;
inline constexpr int32_t kErrParseBooleanExpected = 30084;
inline constexpr int32_t kErrParseTokenExpected = 30085;
inline constexpr int32_t kErrParseArgumentExpected = 30086;
inline constexpr int32_t kErrParseStringArgument = 30087;
inline constexpr int32_t kErrParseDateFormat = 30088;
inline constexpr int32_t kErrParseCaseInput = 30089;
inline constexpr int32_t kErrParseCaseWhen = 30090;
inline constexpr int32_t kErrParseCaseCondition = 30091;
inline constexpr int32_t kErrParseCaseElse = 30092;
inline constexpr int32_t kErrParseCastType = 30093;
inline constexpr int32_t kErrParseTooDeep = 30094;
inline constexpr int32_t kErrParseBlank = 30095;

// Levels of nesting the parser accepts, and levels of the tree.
inline constexpr int32_t kMaxExprNesting = 200;
inline constexpr int32_t kMaxExprTreeDepth = 400;

struct TVRXExprParseOptions {
  bool caseInsensitive = false;
  bool partialCompare = false;
  bool sqlNulls = true;
  bool inMemory = false;
};

// Parses from the lexer's current token; the cursor is left on the first
// token after the expression.
std::unique_ptr<TVRXExprNode> ParseSearchCondition(TVRXLexer& lexer, TVRXExprQueryContext* query,
                                                   const TVRXExprParseOptions& options);
std::unique_ptr<TVRXExprNode> ParseValueExpression(TVRXLexer& lexer, TVRXExprQueryContext* query,
                                                   const TVRXExprParseOptions& options);

}  // namespace vrx
