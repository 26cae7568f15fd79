// Locale services on ICU. One immutable State holds everything derived from
// the locale name (collators, separators, patterns, names); SetLocale builds
// a new one outside the lock and swaps it in.
#include "platform/locale/Locale.h"

#include <unicode/coll.h>
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace vrx::locale {
namespace {

std::string ToUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// Narrow and no-break spaces (CLDR puts U+202F before "AM"/"PM" and U+00A0
// into some patterns) become ordinary spaces, so that what users type
// matches what we print.
std::string PlainSpaces(std::string_view text) {
  static constexpr std::string_view kNarrowNbsp = "\xE2\x80\xAF";
  static constexpr std::string_view kNbsp = "\xC2\xA0";
  std::string plain;
  plain.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const std::string_view rest = text.substr(pos);
    if (rest.starts_with(kNarrowNbsp) || rest.starts_with(kNbsp)) {
      plain.push_back(' ');
      pos += rest.starts_with(kNbsp) ? kNbsp.size() : kNarrowNbsp.size();
    } else {
      plain.push_back(text[pos++]);
    }
  }
  return plain;
}

// Every run of 'y' outside quotes becomes "yyyy".
std::string FullYears(std::string_view pattern) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '\'') {
      quoted = !quoted;
      out += c;
    } else if (!quoted && c == 'y') {
      while (i + 1 < pattern.size() && pattern[i + 1] == 'y') ++i;
      out += "yyyy";
    } else {
      out += c;
    }
  }
  return out;
}

// Removes zone fields (z Z v V O X x) outside quotes with the blanks before
// them: the engine's times carry no zone.
std::string WithoutZone(std::string_view pattern) {
  std::string out;
  bool quoted = false;
  for (char c : pattern) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && std::string_view("zZvVOXx").find(c) != std::string_view::npos) {
      while (!out.empty() && out.back() == ' ') out.pop_back();
      continue;
    }
    out += c;
  }
  return out;
}

std::string NormaliseName(std::string_view name) {
  std::string n(name.substr(0, name.find_first_of(".@")));
  for (char& c : n) {
    if (c == '-') c = '_';
  }
  if (n.empty() || n == "C" || n == "POSIX") n = "en_US";
  return n;
}

struct State {
  icu::Locale locale;
  std::string name;
  std::unique_ptr<icu::Collator> caseSensitive;
  std::unique_ptr<icu::Collator> caseInsensitive;
  std::string decimalSeparator;
  std::string thousandSeparator;
  std::string shortDate;
  std::string longTime;
  std::string am;
  std::string pm;
  std::array<std::array<std::string, 12>, 2> months;  // [NameWidth][month-1]
  std::array<std::array<std::string, 7>, 2> days;     // [NameWidth][Monday=0]
  CurrencyFormat currency;
  std::unique_ptr<icu::NumberFormat> currencyFormat;
};

void Check(UErrorCode status, const char* what) {
  if (U_FAILURE(status)) {
    throw LocaleError(std::string(what) + ": " + u_errorName(status), status);
  }
}

std::unique_ptr<icu::Collator> MakeCollator(const icu::Locale& locale, UColAttributeValue strength) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  Check(status, "collator");
  // String sort: punctuation is never ignored.
  collator->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
  collator->setAttribute(UCOL_STRENGTH, strength, status);
  Check(status, "collator attributes");
  return collator;
}

std::string PatternOf(icu::DateFormat* format) {
  icu::UnicodeString pattern;
  if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format)) simple->toPattern(pattern);
  return ToUtf8(pattern);
}

std::unique_ptr<State> BuildState(std::string_view requested) {
  auto state = std::make_unique<State>();
  std::string name = NormaliseName(requested);
  state->locale = icu::Locale::createCanonical(name.c_str());
  state->name = state->locale.getName();
  state->caseSensitive = MakeCollator(state->locale, UCOL_TERTIARY);
  state->caseInsensitive = MakeCollator(state->locale, UCOL_SECONDARY);

  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols decimals(state->locale, status);
  Check(status, "number symbols");
  state->decimalSeparator = ToUtf8(decimals.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
  state->thousandSeparator = ToUtf8(decimals.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));

  std::unique_ptr<icu::DateFormat> dateFormat(
      icu::DateFormat::createDateInstance(icu::DateFormat::kShort, state->locale));
  std::unique_ptr<icu::DateFormat> timeFormat(
      icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, state->locale));
  state->shortDate = dateFormat ? PlainSpaces(FullYears(PatternOf(dateFormat.get()))) : "M/d/yyyy";
  state->longTime = timeFormat ? PlainSpaces(WithoutZone(PatternOf(timeFormat.get()))) : "H:mm:ss";

  icu::DateFormatSymbols symbols(state->locale, status);
  Check(status, "date symbols");
  int32_t n = 0;
  const icu::UnicodeString* ampm = symbols.getAmPmStrings(n);
  state->am = n > 0 ? PlainSpaces(ToUtf8(ampm[0])) : "AM";
  state->pm = n > 1 ? PlainSpaces(ToUtf8(ampm[1])) : "PM";
  const icu::DateFormatSymbols::DtWidthType widths[2] = {icu::DateFormatSymbols::ABBREVIATED,
                                                         icu::DateFormatSymbols::WIDE};
  for (int w = 0; w < 2; ++w) {
    const icu::UnicodeString* months =
        symbols.getMonths(n, icu::DateFormatSymbols::STANDALONE, widths[w]);
    for (int m = 0; m < 12 && m < n; ++m) state->months[w][m] = ToUtf8(months[m]);
    // ICU numbers week days from 1 = Sunday; ours start on Monday.
    const icu::UnicodeString* days =
        symbols.getWeekdays(n, icu::DateFormatSymbols::STANDALONE, widths[w]);
    for (int d = 0; d < 7 && d + 1 < n; ++d) state->days[w][(d + 6) % 7] = ToUtf8(days[d + 1]);
  }

  state->currencyFormat.reset(icu::NumberFormat::createCurrencyInstance(state->locale, status));
  Check(status, "currency format");
  state->currency.decimals = state->currencyFormat->getMaximumFractionDigits();
  if (auto* decimal = dynamic_cast<icu::DecimalFormat*>(state->currencyFormat.get())) {
    icu::UnicodeString pattern;
    decimal->toPattern(pattern);
    state->currency.pattern = ToUtf8(pattern);
  }
  state->currency.symbol = ToUtf8(decimals.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
  return state;
}

std::string EnvironmentName() {
  for (const char* var : {"LC_ALL", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

std::mutex gMutex;
std::unique_ptr<State> gState;  // guarded by gMutex

// Callers hold gMutex.
const State& Current() {
  if (!gState) gState = BuildState(EnvironmentName());
  return *gState;
}

// The compared part of a narrow text: up to the first zero byte, then cut to
// `count` bytes at a character boundary.
std::string_view Limit(std::string_view text, int32_t count) {
  text = text.substr(0, text.find('\0'));
  if (count < 0 || static_cast<size_t>(count) >= text.size()) return text;
  size_t cut = static_cast<size_t>(count);
  size_t back = 0;
  while (cut > 0 && back < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
    ++back;
  }
  if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut = static_cast<size_t>(count);
  return text.substr(0, cut);
}

std::u16string_view Limit(std::u16string_view text, int32_t count) {
  text = text.substr(0, text.find(u'\0'));
  if (count < 0 || static_cast<size_t>(count) >= text.size()) return text;
  size_t cut = static_cast<size_t>(count);
  // Do not split a surrogate pair.
  if (cut > 0 && text[cut] >= 0xDC00 && text[cut] <= 0xDFFF && text[cut - 1] >= 0xD800 &&
      text[cut - 1] <= 0xDBFF) {
    --cut;
  }
  return text.substr(0, cut);
}

int Sign(UCollationResult result) { return result < 0 ? -1 : (result > 0 ? 1 : 0); }

}  // namespace

void SetLocale(std::string_view name) {
  std::unique_ptr<State> state = BuildState(name);
  std::lock_guard lock(gMutex);
  gState.swap(state);
}

void SetLocaleFromEnvironment() { SetLocale(EnvironmentName()); }

std::string LocaleName() {
  std::lock_guard lock(gMutex);
  return Current().name;
}

int CompareText(std::string_view left, std::string_view right, bool ignoreCase, int32_t count) {
  left = Limit(left, count);
  right = Limit(right, count);
  if (!ignoreCase && left == right) return 0;
  std::lock_guard lock(gMutex);
  const State& state = Current();
  UErrorCode status = U_ZERO_ERROR;
  const icu::Collator& collator = ignoreCase ? *state.caseInsensitive : *state.caseSensitive;
  UCollationResult result = collator.compareUTF8(icu::StringPiece(left.data(), static_cast<int32_t>(left.size())),
                                                 icu::StringPiece(right.data(), static_cast<int32_t>(right.size())),
                                                 status);
  Check(status, "collation");
  return Sign(result);
}

int CompareText(std::u16string_view left, std::u16string_view right, bool ignoreCase, int32_t count) {
  left = Limit(left, count);
  right = Limit(right, count);
  if (!ignoreCase && left == right) return 0;
  std::lock_guard lock(gMutex);
  const State& state = Current();
  UErrorCode status = U_ZERO_ERROR;
  const icu::Collator& collator = ignoreCase ? *state.caseInsensitive : *state.caseSensitive;
  UCollationResult result = collator.compare(left.data(), static_cast<int32_t>(left.size()), right.data(),
                                             static_cast<int32_t>(right.size()), status);
  Check(status, "collation");
  return Sign(result);
}

namespace {

icu::Locale CurrentIcuLocale() {
  std::lock_guard lock(gMutex);
  return Current().locale;
}

icu::UnicodeString FromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::u16string ToUtf16(const icu::UnicodeString& text) {
  return std::u16string(text.getBuffer(), static_cast<size_t>(text.length()));
}

icu::UnicodeString FromUtf16(std::u16string_view text) {
  return icu::UnicodeString(text.data(), static_cast<int32_t>(text.size()));
}

}  // namespace

std::string UpperCase(std::string_view text) { return ToUtf8(FromUtf8(text).toUpper(CurrentIcuLocale())); }
std::string LowerCase(std::string_view text) { return ToUtf8(FromUtf8(text).toLower(CurrentIcuLocale())); }
std::u16string UpperCase(std::u16string_view text) {
  return ToUtf16(FromUtf16(text).toUpper(CurrentIcuLocale()));
}
std::u16string LowerCase(std::u16string_view text) {
  return ToUtf16(FromUtf16(text).toLower(CurrentIcuLocale()));
}

std::string DecimalSeparator() {
  std::lock_guard lock(gMutex);
  return Current().decimalSeparator;
}

std::string ThousandSeparator() {
  std::lock_guard lock(gMutex);
  return Current().thousandSeparator;
}

std::string ShortDateFormat() {
  std::lock_guard lock(gMutex);
  return Current().shortDate;
}

std::string LongTimeFormat() {
  std::lock_guard lock(gMutex);
  return Current().longTime;
}

std::string TimeAMString() {
  std::lock_guard lock(gMutex);
  return Current().am;
}

std::string TimePMString() {
  std::lock_guard lock(gMutex);
  return Current().pm;
}

std::string MonthName(int month, NameWidth width) {
  if (month < 1 || month > 12) throw std::out_of_range("month number out of range");
  std::lock_guard lock(gMutex);
  return Current().months[width == NameWidth::Long ? 1 : 0][month - 1];
}

std::string DayName(int dayOfWeek, NameWidth width) {
  if (dayOfWeek < 1 || dayOfWeek > 7) throw std::out_of_range("day of week out of range");
  std::lock_guard lock(gMutex);
  return Current().days[width == NameWidth::Long ? 1 : 0][dayOfWeek - 1];
}

CurrencyFormat Currency() {
  std::lock_guard lock(gMutex);
  return Current().currency;
}

std::string FormatCurrency(double amount) {
  std::lock_guard lock(gMutex);
  icu::UnicodeString out;
  Current().currencyFormat->format(amount, out);
  return ToUtf8(out);
}

}  // namespace vrx::locale
