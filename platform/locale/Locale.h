// Locale services of the process: collation and case mapping of narrow
// (UTF-8) and wide (UTF-16) text, and the user's number, date, time and
// currency formats. The engine's value comparison, LIKE matching, UPPER and
// LOWER, date and number texts all go through here, so that one switch
// (SetLocale) changes them together.
//
// The settings are one process-wide object. Until SetLocale is called they
// are taken from the environment on first use (LC_ALL, else LANG; "C",
// "POSIX" or nothing mean "en_US"). Tests call SetLocale("en_US") or
// SetLocale("cs_CZ") so that they never depend on the machine.
//
// Thread-safety: every function may be called from any thread. The settings
// and the collators built for them live behind one mutex; SetLocale builds
// the new collators and formats once and swaps them in, so a comparison
// never pays for creating a collator.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vrx::locale {

// A failure of the underlying collation or formatting library. `code` is the
// library's own error number (an ICU UErrorCode), which callers put into
// their own messages.
class LocaleError : public std::runtime_error {
 public:
  LocaleError(const std::string& what, int32_t code) : std::runtime_error(what), code_(code) {}
  int32_t code() const noexcept { return code_; }

 private:
  int32_t code_;
};

// ---- settings ----

// Makes `name` the process locale. Accepted forms: "cs_CZ", "cs-CZ",
// "cs_CZ.UTF-8", "cs_CZ.utf8@euro" (the code set and modifier are dropped);
// "C", "POSIX" and "" mean "en_US". A name the library has no data for falls
// back to its root locale (it is not an error). Throws LocaleError only when
// the collators cannot be built at all.
void SetLocale(std::string_view name);

// Re-reads the environment (LC_ALL, else LANG) and applies it.
void SetLocaleFromEnvironment();

// The name in effect, normalised to "ll_CC" form (e.g. "cs_CZ").
std::string LocaleName();

// ---- collation ----
//
// String-sort mode: punctuation, hyphen and apostrophe are ordinary symbols
// with their own weights (they are never ignored). Case-sensitive comparison
// distinguishes case as the locale does (lower before upper for equal
// letters); case-insensitive comparison still distinguishes accents.
//
// A text ends at its first zero character or at the end of the view,
// whichever comes first (so a fixed-size buffer with its terminator may be
// passed as a whole). `count` then limits the compared length: -1 (or any
// negative value) means the whole text; otherwise at most `count` bytes
// (narrow) or code units (wide) are compared, and a cut that would split a
// UTF-8 sequence or a surrogate pair is moved back to the start of that
// character. Invalid UTF-8 compares as U+FFFD.
//
// Returns -1 (left sorts first), 0 (equal) or +1. Throws LocaleError when
// the collation library fails.
int CompareText(std::string_view left, std::string_view right, bool ignoreCase,
                int32_t count = -1);
int CompareText(std::u16string_view left, std::u16string_view right, bool ignoreCase,
                int32_t count = -1);

// ---- case mapping (locale-aware; the result may differ in length) ----

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
std::u16string UpperCase(std::u16string_view text);
std::u16string LowerCase(std::u16string_view text);

// ---- numbers ----

// The decimal separator of the locale as UTF-8 ("." for en_US, "," for
// cs_CZ); the grouping separator likewise (may be a no-break space).
std::string DecimalSeparator();
std::string ThousandSeparator();

// ---- dates and times ----
//
// Patterns use the letters of ICU/CLDR date patterns: y M L d E c a H h k K
// m s S, quoted literals with '' for a quote. They are the locale's own
// patterns with two adjustments: a short date always shows the full year
// ("yy" becomes "yyyy", so that a date survives a round trip through text),
// and narrow or no-break spaces become ordinary spaces.

// The short date pattern ("M/d/yyyy" for en_US, "dd.MM.yyyy" for cs_CZ).
std::string ShortDateFormat();
// The long time pattern without time zone ("h:mm:ss a", "H:mm:ss").
std::string LongTimeFormat();
// The day-period words shown by "a" ("AM"/"PM" for en_US, "dop."/"odp." for
// cs_CZ).
std::string TimeAMString();
std::string TimePMString();

enum class NameWidth { Short, Long };

// Month names as the locale writes them standing alone (nominative), for
// months 1 (January) to 12. Throws std::out_of_range for other numbers.
std::string MonthName(int month, NameWidth width);

// Day names for days 1 (Monday) to 7 (Sunday). Throws std::out_of_range
// for other numbers.
std::string DayName(int dayOfWeek, NameWidth width);

// ---- currency ----

struct CurrencyFormat {
  std::string symbol;   // "$", "Kč"
  std::string pattern;  // the locale's currency pattern, e.g. "#,##0.00 ¤"
  int decimals = 2;     // digits after the decimal separator
};

CurrencyFormat Currency();

// The amount in the locale's currency form with symbol, e.g. "$1,234.50" or
// "1 234,50 Kč" (grouping and no-break spaces as the locale writes them).
std::string FormatCurrency(double amount);

}  // namespace vrx::locale
