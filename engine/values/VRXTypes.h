// The engine's data types: declared types (what a column is declared as in
// SQL and what the dataset layer sees), storage types (how the bytes of a
// value are laid out), the dataset field kinds they map to, the one type
// name table that every lookup by name goes through, the byte sizes of the
// storage encodings and the type classes used throughout the engine.
//
// Used by field definitions, records, B-tree keys, the expression evaluator,
// SQL parameters and the dataset layer. Pure data and pure functions: no
// state, safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vrx {

// Storage types: the codes stored in records, value streams and table
// metadata. Never renumber.
enum class TVRXBaseFieldType : uint8_t {
  Unknown = 0,  // a value not yet typed
  Char = 1,
  WideChar = 2,
  String = 3,
  WideString = 4,
  ShortInt = 5,
  SmallInt = 6,
  Integer = 7,
  LargeInt = 8,
  Byte = 9,
  Word = 10,
  Cardinal = 11,
  Single = 12,
  Float = 13,
  Extended = 14,
  Date = 15,
  Time = 16,
  DateTime = 17,
  Blob = 18,
  Memo = 19,
  WideMemo = 20,
  Logical = 21,
  Currency = 22,
  Bytes = 23,
  VarBytes = 24,
};
inline constexpr int kBaseFieldTypeCount = 24;

// Declared types: the codes stored in field definitions. Never renumber.
enum class TVRXAdvancedFieldType : uint8_t {
  Unknown = 0,
  Char = 1,
  String = 2,
  WideChar = 3,
  WideString = 4,
  ShortInt = 5,
  SmallInt = 6,
  Integer = 7,
  LargeInt = 8,
  Byte = 9,
  Word = 10,
  Cardinal = 11,
  AutoInc = 12,
  AutoIncShortInt = 13,
  AutoIncSmallInt = 14,
  AutoIncInteger = 15,
  AutoIncLargeInt = 16,
  AutoIncByte = 17,
  AutoIncWord = 18,
  AutoIncCardinal = 19,
  Single = 20,
  Float = 21,
  Extended = 22,
  Logical = 23,
  Currency = 24,
  Date = 25,
  Time = 26,
  DateTime = 27,
  TimeStamp = 28,
  Bytes = 29,
  VarBytes = 30,
  Blob = 31,
  Graphic = 32,
  Memo = 33,
  FormattedMemo = 34,
  WideMemo = 35,
  Guid = 36,
};
inline constexpr int kAdvancedFieldTypeCount = 36;

// The dataset library's field kinds, numbered as that library numbers them;
// the numbers appear in error messages ("Unknown DataType: '14'"). The
// dataset framework (platform/data) uses this enumeration as its own.
enum class TFieldType : uint8_t {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
  ftTimeStamp = 36,
  ftFMTBcd = 37,
};

// One row of the type name table.
struct TSQLFieldType {
  std::string_view Name;
  TVRXAdvancedFieldType AdvancedType;
  TVRXBaseFieldType BaseType;
  TFieldType FieldKind;
};

// The 60 rows in table order. Every lookup scans them in this order and
// takes the first match, so the first row of a type gives its canonical name.
std::span<const TSQLFieldType> SQLFieldTypes();

// --- names -----------------------------------------------------------------

// Canonical SQL name of a declared type; "Unknown" for a code without row.
std::string_view AdvancedTypeName(TVRXAdvancedFieldType type);
// SQL name of the first row with this storage type; "Unknown" if none.
std::string_view BaseTypeName(TVRXBaseFieldType type);

// The row whose name equals `name` (ASCII case-insensitive), or nullptr.
const TSQLFieldType* FindSQLFieldType(std::string_view name);
// Declared type named `name`; Unknown when no row has that name.
TVRXAdvancedFieldType AdvancedTypeByName(std::string_view name);

// --- mappings ---------------------------------------------------------------

// Storage type of a declared type; Unknown for a code without row.
TVRXBaseFieldType BaseTypeOf(TVRXAdvancedFieldType type);
// Declared type of the first row with this storage type; Unknown if none.
TVRXAdvancedFieldType AdvancedTypeOf(TVRXBaseFieldType type);
// Dataset field kind of a declared type; ftUnknown for a code without row.
TFieldType FieldKindOf(TVRXAdvancedFieldType type);
// Declared type of the first row with this field kind. Throws "Unknown
// DataType: '%s'" (30289) with the kind's number when no row has it.
TVRXAdvancedFieldType AdvancedTypeOfFieldKind(TFieldType kind);

// Bytes of the storage encoding of a value of `type` with the declared
// `length` (characters of text, bytes of BYTES and VARBYTES; ignored for
// the other types). BLOB, MEMO and WIDEMEMO answer their 10-byte record
// reference. Throws "Unknown DataType: '%s'" (30050) for any other code.
int32_t StorageSize(TVRXBaseFieldType type, int32_t length);

// --- type classes ------------------------------------------------------------

bool IsTextType(TVRXBaseFieldType type);      // 1-4
bool IsWideTextType(TVRXBaseFieldType type);  // 2, 4
bool IsNumericType(TVRXBaseFieldType type);   // 5-14, 22
bool IsIntegerType(TVRXBaseFieldType type);   // 5-11
bool IsFloatType(TVRXBaseFieldType type);     // 12-14
bool IsDateTimeType(TVRXBaseFieldType type);  // 15-17
bool IsBlobType(TVRXBaseFieldType type);      // 18-20
// Fixed-size storage types: numbers, dates, LOGICAL, CURRENCY.
bool IsFixedSizeType(TVRXBaseFieldType type);

bool IsTextAdvancedType(TVRXAdvancedFieldType type);       // 1-4, 36
bool IsWideTextAdvancedType(TVRXAdvancedFieldType type);   // 3, 4
bool IsSizedAdvancedType(TVRXAdvancedFieldType type);      // text, 29, 30
bool IsAutoIncAdvancedType(TVRXAdvancedFieldType type);    // 12-19
bool IsBytesAdvancedType(TVRXAdvancedFieldType type);      // 29, 30
bool IsBlobAdvancedType(TVRXAdvancedFieldType type);       // 31-35
bool IsOrderableAdvancedType(TVRXAdvancedFieldType type);  // 1-28, 33-35

inline constexpr uint8_t TypeCode(TVRXBaseFieldType type) { return static_cast<uint8_t>(type); }
inline constexpr uint8_t TypeCode(TVRXAdvancedFieldType type) { return static_cast<uint8_t>(type); }

}  // namespace vrx
