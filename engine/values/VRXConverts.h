// Conversion of values between storage types (ConvertValue), the owned
// value buffers it hands out, and the number texts behind it. Used by
// TVRXVariant (typed setters and getters, ChangeType), the comparison and
// arithmetic of values, and by record field access, which converts values
// into a field's storage type.
//
// Conversions exist only between these groups (from -> to):
//   text 1-4 and MEMO     -> text, numbers, dates, LOGICAL, CURRENCY, BLOB
//   numbers 5-14, dates   -> text, numbers, dates, LOGICAL, CURRENCY
//   LOGICAL               -> text, numbers 5-14, LOGICAL
//   CURRENCY              -> text, numbers 5-14, LOGICAL, CURRENCY
// BLOB, WIDEMEMO, BYTES and VARBYTES convert to nothing; nothing converts to
// MEMO, WIDEMEMO, BYTES or VARBYTES.
//
// Thread-safety: reentrant. Texts in the user's formats read the process
// locale (platform/locale) at the time of the call; no process-wide setting
// is changed, so "." parsing of floating numbers is safe beside other threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/base/VRXMemory.h"
#include "engine/values/VRXTypes.h"

namespace vrx {

// `size` (> 0) zero-filled bytes from the engine memory manager.
TVRXBuffer AllocValueBuffer(int32_t size);

struct TVRXConvertedValue {
  TVRXBuffer Data;
  int32_t Size = 0;
};

// True when ConvertValue supports the pair (the same type always converts:
// the bytes are copied).
bool CanConvert(TVRXBaseFieldType from, TVRXBaseFieldType to);

// The `size` bytes at `data`, a value of storage type `from`, as a new
// buffer of storage type `to`. Text results carry their terminator (an
// empty text is a buffer of one terminator). The source is not changed.
// Throws "Cannot cast from '%s' to '%s'" (30052) for a pair outside the
// table and (30051) when the data does not convert: text that is not a
// number or a date, and a number that does not fit the target type (no
// conversion wraps around or loses the integer part silently). A fixed-size
// source shorter than its type raises "Buffer size exceeded" (20056); a
// missing source "Value is Null" (30016).
TVRXConvertedValue ConvertValue(const void* data, int32_t size, TVRXBaseFieldType from,
                                TVRXBaseFieldType to);

// ConvertValue for storing into a field of declared `length`: a text result
// is cut to at most `length` characters, counted as the field counts them
// (bytes of UTF-8 text, never splitting a sequence; code units of wide
// text, never splitting a surrogate pair), so that it fits
// StorageSize(to, length). Other results are those of ConvertValue. A
// negative length raises "Buffer size exceeded" (20056).
TVRXConvertedValue ConvertValueToLength(const void* data, int32_t size, TVRXBaseFieldType from,
                                        TVRXBaseFieldType to, int32_t length);

// Raises "Buffer size exceeded" (20056) when `size` bytes cannot hold a
// value of `type`: fixed-size types need their StorageSize, ANSI text at
// least its terminator, wide text an even size of at least one unit.
void CheckValueSize(int32_t size, TVRXBaseFieldType type);

// The text held by a text or MEMO buffer: up to the first terminator (or
// the whole buffer for MEMO), never past `size` bytes.
std::string_view AnsiTextOf(const void* data, int32_t size, TVRXBaseFieldType type);
std::u16string WideTextOf(const void* data, int32_t size);

// A new text buffer of `type` (CHAR/STRING or WIDECHAR/WIDESTRING, or MEMO
// without terminator) holding `text`, converted between UTF-8 and UTF-16 as
// the type needs. MEMO of an empty text yields a null buffer and size 0.
TVRXConvertedValue MakeTextBuffer(std::string_view text, TVRXBaseFieldType type);
TVRXConvertedValue MakeTextBuffer(std::u16string_view text, TVRXBaseFieldType type);

// True when `v` lies in the range of the integer storage type `to` (the
// 64-bit LARGEINT holds every value); false for every other type.
bool IntegerFitsType(TVRXBaseFieldType to, int64_t v);

// ---- number texts ----

// Integer text: leading blanks, optional sign, "$", "x" or "0x" for
// hexadecimal, digits, nothing after. False when not such a text or out of
// the 64-bit range.
bool TextToInteger(std::string_view text, int64_t& value);

// Decimal number with "." as decimal separator whatever the locale,
// exponent allowed, blanks around ignored. False when not a number or out
// of range (a magnitude too small to represent reads as 0).
bool TextToFloat(std::string_view text, long double& value);

// Decimal number with the locale's decimal separator (the CURRENCY text).
bool TextToCurrency(std::string_view text, double& value);

// General format with `digits` significant digits and the locale's decimal
// separator: fixed notation while the value has at most `digits` integer
// digits and is at least 0.00001 in magnitude, else "1.5E20" / "1E-7";
// no trailing zeros. "NAN", "INF", "-INF" for the special values.
std::string FloatToText(long double value, int digits = 15);

// The amount rounded to four decimals, no trailing zeros, locale decimal
// separator, no grouping.
std::string CurrencyToText(double amount);

}  // namespace vrx
