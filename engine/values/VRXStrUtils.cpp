#include "engine/values/VRXStrUtils.h"


#include "platform/locale/Locale.h"

namespace vrx {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// ---- LIKE ----
//
// A matcher that recurses at every "%", trying the rest of the pattern
// at each remaining text position; that is exponential for patterns such as
// "%a%a%a%b". Remembering only the last "%" gives the same answers in
// O(text x pattern): an earlier "%" can never need to absorb more once a
// later one has been reached, because the later one can absorb it instead.

template <typename View>
char32_t Next(View text, size_t& pos);

template <>
char32_t Next(std::string_view text, size_t& pos) {
  return Utf8Next(text, pos);
}

template <>
char32_t Next(std::u16string_view text, size_t& pos) {
  return Utf16Next(text, pos);
}

// One pattern character against one text character: equal code points
// always match (case-sensitive identity needs no collator); otherwise the
// collation decides.
template <typename View>
bool SameCharacter(View text, size_t textPos, size_t textEnd, View pattern, size_t patPos,
                   size_t patEnd, bool ignoreCase) {
  View t = text.substr(textPos, textEnd - textPos);
  View p = pattern.substr(patPos, patEnd - patPos);
  if (t == p) return true;
  return locale::CompareText(t, p, ignoreCase) == 0;
}

template <typename View>
bool Match(View text, View pattern, bool ignoreCase) {
  size_t t = 0;
  size_t p = 0;
  // Where to resume after the last "%": the pattern after it, and the text
  // position it has absorbed up to.
  bool haveStar = false;
  size_t starPattern = 0;
  size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size()) {
      size_t pEnd = p;
      char32_t pc = Next(pattern, pEnd);
      if (pc == U'%') {
        haveStar = true;
        starPattern = pEnd;
        starText = t;
        p = pEnd;
        continue;
      }
      size_t tEnd = t;
      Next(text, tEnd);
      if (pc == U'_' || SameCharacter(text, t, tEnd, pattern, p, pEnd, ignoreCase)) {
        t = tEnd;
        p = pEnd;
        continue;
      }
    }
    if (!haveStar) return false;
    // Let the last "%" absorb one more character and retry after it.
    Next(text, starText);
    t = starText;
    p = starPattern;
  }
  // Text exhausted: what is left of the pattern must be "%" only.
  while (p < pattern.size()) {
    size_t pEnd = p;
    if (Next(pattern, pEnd) != U'%') return false;
    p = pEnd;
  }
  return true;
}

}  // namespace

bool MatchLikePattern(std::string_view text, std::string_view pattern, bool ignoreCase) {
  return Match(text, pattern, ignoreCase);
}

bool MatchLikePattern(std::u16string_view text, std::u16string_view pattern, bool ignoreCase) {
  return Match(text, pattern, ignoreCase);
}

size_t Utf8CutSize(std::string_view text, size_t maxBytes) {
  if (maxBytes >= text.size()) return text.size();
  size_t cut = maxBytes;
  // text[cut] is the first byte left out; if it continues a sequence, cut
  // before that sequence's lead byte (at most three steps back).
  for (int back = 0; back < 3 && cut > 0 && IsContinuation(static_cast<unsigned char>(text[cut])); ++back) {
    --cut;
  }
  if (IsContinuation(static_cast<unsigned char>(text[cut]))) return maxBytes;  // not UTF-8 here
  // The lead byte must really start a sequence long enough to reach past
  // maxBytes; otherwise the bytes in between are stray and cut as they are.
  size_t pos = cut;
  Utf8Next(text, pos);
  return pos > maxBytes ? cut : maxBytes;
}

std::string_view Utf8CutToSize(std::string_view text, size_t maxBytes) {
  return text.substr(0, Utf8CutSize(text, maxBytes));
}

size_t Utf16CutSize(std::u16string_view text, size_t maxUnits) {
  if (maxUnits >= text.size()) return text.size();
  if (maxUnits > 0 && text[maxUnits - 1] >= 0xD800 && text[maxUnits - 1] <= 0xDBFF &&
      text[maxUnits] >= 0xDC00 && text[maxUnits] <= 0xDFFF) {
    return maxUnits - 1;
  }
  return maxUnits;
}

std::u16string_view Utf16CutToSize(std::u16string_view text, size_t maxUnits) {
  return text.substr(0, Utf16CutSize(text, maxUnits));
}

char32_t Utf8Next(std::string_view text, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t length;
  char32_t cp;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++pos;
    return kReplacement;
  }
  if (pos + length > text.size()) {
    ++pos;
    return kReplacement;
  }
  for (size_t i = 1; i < length; ++i) {
    unsigned char c = byte(pos + i);
    if (!IsContinuation(c)) {
      ++pos;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kReplacement;
  }
  pos += length;
  return cp;
}

char32_t Utf16Next(std::u16string_view text, size_t& pos) {
  char16_t unit = text[pos++];
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (pos < text.size() && text[pos] >= 0xDC00 && text[pos] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[pos] - 0xDC00);
      ++pos;
      return cp;
    }
    return kReplacement;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF) return kReplacement;
  return unit;
}

size_t Utf8CharCount(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) Utf8Next(text, pos);
  return count;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t cp = Utf8Next(text, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t cp = Utf16Next(text, pos);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace vrx
