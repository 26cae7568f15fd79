#include "engine/storage/pages/VRXDiskEngine.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"

namespace vrx {

namespace {

// Native errors of the encryption hook and of creation arguments, which the
// engine adds to the format's own messages.
constexpr int32_t kOpenEncryptedError = 30447;
constexpr int32_t kCreateEncryptedError = 30448;
constexpr int32_t kInvalidPageSizeError = 30449;

// Holds the header lock for one call and gives it back on every path.
class ScopedHeaderLock {
 public:
  explicit ScopedHeaderLock(TVRXDiskPageManager& manager) : manager_(manager) {}
  ~ScopedHeaderLock() { manager_.UnlockHeader(); }
  ScopedHeaderLock(const ScopedHeaderLock&) = delete;
  ScopedHeaderLock& operator=(const ScopedHeaderLock&) = delete;

 private:
  TVRXDiskPageManager& manager_;
};

}  // namespace

bool RetryLock(int attempts, int sleepMilliseconds, const std::function<bool()>& lockFunction) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (lockFunction()) return true;
    if (attempt + 1 < attempts)
      std::this_thread::sleep_for(std::chrono::milliseconds(sleepMilliseconds));
  }
  return false;
}

// The free-space map sees the manager through this view only: the page
// geometry, the header lock, the header's page counts, the file's length and
// whole service pages.
class TVRXDiskPageManager::FreeSpaceStore final : public TVRXFreeSpaceStore {
 public:
  explicit FreeSpaceStore(TVRXDiskPageManager& manager) : manager_(manager) {}

  int32_t PageSize() const override { return manager_.PageSize(); }
  int32_t PageHeaderSize() const override { return manager_.HeaderSize(); }
  int32_t ExtentSize() const override { return manager_.header_.extentSize; }

  void LockMap(int32_t nativeError) override { manager_.LockHeaderOrThrow(nativeError); }
  void UnlockMap() override { manager_.UnlockHeader(); }

  TVRXMapCounts LoadCounts() override {
    manager_.ReadHeader();
    return CachedCounts();
  }
  TVRXMapCounts CachedCounts() const override {
    return {manager_.header_.lastUsedPage, manager_.header_.totalPageCount};
  }
  void ResizeFile(int32_t totalPageCount) override {
    TVRXMainHeader& header = manager_.header_;
    if (totalPageCount > header.totalPageCount) {
      manager_.ExtendFile(totalPageCount - header.totalPageCount);
    } else if (totalPageCount < header.totalPageCount) {
      header.totalPageCount = totalPageCount;
      manager_.file_.SetSize(manager_.page0Offset_ + int64_t{totalPageCount} * PageSize());
    }
  }
  void StoreCounts(const TVRXMapCounts& counts) override {
    manager_.header_.lastUsedPage = counts.lastUsedPage;
    manager_.header_.totalPageCount = counts.totalPageCount;
    manager_.WriteHeader();
  }

  void ReadPage(TVRXPage& page) override { manager_.InternalReadPage(page); }
  void WritePage(TVRXPage& page) override { manager_.InternalWritePage(page); }

 private:
  TVRXDiskPageManager& manager_;
};

TVRXDiskPageManager::TVRXDiskPageManager(os::FileSystem& fileSystem, int32_t cacheCapacity)
    : TVRXPageManager(kDefaultPageSize, kPageHeaderSize, cacheCapacity),
      file_(fileSystem),
      freeSpaceStore_(std::make_unique<FreeSpaceStore>(*this)),
      random_(std::random_device{}()) {}

void TVRXDiskPageManager::StartFreeSpaceMap() {
  freeSpace_ = std::make_unique<TVRXDatabaseFreeSpaceManager>(*freeSpaceStore_);
}

TVRXDiskPageManager::~TVRXDiskPageManager() {
  try {
    DiscardAllPages();
    freeSpace_.reset();
    file_.CloseFile();
  } catch (...) {
    // A close failure cannot be reported from a destructor.
  }
}

void TVRXDiskPageManager::SetLockRetry(int attempts, int sleepMilliseconds) {
  lockAttempts_ = attempts < 1 ? 1 : attempts;
  lockSleepMs_ = sleepMilliseconds < 0 ? 0 : sleepMilliseconds;
}

TVRXDatabaseFreeSpaceManager& TVRXDiskPageManager::FreeSpace() {
  if (!freeSpace_) throw EVRXException("Error - database file is not opened.", 10459);
  return *freeSpace_;
}

void TVRXDiskPageManager::ComputeOffsets(int64_t start, int64_t layoutBlockSize) {
  start_ = start;
  cryptoOffset_ = start + header_.headerSize;
  layoutOffset_ = cryptoOffset_ + kCryptoHeaderSize;
  objectIdOffset_ = layoutOffset_ + layoutBlockSize;
  page0Offset_ = objectIdOffset_ + kObjectIdCounterSize;
}

void TVRXDiskPageManager::ResetState() {
  DiscardAllPages();
  freeSpace_.reset();
  headerLockCount_ = 0;
  commitPending_ = false;
  header_ = TVRXMainHeader{};
  crypto_ = TVRXCryptoHeader{};
  layout_ = TVRXLayoutBlock{};
  ComputeOffsets(0, kLayoutBlockSize);
}

int64_t TVRXDiskPageManager::PageOffset(int32_t pageNo) const {
  if (pageNo < 0) throw EVRXException("Invalid PageNo = %d", {pageNo}, 10471);
  return page0Offset_ + int64_t{pageNo} * PageSize();
}

// --- create, open, close ----------------------------------------------------------

void TVRXDiskPageManager::CreateDatabaseFile(const std::string& fileName,
                                             const TVRXPassword& password, uint16_t extentSize,
                                             uint16_t pageSize) {
  if (file_.IsOpen())
    throw EVRXException("Error - database file %s is in use.", {file_.FileName()}, 10461);
  // Refused before anything touches the disk.
  if (!password.password.empty())
    throw EVRXException("Cannot create database '%s': encrypted databases are not supported",
                        {fileName}, kCreateEncryptedError);
  if (pageSize <= kPageHeaderSize || extentSize == 0)
    throw EVRXException("Invalid page size = %d or extent size = %d",
                        {static_cast<int>(pageSize), static_cast<int>(extentSize)},
                        kInvalidPageSizeError);
  ResetState();
  password_ = password;
  SetPageSize(pageSize);
  // A journal left by an earlier file of this name must never be applied to
  // the new one.
  os::FileSystem& fileSystem = file_.FileSystem();
  const std::string journalName = JournalFileName(fileName);
  if (fileSystem.Exists(journalName)) fileSystem.Remove(journalName);
  file_.CreateFile(fileName);
  file_.AttachJournal(false);
  multiUser_ = false;
  exclusive_ = true;
  readOnly_ = false;

  header_ = TVRXMainHeader::Fresh(pageSize, extentSize);
  ComputeOffsets(0, kLayoutBlockSize);
  uint8_t bytes[kFirstPageOffset] = {};
  header_.Store(bytes);
  crypto_.Store(bytes + kCryptoHeaderOffset);
  layout_.Store(bytes + kLayoutBlockOffset);
  bytes::StoreI32(bytes + kObjectIdOffset, 0);
  file_.WriteBuffer(bytes, 10462, 0, kMainHeaderSize);
  file_.WriteBuffer(bytes + kCryptoHeaderOffset, 30438, cryptoOffset_, kCryptoHeaderSize);
  file_.WriteBuffer(bytes + kLayoutBlockOffset, 30444, layoutOffset_, kLayoutBlockSize);
  file_.WriteBuffer(bytes + kObjectIdOffset, 30406, objectIdOffset_, kObjectIdCounterSize);
  // The new file is durable, directory entry included, before it is used.
  file_.FlushFileBuffers();
  fileSystem.SyncDirectory(os::DirectoryOf(fileName));
  StartFreeSpaceMap();
}

void TVRXDiskPageManager::DetectReadOnly(const std::string& fileName, bool& multiUser,
                                         bool& readOnly) {
  os::FileSystem& fileSystem = file_.FileSystem();
  if (readOnly || !fileSystem.Exists(fileName)) return;
  bool attribute = false;
  if (fileSystem.GetReadOnlyAttribute(fileName, attribute) == 0 && attribute) {
    readOnly = true;
    multiUser = false;
    return;
  }
  if (fileSystem.RewriteAttributes(fileName) != 0) {
    readOnly = true;
    return;
  }
  os::OpenOptions probe;
  probe.write = true;
  probe.denyRead = !multiUser;
  int error = 0;
  auto handle = fileSystem.Open(fileName, probe, error);
  if (!handle)
    readOnly = true;
  else
    handle->Close();
}

void TVRXDiskPageManager::OpenDatabaseFile(const std::string& fileName,
                                           const TVRXPassword& password, bool& multiUser,
                                           bool exclusive, bool& repairNeeded, bool& readOnly) {
  if (file_.IsOpen())
    throw EVRXException("Error - database file %s is in use.", {file_.FileName()}, 10462);
  ResetState();
  password_ = password;
  repairNeeded = false;
  DetectReadOnly(fileName, multiUser, readOnly);
  int access = TVRXDatabaseFile::amRead;
  int share = TVRXDatabaseFile::smDenyNone;
  if (!readOnly) {
    access = TVRXDatabaseFile::amReadWrite;
    if (exclusive) {
      share = TVRXDatabaseFile::smExclusive;
      multiUser = false;
    }
  }
  file_.OpenFile(fileName, access, share);
  // Before anything reads the file: undo a commit a crash interrupted (a
  // read-only opener that would have to refuses to open instead).
  file_.RecoverFromJournal();
  // Where other processes may write too, the journal also syncs its
  // invalidation (see VRXJournal.h).
  if (!readOnly) file_.AttachJournal(multiUser || !exclusive);
  multiUser_ = multiUser;
  exclusive_ = exclusive && !readOnly;
  readOnly_ = readOnly;

  // The start is found before the header lock, whose byte lies after it.
  int64_t start = 0;
  file_.FindDatabaseStart(start);
  ComputeOffsets(start, kLayoutBlockSize);
  LockHeaderOrThrow(20230);
  {
    ScopedHeaderLock unlock(*this);
    ReadHeader();
    repairNeeded = header_.state != kStateConsistent || header_.version < kOldestSoundVersion;
  }
  if (!header_.SignatureValid())
    throw EVRXException("Invalid file format. Found signature: '%s', expected: '%s'",
                        {header_.SignatureText(), kDatabaseSignature}, 10470);
  if (header_.headerSize != kMainHeaderSize) throw EVRXException("Invalid database format", 20237);
  if (header_.encrypted != 0)
    throw EVRXException("Cannot open database '%s': encrypted databases are not supported",
                        {fileName}, kOpenEncryptedError);
  const bool countsSound = header_.totalPageCount >= 0 && header_.lastUsedPage >= -1 &&
                           header_.lastUsedPage < header_.totalPageCount;
  if (header_.pageSize <= kPageHeaderSize || header_.extentSize == 0 || !countsSound)
    throw EVRXException("Invalid database format", 20237);
  SetPageSize(header_.pageSize);

  ComputeOffsets(start, kLayoutBlockSize);
  uint8_t crypto[kCryptoHeaderSize] = {};
  file_.ReadBuffer(crypto, 30439, cryptoOffset_, kCryptoHeaderSize);
  crypto_.Load(crypto);
  if (cryptoOffset_ + crypto_.headerSize != layoutOffset_)
    throw EVRXException("Invalid database format", 20237);
  uint8_t layout[kLayoutBlockSize] = {};
  file_.ReadBuffer(layout, 30442, layoutOffset_, kLayoutBlockSize);
  layout_.Load(layout);
  // The block must at least hold its two lock bytes.
  if (layout_.blockSize <= kHeaderLockByte) throw EVRXException("Invalid database format", 20237);
  ComputeOffsets(start, layout_.blockSize);
  StartFreeSpaceMap();
}

void TVRXDiskPageManager::CloseDatabaseFile() {
  if (HasUncommittedPages()) throw EVRXException("Cannot free not commited pages", 20097);
  // Free-space changes of sessions that never committed (pages they added
  // and then cancelled) are still pending.
  if (file_.Journal() != nullptr && file_.Journal()->HasPendingChanges()) {
    LockHeaderOrThrow(20213);
    ScopedHeaderLock unlock(*this);
    file_.FlushFileBuffers();
  }
  DiscardAllPages();
  freeSpace_.reset();
  headerLockCount_ = 0;
  commitPending_ = false;
  file_.CloseFile();
}

// --- header -----------------------------------------------------------------------

void TVRXDiskPageManager::ReadHeader() {
  if (!file_.IsOpen()) throw EVRXException("Error - database file is not opened.", 10459);
  uint8_t bytes[kMainHeaderSize] = {};
  file_.ReadBuffer(bytes, 10464, start_, kMainHeaderSize);
  header_.Load(bytes);
}

void TVRXDiskPageManager::WriteHeader() {
  if (!file_.IsOpen()) throw EVRXException("Error - database file is not opened.", 10460);
  uint8_t bytes[kMainHeaderSize] = {};
  header_.Store(bytes);
  file_.WriteBuffer(bytes, 10462, start_, kMainHeaderSize);
}

bool TVRXDiskPageManager::LockHeader() {
  if (headerLockCount_ == 0 && !file_.LockByte(1, layoutOffset_ + kHeaderLockByte)) return false;
  ++headerLockCount_;
  return true;
}

bool TVRXDiskPageManager::UnlockHeader() {
  if (headerLockCount_ == 0) return false;
  if (--headerLockCount_ > 0) return true;
  return !file_.IsOpen() || file_.UnlockByte(1, layoutOffset_ + kHeaderLockByte);
}

void TVRXDiskPageManager::LockHeaderOrThrow(int32_t nativeError) {
  if (!RetryLock(lockAttempts_, lockSleepMs_, [this] { return LockHeader(); }))
    throw EVRXException("Database is locked", nativeError);
}

bool TVRXDiskPageManager::LockTables() {
  return file_.LockByte(1, layoutOffset_ + kTablesLockByte);
}

bool TVRXDiskPageManager::UnlockTables() {
  return file_.UnlockByte(1, layoutOffset_ + kTablesLockByte);
}

int32_t TVRXDiskPageManager::GetNextObjectID() {
  if (!file_.IsOpen()) throw EVRXException("Error - database file is not opened.", 30399);
  if (!RetryLock(lockAttempts_, lockSleepMs_,
                 [this] { return file_.LockByte(1, objectIdOffset_); }))
    throw EVRXException("Cannot get NextObjectID. File area is Locked.", 30401);
  int32_t next = 0;
  try {
    uint8_t bytes[kObjectIdCounterSize] = {};
    file_.ReadBuffer(bytes, 30400, objectIdOffset_, kObjectIdCounterSize);
    next = static_cast<int32_t>(bytes::LoadU32(bytes) + 1u);
    if (file_.IsWritable()) {
      bytes::StoreI32(bytes, next);
      // Other processes must see the counter at once; a counter lost in a
      // power cut is made durable by any later commit that used the ID.
      file_.WriteBufferThrough(bytes, 30404, objectIdOffset_, kObjectIdCounterSize);
    } else {
      // Nothing can be stored: a random offset keeps two readers' IDs apart.
      next = static_cast<int32_t>(static_cast<uint32_t>(next) +
                                  std::uniform_int_distribution<uint32_t>(0, 9999)(random_));
    }
  } catch (...) {
    file_.UnlockByte(1, objectIdOffset_);
    throw;
  }
  file_.UnlockByte(1, objectIdOffset_);
  return next;
}

// --- file size --------------------------------------------------------------------

void TVRXDiskPageManager::ExtendFile(int32_t pageCount) {
  if (pageCount <= 0) return;
  const int64_t newTotal = int64_t{header_.totalPageCount} + pageCount;
  if (newTotal > INT32_MAX) throw EVRXException("Invalid PageNo = %d", {newTotal}, 10471);
  // The pages end where the header says, whatever the file held before.
  const int64_t end = page0Offset_ + newTotal * PageSize();
  if (file_.GetSize() < end) file_.SetSize(end);
  header_.totalPageCount = static_cast<int32_t>(newTotal);
}

void TVRXDiskPageManager::ShrinkFile(int32_t pageCount) {
  if (pageCount <= 0 || pageCount > header_.totalPageCount) return;
  header_.totalPageCount -= pageCount;
  file_.SetSize(page0Offset_ + int64_t{header_.totalPageCount} * PageSize());
  WriteHeader();
}

void TVRXDiskPageManager::TruncateToLastUsedPage() {
  const int64_t cut = int64_t{header_.totalPageCount} - 1 - header_.lastUsedPage;
  if (cut > 0) ShrinkFile(static_cast<int32_t>(cut));
}

// --- raw page access --------------------------------------------------------------

void TVRXDiskPageManager::ReadPageBytes(void* buffer, int32_t pageNo, int32_t count,
                                        int32_t offsetInPage) {
  if (offsetInPage < 0 || count < 0 || int64_t{offsetInPage} + count > PageSize())
    throw EVRXException("Error - invalid page offset = %d, page size = %d",
                        {offsetInPage, PageSize()}, 10476);
  file_.ReadBuffer(buffer, 10474, PageOffset(pageNo) + offsetInPage, count);
}

void TVRXDiskPageManager::WritePageBytes(const void* buffer, int32_t pageNo, int32_t count,
                                         int32_t offsetInPage) {
  if (offsetInPage < 0 || count < 0 || int64_t{offsetInPage} + count > PageSize())
    throw EVRXException("Error - invalid page offset = %d, page size = %d",
                        {offsetInPage, PageSize()}, 10477);
  // Direct-access files live outside any commit.
  file_.WriteBufferThrough(buffer, 10475, PageOffset(pageNo) + offsetInPage, count);
}

bool TVRXDiskPageManager::LockPageByte(int32_t pageNo, int32_t offsetInPage) {
  return file_.LockByte(1, PageOffset(pageNo) + offsetInPage);
}

bool TVRXDiskPageManager::UnlockPageByte(int32_t pageNo, int32_t offsetInPage) {
  return file_.UnlockByte(1, PageOffset(pageNo) + offsetInPage);
}

bool TVRXDiskPageManager::IsPageByteLocked(int32_t pageNo, int32_t offsetInPage) {
  return file_.IsByteLocked(PageOffset(pageNo) + offsetInPage);
}

bool TVRXDiskPageManager::IsPageRegionLocked(int32_t pageNo, int32_t offsetInPage, int32_t count) {
  return file_.IsRegionLocked(count, PageOffset(pageNo) + offsetInPage);
}

int32_t TVRXDiskPageManager::ReadPageCounter(int32_t pageNo) {
  uint8_t bytes[4] = {};
  try {
    if (file_.ReadBuffer(bytes, 20197, PageOffset(pageNo) + page_header::kModCounter, 4) < 4)
      return kInvalidModCounter;
  } catch (const EVRXException&) {
    return kInvalidModCounter;
  }
  return bytes::LoadI32(bytes);
}

void TVRXDiskPageManager::WritePageCounter(int32_t pageNo, int32_t value) {
  uint8_t bytes[4];
  bytes::StoreI32(bytes, value);
  file_.WriteBufferThrough(bytes, 20198, PageOffset(pageNo) + page_header::kModCounter, 4);
}

// --- page manager slots -------------------------------------------------------------

int32_t TVRXDiskPageManager::GetTotalPageCount() {
  // A single-user writer is the only one that changes the header: its image
  // is the file's. Others (multi-user, or read-only beside a writer) read
  // the count under the header lock.
  if (!multiUser_ && !readOnly_ && file_.IsOpen()) return header_.totalPageCount;
  LockHeaderOrThrow(20236);
  ScopedHeaderLock unlock(*this);
  ReadHeader();
  return header_.totalPageCount;
}

void TVRXDiskPageManager::CommitMapChangesIfShared() {
  // Single-user: the map's changes ride with the next commit. Shared: other
  // processes read the map from the file, so the change is committed before
  // the header lock goes (else two processes could hand out one page).
  if (multiUser_ && headerLockCount_ == 1) file_.FlushFileBuffers();
}

void TVRXDiskPageManager::InternalAddPage(TVRXPage& page) {
  LockHeaderOrThrow(20231);
  ScopedHeaderLock unlock(*this);
  // The buffer first: a page number once taken must reach the caller.
  page.AllocateFreshBuffer();
  page.SetPageNo(FreeSpace().AllocatePage());
  CommitMapChangesIfShared();
}

void TVRXDiskPageManager::InternalFreePage(int32_t pageNo) {
  FreeSpace().CheckNotServicePage(pageNo);
  LockHeaderOrThrow(20232);
  ScopedHeaderLock unlock(*this);
  // Other processes' cached copies fail revalidation from now on. Part of
  // the commit that frees the page, like the map's change.
  uint8_t bytes[4];
  bytes::StoreI32(bytes, kInvalidModCounter);
  file_.WriteBuffer(bytes, 20198, PageOffset(pageNo) + page_header::kModCounter, 4);
  FreeSpace().FreePage(pageNo);
  CommitMapChangesIfShared();
}

bool TVRXDiskPageManager::InternalReadPage(TVRXPage& page) {
  const int64_t offset = PageOffset(page.PageNo());
  // The whole page is read into an unfilled buffer; a page that the file
  // ends in is read again over a fresh one, so that the bytes past the end
  // keep the fresh page's contents.
  page.AllocateBufferForRead();
  try {
    if (file_.ReadBuffer(page.Buffer(), 10473, offset, PageSize()) < PageSize()) {
      page.AllocateFreshBuffer();
      file_.ReadBuffer(page.Buffer(), 10473, offset, PageSize());
    }
  } catch (const EVRXException&) {
    page.AllocateFreshBuffer();  // the buffer exists: filled, not allocated
    page.SetModCounter(kInvalidModCounter);
    return false;
  }
  return true;
}

void TVRXDiskPageManager::InternalWritePage(TVRXPage& page) {
  const int64_t offset = PageOffset(page.PageNo());
  page.SetModCounter(NextModCounter(page.ModCounter()));
  file_.WriteBuffer(page.Buffer(), 10469, offset, PageSize());
}

void TVRXDiskPageManager::RemovePage(int32_t sessionID, int32_t pageNo) {
  FreeSpace().CheckNotServicePage(pageNo);
  TVRXPageManager::RemovePage(sessionID, pageNo);
}

TVRXPage* TVRXDiskPageManager::GetPage(int32_t sessionID, int32_t pageNo, uint16_t pageType) {
  FreeSpace().CheckNotServicePage(pageNo);
  if (pageNo < 0) throw EVRXException("Invalid PageNo = %d", {pageNo}, 10471);
  return TVRXPageManager::GetPage(sessionID, pageNo, pageType);
}

void TVRXDiskPageManager::RevalidateCachedPage(TVRXPage& page) {
  if (!multiUser_ || page.Dirty()) return;
  const int32_t onDisk = ReadPageCounter(page.PageNo());
  if (onDisk == kInvalidModCounter || onDisk == page.ModCounter()) return;
  if (!InternalReadPage(page)) page.SetStale(true);
}

void TVRXDiskPageManager::ApplyChanges(int32_t sessionID) {
  // A usage error is reported before anything is written, so it never
  // leaves the header in state 1.
  CheckSessionPagesReleased(sessionID);
  // Nothing changed: the file stays untouched, unless an earlier commit
  // failed and its writes wait for this retry.
  if (!HasChanges(sessionID) && !commitPending_) return;
  LockHeaderOrThrow(20213);
  ScopedHeaderLock unlock(*this);
  if (HasChanges(sessionID)) WriteCommit(sessionID);
  // Everything the commit wrote, with every free-space change since the
  // last commit, goes to the file through the journal at once, still under
  // the header lock. A failure leaves the file as before the commit and the
  // writes pending (the pages stay cached as written), for a retry.
  commitPending_ = true;
  file_.FlushFileBuffers();
  commitPending_ = false;
}

void TVRXDiskPageManager::WriteCommit(int32_t sessionID) {
  ReadHeader();
  header_.state = kStateCommitting;
  WriteHeader();
  WriteChangeSet(sessionID);
  header_.commitCounter = static_cast<int32_t>(static_cast<uint32_t>(header_.commitCounter) + 1u);
  header_.state = kStateConsistent;
  WriteHeader();
}

}  // namespace vrx
