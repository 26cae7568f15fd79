// Little-endian reading and writing of fixed-size integers and IEEE floats:
// the one set of byte-order helpers of the engine. Every byte the engine
// puts on disk or into a key goes through these, never through a copy of a
// padded struct. Readers never touch more than the bytes their type names.
#pragma once

#include <bit>
#include <cstdint>

namespace vrx::bytes {

inline uint8_t LoadU8(const void* p) { return *static_cast<const unsigned char*>(p); }
inline int8_t LoadI8(const void* p) { return static_cast<int8_t>(LoadU8(p)); }
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
inline int16_t LoadI16(const void* p) { return static_cast<int16_t>(LoadU16(p)); }
inline int32_t LoadI32(const void* p) { return static_cast<int32_t>(LoadU32(p)); }
inline int64_t LoadI64(const void* p) { return static_cast<int64_t>(LoadU64(p)); }

inline void StoreU8(void* p, uint8_t v) { *static_cast<unsigned char*>(p) = v; }
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
inline void StoreI16(void* p, int16_t v) { StoreU16(p, static_cast<uint16_t>(v)); }
inline void StoreI32(void* p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }
inline void StoreI64(void* p, int64_t v) { StoreU64(p, static_cast<uint64_t>(v)); }

inline float LoadSingle(const void* p) { return std::bit_cast<float>(LoadU32(p)); }
inline double LoadDouble(const void* p) { return std::bit_cast<double>(LoadU64(p)); }
inline void StoreSingle(void* p, float v) { StoreU32(p, std::bit_cast<uint32_t>(v)); }
inline void StoreDouble(void* p, double v) { StoreU64(p, std::bit_cast<uint64_t>(v)); }

}  // namespace vrx::bytes
