// TVRXDatabaseFile: the engine's wrapper around one operating-system file,
// with access and share modes, 64-bit positions, reads and writes that
// raise EVRXException with the caller's native error number, a real sync,
// byte-range locks and the search for the start of a database inside a
// larger file. Used by the disk page manager; reaches the system only
// through os::FileSystem (the POSIX one unless a test supplies another).
//
// Not thread-safe: the caller serialises calls (the open database's lock).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/file/VRXJournal.h"
#include "platform/os/File.h"

namespace vrx {

class TVRXDatabaseFile {
 public:
  enum AccessMode : int { amRead = 0, amReadWrite = 1 };
  enum ShareMode : int { smExclusive = 0, smDenyNone = 1, smDenyWrite = 2 };

  // `fileSystem` must outlive this object.
  explicit TVRXDatabaseFile(os::FileSystem& fileSystem = os::PosixFileSystem());
  ~TVRXDatabaseFile();
  TVRXDatabaseFile(const TVRXDatabaseFile&) = delete;
  TVRXDatabaseFile& operator=(const TVRXDatabaseFile&) = delete;

  // Deletes an existing file of that name first (after making it writable),
  // then creates it with read-write access and no sharing.
  void CreateFile(const std::string& fileName);
  void OpenFile(const std::string& fileName, int accessMode, int shareMode);
  // Closing a closed file does nothing.
  void CloseFile();

  bool Seek(int64_t position);
  void SetPosition(int64_t position, int32_t nativeError = 30372);
  int64_t GetPosition() const;
  int64_t GetSize();
  void SetSize(int64_t size);

  // Reads `count` bytes at `position` (which becomes position + bytes read).
  // Reading past the end is no failure: fewer bytes arrive, the rest of the
  // buffer keeps its contents; returns the number read. A failure raises
  // "Cannot Read from file: ..." carrying `nativeError`.
  int64_t ReadBuffer(void* buffer, int32_t nativeError, int64_t position, int64_t count);
  void WriteBuffer(const void* buffer, int32_t nativeError, int64_t position, int64_t count);
  // With a journal attached: writes at once, outside any commit (bytes other
  // processes must see immediately, such as the object-ID counter). Without
  // one it is WriteBuffer.
  void WriteBufferThrough(const void* buffer, int32_t nativeError, int64_t position,
                          int64_t count);
  // A real sync; with a journal attached, the commit of everything written
  // since the last one, atomic and durable.
  void FlushFileBuffers();

  // Rolls back what a crash left of an interrupted commit (see VRXJournal.h);
  // call it right after OpenFile, before anything is read. Throws for a
  // read-only file whose journal must be rolled back.
  TVRXRecovery RecoverFromJournal();
  // From now on writes and size changes are pending until FlushFileBuffers
  // (reads see them). `shared`: other processes write the file too.
  void AttachJournal(bool shared);
  // The journal attached to the open file, or null.
  TVRXJournaledFile* Journal() const { return journal_; }

  // Lock results are true on success and false when the bytes are held by
  // another holder or the system refused. Once the system has said that
  // this file cannot be locked at all, every lock call answers true.
  bool LockByte(int64_t count, int64_t position);
  bool UnlockByte(int64_t count, int64_t position);
  bool IsByteLocked(int64_t position);
  bool IsRegionLocked(int64_t count, int64_t position);

  // Finds the start S of the database: 0 when the file begins with the
  // signature and header size 76, else the first such place found by a scan
  // in windows of 10,000 bytes. Returns false (S = 0) when there is none.
  // The file position is left as it was.
  bool FindDatabaseStart(int64_t& start);

  bool IsOpen() const { return file_ != nullptr; }
  bool IsWritable() const { return file_ != nullptr && file_->Writable(); }
  bool LocksUnsupported() const { return locksUnsupported_; }
  const std::string& FileName() const { return fileName_; }
  int AccessMode() const { return accessMode_; }
  int ShareMode() const { return shareMode_; }
  os::FileSystem& FileSystem() const { return fileSystem_; }

 private:
  void RequireOpen(const char* operation) const;
  void RequireClosed(const char* operation) const;
  int64_t SizeForMessage();
  // Remembers that locks are unsupported when `error` says so.
  bool LockResult(int error);

  os::FileSystem& fileSystem_;
  std::unique_ptr<os::File> file_;
  TVRXJournaledFile* journal_ = nullptr;  // file_ itself, when a journal is attached
  std::string fileName_;
  int accessMode_ = amRead;
  int shareMode_ = smExclusive;
  int64_t position_ = 0;
  bool locksUnsupported_ = false;
};

// The system errors that mean "this file cannot be locked at all" (no lock
// support in the file system or kernel, a handle that does not allow it,
// device or network faults), as opposed to a lock held by someone else.
bool IsLockUnsupportedError(int error);

}  // namespace vrx
