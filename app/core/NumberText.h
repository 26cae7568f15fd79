// Number texts of the pairing grid and the matching files, and the 32-bit
// integer arithmetic of the pairing weights. Used by the pairing engine.
//
// Integers are plain decimal: leading blanks, an optional sign, digits, and
// nothing after them; the value must fit in 32 bits. Decimal numbers may have
// blanks on both sides, a sign, a fraction after the given separator and an
// exponent. Anything else raises EConvertError with the text quoted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelvaro {

int32_t StrToInt(std::string_view text);
double StrToFloat(std::string_view text, char decimalSeparator);

// Nearest integer, halves to the even neighbour, kept to its low 32 bits.
// Raises EInvalidOp when the value has no 64-bit integer form (too large,
// infinite or not a number).
int32_t RoundToInt32(double value);

// Two's complement 32-bit arithmetic: results wrap around instead of
// overflowing, as the weights have always been computed.
inline int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Mul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

std::string IntToStr(int64_t value);

}  // namespace pelvaro
