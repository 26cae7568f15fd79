// The file stream over a POSIX file descriptor and the temporary stream that
// spills from memory into a private temporary file.
#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/base/VRXStream.h"
#include "engine/base/VRXRandom.h"

namespace vrx {

namespace {

constexpr int32_t kDefaultCopyBlockSize = 102400;

std::string OSErrorText(int errorCode) {
  return FormatText("System Error.  Code: %d.\n%s", {errorCode, std::strerror(errorCode)});
}

}  // namespace

EOSError::EOSError(int errorCode) : Exception(OSErrorText(errorCode)), errorCode_(errorCode) {}

// ------------------------------------------------------------ TVRXFileStream

TVRXFileStream::TVRXFileStream(const std::string& fileName, bool deleteOnClose, uint32_t mode)
    : fileName_(fileName), mode_(mode), deleteOnClose_(deleteOnClose && mode == kCreateMode) {
  SetCopyBlockSize(kDefaultCopyBlockSize);
  if (mode == kCreateMode) {
    // A file deleted on close is private to this process.
    const mode_t permissions = deleteOnClose_ ? 0600 : 0666;
    handle_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, permissions);
    if (handle_ < 0) throw EVRXException("Cannot create file. FileName = %s", {fileName}, 10104);
    return;
  }
  int flags = -1;
  switch (mode & 0x3) {
    case kOpenRead: flags = O_RDONLY; break;
    case kOpenWrite: flags = O_WRONLY; break;
    case kOpenReadWrite: flags = O_RDWR; break;
    default: break;
  }
  if (flags >= 0) handle_ = ::open(fileName.c_str(), flags | O_CLOEXEC);
  if (handle_ < 0)
    throw EVRXException("Cannot open file. FileName = %s, Mode = %d", {fileName, mode}, 10105);
}

TVRXFileStream::~TVRXFileStream() {
  if (handle_ >= 0) ::close(handle_);
  if (deleteOnClose_) ::unlink(fileName_.c_str());
}

int64_t TVRXFileStream::GetSize() {
  struct stat info {};
  if (::fstat(handle_, &info) != 0) throw EOSError(errno);
  return static_cast<int64_t>(info.st_size);
}

void TVRXFileStream::SetSize(int64_t newSize) {
  const int64_t position = Position();
  Seek(newSize, kSeekBeginning);
  if (::ftruncate(handle_, static_cast<off_t>(newSize)) != 0) {
    const int error = errno;
    Seek(position, kSeekBeginning);
    throw EOSError(error);
  }
  if (position <= newSize) Seek(position, kSeekBeginning);
}

int32_t TVRXFileStream::Read(void* buffer, int32_t count) {
  if (count < 1) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(handle_, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of file, or a failure after `done` bytes
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t TVRXFileStream::Write(const void* buffer, int32_t count) {
  if (count < 1) return 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(handle_, bytes + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TVRXFileStream::Seek(int64_t offset, int origin) {
  int whence;
  switch (origin) {
    case kSeekBeginning: whence = SEEK_SET; break;
    case kSeekCurrent: whence = SEEK_CUR; break;
    case kSeekEnd: whence = SEEK_END; break;
    default: return -1;
  }
  return static_cast<int64_t>(::lseek(handle_, static_cast<off_t>(offset), whence));
}

// ------------------------------------------------------- TVRXTemporaryStream

TVRXTemporaryStream::TVRXTemporaryStream(bool memoryOnly)
    : memoryOnly_(memoryOnly), memoryStream_(std::make_unique<TVRXMemoryStream>()) {
  SetCopyBlockSize(kDefaultCopyBlockSize);
}

TVRXTemporaryStream::~TVRXTemporaryStream() = default;

TVRXStream& TVRXTemporaryStream::Current() {
  if (inMemory_) return *memoryStream_;
  return *fileStream_;
}

void TVRXTemporaryStream::SpillToFile() {
  const std::string name = TemporaryFileName();
  std::unique_ptr<TVRXFileStream> file;
  try {
    file = std::make_unique<TVRXFileStream>(name, true, TVRXFileStream::kCreateMode);
  } catch (...) {
    ::unlink(name.c_str());
    throw;
  }
  // A failed copy frees `file`, which removes it; the memory stream stays.
  const int64_t position = memoryStream_->Position();
  file->LoadFromStream(*memoryStream_);
  file->SetPosition(position);
  fileStream_ = std::move(file);
  fileName_ = name;
  memoryStream_.reset();
  inMemory_ = false;
}

int64_t TVRXTemporaryStream::GetSize() { return Current().GetSize(); }

void TVRXTemporaryStream::SetSize(int64_t newSize) { Current().SetSize(newSize); }

int32_t TVRXTemporaryStream::Read(void* buffer, int32_t count) {
  return Current().Read(buffer, count);
}

int32_t TVRXTemporaryStream::Write(const void* buffer, int32_t count) {
  if (inMemory_ && !memoryOnly_ && memoryStream_->GetSize() + count > kMemoryLimit)
    SpillToFile();
  return Current().Write(buffer, count);
}

int32_t TVRXTemporaryStream::Seek(int32_t offset, int origin) {
  return Current().Seek(offset, origin);
}

int64_t TVRXTemporaryStream::Seek(int64_t offset, int origin) {
  return Current().Seek(offset, origin);
}

}  // namespace vrx
