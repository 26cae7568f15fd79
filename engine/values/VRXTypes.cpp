#include "engine/values/VRXTypes.h"

#include <array>

#include "engine/base/VRXExcept.h"

namespace vrx {

namespace {

using A = TVRXAdvancedFieldType;
using B = TVRXBaseFieldType;
using F = TFieldType;

// Row order matters: lookups take the first match.
constexpr std::array<TSQLFieldType, 60> kTypeTable = {{
    {"CHAR", A::Char, B::Char, F::ftFixedChar},
    {"FIXEDCHAR", A::Char, B::Char, F::ftFixedChar},
    {"STRING", A::String, B::String, F::ftString},
    {"VARCHAR", A::String, B::String, F::ftString},
    {"VARCHAR2", A::String, B::String, F::ftString},
    {"WIDECHAR", A::WideChar, B::WideChar, F::ftWideString},
    {"FIXEDWIDECHAR", A::WideChar, B::WideChar, F::ftWideString},
    {"WIDESTRING", A::WideString, B::WideString, F::ftWideString},
    {"WIDEVARCHAR", A::WideString, B::WideString, F::ftWideString},
    {"SMALLINT", A::SmallInt, B::SmallInt, F::ftSmallint},
    {"SIGNEDINT16", A::SmallInt, B::SmallInt, F::ftSmallint},
    {"SHORTINT", A::ShortInt, B::ShortInt, F::ftSmallint},
    {"SIGNEDINT8", A::ShortInt, B::ShortInt, F::ftSmallint},
    {"INTEGER", A::Integer, B::Integer, F::ftInteger},
    {"SIGNEDINT32", A::Integer, B::Integer, F::ftInteger},
    {"LARGEINT", A::LargeInt, B::LargeInt, F::ftLargeint},
    {"INT64", A::LargeInt, B::LargeInt, F::ftLargeint},
    {"SIGNEDINT64", A::LargeInt, B::LargeInt, F::ftLargeint},
    {"WORD", A::Word, B::Word, F::ftWord},
    {"UNSIGNEDINT16", A::Word, B::Word, F::ftWord},
    {"BYTE", A::Byte, B::Byte, F::ftWord},
    {"UNSIGNEDINT8", A::Byte, B::Byte, F::ftWord},
    {"CARDINAL", A::Cardinal, B::Cardinal, F::ftLargeint},
    {"UNSIGNEDINT32", A::Cardinal, B::Cardinal, F::ftLargeint},
    {"AUTOINC", A::AutoInc, B::Integer, F::ftAutoInc},
    {"AUTOINCSHORTINT", A::AutoIncShortInt, B::ShortInt, F::ftAutoInc},
    {"AUTOINCSMALLINT", A::AutoIncSmallInt, B::SmallInt, F::ftAutoInc},
    {"AUTOINCINTEGER", A::AutoIncInteger, B::Integer, F::ftAutoInc},
    {"AUTOINCLARGEINT", A::AutoIncLargeInt, B::LargeInt, F::ftLargeint},
    {"AUTOINCBYTE", A::AutoIncByte, B::Byte, F::ftAutoInc},
    {"AUTOINCWORD", A::AutoIncWord, B::Word, F::ftAutoInc},
    {"AUTOINCCARDINAL", A::AutoIncCardinal, B::Cardinal, F::ftAutoInc},
    {"FLOAT", A::Float, B::Float, F::ftFloat},
    {"FLOAT", A::Float, B::Float, F::ftBCD},
    {"SINGLE", A::Single, B::Single, F::ftFloat},
    {"DOUBLE", A::Float, B::Float, F::ftFloat},
    {"EXTENDED", A::Extended, B::Extended, F::ftFloat},
    {"LOGICAL", A::Logical, B::Logical, F::ftBoolean},
    {"BOOLEAN", A::Logical, B::Logical, F::ftBoolean},
    {"BOOL", A::Logical, B::Logical, F::ftBoolean},
    {"BIT", A::Logical, B::Logical, F::ftBoolean},
    {"CURRENCY", A::Currency, B::Currency, F::ftCurrency},
    {"MONEY", A::Currency, B::Currency, F::ftCurrency},
    {"DATE", A::Date, B::Date, F::ftDate},
    {"TIME", A::Time, B::Time, F::ftTime},
    {"DATETIME", A::DateTime, B::DateTime, F::ftDateTime},
    {"TIMESTAMP", A::TimeStamp, B::DateTime, F::ftTimeStamp},
    {"BYTES", A::Bytes, B::Bytes, F::ftBytes},
    {"VARBYTES", A::VarBytes, B::VarBytes, F::ftVarBytes},
    {"BLOB", A::Blob, B::Blob, F::ftBlob},
    {"BLOB", A::Blob, B::Blob, F::ftParadoxOle},
    {"BLOB", A::Blob, B::Blob, F::ftTypedBinary},
    {"BLOB", A::Blob, B::Blob, F::ftDBaseOle},
    {"GRAPHIC", A::Graphic, B::Blob, F::ftGraphic},
    {"MEMO", A::Memo, B::Memo, F::ftMemo},
    {"CLOB", A::Memo, B::Memo, F::ftMemo},
    {"FORMATTEDMEMO", A::FormattedMemo, B::Memo, F::ftFmtMemo},
    {"WIDEMEMO", A::WideMemo, B::WideMemo, F::ftBlob},
    {"WIDECLOB", A::WideMemo, B::WideMemo, F::ftMemo},
    {"GUID", A::Guid, B::Char, F::ftGuid},
}};

constexpr std::string_view kUnknownName = "Unknown";
constexpr int32_t kBlobReferenceSize = 10;

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

template <typename Pred>
const TSQLFieldType* FirstRow(Pred pred) {
  for (const TSQLFieldType& row : kTypeTable)
    if (pred(row)) return &row;
  return nullptr;
}

int Code(B type) { return static_cast<int>(type); }
int Code(A type) { return static_cast<int>(type); }

}  // namespace

std::span<const TSQLFieldType> SQLFieldTypes() { return kTypeTable; }

std::string_view AdvancedTypeName(TVRXAdvancedFieldType type) {
  const TSQLFieldType* row =
      FirstRow([type](const TSQLFieldType& r) { return r.AdvancedType == type; });
  return row ? row->Name : kUnknownName;
}

std::string_view BaseTypeName(TVRXBaseFieldType type) {
  const TSQLFieldType* row =
      FirstRow([type](const TSQLFieldType& r) { return r.BaseType == type; });
  return row ? row->Name : kUnknownName;
}

const TSQLFieldType* FindSQLFieldType(std::string_view name) {
  return FirstRow([name](const TSQLFieldType& r) { return SameNameIgnoringCase(r.Name, name); });
}

TVRXAdvancedFieldType AdvancedTypeByName(std::string_view name) {
  const TSQLFieldType* row = FindSQLFieldType(name);
  return row ? row->AdvancedType : TVRXAdvancedFieldType::Unknown;
}

TVRXBaseFieldType BaseTypeOf(TVRXAdvancedFieldType type) {
  const TSQLFieldType* row =
      FirstRow([type](const TSQLFieldType& r) { return r.AdvancedType == type; });
  return row ? row->BaseType : TVRXBaseFieldType::Unknown;
}

TVRXAdvancedFieldType AdvancedTypeOf(TVRXBaseFieldType type) {
  const TSQLFieldType* row =
      FirstRow([type](const TSQLFieldType& r) { return r.BaseType == type; });
  return row ? row->AdvancedType : TVRXAdvancedFieldType::Unknown;
}

TFieldType FieldKindOf(TVRXAdvancedFieldType type) {
  const TSQLFieldType* row =
      FirstRow([type](const TSQLFieldType& r) { return r.AdvancedType == type; });
  return row ? row->FieldKind : TFieldType::ftUnknown;
}

TVRXAdvancedFieldType AdvancedTypeOfFieldKind(TFieldType kind) {
  const TSQLFieldType* row =
      FirstRow([kind](const TSQLFieldType& r) { return r.FieldKind == kind; });
  if (row == nullptr)
    throw EVRXException("Unknown DataType: '%s'", {std::to_string(static_cast<int>(kind))}, 30289);
  return row->AdvancedType;
}

int32_t StorageSize(TVRXBaseFieldType type, int32_t length) {
  switch (type) {
    case B::Char:
    case B::String:
      return length + 1;
    case B::WideChar:
    case B::WideString:
      return 2 * (length + 1);
    case B::ShortInt:
    case B::Byte:
      return 1;
    case B::SmallInt:
    case B::Word:
    case B::Logical:
      return 2;
    case B::Integer:
    case B::Cardinal:
    case B::Single:
    case B::Date:
    case B::Time:
      return 4;
    case B::LargeInt:
    case B::Float:
    case B::DateTime:
    case B::Currency:
      return 8;
    case B::Extended:
      return 10;
    case B::Blob:
    case B::Memo:
    case B::WideMemo:
      return kBlobReferenceSize;
    case B::Bytes:
    case B::VarBytes:
      return length;
    case B::Unknown:
      break;
  }
  throw EVRXException("Unknown DataType: '%s'", {BaseTypeName(type)}, 30050);
}

bool IsTextType(TVRXBaseFieldType type) { return Code(type) >= 1 && Code(type) <= 4; }
bool IsWideTextType(TVRXBaseFieldType type) { return type == B::WideChar || type == B::WideString; }
bool IsNumericType(TVRXBaseFieldType type) {
  return (Code(type) >= 5 && Code(type) <= 14) || type == B::Currency;
}
bool IsIntegerType(TVRXBaseFieldType type) { return Code(type) >= 5 && Code(type) <= 11; }
bool IsFloatType(TVRXBaseFieldType type) { return Code(type) >= 12 && Code(type) <= 14; }
bool IsDateTimeType(TVRXBaseFieldType type) { return Code(type) >= 15 && Code(type) <= 17; }
bool IsBlobType(TVRXBaseFieldType type) { return Code(type) >= 18 && Code(type) <= 20; }
bool IsFixedSizeType(TVRXBaseFieldType type) {
  return (Code(type) >= 5 && Code(type) <= 17) || type == B::Logical || type == B::Currency;
}

bool IsTextAdvancedType(TVRXAdvancedFieldType type) {
  return (Code(type) >= 1 && Code(type) <= 4) || type == A::Guid;
}
bool IsWideTextAdvancedType(TVRXAdvancedFieldType type) {
  return type == A::WideChar || type == A::WideString;
}
bool IsSizedAdvancedType(TVRXAdvancedFieldType type) {
  return IsTextAdvancedType(type) || IsBytesAdvancedType(type);
}
bool IsAutoIncAdvancedType(TVRXAdvancedFieldType type) {
  return Code(type) >= 12 && Code(type) <= 19;
}
bool IsBytesAdvancedType(TVRXAdvancedFieldType type) {
  return type == A::Bytes || type == A::VarBytes;
}
bool IsBlobAdvancedType(TVRXAdvancedFieldType type) { return Code(type) >= 31 && Code(type) <= 35; }
bool IsOrderableAdvancedType(TVRXAdvancedFieldType type) {
  return (Code(type) >= 1 && Code(type) <= 28) || (Code(type) >= 33 && Code(type) <= 35);
}

}  // namespace vrx
