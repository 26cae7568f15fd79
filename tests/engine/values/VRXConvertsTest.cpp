// ConvertValue in every direction the conversion table allows, the pairs it
// refuses, data that does not convert (overflow included), and the number
// texts. Runs in English and in Czech: the decimal separator and the date
// formats differ, "." parsing of floating numbers does not.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "engine/values/VRXConverts.h"
#include "engine/values/VRXDateFormat.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/values/VRXValueBytes.h"
#include "engine/values/VRXVariant.h"
#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"
#include "tests/support/LocaleForTest.h"

namespace vrx {
namespace {

using B = TVRXBaseFieldType;
using pelvaro::test::TestLocaleIsCzech;

// A locale-independent rendering of a converted buffer, so that expected
// results can be written as plain text.
std::string Render(const TVRXConvertedValue& v, B type) {
  const void* p = v.Data.get();
  if (IsWideTextType(type)) return "w:" + Utf16ToUtf8(WideTextOf(p, v.Size));
  if (IsTextType(type)) return std::string(AnsiTextOf(p, v.Size, type));
  if (IsIntegerType(type)) return std::to_string(bytes::LoadIntegerOf(type, p));
  if (IsFloatType(type) || type == B::Currency) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, bytes::LoadNumberOf(type, p));
    return std::string(buffer, r.ptr);
  }
  if (type == B::Date || type == B::Time) return std::to_string(bytes::LoadI32(p));
  if (type == B::DateTime) {
    const TVRXDateTimeValue dt = bytes::LoadDateTime(p);
    return std::to_string(dt.Date) + "/" + std::to_string(dt.Time);
  }
  if (type == B::Logical) return bytes::LoadLogical(p) ? "true" : "false";
  if (type == B::Blob) return "blob:" + std::to_string(v.Size);
  return "?";
}

// The value as ConvertValue sees it.
struct Src {
  TVRXVariant value;
};

Src Text(std::string_view text, B type = B::String) {
  Src s;
  const TVRXConvertedValue buffer = MakeTextBuffer(text, type);
  s.value.SetData(buffer.Data.get(), buffer.Size, true, type);
  return s;
}
Src Memo(std::string_view text) {
  Src s;
  s.value.SetAsMemo(text);
  return s;
}
template <typename Setter>
Src Make(Setter set) {
  Src s;
  set(s.value);
  return s;
}

struct Case {
  const char* what;
  std::function<Src()> source;
  B to;
  std::string expected;  // Render of the result
  int32_t error = 0;     // native error expected instead
};

std::string Run(const Case& c, int32_t& error) {
  const Src s = c.source();
  error = 0;
  try {
    const TVRXConvertedValue v =
        ConvertValue(s.value.Data(), s.value.DataSize(), s.value.DataType(), c.to);
    return Render(v, c.to);
  } catch (const EVRXException& e) {
    error = e.NativeError();
    return e.Message();
  }
}

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    int32_t error = 0;
    const std::string result = Run(c, error);
    if (c.error != 0)
      EXPECT_EQ(error, c.error) << c.what << " gave " << result;
    else
      EXPECT_EQ(result, c.expected) << c.what;
  }
}

const int32_t kDay20040305 = EncodeDayNumber(2004, 3, 5);

TEST(ConvertValue, TextToNumbers) {
  RunCases({
      {"'300' to INTEGER", [] { return Text("300"); }, B::Integer, "300"},
      {"'  -42' to SMALLINT", [] { return Text("  -42"); }, B::SmallInt, "-42"},
      {"'+7' to BYTE", [] { return Text("+7"); }, B::Byte, "7"},
      {"'$FF' to WORD", [] { return Text("$FF"); }, B::Word, "255"},
      {"'0x10' to INTEGER", [] { return Text("0x10"); }, B::Integer, "16"},
      {"'-x10' to INTEGER", [] { return Text("-x10"); }, B::Integer, "-16"},
      {"'4294967295' to CARDINAL", [] { return Text("4294967295"); }, B::Cardinal, "4294967295"},
      {"'9223372036854775807' to LARGEINT", [] { return Text("9223372036854775807"); }, B::LargeInt,
       "9223372036854775807"},
      {"'-9223372036854775808' to LARGEINT", [] { return Text("-9223372036854775808"); },
       B::LargeInt, "-9223372036854775808"},
      {"wide '12' to INTEGER", [] { return Text("12", B::WideString); }, B::Integer, "12"},
      {"MEMO '5000000000' to LARGEINT", [] { return Memo("5000000000"); }, B::LargeInt,
       "5000000000"},
      // Data that is no number of the target type.
      {"'300' to SHORTINT", [] { return Text("300"); }, B::ShortInt, "", 30051},
      {"'-1' to CARDINAL", [] { return Text("-1"); }, B::Cardinal, "", 30051},
      {"'9223372036854775808' to LARGEINT", [] { return Text("9223372036854775808"); }, B::LargeInt,
       "", 30051},
      {"'3000000000' to INTEGER", [] { return Text("3000000000"); }, B::Integer, "", 30051},
      {"'12a' to INTEGER", [] { return Text("12a"); }, B::Integer, "", 30051},
      {"'12 ' to INTEGER", [] { return Text("12 "); }, B::Integer, "", 30051},
      {"'--1' to INTEGER", [] { return Text("--1"); }, B::Integer, "", 30051},
      {"'' to INTEGER", [] { return Text(""); }, B::Integer, "", 30051},
      {"'1.5' to INTEGER", [] { return Text("1.5"); }, B::Integer, "", 30051},
      // Floating texts read "." whatever the locale.
      {"'1.5' to FLOAT", [] { return Text("1.5"); }, B::Float, "1.5"},
      {"' -2.5e3 ' to FLOAT", [] { return Text(" -2.5e3 "); }, B::Float, "-2500"},
      {"'.5' to SINGLE", [] { return Text(".5"); }, B::Single, "0.5"},
      {"'1.1' to EXTENDED", [] { return Text("1.1"); }, B::Extended, "1.1"},
      {"'7' to FLOAT", [] { return Text("7"); }, B::Float, "7"},
      {"'1e-400' to FLOAT", [] { return Text("1e-400"); }, B::Float, "0"},
      {"'1,5' to FLOAT", [] { return Text("1,5"); }, B::Float, "", 30051},
      {"'1e400' to FLOAT", [] { return Text("1e400"); }, B::Float, "", 30051},
      {"'1e39' to SINGLE", [] { return Text("1e39"); }, B::Single, "", 30051},
      {"'inf' to FLOAT", [] { return Text("inf"); }, B::Float, "", 30051},
      {"'nan' to FLOAT", [] { return Text("nan"); }, B::Float, "", 30051},
      {"'0x1p3' to FLOAT", [] { return Text("0x1p3"); }, B::Float, "", 30051},
      {"'1e' to FLOAT", [] { return Text("1e"); }, B::Float, "", 30051},
      {"'.' to FLOAT", [] { return Text("."); }, B::Float, "", 30051},
  });
}

TEST(ConvertValue, TextToCurrencyUsesTheLocaleSeparator) {
  if (TestLocaleIsCzech()) {
    RunCases({
        {"'1,5' to CURRENCY", [] { return Text("1,5"); }, B::Currency, "1.5"},
        {"'1.5' to CURRENCY", [] { return Text("1.5"); }, B::Currency, "", 30051},
    });
  } else {
    RunCases({
        {"'1.5' to CURRENCY", [] { return Text("1.5"); }, B::Currency, "1.5"},
        {"'1,5' to CURRENCY", [] { return Text("1,5"); }, B::Currency, "", 30051},
    });
  }
  RunCases({{"'12' to CURRENCY", [] { return Text("12"); }, B::Currency, "12"},
            {"'x' to CURRENCY", [] { return Text("x"); }, B::Currency, "", 30051}});
}

TEST(ConvertValue, TextToLogical) {
  RunCases({
      {"'1'", [] { return Text("1"); }, B::Logical, "true"},
      {"'true'", [] { return Text("true"); }, B::Logical, "true"},
      {"'TRUE'", [] { return Text("TRUE"); }, B::Logical, "true"},
      {"wide 'True'", [] { return Text("True", B::WideChar); }, B::Logical, "true"},
      {"'yes'", [] { return Text("yes"); }, B::Logical, "false"},
      {"'0'", [] { return Text("0"); }, B::Logical, "false"},
      {"' true'", [] { return Text(" true"); }, B::Logical, "false"},
      {"MEMO 'TRUE'", [] { return Memo("TRUE"); }, B::Logical, "true"},
  });
}

TEST(ConvertValue, TextToDatesInTheUserFormat) {
  const std::string date = TestLocaleIsCzech() ? "5.3.2004" : "3/5/2004";
  const std::string day = std::to_string(kDay20040305);
  RunCases({
      {"date text to DATE", [date] { return Text(date); }, B::Date, day},
      {"date and time to DATETIME", [date] { return Text(date + " 7:45:30"); }, B::DateTime,
       day + "/27930000"},
      {"time text to TIME", [] { return Text("07:45:30"); }, B::Time, "27930000"},
      {"time alone to DATETIME", [] { return Text("07:45"); }, B::DateTime, "693594/27900000"},
      {"'abc' to DATE", [] { return Text("abc"); }, B::Date, "", 30051},
      {"'31.31.2004' to DATE", [] { return Text("31/31/2004"); }, B::Date, "", 30051},
      {"'25:00' to TIME", [] { return Text("25:00"); }, B::Time, "", 30051},
  });
}

TEST(ConvertValue, DatesRoundTripThroughText) {
  for (const TVRXDateTimeValue dt :
       {TVRXDateTimeValue{kDay20040305, 0}, TVRXDateTimeValue{kDay20040305, 45296000},
        TVRXDateTimeValue{EncodeDayNumber(1999, 12, 31), 86399000}}) {
    TVRXVariant v;
    v.SetAsDateTime(dt);
    TVRXVariant text(B::String);
    text.SetAsString(v.GetAsString());
    text.ChangeType(B::DateTime);
    EXPECT_EQ(text.GetAsDateTime().Date, dt.Date) << v.GetAsString();
    EXPECT_EQ(text.GetAsDateTime().Time, dt.Time) << v.GetAsString();
  }
  TVRXVariant date;
  date.SetAsDate(kDay20040305);
  TVRXVariant back(B::Date);
  back.SetAsString(date.GetAsString());
  EXPECT_EQ(back.GetAsDate(), kDay20040305);
  EXPECT_EQ(date.GetAsString(), DateToText(kDay20040305));
}

TEST(ConvertValue, NumbersToText) {
  const std::string sep = locale::DecimalSeparator();
  RunCases({
      {"INTEGER -12", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(-12); }); }, B::String,
       "-12"},
      {"CARDINAL max", [] { return Make([](TVRXVariant& v) { v.SetAsCardinal(4294967295u); }); },
       B::Char, "4294967295"},
      {"LARGEINT min", [] { return Make([](TVRXVariant& v) { v.SetAsLargeInt(INT64_MIN); }); },
       B::String, "-9223372036854775808"},
      {"BYTE to wide", [] { return Make([](TVRXVariant& v) { v.SetAsByte(200); }); }, B::WideString,
       "w:200"},
      {"FLOAT 1.5", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1.5); }); }, B::String,
       "1" + sep + "5"},
      {"FLOAT 100", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(100); }); }, B::String,
       "100"},
      {"FLOAT 1/3", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1.0 / 3); }); }, B::String,
       "0" + sep + "333333333333333"},
      {"FLOAT 0.0001", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(0.0001); }); }, B::String,
       "0" + sep + "0001"},
      {"FLOAT 1.5e-7", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1.5e-7); }); }, B::String,
       "1" + sep + "5E-7"},
      {"FLOAT 1e20", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1e20); }); }, B::String,
       "1E20"},
      {"FLOAT 123456789012345",
       [] { return Make([](TVRXVariant& v) { v.SetAsFloat(123456789012345.0); }); }, B::String,
       "123456789012345"},
      {"FLOAT 1234567890123456",
       [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1234567890123456.0); }); }, B::String,
       "1" + sep + "23456789012346E15"},
      {"FLOAT -0.5", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(-0.5); }); }, B::String,
       "-0" + sep + "5"},
      {"SINGLE 0.1", [] { return Make([](TVRXVariant& v) { v.SetAsSingle(0.1f); }); }, B::String,
       "0" + sep + "100000001490116"},
      {"EXTENDED 2.25", [] { return Make([](TVRXVariant& v) { v.SetAsExtended(2.25L); }); },
       B::String, "2" + sep + "25"},
      {"CURRENCY 1.23456", [] { return Make([](TVRXVariant& v) { v.SetAsCurrency(1.23456); }); },
       B::String, "1" + sep + "2346"},
      {"CURRENCY -2.5", [] { return Make([](TVRXVariant& v) { v.SetAsCurrency(-2.5); }); },
       B::String, "-2" + sep + "5"},
      {"CURRENCY 3", [] { return Make([](TVRXVariant& v) { v.SetAsCurrency(3); }); }, B::String,
       "3"},
      {"LOGICAL true", [] { return Make([](TVRXVariant& v) { v.SetAsLogical(true); }); }, B::String,
       "True"},
      {"LOGICAL false", [] { return Make([](TVRXVariant& v) { v.SetAsLogical(false); }); },
       B::WideChar, "w:False"},
  });
}

TEST(ConvertValue, DatesToTextAndNumbers) {
  RunCases({
      {"EmptyDate to text", [] { return Make([](TVRXVariant& v) { v.SetAsDate(EmptyDate); }); },
       B::String, ""},
      {"TIME 0 to text", [] { return Make([](TVRXVariant& v) { v.SetAsTime(0); }); }, B::String,
       ""},
      {"empty DATETIME to text",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({EmptyDate, 0});
            }); }, B::String, ""},
      {"TIME past the day to text",
       [] { return Make([](TVRXVariant& v) { v.SetAsTime(kMillisecondsPerDay); }); }, B::String, "",
       30051},
      {"DATETIME to FLOAT",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({693595, 43200000});
            }); }, B::Float,
       "693595.5"},
      {"DATETIME without date to FLOAT",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({EmptyDate, 5});
            }); }, B::Float, "0"},
      {"DATETIME to CURRENCY",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({10, 21600000});
            }); }, B::Currency,
       "10.25"},
      {"DATETIME to INTEGER",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({693595, 43200000});
            }); }, B::Integer,
       "693595"},
      {"DATETIME to SMALLINT",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({693595, 0});
            }); }, B::SmallInt, "",
       30051},
      {"DATE to LARGEINT", [] { return Make([](TVRXVariant& v) { v.SetAsDate(730000); }); },
       B::LargeInt, "730000"},
      {"DATE to TIME", [] { return Make([](TVRXVariant& v) { v.SetAsDate(86400005); }); }, B::Time,
       "5"},
      {"DATE to DATETIME", [] { return Make([](TVRXVariant& v) { v.SetAsDate(730000); }); },
       B::DateTime, "730000/0"},
      {"TIME to DATE", [] { return Make([](TVRXVariant& v) { v.SetAsTime(1234); }); }, B::Date,
       "1234"},
      {"TIME to DATETIME", [] { return Make([](TVRXVariant& v) { v.SetAsTime(1234); }); },
       B::DateTime, std::to_string(EmptyDate) + "/1234"},
      {"DATETIME to DATE", [] { return Make([](TVRXVariant& v) {
                                  v.SetAsDateTime({7, 8});
                                }); },
       B::Date, "7"},
      {"DATETIME to TIME", [] { return Make([](TVRXVariant& v) {
                                  v.SetAsDateTime({7, 8});
                                }); },
       B::Time, "8"},
      {"EmptyDate to LOGICAL", [] { return Make([](TVRXVariant& v) { v.SetAsDate(EmptyDate); }); },
       B::Logical, "false"},
      {"DATE to LOGICAL", [] { return Make([](TVRXVariant& v) { v.SetAsDate(0); }); }, B::Logical,
       "true"},
      {"TIME 0 to LOGICAL", [] { return Make([](TVRXVariant& v) { v.SetAsTime(0); }); }, B::Logical,
       "false"},
      {"DATETIME no date, 1 ms, to LOGICAL",
       [] { return Make([](TVRXVariant& v) {
              v.SetAsDateTime({EmptyDate, 1});
            }); }, B::Logical,
       "true"},
  });
  // DATE to text is the user's short date.
  TVRXVariant d;
  d.SetAsDate(kDay20040305);
  EXPECT_NE(d.GetAsString().find("2004"), std::string::npos) << d.GetAsString();
}

TEST(ConvertValue, NumbersToNumbersAndDates) {
  RunCases({
      {"SMALLINT -5 to LARGEINT", [] { return Make([](TVRXVariant& v) { v.SetAsSmallInt(-5); }); },
       B::LargeInt, "-5"},
      {"WORD to CARDINAL", [] { return Make([](TVRXVariant& v) { v.SetAsWord(65535); }); },
       B::Cardinal, "65535"},
      {"INTEGER 127 to SHORTINT", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(127); }); },
       B::ShortInt, "127"},
      {"INTEGER 300 to SHORTINT", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(300); }); },
       B::ShortInt, "", 30051},
      {"SHORTINT -1 to BYTE", [] { return Make([](TVRXVariant& v) { v.SetAsShortInt(-1); }); },
       B::Byte, "", 30051},
      {"CARDINAL max to INTEGER",
       [] { return Make([](TVRXVariant& v) { v.SetAsCardinal(4294967295u); }); }, B::Integer, "",
       30051},
      {"FLOAT -3.9 to INTEGER", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(-3.9); }); },
       B::Integer, "-3"},
      {"FLOAT 1e10 to INTEGER", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1e10); }); },
       B::Integer, "", 30051},
      {"FLOAT 1e19 to LARGEINT", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1e19); }); },
       B::LargeInt, "", 30051},
      {"FLOAT NaN to INTEGER",
       [] { return Make([](TVRXVariant& v) { v.SetAsFloat(std::nan("")); }); }, B::Integer, "",
       30051},
      {"FLOAT 1e300 to SINGLE", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(1e300); }); },
       B::Single, "", 30051},
      {"FLOAT 2.5 to EXTENDED", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(2.5); }); },
       B::Extended, "2.5"},
      {"INTEGER to FLOAT", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(-7); }); },
       B::Float, "-7"},
      {"LARGEINT to CURRENCY", [] { return Make([](TVRXVariant& v) { v.SetAsLargeInt(12); }); },
       B::Currency, "12"},
      {"CURRENCY 2.75 to INTEGER",
       [] { return Make([](TVRXVariant& v) { v.SetAsCurrency(2.75); }); }, B::Integer, "2"},
      {"CURRENCY to FLOAT", [] { return Make([](TVRXVariant& v) { v.SetAsCurrency(2.75); }); },
       B::Float, "2.75"},
      {"CURRENCY 0 to LOGICAL", [] { return Make([](TVRXVariant& v) { v.SetAsCurrency(0); }); },
       B::Logical, "false"},
      {"INTEGER to DATE", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(730000); }); },
       B::Date, "730000"},
      {"INTEGER to TIME", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(1000); }); },
       B::Time, "1000"},
      {"LARGEINT beyond int32 to DATE",
       [] { return Make([](TVRXVariant& v) { v.SetAsLargeInt(int64_t{1} << 40); }); }, B::Date, "",
       30051},
      {"FLOAT to DATETIME", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(693595.25); }); },
       B::DateTime, "693595/21600000"},
      {"FLOAT to DATE", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(693595.75); }); },
       B::Date, "693595"},
      {"FLOAT to TIME", [] { return Make([](TVRXVariant& v) { v.SetAsFloat(86400001.7); }); },
       B::Time, "1"},
      {"INTEGER 0 to LOGICAL", [] { return Make([](TVRXVariant& v) { v.SetAsInteger(0); }); },
       B::Logical, "false"},
      {"SINGLE -0.5 to LOGICAL", [] { return Make([](TVRXVariant& v) { v.SetAsSingle(-0.5f); }); },
       B::Logical, "true"},
      {"LOGICAL to WORD", [] { return Make([](TVRXVariant& v) { v.SetAsLogical(true); }); },
       B::Word, "1"},
      {"LOGICAL to FLOAT", [] { return Make([](TVRXVariant& v) { v.SetAsLogical(false); }); },
       B::Float, "0"},
  });
}

TEST(ConvertValue, TextsBetweenThemselvesAndToBlob) {
  const std::string czech = "Žluťoučký kůň";
  RunCases({
      {"STRING to WIDESTRING", [czech] { return Text(czech); }, B::WideString, "w:" + czech},
      {"WIDECHAR to CHAR", [czech] { return Text(czech, B::WideChar); }, B::Char, czech},
      {"CHAR to STRING", [] { return Text("abc", B::Char); }, B::String, "abc"},
      {"MEMO to STRING", [] { return Memo("abc"); }, B::String, "abc"},
      {"MEMO to WIDECHAR", [czech] { return Memo(czech); }, B::WideChar, "w:" + czech},
      {"STRING to BLOB", [] { return Text("ab"); }, B::Blob, "blob:3"},
      {"WIDESTRING to BLOB", [] { return Text("ab", B::WideString); }, B::Blob, "blob:6"},
      {"MEMO to BLOB", [] { return Memo("abcd"); }, B::Blob, "blob:5"},
  });
  // The BLOB holds the text bytes and their terminator.
  const Src s = Text("ab");
  const TVRXConvertedValue blob =
      ConvertValue(s.value.Data(), s.value.DataSize(), B::String, B::Blob);
  EXPECT_EQ(std::memcmp(blob.Data.get(), "ab\0", 3), 0);
  // A text read from a fixed-size field ends at its first terminator.
  const char field[8] = {'a', 'b', 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Render(ConvertValue(field, 8, B::Char, B::WideString), B::WideString), "w:ab");
}

TEST(ConvertValue, RefusedPairs) {
  const B everyType[] = {B::Char,     B::WideChar, B::String,   B::WideString, B::ShortInt,
                         B::SmallInt, B::Integer,  B::LargeInt, B::Byte,       B::Word,
                         B::Cardinal, B::Single,   B::Float,    B::Extended,   B::Date,
                         B::Time,     B::DateTime, B::Blob,     B::Memo,       B::WideMemo,
                         B::Logical,  B::Currency, B::Bytes,    B::VarBytes};
  auto refused = [](B from, B to) {
    if (from == to) return false;
    if (to == B::Memo || to == B::WideMemo || to == B::Bytes || to == B::VarBytes) return true;
    if (from == B::Blob || from == B::WideMemo || from == B::Bytes || from == B::VarBytes)
      return true;
    if (to == B::Blob) return !(IsTextType(from) || from == B::Memo);
    if (from == B::Logical) return IsDateTimeType(to) || to == B::Currency;
    if (from == B::Currency) return IsDateTimeType(to);
    return false;
  };
  for (B from : everyType)
    for (B to : everyType)
      EXPECT_EQ(CanConvert(from, to), !refused(from, to))
          << BaseTypeName(from) << " to " << BaseTypeName(to);
  const uint8_t bytes4[4] = {1, 2, 3, 4};
  try {
    ConvertValue(bytes4, 4, B::Blob, B::Integer);
    ADD_FAILURE() << "BLOB converted";
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(), "Cannot cast from 'BLOB' to 'INTEGER' - Native error: 30052");
  }
  try {
    ConvertValue(bytes4, 4, B::Integer, B::Unknown);
    ADD_FAILURE() << "converted to no type";
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(), "Cannot cast from 'INTEGER' to 'Unknown' - Native error: 30052");
  }
  const TVRXConvertedValue big = MakeTextBuffer(std::string_view("300"), B::String);
  try {
    ConvertValue(big.Data.get(), big.Size, B::String, B::ShortInt);
    ADD_FAILURE() << "'300' fits a SHORTINT";
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(), "Cannot cast from 'STRING' to 'SHORTINT' - Native error: 30051");
  }
}

TEST(ConvertValue, MalformedSources) {
  const uint8_t two[2] = {1, 0};
  try {
    ConvertValue(two, 2, B::Integer, B::String);
    ADD_FAILURE() << "2 bytes read as INTEGER";
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(), "Buffer size exceeded - Native error: 20056");
  }
  EXPECT_THROW(ConvertValue(two, 1, B::WideString, B::String), EVRXException);
  EXPECT_THROW(ConvertValue(two, 0, B::String, B::Integer), EVRXException);
  try {
    ConvertValue(nullptr, 4, B::Integer, B::String);
    ADD_FAILURE() << "no data converted";
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.NativeError(), 30016);
  }
}

TEST(ConvertValue, TextCutToAFieldLengthKeepsWholeCharacters) {
  struct Case {
    std::string text;
    B to;
    int32_t length;
    std::string expected;
  };
  const Case cases[] = {
      {"abcdef", B::String, 4, "abcd"},  {"abc", B::Char, 10, "abc"},
      {"ač", B::String, 2, "a"},  // "č" is two bytes: not split
      {"ač", B::String, 3, "ač"},        {"žžž", B::Char, 5, "žž"},
      {"a😀b", B::WideString, 2, "w:a"},  // the surrogate pair stays whole
      {"a😀b", B::WideString, 3, "w:a😀"}, {"xyz", B::String, 0, ""},
  };
  for (const Case& c : cases) {
    const TVRXConvertedValue source = MakeTextBuffer(std::string_view(c.text), B::String);
    const TVRXConvertedValue cut =
        ConvertValueToLength(source.Data.get(), source.Size, B::String, c.to, c.length);
    EXPECT_EQ(Render(cut, c.to), c.expected) << c.text << " to " << c.length;
    EXPECT_LE(cut.Size, StorageSize(c.to, c.length)) << c.text;
  }
  // Numbers are not cut; their text is.
  TVRXVariant big;
  big.SetAsInteger(123456);
  EXPECT_EQ(Render(ConvertValueToLength(big.Data(), 4, B::Integer, B::String, 3), B::String),
            "123");
  EXPECT_EQ(Render(ConvertValueToLength(big.Data(), 4, B::Integer, B::LargeInt, 3), B::LargeInt),
            "123456");
  EXPECT_THROW(ConvertValueToLength(big.Data(), 4, B::Integer, B::String, -1), EVRXException);
}

TEST(NumberTexts, FloatTextUsesTheLocaleSeparatorAndGeneralForm) {
  {
    pelvaro::test::ScopedLocale czech("cs_CZ");
    EXPECT_EQ(FloatToText(1.5L), "1,5");
    EXPECT_EQ(CurrencyToText(1234.5), "1234,5");
    long double v = 0;
    ASSERT_TRUE(TextToFloat("1.5", v));  // "." whatever the locale
    EXPECT_EQ(v, 1.5L);
  }
  {
    pelvaro::test::ScopedLocale english("en_US");
    EXPECT_EQ(FloatToText(1.5L), "1.5");
    EXPECT_EQ(CurrencyToText(1234.5), "1234.5");
  }
  EXPECT_EQ(FloatToText(std::nanl("")), "NAN");
  EXPECT_EQ(FloatToText(-HUGE_VALL), "-INF");
  EXPECT_EQ(FloatToText(0.0L), "0");
  EXPECT_EQ(FloatToText(1e15L), "1E15");
  EXPECT_EQ(FloatToText(100000000000000.0L), "100000000000000");
  EXPECT_EQ(CurrencyToText(0.00004), "0");
  EXPECT_EQ(CurrencyToText(-1.23456), "-1" + locale::DecimalSeparator() + "2346");
}

TEST(NumberTexts, IntegerText) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"  12", true, 12},
      {"\t-3", true, -3},
      {"$7fffffffffffffff", true, INT64_MAX},
      {"-$1", true, -1},
      {"X1f", true, 31},
      {"0X1F", true, 31},
      {"", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"1 2", false, 0},
      {"+-1", false, 0},
      {"$-1", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    int64_t v = 0;
    EXPECT_EQ(TextToInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace vrx
