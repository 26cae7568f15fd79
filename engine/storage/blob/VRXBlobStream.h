// The compressed BLOB stream: presents the value of one BLOB field as a plain
// byte stream while storing it in an underlying stream (normally a
// TVRXTemporaryStream that the BLOB storage fills and stores) as a sequence of
// independently compressed blocks. Reading a part decompresses only the
// blocks it touches; appending recompresses only the last block.
//
// Layout of compressed data (algorithms 1 to 3), from the start offset: a
// sequence of blocks, each a 20-byte little-endian header
//   int32 C (compressed size), int32 U (uncompressed size),
//   uint32 CRC-32 of the U bytes, int64 distance to the next header (20 + C)
// followed by C bytes in the algorithm's format. Every block but the last
// holds exactly the block size of uncompressed bytes. Algorithm 0 stores the
// raw bytes without blocks.
//
// Invariants between calls (compressed algorithms):
//  1. size = sum of U over the block index; compressed size = sum of C.
//  2. every indexed block but the last has U = block size.
//  3. the descriptor's block count and uncompressed size equal the index's.
//
// Writes only append: a write below the current size writes nothing.
// A failing compression, decompression or checksum leaves the index and the
// sizes as they were before the failing block. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/VRXStream.h"

namespace vrx {

// Handed by value to the stream; the BLOB storage reads the block count and
// the uncompressed size back after writing.
struct TVRXBLOBDescriptor {
  int32_t blockSize = 0;         // uncompressed bytes per block
  int64_t numBlocks = 0;         // blocks of the stored value (0 for a new value)
  int64_t uncompressedSize = 0;  // the value's length in bytes
  int64_t startOffset = 0;       // where the BLOB data begins in the underlying stream
  uint8_t compressionAlgorithm = 0;
  uint8_t compressionMode = 0;
};

struct TVRXCompressedStreamBlockHeader {
  static constexpr int kSize = 20;

  int32_t compressedSize = 0;
  int32_t uncompressedSize = 0;
  uint32_t crc32 = 0;
  int64_t nextHeaderDistance = 0;

  void Encode(uint8_t* out) const;  // kSize bytes
  static TVRXCompressedStreamBlockHeader Decode(const uint8_t* in);
};

// The block index: headers and their positions in the underlying stream.
// Capacity grows by a step that starts at 10 and doubles on every growth up
// to 10,000 (at least to the count asked for); shrinking more than the shrink
// step (10, doubling, up to 10,000) below the capacity reallocates; count 0
// frees both arrays.
class TVRXCompressedStreamBlockHeadersArray {
 public:
  int64_t Count() const { return count_; }
  int64_t Capacity() const { return capacity_; }
  void SetCount(int64_t count);
  // Makes room for `count` entries without changing the count.
  void Reserve(int64_t count);
  void Append(const TVRXCompressedStreamBlockHeader& header, int64_t position);

  TVRXCompressedStreamBlockHeader& Header(int64_t index) { return headers_[index]; }
  const TVRXCompressedStreamBlockHeader& Header(int64_t index) const { return headers_[index]; }
  int64_t Position(int64_t index) const { return positions_[index]; }

 private:
  void Reallocate(int64_t capacity);

  std::unique_ptr<TVRXCompressedStreamBlockHeader[]> headers_;
  std::unique_ptr<int64_t[]> positions_;
  int64_t count_ = 0;
  int64_t capacity_ = 0;
  int64_t growStep_ = 10;
  int64_t shrinkStep_ = 10;
};

class TVRXCompressedBLOBStream : public TVRXStream {
 public:
  // Opens the value described by `descriptor` in `underlying`, which the
  // caller owns and keeps alive. With `newValue` the value starts empty
  // (block size 0 takes the default of the mode). With
  // `tolerateShortStream` an underlying stream that ends early cuts the value
  // instead of failing. Errors: 10103, 10081, 10080, 10082, 10083, 10084,
  // and 10087 / 10088 for a header that breaks the block layout.
  TVRXCompressedBLOBStream(TVRXStream& underlying, bool tolerateShortStream, bool newValue,
                           const TVRXBLOBDescriptor& descriptor);

  using TVRXStream::Seek;
  using TVRXStream::SetSize;
  int64_t GetSize() override { return uncompressedSize_; }
  // Larger: appends zero bytes; smaller: cuts the block index and rewrites
  // the block that now ends the value.
  void SetSize(int64_t newSize) override;
  int32_t Read(void* buffer, int32_t count) override;
  // Appends at the end; a position beyond the end first fills the gap with
  // zero bytes; a position below the end writes nothing and returns 0.
  int32_t Write(const void* buffer, int32_t count) override;
  // Origin 0 sets, 1 adds to the position, 2 adds to the size; never touches
  // the blocks.
  int64_t Seek(int64_t offset, int origin) override;

  int64_t CompressedSize() const { return compressedSize_; }
  double CompressionRate() const { return compressionRate_; }
  const TVRXBLOBDescriptor& Descriptor() const { return descriptor_; }
  int32_t BlockSize() const { return blockSize_; }
  const TVRXCompressedStreamBlockHeadersArray& Blocks() const { return blocks_; }

  // Blocks decompressed and compressed since the stream was opened: lets
  // callers and tests see which work a read or write did.
  int64_t BlocksDecompressed() const { return blocksDecompressed_; }
  int64_t BlocksCompressed() const { return blocksCompressed_; }

 private:
  bool Compressed() const { return compressionAlgorithm_ != 0; }
  void ScanBlocks();
  void CheckScannedHeader(const TVRXCompressedStreamBlockHeader& header);
  // Makes block n's bytes current in loadedData_ (decompressing unless it
  // already is). Errors 10086 to 10089.
  void LoadBlock(int64_t n);
  // Compresses `length` bytes and writes them as a block at `position`;
  // returns the header written. Errors 10085, 10099, 10100, 10101.
  TVRXCompressedStreamBlockHeader StoreBlock(int64_t position, const uint8_t* data,
                                             int32_t length);
  void Extend(int64_t newSize);
  void Truncate(int64_t newSize);
  // Cuts the index to `blockCount` blocks and the value to `newSize` bytes.
  void SetTruncatedSize(int64_t newSize, int64_t blockCount);
  void UpdateTotals();

  TVRXStream& underlying_;
  bool tolerateShortStream_;
  TVRXCompressedStreamBlockHeadersArray blocks_;
  int64_t uncompressedSize_ = 0;
  int64_t compressedSize_ = 0;
  int64_t startOffset_ = 0;
  int64_t currentBlock_ = 0;
  int64_t position_ = 0;
  uint8_t compressionMode_ = 0;
  uint8_t compressionAlgorithm_ = 0;
  double compressionRate_ = 0;
  int32_t blockSize_ = 0;
  TVRXBLOBDescriptor descriptor_;

  // The decompressed bytes of block loadedBlock_ (-1: none), kept so that
  // sequential reads and appends do not decompress the same block again.
  int64_t loadedBlock_ = -1;
  std::vector<uint8_t> loadedData_;

  int64_t blocksDecompressed_ = 0;
  int64_t blocksCompressed_ = 0;
};

}  // namespace vrx
