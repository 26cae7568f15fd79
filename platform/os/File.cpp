#include "platform/os/File.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vrx::os {

namespace {

// Share-mode bytes at the far end of the offset range. Every open File holds
// a shared lock on the bytes of the access it has and of the access it
// denies, then probes the bytes that would conflict with it.
constexpr int64_t kShareBase = std::numeric_limits<int64_t>::max() - 16;
constexpr int64_t kAccessReadByte = kShareBase + 0;
constexpr int64_t kAccessWriteByte = kShareBase + 1;
constexpr int64_t kDenyReadByte = kShareBase + 2;
constexpr int64_t kDenyWriteByte = kShareBase + 3;

int SetLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
  const int error = errno;
  return (error == EACCES || error == EAGAIN) ? kLockConflict : error;
}

int ProbeLock(int fd, int64_t offset, int64_t length, bool& lockedByOther) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return errno;
  lockedByOther = fl.l_type != F_UNLCK;
  return 0;
}

bool BadRange(int64_t offset, int64_t length) {
  return offset < 0 || length <= 0 || offset > std::numeric_limits<int64_t>::max() - length;
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  int Read(int64_t offset, void* buffer, size_t count, size_t& done) override {
    done = 0;
    if (fd_ < 0) return EBADF;
    if (offset < 0) return EINVAL;
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < count) {
      const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) break;  // end of file
      done += static_cast<size_t>(n);
    }
    return 0;
  }

  int Write(int64_t offset, const void* buffer, size_t count) override {
    if (fd_ < 0) return EBADF;
    if (offset < 0) return EINVAL;
    const auto* in = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) return EIO;
      done += static_cast<size_t>(n);
    }
    return 0;
  }

  int GetSize(int64_t& size) override {
    if (fd_ < 0) return EBADF;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return errno;
    size = st.st_size;
    return 0;
  }

  int SetSize(int64_t size) override {
    if (fd_ < 0) return EBADF;
    if (size < 0) return EINVAL;
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) return errno;
    }
    return 0;
  }

  int Sync() override {
    if (fd_ < 0) return EBADF;
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) return errno;
    }
    return 0;
  }

  int Lock(int64_t offset, int64_t length) override {
    if (fd_ < 0) return EBADF;
    if (BadRange(offset, length)) return EINVAL;
    return SetLock(fd_, writable_ ? F_WRLCK : F_RDLCK, offset, length);
  }

  int Unlock(int64_t offset, int64_t length) override {
    if (fd_ < 0) return EBADF;
    if (BadRange(offset, length)) return EINVAL;
    return SetLock(fd_, F_UNLCK, offset, length);
  }

  int Probe(int64_t offset, int64_t length, bool& lockedByOther) override {
    lockedByOther = false;
    if (fd_ < 0) return EBADF;
    if (BadRange(offset, length)) return EINVAL;
    return ProbeLock(fd_, offset, length, lockedByOther);
  }

  int Close() override {
    if (fd_ < 0) return EBADF;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

  bool Writable() const override { return writable_; }

 private:
  int fd_;
  bool writable_;
};

// Takes the share-mode locks of a freshly opened descriptor and checks them
// against every other open File. On a file system without byte locks the
// share modes cannot be enforced and the open goes ahead.
int ClaimShareMode(int fd, const OpenOptions& options) {
  const int64_t held[] = {kAccessReadByte, options.write ? kAccessWriteByte : -1,
                          options.denyRead ? kDenyReadByte : -1,
                          options.denyWrite ? kDenyWriteByte : -1};
  for (int64_t byte : held) {
    if (byte < 0) continue;
    const int error = SetLock(fd, F_RDLCK, byte, 1);
    if (error == kLockConflict) return kSharingViolation;
    if (error != 0) return 0;  // locks unsupported here: nothing to enforce
  }
  const int64_t conflicting[] = {kDenyReadByte, options.write ? kDenyWriteByte : -1,
                                 options.denyRead ? kAccessReadByte : -1,
                                 options.denyWrite ? kAccessWriteByte : -1};
  for (int64_t byte : conflicting) {
    if (byte < 0) continue;
    bool locked = false;
    if (ProbeLock(fd, byte, 1, locked) != 0) return 0;
    if (locked) return kSharingViolation;
  }
  return 0;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, const OpenOptions& options,
                             int& error) override {
    error = 0;
    int flags = (options.write ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (options.create) flags |= O_CREAT;
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
    // The share check comes before truncation so that creating over a file
    // another File holds open leaves that file alone.
    error = ClaimShareMode(fd, options);
    if (error == 0 && options.create && ::ftruncate(fd, 0) != 0) error = errno;
    if (error != 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd, options.write);
  }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

  int SyncDirectory(const std::string& directory) override {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    while (::fsync(fd) != 0) {
      if (errno != EINTR) {
        error = errno;
        break;
      }
    }
    ::close(fd);
    return error;
  }

  int GetReadOnlyAttribute(const std::string& path, bool& readOnly) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return 0;
  }

  int RewriteAttributes(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    return ::chmod(path.c_str(), st.st_mode & 07777) == 0 ? 0 : errno;
  }

  int ClearReadOnlyAttribute(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if ((st.st_mode & S_IWUSR) != 0) return 0;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0 ? 0 : errno;
  }
};

}  // namespace

FileSystem& PosixFileSystem() {
  static class PosixFileSystem fileSystem;
  return fileSystem;
}

std::string ErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be in buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace vrx::os
