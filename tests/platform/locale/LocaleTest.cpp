// Locale services in the run's locale (en_US or cs_CZ, see LocaleForTest.h).
#include "platform/locale/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/LocaleForTest.h"

namespace vrx::locale {
namespace {

using pelvaro::test::ScopedLocale;
using pelvaro::test::TestLocaleIsCzech;

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

std::u16string Wide(std::string_view utf8) {
  std::u16string out;
  // Test inputs are BMP only: decode 1- to 3-byte sequences.
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += c;
      i += 1;
    } else if (c < 0xE0) {
      out += static_cast<char16_t>((c & 0x1F) << 6 | (utf8[i + 1] & 0x3F));
      i += 2;
    } else {
      out += static_cast<char16_t>((c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F));
      i += 3;
    }
  }
  return out;
}

TEST(LocaleSettings, RunLocaleIsApplied) {
  EXPECT_EQ(LocaleName(), TestLocaleIsCzech() ? "cs_CZ" : "en_US");
}

TEST(LocaleSettings, NamesAreNormalised) {
  struct Case {
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"cs_CZ", "cs_CZ"},           {"cs_CZ.UTF-8", "cs_CZ"}, {"cs_CZ.utf8@euro", "cs_CZ"},
      {"cs-CZ", "cs_CZ"},           {"C", "en_US"},           {"POSIX", "en_US"},
      {"", "en_US"},                {"de_DE.UTF-8", "de_DE"},
  };
  for (const Case& c : cases) {
    ScopedLocale scoped(c.given);
    EXPECT_EQ(LocaleName(), c.expected) << c.given;
  }
}

TEST(LocaleSettings, EnvironmentLcAllWinsOverLang) {
  const char* oldAll = std::getenv("LC_ALL");
  const char* oldLang = std::getenv("LANG");
  std::string savedAll = oldAll ? oldAll : "";
  std::string savedLang = oldLang ? oldLang : "";
  {
    ScopedLocale restore("en_US");
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_ALL", "cs_CZ.UTF-8", 1);
    SetLocaleFromEnvironment();
    EXPECT_EQ(LocaleName(), "cs_CZ");
    unsetenv("LC_ALL");
    SetLocaleFromEnvironment();
    EXPECT_EQ(LocaleName(), "de_DE");
    EXPECT_EQ(DecimalSeparator(), ",");
  }
  if (oldAll) setenv("LC_ALL", savedAll.c_str(), 1); else unsetenv("LC_ALL");
  if (oldLang) setenv("LANG", savedLang.c_str(), 1); else unsetenv("LANG");
}

// Expected signs in English and in Czech.
struct CompareCase {
  const char* left;
  const char* right;
  bool ignoreCase;
  int32_t count;
  int english;
  int czech;
};

const CompareCase kCompareCases[] = {
    // "ch" is a letter of its own after "h" in Czech.
    {"chata", "hrad", false, -1, -1, 1},
    // "č" follows "c" as a letter of its own in Czech; an accent in English.
    {"cz", "čaj", false, -1, 1, -1},
    {"čaj", "dům", false, -1, -1, -1},
    // Accents count even when case does not.
    {"a", "á", true, -1, -1, -1},
    {"Žluť", "žluť", true, -1, 0, 0},
    {"ŽLUŤ", "žluť", false, -1, 1, 1},
    // Lower case first for otherwise equal letters.
    {"a", "A", false, -1, -1, -1},
    {"a", "A", true, -1, 0, 0},
    // String sort: hyphen and apostrophe are symbols, never ignored.
    {"co-op", "coop", false, -1, -1, -1},
    {"co-op", "coop", true, -1, -1, -1},
    {"o'neil", "oneil", true, -1, -1, -1},
    {"abc", "abd", false, -1, -1, -1},
    {"", "a", false, -1, -1, -1},
    {"", "", false, -1, 0, 0},
    // Character counts: the prefixes decide.
    {"abcX", "abcY", false, 3, 0, 0},
    {"abcX", "abcY", false, 4, -1, -1},
    // A cut in the middle of "č" (2 bytes) moves back before it.
    {"ač", "a", false, 2, 0, 0},
    {"ač", "ax", false, 3, -1, -1},
    {"abc", "ABC", true, 0, 0, 0},
};

class LocaleCompare : public testing::TestWithParam<CompareCase> {};

TEST_P(LocaleCompare, NarrowAndWideAgree) {
  const CompareCase& c = GetParam();
  const int expected = TestLocaleIsCzech() ? c.czech : c.english;
  EXPECT_EQ(Sign(CompareText(std::string_view(c.left), c.right, c.ignoreCase, c.count)), expected)
      << c.left << " / " << c.right;
  // Wide counts are code units; the narrow byte counts above only cut ASCII
  // prefixes or split "č", which has one unit: compare the wide texts over
  // the same characters.
  std::u16string left = Wide(c.left);
  std::u16string right = Wide(c.right);
  int32_t wideCount = c.count;
  if (std::string_view(c.left) == "ač" && c.count >= 0) wideCount = c.count == 2 ? 1 : 2;
  EXPECT_EQ(Sign(CompareText(std::u16string_view(left), right, c.ignoreCase, wideCount)), expected)
      << c.left << " / " << c.right << " (wide)";
  // Antisymmetric.
  EXPECT_EQ(Sign(CompareText(std::string_view(c.right), c.left, c.ignoreCase, c.count)), -expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocaleCompare, testing::ValuesIn(kCompareCases));

TEST(LocaleCompareText, TextEndsAtFirstZero) {
  EXPECT_EQ(CompareText(std::string_view("ab\0zz", 5), "ab", false), 0);
  EXPECT_EQ(CompareText(std::u16string_view(u"ab\0zz", 5), u"ab", false), 0);
}

TEST(LocaleCompareText, WideCutNeverSplitsSurrogatePair) {
  // U+1F600 is two code units; a count of 2 keeps "a" only.
  std::u16string left = u"a\U0001F600";
  std::u16string right = u"a\U0001F601";
  EXPECT_EQ(CompareText(std::u16string_view(left), right, false, 2), 0);
  EXPECT_NE(CompareText(std::u16string_view(left), right, false, 3), 0);
}

TEST(LocaleCompareText, FollowsLocaleSwitch) {
  {
    ScopedLocale czech("cs_CZ");
    EXPECT_GT(CompareText(std::string_view("chata"), "hrad", false), 0);
  }
  {
    ScopedLocale english("en_US");
    EXPECT_LT(CompareText(std::string_view("chata"), "hrad", false), 0);
  }
}

TEST(LocaleCase, UpperAndLower) {
  struct Case {
    const char* lower;
    const char* upper;
  };
  const Case cases[] = {
      {"příliš žluťoučký kůň", "PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ"},
      {"abc-1", "ABC-1"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UpperCase(std::string_view(c.lower)), c.upper);
    EXPECT_EQ(LowerCase(std::string_view(c.upper)), c.lower);
    EXPECT_EQ(UpperCase(std::u16string_view(Wide(c.lower))), Wide(c.upper));
    EXPECT_EQ(LowerCase(std::u16string_view(Wide(c.upper))), Wide(c.lower));
  }
  // Length may change.
  EXPECT_EQ(UpperCase(std::string_view("straße")), "STRASSE");
}

TEST(LocaleFormats, SeparatorsAndPatterns) {
  if (TestLocaleIsCzech()) {
    EXPECT_EQ(DecimalSeparator(), ",");
    EXPECT_EQ(ShortDateFormat(), "dd.MM.yyyy");
    EXPECT_EQ(LongTimeFormat(), "H:mm:ss");
    EXPECT_EQ(TimeAMString(), "dop.");
    EXPECT_EQ(TimePMString(), "odp.");
  } else {
    EXPECT_EQ(DecimalSeparator(), ".");
    EXPECT_EQ(ThousandSeparator(), ",");
    // Two-digit years widened; the narrow no-break space became a space.
    EXPECT_EQ(ShortDateFormat(), "M/d/yyyy");
    EXPECT_EQ(LongTimeFormat(), "h:mm:ss a");
    EXPECT_EQ(TimeAMString(), "AM");
    EXPECT_EQ(TimePMString(), "PM");
  }
}

TEST(LocaleFormats, MonthAndDayNames) {
  struct Case {
    int number;
    bool month;
    NameWidth width;
    const char* english;
    const char* czech;
  };
  const Case cases[] = {
      {1, true, NameWidth::Long, "January", "leden"},
      {3, true, NameWidth::Short, "Mar", "bře"},
      {3, true, NameWidth::Long, "March", "březen"},
      {12, true, NameWidth::Short, "Dec", "pro"},
      {1, false, NameWidth::Short, "Mon", "po"},
      {1, false, NameWidth::Long, "Monday", "pondělí"},
      {7, false, NameWidth::Long, "Sunday", "neděle"},
  };
  for (const Case& c : cases) {
    const std::string name = c.month ? MonthName(c.number, c.width) : DayName(c.number, c.width);
    EXPECT_EQ(name, TestLocaleIsCzech() ? c.czech : c.english) << c.number;
  }
  EXPECT_THROW(MonthName(0, NameWidth::Long), std::out_of_range);
  EXPECT_THROW(MonthName(13, NameWidth::Short), std::out_of_range);
  EXPECT_THROW(DayName(8, NameWidth::Short), std::out_of_range);
}

TEST(LocaleFormats, Currency) {
  const CurrencyFormat currency = Currency();
  EXPECT_EQ(currency.decimals, 2);
  if (TestLocaleIsCzech()) {
    EXPECT_EQ(currency.symbol, "Kč");
    const std::string text = FormatCurrency(1234.5);
    EXPECT_NE(text.find("234,50"), std::string::npos) << text;
    EXPECT_NE(text.find("Kč"), std::string::npos) << text;
  } else {
    EXPECT_EQ(currency.symbol, "$");
    EXPECT_EQ(FormatCurrency(1234.5), "$1,234.50");
  }
}

}  // namespace
}  // namespace vrx::locale
