// PPMd variant G coder: Dmitry Shkarin's PPMII context model (order-N
// contexts with information inheritance, SEE for escapes, binary-context
// coding, model restart when the model memory is used up) driving a
// carryless range coder. The buffer compression of the storage engine
// (compression algorithm "PPM") calls it for whole blocks.
//
// Block format: a 32-bit little-endian parameter word
//   ((memoryMB - 1) << 4) | (order - 1) | 0x6000
// (bits 12 to 15 hold 6, the variant letter G counted from A), then the
// range-coded symbols, ended by the end-of-data escape and the coder's final
// 4 bytes.
//
// Thread safety: every call builds its own model and coder and frees them
// before it returns; calls on different threads never share state.
// Memory: a coding allocates memoryMB megabytes of model memory (plus a few
// tens of kilobytes of tables) for its duration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/base/VRXExcept.h"

namespace vrx {

// Raised for every failure of the coder: invalid parameters, a parameter
// word that is not variant G, truncated or damaged coded data, coded data
// that decodes to more (or, unless allowed, fewer) bytes than expected, an
// output limit exceeded, or model memory that cannot be allocated. The text
// is for diagnostics only; callers map the failure to their own message.
class EPPMdError : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr int kPPMdMinOrder = 2;
inline constexpr int kPPMdMaxOrder = 16;
inline constexpr int kPPMdMinMemoryMB = 1;
inline constexpr int kPPMdMaxMemoryMB = 256;
inline constexpr uint32_t kPPMdVariantG = 6;  // 'G' - 'A'

struct PPMdParameters {
  int order = 0;
  int memoryMB = 0;
};

// The parameter word for `order` (2..16) and `memoryMB` (1..256).
// Throws EPPMdError when either is out of range.
uint32_t PPMdParameterWord(int order, int memoryMB);

// Order and memory of a parameter word. Throws EPPMdError when bits 12 to 31
// do not read 6 or the order is below 2.
PPMdParameters PPMdParseParameterWord(uint32_t word);

// Codes `size` bytes (size may be 0) as one block, parameter word included.
// Throws EPPMdError for invalid parameters, when the model memory cannot be
// allocated, or when the block would exceed `maxOutputSize` bytes (the
// coding then stops early).
std::vector<uint8_t> PPMdCompress(const uint8_t* data, size_t size, int order, int memoryMB,
                                  size_t maxOutputSize = std::numeric_limits<size_t>::max());

// Decodes one whole block as written by PPMdCompress. Exactly `expectedSize`
// bytes are expected: more fails, fewer fails unless `allowShorter` is set
// (then the bytes up to the end-of-data escape are returned). Any other
// damage that the decoder detects (bad parameter word, data ending before
// the end-of-data escape, a code value outside the coded range, final 4
// bytes that do not close the coded interval) fails too. The format has no
// checksum, so damage can still go unnoticed on rare occasions.
// The work is bounded by expectedSize and `size`; damaged data never makes
// it read or write outside the buffers. Bytes after the coder's final 4
// bytes are ignored. Throws EPPMdError.
std::vector<uint8_t> PPMdDecompress(const uint8_t* data, size_t size, size_t expectedSize,
                                    bool allowShorter = false);

}  // namespace vrx
