#include "engine/values/VRXValueBytes.h"

#include <cmath>

namespace vrx::bytes {

namespace {
constexpr int kExponentBias = 16383;
constexpr int kMaxExponent = 0x7FFF;
constexpr uint64_t kIntegerBit = 0x8000000000000000ull;
}  // namespace

long double LoadExtended(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  const uint64_t mantissa = LoadU64(b);
  const uint16_t signExp = LoadU16(b + 8);
  const bool negative = (signExp & 0x8000) != 0;
  const int exponent = signExp & 0x7FFF;
  long double value;
  if (exponent == kMaxExponent) {
    value = (mantissa << 1) == 0 ? HUGE_VALL : std::nanl("");
  } else if (exponent == 0) {
    // Denormal: value = mantissa * 2^(1 - bias - 63).
    value = std::ldexp(static_cast<long double>(mantissa), 1 - kExponentBias - 63);
  } else {
    value = std::ldexp(static_cast<long double>(mantissa), exponent - kExponentBias - 63);
  }
  return negative ? -value : value;
}

void StoreExtended(void* p, long double v) {
  auto* b = static_cast<unsigned char*>(p);
  const bool negative = std::signbit(v);
  uint64_t mantissa = 0;
  int exponent = 0;
  if (std::isnan(v)) {
    exponent = kMaxExponent;
    mantissa = 0xC000000000000000ull;
  } else if (std::isinf(v)) {
    exponent = kMaxExponent;
    mantissa = kIntegerBit;
  } else if (v != 0) {
    int e = 0;
    const long double m = std::frexp(std::fabs(v), &e);  // m in [0.5, 1)
    exponent = e - 1 + kExponentBias;
    if (exponent >= kMaxExponent) {  // cannot happen for a host long double of 15 exponent bits
      exponent = kMaxExponent;
      mantissa = kIntegerBit;
    } else if (exponent <= 0) {
      mantissa = static_cast<uint64_t>(std::ldexp(std::fabs(v), kExponentBias - 1 + 63));
      exponent = 0;
    } else {
      mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
    }
  }
  StoreU64(b, mantissa);
  StoreU16(b + 8, static_cast<uint16_t>((negative ? 0x8000 : 0) | exponent));
}

int64_t LoadIntegerOf(TVRXBaseFieldType type, const void* p) {
  switch (type) {
    case TVRXBaseFieldType::ShortInt:
      return LoadI8(p);
    case TVRXBaseFieldType::SmallInt:
      return LoadI16(p);
    case TVRXBaseFieldType::Integer:
      return LoadI32(p);
    case TVRXBaseFieldType::LargeInt:
      return LoadI64(p);
    case TVRXBaseFieldType::Byte:
      return LoadU8(p);
    case TVRXBaseFieldType::Word:
      return LoadU16(p);
    case TVRXBaseFieldType::Cardinal:
      return LoadU32(p);
    default:
      return 0;
  }
}

long double LoadNumberOf(TVRXBaseFieldType type, const void* p) {
  switch (type) {
    case TVRXBaseFieldType::Single:
      return LoadSingle(p);
    case TVRXBaseFieldType::Float:
    case TVRXBaseFieldType::Currency:
      return LoadDouble(p);
    case TVRXBaseFieldType::Extended:
      return LoadExtended(p);
    default:
      return static_cast<long double>(LoadIntegerOf(type, p));
  }
}

}  // namespace vrx::bytes
