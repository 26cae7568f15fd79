// The engine's byte streams: the abstract TVRXStream, the memory stream
// whose buffer comes from the engine memory manager, the file stream, and the
// temporary stream that starts in memory and spills to a private temporary
// file. Also the checked stream operations with which the storage engine
// turns a short read, write or seek into an EVRXException carrying the
// caller's native error number.
//
// Used by the compressed BLOB stream, BLOB storage, internal files and the
// in-memory and temporary engines.
//
// Threading: a stream is not thread-safe. Each stream carries a lock
// (Lock/Unlock) for callers that share one between threads; no stream
// operation takes it by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/base/VRXExcept.h"
#include "platform/os/File.h"

namespace vrx {

// Seek origins, as both Seek overloads take them.
inline constexpr int kSeekBeginning = 0;
inline constexpr int kSeekCurrent = 1;
inline constexpr int kSeekEnd = 2;

class TVRXStream;

// Progress of SaveToStream / LoadFromStream / CopyFrom: 0, then the percentage
// done after every chunk, then 100.
using TVRXStreamProgress = std::function<void(TVRXStream& sender, double percent)>;

class TVRXStream {
 public:
  TVRXStream() = default;
  TVRXStream(const TVRXStream&) = delete;
  TVRXStream& operator=(const TVRXStream&) = delete;
  virtual ~TVRXStream() = default;

  // Virtual operations, in the order of the engine's stream contract.
  // The default GetSize finds the end with Seek and restores the position.
  virtual int64_t GetSize();
  // The 32-bit SetSize forwards to the 64-bit one.
  virtual void SetSize(int32_t newSize);
  virtual void SetSize(int64_t newSize) = 0;
  // Read/Write transfer up to `count` bytes at the position, advance it by
  // the bytes transferred and return that number (0 when nothing moved).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Both return the new position. The 32-bit Seek forwards to the 64-bit one
  // (the result cut to 32 bits).
  virtual int32_t Seek(int32_t offset, int origin);
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual void Lock();
  virtual void Unlock();

  // Conveniences over Seek.
  int64_t Position() { return Seek(int64_t{0}, kSeekCurrent); }
  void SetPosition(int64_t position) { Seek(position, kSeekBeginning); }

  // Copies the whole stream, from position 0, to the destination's current
  // position. Both positions are restored afterwards. Raises "Stream block
  // size = 0 is not allowed" (10418) and the checked read/write messages
  // (10146 read, 10147 write).
  void SaveToStream(TVRXStream& destination);
  // Replaces the content with the whole source. Both positions are restored
  // afterwards. Raises 10419 for block size 0 and 10148 / 10149.
  void LoadFromStream(TVRXStream& source);
  // Replaces the content with `count` bytes of the source starting at
  // `sourcePosition`. Both positions are restored. Same errors as
  // LoadFromStream.
  void CopyFrom(TVRXStream& source, int64_t count, int64_t sourcePosition);

  int32_t CopyBlockSize() const { return copyBlockSize_; }
  void SetCopyBlockSize(int32_t size) { copyBlockSize_ = size; }
  void SetOnProgress(TVRXStreamProgress progress) { onProgress_ = std::move(progress); }

 protected:
  void DoProgress(double percent);

 private:
  // Copies `total` bytes from `from` (at its position) to `to` (at its
  // position) in chunks of the copy block size.
  void CopyChunks(TVRXStream& from, TVRXStream& to, int64_t total, int32_t readCode,
                  int32_t writeCode);

  std::recursive_mutex lock_;
  int32_t copyBlockSize_ = 0;
  TVRXStreamProgress onProgress_;
};

// A stream over one memory-manager block. Sizes and positions are 32-bit.
// The block may be larger than the stream size: writes grow it with headroom
// so that many small appends do not copy the whole buffer each time. Bytes
// between the old end and a write or size beyond it read as zeros.
class TVRXMemoryStream : public TVRXStream {
 public:
  TVRXMemoryStream();
  // Takes over `block` (from TVRXMemoryManager, may be nullptr); the stream
  // size is the block's size.
  explicit TVRXMemoryStream(void* block);
  ~TVRXMemoryStream() override;

  using TVRXStream::Seek;
  using TVRXStream::SetSize;
  int64_t GetSize() override { return size_; }
  // 0 frees the buffer; otherwise the block is reallocated to exactly the new
  // size. The position is clipped to the new size. Sizes beyond 32 bits raise
  // "GetMem error: %s" (30015).
  void SetSize(int64_t newSize) override;
  int32_t Read(void* buffer, int32_t count) override;
  // Grows the stream to position + count when needed; returns 0 when that
  // would pass the 32-bit range or the position is negative.
  int32_t Write(const void* buffer, int32_t count) override;
  // Does not clip. An unknown origin leaves the position unchanged.
  int32_t Seek(int32_t offset, int origin) override;
  // Does not clip. An unknown origin sets the position to 0.
  int64_t Seek(int64_t offset, int origin) override;

  // The block (nullptr while empty); valid until the next size change.
  void* Memory() const { return buffer_; }

 private:
  void Reserve(int64_t capacity);

  void* buffer_ = nullptr;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
  int64_t position_ = 0;
};

// An operating-system failure the file stream cannot express as a short
// transfer: "System Error.  Code: %d.\n%s" (errno and its text).
class EOSError : public Exception {
 public:
  explicit EOSError(int errorCode);
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// A stream over one operating-system file. Positions and sizes are 64-bit.
class TVRXFileStream : public TVRXStream {
 public:
  // Creates the file (replacing an existing one) for reading and writing.
  static constexpr uint32_t kCreateMode = 0xFFFF;
  // Access bits of the other open modes; the sharing bits (0x10 to 0x40) are
  // accepted and not enforced (POSIX has no share modes).
  static constexpr uint32_t kOpenRead = 0x0000;
  static constexpr uint32_t kOpenWrite = 0x0001;
  static constexpr uint32_t kOpenReadWrite = 0x0002;

  // mode kCreateMode: creates the file; with deleteOnClose the file is removed
  // when the stream is freed. Failure: "Cannot create file. FileName = %s"
  // (10104). Any other mode opens the existing file; failure: "Cannot open
  // file. FileName = %s, Mode = %d" (10105). The file is reached through
  // `fileSystem` (which must outlive the stream), so that a test can put a
  // failing one in its place.
  TVRXFileStream(const std::string& fileName, bool deleteOnClose, uint32_t mode,
                 os::FileSystem& fileSystem = os::PosixFileSystem());
  ~TVRXFileStream() override;

  using TVRXStream::Seek;
  using TVRXStream::SetSize;
  int64_t GetSize() override;
  // Ends the file at the new size; the position is kept unless it lay beyond
  // the new end. An operating-system failure raises EOSError.
  void SetSize(int64_t newSize) override;
  // Both return 0 on an operating-system failure.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Returns -1 when the operating system refuses the position.
  int64_t Seek(int64_t offset, int origin) override;

  const std::string& FileName() const { return fileName_; }
  bool DeleteOnClose() const { return deleteOnClose_; }
  uint32_t Mode() const { return mode_; }

 private:
  os::FileSystem& fileSystem_;
  std::unique_ptr<os::File> file_;
  int64_t position_ = 0;
  bool readable_ = true;  // false for a write-only stream
  std::string fileName_;
  uint32_t mode_;
  bool deleteOnClose_;
};

// Starts as a memory stream. Unless memory-only, the first write that would
// take the memory stream past kMemoryLimit bytes (size + count, wherever the
// position lies) moves the content to a new temporary file "VRX..." in the
// temporary directory, keeps the position and goes on in the file. The file
// is removed when the stream is freed.
class TVRXTemporaryStream : public TVRXStream {
 public:
  static constexpr int64_t kMemoryLimit = 1048576;

  // The spill file is reached through `fileSystem`, which must outlive the
  // stream.
  explicit TVRXTemporaryStream(bool memoryOnly = false,
                               os::FileSystem& fileSystem = os::PosixFileSystem());
  ~TVRXTemporaryStream() override;

  using TVRXStream::Seek;
  using TVRXStream::SetSize;
  int64_t GetSize() override;
  void SetSize(int64_t newSize) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek(int64_t offset, int origin) override;

  bool MemoryOnly() const { return memoryOnly_; }
  bool InMemory() const { return inMemory_; }
  // The spill file's name; empty while in memory.
  const std::string& FileName() const { return fileName_; }

 private:
  TVRXStream& Current();
  void SpillToFile();

  bool memoryOnly_;
  os::FileSystem& fileSystem_;
  bool inMemory_ = true;
  std::unique_ptr<TVRXMemoryStream> memoryStream_;
  std::unique_ptr<TVRXFileStream> fileStream_;
  std::string fileName_;
};

// Checked operations: a short transfer or a seek that does not land on the
// requested position raises EVRXException with the caller's number:
//   "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"
//   "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"
//   "Cannot set stream position to %d. Position = %d, Size = %d"
// The errors of a short transfer, for callers that find one before
// touching the stream (a length that passes its end, a buffer too short).
EVRXException StreamReadError(int64_t position, int64_t streamSize, int64_t blockSize,
                              int64_t bytesRead, int32_t nativeError);
EVRXException StreamWriteError(int64_t position, int64_t streamSize, int64_t blockSize,
                               int64_t bytesWritten, int32_t nativeError);
void WriteChecked(const void* buffer, int32_t count, TVRXStream& stream, int32_t nativeError);
void ReadChecked(void* buffer, int32_t count, TVRXStream& stream, int32_t nativeError);
void SeekChecked(TVRXStream& stream, int32_t nativeError, int64_t position);

}  // namespace vrx
