#include "engine/storage/blob/VRXBlobStream.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/compression/VRXCompression.h"
#include "engine/base/VRXExcept.h"

namespace vrx {

namespace {

constexpr int64_t kMaxStep = 10000;
constexpr int kHeaderSize = TVRXCompressedStreamBlockHeader::kSize;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

constexpr const char* kSeekMessage = "Cannot set stream position to %d. Position = %d, Size = %d";
constexpr const char* kStreamTooSmall = "Stream size = %d too small. Should be at least = %d";
constexpr const char* kInvalidSize = "Invalid stream size = %d. Should be = %d";

}  // namespace

// ------------------------------------------------------------ block header

void TVRXCompressedStreamBlockHeader::Encode(uint8_t* out) const {
  Put32(out, static_cast<uint32_t>(compressedSize));
  Put32(out + 4, static_cast<uint32_t>(uncompressedSize));
  Put32(out + 8, crc32);
  Put64(out + 12, static_cast<uint64_t>(nextHeaderDistance));
}

TVRXCompressedStreamBlockHeader TVRXCompressedStreamBlockHeader::Decode(const uint8_t* in) {
  TVRXCompressedStreamBlockHeader h;
  h.compressedSize = static_cast<int32_t>(Get32(in));
  h.uncompressedSize = static_cast<int32_t>(Get32(in + 4));
  h.crc32 = Get32(in + 8);
  h.nextHeaderDistance = static_cast<int64_t>(Get64(in + 12));
  return h;
}

// ------------------------------------------------------------- block index

void TVRXCompressedStreamBlockHeadersArray::Reallocate(int64_t capacity) {
  if (capacity == 0) {
    headers_.reset();
    positions_.reset();
    capacity_ = 0;
    return;
  }
  auto headers = std::make_unique<TVRXCompressedStreamBlockHeader[]>(static_cast<size_t>(capacity));
  auto positions = std::make_unique<int64_t[]>(static_cast<size_t>(capacity));
  const int64_t keep = std::min(count_, capacity);
  std::copy(headers_.get(), headers_.get() + keep, headers.get());
  std::copy(positions_.get(), positions_.get() + keep, positions.get());
  headers_ = std::move(headers);
  positions_ = std::move(positions);
  capacity_ = capacity;
}

void TVRXCompressedStreamBlockHeadersArray::Reserve(int64_t count) {
  if (count <= capacity_) return;
  Reallocate(std::max(capacity_ + growStep_, count));
  growStep_ = std::min(growStep_ * 2, kMaxStep);
}

void TVRXCompressedStreamBlockHeadersArray::SetCount(int64_t count) {
  count = std::max<int64_t>(count, 0);
  if (count == 0) {
    count_ = 0;
    Reallocate(0);
    return;
  }
  if (count > capacity_) {
    Reserve(count);
  } else if (capacity_ - count > shrinkStep_) {
    count_ = std::min(count_, count);
    Reallocate(count);
    shrinkStep_ = std::min(shrinkStep_ * 2, kMaxStep);
  }
  // Entries that become visible by growing start out empty.
  for (int64_t i = count_; i < count; ++i) {
    headers_[i] = TVRXCompressedStreamBlockHeader();
    positions_[i] = 0;
  }
  count_ = count;
}

void TVRXCompressedStreamBlockHeadersArray::Append(const TVRXCompressedStreamBlockHeader& header,
                                                   int64_t position) {
  Reserve(count_ + 1);
  headers_[count_] = header;
  positions_[count_] = position;
  ++count_;
}

// ------------------------------------------------------------ opening

TVRXCompressedBLOBStream::TVRXCompressedBLOBStream(TVRXStream& underlying,
                                                   bool tolerateShortStream, bool newValue,
                                                   const TVRXBLOBDescriptor& descriptor)
    : underlying_(underlying),
      tolerateShortStream_(tolerateShortStream),
      startOffset_(descriptor.startOffset),
      compressionMode_(descriptor.compressionMode),
      compressionAlgorithm_(descriptor.compressionAlgorithm),
      blockSize_(descriptor.blockSize),
      descriptor_(descriptor) {
  SeekChecked(underlying_, 10103, startOffset_);
  if (!Compressed()) {
    uncompressedSize_ = newValue ? 0 : descriptor_.uncompressedSize;
    if (!tolerateShortStream_ && underlying_.GetSize() < startOffset_ + uncompressedSize_)
      throw EVRXException(kStreamTooSmall, {underlying_.GetSize(), startOffset_ + uncompressedSize_},
                          10081);
    if (newValue) descriptor_.numBlocks = 0;
    if (blockSize_ <= 0) blockSize_ = DefaultBlobBlockSize(compressionMode_);
  } else {
    if (newValue) descriptor_.numBlocks = 0;
    // A stored value always has a block size; a missing one would leave the
    // block arithmetic without a divisor, so it takes the default too.
    if (blockSize_ <= 0) blockSize_ = DefaultBlobBlockSize(compressionMode_);
    ScanBlocks();
  }
  descriptor_.blockSize = blockSize_;
  descriptor_.uncompressedSize = uncompressedSize_;
  SetCopyBlockSize(blockSize_);
  UpdateTotals();
  position_ = 0;
  currentBlock_ = 0;
}

void TVRXCompressedBLOBStream::ScanBlocks() {
  int64_t position = underlying_.Position();
  if (position != startOffset_)
    throw EVRXException(kSeekMessage, {startOffset_, position, underlying_.GetSize()}, 10080);
  for (int64_t i = 0; i < descriptor_.numBlocks; ++i) {
    const int64_t streamSize = underlying_.GetSize();
    if (streamSize - position < kHeaderSize) {
      if (tolerateShortStream_) break;
      throw EVRXException(kStreamTooSmall, {streamSize, position + kHeaderSize}, 10082);
    }
    uint8_t bytes[kHeaderSize];
    ReadChecked(bytes, kHeaderSize, underlying_, 10084);
    const auto header = TVRXCompressedStreamBlockHeader::Decode(bytes);
    CheckScannedHeader(header);
    blocks_.Append(header, position);
    uncompressedSize_ += header.uncompressedSize;
    const int64_t next = position + header.nextHeaderDistance;
    // A distance that does not move past the header would scan the same
    // bytes again; such a header cannot have been written by this stream.
    if (header.nextHeaderDistance < kHeaderSize)
      throw EVRXException(kSeekMessage, {next, position + kHeaderSize, streamSize}, 10083);
    SeekChecked(underlying_, 10083, next);
    position = next;
  }
  descriptor_.numBlocks = blocks_.Count();
}

// Blocks are written only by this stream, so every block but the last holds
// exactly the block size and none is empty. A header that breaks this would
// make the value's size or the block arithmetic lie (a negative size reads as
// an empty value), so it is refused when the value is opened.
void TVRXCompressedBLOBStream::CheckScannedHeader(const TVRXCompressedStreamBlockHeader& header) {
  if (header.compressedSize < 1)
    throw EVRXException("Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {compressionAlgorithm_, header.compressedSize, header.uncompressedSize},
                        10087);
  if (header.uncompressedSize < 1 || header.uncompressedSize > blockSize_)
    throw EVRXException("Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {blockSize_, header.uncompressedSize}, 10088);
  const int64_t count = blocks_.Count();
  if (count > 0 && blocks_.Header(count - 1).uncompressedSize != blockSize_)
    throw EVRXException("Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {blockSize_, blocks_.Header(count - 1).uncompressedSize}, 10088);
}

void TVRXCompressedBLOBStream::UpdateTotals() {
  if (Compressed()) {
    compressedSize_ = 0;
    for (int64_t i = 0; i < blocks_.Count(); ++i)
      compressedSize_ += blocks_.Header(i).compressedSize;
  } else {
    compressedSize_ = uncompressedSize_;
  }
  compressionRate_ =
      (Compressed() && uncompressedSize_ > 0)
          ? (1.0 - static_cast<double>(compressedSize_) / static_cast<double>(uncompressedSize_)) *
                100.0
          : 0.0;
  descriptor_.numBlocks = Compressed() ? blocks_.Count() : 0;
  descriptor_.uncompressedSize = uncompressedSize_;
}

// ------------------------------------------------------------ blocks

void TVRXCompressedBLOBStream::LoadBlock(int64_t n) {
  if (n == loadedBlock_) return;
  loadedBlock_ = -1;
  loadedData_.clear();
  const TVRXCompressedStreamBlockHeader header = blocks_.Header(n);
  const int32_t c = header.compressedSize;
  const int32_t u = header.uncompressedSize;
  // No block this stream writes holds more than the block size; refusing
  // larger claims keeps a damaged header from sizing the output buffer.
  if (u < 0 || u > blockSize_)
    throw EVRXException("Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {compressionAlgorithm_, c, u}, 10087);
  const int64_t dataPosition = blocks_.Position(n) + kHeaderSize;
  SeekChecked(underlying_, 10086, dataPosition);
  const int64_t available = underlying_.GetSize() - dataPosition;
  if (c < 0 || c > available)
    throw StreamReadError(dataPosition, underlying_.GetSize(), c,
                          std::max<int64_t>(available, 0), 10086);
  std::vector<uint8_t> compressed(static_cast<size_t>(c));
  ReadChecked(compressed.data(), c, underlying_, 10086);
  ++blocksDecompressed_;
  std::vector<uint8_t> data;
  if (!DecompressBuffer(compressionAlgorithm_, compressed.data(), compressed.size(),
                        static_cast<size_t>(u), data))
    throw EVRXException("Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {compressionAlgorithm_, c, u}, 10087);
  if (data.size() != static_cast<size_t>(u))
    throw EVRXException("Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {data.size(), u}, 10088);
  const uint32_t crc = CRC32(0, data.data(), data.size());
  if (crc != header.crc32)
    throw EVRXException("Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d",
                        {crc, header.crc32}, 10089);
  loadedData_ = std::move(data);
  loadedBlock_ = n;
}

TVRXCompressedStreamBlockHeader TVRXCompressedBLOBStream::StoreBlock(int64_t position,
                                                                     const uint8_t* data,
                                                                     int32_t length) {
  std::vector<uint8_t> compressed;
  ++blocksCompressed_;
  if (!CompressBuffer(compressionAlgorithm_, compressionMode_, data, static_cast<size_t>(length),
                      compressed))
    throw EVRXException(
        "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
        {compressionAlgorithm_, compressionMode_, length, compressed.size()}, 10085);
  TVRXCompressedStreamBlockHeader header;
  header.compressedSize = static_cast<int32_t>(compressed.size());
  header.uncompressedSize = length;
  header.crc32 = CRC32(0, data, static_cast<size_t>(length));
  header.nextHeaderDistance = kHeaderSize + header.compressedSize;
  uint8_t bytes[kHeaderSize];
  header.Encode(bytes);
  SeekChecked(underlying_, 10099, position);
  WriteChecked(bytes, kHeaderSize, underlying_, 10100);
  WriteChecked(compressed.data(), header.compressedSize, underlying_, 10101);
  return header;
}

// ------------------------------------------------------------ stream ops

int32_t TVRXCompressedBLOBStream::Read(void* buffer, int32_t count) {
  if (count < 1 || position_ < 0) return 0;
  if (!Compressed()) {
    const auto wanted = static_cast<int32_t>(
        std::min<int64_t>(count, std::max<int64_t>(uncompressedSize_ - position_, 0)));
    if (wanted == 0) return 0;
    underlying_.Seek(startOffset_ + position_, kSeekBeginning);
    const int32_t n = underlying_.Read(buffer, wanted);
    if (n > 0) position_ += n;
    return std::max(n, 0);
  }
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t delivered = 0;
  while (position_ < uncompressedSize_ && delivered < count) {
    const int64_t n = position_ / blockSize_;
    const int64_t offset = position_ % blockSize_;
    int64_t step = 0;
    if (n < blocks_.Count()) {
      LoadBlock(n);
      currentBlock_ = n;
      step = std::min({static_cast<int64_t>(blockSize_) - offset,
                       static_cast<int64_t>(count - delivered), uncompressedSize_ - position_,
                       static_cast<int64_t>(loadedData_.size()) - offset});
    }
    // Only a block holding fewer bytes than its place in the value claims
    // gives no step: damaged data, not an end of the value.
    if (step <= 0) throw EVRXException("Cannot read from stream. ReadSize = %d", {0}, 10090);
    std::memcpy(out + delivered, loadedData_.data() + offset, static_cast<size_t>(step));
    delivered += static_cast<int32_t>(step);
    position_ += step;
  }
  return delivered;
}

int32_t TVRXCompressedBLOBStream::Write(const void* buffer, int32_t count) {
  if (!Compressed()) {
    if (count < 1 || position_ < 0) return 0;
    underlying_.Seek(startOffset_ + position_, kSeekBeginning);
    const int32_t n = underlying_.Write(buffer, count);
    position_ = underlying_.Position() - startOffset_;
    uncompressedSize_ = underlying_.GetSize() - startOffset_;
    UpdateTotals();
    return std::max(n, 0);
  }
  if (count < 1 || position_ < uncompressedSize_) return 0;
  if (position_ > uncompressedSize_) {
    const int64_t wanted = position_;
    SetSize(wanted);
    if (position_ != wanted)
      throw EVRXException(kSeekMessage, {wanted, position_, uncompressedSize_}, 10091);
    if (uncompressedSize_ != wanted)
      throw EVRXException(kInvalidSize, {uncompressedSize_, wanted}, 10092);
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  int32_t written = 0;

  // 1. Fill the last block up to the block size.
  currentBlock_ = std::max<int64_t>(blocks_.Count() - 1, 0);
  if (uncompressedSize_ % blockSize_ != 0 && blocks_.Count() > 0) {
    const int64_t last = blocks_.Count() - 1;
    LoadBlock(last);
    const auto fill = static_cast<int32_t>(std::min<int64_t>(
        static_cast<int64_t>(blockSize_) - static_cast<int64_t>(loadedData_.size()), count));
    if (fill > 0) {
      std::vector<uint8_t> data(loadedData_);
      data.insert(data.end(), in, in + fill);
      const auto header =
          StoreBlock(blocks_.Position(last), data.data(), static_cast<int32_t>(data.size()));
      blocks_.Header(last) = header;
      loadedData_ = std::move(data);
      uncompressedSize_ += fill;
      position_ += fill;
      written += fill;
      UpdateTotals();
    }
    currentBlock_ = last + 1;
  }

  // 2. The rest goes into new blocks after the last one.
  if (written < count) {
    const int64_t remaining = count - written;
    blocks_.Reserve(blocks_.Count() + (remaining + blockSize_ - 1) / blockSize_);
    const int64_t last = blocks_.Count() - 1;
    const int64_t end =
        last >= 0 ? blocks_.Position(last) + blocks_.Header(last).nextHeaderDistance : startOffset_;
    SeekChecked(underlying_, 10102, end);
    while (written < count) {
      const int32_t length = std::min(count - written, blockSize_);
      const int64_t at = underlying_.Position();
      const auto header = StoreBlock(at, in + written, length);
      blocks_.Append(header, at);
      loadedBlock_ = blocks_.Count() - 1;
      loadedData_.assign(in + written, in + written + length);
      currentBlock_ = loadedBlock_;
      uncompressedSize_ += length;
      position_ += length;
      written += length;
      UpdateTotals();
    }
  }
  return written;
}

void TVRXCompressedBLOBStream::SetSize(int64_t newSize) {
  newSize = std::max<int64_t>(newSize, 0);
  if (!Compressed()) {
    underlying_.SetSize(startOffset_ + newSize);
    uncompressedSize_ = newSize;
    position_ = std::min(position_, newSize);
    UpdateTotals();
    return;
  }
  if (newSize > uncompressedSize_)
    Extend(newSize);
  else if (newSize < uncompressedSize_)
    Truncate(newSize);
}

void TVRXCompressedBLOBStream::Extend(int64_t newSize) {
  if (newSize <= uncompressedSize_)
    throw EVRXException(
        "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
        {newSize, uncompressedSize_, newSize - uncompressedSize_}, 10098);
  const int64_t saved = position_;
  const std::vector<uint8_t> zeros(
      static_cast<size_t>(std::min<int64_t>(blockSize_, newSize - uncompressedSize_)), 0);
  try {
    while (uncompressedSize_ < newSize) {
      position_ = uncompressedSize_;
      // Chunks end on block boundaries, so that every block is compressed
      // once with its final content.
      const int64_t toBoundary = blockSize_ - uncompressedSize_ % blockSize_;
      const auto chunk = static_cast<int32_t>(std::min(toBoundary, newSize - uncompressedSize_));
      WriteChecked(zeros.data(), chunk, *this, 10097);
    }
  } catch (...) {
    position_ = saved;
    throw;
  }
  position_ = saved;
}

void TVRXCompressedBLOBStream::Truncate(int64_t newSize) {
  const int64_t n = newSize / blockSize_;
  const auto r = static_cast<int32_t>(newSize % blockSize_);
  if (r > 0) {
    LoadBlock(n);
    if (loadedData_.size() < static_cast<size_t>(r))
      throw EVRXException("Cannot read from stream. ReadSize = %d", {0}, 10090);
    std::vector<uint8_t> compressed;
    ++blocksCompressed_;
    if (!CompressBuffer(compressionAlgorithm_, compressionMode_, loadedData_.data(),
                        static_cast<size_t>(r), compressed))
      throw EVRXException(
          "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
          {compressionAlgorithm_, compressionMode_, r, compressed.size()}, 10085);
    TVRXCompressedStreamBlockHeader header;
    header.compressedSize = static_cast<int32_t>(compressed.size());
    header.uncompressedSize = r;
    header.crc32 = CRC32(0, loadedData_.data(), static_cast<size_t>(r));
    header.nextHeaderDistance = kHeaderSize + header.compressedSize;

    const int64_t at = blocks_.Position(n);
    underlying_.SetSize(at);
    if (underlying_.GetSize() != at)
      throw EVRXException(kInvalidSize, {underlying_.GetSize(), at}, 10093);
    SeekChecked(underlying_, 10094, at);
    // From here on the blocks after n are gone from the underlying stream:
    // the index and the sizes follow what is being written, so that a failed
    // write below leaves a value that fails cleanly when block n is read.
    SetTruncatedSize(newSize, n + 1);
    blocks_.Header(n) = header;
    loadedBlock_ = n;
    loadedData_.resize(static_cast<size_t>(r));
    UpdateTotals();
    uint8_t bytes[kHeaderSize];
    header.Encode(bytes);
    if (underlying_.Write(bytes, kHeaderSize) != kHeaderSize)
      throw EVRXException("Error writing to stream", 10095);
    if (underlying_.Write(compressed.data(), header.compressedSize) != header.compressedSize)
      throw EVRXException("Error writing to stream", 10096);
  } else {
    SetTruncatedSize(newSize, n);
  }
}

void TVRXCompressedBLOBStream::SetTruncatedSize(int64_t newSize, int64_t blockCount) {
  blocks_.SetCount(blockCount);
  if (loadedBlock_ >= blocks_.Count()) {
    loadedBlock_ = -1;
    loadedData_.clear();
  }
  currentBlock_ = std::max<int64_t>(blocks_.Count() - 1, 0);
  uncompressedSize_ = newSize;
  UpdateTotals();
  position_ = std::min(position_, newSize);
}

int64_t TVRXCompressedBLOBStream::Seek(int64_t offset, int origin) {
  switch (origin) {
    case kSeekBeginning: position_ = offset; break;
    case kSeekCurrent: position_ += offset; break;
    case kSeekEnd: position_ = uncompressedSize_ + offset; break;
    default: break;
  }
  if (!Compressed())
    position_ = underlying_.Seek(startOffset_ + position_, kSeekBeginning) - startOffset_;
  return position_;
}

}  // namespace vrx
