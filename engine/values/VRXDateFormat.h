// Dates and times of the engine and their text forms.
//
// A date is a day number: day 1 is 1 January of year 1 of the proleptic
// Gregorian calendar (so 30 December 1899 is day 693594). A time is the
// number of milliseconds since midnight (0 to 86,399,999). A calendar
// date-time (TDateTime) is the platform's floating day count since
// 30 December 1899; for days before that the fraction still counts forward
// within the day (-1.25 is 29 December 1899, 06:00), as the platform does.
//
// Used by the value conversions (DATE, TIME, DATETIME to and from text and
// numbers), the SQL date functions TODATE and TOSTRING (TDateFormater) and
// the dataset layer.
//
// Thread-safety: everything here is reentrant; a TDateFormater is immutable
// after construction. Locale-dependent texts read the process locale
// (platform/locale/Locale.h) at the time of the call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vrx {

using TDateTime = double;

// The DATE value that means "no date".
inline constexpr int32_t EmptyDate = INT32_MIN;
inline constexpr int32_t kMillisecondsPerDay = 86'400'000;
// Day number of 30 December 1899, the zero of TDateTime.
inline constexpr int32_t kDateTimeEpochDay = 693'594;
// Valid calendar years.
inline constexpr int kMinYear = 1;
inline constexpr int kMaxYear = 9999;

// ---- calendar ----

bool IsLeapYear(int year);
// Days of the month (28..31); 0 for a month outside 1..12.
int DaysInMonth(int year, int month);
// Year 1..9999, month 1..12, day 1..DaysInMonth.
bool IsValidDate(int year, int month, int day);
// Hour 0..23, minute 0..59, second 0..59, millisecond 0..999.
bool IsValidTime(int hour, int minute, int second, int millisecond);

// The day number of a valid date; false (day untouched) for an invalid one.
bool TryEncodeDayNumber(int year, int month, int day, int32_t& dayNumber);
// As above; throws vrx::Exception("Invalid argument to date encode").
int32_t EncodeDayNumber(int year, int month, int day);
// Any day number (proleptic; years before 1 come out as 0, -1, ...).
// EmptyDate must not be passed (callers test it first).
void DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day);
// 1 = Monday .. 7 = Sunday.
int DayOfWeek(int32_t dayNumber);
// 1 .. 366.
int DayOfYear(int32_t dayNumber);

// Milliseconds of a valid time; throws vrx::Exception("Invalid argument to
// time encode") otherwise.
int32_t EncodeTimeMs(int hour, int minute, int second, int millisecond);
// `ms` in 0..86,399,999.
void DecodeTimeMs(int32_t ms, int& hour, int& minute, int& second, int& millisecond);

// Day number and milliseconds to the calendar date-time and back. The
// reverse rounds to the nearest millisecond (a carry into the next day is
// taken) and throws vrx::Exception("Invalid argument to date encode") when
// the value lies outside the int32 day range or is not a number.
TDateTime DayNumberToDateTime(int32_t dayNumber, int32_t ms);
void DateTimeToDayNumber(TDateTime value, int32_t& dayNumber, int32_t& ms);

// The current local date and time.
void CurrentDayNumber(int32_t& dayNumber, int32_t& ms);

// ---- texts in the user's formats ----
//
// Formatting uses locale::ShortDateFormat and locale::LongTimeFormat.
// DateToText: "" for EmptyDate. TimeToText: "" for 0 ms. DateTimeToText: ""
// for EmptyDate and 0 ms; the date alone at exactly midnight; the time alone
// when the day is EmptyDate; else date, one space, time.
std::string DateToText(int32_t dayNumber);
std::string TimeToText(int32_t ms);
std::string DateTimeToText(int32_t dayNumber, int32_t ms);

// Parsing is lenient in the way users type: a date is three numbers in the
// order of the short date pattern (day, month, year for cs_CZ; month, day,
// year for en_US) separated by any punctuation or blanks; a year of one or
// two digits below 30 means 20xx, else 19xx. A time is hour[:minute[:second
// [.millisecond]]] with an optional AM/PM word (the locale's or "AM"/"PM",
// any case) before or after; without that word at least hour:minute is
// needed. A date-time is a date, blanks, and an optional time; a time alone
// gives day kDateTimeEpochDay. Leading and trailing blanks are ignored.
// Returns false for text that is not such a value or names an invalid date
// or time; the outputs are then untouched.
bool TextToDate(std::string_view text, int32_t& dayNumber);
bool TextToTime(std::string_view text, int32_t& ms);
bool TextToDateTime(std::string_view text, int32_t& dayNumber, int32_t& ms);

// ---- the date format language of TODATE / TOSTRING ----

enum class TDateFormatTokenKind : uint8_t {
  Literal,
  // date tokens
  Year4,          // "YYYY", "YEAR"
  Year2,          // "YY"
  Quarter,        // "Q"
  MonthLongName,  // "MONTH"
  MonthShortName, // "MON"
  Month2,         // "MM"
  Month,          // "M"
  MonthRoman,     // "RM"
  DayShortName,   // "DDD"
  Day2,           // "DD"
  DayLongName,    // "DAY"
  DayOfYear,      // "DY"
  DayOfWeek,      // "DW"
  Day,            // "D"
  // time tokens
  Hour12Two,      // "HH12", "HH"
  Hour24Two,      // "HH24"
  Hour12,         // "H12", "H"
  Hour24,         // "H24"
  Minute2,        // "NN"
  Minute,         // "N"
  Second2,        // "SS"
  Second,         // "S"
  AmPm,           // "AMPM"
};

struct TDateFormatToken {
  TDateFormatTokenKind kind = TDateFormatTokenKind::Literal;
  std::string text;  // literal text (UTF-8); the token name as written otherwise
};

// Declared type codes returned by TDateFormater::ResultKind.
inline constexpr uint8_t kDateFormatResultDate = 25;
inline constexpr uint8_t kDateFormatResultTime = 26;
inline constexpr uint8_t kDateFormatResultDateTime = 27;

// A format string parsed once into tokens. Token names match case-
// insensitively, longest first; text between single or double quotes is
// literal (the other quote is an ordinary character inside); any other
// character joins the pending literal.
class TDateFormater {
 public:
  explicit TDateFormater(std::string_view format);

  // The date-time as text. Names come from the process locale; "HH12",
  // "HH", "H12" and "H" show the 12-hour clock (12 for the hours 0 and 12).
  std::string FormatDateTimeText(TDateTime value) const;

  // Text to date-time, reading the tokens in order from a position counted
  // in characters. Digit fields take a fixed number of characters ("YYYY" 4,
  // "MM" 2, ...) or, for the short forms ("M", "D", "H", "HH", "N", "S"),
  // one character when the next is no digit, else two. "MONTH", "MON" and
  // "RM" read the month by its locale name (either width, any case) or
  // Roman numeral; "DAY" and "DDD" skip a day name; "DY" and "DW" skip their
  // digits; where no name or digit is found as many characters as the token
  // name has are skipped. Literals skip as many characters as they have.
  // "Q" sets the first month of the quarter. "AMPM" reads two characters;
  // with it a 12-hour field of 12 means 0 before "PM" adds 12. A missing
  // year, month or day gives the date 30 December 1899. Errors: "AM/PM word expected, but '%s' found" (30129)
  // as EVRXException; a digit field that is not a number,
  // "'%s' is not a valid integer value", a number above 65535, "Range check
  // error", a date or time that does not exist, "Invalid argument to date
  // encode" / "Invalid argument to time encode" (all vrx::Exception).
  TDateTime ParseDateTimeText(std::string_view text) const;

  // Upper bound of the byte length of a formatted text (at least the
  // classic per-token estimate; larger where the locale's names need it).
  int32_t EstimatedLength() const;

  // kDateFormatResultDate when only date tokens occur, kDateFormatResultTime
  // when only time tokens occur, else kDateFormatResultDateTime.
  uint8_t ResultKind() const;

  const std::vector<TDateFormatToken>& Tokens() const { return tokens_; }

 private:
  std::vector<TDateFormatToken> tokens_;
};

}  // namespace vrx
