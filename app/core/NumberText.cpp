#include "app/core/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "app/core/CoreErrors.h"

namespace pelvaro {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void InvalidInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

}  // namespace

int32_t StrToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) InvalidInteger(text);
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) InvalidInteger(text);
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{1} << 31) InvalidInteger(text);
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) InvalidInteger(text);
  return static_cast<int32_t>(value);
}

double StrToFloat(std::string_view text, char decimalSeparator) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  // Rewritten into the form std::from_chars reads, which knows no locale.
  std::string plain;
  size_t i = begin;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') plain += '-';
    ++i;
  }
  int digits = 0;
  while (i < end && IsDigit(text[i])) plain += text[i++], ++digits;
  if (i < end && text[i] == decimalSeparator) {
    plain += '.';
    ++i;
    while (i < end && IsDigit(text[i])) plain += text[i++], ++digits;
  }
  if (digits == 0) InvalidFloat(text);
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    int exponentDigits = 0;
    while (i < end && IsDigit(text[i])) plain += text[i++], ++exponentDigits;
    if (exponentDigits == 0) InvalidFloat(text);
  }
  if (i != end) InvalidFloat(text);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || ptr != plain.data() + plain.size() || !std::isfinite(value)) {
    InvalidFloat(text);
  }
  return value;
}

int32_t RoundToInt32(double value) {
  // nearbyint rounds in the current mode, which the process never changes
  // from round-to-nearest-even.
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) throw EInvalidOp();
  return static_cast<int32_t>(
      static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(rounded))));
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

}  // namespace pelvaro
