#include "engine/query/lexer/VRXKeywords.h"

#include <algorithm>
#include <numeric>
#include <utility>

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

// For each initial letter A to Z, the range of kByWord holding its words.
constexpr std::array<std::pair<uint16_t, uint16_t>, 26> kByInitial = [] {
  std::array<std::pair<uint16_t, uint16_t>, 26> ranges{};
  for (size_t letter = 0; letter < ranges.size(); ++letter) {
    const char initial = static_cast<char>('A' + letter);
    uint16_t first = 0;
    while (first < kByWord.size() && kKeywords[kByWord[first]][0] < initial) ++first;
    uint16_t last = first;
    while (last < kByWord.size() && kKeywords[kByWord[last]][0] == initial) ++last;
    ranges[letter] = {first, last};
  }
  return ranges;
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
  if (upper[0] < 'A' || upper[0] > 'Z') return kNoKeyword;
  const std::string_view key(upper, word.size());
  const auto& [first, last] = kByInitial[static_cast<size_t>(upper[0] - 'A')];
  const auto it = std::lower_bound(kByWord.begin() + first, kByWord.begin() + last, key,
                                   [](uint16_t n, std::string_view k) { return kKeywords[n] < k; });
  return it != kByWord.begin() + last && kKeywords[*it] == key ? *it : kNoKeyword;
}

}  // namespace vrx
