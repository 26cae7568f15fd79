// Tests of the process's random numbers and temporary file names.
#include "engine/base/VRXRandom.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace vrx {
namespace {

TEST(Random, StaysInRangeAndCoversIt) {
  EXPECT_EQ(VRXRandom(0), 0u);
  EXPECT_EQ(VRXRandom(1), 0u);
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    uint32_t value = VRXRandom(7);
    ASSERT_LT(value, 7u);
    seen.insert(value);
  }
  EXPECT_EQ(seen.size(), 7u);
}

TEST(Random, SeedRepeatsTheSequence) {
  auto draw = [] {
    std::vector<uint32_t> values;
    for (int i = 0; i < 20; ++i) values.push_back(VRXRandom(1'000'000));
    return values;
  };
  VRXRandomSeed(42);
  const std::vector<uint32_t> first = draw();
  VRXRandomSeed(42);
  EXPECT_EQ(draw(), first);
  VRXRandomSeed(43);
  EXPECT_NE(draw(), first);
}

TEST(RandomSuffixName, NameThenNumberBelowAMillion) {
  const std::string prefix = "TEMPORARY_TABLE_";
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    const std::string name = RandomSuffixName(prefix);
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
    const std::string digits = name.substr(prefix.size());
    ASSERT_FALSE(digits.empty());
    ASSERT_LE(digits.size(), 6u) << name;
    ASSERT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << name;
    ASSERT_TRUE(digits == "0" || digits[0] != '0') << name;
    names.insert(name);
  }
  EXPECT_GT(names.size(), 150u);  // drawn, not constant
}

TEST(TemporaryFileName, NewFileWithVrxPrefixInTemporaryDirectory) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  const std::string dir = std::filesystem::current_path().string();
  setenv("TMPDIR", dir.c_str(), 1);
  const std::string first = TemporaryFileName();
  const std::string second = TemporaryFileName();
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");

  for (const std::string& name : {first, second}) {
    const std::filesystem::path path(name);
    EXPECT_EQ(path.parent_path().string(), dir);
    EXPECT_EQ(path.filename().string().rfind("VRX", 0), 0u) << name;
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
  }
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace vrx
