// The carryless range coder (Subbotin's scheme) under the PPMd model: 32-bit
// low and range, a byte is shifted out whenever the top byte of the interval
// is settled or the range falls below 2^15 (the range is then cut to the next
// 2^24 boundary). Totals must not exceed 2^15. Used only by VRXPPMdModel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/storage/compression/ppmd/VRXPPMd.h"

namespace vrx::ppmd {

inline constexpr uint32_t kRangeTop = 1u << 24;
inline constexpr uint32_t kRangeBottom = 1u << 15;
inline constexpr unsigned kBinTotalBits = 14;  // binary contexts code with total 2^14
inline constexpr uint32_t kBinScale = 1u << kBinTotalBits;

class RangeEncoder {
 public:
  // Appends to `out`; throws EPPMdError once `out` would pass `limit` bytes.
  RangeEncoder(std::vector<uint8_t>& out, size_t limit) : out_(out), limit_(limit) {}

  // Codes the interval [start, start + size) of `total`.
  void Encode(uint32_t start, uint32_t size, uint32_t total) {
    if (size == 0 || total > range_) {
      throw EPPMdError("PPM model produced an interval the coder cannot represent");
    }
    range_ /= total;
    low_ += start * range_;
    range_ *= size;
    Normalize();
  }

  // Binary contexts: `size0` of 2^14 is the probability of bit 0.
  void EncodeBit0(uint32_t size0) {
    range_ = (range_ >> kBinTotalBits) * size0;
    Normalize();
  }
  void EncodeBit1(uint32_t size0) {
    range_ >>= kBinTotalBits;
    low_ += size0 * range_;
    range_ *= kBinScale - size0;
    Normalize();
  }

  // The coder's final 4 bytes.
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      Put(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
    }
  }

 private:
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kRangeTop) {
        if (range_ >= kRangeBottom) return;
        range_ = (0u - low_) & (kRangeBottom - 1);
      }
      Put(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
      range_ <<= 8;
    }
  }
  void Put(uint8_t byte) {
    if (out_.size() >= limit_) throw EPPMdError("PPM output exceeds the output limit");
    out_.push_back(byte);
  }

  std::vector<uint8_t>& out_;
  size_t limit_;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

class RangeDecoder {
 public:
  // Reads the first 4 code bytes; throws EPPMdError when they are missing.
  RangeDecoder(const uint8_t* data, size_t size) : pos_(data), end_(data + size) {
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | Next();
  }

  // The code value's place within `total` (call Decode next). A result of
  // `total` or more means damaged data; the caller checks.
  uint32_t GetThreshold(uint32_t total) {
    if (total == 0 || total > range_) {
      throw EPPMdError("PPM model produced an interval the coder cannot represent");
    }
    range_ /= total;
    return (code_ - low_) / range_;
  }
  void Decode(uint32_t start, uint32_t size) {
    low_ += start * range_;
    range_ *= size;
    Normalize();
  }

  // Binary contexts, total 2^14.
  uint32_t GetBinThreshold() {
    range_ >>= kBinTotalBits;
    return (code_ - low_) / range_;
  }
  void DecodeBit0(uint32_t size0) {
    range_ *= size0;
    Normalize();
  }
  void DecodeBit1(uint32_t size0) {
    low_ += size0 * range_;
    range_ *= kBinScale - size0;
    Normalize();
  }

  // After the last symbol of a whole block the decoder has read exactly the
  // encoder's final 4 bytes, which are the encoder's low: the code value
  // then equals low. Anything else means the data was damaged.
  bool EndsCleanly() const { return code_ == low_; }

 private:
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kRangeTop) {
        if (range_ >= kRangeBottom) return;
        range_ = (0u - low_) & (kRangeBottom - 1);
      }
      code_ = (code_ << 8) | Next();
      low_ <<= 8;
      range_ <<= 8;
    }
  }
  uint32_t Next() {
    if (pos_ == end_) throw EPPMdError("PPM data ends before the end-of-data mark");
    return *pos_++;
  }

  const uint8_t* pos_;
  const uint8_t* end_;
  uint32_t low_ = 0;
  uint32_t code_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

}  // namespace vrx::ppmd
