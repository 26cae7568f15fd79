// String functions, CAST, CASE, MIMETOBIN, the date functions, LASTAUTOINC,
// ROWNUM and subqueries.
#include <string>

#include "engine/base/VRXExcept.h"
#include "engine/query/expressions/VRXExprNode.h"
#include "engine/values/VRXConverts.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/values/VRXTypesRoutines.h"
#include "platform/locale/Locale.h"

namespace vrx {

using B = TVRXBaseFieldType;

namespace {

// Makes `v` a NULL of `type` unless it already has that type, so that the
// typed setters store instead of converting into an earlier result's type.
void Retype(TVRXVariant& v, B type) {
  if (v.DataType() != type) v.Clear(type);
}

template <typename Text>
Text Trimmed(Text text, bool leading, bool trailing) {
  size_t begin = 0;
  size_t end = text.size();
  if (leading)
    while (begin < end && static_cast<uint32_t>(text[begin]) <= 0x20) ++begin;
  if (trailing)
    while (end > begin && static_cast<uint32_t>(text[end - 1]) <= 0x20) --end;
  return text.substr(begin, end - begin);
}

// Byte offset of the character `index` (0-based) of UTF-8 text, clipped to
// its end.
size_t Utf8Offset(std::string_view text, int64_t index) {
  size_t pos = 0;
  for (int64_t i = 0; i < index && pos < text.size(); ++i) Utf8Next(text, pos);
  return pos;
}

size_t Utf16Offset(std::u16string_view text, int64_t index) {
  size_t pos = 0;
  for (int64_t i = 0; i < index && pos < text.size(); ++i) Utf16Next(text, pos);
  return pos;
}

size_t Utf16CharCount(std::u16string_view text) {
  size_t pos = 0;
  size_t n = 0;
  while (pos < text.size()) {
    Utf16Next(text, pos);
    ++n;
  }
  return n;
}

int DecodeBase64Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Base64 (MIME): line breaks and blanks are skipped, "=" ends the data.
std::string DecodeMime(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    if (c == '=') break;
    if (c <= ' ') continue;
    const int digit = DecodeBase64Digit(c);
    if (digit < 0)
      throw EVRXException("Invalid MIME (Base64) data in function '%s'", {"MimeToBin()"},
                          kErrExprBadMime);
    bits = (bits << 6) | static_cast<uint32_t>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

}  // namespace

// ---- string functions ----

const TVRXVariant& TVRXExprNodeStringFunction::GetValue() {
  switch (operator_) {
    case eoConcat: {
      const TVRXVariant& first = children_.at(0)->GetValue();
      if (first.IsNull()) {
        value_.Clear(IsTextType(first.DataType()) ? first.DataType() : B::String);
      } else {
        value_.Assign(first, true);
        if (!IsTextType(value_.DataType())) value_.ChangeType(B::String);
      }
      for (size_t i = 1; i < children_.size(); ++i) value_.Add(children_[i]->GetValue());
      return value_;
    }
    case eoUpper:
    case eoLower:
    case eoTrim:
    case eoLTrim:
    case eoRTrim: {
      const TVRXVariant& v = children_.at(0)->GetValue();
      if (v.IsNull()) {
        Retype(value_, IsWideTextType(v.DataType()) ? B::WideString : B::String);
        value_.SetNull();
        return value_;
      }
      const bool leading = operator_ != eoRTrim;
      const bool trailing = operator_ != eoLTrim;
      if (IsWideTextType(v.DataType())) {
        const std::u16string text = v.GetAsWideString();
        std::u16string result = operator_ == eoUpper   ? locale::UpperCase(text)
                                : operator_ == eoLower ? locale::LowerCase(text)
                                                       : Trimmed<std::u16string>(text, leading, trailing);
        Retype(value_, B::WideString);
        value_.SetAsWideString(result);
      } else {
        const std::string text = v.GetAsString();
        std::string result = operator_ == eoUpper   ? locale::UpperCase(text)
                             : operator_ == eoLower ? locale::LowerCase(text)
                                                    : Trimmed<std::string>(text, leading, trailing);
        Retype(value_, B::String);
        value_.SetAsString(result);
      }
      return value_;
    }
    case eoLength: {
      const TVRXVariant& v = children_.at(0)->GetValue();
      int64_t length = 0;
      if (!v.IsNull())
        length = IsWideTextType(v.DataType())
                     ? static_cast<int64_t>(Utf16CharCount(v.GetAsWideString()))
                     : static_cast<int64_t>(Utf8CharCount(v.GetAsString()));
      Retype(value_, B::Integer);
      value_.SetAsInteger(static_cast<int32_t>(length));
      return value_;
    }
    case eoPos: {
      const TVRXVariant& needle = children_.at(0)->GetValue();
      const TVRXVariant& haystack = children_.at(1)->GetValue();
      Retype(value_, B::Integer);
      if (needle.IsNull() || haystack.IsNull()) {
        value_.SetNull();
        return value_;
      }
      int64_t position = 0;
      if (IsWideTextType(needle.DataType()) || IsWideTextType(haystack.DataType())) {
        const std::u16string h = haystack.GetAsWideString();
        const size_t at = h.find(needle.GetAsWideString());
        if (at != std::u16string::npos)
          position = static_cast<int64_t>(Utf16CharCount(std::u16string_view(h).substr(0, at))) + 1;
      } else {
        const std::string h = haystack.GetAsString();
        const size_t at = h.find(needle.GetAsString());
        if (at != std::string::npos)
          position = static_cast<int64_t>(Utf8CharCount(std::string_view(h).substr(0, at))) + 1;
      }
      value_.SetAsInteger(static_cast<int32_t>(position));
      return value_;
    }
    case eoSubstring: {
      const TVRXVariant& v = children_.at(0)->GetValue();
      const TVRXVariant& startValue = children_.at(1)->GetValue();
      const bool wide = IsWideTextType(v.DataType());
      Retype(value_, wide ? B::WideString : B::String);
      if (v.IsNull() || startValue.IsNull()) {
        value_.SetNull();
        return value_;
      }
      int64_t start = startValue.GetAsLargeInt() - 1;
      if (start < 0) start = 0;
      int64_t length = -1;  // to the end
      if (children_.size() > 2) {
        const TVRXVariant& lengthValue = children_[2]->GetValue();
        if (lengthValue.IsNull()) {
          value_.SetNull();
          return value_;
        }
        length = lengthValue.GetAsLargeInt();
        if (length < 0) length = 0;
      }
      if (wide) {
        const std::u16string text = v.GetAsWideString();
        const size_t from = Utf16Offset(text, start);
        const std::u16string_view rest = std::u16string_view(text).substr(from);
        value_.SetAsWideString(length < 0 ? rest : rest.substr(0, Utf16Offset(rest, length)));
      } else {
        const std::string text = v.GetAsString();
        const size_t from = Utf8Offset(text, start);
        const std::string_view rest = std::string_view(text).substr(from);
        value_.SetAsString(length < 0 ? rest : rest.substr(0, Utf8Offset(rest, length)));
      }
      return value_;
    }
    default:
      ThrowUnknownOperator();
  }
}

// ---- CAST ----

TVRXExprNodeCast::TVRXExprNodeCast(TVRXAdvancedFieldType target,
                                   std::unique_ptr<TVRXExprNode> operand,
                                   std::unique_ptr<TVRXExprNode> size)
    : TVRXExprNode(eoCast), target_(target) {
  AddChild(std::move(operand));
  if (size) {
    size_ = size.get();
    AddChild(std::move(size));
  }
}

const TVRXVariant& TVRXExprNodeCast::GetValue() {
  const TVRXVariant& v = children_.at(0)->GetValue();
  const B base = BaseTypeOf(target_);
  if (v.IsNull()) {
    value_.Clear(base);
    return value_;
  }
  if (IsTextType(base)) {
    int32_t size = kDefaultStringSize;
    if (size_ != nullptr) {
      const TVRXVariant& s = size_->GetValue();
      if (!s.IsNull()) size = s.GetAsInteger();
    }
    TVRXConvertedValue cut = ConvertValueToLength(v.Data(), v.DataSize(), v.DataType(), base, size);
    value_.Clear(base);
    value_.SetData(cut.Data.get(), cut.Size, true, base);
    return value_;
  }
  value_.Assign(v, true);
  value_.ChangeType(base);
  return value_;
}

// ---- CASE ----

void TVRXExprNodeCase::SetInput(std::unique_ptr<TVRXExprNode> input) {
  input_ = input.get();
  AddChild(std::move(input));
}

void TVRXExprNodeCase::AddWhen(std::unique_ptr<TVRXExprNode> when,
                               std::unique_ptr<TVRXExprNode> then) {
  whens_.push_back(when.get());
  thens_.push_back(then.get());
  AddChild(std::move(when));
  AddChild(std::move(then));
}

void TVRXExprNodeCase::SetElse(std::unique_ptr<TVRXExprNode> otherwise) {
  else_ = otherwise.get();
  AddChild(std::move(otherwise));
}

const TVRXVariant& TVRXExprNodeCase::GetValue() {
  TVRXExprNode* chosen = else_;
  if (input_ != nullptr) {
    const TVRXVariant& input = input_->GetValue();
    for (size_t i = 0; i < whens_.size(); ++i) {
      // Ignoring case, a NULL equal to a NULL.
      if (input.Compare(whens_[i]->GetValue(), {.ignoreCase = true}) == kCompareEqual) {
        chosen = thens_[i];
        break;
      }
    }
  } else {
    for (size_t i = 0; i < whens_.size(); ++i) {
      const TVRXVariant& condition = whens_[i]->GetValue();
      if (!condition.IsNull() && condition.GetAsLogical()) {
        chosen = thens_[i];
        break;
      }
    }
  }
  const B type = BaseTypeOf(GetDataType());
  if (chosen == nullptr) {
    value_.Clear(type);
    return value_;
  }
  value_.Assign(chosen->GetValue(), true);
  // Every branch yields the CASE's one type.
  if (value_.IsNull())
    value_.Clear(type);
  else if (value_.DataType() != type && type != B::Unknown)
    value_.ChangeType(type);
  return value_;
}

// ---- MIMETOBIN ----

const TVRXVariant& TVRXExprNodeBlob::GetValue() {
  if (operator_ != eoMimeToBin) ThrowUnknownOperator();
  const TVRXVariant& v = children_.at(0)->GetValue();
  Retype(value_, B::Blob);
  if (v.IsNull()) {
    value_.SetNull();
    return value_;
  }
  value_.SetAsBlob(DecodeMime(v.GetAsString()));
  return value_;
}

// ---- date functions ----

TVRXExprNodeDateFunction::TVRXExprNodeDateFunction(uint8_t op, std::string_view format)
    : TVRXExprNode(op) {
  if (op == eoToDate || op == eoToString) formatter_ = std::make_unique<TDateFormater>(format);
}

const TVRXVariant& TVRXExprNodeDateFunction::GetValue() {
  int32_t day = 0;
  int32_t ms = 0;
  switch (operator_) {
    case eoSysDate:
      CurrentDayNumber(day, ms);
      Retype(value_, B::DateTime);
      value_.SetAsDateTime({day, ms});
      return value_;
    case eoCurrentDate:
      CurrentDayNumber(day, ms);
      Retype(value_, B::Date);
      value_.SetAsDate(day);
      return value_;
    case eoCurrentTime:
      CurrentDayNumber(day, ms);
      Retype(value_, B::Time);
      value_.SetAsTime(ms);
      return value_;
    case eoToDate: {
      const B type = BaseTypeOf(GetDataType());
      Retype(value_, type);
      const TVRXVariant& v = children_.at(0)->GetValue();
      if (v.IsNull()) {
        value_.SetNull();
        return value_;
      }
      try {
        DateTimeToDayNumber(formatter_->ParseDateTimeText(v.GetAsString()), day, ms);
      } catch (const EVRXException&) {
        throw;
      } catch (const Exception& e) {
        throw EVRXException(e.Message(), 30051);
      }
      if (type == B::Date)
        value_.SetAsDate(day);
      else if (type == B::Time)
        value_.SetAsTime(ms);
      else
        value_.SetAsDateTime({day, ms});
      return value_;
    }
    case eoToString: {
      Retype(value_, B::String);
      const TVRXVariant& v = children_.at(0)->GetValue();
      if (v.IsNull()) {
        value_.SetNull();
        return value_;
      }
      value_.SetAsString(formatter_->FormatDateTimeText(v.GetAsCalendarDateTime()));
      return value_;
    }
    default:
      ThrowUnknownOperator();
  }
}

// ---- LASTAUTOINC and ROWNUM ----

TVRXExprNodeSystem::TVRXExprNodeSystem(std::string table, std::string field, bool inMemory,
                                       std::unique_ptr<TVRXLastAutoincSource> source)
    : TVRXExprNode(eoLastAutoinc),
      table_(std::move(table)),
      field_(std::move(field)),
      inMemory_(inMemory),
      source_(std::move(source)) {}

const TVRXVariant& TVRXExprNodeSystem::GetValue() {
  if (operator_ == eoRowNum) {
    ++counter_;
    Retype(value_, B::Integer);
    value_.SetAsInteger(counter_);
    return value_;
  }
  if (operator_ != eoLastAutoinc || !source_) ThrowUnknownOperator();
  value_.Clear();
  source_->LastValue(value_);
  return value_;
}

// ---- subqueries ----

TVRXExprNodeSubquery::TVRXExprNodeSubquery(int32_t statementIndex, int32_t firstToken,
                                           int32_t endToken, bool singleColumn, bool singleRow)
    : TVRXExprNode(eoNone),
      statementIndex_(statementIndex),
      firstToken_(firstToken),
      endToken_(endToken),
      singleColumn_(singleColumn),
      singleRow_(singleRow) {}

void TVRXExprNodeSubquery::ThrowNotExecutable() const {
  throw EVRXException("Subquery cannot be executed without an SQL statement", kErrExprSubquery);
}

const TVRXVariant& TVRXExprNodeSubquery::GetValue() { ThrowNotExecutable(); }
TVRXAdvancedFieldType TVRXExprNodeSubquery::GetDataType() { ThrowNotExecutable(); }
int32_t TVRXExprNodeSubquery::GetDataSize() { ThrowNotExecutable(); }
bool TVRXExprNodeSubquery::HasRows() { ThrowNotExecutable(); }
bool TVRXExprNodeSubquery::Contains(const TVRXVariant&) { ThrowNotExecutable(); }
bool TVRXExprNodeSubquery::AnySatisfies(uint8_t, const TVRXVariant&) { ThrowNotExecutable(); }

}  // namespace vrx
