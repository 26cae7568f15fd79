// TDateFormater: the date format language of TODATE and TOSTRING.
#include <algorithm>
#include <cstdint>

#include "engine/values/VRXDateFormat.h"
#include "engine/values/VRXDateText.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"

namespace vrx {
namespace {

using Kind = TDateFormatTokenKind;

struct TokenName {
  std::string_view name;
  Kind kind;
};

// Every token name; matching tries the longest names first.
constexpr TokenName kTokenNames[] = {
    {"YYYY", Kind::Year4},         {"YEAR", Kind::Year4},          {"YY", Kind::Year2},
    {"Q", Kind::Quarter},          {"MONTH", Kind::MonthLongName}, {"MON", Kind::MonthShortName},
    {"MM", Kind::Month2},          {"M", Kind::Month},             {"RM", Kind::MonthRoman},
    {"DDD", Kind::DayShortName},   {"DD", Kind::Day2},             {"DAY", Kind::DayLongName},
    {"DY", Kind::DayOfYear},       {"DW", Kind::DayOfWeek},        {"D", Kind::Day},
    {"HH12", Kind::Hour12Two},     {"HH", Kind::Hour12Two},        {"HH24", Kind::Hour24Two},
    {"H12", Kind::Hour12},         {"H", Kind::Hour12},            {"H24", Kind::Hour24},
    {"NN", Kind::Minute2},         {"N", Kind::Minute},            {"SS", Kind::Second2},
    {"S", Kind::Second},           {"AMPM", Kind::AmPm},
};
constexpr size_t kLongestTokenName = 5;

constexpr std::string_view kRoman[12] = {"I",   "II", "III", "IV", "V",  "VI",
                                         "VII", "VIII", "IX", "X",  "XI", "XII"};

bool IsDateToken(Kind kind) { return kind >= Kind::Year4 && kind <= Kind::Day; }
bool IsTimeToken(Kind kind) { return kind >= Kind::Hour12Two && kind <= Kind::AmPm; }

std::string Padded(int value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

// The input of ParseDateTimeText with a position counted in characters.
class Input {
 public:
  explicit Input(std::string_view text) : text_(text) {}

  // The next `count` characters (fewer at the end), advancing past them.
  std::string_view Take(size_t count) {
    size_t begin = pos_;
    for (size_t i = 0; i < count && pos_ < text_.size(); ++i) Utf8Next(text_, pos_);
    return text_.substr(begin, pos_ - begin);
  }
  void Skip(size_t count) { Take(count); }
  bool IsDigitAt(size_t offset) const {
    return pos_ + offset < text_.size() && text_[pos_ + offset] >= '0' && text_[pos_ + offset] <= '9';
  }
  std::string_view Rest() const { return text_.substr(pos_); }
  void SkipBytes(size_t bytes) { pos_ = std::min(text_.size(), pos_ + bytes); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The integer parse of the value conversions: leading blanks, an optional
// sign, "$", "x" or "0x" for hexadecimal; the whole field must be a number.
// The field is a 16-bit unsigned number: anything above 65535 (or below 0)
// is a range error.
int ParseField(std::string_view field) {
  auto invalid = [&]() {
    std::string message = "'";
    message.append(field).append("' is not a valid integer value");
    return Exception(message);
  };
  size_t pos = 0;
  while (pos < field.size() && field[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < field.size() && (field[pos] == '-' || field[pos] == '+')) negative = field[pos++] == '-';
  int base = 10;
  if (pos < field.size() && (field[pos] == '$' || field[pos] == 'x' || field[pos] == 'X')) {
    base = 16;
    ++pos;
  } else if (pos + 1 < field.size() && field[pos] == '0' && (field[pos + 1] == 'x' || field[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos >= field.size()) throw invalid();
  int64_t value = 0;
  for (; pos < field.size(); ++pos) {
    char c = field[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      throw invalid();
    }
    value = value * base + digit;
    if (value > 0xFFFFFF) value = 0xFFFFFF;  // already out of range; stop growing
  }
  if (negative) value = -value;
  if (value < 0 || value > 65535) throw Exception("Range check error");
  return static_cast<int>(value);
}

// One or two digits: one when the character after the first is no digit.
int ParseShortField(Input& input) { return ParseField(input.Take(input.IsDigitAt(1) ? 2 : 1)); }

// Longest locale name (of either width, preferred width first) matching the
// input at its position, ignoring case; 1-based number or 0.
int MatchName(Input& input, bool months, locale::NameWidth preferred) {
  const int count = months ? 12 : 7;
  const locale::NameWidth other =
      preferred == locale::NameWidth::Long ? locale::NameWidth::Short : locale::NameWidth::Long;
  const std::string_view rest = input.Rest();
  for (locale::NameWidth width : {preferred, other}) {
    int best = 0;
    size_t bestLength = 0;
    for (int i = 1; i <= count; ++i) {
      const std::string name = months ? locale::MonthName(i, width) : locale::DayName(i, width);
      if (name.empty() || name.size() <= bestLength || name.size() > rest.size()) continue;
      if (locale::CompareText(rest.substr(0, name.size()), name, true) == 0) {
        best = i;
        bestLength = name.size();
      }
    }
    if (best != 0) {
      input.SkipBytes(bestLength);
      return best;
    }
  }
  return 0;
}

int MatchRoman(Input& input) {
  const std::string_view rest = input.Rest();
  int best = 0;
  size_t bestLength = 0;
  for (int i = 0; i < 12; ++i) {
    std::string_view numeral = kRoman[i];
    if (numeral.size() > bestLength && numeral.size() <= rest.size() &&
        EqualAsciiNoCase(rest.substr(0, numeral.size()), numeral)) {
      best = i + 1;
      bestLength = numeral.size();
    }
  }
  input.SkipBytes(bestLength);
  return best;
}

// Digits present at the input position (up to maxDigits) are skipped; with
// none, `fallback` characters are.
void SkipDigits(Input& input, size_t maxDigits, size_t fallback) {
  size_t digits = 0;
  while (digits < maxDigits && input.IsDigitAt(digits)) ++digits;
  input.Skip(digits > 0 ? digits : fallback);
}

size_t LongestName(bool months, locale::NameWidth width) {
  size_t longest = 0;
  for (int i = 1; i <= (months ? 12 : 7); ++i) {
    longest = std::max(longest, (months ? locale::MonthName(i, width) : locale::DayName(i, width)).size());
  }
  return longest;
}

}  // namespace

TDateFormater::TDateFormater(std::string_view format) {
  std::string pending;
  auto flush = [&]() {
    if (!pending.empty()) {
      tokens_.push_back({Kind::Literal, pending});
      pending.clear();
    }
  };
  size_t pos = 0;
  while (pos < format.size()) {
    const char c = format[pos];
    if (c == '\'' || c == '"') {
      size_t end = format.find(c, pos + 1);
      if (end == std::string_view::npos) end = format.size();
      pending.append(format.substr(pos + 1, end - pos - 1));
      pos = end + 1;
      continue;
    }
    bool matched = false;
    for (size_t length = std::min(kLongestTokenName, format.size() - pos); length > 0 && !matched; --length) {
      const std::string_view candidate = format.substr(pos, length);
      for (const TokenName& token : kTokenNames) {
        if (token.name.size() == length && EqualAsciiNoCase(candidate, token.name)) {
          flush();
          tokens_.push_back({token.kind, std::string(candidate)});
          pos += length;
          matched = true;
          break;
        }
      }
    }
    if (!matched) pending += format[pos++];
  }
  flush();
}

std::string TDateFormater::FormatDateTimeText(TDateTime value) const {
  int32_t dayNumber = 0;
  int32_t ms = 0;
  DateTimeToDayNumber(value, dayNumber, ms);
  int year = 0;
  int month = 0;
  int day = 0;
  DecodeDayNumber(dayNumber, year, month, day);
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milli = 0;
  DecodeTimeMs(ms, hour, minute, second, milli);
  // A 12-hour clock shows 12 for the hours 0 and 12.
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;

  std::string out;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.kind) {
      case Kind::Literal: out += token.text; break;
      case Kind::Year4: out += Padded(year, 4); break;
      case Kind::Year2: out += Padded(((year % 100) + 100) % 100, 2); break;
      case Kind::Quarter: out += std::to_string((month - 1) / 3 + 1); break;
      case Kind::MonthLongName: out += locale::MonthName(month, locale::NameWidth::Long); break;
      case Kind::MonthShortName: out += locale::MonthName(month, locale::NameWidth::Short); break;
      case Kind::Month2: out += Padded(month, 2); break;
      case Kind::Month: out += std::to_string(month); break;
      case Kind::MonthRoman: out += kRoman[month - 1]; break;
      case Kind::DayShortName: out += locale::DayName(DayOfWeek(dayNumber), locale::NameWidth::Short); break;
      case Kind::Day2: out += Padded(day, 2); break;
      case Kind::DayLongName: out += locale::DayName(DayOfWeek(dayNumber), locale::NameWidth::Long); break;
      case Kind::DayOfYear: out += std::to_string(DayOfYear(dayNumber)); break;
      case Kind::DayOfWeek: out += std::to_string(DayOfWeek(dayNumber)); break;
      case Kind::Day: out += std::to_string(day); break;
      case Kind::Hour12Two: out += Padded(hour12, 2); break;
      case Kind::Hour24Two: out += Padded(hour, 2); break;
      case Kind::Hour12: out += std::to_string(hour12); break;
      case Kind::Hour24: out += std::to_string(hour); break;
      case Kind::Minute2: out += Padded(minute, 2); break;
      case Kind::Minute: out += std::to_string(minute); break;
      case Kind::Second2: out += Padded(second, 2); break;
      case Kind::Second: out += std::to_string(second); break;
      case Kind::AmPm: out += hour >= 12 ? "PM" : "AM"; break;
      default: throw Exception("Unknown DateFormatType");
    }
  }
  return out;
}

TDateTime TDateFormater::ParseDateTimeText(std::string_view text) const {
  Input input(text);
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool twelveHourField = false;
  bool am = false;
  bool pm = false;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.kind) {
      case Kind::Literal: input.Skip(Utf8CharCount(token.text)); break;
      case Kind::Year4: year = ParseField(input.Take(4)); break;
      case Kind::Year2: year = datetext::TwoDigitYear(ParseField(input.Take(2))); break;
      // The first month of the quarter (a later month field overrides it).
      case Kind::Quarter: month = 3 * ParseField(input.Take(1)) - 2; break;
      case Kind::MonthLongName:
      case Kind::MonthShortName: {
        const locale::NameWidth width =
            token.kind == Kind::MonthLongName ? locale::NameWidth::Long : locale::NameWidth::Short;
        if (int found = MatchName(input, true, width)) {
          month = found;
        } else {
          input.Skip(token.text.size());
        }
        break;
      }
      case Kind::Month2: month = ParseField(input.Take(2)); break;
      case Kind::Month: month = ParseShortField(input); break;
      case Kind::MonthRoman:
        if (int found = MatchRoman(input)) {
          month = found;
        } else {
          input.Skip(token.text.size());
        }
        break;
      case Kind::DayShortName:
      case Kind::DayLongName: {
        const locale::NameWidth width =
            token.kind == Kind::DayLongName ? locale::NameWidth::Long : locale::NameWidth::Short;
        if (MatchName(input, false, width) == 0) input.Skip(token.text.size());
        break;
      }
      case Kind::Day2: day = ParseField(input.Take(2)); break;
      case Kind::DayOfYear: SkipDigits(input, 3, token.text.size()); break;
      case Kind::DayOfWeek: SkipDigits(input, 1, token.text.size()); break;
      case Kind::Day: day = ParseShortField(input); break;
      case Kind::Hour12Two:
      case Kind::Hour12:
        hour = ParseShortField(input);
        twelveHourField = true;
        break;
      case Kind::Hour24Two: hour = ParseField(input.Take(2)); break;
      case Kind::Hour24: hour = ParseShortField(input); break;
      case Kind::Minute2: minute = ParseField(input.Take(2)); break;
      case Kind::Minute: minute = ParseShortField(input); break;
      case Kind::Second2: second = ParseField(input.Take(2)); break;
      case Kind::Second: second = ParseShortField(input); break;
      case Kind::AmPm: {
        const std::string_view word = input.Take(2);
        if (EqualAsciiNoCase(word, "PM")) {
          pm = true;
        } else if (EqualAsciiNoCase(word, "AM")) {
          am = true;
        } else {
          throw EVRXException("AM/PM word expected, but '%s' found", {word}, 30129);
        }
        break;
      }
      default: throw Exception("Unknown DateFormatType");
    }
  }
  // On a 12-hour clock 12 AM is midnight and 12 PM noon.
  if ((am || pm) && twelveHourField && hour == 12) hour = 0;
  if (pm) hour += 12;
  if (hour > 23 || minute > 59 || second > 59) throw Exception("Invalid argument to time encode");
  const int32_t ms = ((hour * 60 + minute) * 60 + second) * 1000;

  int32_t dayNumber = kDateTimeEpochDay;
  if (year != 0 && month != 0 && day != 0 && !TryEncodeDayNumber(year, month, day, dayNumber)) {
    throw Exception("Invalid argument to date encode");
  }
  return DayNumberToDateTime(dayNumber, ms);
}

int32_t TDateFormater::EstimatedLength() const {
  size_t total = 0;
  for (const TDateFormatToken& token : tokens_) {
    switch (token.kind) {
      case Kind::Literal: total += token.text.size(); break;
      case Kind::Year4: total += 4; break;
      case Kind::Quarter: total += 1; break;
      case Kind::MonthLongName: total += std::max<size_t>(9, LongestName(true, locale::NameWidth::Long)); break;
      case Kind::MonthShortName: total += std::max<size_t>(3, LongestName(true, locale::NameWidth::Short)); break;
      case Kind::DayShortName: total += std::max<size_t>(3, LongestName(false, locale::NameWidth::Short)); break;
      case Kind::DayLongName: total += std::max<size_t>(12, LongestName(false, locale::NameWidth::Long)); break;
      case Kind::MonthRoman: total += 4; break;  // "VIII"
      case Kind::DayOfYear: total += 3; break;   // up to "366"
      default: total += 2; break;
    }
  }
  return static_cast<int32_t>(total);
}

uint8_t TDateFormater::ResultKind() const {
  bool date = false;
  bool time = false;
  for (const TDateFormatToken& token : tokens_) {
    date = date || IsDateToken(token.kind);
    time = time || IsTimeToken(token.kind);
  }
  if (date && !time) return kDateFormatResultDate;
  if (time && !date) return kDateFormatResultTime;
  return kDateFormatResultDateTime;
}

}  // namespace vrx
