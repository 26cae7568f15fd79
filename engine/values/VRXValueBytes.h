// Reading and writing the storage encodings of fixed-size values beyond the
// plain little-endian integers and IEEE floats of engine/base/VRXBytes.h:
// the x87 80-bit extended format, the DATETIME pair and LOGICAL. Used by the
// value, the conversions, the comparison and the arithmetic; records and
// keys may use them as well.
// Every reader takes the buffer and never reads past the bytes named.
#pragma once

#include <cstdint>

#include "engine/base/VRXBytes.h"
#include "engine/values/VRXTypes.h"

namespace vrx {

// A DATETIME value: day number (1 = 1 January of year 1), then the
// milliseconds within the day.
struct TVRXDateTimeValue {
  int32_t Date = 0;
  int32_t Time = 0;
};

namespace bytes {

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
