// Locale of a test run. Tests that depend on the locale are registered twice
// under CTest, with PELVARO_TEST_LOCALE=en_US and =cs_CZ; including this
// header makes the executable apply that locale before the first test runs
// (en_US when the variable is missing), so no test depends on the machine.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/locale/Locale.h"

namespace pelvaro::test {

// The locale this run was asked for ("en_US" or "cs_CZ").
inline std::string TestLocaleName() {
  const char* value = std::getenv("PELVARO_TEST_LOCALE");
  return value != nullptr && *value != '\0' ? value : "en_US";
}

inline bool TestLocaleIsCzech() { return TestLocaleName().rfind("cs", 0) == 0; }

// Switches to another locale for one scope and back to the run's locale.
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& name) { vrx::locale::SetLocale(name); }
  ~ScopedLocale() { vrx::locale::SetLocale(TestLocaleName()); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
};

class TestLocaleEnvironment : public testing::Environment {
 public:
  void SetUp() override { vrx::locale::SetLocale(TestLocaleName()); }
};

// One registration per executable (an inline variable is initialised once).
inline testing::Environment* const kTestLocaleEnvironment =
    testing::AddGlobalTestEnvironment(new TestLocaleEnvironment);

}  // namespace pelvaro::test
