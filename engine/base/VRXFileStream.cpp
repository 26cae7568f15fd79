// The file stream over a file of the operating-system seam and the temporary
// stream that spills from memory into a private temporary file.
#include <cstring>

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

TVRXFileStream::TVRXFileStream(const std::string& fileName, bool deleteOnClose, uint32_t mode,
                               os::FileSystem& fileSystem)
    : fileSystem_(fileSystem),
      fileName_(fileName),
      mode_(mode),
      deleteOnClose_(deleteOnClose && mode == kCreateMode) {
  SetCopyBlockSize(kDefaultCopyBlockSize);
  int error = 0;
  if (mode == kCreateMode) {
    os::OpenOptions options;
    options.write = true;
    options.create = true;
    file_ = fileSystem_.Open(fileName, options, error);
    if (!file_) throw EVRXException("Cannot create file. FileName = %s", {fileName}, 10104);
    return;
  }
  const uint32_t access = mode & 0x3;
  if (access == kOpenRead || access == kOpenWrite || access == kOpenReadWrite) {
    os::OpenOptions options;
    options.write = access != kOpenRead;
    file_ = fileSystem_.Open(fileName, options, error);
    readable_ = access != kOpenWrite;
  }
  if (!file_)
    throw EVRXException("Cannot open file. FileName = %s, Mode = %d", {fileName, mode}, 10105);
}

TVRXFileStream::~TVRXFileStream() {
  file_.reset();
  if (deleteOnClose_) fileSystem_.Remove(fileName_);
}

int64_t TVRXFileStream::GetSize() {
  int64_t size = 0;
  if (const int error = file_->GetSize(size); error != 0) throw EOSError(error);
  return size;
}

void TVRXFileStream::SetSize(int64_t newSize) {
  if (const int error = file_->SetSize(newSize); error != 0) throw EOSError(error);
  if (position_ > newSize) position_ = newSize;
}

int32_t TVRXFileStream::Read(void* buffer, int32_t count) {
  if (count < 1 || !readable_) return 0;
  size_t done = 0;
  // A failure after some bytes still hands those on.
  file_->Read(position_, buffer, static_cast<size_t>(count), done);
  position_ += static_cast<int64_t>(done);
  return static_cast<int32_t>(done);
}

int32_t TVRXFileStream::Write(const void* buffer, int32_t count) {
  if (count < 1) return 0;
  if (file_->Write(position_, buffer, static_cast<size_t>(count)) != 0) return 0;
  position_ += count;
  return count;
}

int64_t TVRXFileStream::Seek(int64_t offset, int origin) {
  int64_t base = 0;
  switch (origin) {
    case kSeekBeginning: base = 0; break;
    case kSeekCurrent: base = position_; break;
    case kSeekEnd:
      if (file_->GetSize(base) != 0) return -1;
      break;
    default: return -1;
  }
  if (offset < 0 && base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

// ------------------------------------------------------- TVRXTemporaryStream

TVRXTemporaryStream::TVRXTemporaryStream(bool memoryOnly, os::FileSystem& fileSystem)
    : memoryOnly_(memoryOnly),
      fileSystem_(fileSystem),
      memoryStream_(std::make_unique<TVRXMemoryStream>()) {
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
    file = std::make_unique<TVRXFileStream>(name, true, TVRXFileStream::kCreateMode, fileSystem_);
  } catch (...) {
    fileSystem_.Remove(name);
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
