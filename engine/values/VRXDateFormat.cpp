// Calendar arithmetic and the text forms of dates in the user's formats.
// The format language of TODATE / TOSTRING is in VRXDateFormater.cpp.
#include "engine/values/VRXDateFormat.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "engine/values/VRXDateText.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"

namespace vrx {
namespace {

constexpr const char* kInvalidDate = "Invalid argument to date encode";
constexpr const char* kInvalidTime = "Invalid argument to time encode";

// Days from 1 January 1970 (civil calendar, proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y += m <= 2;
}

// Day number of 1 January 1970.
constexpr int64_t kUnixEpochDay = 719'163;

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= kMinYear && year <= kMaxYear && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

bool TryEncodeDayNumber(int year, int month, int day, int32_t& dayNumber) {
  if (!IsValidDate(year, month, day)) return false;
  dayNumber = static_cast<int32_t>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  return true;
}

int32_t EncodeDayNumber(int year, int month, int day) {
  int32_t dayNumber = 0;
  if (!TryEncodeDayNumber(year, month, day, dayNumber)) throw Exception(kInvalidDate);
  return dayNumber;
}

void DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
  int64_t y = 0;
  int64_t m = 0;
  int64_t d = 0;
  CivilFromDays(static_cast<int64_t>(dayNumber) - kUnixEpochDay, y, m, d);
  year = static_cast<int>(y);
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

int DayOfWeek(int32_t dayNumber) {
  // Day 1 (1 January of year 1) was a Monday.
  int64_t r = (static_cast<int64_t>(dayNumber) - 1) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

int DayOfYear(int32_t dayNumber) {
  int year = 0;
  int month = 0;
  int day = 0;
  DecodeDayNumber(dayNumber, year, month, day);
  return static_cast<int>(static_cast<int64_t>(dayNumber) - kUnixEpochDay - DaysFromCivil(year, 1, 1)) + 1;
}

int32_t EncodeTimeMs(int hour, int minute, int second, int millisecond) {
  if (!IsValidTime(hour, minute, second, millisecond)) throw Exception(kInvalidTime);
  return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

void DecodeTimeMs(int32_t ms, int& hour, int& minute, int& second, int& millisecond) {
  millisecond = ms % 1000;
  ms /= 1000;
  second = ms % 60;
  ms /= 60;
  minute = ms % 60;
  hour = ms / 60;
}

TDateTime DayNumberToDateTime(int32_t dayNumber, int32_t ms) {
  const double days = static_cast<double>(static_cast<int64_t>(dayNumber) - kDateTimeEpochDay);
  const double fraction = static_cast<double>(ms) / kMillisecondsPerDay;
  return days >= 0 ? days + fraction : days - fraction;
}

void DateTimeToDayNumber(TDateTime value, int32_t& dayNumber, int32_t& ms) {
  if (!std::isfinite(value)) throw Exception(kInvalidDate);
  const double whole = std::trunc(value);
  const double day = whole + kDateTimeEpochDay;
  if (day < static_cast<double>(INT32_MIN) || day > static_cast<double>(INT32_MAX)) {
    throw Exception(kInvalidDate);
  }
  int64_t d = static_cast<int64_t>(day);
  int64_t m = std::llround(std::fabs(value - whole) * kMillisecondsPerDay);
  if (m >= kMillisecondsPerDay) {
    // Rounded up to midnight: the next day in either direction of counting.
    m -= kMillisecondsPerDay;
    ++d;
  }
  if (d > INT32_MAX) throw Exception(kInvalidDate);
  dayNumber = static_cast<int32_t>(d);
  ms = static_cast<int32_t>(m);
}

void CurrentDayNumber(int32_t& dayNumber, int32_t& ms) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const int milli = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  dayNumber = EncodeDayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  ms = EncodeTimeMs(local.tm_hour, local.tm_min, local.tm_sec < 60 ? local.tm_sec : 59, milli);
}

// ---- texts in the user's formats ----

std::string DateToText(int32_t dayNumber) {
  if (dayNumber == EmptyDate) return "";
  int year = 0;
  int month = 0;
  int day = 0;
  DecodeDayNumber(dayNumber, year, month, day);
  return datetext::FormatPattern(locale::ShortDateFormat(), year, month, day, DayOfWeek(dayNumber), 0);
}

std::string TimeToText(int32_t ms) {
  if (ms == 0) return "";
  return datetext::FormatPattern(locale::LongTimeFormat(), 0, 0, 0, 0, ms);
}

std::string DateTimeToText(int32_t dayNumber, int32_t ms) {
  if (dayNumber == EmptyDate) return TimeToText(ms);
  std::string text = DateToText(dayNumber);
  if (ms != 0) text += ' ' + TimeToText(ms);
  return text;
}

bool TextToDate(std::string_view text, int32_t& dayNumber) {
  return datetext::ParseDate(datetext::Trim(text), dayNumber);
}

bool TextToTime(std::string_view text, int32_t& ms) { return datetext::ParseTime(datetext::Trim(text), ms); }

bool TextToDateTime(std::string_view text, int32_t& dayNumber, int32_t& ms) {
  text = datetext::Trim(text);
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    // A date alone, or a time written without colons ("3 PM").
    int32_t day = 0;
    if (datetext::ParseDate(text, day)) {
      dayNumber = day;
      ms = 0;
      return true;
    }
    int32_t time = 0;
    if (!datetext::ParseTime(text, time)) return false;
    dayNumber = kDateTimeEpochDay;
    ms = time;
    return true;
  }
  // The time starts with the blank-separated word that holds the first
  // colon; everything before it is the date.
  size_t start = colon;
  while (start > 0 && text[start - 1] != ' ' && text[start - 1] != '\t') --start;
  std::string_view datePart = datetext::Trim(text.substr(0, start));
  int32_t day = kDateTimeEpochDay;
  if (!datePart.empty() && !datetext::ParseDate(datePart, day)) return false;
  int32_t time = 0;
  if (!datetext::ParseTime(text.substr(start), time)) return false;
  dayNumber = day;
  ms = time;
  return true;
}

}  // namespace vrx
