// The type name table, the storage sizes and type classes, the common type
// of two operands, and the byte encodings of fixed-size values.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "engine/values/VRXTypes.h"
#include "engine/values/VRXTypesRoutines.h"
#include "engine/values/VRXValueBytes.h"
#include "engine/base/VRXExcept.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

using A = TVRXAdvancedFieldType;
using B = TVRXBaseFieldType;

struct Row {
  const char* name;
  int advanced;
  int base;
  int kind;  // the dataset library's field kind number
};

// The table as the file formats and the dataset layer know it, written out
// independently of the implementation: ftFixedChar 23, ftString 1,
// ftWideString 24, ftSmallint 2, ftInteger 3, ftLargeint 25, ftWord 4,
// ftAutoInc 14, ftFloat 6, ftBCD 8, ftBoolean 5, ftCurrency 7, ftDate 9,
// ftTime 10, ftDateTime 11, ftTimeStamp 36, ftBytes 12, ftVarBytes 13,
// ftBlob 15, ftParadoxOle 19, ftTypedBinary 21, ftDBaseOle 20, ftGraphic 17,
// ftMemo 16, ftFmtMemo 18, ftGuid 35.
const std::vector<Row> kRows = {
    {"CHAR", 1, 1, 23},
    {"FIXEDCHAR", 1, 1, 23},
    {"STRING", 2, 3, 1},
    {"VARCHAR", 2, 3, 1},
    {"VARCHAR2", 2, 3, 1},
    {"WIDECHAR", 3, 2, 24},
    {"FIXEDWIDECHAR", 3, 2, 24},
    {"WIDESTRING", 4, 4, 24},
    {"WIDEVARCHAR", 4, 4, 24},
    {"SMALLINT", 6, 6, 2},
    {"SIGNEDINT16", 6, 6, 2},
    {"SHORTINT", 5, 5, 2},
    {"SIGNEDINT8", 5, 5, 2},
    {"INTEGER", 7, 7, 3},
    {"SIGNEDINT32", 7, 7, 3},
    {"LARGEINT", 8, 8, 25},
    {"INT64", 8, 8, 25},
    {"SIGNEDINT64", 8, 8, 25},
    {"WORD", 10, 10, 4},
    {"UNSIGNEDINT16", 10, 10, 4},
    {"BYTE", 9, 9, 4},
    {"UNSIGNEDINT8", 9, 9, 4},
    {"CARDINAL", 11, 11, 25},
    {"UNSIGNEDINT32", 11, 11, 25},
    {"AUTOINC", 12, 7, 14},
    {"AUTOINCSHORTINT", 13, 5, 14},
    {"AUTOINCSMALLINT", 14, 6, 14},
    {"AUTOINCINTEGER", 15, 7, 14},
    {"AUTOINCLARGEINT", 16, 8, 25},
    {"AUTOINCBYTE", 17, 9, 14},
    {"AUTOINCWORD", 18, 10, 14},
    {"AUTOINCCARDINAL", 19, 11, 14},
    {"FLOAT", 21, 13, 6},
    {"FLOAT", 21, 13, 8},
    {"SINGLE", 20, 12, 6},
    {"DOUBLE", 21, 13, 6},
    {"EXTENDED", 22, 14, 6},
    {"LOGICAL", 23, 21, 5},
    {"BOOLEAN", 23, 21, 5},
    {"BOOL", 23, 21, 5},
    {"BIT", 23, 21, 5},
    {"CURRENCY", 24, 22, 7},
    {"MONEY", 24, 22, 7},
    {"DATE", 25, 15, 9},
    {"TIME", 26, 16, 10},
    {"DATETIME", 27, 17, 11},
    {"TIMESTAMP", 28, 17, 36},
    {"BYTES", 29, 23, 12},
    {"VARBYTES", 30, 24, 13},
    {"BLOB", 31, 18, 15},
    {"BLOB", 31, 18, 19},
    {"BLOB", 31, 18, 21},
    {"BLOB", 31, 18, 20},
    {"GRAPHIC", 32, 18, 17},
    {"MEMO", 33, 19, 16},
    {"CLOB", 33, 19, 16},
    {"FORMATTEDMEMO", 34, 19, 18},
    {"WIDEMEMO", 35, 20, 15},
    {"WIDECLOB", 35, 20, 16},
    {"GUID", 36, 1, 35},
};

const char* const kCanonicalAdvanced[] = {"CHAR",
                                          "STRING",
                                          "WIDECHAR",
                                          "WIDESTRING",
                                          "SHORTINT",
                                          "SMALLINT",
                                          "INTEGER",
                                          "LARGEINT",
                                          "BYTE",
                                          "WORD",
                                          "CARDINAL",
                                          "AUTOINC",
                                          "AUTOINCSHORTINT",
                                          "AUTOINCSMALLINT",
                                          "AUTOINCINTEGER",
                                          "AUTOINCLARGEINT",
                                          "AUTOINCBYTE",
                                          "AUTOINCWORD",
                                          "AUTOINCCARDINAL",
                                          "SINGLE",
                                          "FLOAT",
                                          "EXTENDED",
                                          "LOGICAL",
                                          "CURRENCY",
                                          "DATE",
                                          "TIME",
                                          "DATETIME",
                                          "TIMESTAMP",
                                          "BYTES",
                                          "VARBYTES",
                                          "BLOB",
                                          "GRAPHIC",
                                          "MEMO",
                                          "FORMATTEDMEMO",
                                          "WIDEMEMO",
                                          "GUID"};

const char* const kCanonicalBase[] = {"CHAR",     "WIDECHAR", "STRING",   "WIDESTRING", "SHORTINT",
                                      "SMALLINT", "INTEGER",  "LARGEINT", "BYTE",       "WORD",
                                      "CARDINAL", "SINGLE",   "FLOAT",    "EXTENDED",   "DATE",
                                      "TIME",     "DATETIME", "BLOB",     "MEMO",       "WIDEMEMO",
                                      "LOGICAL",  "CURRENCY", "BYTES",    "VARBYTES"};

TEST(TypeTable, RowsInOrder) {
  const auto table = SQLFieldTypes();
  ASSERT_EQ(table.size(), kRows.size());
  for (size_t i = 0; i < kRows.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i + 1));
    EXPECT_EQ(table[i].Name, kRows[i].name);
    EXPECT_EQ(TypeCode(table[i].AdvancedType), kRows[i].advanced);
    EXPECT_EQ(TypeCode(table[i].BaseType), kRows[i].base);
    EXPECT_EQ(static_cast<int>(table[i].FieldKind), kRows[i].kind);
  }
}

TEST(TypeTable, EveryRowRoundTripsByNameAndType) {
  for (size_t i = 0; i < kRows.size(); ++i) {
    const Row& row = kRows[i];
    SCOPED_TRACE(row.name);
    // By name: the first row of that name (FLOAT and BLOB repeat).
    size_t first = 0;
    while (std::string(kRows[first].name) != row.name) ++first;
    const TSQLFieldType* found = FindSQLFieldType(row.name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &SQLFieldTypes()[first]);
    EXPECT_EQ(TypeCode(AdvancedTypeByName(row.name)), row.advanced);
    // Lower case finds the same row.
    std::string lower = row.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindSQLFieldType(lower), found);
    // By type: the declared type maps to the storage type of its rows, and
    // its name leads back to the declared type.
    const auto advanced = static_cast<A>(row.advanced);
    EXPECT_EQ(TypeCode(BaseTypeOf(advanced)), row.base);
    EXPECT_EQ(AdvancedTypeByName(AdvancedTypeName(advanced)), advanced);
    // By field kind: the first row with this kind.
    size_t firstKind = 0;
    while (kRows[firstKind].kind != row.kind) ++firstKind;
    EXPECT_EQ(TypeCode(AdvancedTypeOfFieldKind(static_cast<TFieldType>(row.kind))),
              kRows[firstKind].advanced);
  }
  EXPECT_EQ(FindSQLFieldType("NUMBER"), nullptr);
  EXPECT_EQ(AdvancedTypeByName(""), A::Unknown);
}

TEST(TypeTable, CanonicalNames) {
  for (int code = 1; code <= kAdvancedFieldTypeCount; ++code)
    EXPECT_EQ(AdvancedTypeName(static_cast<A>(code)), kCanonicalAdvanced[code - 1]) << code;
  for (int code = 1; code <= kBaseFieldTypeCount; ++code)
    EXPECT_EQ(BaseTypeName(static_cast<B>(code)), kCanonicalBase[code - 1]) << code;
  EXPECT_EQ(AdvancedTypeName(A::Unknown), "Unknown");
  EXPECT_EQ(AdvancedTypeName(static_cast<A>(37)), "Unknown");
  EXPECT_EQ(BaseTypeName(B::Unknown), "Unknown");
  EXPECT_EQ(BaseTypeName(static_cast<B>(25)), "Unknown");
}

TEST(TypeTable, MappingsTakeTheFirstRow) {
  // Storage INTEGER is first met as INTEGER, not AUTOINC; CHAR not GUID.
  EXPECT_EQ(AdvancedTypeOf(B::Integer), A::Integer);
  EXPECT_EQ(AdvancedTypeOf(B::Char), A::Char);
  EXPECT_EQ(AdvancedTypeOf(B::Blob), A::Blob);
  EXPECT_EQ(AdvancedTypeOf(B::DateTime), A::DateTime);
  EXPECT_EQ(AdvancedTypeOf(B::Unknown), A::Unknown);
  EXPECT_EQ(FieldKindOf(A::Float), TFieldType::ftFloat);
  EXPECT_EQ(FieldKindOf(A::WideMemo), TFieldType::ftBlob);
  EXPECT_EQ(FieldKindOf(A::Unknown), TFieldType::ftUnknown);
  EXPECT_EQ(AdvancedTypeOfFieldKind(TFieldType::ftWideString), A::WideChar);
  EXPECT_EQ(AdvancedTypeOfFieldKind(TFieldType::ftLargeint), A::LargeInt);
  EXPECT_EQ(AdvancedTypeOfFieldKind(TFieldType::ftBCD), A::Float);
  EXPECT_EQ(AdvancedTypeOfFieldKind(TFieldType::ftWord), A::Word);
  EXPECT_EQ(MessageOf([] { AdvancedTypeOfFieldKind(TFieldType::ftCursor); }),
            "Unknown DataType: '22' - Native error: 30289");
  EXPECT_EQ(MessageOf([] { AdvancedTypeOfFieldKind(TFieldType::ftUnknown); }),
            "Unknown DataType: '0' - Native error: 30289");
}

TEST(TypeTable, StorageSizes) {
  struct Case {
    B type;
    int32_t length;
    int32_t size;
  };
  const Case cases[] = {
      {B::Char, 10, 11},   {B::WideChar, 10, 22}, {B::String, 0, 1},   {B::WideString, 3, 8},
      {B::ShortInt, 9, 1}, {B::SmallInt, 9, 2},   {B::Integer, 9, 4},  {B::LargeInt, 9, 8},
      {B::Byte, 9, 1},     {B::Word, 9, 2},       {B::Cardinal, 9, 4}, {B::Single, 9, 4},
      {B::Float, 9, 8},    {B::Extended, 9, 10},  {B::Date, 9, 4},     {B::Time, 9, 4},
      {B::DateTime, 9, 8}, {B::Blob, 9, 10},      {B::Memo, 9, 10},    {B::WideMemo, 9, 10},
      {B::Logical, 9, 2},  {B::Currency, 9, 8},   {B::Bytes, 16, 16},  {B::VarBytes, 7, 7},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StorageSize(c.type, c.length), c.size) << BaseTypeName(c.type);
  EXPECT_EQ(MessageOf([] { StorageSize(B::Unknown, 4); }),
            "Unknown DataType: 'Unknown' - Native error: 30050");
  EXPECT_EQ(MessageOf([] { StorageSize(static_cast<B>(99), 4); }),
            "Unknown DataType: 'Unknown' - Native error: 30050");
}

std::set<int> BaseMembers(bool (*pred)(B)) {
  std::set<int> out;
  for (int code = 0; code <= 30; ++code)
    if (pred(static_cast<B>(code))) out.insert(code);
  return out;
}

std::set<int> AdvancedMembers(bool (*pred)(A)) {
  std::set<int> out;
  for (int code = 0; code <= 40; ++code)
    if (pred(static_cast<A>(code))) out.insert(code);
  return out;
}

std::set<int> Range(int from, int to) {
  std::set<int> out;
  for (int i = from; i <= to; ++i) out.insert(i);
  return out;
}

std::set<int> Join(std::set<int> a, const std::set<int>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

TEST(TypeTable, TypeClasses) {
  EXPECT_EQ(BaseMembers(IsTextType), Range(1, 4));
  EXPECT_EQ(BaseMembers(IsWideTextType), (std::set<int>{2, 4}));
  EXPECT_EQ(BaseMembers(IsNumericType), Join(Range(5, 14), {22}));
  EXPECT_EQ(BaseMembers(IsDateTimeType), Range(15, 17));
  EXPECT_EQ(BaseMembers(IsBlobType), Range(18, 20));
  EXPECT_EQ(AdvancedMembers(IsTextAdvancedType), Join(Range(1, 4), {36}));
  EXPECT_EQ(AdvancedMembers(IsWideTextAdvancedType), (std::set<int>{3, 4}));
  EXPECT_EQ(AdvancedMembers(IsSizedAdvancedType), Join(Range(1, 4), {29, 30, 36}));
  EXPECT_EQ(AdvancedMembers(IsAutoIncAdvancedType), Range(12, 19));
  EXPECT_EQ(AdvancedMembers(IsBytesAdvancedType), (std::set<int>{29, 30}));
  EXPECT_EQ(AdvancedMembers(IsBlobAdvancedType), Range(31, 35));
  EXPECT_EQ(AdvancedMembers(IsOrderableAdvancedType), Join(Range(1, 28), Range(33, 35)));
}

// ---- common type ----

TEST(CommonType, IntegerPairs) {
  // Rows left, columns right: SHORTINT SMALLINT INTEGER LARGEINT BYTE WORD CARDINAL.
  const int table[7][7] = {
      {5, 6, 7, 8, 6, 10, 11},  {6, 6, 7, 8, 6, 10, 11}, {7, 7, 7, 8, 7, 7, 8},
      {8, 8, 8, 8, 8, 8, 8},    {6, 6, 7, 8, 9, 10, 11}, {7, 7, 7, 8, 10, 10, 11},
      {8, 8, 8, 8, 11, 11, 11},
  };
  for (int l = 0; l < 7; ++l)
    for (int r = 0; r < 7; ++r)
      EXPECT_EQ(TypeCode(CommonBaseType(static_cast<B>(l + 5), static_cast<B>(r + 5), false)),
                table[l][r])
          << l + 5 << " with " << r + 5;
}

TEST(CommonType, Rules) {
  struct Case {
    B left;
    B right;
    bool dateWins;
    B result;
  };
  const Case cases[] = {
      // text left
      {B::Char, B::WideChar, false, B::WideChar},
      {B::Char, B::String, false, B::String},
      {B::Char, B::Integer, false, B::Char},
      {B::Char, B::Memo, false, B::Char},
      {B::Char, B::Logical, false, B::Char},
      {B::Char, B::Currency, false, B::Char},
      {B::Char, B::Blob, false, B::Unknown},
      {B::Char, B::WideMemo, false, B::Unknown},
      {B::Char, B::Bytes, false, B::Unknown},
      {B::WideChar, B::String, false, B::WideChar},
      {B::WideChar, B::WideString, false, B::WideString},
      {B::String, B::WideChar, false, B::WideChar},
      {B::String, B::Float, false, B::String},
      {B::WideString, B::Char, false, B::WideString},
      {B::String, B::Date, false, B::String},
      {B::String, B::Date, true, B::Date},
      {B::WideChar, B::DateTime, true, B::DateTime},
      // numeric left
      {B::Integer, B::String, false, B::String},
      {B::Integer, B::Time, false, B::Time},
      {B::Integer, B::Currency, false, B::Currency},
      {B::Word, B::Logical, false, B::Word},
      {B::Integer, B::Memo, false, B::Unknown},
      {B::Integer, B::Blob, false, B::Unknown},
      {B::Integer, B::Single, false, B::Single},
      {B::Single, B::LargeInt, false, B::Single},
      {B::Single, B::Float, false, B::Float},
      {B::Extended, B::Float, false, B::Extended},
      // dates left
      {B::Date, B::String, false, B::String},
      {B::Date, B::String, true, B::Date},
      {B::Date, B::Integer, false, B::Date},
      {B::Date, B::Time, false, B::DateTime},
      {B::Date, B::Logical, false, B::Unknown},
      {B::Time, B::Float, false, B::Time},
      {B::Time, B::Date, false, B::DateTime},
      {B::Time, B::Char, true, B::Time},
      {B::DateTime, B::Date, false, B::DateTime},
      {B::DateTime, B::Currency, false, B::DateTime},
      {B::DateTime, B::Memo, false, B::Unknown},
      // the rest
      {B::Memo, B::String, false, B::String},
      {B::Memo, B::Memo, false, B::Char},
      {B::Memo, B::Integer, false, B::Unknown},
      {B::Logical, B::Integer, false, B::Integer},
      {B::Logical, B::Logical, false, B::Logical},
      {B::Logical, B::Date, false, B::Unknown},
      {B::Currency, B::Integer, false, B::Integer},
      {B::Currency, B::Currency, false, B::Currency},
      {B::Currency, B::Logical, false, B::Unknown},
      {B::Blob, B::Blob, false, B::Unknown},
      {B::VarBytes, B::String, false, B::Unknown},
      {B::Unknown, B::Integer, false, B::Unknown},
      {B::Integer, B::Unknown, false, B::Unknown},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CommonBaseType(c.left, c.right, c.dateWins), c.result)
        << BaseTypeName(c.left) << " with " << BaseTypeName(c.right) << " dateWins " << c.dateWins;
}

TEST(CommonType, DeclaredTypes) {
  EXPECT_EQ(CommonAdvancedType(A::AutoInc, A::SmallInt, false), A::AutoInc);
  EXPECT_EQ(CommonAdvancedType(A::SmallInt, A::AutoInc, false), A::AutoInc);
  EXPECT_EQ(CommonAdvancedType(A::Word, A::SmallInt, false), A::Integer);
  EXPECT_EQ(CommonAdvancedType(A::Guid, A::String, false), A::String);
  EXPECT_EQ(CommonAdvancedType(A::String, A::TimeStamp, true), A::TimeStamp);
  EXPECT_EQ(CommonAdvancedType(A::Blob, A::Integer, false), A::Unknown);
}

// ---- encodings ----

std::vector<uint8_t> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return {b, b + n};
}

TEST(Encodings, ExtendedGoldenBytes) {
  struct Case {
    long double value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {1.0L, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {-2.5L, {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0}},
      {0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {HUGE_VALL, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}},
      {693595.5L, {0, 0, 0, 0, 0, 0xB8, 0x55, 0xA9, 0x12, 0x40}},
  };
  for (const Case& c : cases) {
    uint8_t buffer[10];
    bytes::StoreExtended(buffer, c.value);
    EXPECT_EQ(Bytes(buffer, 10), c.bytes) << static_cast<double>(c.value);
    EXPECT_EQ(bytes::LoadExtended(c.bytes.data()), c.value);
  }
  uint8_t buffer[10];
  bytes::StoreExtended(buffer, std::nanl(""));
  EXPECT_TRUE(std::isnan(bytes::LoadExtended(buffer)));
  // Values beyond binary64 precision survive the round trip.
  const long double precise = 1.0L + 0x1p-60L;
  bytes::StoreExtended(buffer, precise);
  EXPECT_EQ(bytes::LoadExtended(buffer), precise);
}

TEST(Encodings, FixedSizeGoldenBytes) {
  uint8_t b[8] = {};
  bytes::StoreDateTime(b, {693595, 43200000});
  EXPECT_EQ(Bytes(b, 8), (std::vector<uint8_t>{0x5B, 0x95, 0x0A, 0x00, 0x00, 0x2E, 0x93, 0x02}));
  bytes::StoreLogical(b, true);
  EXPECT_EQ(Bytes(b, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
  // Any non-zero word reads as true.
  const uint8_t one[2] = {0x01, 0x00};
  EXPECT_TRUE(bytes::LoadLogical(one));
  bytes::StoreDouble(b, 1.5);
  EXPECT_EQ(Bytes(b, 8), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  bytes::StoreU32(b, static_cast<uint32_t>(-2));
  EXPECT_EQ(bytes::LoadIntegerOf(B::Integer, b), -2);
  EXPECT_EQ(bytes::LoadIntegerOf(B::Cardinal, b), 4294967294);
  EXPECT_EQ(bytes::LoadIntegerOf(B::SmallInt, b), -2);
  EXPECT_EQ(bytes::LoadIntegerOf(B::Word, b), 65534);
}

}  // namespace
}  // namespace vrx
