#include "engine/storage/compression/VRXCompression.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <exception>
#include <limits>

#include <bzlib.h>
#include <zlib.h>

#include "engine/storage/compression/ppmd/VRXPPMd.h"

namespace vrx {

namespace {

// Results are handed on with 32-bit sizes.
constexpr size_t kMaxBufferSize = static_cast<size_t>(std::numeric_limits<int32_t>::max());

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

constexpr std::array<std::string_view, 4> kAlgorithmNames = {"NONE", "ZLIB", "BZIP", "PPM"};

constexpr std::array<TVRXPPMParameters, 10> kPPMParameters = {{
    {0, 0}, {2, 2}, {3, 3}, {4, 7}, {5, 16}, {7, 22}, {8, 25}, {10, 40}, {13, 100}, {16, 100},
}};

// First output buffer of deflate and bzip2 compression: ample for
// incompressible data, so that the buffer rarely has to grow.
size_t CompressOutputEstimate(size_t size) { return (size + size / 10 + 267) / 256 * 256; }
constexpr size_t kCompressGrowStep = 256;

size_t RoundUp256(size_t size) { return (size + 255) / 256 * 256; }

// Grows `out` by `step`, within the 32-bit limit. False when it cannot.
bool Grow(std::vector<uint8_t>& out, size_t step) {
  if (out.size() >= kMaxBufferSize) return false;
  out.resize(std::min(out.size() + step, kMaxBufferSize));
  return true;
}

// What one call of a streaming coder reports.
enum class CodeStep {
  kFinished,  // the stream end was reached
  kNeedRoom,  // the output buffer is full; more is to come
  kFailed,    // a data or memory error, or truncated input
};

// The one loop of zlib and bzip2 in both directions: codes into `out`
// (first `firstSize` bytes), growing it by `step` whenever the coder fills
// it, within the 32-bit limit. `code(buffer, capacity)` continues the coder
// into the room after what it has written so far and returns its step;
// `produced()` tells how many bytes it has written. On success `out` holds
// exactly the coded bytes; on failure it is empty.
template <typename Code, typename Produced>
bool CodeIntoGrowingBuffer(std::vector<uint8_t>& out, size_t firstSize, size_t step, Code code,
                           Produced produced) {
  out.assign(firstSize, 0);
  bool ok = false;
  for (;;) {
    const CodeStep result = code(out.data(), out.size());
    if (result == CodeStep::kFinished) {
      ok = true;
      break;
    }
    if (result == CodeStep::kFailed || !Grow(out, step)) break;
  }
  out.resize(ok ? produced() : 0);
  return ok;
}

bool ZlibCompress(int level, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  z_stream s{};
  if (deflateInit(&s, level) != Z_OK) return false;
  s.next_in = const_cast<Bytef*>(data);
  s.avail_in = static_cast<uInt>(size);
  const bool ok = CodeIntoGrowingBuffer(
      out, CompressOutputEstimate(size), kCompressGrowStep,
      [&](uint8_t* buffer, size_t capacity) {
        s.next_out = buffer + s.total_out;
        s.avail_out = static_cast<uInt>(capacity - s.total_out);
        const int ret = deflate(&s, Z_FINISH);
        if (ret == Z_STREAM_END) return CodeStep::kFinished;
        if ((ret != Z_OK && ret != Z_BUF_ERROR) || s.avail_out != 0) return CodeStep::kFailed;
        return CodeStep::kNeedRoom;
      },
      [&] { return static_cast<size_t>(s.total_out); });
  deflateEnd(&s);
  return ok;
}

bool ZlibDecompress(const uint8_t* data, size_t size, size_t expectedSize,
                    std::vector<uint8_t>& out) {
  const size_t step =
      (expectedSize >= 1 && expectedSize <= 10000) ? expectedSize : RoundUp256(size);
  z_stream s{};
  if (inflateInit(&s) != Z_OK) return false;
  s.next_in = const_cast<Bytef*>(data);
  s.avail_in = static_cast<uInt>(size);
  const bool ok = CodeIntoGrowingBuffer(
      out, step, step,
      [&](uint8_t* buffer, size_t capacity) {
        s.next_out = buffer + s.total_out;
        s.avail_out = static_cast<uInt>(capacity - s.total_out);
        const int ret = inflate(&s, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) return CodeStep::kFinished;
        if (ret != Z_OK && ret != Z_BUF_ERROR) return CodeStep::kFailed;  // data or memory
        // Room left and no stream end: the input is exhausted, the data
        // truncated.
        return s.avail_out != 0 ? CodeStep::kFailed : CodeStep::kNeedRoom;
      },
      [&] { return static_cast<size_t>(s.total_out); });
  inflateEnd(&s);
  return ok;
}

uint64_t BzipTotalOut(const bz_stream& s) {
  return (static_cast<uint64_t>(s.total_out_hi32) << 32) | s.total_out_lo32;
}

bool BzipCompress(int blockSize100k, const uint8_t* data, size_t size,
                  std::vector<uint8_t>& out) {
  bz_stream s{};
  if (BZ2_bzCompressInit(&s, blockSize100k, 0, 0) != BZ_OK) return false;
  s.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
  s.avail_in = static_cast<unsigned>(size);
  const bool ok = CodeIntoGrowingBuffer(
      out, CompressOutputEstimate(size), kCompressGrowStep,
      [&](uint8_t* buffer, size_t capacity) {
        const size_t done = BzipTotalOut(s);
        s.next_out = reinterpret_cast<char*>(buffer + done);
        s.avail_out = static_cast<unsigned>(capacity - done);
        const int ret = BZ2_bzCompress(&s, BZ_FINISH);
        if (ret == BZ_STREAM_END) return CodeStep::kFinished;
        if (ret != BZ_FINISH_OK || s.avail_out != 0) return CodeStep::kFailed;
        return CodeStep::kNeedRoom;
      },
      [&] { return static_cast<size_t>(BzipTotalOut(s)); });
  BZ2_bzCompressEnd(&s);
  return ok;
}

bool BzipDecompress(const uint8_t* data, size_t size, size_t expectedSize,
                    std::vector<uint8_t>& out) {
  const size_t first = (expectedSize >= 1 && expectedSize <= kMaxBufferSize) ? expectedSize
                                                                             : RoundUp256(size);
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return false;
  s.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
  s.avail_in = static_cast<unsigned>(size);
  const bool ok = CodeIntoGrowingBuffer(
      out, first, RoundUp256(size),
      [&](uint8_t* buffer, size_t capacity) {
        const size_t done = BzipTotalOut(s);
        s.next_out = reinterpret_cast<char*>(buffer + done);
        s.avail_out = static_cast<unsigned>(capacity - done);
        const int ret = BZ2_bzDecompress(&s);
        if (ret == BZ_STREAM_END) return CodeStep::kFinished;
        if (ret != BZ_OK) return CodeStep::kFailed;
        // As with inflate: room left without a stream end means truncated data.
        return s.avail_out != 0 ? CodeStep::kFailed : CodeStep::kNeedRoom;
      },
      [&] { return static_cast<size_t>(BzipTotalOut(s)); });
  BZ2_bzDecompressEnd(&s);
  return ok;
}

// The coder's own output limit: size + size / 20 + 50 bytes. A block that
// does not fit (incompressible data coded at a high order) fails like any
// other coder error; the coder stops as soon as it passes the limit.
bool PPMCompress(uint8_t mode, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  const TVRXPPMParameters p = PPMParametersForMode(mode);
  if (p.order == 0) return false;
  try {
    out = PPMdCompress(data, size, p.order, p.memoryMB, size + size / 20 + 50);
  } catch (const std::exception&) {  // EPPMdError, or no model memory
    out.clear();
    return false;
  }
  return true;
}

// Decodes up to the expected size; a block that ends earlier comes back
// shorter, so that the caller can report both sizes.
bool PPMDecompress(const uint8_t* data, size_t size, size_t expectedSize,
                   std::vector<uint8_t>& out) {
  try {
    out = PPMdDecompress(data, size, expectedSize, true);
  } catch (const std::exception&) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace

uint32_t CRC32(uint32_t start, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t crc = start;
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF];
  return crc;
}

uint8_t CompressionAlgorithmByName(std::string_view name) {
  for (size_t code = 0; code < kAlgorithmNames.size(); ++code) {
    const std::string_view known = kAlgorithmNames[code];
    if (known.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(name[i])) == known[i];
    if (same) return static_cast<uint8_t>(code);
  }
  return kCompressionNone;
}

std::string_view CompressionAlgorithmName(uint8_t algorithm) {
  return algorithm < kAlgorithmNames.size() ? kAlgorithmNames[algorithm] : std::string_view();
}

int32_t DefaultBlobBlockSize(uint8_t mode) {
  if (mode == 0) return 102400;
  if (mode <= 3) return 524288;
  if (mode <= 6) return 1048576;
  return 1572864;
}

TVRXPPMParameters PPMParametersForMode(uint8_t mode) {
  return mode < kPPMParameters.size() ? kPPMParameters[mode] : TVRXPPMParameters{0, 0};
}

bool CompressBuffer(uint8_t algorithm, uint8_t mode, const void* data, size_t size,
                    std::vector<uint8_t>& out) {
  out.clear();
  if (size == 0 || size > kMaxBufferSize || data == nullptr) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  bool ok = false;
  switch (algorithm) {
    case kCompressionZlib: ok = ZlibCompress(mode, bytes, size, out); break;
    case kCompressionBzip: ok = BzipCompress(mode, bytes, size, out); break;
    case kCompressionPPM: ok = PPMCompress(mode, bytes, size, out); break;
    default: break;
  }
  if (!ok || out.empty()) {
    out.clear();
    return false;
  }
  return true;
}

bool DecompressBuffer(uint8_t algorithm, const void* data, size_t size, size_t expectedSize,
                      std::vector<uint8_t>& out) {
  out.clear();
  if (size == 0 || size > kMaxBufferSize || data == nullptr) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  bool ok = false;
  switch (algorithm) {
    case kCompressionZlib: ok = ZlibDecompress(bytes, size, expectedSize, out); break;
    case kCompressionBzip: ok = BzipDecompress(bytes, size, expectedSize, out); break;
    case kCompressionPPM: ok = PPMDecompress(bytes, size, expectedSize, out); break;
    default: break;
  }
  if (!ok) out.clear();
  return ok;
}

}  // namespace vrx
