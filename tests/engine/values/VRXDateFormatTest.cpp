// Day numbers, times, the user's date texts and the TODATE/TOSTRING format
// language; run in en_US and cs_CZ.
#include "engine/values/VRXDateFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"
#include "tests/support/LocaleForTest.h"

namespace vrx {
namespace {

using pelvaro::test::TestLocaleIsCzech;

// The expected text in the run's locale.
const char* InLocale(const char* english, const char* czech) { return TestLocaleIsCzech() ? czech : english; }

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return DayNumberToDateTime(EncodeDayNumber(year, month, day), EncodeTimeMs(hour, minute, second, 0));
}

// ---- calendar ----

TEST(Calendar, DayNumbersOfKnownDates) {
  struct Case {
    int year, month, day;
    int32_t dayNumber;
    int dayOfWeek;
  };
  const Case cases[] = {
      {1, 1, 1, 1, 1},                  // a Monday
      {1899, 12, 30, 693594, 6},        // zero of the calendar date-time
      {1899, 12, 31, 693595, 7},
      {1900, 3, 1, 693655, 4},          // 1900 is no leap year
      {1970, 1, 1, 719163, 4},
      {2000, 2, 29, 730179, 2},
      {2004, 3, 5, 731645, 5},
      {9999, 12, 31, 3652059, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDayNumber(c.year, c.month, c.day), c.dayNumber) << c.year << "-" << c.month;
    int y = 0, m = 0, d = 0;
    DecodeDayNumber(c.dayNumber, y, m, d);
    EXPECT_EQ(y, c.year);
    EXPECT_EQ(m, c.month);
    EXPECT_EQ(d, c.day);
    EXPECT_EQ(DayOfWeek(c.dayNumber), c.dayOfWeek) << c.dayNumber;
  }
}

TEST(Calendar, EveryDayFollowsThePreviousOne) {
  int y = 1, m = 1, d = 1;
  for (int32_t dayNumber = 1; dayNumber <= 3652059; ++dayNumber) {
    int year = 0, month = 0, day = 0;
    DecodeDayNumber(dayNumber, year, month, day);
    ASSERT_TRUE(year == y && month == m && day == d) << dayNumber;
    if (++d > DaysInMonth(y, m)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  EXPECT_EQ(y, 10000);
}

TEST(Calendar, LeapYearsAndValidity) {
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2004));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2004, 13), 0);
  EXPECT_TRUE(IsValidDate(2004, 2, 29));
  EXPECT_FALSE(IsValidDate(2003, 2, 29));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_FALSE(IsValidDate(10000, 1, 1));
  EXPECT_FALSE(IsValidDate(2004, 4, 31));
  int32_t dayNumber = 7;
  EXPECT_FALSE(TryEncodeDayNumber(2004, 2, 30, dayNumber));
  EXPECT_EQ(dayNumber, 7);
  EXPECT_EQ(DayOfYear(EncodeDayNumber(2004, 12, 31)), 366);
  EXPECT_EQ(DayOfYear(EncodeDayNumber(2003, 3, 1)), 60);
  try {
    EncodeDayNumber(2004, 2, 30);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to date encode");
  }
}

TEST(Calendar, TimesOfDay) {
  EXPECT_EQ(EncodeTimeMs(7, 45, 0, 0), 27'900'000);
  EXPECT_EQ(EncodeTimeMs(23, 59, 59, 999), kMillisecondsPerDay - 1);
  int h = 0, n = 0, s = 0, ms = 0;
  DecodeTimeMs(55'509'123, h, n, s, ms);
  EXPECT_EQ(h, 15);
  EXPECT_EQ(n, 25);
  EXPECT_EQ(s, 9);
  EXPECT_EQ(ms, 123);
  EXPECT_THROW(EncodeTimeMs(24, 0, 0, 0), Exception);
  EXPECT_THROW(EncodeTimeMs(1, 60, 0, 0), Exception);
}

TEST(Calendar, CalendarDateTimeBothWays) {
  struct Case {
    int32_t dayNumber;
    int32_t ms;
    TDateTime value;
  };
  const Case cases[] = {
      {693594, 0, 0.0},
      {693595, 43'200'000, 1.5},
      {693593, 21'600'000, -1.25},   // before the zero the fraction still counts forward
      {693594, 21'600'000, 0.25},
      {731645, 0, 38051.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(DayNumberToDateTime(c.dayNumber, c.ms), c.value);
    int32_t dayNumber = 0, ms = 0;
    DateTimeToDayNumber(c.value, dayNumber, ms);
    EXPECT_EQ(dayNumber, c.dayNumber) << c.value;
    EXPECT_EQ(ms, c.ms) << c.value;
  }
  // Rounding to the millisecond carries into the next day.
  int32_t dayNumber = 0, ms = 0;
  DateTimeToDayNumber(1.0 - 1e-10, dayNumber, ms);
  EXPECT_EQ(dayNumber, 693595);
  EXPECT_EQ(ms, 0);
  EXPECT_THROW(DateTimeToDayNumber(std::numeric_limits<double>::quiet_NaN(), dayNumber, ms), Exception);
  EXPECT_THROW(DateTimeToDayNumber(1e12, dayNumber, ms), Exception);
}

// ---- the user's texts ----

TEST(DateTexts, FormatInUserFormats) {
  const int32_t day = EncodeDayNumber(2004, 3, 5);
  EXPECT_EQ(DateToText(day), InLocale("3/5/2004", "05.03.2004"));
  EXPECT_EQ(DateToText(EmptyDate), "");
  EXPECT_EQ(TimeToText(EncodeTimeMs(7, 45, 0, 0)), InLocale("7:45:00 AM", "7:45:00"));
  EXPECT_EQ(TimeToText(EncodeTimeMs(15, 30, 5, 0)), InLocale("3:30:05 PM", "15:30:05"));
  EXPECT_EQ(TimeToText(EncodeTimeMs(12, 0, 1, 0)), InLocale("12:00:01 PM", "12:00:01"));
  EXPECT_EQ(TimeToText(0), "");
  EXPECT_EQ(DateTimeToText(day, EncodeTimeMs(15, 30, 5, 0)),
            InLocale("3/5/2004 3:30:05 PM", "05.03.2004 15:30:05"));
  EXPECT_EQ(DateTimeToText(day, 0), InLocale("3/5/2004", "05.03.2004"));
  EXPECT_EQ(DateTimeToText(EmptyDate, EncodeTimeMs(7, 45, 0, 0)), InLocale("7:45:00 AM", "7:45:00"));
  EXPECT_EQ(DateTimeToText(EmptyDate, 0), "");
}

TEST(DateTexts, ParseDates) {
  struct Case {
    const char* english;
    const char* czech;
    int year, month, day;  // 0: not a date
  };
  const Case cases[] = {
      {"3/5/2004", "5.3.2004", 2004, 3, 5},
      {"03/05/2004", "05.03.2004", 2004, 3, 5},
      {" 3 / 5 / 2004 ", "5. 3. 2004", 2004, 3, 5},
      {"2004-03-05", "2004-03-05", 2004, 3, 5},  // ISO whatever the locale
      {"3/5/04", "5.3.04", 2004, 3, 5},           // below 30: 20xx
      {"3/5/75", "5.3.75", 1975, 3, 5},
      {"12/31/9999", "31.12.9999", 9999, 12, 31},
      {"2/29/2004", "29.2.2004", 2004, 2, 29},
      {"2/30/2004", "30.2.2004", 0, 0, 0},
      {"13/1/2004", "1.13.2004", 0, 0, 0},
      {"3/5", "5.3", 0, 0, 0},
      {"3/5/2004/1", "5.3.2004.1", 0, 0, 0},
      {"March 5, 2004", "5. března 2004", 0, 0, 0},
      {"", "", 0, 0, 0},
      {"3/5/123", "5.3.123", 123, 3, 5},
  };
  for (const Case& c : cases) {
    const char* text = InLocale(c.english, c.czech);
    int32_t dayNumber = -1;
    const bool ok = TextToDate(text, dayNumber);
    if (c.year == 0) {
      EXPECT_FALSE(ok) << text;
      EXPECT_EQ(dayNumber, -1) << text;
    } else {
      ASSERT_TRUE(ok) << text;
      EXPECT_EQ(dayNumber, EncodeDayNumber(c.year, c.month, c.day)) << text;
    }
  }
}

TEST(DateTexts, ParseTimes) {
  struct Case {
    const char* english;
    const char* czech;
    int32_t ms;  // -1: not a time
  };
  const Case cases[] = {
      {"7:45", "7:45", 27'900'000},
      {"07:45:30", "07:45:30", 27'930'000},
      {"7:45:30.5", "7:45:30,5", 27'930'500},
      {"3:30:05 PM", "3:30:05 odp.", 55'805'000},
      {"3:30 pm", "3:30 ODP.", 55'800'000},
      {"12:30 AM", "12:30 dop.", 1'800'000},
      {"12:30 PM", "12:30 odp.", 45'000'000},
      {"PM 3:30", "odp. 3:30", 55'800'000},
      {"3 PM", "3 odp.", 54'000'000},
      {"15:30 PM", "15:30 odp.", -1},
      {"24:00", "24:00", -1},
      {"7:60", "7:60", -1},
      {"7", "7", -1},
      {"7:45x", "7:45x", -1},
      {"", "", -1},
  };
  for (const Case& c : cases) {
    const char* text = InLocale(c.english, c.czech);
    int32_t ms = -1;
    const bool ok = TextToTime(text, ms);
    EXPECT_EQ(ok, c.ms >= 0) << text;
    EXPECT_EQ(ms, c.ms) << text;
  }
}

TEST(DateTexts, DateTimeTextRoundTrips) {
  struct Case {
    int32_t dayNumber;
    int32_t ms;
  };
  const Case cases[] = {
      {EncodeDayNumber(2004, 3, 5), EncodeTimeMs(15, 30, 5, 0)},
      {EncodeDayNumber(2004, 3, 5), 0},
      {EncodeDayNumber(1, 1, 1), EncodeTimeMs(0, 0, 1, 0)},
      {EncodeDayNumber(2031, 12, 24), EncodeTimeMs(12, 0, 0, 0)},
      {EncodeDayNumber(1999, 1, 31), EncodeTimeMs(23, 59, 59, 0)},
  };
  for (const Case& c : cases) {
    const std::string text = DateTimeToText(c.dayNumber, c.ms);
    int32_t dayNumber = 0, ms = -1;
    ASSERT_TRUE(TextToDateTime(text, dayNumber, ms)) << text;
    EXPECT_EQ(dayNumber, c.dayNumber) << text;
    EXPECT_EQ(ms, c.ms) << text;
  }
  int32_t dayNumber = 0, ms = 0;
  ASSERT_TRUE(TextToDateTime("7:45", dayNumber, ms));
  EXPECT_EQ(dayNumber, kDateTimeEpochDay);
  EXPECT_EQ(ms, 27'900'000);
  EXPECT_FALSE(TextToDateTime(InLocale("3/5/2004 25:00", "5.3.2004 25:00"), dayNumber, ms));
  EXPECT_FALSE(TextToDateTime("tomorrow", dayNumber, ms));
}

// ---- TDateFormater ----

using Kind = TDateFormatTokenKind;

TEST(DateFormater, TokenisesLongestNameFirst) {
  struct Case {
    const char* format;
    std::vector<std::pair<Kind, std::string>> tokens;
  };
  const Case cases[] = {
      {"DD-MON-YYYY",
       {{Kind::Day2, "DD"}, {Kind::Literal, "-"}, {Kind::MonthShortName, "MON"}, {Kind::Literal, "-"},
        {Kind::Year4, "YYYY"}}},
      {"dd.mm.yyyy",
       {{Kind::Day2, "dd"}, {Kind::Literal, "."}, {Kind::Month2, "mm"}, {Kind::Literal, "."},
        {Kind::Year4, "yyyy"}}},
      {"HH24:NN AMPM",
       {{Kind::Hour24Two, "HH24"}, {Kind::Literal, ":"}, {Kind::Minute2, "NN"}, {Kind::Literal, " "},
        {Kind::AmPm, "AMPM"}}},
      {"MONTHDDDDAY",
       {{Kind::MonthLongName, "MONTH"}, {Kind::DayShortName, "DDD"}, {Kind::DayLongName, "DAY"}}},
      {"YYYYYEAR", {{Kind::Year4, "YYYY"}, {Kind::Year4, "YEAR"}}},
      {"YYYYY", {{Kind::Year4, "YYYY"}, {Kind::Literal, "Y"}}},
      {"'Day: 'DD\" o'clock\"", {{Kind::Literal, "Day: "}, {Kind::Day2, "DD"}, {Kind::Literal, " o'clock"}}},
      {"H12 H24 H RM DY Q", {{Kind::Hour12, "H12"}, {Kind::Literal, " "}, {Kind::Hour24, "H24"}, {Kind::Literal, " "},
                             {Kind::Hour12, "H"}, {Kind::Literal, " "}, {Kind::MonthRoman, "RM"}, {Kind::Literal, " "},
                             {Kind::DayOfYear, "DY"}, {Kind::Literal, " "}, {Kind::Quarter, "Q"}}},
      {"'unterminated", {{Kind::Literal, "unterminated"}}},
  };
  for (const Case& c : cases) {
    TDateFormater formater(c.format);
    std::vector<std::pair<Kind, std::string>> tokens;
    for (const TDateFormatToken& token : formater.Tokens()) tokens.emplace_back(token.kind, token.text);
    EXPECT_EQ(tokens, c.tokens) << c.format;
  }
}

TEST(DateFormater, FormatsEveryToken) {
  // Friday 5 March 2004, 15:07:09.
  const TDateTime value = At(2004, 3, 5, 15, 7, 9);
  struct Case {
    const char* format;
    std::string expected;
  };
  const std::string shortMonth = locale::MonthName(3, locale::NameWidth::Short);
  const std::string longMonth = locale::MonthName(3, locale::NameWidth::Long);
  const std::string shortDay = locale::DayName(5, locale::NameWidth::Short);
  const std::string longDay = locale::DayName(5, locale::NameWidth::Long);
  const Case cases[] = {
      {"YYYY", "2004"}, {"YEAR", "2004"}, {"YY", "04"},      {"Q", "1"},
      {"MONTH", longMonth}, {"MON", shortMonth}, {"MM", "03"}, {"M", "3"},
      {"RM", "III"},    {"DDD", shortDay}, {"DD", "05"},    {"DAY", longDay},
      {"DY", "65"},     {"DW", "5"},       {"D", "5"},      {"HH12", "03"},
      {"HH", "03"},     {"HH24", "15"},    {"H12", "3"},    {"H", "3"},
      {"H24", "15"},    {"NN", "07"},      {"N", "7"},      {"SS", "09"},
      {"S", "9"},       {"AMPM", "PM"},    {"'YYYY'", "YYYY"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TDateFormater(c.format).FormatDateTimeText(value), c.expected) << c.format;
  }
  EXPECT_EQ(TDateFormater("DD-MON-YYYY").FormatDateTimeText(At(2004, 3, 5)),
            InLocale("05-Mar-2004", "05-bře-2004"));
  EXPECT_EQ(TDateFormater("DD-MON-YYYY").FormatDateTimeText(At(2004, 3, 5)), "05-" + shortMonth + "-2004");
  // A 12-hour clock shows 12 at midnight and noon.
  EXPECT_EQ(TDateFormater("HH:NN AMPM").FormatDateTimeText(At(2004, 3, 5, 0, 30)), "12:30 AM");
  EXPECT_EQ(TDateFormater("HH:NN AMPM").FormatDateTimeText(At(2004, 3, 5, 12, 30)), "12:30 PM");
  EXPECT_EQ(TDateFormater("RM").FormatDateTimeText(At(2004, 12, 1)), "XII");
  EXPECT_EQ(TDateFormater("Q").FormatDateTimeText(At(2004, 12, 1)), "4");
}

TEST(DateFormater, ParsesTexts) {
  struct Case {
    const char* format;
    std::string text;
    TDateTime expected;
  };
  const std::string march = locale::MonthName(3, locale::NameWidth::Short);
  const Case cases[] = {
      {"HH24:NN", "07:45", DayNumberToDateTime(kDateTimeEpochDay, 27'900'000)},
      {"DD-MON-YYYY", "05-" + march + "-2004", At(2004, 3, 5)},
      {"DD-MON-YYYY", "05-" + locale::UpperCase(march) + "-2004", At(2004, 3, 5)},
      {"DD MONTH YYYY", "05 " + locale::MonthName(7, locale::NameWidth::Long) + " 2004", At(2004, 7, 5)},
      {"DD.MM.YYYY HH24:NN:SS", "05.03.2004 15:07:09", At(2004, 3, 5, 15, 7, 9)},
      {"D.M.YYYY", "5.3.2004", At(2004, 3, 5)},
      {"D.M.YYYY", "15.11.2004", At(2004, 11, 15)},
      {"DD.MM.YY", "05.03.04", At(2004, 3, 5)},
      {"DD.MM.YY", "05.03.75", At(1975, 3, 5)},
      {"DD RM YYYY", "05 III 2004", At(2004, 3, 5)},
      {"DD RM YYYY", "05 xii 2004", At(2004, 12, 5)},
      {"DD Q YYYY", "01 2 2004", At(2004, 4, 1)},
      {"HH:NN AMPM", "03:30 PM", At(1899, 12, 30, 15, 30)},
      {"HH:NN AMPM", "03:30 am", At(1899, 12, 30, 3, 30)},
      {"HH:NN AMPM", "12:30 AM", At(1899, 12, 30, 0, 30)},
      {"HH:NN AMPM", "12:30 PM", At(1899, 12, 30, 12, 30)},
      {"H:NN", "7:45", At(1899, 12, 30, 7, 45)},
      {"DAY DD.MM.YYYY", locale::DayName(5, locale::NameWidth::Long) + " 05.03.2004", At(2004, 3, 5)},
      {"DD.MM", "05.03", 0.0},  // no year: the date part falls back to 30 December 1899
      {"'at' HH24:NN", "at 07:45", At(1899, 12, 30, 7, 45)},
      {"DD.MM.YYYY", " 5.03.2004", At(2004, 3, 5)},  // leading blank of a field
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(TDateFormater(c.format).ParseDateTimeText(c.text), c.expected)
        << c.format << " <- " << c.text;
  }
}

TEST(DateFormater, NamesRoundTripForEveryMonth) {
  for (const char* format : {"DD-MON-YYYY", "DD MONTH YYYY", "DD RM YYYY", "DAY DD MONTH YYYY"}) {
    TDateFormater formater(format);
    for (int month = 1; month <= 12; ++month) {
      const TDateTime value = At(2004, month, 28);
      const std::string text = formater.FormatDateTimeText(value);
      EXPECT_DOUBLE_EQ(formater.ParseDateTimeText(text), value) << format << ": " << text;
      EXPECT_LE(static_cast<int32_t>(text.size()), formater.EstimatedLength()) << text;
    }
  }
}

TEST(DateFormater, ParseErrors) {
  struct Case {
    const char* format;
    const char* text;
    const char* message;
    int32_t nativeError;  // 0: not an engine error
  };
  const Case cases[] = {
      {"HH:NN AMPM", "03:30 XM", "AM/PM word expected, but 'XM' found - Native error: 30129", 30129},
      {"HH:NN AMPM", "03:30", "AM/PM word expected, but '' found - Native error: 30129", 30129},
      {"DD.MM.YYYY", "xx.03.2004", "'xx' is not a valid integer value", 0},
      {"DD.MM.YYYY", "05.03.", "'' is not a valid integer value", 0},
      {"DD.MM.YYYY", "-1.03.2004", "Range check error", 0},
      {"DD.MM.YYYY", "31.02.2004", "Invalid argument to date encode", 0},
      {"HH24:NN", "25:00", "Invalid argument to time encode", 0},
      {"HH24:NN", "23:60", "Invalid argument to time encode", 0},
      {"HH24:NN AMPM", "15:00 PM", "Invalid argument to time encode", 0},
  };
  for (const Case& c : cases) {
    try {
      TDateFormater(c.format).ParseDateTimeText(c.text);
      ADD_FAILURE() << "no error: " << c.format << " <- " << c.text;
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.NativeError(), c.nativeError) << c.text;
      EXPECT_STREQ(e.what(), c.message);
    } catch (const Exception& e) {
      EXPECT_EQ(c.nativeError, 0) << c.text;
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(DateFormater, EstimatedLengthAndResultKind) {
  struct Case {
    const char* format;
    int32_t minimumLength;
    uint8_t kind;
  };
  const Case cases[] = {
      {"DD-MON-YYYY", 11, kDateFormatResultDate},
      {"HH24:NN", 5, kDateFormatResultTime},
      {"AMPM", 2, kDateFormatResultTime},
      {"DD HH", 5, kDateFormatResultDateTime},
      {"'literal'", 7, kDateFormatResultDateTime},
      {"MONTH", 9, kDateFormatResultDate},
      {"DAY", 12, kDateFormatResultDate},
      {"Q", 1, kDateFormatResultDate},
      {"DY", 3, kDateFormatResultDate},
  };
  for (const Case& c : cases) {
    TDateFormater formater(c.format);
    EXPECT_GE(formater.EstimatedLength(), c.minimumLength) << c.format;
    EXPECT_EQ(formater.ResultKind(), c.kind) << c.format;
  }
  EXPECT_EQ(TDateFormater("HH24:NN").EstimatedLength(), 5);
  EXPECT_EQ(TDateFormater("DD.MM.YYYY").EstimatedLength(), 10);
  EXPECT_EQ(TDateFormater("DD-MON-YYYY").EstimatedLength(), TestLocaleIsCzech() ? 13 : 11);
  EXPECT_EQ(TDateFormater("DY").FormatDateTimeText(At(2004, 12, 31)), "366");
}

}  // namespace
}  // namespace vrx
