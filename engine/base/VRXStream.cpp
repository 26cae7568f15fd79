// TVRXStream's copying operations, the memory stream and the checked stream
// operations. The file and temporary streams live in VRXFileStream.cpp.
#include "engine/base/VRXStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/base/VRXMemory.h"

namespace vrx {

namespace {

constexpr int32_t kDefaultCopyBlockSize = 102400;
constexpr int64_t kMaxMemoryStreamSize = std::numeric_limits<int32_t>::max();

// Puts a stream back where it was, also when the copy in between throws.
class PositionKeeper {
 public:
  explicit PositionKeeper(TVRXStream& stream) : stream_(stream), position_(stream.Position()) {}
  ~PositionKeeper() {
    try {
      stream_.SetPosition(position_);
    } catch (...) {
      // A stream that cannot seek back has already reported its failure.
    }
  }
  PositionKeeper(const PositionKeeper&) = delete;
  PositionKeeper& operator=(const PositionKeeper&) = delete;

 private:
  TVRXStream& stream_;
  int64_t position_;
};

}  // namespace

// ---------------------------------------------------------------- TVRXStream

int64_t TVRXStream::GetSize() {
  const int64_t position = Seek(int64_t{0}, kSeekCurrent);
  const int64_t size = Seek(int64_t{0}, kSeekEnd);
  Seek(position, kSeekBeginning);
  return size;
}

void TVRXStream::SetSize(int32_t newSize) { SetSize(static_cast<int64_t>(newSize)); }

int32_t TVRXStream::Seek(int32_t offset, int origin) {
  return static_cast<int32_t>(Seek(static_cast<int64_t>(offset), origin));
}

void TVRXStream::Lock() { lock_.lock(); }
void TVRXStream::Unlock() { lock_.unlock(); }

void TVRXStream::DoProgress(double percent) {
  if (onProgress_) onProgress_(*this, percent);
}

void TVRXStream::CopyChunks(TVRXStream& from, TVRXStream& to, int64_t total, int32_t readCode,
                            int32_t writeCode) {
  DoProgress(0);
  if (total > 0) {
    std::vector<unsigned char> chunk(
        static_cast<size_t>(std::min<int64_t>(copyBlockSize_, total)));
    int64_t done = 0;
    while (done < total) {
      const auto count = static_cast<int32_t>(std::min<int64_t>(copyBlockSize_, total - done));
      ReadChecked(chunk.data(), count, from, readCode);
      WriteChecked(chunk.data(), count, to, writeCode);
      done += count;
      DoProgress(static_cast<double>(done) / static_cast<double>(total) * 100.0);
    }
  }
  DoProgress(100);
}

void TVRXStream::SaveToStream(TVRXStream& destination) {
  if (copyBlockSize_ <= 0)
    throw EVRXException("Stream block size = 0 is not allowed", 10418);
  PositionKeeper keepSource(*this);
  PositionKeeper keepDestination(destination);
  const int64_t total = GetSize();
  SetPosition(0);
  CopyChunks(*this, destination, total, 10146, 10147);
}

void TVRXStream::LoadFromStream(TVRXStream& source) {
  if (copyBlockSize_ <= 0)
    throw EVRXException("Stream block size = 0 is not allowed", 10419);
  PositionKeeper keepSource(source);
  PositionKeeper keepSelf(*this);
  const int64_t total = source.GetSize();
  SetSize(int64_t{0});
  SetPosition(0);
  source.SetPosition(0);
  CopyChunks(source, *this, total, 10148, 10149);
}

void TVRXStream::CopyFrom(TVRXStream& source, int64_t count, int64_t sourcePosition) {
  if (copyBlockSize_ <= 0)
    throw EVRXException("Stream block size = 0 is not allowed", 10419);
  PositionKeeper keepSource(source);
  PositionKeeper keepSelf(*this);
  SetSize(int64_t{0});
  SetPosition(0);
  source.SetPosition(sourcePosition);
  CopyChunks(source, *this, std::max<int64_t>(count, 0), 10148, 10149);
}

// ---------------------------------------------------------- TVRXMemoryStream

TVRXMemoryStream::TVRXMemoryStream() { SetCopyBlockSize(kDefaultCopyBlockSize); }

TVRXMemoryStream::TVRXMemoryStream(void* block) : buffer_(block) {
  SetCopyBlockSize(kDefaultCopyBlockSize);
  if (buffer_ != nullptr) {
    size_ = TVRXMemoryManager::Instance().GetMemSize(buffer_);
    capacity_ = size_;
  }
}

TVRXMemoryStream::~TVRXMemoryStream() {
  try {
    TVRXMemoryManager::Instance().FreeAndNilMem(buffer_);
  } catch (...) {
    // The block is freed before an overrun is reported; nothing is left to
    // undo, and a destructor must not throw.
  }
}

void TVRXMemoryStream::Reserve(int64_t capacity) {
  TVRXMemoryManager::Instance().ReallocMem(buffer_, static_cast<int32_t>(capacity), true);
  capacity_ = capacity;
}

void TVRXMemoryStream::SetSize(int64_t newSize) {
  if (newSize > kMaxMemoryStreamSize)
    throw EVRXException("GetMem error: %s", {"size too large"}, 30015);
  if (newSize <= 0) {
    TVRXMemoryManager::Instance().FreeAndNilMem(buffer_);
    size_ = 0;
    capacity_ = 0;
  } else {
    // Bytes between the old end and the block's end may hold data written
    // before a shrink; the growth must read as zeros.
    if (newSize > size_ && capacity_ > size_)
      std::memset(static_cast<unsigned char*>(buffer_) + size_, 0,
                  static_cast<size_t>(std::min(newSize, capacity_) - size_));
    Reserve(newSize);
    size_ = newSize;
  }
  position_ = std::min(position_, size_);
}

int32_t TVRXMemoryStream::Read(void* buffer, int32_t count) {
  if (count < 1 || position_ < 0 || position_ >= size_) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(count, size_ - position_));
  std::memcpy(buffer, static_cast<const unsigned char*>(buffer_) + position_,
              static_cast<size_t>(n));
  position_ += n;
  return n;
}

int32_t TVRXMemoryStream::Write(const void* buffer, int32_t count) {
  if (count < 1 || position_ < 0) return 0;
  const int64_t end = position_ + count;
  if (end > kMaxMemoryStreamSize) return 0;
  if (end > capacity_) {
    int64_t grown = capacity_ + capacity_ / 2;
    grown = std::max<int64_t>(grown, 4096);
    grown = std::min(std::max(grown, end), kMaxMemoryStreamSize);
    Reserve(grown);
  }
  auto* bytes = static_cast<unsigned char*>(buffer_);
  if (position_ > size_)
    std::memset(bytes + size_, 0, static_cast<size_t>(position_ - size_));
  std::memcpy(bytes + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  size_ = std::max(size_, end);
  return count;
}

int32_t TVRXMemoryStream::Seek(int32_t offset, int origin) {
  switch (origin) {
    case kSeekBeginning: position_ = offset; break;
    case kSeekCurrent: position_ += offset; break;
    case kSeekEnd: position_ = size_ + offset; break;
    default: break;
  }
  return static_cast<int32_t>(position_);
}

int64_t TVRXMemoryStream::Seek(int64_t offset, int origin) {
  switch (origin) {
    case kSeekBeginning: position_ = offset; break;
    case kSeekCurrent: position_ += offset; break;
    case kSeekEnd: position_ = size_ + offset; break;
    default: position_ = 0; break;
  }
  return position_;
}

// -------------------------------------------------------- checked operations

EVRXException StreamReadError(int64_t position, int64_t streamSize, int64_t blockSize,
                              int64_t bytesRead, int32_t nativeError) {
  return EVRXException(
      "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
      {position, streamSize, blockSize, bytesRead}, nativeError);
}

EVRXException StreamWriteError(int64_t position, int64_t streamSize, int64_t blockSize,
                               int64_t bytesWritten, int32_t nativeError) {
  return EVRXException(
      "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
      {position, streamSize, blockSize, bytesWritten}, nativeError);
}

void WriteChecked(const void* buffer, int32_t count, TVRXStream& stream, int32_t nativeError) {
  const int64_t position = stream.Position();
  const int32_t written = stream.Write(buffer, count);
  if (written != count)
    throw StreamWriteError(position, stream.GetSize(), count, written, nativeError);
}

void ReadChecked(void* buffer, int32_t count, TVRXStream& stream, int32_t nativeError) {
  const int64_t position = stream.Position();
  const int32_t read = stream.Read(buffer, count);
  if (read != count) throw StreamReadError(position, stream.GetSize(), count, read, nativeError);
}

void SeekChecked(TVRXStream& stream, int32_t nativeError, int64_t position) {
  const int64_t reached = stream.Seek(position, kSeekBeginning);
  if (reached != position)
    throw EVRXException("Cannot set stream position to %d. Position = %d, Size = %d",
                        {position, reached, stream.GetSize()}, nativeError);
}

}  // namespace vrx
