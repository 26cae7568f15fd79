// TVRXVariant: buffer ownership, typed setters and getters, type changes,
// comparison (NULL codes, collation, partial), arithmetic, the value stream
// form and platform variants.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/values/VRXPlatformVariant.h"
#include "engine/values/VRXTypesRoutines.h"
#include "engine/values/VRXVariant.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/base/VRXStream.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

using B = TVRXBaseFieldType;
using pelvaro::test::TestLocaleIsCzech;

TVRXVariant Int(int32_t v) {
  TVRXVariant x;
  x.SetAsInteger(v);
  return x;
}
TVRXVariant Str(std::string_view s) {
  TVRXVariant x;
  x.SetAsString(s);
  return x;
}
TVRXVariant NullOf(B type) { return TVRXVariant(type); }

std::vector<uint8_t> BytesOf(const TVRXVariant& v) {
  const auto* b = static_cast<const uint8_t*>(v.Data());
  return {b, b + v.DataSize()};
}

// Every test checks that the values it made gave back all their memory.
class VariantTest : public testing::Test {
 protected:
  void SetUp() override { before_ = TVRXMemoryManager::Instance().AllocatedBytes(); }
  void TearDown() override {
    EXPECT_EQ(TVRXMemoryManager::Instance().AllocatedBytes(), before_) << "value buffers leaked";
  }

 private:
  int64_t before_ = 0;
};

// ---- state and ownership ----

TEST_F(VariantTest, NewValueIsUntypedAndNull) {
  TVRXVariant v;
  EXPECT_EQ(v.DataType(), B::Unknown);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.NullFlag(), 255);
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_EQ(MessageOf([&] { v.CheckNotNull(); }), "Value is Null - Native error: 30016");
  EXPECT_EQ(MessageOf([&] { v.GetAsInteger(); }), "Value is Null - Native error: 30016");
  EXPECT_EQ(v.CharLength(), -1);
}

TEST_F(VariantTest, SetNullKeepsTypeAndBufferClearFreesIt) {
  TVRXVariant v = Int(5);
  const void* buffer = v.Data();
  v.SetNull();
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), B::Integer);
  EXPECT_EQ(v.Data(), buffer);
  // Storing again reuses the owned buffer of the same size in place.
  v.SetAsInteger(6);
  EXPECT_FALSE(v.IsNull());
  EXPECT_EQ(v.Data(), buffer);
  EXPECT_EQ(v.GetAsInteger(), 6);
  v.Clear(B::Float);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), B::Float);
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_EQ(v.DataSize(), 0);
}

TEST_F(VariantTest, BorrowedBufferIsNeverFreedNorWrittenThrough) {
  uint8_t field[4] = {7, 0, 0, 0};
  {
    TVRXVariant v;
    v.SetData(field, 4, false, B::Integer);
    EXPECT_TRUE(v.Borrowed());
    EXPECT_EQ(v.Data(), field);
    EXPECT_EQ(v.GetAsInteger(), 7);
    // Changing the value gives it a buffer of its own.
    v.SetAsInteger(9);
    EXPECT_FALSE(v.Borrowed());
    EXPECT_NE(v.Data(), field);
    v.SetData(field, 4, false, B::Integer);
    v.Add(Int(1));
    EXPECT_EQ(v.GetAsInteger(), 8);
    v.SetData(field, 4, false, B::Integer);
    v.Negate();
    v.SetData(field, 4, false, B::Integer);
    v.ChangeType(B::LargeInt);
    EXPECT_EQ(v.GetAsLargeInt(), 7);
    v.SetData(field, 4, false, B::Integer);
  }  // destroying a borrowing value leaves the field alone
  EXPECT_EQ(field[0], 7);
}

TEST_F(VariantTest, AssignSharesOrCopies) {
  TVRXVariant source = Str("abc");
  TVRXVariant shallow;
  shallow.Assign(source, false);
  EXPECT_TRUE(shallow.Borrowed());
  EXPECT_EQ(shallow.Data(), source.Data());
  EXPECT_EQ(shallow.GetAsString(), "abc");
  TVRXVariant deep;
  deep.Assign(source, true);
  EXPECT_FALSE(deep.Borrowed());
  EXPECT_NE(deep.Data(), source.Data());
  EXPECT_EQ(deep.GetAsString(), "abc");
  // Assigning back the value that borrows our own buffer keeps ownership.
  source.Assign(shallow, false);
  EXPECT_FALSE(source.Borrowed());
  EXPECT_EQ(source.GetAsString(), "abc");
  // NULL copies as NULL of its type.
  deep.Assign(NullOf(B::Date), true);
  EXPECT_TRUE(deep.IsNull());
  EXPECT_EQ(deep.DataType(), B::Date);
}

TEST_F(VariantTest, CopyIsDeepMoveHandsTheBufferOver) {
  uint8_t field[4] = {1, 0, 0, 0};
  TVRXVariant borrowing;
  borrowing.SetData(field, 4, false, B::Integer);
  TVRXVariant copy(borrowing);
  EXPECT_FALSE(copy.Borrowed());
  EXPECT_NE(copy.Data(), static_cast<const void*>(field));
  TVRXVariant moved(std::move(copy));
  EXPECT_EQ(moved.GetAsInteger(), 1);
  EXPECT_TRUE(copy.IsNull());  // NOLINT(bugprone-use-after-move): the moved-from state is defined
  TVRXVariant assigned = Str("x");
  assigned = moved;
  EXPECT_EQ(assigned.GetAsInteger(), 1);
  assigned = std::move(moved);
  EXPECT_EQ(assigned.GetAsInteger(), 1);
}

TEST_F(VariantTest, SetDataAndGetData) {
  TVRXVariant v;
  const uint8_t bytes[4] = {1, 2, 3, 4};
  v.SetData(bytes, 4, true, B::Cardinal);
  const void* buffer = v.Data();
  v.SetData(bytes, 4, true, B::Cardinal);
  EXPECT_EQ(v.Data(), buffer);  // reused: owned and of the same size
  uint8_t out[8] = {};
  EXPECT_EQ(MessageOf([&] { v.GetData(out, 3); }), "Buffer size exceeded - Native error: 20056");
  EXPECT_TRUE(v.GetData(out, 4));
  EXPECT_EQ(std::memcmp(out, bytes, 4), 0);
  EXPECT_TRUE(v.GetData(out, -1));
  // A size that cannot hold the type is refused, the value unchanged.
  EXPECT_EQ(MessageOf([&] { v.SetData(bytes, 2, true, B::Integer); }),
            "Buffer size exceeded - Native error: 20056");
  EXPECT_EQ(v.DataType(), B::Cardinal);
  // Empty text and NULL answer false.
  v.SetData("", 1, true, B::String);
  EXPECT_FALSE(v.IsNull());
  EXPECT_FALSE(v.GetData(out, -1));
  v.SetNull();
  EXPECT_FALSE(v.GetData(out, -1));
}

// ---- typed values ----

TEST_F(VariantTest, TypedSettersConvertIntoTheValueType) {
  TVRXVariant v(B::Integer);
  v.SetAsString("300");
  EXPECT_EQ(v.DataType(), B::Integer);
  EXPECT_EQ(v.GetAsInteger(), 300);
  // An empty text is NULL in any type, with no conversion error.
  v.SetAsString("");
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), B::Integer);
  TVRXVariant s(B::String);
  s.SetAsString("");
  EXPECT_TRUE(s.IsNull());
  s.SetAsWideString(u"");
  EXPECT_TRUE(s.IsNull());
  // A text that does not fit leaves the value as it was.
  TVRXVariant small(B::ShortInt);
  small.SetAsShortInt(3);
  EXPECT_EQ(MessageOf([&] { small.SetAsString("300"); }),
            "Cannot cast from 'STRING' to 'SHORTINT' - Native error: 30051");
  EXPECT_EQ(small.GetAsShortInt(), 3);
  // An untyped value takes the type of what it is given.
  TVRXVariant untyped;
  untyped.SetAsWord(7);
  EXPECT_EQ(untyped.DataType(), B::Word);
  TVRXVariant date(B::Date);
  date.SetAsCalendarDateTime(1.5);  // 31 December 1899, noon
  EXPECT_EQ(date.GetAsDate(), 693595);
  TVRXVariant dt;
  dt.SetAsCalendarDateTime(1.5);
  EXPECT_EQ(dt.GetAsDateTime().Date, 693595);
  EXPECT_EQ(dt.GetAsDateTime().Time, 43200000);
  EXPECT_DOUBLE_EQ(dt.GetAsCalendarDateTime(), 1.5);
  TVRXVariant time;
  time.SetAsCalendarTime(0.25);
  EXPECT_EQ(time.GetAsTime(), 21600000);
  // A calendar value beyond the day range is a conversion error.
  EXPECT_EQ(MessageOf([&] { time.SetAsCalendarDateTime(1e300); }),
            "Cannot cast from 'FLOAT' to 'DATETIME' - Native error: 30051");
  EXPECT_EQ(time.GetAsTime(), 21600000);
}

TEST_F(VariantTest, StoredEncodings) {
  struct Case {
    const char* what;
    std::function<void(TVRXVariant&)> set;
    B type;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"STRING", [](TVRXVariant& v) { v.SetAsString("ab"); }, B::String, {'a', 'b', 0}},
      {"CHAR from wide", [](TVRXVariant& v) { v.SetAsChar(u"č"); }, B::Char, {0xC4, 0x8D, 0}},
      {"WIDESTRING",
       [](TVRXVariant& v) { v.SetAsWideString("ač"); },
       B::WideString,
       {'a', 0, 0x0D, 0x01, 0, 0}},
      {"SHORTINT", [](TVRXVariant& v) { v.SetAsShortInt(-1); }, B::ShortInt, {0xFF}},
      {"SMALLINT", [](TVRXVariant& v) { v.SetAsSmallInt(-2); }, B::SmallInt, {0xFE, 0xFF}},
      {"INTEGER", [](TVRXVariant& v) { v.SetAsInteger(-2); }, B::Integer, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"LARGEINT",
       [](TVRXVariant& v) { v.SetAsLargeInt(0x0102030405060708); },
       B::LargeInt,
       {8, 7, 6, 5, 4, 3, 2, 1}},
      {"CARDINAL",
       [](TVRXVariant& v) { v.SetAsCardinal(0x80000000u); },
       B::Cardinal,
       {0, 0, 0, 0x80}},
      {"SINGLE", [](TVRXVariant& v) { v.SetAsSingle(1.0f); }, B::Single, {0, 0, 0x80, 0x3F}},
      {"FLOAT",
       [](TVRXVariant& v) { v.SetAsFloat(1.5); },
       B::Float,
       {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
      {"EXTENDED",
       [](TVRXVariant& v) { v.SetAsExtended(1.0L); },
       B::Extended,
       {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {"DATETIME",
       [](TVRXVariant& v) {
         v.SetAsDateTime({693595, 43200000});
       },
       B::DateTime,
       {0x5B, 0x95, 0x0A, 0x00, 0x00, 0x2E, 0x93, 0x02}},
      {"LOGICAL", [](TVRXVariant& v) { v.SetAsLogical(true); }, B::Logical, {0xFF, 0xFF}},
      {"CURRENCY",
       [](TVRXVariant& v) { v.SetAsCurrency(-0.1); },
       B::Currency,
       {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0xBF}},
      {"MEMO", [](TVRXVariant& v) { v.SetAsMemo("ab"); }, B::Memo, {'a', 'b'}},
  };
  for (const Case& c : cases) {
    TVRXVariant v;
    c.set(v);
    EXPECT_EQ(v.DataType(), c.type) << c.what;
    EXPECT_EQ(BytesOf(v), c.bytes) << c.what;
  }
}

TEST_F(VariantTest, GettersReadOwnTypeOrConvert) {
  TVRXVariant v = Int(42);
  EXPECT_EQ(v.GetAsString(), "42");
  EXPECT_EQ(v.GetAsWideString(), u"42");
  EXPECT_EQ(v.GetAsLargeInt(), 42);
  EXPECT_EQ(v.GetAsFloat(), 42.0);
  EXPECT_TRUE(v.GetAsLogical());
  EXPECT_EQ(v.GetAsMemo(), "42");
  EXPECT_EQ(MessageOf([&] { v.GetAsBlob(); }),
            "Cannot cast from 'INTEGER' to 'BLOB' - Native error: 30052");
  TVRXVariant blob;
  blob.SetAsBlob(std::string("\x01\x00\x02", 3));
  EXPECT_EQ(blob.GetAsBlob(), std::string("\x01\x00\x02", 3));
  TVRXVariant text = Str("xy");
  EXPECT_EQ(text.GetAsBlob(), "xy");
  text.ChangeType(B::Blob);
  EXPECT_EQ(text.DataSize(), 3);
  EXPECT_EQ(text.GetAsBlob(), "xy");  // the terminator the conversion kept is dropped
  TVRXConvertedValue typed = Int(7).GetTypedValue(B::SmallInt);
  EXPECT_EQ(typed.Size, 2);
  EXPECT_EQ(bytes::LoadI16(typed.Data.get()), 7);
}

TEST_F(VariantTest, ChangeTypeAndSetTypeOrClear) {
  TVRXVariant v = Int(5);
  v.ChangeType(B::String);
  EXPECT_EQ(v.DataType(), B::String);
  EXPECT_EQ(v.GetAsString(), "5");
  TVRXVariant memo;
  memo.SetAsMemo("abc");
  memo.ChangeType(B::String);
  EXPECT_EQ(BytesOf(memo), (std::vector<uint8_t>{'a', 'b', 'c', 0}));
  TVRXVariant null = NullOf(B::Integer);
  null.ChangeType(B::Blob);
  EXPECT_EQ(null.DataType(), B::Blob);
  EXPECT_TRUE(null.IsNull());
  // A failed change leaves the value; SetTypeOrClear gives NULL instead.
  TVRXVariant text = Str("abc");
  EXPECT_EQ(MessageOf([&] { text.ChangeType(B::Integer); }),
            "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  EXPECT_EQ(text.GetAsString(), "abc");
  text.SetTypeOrClear(B::Integer);
  EXPECT_TRUE(text.IsNull());
  EXPECT_EQ(text.DataType(), B::Integer);
  TVRXVariant number = Str("12");
  number.SetTypeOrClear(B::Word);
  EXPECT_EQ(number.GetAsWord(), 12);
}

TEST_F(VariantTest, CharLength) {
  EXPECT_EQ(Str("abc").CharLength(), 3);
  EXPECT_EQ(Str("č").CharLength(), 2);  // UTF-8 bytes, the unit of text sizes
  TVRXVariant wide;
  wide.SetAsWideString(u"ab");
  EXPECT_EQ(wide.CharLength(), 2);
  EXPECT_EQ(Int(5).CharLength(), -1);
  EXPECT_EQ(NullOf(B::String).CharLength(), -1);
  // A borrowed fixed-size field counts up to its terminator.
  const char field[6] = {'a', 'b', 0, 0, 0, 0};
  TVRXVariant borrowed;
  borrowed.SetData(field, 6, false, B::Char);
  EXPECT_EQ(borrowed.CharLength(), 2);
  EXPECT_EQ(borrowed.GetAsString(), "ab");
}

// ---- comparison ----

TEST_F(VariantTest, CompareNullCodes) {
  const TVRXVariant five = Int(5);
  const TVRXVariant null = NullOf(B::Integer);
  EXPECT_EQ(null.Compare(five, {.rawCodes = true}), kCompareLeftNull);
  EXPECT_EQ(five.Compare(null, {.rawCodes = true}), kCompareRightNull);
  EXPECT_EQ(null.Compare(null, {.rawCodes = true}), kCompareBothNull);
  EXPECT_EQ(null.Compare(five), kCompareLess);
  EXPECT_EQ(five.Compare(null), kCompareGreater);
  EXPECT_EQ(null.Compare(null), kCompareEqual);
  // Key order: NULL before every value, NULLs equal.
  EXPECT_EQ(CompareKeys({nullptr, 0, B::Integer, true}, {five.Data(), 4, B::Integer, false}),
            -1);
  EXPECT_EQ(CompareKeys({five.Data(), 4, B::Integer, false}, {nullptr, 0, B::Integer, true}),
            1);
  EXPECT_EQ(CompareKeys({nullptr, 0, B::Integer, true}, {nullptr, 0, B::Blob, true}), 0);
  // A side flagged present but without buffer.
  EXPECT_EQ(MessageOf([&] {
              CompareValues({nullptr, 0, B::Integer, false}, {five.Data(), 4, B::Integer, false});
            }),
            "Value is Null - Native error: 30140");
}

TEST_F(VariantTest, CompareAcrossTypes) {
  struct Case {
    const char* what;
    std::function<TVRXVariant()> left;
    std::function<TVRXVariant()> right;
    int result;
  };
  auto dt = [](int32_t d, int32_t t) {
    TVRXVariant v;
    v.SetAsDateTime({d, t});
    return v;
  };
  auto fl = [](double f) {
    TVRXVariant v;
    v.SetAsFloat(f);
    return v;
  };
  auto lg = [](bool b) {
    TVRXVariant v;
    v.SetAsLogical(b);
    return v;
  };
  const Case cases[] = {
      {"'2' vs 10 as text", [] { return Str("2"); }, [] { return Int(10); }, kCompareGreater},
      {"10 vs '2' as text", [] { return Int(10); }, [] { return Str("2"); }, kCompareLess},
      {"INTEGER vs FLOAT", [] { return Int(2); }, [fl] { return fl(2.5); }, kCompareLess},
      {"FLOAT vs FLOAT", [fl] { return fl(-1); }, [fl] { return fl(-1); }, kCompareEqual},
      {"CARDINAL unsigned",
       [] {
         TVRXVariant v;
         v.SetAsCardinal(4000000000u);
         return v;
       },
       [] { return Int(1); }, kCompareGreater},
      {"BYTE vs SHORTINT",
       [] {
         TVRXVariant v;
         v.SetAsByte(200);
         return v;
       },
       [] {
         TVRXVariant v;
         v.SetAsShortInt(-1);
         return v;
       },
       kCompareGreater},
      {"DATETIME by day", [dt] { return dt(2, 0); }, [dt] { return dt(1, 5); }, kCompareGreater},
      {"DATETIME by time", [dt] { return dt(1, 4); }, [dt] { return dt(1, 5); }, kCompareLess},
      {"DATE vs DATETIME",
       [] {
         TVRXVariant v;
         v.SetAsDate(1);
         return v;
       },
       [dt] { return dt(1, 0); }, kCompareEqual},
      {"LOGICAL", [lg] { return lg(false); }, [lg] { return lg(true); }, kCompareLess},
      {"MEMO vs MEMO",
       [] {
         TVRXVariant v;
         v.SetAsMemo("abc");
         return v;
       },
       [] {
         TVRXVariant v;
         v.SetAsMemo("abd");
         return v;
       },
       kCompareLess},
      {"CURRENCY vs INTEGER",
       [] {
         TVRXVariant v;
         v.SetAsCurrency(2.5);
         return v;
       },
       [] { return Int(2); }, kCompareEqual},  // the CURRENCY is read as INTEGER 2
      {"wide vs ANSI",
       [] {
         TVRXVariant v;
         v.SetAsWideString(u"b");
         return v;
       },
       [] { return Str("a"); }, kCompareGreater},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.left().Compare(c.right()), c.result) << c.what;

  TVRXVariant blob;
  blob.SetAsBlob("x");
  EXPECT_EQ(MessageOf([&] { blob.Compare(Int(1)); }),
            "Cannot compare Incompatible DataTypes: 'BLOB' and 'INTEGER' - Native error: 30044");
  EXPECT_EQ(MessageOf([&] { blob.Compare(blob); }),
            "Unknown DataType: 'BLOB' - Native error: 30047");
}

TEST_F(VariantTest, TextCompareUsesTheLocaleCollation) {
  auto cmp = [](std::string_view a, std::string_view b, bool ignoreCase) {
    return Str(a).Compare(Str(b), {.ignoreCase = ignoreCase});
  };
  // Not byte order: 'B' (0x42) sorts after 'a' (0x61).
  EXPECT_EQ(cmp("a", "B", false), kCompareLess);
  EXPECT_EQ(cmp("abc", "ABC", true), kCompareEqual);
  EXPECT_NE(cmp("abc", "ABC", false), kCompareEqual);
  EXPECT_NE(cmp("co-op", "coop", false), kCompareEqual);  // hyphen is not ignored
  // "ch" is a letter after "h" in Czech; "č" a letter after "c".
  EXPECT_EQ(cmp("chata", "hrad", false), TestLocaleIsCzech() ? kCompareGreater : kCompareLess);
  EXPECT_EQ(cmp("čaj", "cz", false), TestLocaleIsCzech() ? kCompareGreater : kCompareLess);
  TVRXVariant wide;
  wide.SetAsWideString(u"čaj");
  TVRXVariant wideCz;
  wideCz.SetAsWideString(u"cz");
  EXPECT_EQ(wide.Compare(wideCz),
            TestLocaleIsCzech() ? kCompareGreater : kCompareLess);
  // Partial: the shorter text as a prefix.
  EXPECT_EQ(Str("Nov").Compare(Str("Novák"), {.partial = true}), kCompareEqual);
  EXPECT_EQ(Str("Nov").Compare(Str("Novák")), kCompareLess);
  EXPECT_EQ(Str("nov").Compare(Str("Novák"), {.partial = true, .ignoreCase = true}), kCompareEqual);
  EXPECT_EQ(Str("Nox").Compare(Str("Novák"), {.partial = true}), kCompareGreater);
  // Partial with a non-text side compares whole values.
  EXPECT_EQ(Str("1").Compare(Int(10), {.partial = true}), kCompareLess);
}

// ---- arithmetic ----

TEST_F(VariantTest, AddNullRules) {
  TVRXVariant v = NullOf(B::Integer);
  v.Add(Int(5));
  EXPECT_EQ(v.GetAsInteger(), 5);
  v = Int(5);
  v.Add(NullOf(B::Integer));
  EXPECT_TRUE(v.IsNull());
  v = Str("ab");
  v.Add(NullOf(B::String));
  EXPECT_EQ(v.GetAsString(), "ab");
  v = Int(5);
  v.Multiply(NullOf(B::Integer));
  EXPECT_TRUE(v.IsNull());
  v = NullOf(B::Integer);
  v.Multiply(Int(5));
  EXPECT_TRUE(v.IsNull());
  v = NullOf(B::Integer);
  v.Divide(Int(5));
  EXPECT_TRUE(v.IsNull());
  v = NullOf(B::Integer);
  v.Negate();
  EXPECT_TRUE(v.IsNull());
}

TEST_F(VariantTest, ArithmeticResults) {
  auto of = [](B type, int64_t n) {
    TVRXVariant v;
    v.SetAsLargeInt(n);
    v.ChangeType(type);
    return v;
  };
  struct Case {
    const char* what;
    std::function<void(TVRXVariant&)> op;
    std::function<TVRXVariant()> left;
    B type;
    std::string text;  // GetAsString of the result, in the C-like numbers of en and cs
  };
  const Case cases[] = {
      {"SMALLINT + WORD", [&](TVRXVariant& v) { v.Add(of(B::Word, 3)); },
       [&] { return of(B::SmallInt, 5); }, B::Word, "8"},
      {"WORD + SMALLINT", [&](TVRXVariant& v) { v.Add(of(B::SmallInt, 3)); },
       [&] { return of(B::Word, 5); }, B::Integer, "8"},
      {"INTEGER at its limit", [](TVRXVariant& v) { v.Add(Int(1)); },
       [] { return Int(INT32_MAX - 1); }, B::Integer, "2147483647"},
      {"BYTE * BYTE at its limit", [&](TVRXVariant& v) { v.Multiply(of(B::Byte, 15)); },
       [&] { return of(B::Byte, 17); }, B::Byte, "255"},
      {"LARGEINT negative product", [&](TVRXVariant& v) { v.Multiply(of(B::LargeInt, -2)); },
       [&] { return of(B::LargeInt, INT64_MAX / 2); }, B::LargeInt, "-9223372036854775806"},
      {"text + number", [](TVRXVariant& v) { v.Add(Int(5)); }, [] { return Str("a"); }, B::String,
       "a5"},
      {"wide + ANSI", [](TVRXVariant& v) { v.Add(Str("č")); },
       [] {
         TVRXVariant w;
         w.SetAsWideString(u"ž");
         return w;
       },
       B::WideString, "žč"},
      {"DATE + INTEGER", [](TVRXVariant& v) { v.Add(Int(2)); },
       [] {
         TVRXVariant d;
         d.SetAsDate(730000);
         return d;
       },
       B::Date, ""},
      {"LOGICAL + LOGICAL is OR",
       [](TVRXVariant& v) {
         TVRXVariant t;
         t.SetAsLogical(true);
         v.Add(t);
       },
       [] {
         TVRXVariant f;
         f.SetAsLogical(false);
         return f;
       },
       B::Logical, "True"},
      {"LOGICAL * LOGICAL is OR",
       [](TVRXVariant& v) {
         TVRXVariant t;
         t.SetAsLogical(false);
         v.Multiply(t);
       },
       [] {
         TVRXVariant f;
         f.SetAsLogical(true);
         return f;
       },
       B::Logical, "True"},
      {"FLOAT * INTEGER", [](TVRXVariant& v) { v.Multiply(Int(3)); },
       [] {
         TVRXVariant f;
         f.SetAsFloat(-0.5);
         return f;
       },
       B::Float, ""},
      {"CURRENCY + INTEGER is INTEGER", [](TVRXVariant& v) { v.Add(Int(2)); },
       [] {
         TVRXVariant c;
         c.SetAsCurrency(1.5);
         return c;
       },
       B::Integer, "3"},
      {"INTEGER + CURRENCY is CURRENCY",
       [](TVRXVariant& v) {
         TVRXVariant c;
         c.SetAsCurrency(1.5);
         v.Add(c);
       },
       [] { return Int(2); }, B::Currency, ""},
      {"signed division truncates", [](TVRXVariant& v) { v.Divide(Int(2)); },
       [] { return Int(-7); }, B::Integer, "-3"},
      {"unsigned division", [&](TVRXVariant& v) { v.Divide(of(B::Cardinal, 2)); },
       [&] { return of(B::Cardinal, 4000000001); }, B::Cardinal, "2000000000"},
      {"Negate BYTE 255 takes a sign", [](TVRXVariant& v) { v.Negate(); },
       [&] { return of(B::Byte, 255); }, B::SmallInt, "-255"},
      {"Negate WORD 65535 takes a sign", [](TVRXVariant& v) { v.Negate(); },
       [&] { return of(B::Word, 65535); }, B::Integer, "-65535"},
      {"Negate CARDINAL 4294967295 takes a sign", [](TVRXVariant& v) { v.Negate(); },
       [&] { return of(B::Cardinal, 4294967295); }, B::LargeInt, "-4294967295"},
      {"Negate SHORTINT -127", [](TVRXVariant& v) { v.Negate(); },
       [&] { return of(B::ShortInt, -127); }, B::ShortInt, "127"},
      {"Negate true", [](TVRXVariant& v) { v.Negate(); },
       [] {
         TVRXVariant t;
         t.SetAsLogical(true);
         return t;
       },
       B::Logical, "False"},
      {"Negate LARGEINT", [](TVRXVariant& v) { v.Negate(); }, [&] { return of(B::LargeInt, 5); },
       B::LargeInt, "-5"},
  };
  for (const Case& c : cases) {
    TVRXVariant v = c.left();
    c.op(v);
    EXPECT_EQ(v.DataType(), c.type) << c.what;
    if (!c.text.empty()) {
      EXPECT_EQ(v.GetAsString(), c.text) << c.what;
    }
  }
  TVRXVariant d;
  d.SetAsDate(730000);
  d.Add(Int(2));
  EXPECT_EQ(d.GetAsDate(), 730002);
  d.Negate();
  EXPECT_EQ(d.GetAsDate(), -730002);
  TVRXVariant f;
  f.SetAsFloat(-0.5);
  f.Multiply(Int(3));
  EXPECT_EQ(f.GetAsFloat(), -1.5);
  f.Negate();
  EXPECT_EQ(f.GetAsFloat(), 1.5);
  TVRXVariant c = Int(2);
  TVRXVariant amount;
  amount.SetAsCurrency(1.5);
  c.Add(amount);
  EXPECT_EQ(c.GetAsCurrency(), 3.5);
  TVRXVariant e;
  e.SetAsExtended(1.0L + 0x1p-60L);
  e.Add(e);
  EXPECT_EQ(e.GetAsExtended(), 2.0L + 0x1p-59L);
}

// An integer result outside the common type is an error naming the
// operator, never a wrapped number; the sums and products next to each
// limit still compute (see ArithmeticResults).
TEST_F(VariantTest, IntegerOverflowIsAnError) {
  auto of = [](B type, int64_t n) {
    TVRXVariant v;
    v.SetAsLargeInt(n);
    v.ChangeType(type);
    return v;
  };
  auto date = [](int32_t day) {
    TVRXVariant d;
    d.SetAsDate(day);
    return d;
  };
  struct Case {
    const char* what;
    std::function<void()> op;
    const char* message;
  };
  const std::string plus = "Integer overflow in numeric operator '+' - Native error: 30065";
  const std::string times = "Integer overflow in numeric operator '*' - Native error: 30066";
  const std::string minus = "Integer overflow in numeric operator '-' - Native error: 30067";
  const Case cases[] = {
      {"INTEGER max + 1", [&] { Int(INT32_MAX).Add(Int(1)); }, plus.c_str()},
      {"INTEGER min + -1", [&] { Int(INT32_MIN).Add(Int(-1)); }, plus.c_str()},
      {"INTEGER * INTEGER", [&] { Int(65536).Multiply(Int(32768)); }, times.c_str()},
      {"INTEGER min * -1", [&] { Int(INT32_MIN).Multiply(Int(-1)); }, times.c_str()},
      {"SHORTINT + SHORTINT", [&] { of(B::ShortInt, 100).Add(of(B::ShortInt, 28)); },
       plus.c_str()},
      {"SMALLINT * SMALLINT", [&] { of(B::SmallInt, 200).Multiply(of(B::SmallInt, 200)); },
       times.c_str()},
      {"BYTE + BYTE", [&] { of(B::Byte, 200).Add(of(B::Byte, 56)); }, plus.c_str()},
      {"BYTE * BYTE", [&] { of(B::Byte, 16).Multiply(of(B::Byte, 16)); }, times.c_str()},
      {"WORD + WORD", [&] { of(B::Word, 65535).Add(of(B::Word, 1)); }, plus.c_str()},
      {"CARDINAL * CARDINAL beyond int64",
       [&] { of(B::Cardinal, 4294967295).Multiply(of(B::Cardinal, 4294967295)); }, times.c_str()},
      {"CARDINAL + CARDINAL", [&] { of(B::Cardinal, 4294967295).Add(of(B::Cardinal, 1)); },
       plus.c_str()},
      {"LARGEINT max + 1", [&] { of(B::LargeInt, INT64_MAX).Add(Int(1)); }, plus.c_str()},
      {"LARGEINT min * -1", [&] { of(B::LargeInt, INT64_MIN).Multiply(Int(-1)); },
       times.c_str()},
      {"Negate INTEGER min", [&] { Int(INT32_MIN).Negate(); }, minus.c_str()},
      {"Negate SHORTINT min", [&] { of(B::ShortInt, -128).Negate(); }, minus.c_str()},
      {"Negate LARGEINT min", [&] { of(B::LargeInt, INT64_MIN).Negate(); }, minus.c_str()},
      {"DATE + INTEGER", [&] { date(INT32_MAX - 1).Add(Int(2)); }, plus.c_str()},
      {"Negate DATE min", [&] { date(INT32_MIN).Negate(); }, minus.c_str()},
      {"DATETIME * DATETIME",
       [&] {
         TVRXVariant a;
         a.SetAsDateTime({100000, 1});
         TVRXVariant b;
         b.SetAsDateTime({100000, 1});
         a.Multiply(b);
       },
       times.c_str()},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf(c.op), c.message) << c.what;
}

TEST_F(VariantTest, DateTimeArithmeticCarriesDays) {
  TVRXVariant a;
  a.SetAsDateTime({10, 50000000});
  TVRXVariant b;
  b.SetAsDateTime({20, 40000000});
  a.Add(b);  // 90,000,000 ms: one day and 3,600,000 ms
  EXPECT_EQ(a.GetAsDateTime().Date, 31);
  EXPECT_EQ(a.GetAsDateTime().Time, 3600000);
  TVRXVariant t;
  t.SetAsTime(80000000);
  TVRXVariant u;
  u.SetAsTime(10000000);
  t.Add(u);  // TIME does not wrap
  EXPECT_EQ(t.GetAsTime(), 90000000);
  TVRXVariant m;
  m.SetAsDateTime({3, 50000000});
  TVRXVariant two;
  two.SetAsDateTime({2, 2});
  m.Multiply(two);  // 6 days, 100,000,000 ms: carry one day
  EXPECT_EQ(m.GetAsDateTime().Date, 7);
  EXPECT_EQ(m.GetAsDateTime().Time, 13600000);
  TVRXVariant q;
  q.SetAsDateTime({9, 9000});
  TVRXVariant three;
  three.SetAsDateTime({3, 3});
  q.Divide(three);
  EXPECT_EQ(q.GetAsDateTime().Date, 3);
  EXPECT_EQ(q.GetAsDateTime().Time, 3000);
}

TEST_F(VariantTest, ArithmeticErrors) {
  TVRXVariant v = Str("a");
  EXPECT_EQ(MessageOf([&] { v.Multiply(Int(2)); }),
            "Not numeric argument in numeric operator '*' - Native error: 30126");
  v = Str("a");
  EXPECT_EQ(MessageOf([&] { v.Divide(Int(2)); }),
            "Not numeric argument in numeric operator '/' - Native error: 30127");
  TVRXVariant blob;
  blob.SetAsBlob("x");
  EXPECT_EQ(MessageOf([&] { blob.Add(Int(1)); }),
            "Cannot cast from 'BLOB' to 'Unknown' - Native error: 30052");
  EXPECT_EQ(blob.GetAsBlob(), "x");
  v = Int(7);
  EXPECT_EQ(MessageOf([&] { v.Divide(Int(0)); }),
            "Division error: Division by zero - Native error: 30128");
  EXPECT_EQ(v.GetAsInteger(), 7);
  TVRXVariant big;
  big.SetAsLargeInt(INT64_MIN);
  TVRXVariant minusOne;
  minusOne.SetAsLargeInt(-1);
  EXPECT_EQ(MessageOf([&] { big.Divide(minusOne); }),
            "Division error: Integer overflow - Native error: 30128");
  TVRXVariant small;
  small.SetAsShortInt(-128);
  TVRXVariant m1;
  m1.SetAsShortInt(-1);
  EXPECT_EQ(small.DataType(), B::ShortInt);
  EXPECT_EQ(MessageOf([&] { small.Divide(m1); }),
            "Division error: Integer overflow - Native error: 30128");
  TVRXVariant f;
  f.SetAsFloat(1);
  TVRXVariant zero;
  zero.SetAsFloat(0);
  EXPECT_EQ(MessageOf([&] { f.Divide(zero); }),
            "Division error: Floating point division by zero - Native error: 30128");
  TVRXVariant midnight;
  midnight.SetAsDateTime({5, 0});
  TVRXVariant day;
  day.SetAsDateTime({5, 0});
  EXPECT_EQ(MessageOf([&] { midnight.Divide(day); }),
            "Division error: Division by zero - Native error: 30128");
  TVRXVariant time;
  time.SetAsTime(5);
  EXPECT_EQ(MessageOf([&] { time.Negate(); }),
            "Cannot invert value with not numeric type 'TIME' - Native error: 30123");
  EXPECT_EQ(MessageOf([&] {
              v = Str("x");
              v.Negate();
            }),
            "Cannot invert value with not numeric type 'STRING' - Native error: 30123");
  TVRXVariant d;
  d.SetAsDate(3);
  TVRXVariant lg;
  lg.SetAsLogical(true);
  EXPECT_EQ(MessageOf([&] { d.Add(lg); }),
            "Cannot cast from 'DATE' to 'Unknown' - Native error: 30052");
  // A SMALLINT below zero has no WORD form: the sum is refused, not wrapped.
  TVRXVariant negative;
  negative.SetAsSmallInt(-5);
  TVRXVariant word;
  word.SetAsWord(3);
  EXPECT_EQ(MessageOf([&] { negative.Add(word); }),
            "Cannot cast from 'SMALLINT' to 'WORD' - Native error: 30051");
}

// ---- value stream form ----

std::vector<uint8_t> Saved(const TVRXVariant& v) {
  TVRXMemoryStream stream;
  v.SaveToStream(stream);
  const auto* b = static_cast<const uint8_t*>(stream.Memory());
  return {b, b + stream.GetSize()};
}

void LoadBytes(TVRXVariant& v, const std::vector<uint8_t>& bytes) {
  TVRXMemoryStream stream;
  if (!bytes.empty()) stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.SetPosition(0);
  v.LoadFromStream(stream);
}

TEST_F(VariantTest, StreamFormGoldenBytes) {
  EXPECT_EQ(Saved(Int(7)), (std::vector<uint8_t>{7, 0, 4, 0, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ(Saved(NullOf(B::Date)), (std::vector<uint8_t>{15, 255}));
  EXPECT_EQ(Saved(Str("ab")), (std::vector<uint8_t>{3, 0, 3, 0, 0, 0, 'a', 'b', 0}));
  EXPECT_EQ(Saved(TVRXVariant()), (std::vector<uint8_t>{0, 255}));
}

TEST_F(VariantTest, StreamRoundTrip) {
  std::vector<TVRXVariant> values;
  values.push_back(Int(-3));
  values.push_back(Str("Žluťoučký"));
  values.push_back(NullOf(B::Currency));
  TVRXVariant dt;
  dt.SetAsDateTime({730000, 1234});
  values.push_back(dt);
  TVRXVariant e;
  e.SetAsExtended(1.0L / 3);
  values.push_back(e);
  TVRXVariant blob;
  blob.SetAsBlob(std::string("\0\1\2", 3));
  values.push_back(blob);
  TVRXMemoryStream stream;
  for (const TVRXVariant& v : values) v.SaveToStream(stream);
  stream.SetPosition(0);
  for (const TVRXVariant& expected : values) {
    TVRXVariant loaded = Str("old content");
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.DataType(), expected.DataType());
    EXPECT_EQ(loaded.IsNull(), expected.IsNull());
    if (!expected.IsNull()) {
      EXPECT_EQ(BytesOf(loaded), BytesOf(expected));
      EXPECT_FALSE(loaded.Borrowed());
    }
  }
}

std::string ReadError(int position, int size, int block, int read, int code) {
  return "Cannot read from stream. Position = " + std::to_string(position) +
         ", Stream size = " + std::to_string(size) + ", Block size = " + std::to_string(block) +
         ", Bytes Read = " + std::to_string(read) + " - Native error: " + std::to_string(code);
}

TEST_F(VariantTest, StreamLoadFailures) {
  TVRXVariant v = Int(1);
  EXPECT_EQ(MessageOf([&] { LoadBytes(v, {}); }), ReadError(0, 0, 1, 0, 10183));
  EXPECT_TRUE(v.IsNull());  // loading clears first
  EXPECT_EQ(MessageOf([&] { LoadBytes(v, {7}); }), ReadError(1, 1, 1, 0, 10184));
  EXPECT_EQ(MessageOf([&] { LoadBytes(v, {7, 0, 4, 0}); }), ReadError(2, 4, 4, 2, 10185));
  // The data is shorter than the size says.
  EXPECT_EQ(MessageOf([&] {
              LoadBytes(v, {7, 0, 4, 0, 0, 0, 1, 2});
            }),
            ReadError(6, 8, 4, 0, 10186));
  // A size of 2 GB is refused before anything is allocated.
  EXPECT_EQ(MessageOf([&] {
              LoadBytes(v, {24, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1});
            }),
            ReadError(6, 7, INT32_MAX, 0, 10186));
  // Sizes that cannot hold the type.
  EXPECT_EQ(MessageOf([&] {
              LoadBytes(v, {7, 0, 2, 0, 0, 0, 1, 2});
            }),
            ReadError(6, 8, 2, 0, 10185));
  EXPECT_EQ(MessageOf([&] { LoadBytes(v, {3, 0, 0, 0, 0, 0}); }), ReadError(6, 6, 0, 0, 10185));
  EXPECT_EQ(MessageOf([&] {
              LoadBytes(v, {3, 0, 0xFF, 0xFF, 0xFF, 0xFF});
            }),
            ReadError(6, 6, -1, 0, 10185));
  EXPECT_EQ(MessageOf([&] {
              LoadBytes(v, {4, 0, 3, 0, 0, 0, 'a', 0, 0});
            }),
            ReadError(6, 9, 3, 0, 10185));
}

// ---- platform variants ----

TEST_F(VariantTest, FromPlatformVariant) {
  struct Case {
    TVRXPlatformVariant in;
    B type;
    std::string text;
  };
  const Case cases[] = {
      {TVRXPlatformVariant::Smallint(-2), B::SmallInt, "-2"},
      {TVRXPlatformVariant::Integer(70000), B::Integer, "70000"},
      {TVRXPlatformVariant::Single(0.5f), B::Single, ""},
      {TVRXPlatformVariant::Double(2.5), B::Float, ""},
      {TVRXPlatformVariant::Currency(3.25), B::Currency, ""},
      {TVRXPlatformVariant::Date(1.5), B::DateTime, ""},
      {TVRXPlatformVariant::OleStr(u"žába"), B::WideString, "žába"},
      {TVRXPlatformVariant::Boolean(true), B::Logical, "True"},
      {TVRXPlatformVariant::ShortInt(-8), B::ShortInt, "-8"},
      {TVRXPlatformVariant::Byte(200), B::Byte, "200"},
      {TVRXPlatformVariant::Word(60000), B::Word, "60000"},
      {TVRXPlatformVariant::LongWord(4000000000u), B::Cardinal, "4000000000"},
      {TVRXPlatformVariant::Int64(INT64_MAX), B::LargeInt, "9223372036854775807"},
      {TVRXPlatformVariant::String("abc"), B::String, "abc"},
  };
  for (const Case& c : cases) {
    TVRXVariant v;
    v.FromPlatformVariant(c.in);
    EXPECT_EQ(v.DataType(), c.type) << static_cast<int>(c.in.Kind());
    if (!c.text.empty()) {
      EXPECT_EQ(v.GetAsString(), c.text);
    }
    // And back to the same variant, where the kinds correspond one to one.
    if (c.type != B::Single && c.type != B::Float && c.type != B::Currency) {
      EXPECT_EQ(v.ToPlatformVariant(), c.in) << static_cast<int>(c.in.Kind());
    }
  }
  // A typed value converts what it is given into its own type.
  TVRXVariant typed(B::Integer);
  typed.FromPlatformVariant(TVRXPlatformVariant::String("12"));
  EXPECT_EQ(typed.GetAsInteger(), 12);
  typed.FromPlatformVariant(TVRXPlatformVariant());
  EXPECT_TRUE(typed.IsNull());
  EXPECT_EQ(typed.DataType(), B::Integer);
  typed.FromPlatformVariant(TVRXPlatformVariant::Null());
  EXPECT_TRUE(typed.IsNull());
  EXPECT_EQ(MessageOf([&] { typed.FromPlatformVariant(TVRXPlatformVariant::OfKind(9)); }),
            "Unsupported Variant Type 9 - Native error: 30113");
  // A numeric kind without its payload is refused the same way.
  EXPECT_EQ(MessageOf([&] { typed.FromPlatformVariant(TVRXPlatformVariant::OfKind(3)); }),
            "Unsupported Variant Type 3 - Native error: 30113");
}

TEST_F(VariantTest, ToPlatformVariant) {
  EXPECT_EQ(NullOf(B::Integer).ToPlatformVariant(), TVRXPlatformVariant::Null());
  TVRXVariant d;
  d.SetAsDate(693596);
  EXPECT_EQ(d.ToPlatformVariant(), TVRXPlatformVariant::Double(2.0));
  TVRXVariant t;
  t.SetAsTime(21600000);
  EXPECT_EQ(t.ToPlatformVariant(), TVRXPlatformVariant::Double(0.25));
  TVRXVariant dt;
  dt.SetAsDateTime({693595, 43200000});
  EXPECT_EQ(dt.ToPlatformVariant(), TVRXPlatformVariant::Date(1.5));
  TVRXVariant e;
  e.SetAsExtended(0.75L);
  EXPECT_EQ(e.ToPlatformVariant(), TVRXPlatformVariant::Double(0.75));
  TVRXVariant c;
  c.SetAsCurrency(3.25);
  EXPECT_EQ(c.ToPlatformVariant(), TVRXPlatformVariant::Double(3.25));
  TVRXVariant memo;
  memo.SetAsMemo("long");
  EXPECT_EQ(memo.ToPlatformVariant(), TVRXPlatformVariant::String("long"));
  TVRXVariant blob;
  blob.SetAsBlob("bytes");
  EXPECT_EQ(blob.ToPlatformVariant(), TVRXPlatformVariant::String("bytes"));
  TVRXVariant bytes;
  const uint8_t raw[3] = {1, 2, 3};
  bytes.SetData(raw, 3, true, B::Bytes);
  EXPECT_EQ(MessageOf([&] { bytes.ToPlatformVariant(); }),
            "Unsupported Variant Type BYTES - Native error: 30114");
}

}  // namespace
}  // namespace vrx
