// Text helpers of the engine: LIKE matching, UTF-8 cutting and UTF-8/UTF-16
// conversion. (Random numbers and temporary names: engine/base/VRXRandom.h.)
//
// Narrow text is UTF-8 (the engine's "ANSI" text); sizes count bytes and a
// cut never splits a sequence. Wide text is UTF-16 (char16_t).
//
// Used by the value conversions and comparisons, the expression evaluator
// (LIKE, CAST cuts), the B-tree key builder (cut keys), the query executor
// and the storage engine (temporary tables, indexes and files).
//
// Thread-safety: all functions are reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vrx {

// ---- names ----

// Equal when the texts differ only in the case of the ASCII letters a-z
// (keywords, date format names, index key names); other bytes must match.
bool EqualAsciiNoCase(std::string_view a, std::string_view b);

// ---- LIKE ----

// SQL LIKE without escape character: "%" matches any sequence of characters
// (also none), "_" exactly one character, every other pattern character one
// text character compared by the locale collation (platform/locale), case-
// insensitively when asked. Characters are code points (a UTF-8 sequence or
// a surrogate pair counts as one). The whole text must match.
bool MatchLikePattern(std::string_view text, std::string_view pattern, bool ignoreCase);
bool MatchLikePattern(std::u16string_view text, std::u16string_view pattern, bool ignoreCase);

// ---- UTF-8 / UTF-16 ----

// The largest length <= maxBytes at which `text` can be cut without
// splitting a UTF-8 sequence (text.size() when it already fits). Bytes that
// are not valid UTF-8 count as characters of their own.
size_t Utf8CutSize(std::string_view text, size_t maxBytes);
// text.substr(0, Utf8CutSize(text, maxBytes)).
std::string_view Utf8CutToSize(std::string_view text, size_t maxBytes);

// The same for UTF-16: never splits a surrogate pair.
size_t Utf16CutSize(std::u16string_view text, size_t maxUnits);
std::u16string_view Utf16CutToSize(std::u16string_view text, size_t maxUnits);

// Number of code points (invalid bytes count one each).
size_t Utf8CharCount(std::string_view text);

// Conversions; invalid UTF-8 and unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Decodes the code point at `pos` (which must be < text.size()) and advances
// `pos` past it; invalid or truncated sequences yield U+FFFD and advance by
// one byte.
char32_t Utf8Next(std::string_view text, size_t& pos);
// The same for UTF-16 (an unpaired surrogate yields U+FFFD, one unit).
char32_t Utf16Next(std::u16string_view text, size_t& pos);

}  // namespace vrx
