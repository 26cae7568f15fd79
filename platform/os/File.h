// Files of the engine: the one seam through which every database file is
// read, written, synced and locked. TVRXDatabaseFile and the disk page
// manager reach the operating system only through FileSystem and File, so a
// test can put another implementation in their place (one that fails the
// N-th write, drops what was never synced, and so on).
//
// Every call reports failure by its return value: 0 on success, otherwise a
// POSIX errno value (ErrorText turns it into the system's text). Nothing here
// throws; the engine decides what a failure means.
//
// Byte-range locks are Linux open-file-description locks (F_OFD_SETLK): two
// File objects of one process conflict exactly as two processes would, and
// a lock belongs to the File that took it until it is unlocked or closed.
// Locks never block; a lock held by another File yields kLockConflict.
//
// Share modes (what other openers may do) are enforced between File objects
// with the same kind of locks on a few bytes at the very end of the 64-bit
// offset range, which no database ever reaches.
//
// Thread safety: one File may be used by one thread at a time; distinct
// File objects are independent. FileSystem implementations are stateless or
// guard their own state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vrx::os {

// errno value returned by File::Lock when another File holds the range.
inline constexpr int kLockConflict = 11;  // EAGAIN
// errno value returned by FileSystem::Open when a share mode forbids it.
inline constexpr int kSharingViolation = 16;  // EBUSY

struct OpenOptions {
  bool write = false;      // open for reading and writing, else reading only
  bool create = false;     // create the file (truncated to 0 when it exists)
  bool denyRead = false;   // other openers may not read while this File is open
  bool denyWrite = false;  // other openers may not write while this File is open
};

class File {
 public:
  virtual ~File() = default;

  // Reads up to `count` bytes at `offset`; `done` receives how many arrived
  // (fewer only at the end of the file).
  virtual int Read(int64_t offset, void* buffer, size_t count, size_t& done) = 0;
  // Writes all `count` bytes at `offset`, growing the file when needed.
  virtual int Write(int64_t offset, const void* buffer, size_t count) = 0;
  virtual int GetSize(int64_t& size) = 0;
  // Cuts or extends the file (extension reads back as zero bytes).
  virtual int SetSize(int64_t size) = 0;
  // Makes everything written so far durable (fsync).
  virtual int Sync() = 0;

  // Exclusive lock of [offset, offset + length); a File opened read-only
  // takes a shared lock instead, which still excludes every other holder's
  // exclusive lock. Taking a range this File already holds succeeds.
  virtual int Lock(int64_t offset, int64_t length) = 0;
  virtual int Unlock(int64_t offset, int64_t length) = 0;
  // lockedByOther := another File holds a lock on some byte of the range.
  virtual int Probe(int64_t offset, int64_t length, bool& lockedByOther) = 0;

  // Releases the handle and every lock of this File. Later calls fail with
  // EBADF. The destructor closes an open File and ignores the result.
  virtual int Close() = 0;

  virtual bool Writable() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens (or with options.create creates) the file; on failure returns
  // nullptr and sets `error`.
  virtual std::unique_ptr<File> Open(const std::string& path, const OpenOptions& options,
                                     int& error) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual int Remove(const std::string& path) = 0;
  // Syncs the directory entry list of `directory` (after create/remove).
  virtual int SyncDirectory(const std::string& directory) = 0;

  // readOnly := the file carries no write permission for anyone.
  virtual int GetReadOnlyAttribute(const std::string& path, bool& readOnly) = 0;
  // Rewrites the file's permissions unchanged: fails where the caller may
  // not change the file's attributes (not its owner, read-only mount).
  virtual int RewriteAttributes(const std::string& path) = 0;
  // Gives the owner write permission, so that the file can be replaced.
  virtual int ClearReadOnlyAttribute(const std::string& path) = 0;
};

// The POSIX implementation, shared by the whole process.
FileSystem& PosixFileSystem();

// The system's text for an errno value.
std::string ErrorText(int error);

// The directory part of a path ("." when it has none).
std::string DirectoryOf(const std::string& path);

}  // namespace vrx::os
