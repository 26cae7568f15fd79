// Internal to the date units (VRXDateFormat, VRXDateFormater): formatting
// with a locale date/time pattern and the lenient parsing of typed dates and
// times. Not for use elsewhere; the public entry points are in
// VRXDateFormat.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vrx::datetext {

// Formats with a pattern in ICU/CLDR letters (see locale::ShortDateFormat).
// dayOfWeek is 1 = Monday .. 7; ms the milliseconds within the day.
std::string FormatPattern(std::string_view pattern, int year, int month, int day, int dayOfWeek,
                          int32_t ms);

// Blanks (space, tab) removed at both ends.
std::string_view Trim(std::string_view text);

// The lenient readers behind TextToDate / TextToTime (text already trimmed).
bool ParseDate(std::string_view text, int32_t& dayNumber);
bool ParseTime(std::string_view text, int32_t& ms);

// The year meant by a year written with one or two digits: below 30 is 20xx,
// else 19xx.
int TwoDigitYear(int value);

}  // namespace vrx::datetext
