// Type routines over two operands: the common type of a binary operation and
// the comparison of two values given as raw storage bytes. Used by the value's
// arithmetic and comparison, the expression evaluator (result types of
// operators), B-tree keys (CompareKeys) and the relational operators.
#pragma once

#include <cstdint>

#include "engine/values/VRXTypes.h"

namespace vrx {

// Storage type in which a binary operation on `left` and `right` is done;
// Unknown when the operands are incompatible. Not symmetric: the left
// operand is read first and operands are never swapped. With `dateWins`, a
// text left operand against a DATE, TIME or DATETIME takes the date type (so
// that comparing a date column with a date literal compares dates).
TVRXBaseFieldType CommonBaseType(TVRXBaseFieldType left, TVRXBaseFieldType right, bool dateWins);

// The same for declared types: the left declared type if its storage type is
// the common one, else the right if its storage type is, else the declared
// type of the common storage type (Unknown when incompatible).
TVRXAdvancedFieldType CommonAdvancedType(TVRXAdvancedFieldType left, TVRXAdvancedFieldType right,
                                         bool dateWins);

// Result codes of CompareValues.
enum TVRXCompareResult : int {
  kCompareEqual = 0,
  kCompareLess = 1,
  kCompareGreater = 2,
  kCompareLeftNull = 3,
  kCompareRightNull = 4,
  kCompareBothNull = 5,
};

// One side of a comparison: a value as storage bytes (`size` bytes of
// `type` at `data`), or SQL NULL. The bytes are only read.
struct TVRXRawValue {
  const void* data = nullptr;
  int32_t size = 0;
  TVRXBaseFieldType type = TVRXBaseFieldType::Unknown;
  bool isNull = false;
};

// How texts compare: case-insensitively when asked, over the first
// `charCount` characters (-1 = the whole text). Other types ignore both.
struct TVRXCompareOptions {
  bool ignoreCase = false;
  int32_t charCount = -1;
};

// Compares two values given as storage bytes. Different types are brought
// to CommonBaseType(left, right, true); only the side not of that type is
// converted, into a temporary buffer. Text compares with the locale
// collation in string-sort mode. Returns a TVRXCompareResult.
// Throws "Cannot compare Incompatible DataTypes: '%s' and '%s'" (30044),
// "Value is Null" (30140) for a non-NULL side without buffer, "Unknown
// DataType: '%s'" (30047) for a type without ordering, the conversion errors,
// and the collation errors 30045 (ANSI) and 30046 (wide).
int CompareValues(const TVRXRawValue& left, const TVRXRawValue& right,
                  const TVRXCompareOptions& options = {});

// Index key order: -1 for less or only the left NULL, +1 for greater or only
// the right NULL, 0 for equal or both NULL (NULL before every value).
int CompareKeys(const TVRXRawValue& left, const TVRXRawValue& right,
                const TVRXCompareOptions& options = {});

}  // namespace vrx
