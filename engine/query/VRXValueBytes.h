// Reading and writing the storage encodings of fixed-size values: explicit
// little-endian integers, IEEE binary32/binary64, the x87 80-bit extended
// format, and the DATETIME pair. Used by the value, the conversions, the
// comparison and the arithmetic; records and keys may use them as well.
// Every reader takes the buffer and never reads past the bytes named.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/query/VRXTypes.h"

namespace vrx {

// A DATETIME value: day number (1 = 1 January of year 1), then the
// milliseconds within the day.
struct TVRXDateTimeValue {
  int32_t Date = 0;
  int32_t Time = 0;
};

namespace bytes {

inline uint16_t LoadU16(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t LoadU32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t LoadU64(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint64_t>(LoadU32(b)) | (static_cast<uint64_t>(LoadU32(b + 4)) << 32);
}
inline void StoreU16(void* p, uint16_t v) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreU32(void* p, uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void StoreU64(void* p, uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  StoreU32(b, static_cast<uint32_t>(v));
  StoreU32(b + 4, static_cast<uint32_t>(v >> 32));
}

inline int8_t LoadI8(const void* p) {
  return static_cast<int8_t>(*static_cast<const unsigned char*>(p));
}
inline uint8_t LoadU8(const void* p) { return *static_cast<const unsigned char*>(p); }
inline int16_t LoadI16(const void* p) { return static_cast<int16_t>(LoadU16(p)); }
inline int32_t LoadI32(const void* p) { return static_cast<int32_t>(LoadU32(p)); }
inline int64_t LoadI64(const void* p) { return static_cast<int64_t>(LoadU64(p)); }
inline void StoreU8(void* p, uint8_t v) { *static_cast<unsigned char*>(p) = v; }

inline float LoadSingle(const void* p) { return std::bit_cast<float>(LoadU32(p)); }
inline double LoadDouble(const void* p) { return std::bit_cast<double>(LoadU64(p)); }
inline void StoreSingle(void* p, float v) { StoreU32(p, std::bit_cast<uint32_t>(v)); }
inline void StoreDouble(void* p, double v) { StoreU64(p, std::bit_cast<uint64_t>(v)); }

// The 10-byte x87 extended format: 64-bit mantissa with explicit integer
// bit, then sign and 15-bit exponent. Computed with frexp/ldexp so that the
// encoding does not depend on the host's long double layout.
long double LoadExtended(const void* p);
void StoreExtended(void* p, long double v);

inline TVRXDateTimeValue LoadDateTime(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return {LoadI32(b), LoadI32(b + 4)};
}
inline void StoreDateTime(void* p, TVRXDateTimeValue v) {
  auto* b = static_cast<unsigned char*>(p);
  StoreU32(b, static_cast<uint32_t>(v.Date));
  StoreU32(b + 4, static_cast<uint32_t>(v.Time));
}

// LOGICAL: any non-zero 16-bit word is true; true is written as 0xFFFF.
inline bool LoadLogical(const void* p) { return LoadU16(p) != 0; }
inline void StoreLogical(void* p, bool v) { StoreU16(p, v ? 0xFFFF : 0); }

// An integer storage type (SHORTINT to CARDINAL) widened to 64 bits; every
// integer type fits. 0 for other types.
int64_t LoadIntegerOf(TVRXBaseFieldType type, const void* p);
// An integer, floating or CURRENCY value as long double (exact for all of
// them on an x87 host). 0 for other types.
long double LoadNumberOf(TVRXBaseFieldType type, const void* p);

}  // namespace bytes
}  // namespace vrx
