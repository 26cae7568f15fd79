#include "engine/values/VRXDateText.h"

#include <vector>

#include "engine/values/VRXDateFormat.h"
#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"

namespace vrx::datetext {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string Padded(int value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

struct Number {
  int value = 0;
  int digits = 0;
};

// Reads a run of at most maxDigits digits at text[pos]; false when there is
// none or the run is longer.
bool ReadNumber(std::string_view text, size_t& pos, int maxDigits, Number& number) {
  number = Number{};
  while (pos < text.size() && IsDigit(text[pos])) {
    if (++number.digits > maxDigits) return false;
    number.value = number.value * 10 + (text[pos] - '0');
    ++pos;
  }
  return number.digits > 0;
}

// Strips `word` (compared ignoring case by the locale) from the front or the
// back of `text`; true when it was there.
bool StripWord(std::string_view& text, std::string_view word) {
  if (word.empty() || text.size() < word.size()) return false;
  if (locale::CompareText(text.substr(text.size() - word.size()), word, true) == 0) {
    text = Trim(text.substr(0, text.size() - word.size()));
    return true;
  }
  if (locale::CompareText(text.substr(0, word.size()), word, true) == 0) {
    text = Trim(text.substr(word.size()));
    return true;
  }
  return false;
}

}  // namespace

std::string_view Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

int TwoDigitYear(int value) { return value < 30 ? 2000 + value : 1900 + value; }

std::string FormatPattern(std::string_view pattern, int year, int month, int day, int dayOfWeek, int32_t ms) {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milli = 0;
  DecodeTimeMs(ms, hour, minute, second, milli);
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if (c == '\'') {
      // '' is a quote; 'text' is literal text ('' inside stands for a quote).
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        out += '\'';
        i += 2;
        continue;
      }
      for (++i; i < pattern.size(); ++i) {
        if (pattern[i] == '\'') {
          if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            out += '\'';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        out += pattern[i];
      }
      continue;
    }
    if (!IsAsciiLetter(c)) {
      out += c;
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    i += run;
    const int n = static_cast<int>(run);
    const locale::NameWidth width = n >= 4 ? locale::NameWidth::Long : locale::NameWidth::Short;
    switch (c) {
      case 'y':
      case 'u':
      case 'Y':
        out += n == 2 ? Padded(((year % 100) + 100) % 100, 2) : Padded(year, n);
        break;
      case 'M':
      case 'L':
        out += n >= 3 ? locale::MonthName(month, width) : Padded(month, n);
        break;
      case 'd':
        out += Padded(day, n);
        break;
      case 'E':
        out += locale::DayName(dayOfWeek, width);
        break;
      case 'c':
      case 'e':
        out += n >= 3 ? locale::DayName(dayOfWeek, width) : Padded(dayOfWeek, n);
        break;
      case 'a':
      case 'b':
      case 'B':
        out += hour >= 12 ? locale::TimePMString() : locale::TimeAMString();
        break;
      case 'H':
        out += Padded(hour, n);
        break;
      case 'k':
        out += Padded(hour == 0 ? 24 : hour, n);
        break;
      case 'K':
        out += Padded(hour % 12, n);
        break;
      case 'h':
        out += Padded(hour % 12 == 0 ? 12 : hour % 12, n);
        break;
      case 'm':
        out += Padded(minute, n);
        break;
      case 's':
        out += Padded(second, n);
        break;
      case 'S': {
        std::string digits = Padded(milli, 3);
        digits.resize(static_cast<size_t>(n), '0');
        out += digits;
        break;
      }
      default:
        break;  // era, zone and other fields the engine's values do not carry
    }
  }
  return out;
}

bool ParseDate(std::string_view text, int32_t& dayNumber) {
  // The order of day, month and year in the short date pattern.
  std::string order;
  bool quoted = false;
  for (char c : locale::ShortDateFormat()) {
    if (c == '\'') quoted = !quoted;
    if (quoted) continue;
    char field = c == 'L' ? 'M' : c;
    if ((field == 'y' || field == 'M' || field == 'd') && order.find(field) == std::string::npos) {
      order += field;
    }
  }
  if (order.size() != 3) order = "Mdy";

  std::vector<Number> numbers;
  for (size_t pos = 0; pos < text.size();) {
    if (IsDigit(text[pos])) {
      Number number;
      if (!ReadNumber(text, pos, 4, number) || numbers.size() == 3) return false;
      numbers.push_back(number);
    } else if (IsAsciiLetter(text[pos])) {
      return false;
    } else {
      ++pos;
    }
  }
  if (numbers.size() != 3) return false;
  // A four-digit first number is a year: ISO order whatever the locale.
  if (numbers[0].digits > 2 && order[0] != 'y') order = "yMd";

  int year = 0;
  int month = 0;
  int day = 0;
  for (size_t i = 0; i < 3; ++i) {
    const Number& number = numbers[i];
    switch (order[i]) {
      case 'y':
        year = number.digits <= 2 ? TwoDigitYear(number.value) : number.value;
        break;
      case 'M':
        if (number.digits > 2) return false;
        month = number.value;
        break;
      default:
        if (number.digits > 2) return false;
        day = number.value;
        break;
    }
  }
  return TryEncodeDayNumber(year, month, day, dayNumber);
}

bool ParseTime(std::string_view text, int32_t& ms) {
  bool am = false;
  bool pm = false;
  const std::string localAm = locale::TimeAMString();
  const std::string localPm = locale::TimePMString();
  if (StripWord(text, localPm) || StripWord(text, "PM")) {
    pm = true;
  } else if (StripWord(text, localAm) || StripWord(text, "AM")) {
    am = true;
  }

  int parts[3] = {0, 0, 0};
  int count = 0;
  int milli = 0;
  size_t pos = 0;
  while (true) {
    Number number;
    if (!ReadNumber(text, pos, 2, number)) return false;
    parts[count++] = number.value;
    if (pos == text.size()) break;
    const char separator = text[pos++];
    if (count == 3) {
      // Fraction of the second.
      if (separator != '.' && separator != ',') return false;
      if (!ReadNumber(text, pos, 3, number) || pos != text.size()) return false;
      milli = number.value;
      for (int d = number.digits; d < 3; ++d) milli *= 10;
      break;
    }
    if (separator != ':' && separator != '.') return false;
  }
  if (count < 2 && !am && !pm) return false;

  int hour = parts[0];
  if (am || pm) {
    if (hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  if (!IsValidTime(hour, parts[1], parts[2], milli)) return false;
  ms = ((hour * 60 + parts[1]) * 60 + parts[2]) * 1000 + milli;
  return true;
}

}  // namespace vrx::datetext
