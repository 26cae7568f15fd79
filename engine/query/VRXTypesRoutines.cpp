#include "engine/query/VRXTypesRoutines.h"

#include <array>

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
    case B::Single: return 1;
    case B::Float: return 2;
    case B::Extended: return 3;
    default: return 0;
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

}  // namespace vrx
