#include "engine/storage/file/VRXDatabaseFile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXBytes.h"
#include "engine/storage/file/VRXFileSignature.h"

namespace vrx {

namespace {
constexpr int64_t kScanWindow = 10000;
}  // namespace

bool IsLockUnsupportedError(int error) {
  switch (error) {
    case EBADF:
    case EINVAL:
    case ENOLCK:
    case ENOSYS:
    case EOPNOTSUPP:
    case EPERM:
    case EIO:
    case ENXIO:
    case ENODEV:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOLINK:
    case EREMOTEIO:
    case ESTALE:
      return true;
    default:
      return false;
  }
}

TVRXDatabaseFile::TVRXDatabaseFile(os::FileSystem& fileSystem) : fileSystem_(fileSystem) {}

TVRXDatabaseFile::~TVRXDatabaseFile() = default;  // the File closes itself

void TVRXDatabaseFile::RequireOpen(const char* operation) const {
  if (!file_)
    throw EVRXException("Cannot perform this operation (%s) on a closed file", {operation}, 30376);
}

void TVRXDatabaseFile::RequireClosed(const char* operation) const {
  if (file_)
    throw EVRXException("Cannot perform this operation (%s) on a opened file", {operation}, 30377);
}

void TVRXDatabaseFile::CreateFile(const std::string& fileName) {
  RequireClosed("CreateFile");
  if (fileName.empty()) throw EVRXException("Cannot create file with blank FileName", 30374);
  if (fileSystem_.Exists(fileName)) {
    // A read-only file could not be replaced otherwise; a failure shows up
    // in the create below.
    fileSystem_.ClearReadOnlyAttribute(fileName);
    fileSystem_.Remove(fileName);
  }
  os::OpenOptions options;
  options.write = true;
  options.create = true;
  options.denyRead = true;
  options.denyWrite = true;
  int error = 0;
  auto file = fileSystem_.Open(fileName, options, error);
  if (!file)
    throw EVRXException("Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        {fileName, error, os::ErrorText(error)}, 30361);
  file_ = std::move(file);
  fileName_ = fileName;
  accessMode_ = amReadWrite;
  shareMode_ = smExclusive;
  position_ = 0;
  locksUnsupported_ = false;
}

void TVRXDatabaseFile::OpenFile(const std::string& fileName, int accessMode, int shareMode) {
  RequireClosed("OpenFile");
  if (accessMode != amRead && accessMode != amReadWrite)
    throw EVRXException("Unknown Access mode: '%d'", {accessMode}, 30366);
  if (shareMode < smExclusive || shareMode > smDenyWrite)
    throw EVRXException("Unknown Share mode: '%d'", {shareMode}, 30367);
  os::OpenOptions options;
  options.write = accessMode == amReadWrite;
  options.denyRead = shareMode == smExclusive;
  options.denyWrite = shareMode == smExclusive || shareMode == smDenyWrite;
  int error = 0;
  auto file = fileSystem_.Open(fileName, options, error);
  if (!file)
    throw EVRXException("Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                        {fileName, error, os::ErrorText(error)}, 30364);
  file_ = std::move(file);
  fileName_ = fileName;
  accessMode_ = accessMode;
  shareMode_ = shareMode;
  position_ = 0;
  locksUnsupported_ = false;
}

void TVRXDatabaseFile::CloseFile() {
  if (!file_) return;
  journal_ = nullptr;
  auto file = std::move(file_);
  const int error = file->Close();
  if (error != 0)
    throw EVRXException("Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                        {fileName_, error, os::ErrorText(error)}, 30365);
}

bool TVRXDatabaseFile::Seek(int64_t position) {
  RequireOpen("Seek");
  if (position < 0) return false;
  position_ = position;
  return true;
}

void TVRXDatabaseFile::SetPosition(int64_t position, int32_t nativeError) {
  RequireOpen("SetPosition");
  if (!Seek(position))
    throw EVRXException(
        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, "
        "FileSize = %d",
        {position, fileName_, position_, SizeForMessage()}, nativeError);
}

int64_t TVRXDatabaseFile::GetPosition() const {
  RequireOpen("GetPosition");
  return position_;
}

int64_t TVRXDatabaseFile::GetSize() {
  RequireOpen("GetSize");
  int64_t size = 0;
  const int error = file_->GetSize(size);
  if (error != 0)
    throw EVRXException("Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, error, os::ErrorText(error)}, 30371);
  return size;
}

int64_t TVRXDatabaseFile::SizeForMessage() {
  int64_t size = -1;
  if (file_) file_->GetSize(size);
  return size;
}

void TVRXDatabaseFile::SetSize(int64_t size) {
  RequireOpen("SetSize");
  const int error = file_->SetSize(size);
  if (error != 0)
    throw EVRXException("Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, size, error, os::ErrorText(error)}, 30370);
}

int64_t TVRXDatabaseFile::ReadBuffer(void* buffer, int32_t nativeError, int64_t position,
                                     int64_t count) {
  RequireOpen("ReadBuffer");
  size_t done = 0;
  int error = count < 0 ? EINVAL : file_->Read(position, buffer, static_cast<size_t>(count), done);
  if (error != 0 && count >= 0) {
    // Another holder's lock may have been in the way: look once, try again.
    IsRegionLocked(count, position);
    error = file_->Read(position, buffer, static_cast<size_t>(count), done);
  }
  if (error != 0)
    throw EVRXException(
        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = "
        "%d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
        {fileName_, position, count, position_, SizeForMessage(), error, os::ErrorText(error)},
        nativeError);
  position_ = position + static_cast<int64_t>(done);
  return static_cast<int64_t>(done);
}

void TVRXDatabaseFile::WriteBuffer(const void* buffer, int32_t nativeError, int64_t position,
                                   int64_t count) {
  RequireOpen("WriteBuffer");
  const int error = count < 0 ? EINVAL : file_->Write(position, buffer, static_cast<size_t>(count));
  if (error != 0)
    throw EVRXException(
        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = "
        "%d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
        {fileName_, position, count, position_, SizeForMessage(), error, os::ErrorText(error)},
        nativeError);
  position_ = position + count;
}

void TVRXDatabaseFile::WriteBufferThrough(const void* buffer, int32_t nativeError,
                                          int64_t position, int64_t count) {
  if (journal_ == nullptr) return WriteBuffer(buffer, nativeError, position, count);
  RequireOpen("WriteBuffer");
  const int error =
      count < 0 ? EINVAL : journal_->WriteThrough(position, buffer, static_cast<size_t>(count));
  if (error != 0)
    throw EVRXException("Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = "
                        "%d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, position, count, position_, SizeForMessage(), error,
                         os::ErrorText(error)},
                        nativeError);
  position_ = position + count;
}

TVRXRecovery TVRXDatabaseFile::RecoverFromJournal() {
  RequireOpen("RecoverFromJournal");
  return vrx::RecoverFromJournal(fileSystem_, fileName_, *file_);
}

void TVRXDatabaseFile::AttachJournal(bool shared) {
  RequireOpen("AttachJournal");
  if (journal_ != nullptr) return;
  auto journal = std::make_unique<TVRXJournaledFile>(fileSystem_, std::move(file_),
                                                     JournalFileName(fileName_));
  journal->SetShared(shared);
  journal_ = journal.get();
  file_ = std::move(journal);
}

void TVRXDatabaseFile::FlushFileBuffers() {
  RequireOpen("FlushFileBuffers");
  const int error = file_->Sync();
  if (error != 0)
    throw EVRXException("Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {fileName_, error, os::ErrorText(error)}, 30379);
}

bool TVRXDatabaseFile::LockResult(int error) {
  if (error == 0) return true;
  if (IsLockUnsupportedError(error)) locksUnsupported_ = true;
  return locksUnsupported_;
}

bool TVRXDatabaseFile::LockByte(int64_t count, int64_t position) {
  RequireOpen("LockByte");
  if (locksUnsupported_) return true;
  if (count <= 0 || position < 0) return false;
  return LockResult(file_->Lock(position, count));
}

bool TVRXDatabaseFile::UnlockByte(int64_t count, int64_t position) {
  RequireOpen("UnlockByte");
  if (locksUnsupported_) return true;
  if (count <= 0 || position < 0) return false;
  return LockResult(file_->Unlock(position, count));
}

bool TVRXDatabaseFile::IsByteLocked(int64_t position) {
  RequireOpen("IsByteLocked");
  return IsRegionLocked(1, position);
}

bool TVRXDatabaseFile::IsRegionLocked(int64_t count, int64_t position) {
  RequireOpen("IsRegionLocked");
  if (locksUnsupported_ || count <= 0 || position < 0) return false;
  bool locked = false;
  const int error = file_->Probe(position, count, locked);
  if (error != 0) {
    LockResult(error);
    return false;
  }
  return locked;
}

bool TVRXDatabaseFile::FindDatabaseStart(int64_t& start) {
  RequireOpen("FindDatabaseStart");
  const int64_t savedPosition = position_;
  start = 0;
  auto isHeaderAt = [](const uint8_t* p) {
    return std::memcmp(p, kDatabaseSignature.data(), kSignatureSize) == 0 &&
           bytes::LoadI16(p + kSignatureSize) == kMainHeaderSize;
  };
  uint8_t head[kSignatureSize + kMainHeaderSize] = {};
  const int64_t headRead = ReadBuffer(head, 10464, 0, sizeof head);
  bool found = headRead >= kSignatureSize + 2 && isHeaderAt(head);
  if (!found) {
    // Windows overlap by the signature and its header-size word, so a
    // header that straddles two windows is still seen whole in the second.
    constexpr int64_t kOverlap = kSignatureSize + 2;
    std::vector<uint8_t> window(kScanWindow);
    const int64_t size = GetSize();
    for (int64_t p = 0; p < size && !found; p += kScanWindow - kOverlap) {
      const int64_t got = ReadBuffer(window.data(), 10464, p, kScanWindow);
      for (int64_t h = 0; h + kOverlap <= got; ++h) {
        if (isHeaderAt(window.data() + h)) {
          start = p + h;
          found = true;
          break;
        }
      }
      if (got < kScanWindow) break;
    }
  }
  position_ = savedPosition;
  return found;
}

}  // namespace vrx
