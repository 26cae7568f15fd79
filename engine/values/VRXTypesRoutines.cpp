#include "engine/values/VRXTypesRoutines.h"

#include <array>

#include "engine/values/VRXConverts.h"
#include "engine/values/VRXValueBytes.h"
#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"

namespace vrx {

namespace {

using B = TVRXBaseFieldType;

// Integer pairs, rows left and columns right, in code order SHORTINT (5) to
// CARDINAL (11).
constexpr std::array<std::array<B, 7>, 7> kIntegerCommon = {{
    {B::ShortInt, B::SmallInt, B::Integer, B::LargeInt, B::SmallInt, B::Word, B::Cardinal},
    {B::SmallInt, B::SmallInt, B::Integer, B::LargeInt, B::SmallInt, B::Word, B::Cardinal},
    {B::Integer, B::Integer, B::Integer, B::LargeInt, B::Integer, B::Integer, B::LargeInt},
    {B::LargeInt, B::LargeInt, B::LargeInt, B::LargeInt, B::LargeInt, B::LargeInt, B::LargeInt},
    {B::SmallInt, B::SmallInt, B::Integer, B::LargeInt, B::Byte, B::Word, B::Cardinal},
    {B::Integer, B::Integer, B::Integer, B::LargeInt, B::Word, B::Word, B::Cardinal},
    {B::LargeInt, B::LargeInt, B::LargeInt, B::LargeInt, B::Cardinal, B::Cardinal, B::Cardinal},
}};

// Right operands that a text left operand accepts besides the other text
// types: numbers, dates, MEMO, LOGICAL, CURRENCY.
bool TextAccepts(B right) {
  return IsTextType(right) || IsNumericType(right) || IsDateTimeType(right) || right == B::Memo ||
         right == B::Logical;
}

B CommonOfText(B left, B right, bool dateWins) {
  if (!TextAccepts(right)) return B::Unknown;
  if (dateWins && IsDateTimeType(right)) return right;
  switch (left) {
    case B::Char:
      if (right == B::WideChar || right == B::String || right == B::WideString) return right;
      return B::Char;
    case B::WideChar:
      return right == B::WideString ? B::WideString : B::WideChar;
    case B::String:
      if (right == B::WideChar || right == B::WideString) return right;
      return B::String;
    default:  // WIDESTRING
      return B::WideString;
  }
}

int FloatRank(B type) {
  switch (type) {
    case B::Single:
      return 1;
    case B::Float:
      return 2;
    case B::Extended:
      return 3;
    default:
      return 0;
  }
}

// Left numeric 5 to 14.
B CommonOfNumber(B left, B right) {
  if (IsTextType(right) || IsDateTimeType(right)) return right;
  if (right == B::Currency) return B::Currency;
  if (right == B::Logical) return left;
  if (IsIntegerType(left) && IsIntegerType(right))
    return kIntegerCommon[static_cast<size_t>(TypeCode(left) - 5)]
                         [static_cast<size_t>(TypeCode(right) - 5)];
  if (IsFloatType(right) || IsFloatType(left))
    if (IsNumericType(right)) return FloatRank(left) >= FloatRank(right) ? left : right;
  return B::Unknown;
}

B CommonOfDate(B left, B right, bool dateWins) {
  if (IsTextType(right)) return dateWins ? left : right;
  if (right == left || IsNumericType(right)) return left;
  if (IsDateTimeType(right)) return B::DateTime;
  return B::Unknown;
}

template <typename T>
int Order(T left, T right) {
  if (left < right) return kCompareLess;
  if (right < left) return kCompareGreater;
  return kCompareEqual;  // also when unordered (NaN)
}

int FromCollation(int result) {
  return result < 0 ? kCompareLess : result > 0 ? kCompareGreater : kCompareEqual;
}

// Both sides are of `type`, present and of a size that holds the type.
int CompareSameType(const void* left, int32_t leftSize, const void* right, int32_t rightSize,
                    B type, bool ignoreCase, int32_t charCount) {
  if (IsTextType(type)) {
    if (IsWideTextType(type)) {
      try {
        return FromCollation(locale::CompareText(
            WideTextOf(left, leftSize), WideTextOf(right, rightSize), ignoreCase, charCount));
      } catch (const locale::LocaleError&) {
        throw EVRXException("Unicode string comparison is not supported by the operating system",
                            30046);
      }
    }
    try {
      return FromCollation(locale::CompareText(AnsiTextOf(left, leftSize, type),
                                               AnsiTextOf(right, rightSize, type), ignoreCase,
                                               charCount));
    } catch (const locale::LocaleError& e) {
      throw EVRXException("Unknown return code: %d", {e.code()}, 30045);
    }
  }
  if (IsIntegerType(type))
    return Order(bytes::LoadIntegerOf(type, left), bytes::LoadIntegerOf(type, right));
  switch (type) {
    case B::Single:
    case B::Float:
    case B::Extended:
    case B::Currency:
      return Order(bytes::LoadNumberOf(type, left), bytes::LoadNumberOf(type, right));
    case B::Date:
    case B::Time:
      return Order(bytes::LoadI32(left), bytes::LoadI32(right));
    case B::DateTime: {
      const TVRXDateTimeValue l = bytes::LoadDateTime(left);
      const TVRXDateTimeValue r = bytes::LoadDateTime(right);
      const int byDay = Order(l.Date, r.Date);
      return byDay != kCompareEqual ? byDay : Order(l.Time, r.Time);
    }
    case B::Logical:
      return Order(bytes::LoadLogical(left), bytes::LoadLogical(right));
    default:
      throw EVRXException("Unknown DataType: '%s'", {BaseTypeName(type)}, 30047);
  }
}

}  // namespace

TVRXBaseFieldType CommonBaseType(TVRXBaseFieldType left, TVRXBaseFieldType right, bool dateWins) {
  if (IsTextType(left)) return CommonOfText(left, right, dateWins);
  if (IsNumericType(left) && left != B::Currency) return CommonOfNumber(left, right);
  if (IsDateTimeType(left)) return CommonOfDate(left, right, dateWins);
  switch (left) {
    case B::Memo:
      if (IsTextType(right)) return right;
      return right == B::Memo ? B::Char : B::Unknown;
    case B::Logical:
      if (IsTextType(right) || IsNumericType(right)) return right;
      return right == B::Logical ? B::Logical : B::Unknown;
    case B::Currency:
      if (IsTextType(right) || IsNumericType(right)) return right;
      return B::Unknown;
    default:
      return B::Unknown;
  }
}

TVRXAdvancedFieldType CommonAdvancedType(TVRXAdvancedFieldType left, TVRXAdvancedFieldType right,
                                         bool dateWins) {
  const B leftBase = BaseTypeOf(left);
  const B rightBase = BaseTypeOf(right);
  const B common = CommonBaseType(leftBase, rightBase, dateWins);
  if (common == B::Unknown) return TVRXAdvancedFieldType::Unknown;
  if (leftBase == common) return left;
  if (rightBase == common) return right;
  return AdvancedTypeOf(common);
}

int CompareValues(const TVRXRawValue& leftValue, const TVRXRawValue& rightValue,
                  const TVRXCompareOptions& options) {
  if (leftValue.isNull || rightValue.isNull) {
    if (leftValue.isNull && rightValue.isNull) return kCompareBothNull;
    return leftValue.isNull ? kCompareLeftNull : kCompareRightNull;
  }
  const B leftType = leftValue.type;
  const B rightType = rightValue.type;
  B common = leftType;
  if (leftType != rightType || leftType == B::Memo) {
    common = CommonBaseType(leftType, rightType, true);
    if (common == B::Unknown)
      throw EVRXException("Cannot compare Incompatible DataTypes: '%s' and '%s'",
                          {BaseTypeName(leftType), BaseTypeName(rightType)}, 30044);
  }
  const void* left = leftValue.data;
  const void* right = rightValue.data;
  int32_t leftSize = leftValue.size;
  int32_t rightSize = rightValue.size;
  if (left == nullptr || right == nullptr) throw EVRXException("Value is Null", 30140);
  // Only the side whose type differs is converted; the temporary is freed
  // when this call ends, whatever way it ends.
  TVRXConvertedValue leftTemp;
  TVRXConvertedValue rightTemp;
  if (leftType != common) {
    leftTemp = ConvertValue(left, leftSize, leftType, common);
    left = leftTemp.Data.get();
    leftSize = leftTemp.Size;
  } else {
    CheckValueSize(leftSize, leftType);
  }
  if (rightType != common) {
    rightTemp = ConvertValue(right, rightSize, rightType, common);
    right = rightTemp.Data.get();
    rightSize = rightTemp.Size;
  } else {
    CheckValueSize(rightSize, rightType);
  }
  return CompareSameType(left, leftSize, right, rightSize, common, options.ignoreCase,
                         options.charCount);
}

int CompareKeys(const TVRXRawValue& left, const TVRXRawValue& right,
                const TVRXCompareOptions& options) {
  switch (CompareValues(left, right, options)) {
    case kCompareLess:
    case kCompareLeftNull:
      return -1;
    case kCompareGreater:
    case kCompareRightNull:
      return 1;
    default:
      return 0;
  }
}

}  // namespace vrx
