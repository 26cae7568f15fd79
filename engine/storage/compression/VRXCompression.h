// Buffer compression of the engine: the compression algorithm codes and their
// names, the compression modes, the engine's CRC-32 and whole-buffer
// compression and decompression with zlib, bzip2 and the engine's own PPMd
// coder. Used by the compressed BLOB stream (BLOB blocks) and by the internal
// files of a database.
//
// Thread-safe: every call works on its own state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vrx {

// Compression algorithm codes as stored in field definitions and BLOB
// descriptors.
inline constexpr uint8_t kCompressionNone = 0;
inline constexpr uint8_t kCompressionZlib = 1;
inline constexpr uint8_t kCompressionBzip = 2;
inline constexpr uint8_t kCompressionPPM = 3;

inline constexpr uint8_t kMaxCompressionMode = 9;

// The engine's CRC-32: the reflected table of polynomial 0xEDB88320, processed
// byte by byte from `start`, with no final inversion ("abc" from 0 gives
// 0xCA6598D0). Returns `start` when there is no data. Chain calls by passing
// the previous result.
uint32_t CRC32(uint32_t start, const void* data, size_t size);

// "NONE", "ZLIB", "BZIP", "PPM" in any case give 0 to 3; any other text 0.
uint8_t CompressionAlgorithmByName(std::string_view name);
// The name of a code; empty for a code outside the table.
std::string_view CompressionAlgorithmName(uint8_t algorithm);

// Uncompressed bytes per BLOB block for a field created with block size 0:
// mode 0: 102,400; 1 to 3: 524,288; 4 to 6: 1,048,576; 7 to 9: 1,572,864.
int32_t DefaultBlobBlockSize(uint8_t mode);

// Model order and model memory of the PPM coder for a mode (1 to 9);
// {0, 0} for mode 0 or a mode outside the table, which cannot compress.
struct TVRXPPMParameters {
  int order;
  int memoryMB;
};
TVRXPPMParameters PPMParametersForMode(uint8_t mode);

// Compresses `size` bytes into `out` (replacing its content). The mode is the
// deflate level for ZLIB, the block size in units of 100,000 bytes for BZIP
// (mode 0 fails) and an index into the PPM parameter table (mode 0 fails).
// Fails (returns false) for algorithm 0 or an unknown one, size 0, any
// library or coder error, a PPM result that does not fit its output buffer
// of size + size / 20 + 50 bytes, and a result of 0 bytes.
bool CompressBuffer(uint8_t algorithm, uint8_t mode, const void* data, size_t size,
                    std::vector<uint8_t>& out);

// Decompresses one complete compressed buffer into `out`; `out.size()` is
// the actual uncompressed size. `expectedSize` sizes the first output buffer
// (0 when unknown) and, for PPM, is the number of bytes decoded. Fails for
// algorithm 0 or an unknown one, empty input, malformed or truncated data and
// results that would pass 2^31 - 1 bytes; never writes outside `out`.
bool DecompressBuffer(uint8_t algorithm, const void* data, size_t size, size_t expectedSize,
                      std::vector<uint8_t>& out);

}  // namespace vrx
