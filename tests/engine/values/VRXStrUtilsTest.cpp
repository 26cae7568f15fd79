// LIKE matching, UTF-8 cutting and conversion; run in en_US and cs_CZ.
#include "engine/values/VRXStrUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/LocaleForTest.h"

namespace vrx {
namespace {

struct LikeCase {
  const char* text;
  const char* pattern;
  bool ignoreCase;
  bool expected;
};

const LikeCase kLikeCases[] = {
    {"abc", "a%", false, true},
    {"abc", "_b_", false, true},
    {"abc", "ab", false, false},
    {"ab", "abc", false, false},
    {"", "%", false, true},
    {"", "", false, true},
    {"", "_", false, false},
    {"abc", "%", false, true},
    {"abc", "%c", false, true},
    {"abc", "%b", false, false},
    {"abc", "a%c", false, true},
    {"abc", "%c%", false, true},
    {"abc", "a%b%c", false, true},
    {"abcbd", "a%b_", false, true},
    {"abcbd", "a%bc", false, false},
    // A "%" may stand for nothing, also when several close the pattern.
    {"abc", "abc%", false, true},
    {"a", "a%%", false, true},
    {"ab", "a%%b", false, true},
    {"abc", "%%%", false, true},
    // No escape character: "\" is an ordinary character.
    {"a\\b", "a\\_", false, true},
    // Case only when asked; accents always count.
    {"abc", "A%", false, false},
    {"abc", "A%", true, true},
    {"ŽLUŤ", "žluť", true, true},
    {"ŽLUŤ", "žluť", false, false},
    {"caj", "čaj", true, false},
    // "_" is one character, however many bytes it takes.
    {"žluť", "____", false, true},
    {"žluť", "_____", false, false},
    {"žluť", "_luť", false, true},
    {"kůň", "k_ň", false, true},
    {"a😀b", "a_b", false, true},
    // Czech "ch" is one letter when sorting, but LIKE compares characters.
    {"chata", "c%", false, true},
    {"chata", "_hata", false, true},
    // Many "%" against a long text that fails only at the end.
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "%a%a%a%a%a%a%a%a%a%a%a%a%b", false, false},
};

class LikeTest : public testing::TestWithParam<LikeCase> {};

TEST_P(LikeTest, NarrowAndWide) {
  const LikeCase& c = GetParam();
  EXPECT_EQ(MatchLikePattern(std::string_view(c.text), c.pattern, c.ignoreCase), c.expected)
      << "'" << c.text << "' LIKE '" << c.pattern << "'";
  const std::u16string text = Utf8ToUtf16(c.text);
  const std::u16string pattern = Utf8ToUtf16(c.pattern);
  EXPECT_EQ(MatchLikePattern(std::u16string_view(text), pattern, c.ignoreCase), c.expected)
      << "wide '" << c.text << "' LIKE '" << c.pattern << "'";
}

INSTANTIATE_TEST_SUITE_P(Cases, LikeTest, testing::ValuesIn(kLikeCases));

TEST(Utf8Cut, NeverSplitsASequence) {
  struct Case {
    std::string_view text;
    size_t maxBytes;
    size_t expected;
  };
  const Case cases[] = {
      {"abc", 2, 2},
      {"abc", 3, 3},
      {"abc", 10, 3},
      {"ač", 1, 1},
      {"ač", 2, 1},   // "č" is bytes 1-2
      {"ač", 3, 3},
      {"€x", 1, 0},   // "€" is three bytes
      {"€x", 2, 0},
      {"€x", 3, 3},
      {"😀", 3, 0},   // four bytes
      {"😀", 4, 4},
      {"", 0, 0},
      {"abc", 0, 0},
      // Stray continuation bytes are characters of their own.
      {"a\x80\x80" "b", 2, 2},
      // A lead byte whose sequence is cut short by the end of the text.
      {"a\xC4", 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8CutSize(c.text, c.maxBytes), c.expected) << c.text << " / " << c.maxBytes;
    EXPECT_EQ(Utf8CutToSize(c.text, c.maxBytes), c.text.substr(0, c.expected));
  }
}

TEST(Utf16Cut, NeverSplitsASurrogatePair) {
  const std::u16string text = u"a\U0001F600b";  // a, pair, b
  EXPECT_EQ(Utf16CutSize(text, 1), 1u);
  EXPECT_EQ(Utf16CutSize(text, 2), 1u);
  EXPECT_EQ(Utf16CutSize(text, 3), 3u);
  EXPECT_EQ(Utf16CutSize(text, 9), 4u);
  EXPECT_EQ(Utf16CutToSize(text, 2), u"a");
}

TEST(Utf8Conversion, RoundTripAndReplacement) {
  struct Case {
    std::string_view utf8;
    std::u16string_view utf16;
  };
  const Case cases[] = {
      {"Příliš žluťoučký kůň", u"Příliš žluťoučký kůň"},
      {"a😀", u"a\U0001F600"},
      {"", u""},
      {std::string_view("a\0b", 3), std::u16string_view(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
  // Invalid input becomes U+FFFD.
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong "/"
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8CharCount("žluť"), 4u);
  EXPECT_EQ(Utf8CharCount("a\xFF"), 2u);
}

}  // namespace
}  // namespace vrx
