// TVRXDiskPageManager: the page manager of a database file. It owns the
// TVRXDatabaseFile, the in-memory images of the main header, crypto header
// and layout block, and the free-space map; it reads and writes pages at
// S + 380 + n * page size, guards the header with a re-entrant byte lock,
// hands out object IDs, and in multi-user mode revalidates cached pages
// against their on-disk modification counters. Used by the database layer
// (catalog, internal files) and, through the base class, by every table.
//
// Commit protocol (ApplyChanges, one clear sequence in WriteCommit):
//   lock header -> read header -> state 1, write header -> free removed pages
//   -> write dirty pages in ascending order -> commit counter + 1, state 2,
//   write header -> journal commit -> unlock header.
// The file carries a rollback journal (VRXJournal.h): every write of the
// sequence, and every free-space change since the last commit, stays pending
// until the journal commit makes them part of the file at once and durably
// (two syncs). A crash at any moment leaves the file as after the last
// commit or as after the interrupted one; the next open rolls back what the
// journal describes before anything reads the file. State 1 therefore never
// reaches the disk from this engine; a file in state 1 without a journal
// (written by a program that crashed without one) still opens as
// repair-needed. Writes outside commits: the object-ID counter and the
// bytes of direct-access files go to the file at once.
//
// The operating system is reached only through the os::FileSystem given at
// construction, so tests can substitute their own file layer.
//
// Encrypted databases are not supported: the format keeps their room (the
// encrypted flag, the crypto header, the page header's CRC and cipher id),
// but creating with a password or opening an encrypted file fails.
//
// Not thread-safe: the open database's lock serialises calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "engine/storage/file/VRXDatabaseFile.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {

class TVRXDatabaseFreeSpaceManager;

struct TVRXPassword {
  std::string password;
  uint8_t cipherId = 0;
};

inline constexpr int kLockRetryAttempts = 4500;
inline constexpr int kLockRetrySleepMs = 20;

// Calls `lockFunction` until it succeeds, sleeping between attempts, at most
// `attempts` times; reports whether the lock was obtained.
bool RetryLock(int attempts, int sleepMilliseconds, const std::function<bool()>& lockFunction);

class TVRXDiskPageManager : public TVRXPageManager {
 public:
  // `fileSystem` must outlive the manager.
  explicit TVRXDiskPageManager(os::FileSystem& fileSystem = os::PosixFileSystem(),
                               int32_t cacheCapacity = kDefaultCacheCapacity);
  ~TVRXDiskPageManager() override;  // closes the file, discarding uncommitted pages

  void CreateDatabaseFile(const std::string& fileName, const TVRXPassword& password,
                          uint16_t extentSize = kDefaultExtentSize,
                          uint16_t pageSize = kDefaultPageSize);
  // multiUser and readOnly are in/out; a failure may leave the file open
  // (CloseDatabaseFile closes it).
  void OpenDatabaseFile(const std::string& fileName, const TVRXPassword& password, bool& multiUser,
                        bool exclusive, bool& repairNeeded, bool& readOnly);
  // Throws "Cannot free not commited pages" (20097), leaving everything
  // open, while a session still has uncommitted pages.
  void CloseDatabaseFile();
  bool IsOpen() const { return file_.IsOpen(); }

  // Main header image <-> file.
  void ReadHeader();
  void WriteHeader();
  int32_t GetNextObjectID();

  bool LockHeader();    // re-entrant: the file lock is taken at the first hold
  bool UnlockHeader();  // and released at the last
  bool LockTables();
  bool UnlockTables();
  int HeaderLockCount() const { return headerLockCount_; }
  // Lock retries of this manager (4500 attempts of 20 ms unless changed).
  void SetLockRetry(int attempts, int sleepMilliseconds);
  int LockAttempts() const { return lockAttempts_; }
  int LockSleepMs() const { return lockSleepMs_; }

  void ExtendFile(int32_t pageCount);
  void ShrinkFile(int32_t pageCount);
  // Cuts every page after the last used one (total - 1 - last used pages,
  // when that is above 0). The caller holds the header lock and has read the
  // header.
  void TruncateToLastUsedPage();

  // Raw page access for direct-access files and cache revalidation.
  void ReadPageBytes(void* buffer, int32_t pageNo, int32_t count, int32_t offsetInPage);
  void WritePageBytes(const void* buffer, int32_t pageNo, int32_t count, int32_t offsetInPage);
  bool LockPageByte(int32_t pageNo, int32_t offsetInPage);
  bool UnlockPageByte(int32_t pageNo, int32_t offsetInPage);
  bool IsPageByteLocked(int32_t pageNo, int32_t offsetInPage);
  bool IsPageRegionLocked(int32_t pageNo, int32_t offsetInPage, int32_t count);
  // 0x7FFFFFFF when the counter cannot be read.
  int32_t ReadPageCounter(int32_t pageNo);
  void WritePageCounter(int32_t pageNo, int32_t value);

  // --- page manager slots ---
  int32_t GetTotalPageCount() override;
  void InternalAddPage(TVRXPage& page) override;
  void InternalFreePage(int32_t pageNo) override;
  bool InternalReadPage(TVRXPage& page) override;
  void InternalWritePage(TVRXPage& page) override;
  void RemovePage(int32_t sessionID, int32_t pageNo) override;
  TVRXPage* GetPage(int32_t sessionID, int32_t pageNo, uint16_t pageType) override;
  void ApplyChanges(int32_t sessionID) override;

  const TVRXMainHeader& MainHeader() const { return header_; }
  TVRXMainHeader& MutableMainHeader() { return header_; }
  const TVRXCryptoHeader& CryptoHeader() const { return crypto_; }
  int64_t StartOffset() const { return start_; }
  int64_t LayoutBlockOffset() const { return layoutOffset_; }
  int64_t ObjectIdOffset() const { return objectIdOffset_; }
  int64_t PageOffset(int32_t pageNo) const;  // "Invalid PageNo = %d" (10471)
  bool IsMultiUser() const { return multiUser_; }
  bool IsExclusive() const { return exclusive_; }
  bool IsReadOnly() const { return readOnly_; }
  TVRXDatabaseFile& DatabaseFile() { return file_; }
  TVRXDatabaseFreeSpaceManager& FreeSpace();

 protected:
  // The write sequence of one commit, under the header lock: everything
  // ApplyChanges writes goes through here (a journal wraps this call).
  virtual void WriteCommit(int32_t sessionID);
  void RevalidateCachedPage(TVRXPage& page) override;

 private:
  // The free-space map's narrow view of this manager (VRXFreeSpaceStore.h).
  class FreeSpaceStore;

  // LockHeader through RetryLock; "Database is locked" with nativeError.
  void LockHeaderOrThrow(int32_t nativeError);
  // In multi-user mode, commits the free-space map's pending changes while
  // the outermost header lock is held.
  void CommitMapChangesIfShared();
  void ComputeOffsets(int64_t start, int64_t layoutBlockSize);
  void ResetState();
  void DetectReadOnly(const std::string& fileName, bool& multiUser, bool& readOnly);
  // A map over the file just opened or created.
  void StartFreeSpaceMap();

  TVRXDatabaseFile file_;
  TVRXMainHeader header_;
  TVRXCryptoHeader crypto_;
  TVRXLayoutBlock layout_;
  TVRXPassword password_;
  int64_t start_ = 0;
  int64_t cryptoOffset_ = kCryptoHeaderOffset;
  int64_t layoutOffset_ = kLayoutBlockOffset;
  int64_t objectIdOffset_ = kObjectIdOffset;
  int64_t page0Offset_ = kFirstPageOffset;
  std::unique_ptr<FreeSpaceStore> freeSpaceStore_;
  std::unique_ptr<TVRXDatabaseFreeSpaceManager> freeSpace_;  // while a file is open
  bool multiUser_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  int headerLockCount_ = 0;
  bool commitPending_ = false;  // a commit's journal write failed: retry it
  int lockAttempts_ = kLockRetryAttempts;
  int lockSleepMs_ = kLockRetrySleepMs;
  std::mt19937 random_;
};

}  // namespace vrx
