#include "engine/query/lexer/VRXKeywords.h"

#include <algorithm>
#include <numeric>

namespace vrx {

namespace {

static_assert(kKeywords[229] == "ZONE" && kKeywords[230] == "PASSWORD" &&
              kKeywords[265] == "TRUNCATE");

// Keyword numbers ordered by their words, for a binary search.
constexpr std::array<uint16_t, kKeywordCount> kByWord = [] {
  std::array<uint16_t, kKeywordCount> order{};
  std::iota(order.begin(), order.end(), uint16_t{0});
  std::sort(order.begin(), order.end(),
            [](uint16_t a, uint16_t b) { return kKeywords[a] < kKeywords[b]; });
  return order;
}();

constexpr size_t kLongestKeyword = [] {
  size_t longest = 0;
  for (std::string_view word : kKeywords) longest = std::max(longest, word.size());
  return longest;
}();

// A word twice in the list would make the search ambiguous.
static_assert([] {
  for (size_t i = 1; i < kByWord.size(); ++i)
    if (kKeywords[kByWord[i - 1]] == kKeywords[kByWord[i]]) return false;
  return true;
}());

}  // namespace

uint16_t FindKeyword(std::string_view word) {
  if (word.empty() || word.size() > kLongestKeyword) return kNoKeyword;
  char upper[kLongestKeyword];
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const std::string_view key(upper, word.size());
  const auto it = std::lower_bound(kByWord.begin(), kByWord.end(), key,
                                   [](uint16_t n, std::string_view k) { return kKeywords[n] < k; });
  return it != kByWord.end() && kKeywords[*it] == key ? *it : kNoKeyword;
}

}  // namespace vrx
