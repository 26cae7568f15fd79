// The local cursor's filter and search operations: the filter text, Locate
// and LocateValue. The expressions are parsed or built over this cursor and
// handed to navigation wrapped in a TVRXCursorFilter.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/query/cursor/VRXCursorFilter.h"
#include "engine/query/expressions/VRXExpression.h"

namespace vrx {

void TVRXLocalCursor::SetFilter(const std::string& text, bool caseInsensitive,
                                bool partialCompare) {
  if (text.empty()) {
    ClearFilter();
    return;
  }
  // A text that does not parse leaves the filter in force as it was.
  auto parsed = std::make_unique<TVRXExpression>();
  parsed->ParseFilter(this, text, caseInsensitive, partialCompare);
  filter = std::move(parsed);
  InvalidateRecordBitmap();
}

void TVRXLocalCursor::ClearFilter() {
  filter.reset();
  InvalidateRecordBitmap();
}

bool TVRXLocalCursor::Locate(const std::string& keyFields,
                             const std::vector<TVRXVariant>& keyValues, bool partialKey,
                             bool caseInsensitive) {
  TVRXExpression expression;
  expression.BuildLocate(this, keyFields, keyValues, partialKey, caseInsensitive);
  TVRXCursorFilter search(expression, *this);
  return LocateBy(search);
}

bool TVRXLocalCursor::LocateValue(const std::string& fieldName, int32_t option,
                                  const TVRXVariant& value) {
  // The option is the comparison the record must satisfy: "=" to "<=".
  if (option < eoEqual || option > eoLessOrEqual) {
    const std::string_view name =
        option >= 0 && option <= 255 ? OperatorName(static_cast<uint8_t>(option)) : "unknown";
    throw EVRXException("Unknown operator: '%s'", {std::string(name)}, kErrExprUnknownOperator);
  }
  TVRXExpression expression;
  expression.BuildLocateValue(this, fieldName, value, static_cast<uint8_t>(option));
  TVRXCursorFilter search(expression, *this);
  return LocateBy(search);
}

}  // namespace vrx
