#include "engine/storage/catalog/VRXDiskDatabaseData.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "engine/base/VRXExcept.h"

namespace vrx {

namespace {

// Errors the engine adds to the catalog's own.
constexpr int32_t kReadOnlyChange = 30475;
constexpr int32_t kNoTableDataFactory = 30476;

std::mutex& HooksMutex() {
  static std::mutex mutex;
  return mutex;
}
TVRXTableLockManagerFactory& LockManagerFactory() {
  static TVRXTableLockManagerFactory factory;
  return factory;
}
TVRXDiskTableDataFactory& TableDataFactory() {
  static TVRXDiskTableDataFactory factory;
  return factory;
}

}  // namespace

void TVRXDiskDatabaseData::SetTableLockManagerFactory(TVRXTableLockManagerFactory factory) {
  std::lock_guard<std::mutex> hold(HooksMutex());
  LockManagerFactory() = std::move(factory);
}

void TVRXDiskDatabaseData::SetTableDataFactory(TVRXDiskTableDataFactory factory) {
  std::lock_guard<std::mutex> hold(HooksMutex());
  TableDataFactory() = std::move(factory);
}

TVRXDiskDatabaseData::TVRXDiskDatabaseData(TVRXDiskDatabaseOptions options,
                                           os::FileSystem& fileSystem)
    : options_(std::move(options)),
      fileSystem_(fileSystem),
      maxConnections_(options_.maxConnections),
      pageSize_(options_.pageSize),
      extentSize_(options_.extentSize) {
  SetReadOnly(options_.readOnly);
}

TVRXDiskDatabaseData::~TVRXDiskDatabaseData() {
  try {
    CloseDatabase();
  } catch (...) {
    // A close failure cannot be reported from a destructor; the file is
    // closed all the same.
  }
}

// --- create, open, close -------------------------------------------------------------

void TVRXDiskDatabaseData::CreateDatabase() {
  TVRXDatabaseLock hold(*this);
  if (IsOpen())
    throw EVRXException("Error - database file %s is in use.", {options_.fileName}, 10461);
  TVRXDiskPageManager pageManager(fileSystem_);
  pageManager.CreateDatabaseFile(options_.fileName, options_.password, options_.extentSize,
                                 options_.pageSize);
  {
    TVRXSystemDirectory directory(pageManager);
    directory.Create(kSystemSessionID);
    TVRXActiveSessionsFile activeSessions(pageManager);
    directory.AddEntry(kActiveSessionsFileId, activeSessions.Create(options_.maxConnections));
    TVRXTableListFile tableList(pageManager);
    directory.AddEntry(kTableListFileId, tableList.Create(kSystemSessionID));
    directory.Save(kSystemSessionID);
    pageManager.ApplyChanges(kSystemSessionID);
  }
  pageManager.CloseDatabaseFile();
}

void TVRXDiskDatabaseData::OpenDatabase(TVRXDatabaseSession& session) {
  auto pageManager = std::make_unique<TVRXDiskPageManager>(fileSystem_);
  bool multiUser = session.multiUser;
  bool repairNeeded = false;
  bool readOnly = options_.readOnly;
  // Until everything is in place the objects are local: a failure frees
  // them and the page manager closes the file.
  pageManager->OpenDatabaseFile(options_.fileName, options_.password, multiUser, session.exclusive,
                                repairNeeded, readOnly);
  const uint16_t pageSize = pageManager->MainHeader().pageSize;
  const uint16_t extentSize = pageManager->MainHeader().extentSize;
  auto directory = std::make_unique<TVRXSystemDirectory>(*pageManager);
  directory->Load(kSystemSessionID);
  auto activeSessions = std::make_unique<TVRXActiveSessionsFile>(*pageManager);
  activeSessions->Open(directory->FindEntry(kActiveSessionsFileId));
  auto tableList = std::make_unique<TVRXTableListFile>(*pageManager);
  tableList->Open(directory->FindEntry(kTableListFileId));
  tableList->Load(kSystemSessionID);
  const int32_t maxConnections = activeSessions->MaxConnections();
  std::unique_ptr<TVRXTableLockManager> lockManager;
  {
    std::lock_guard<std::mutex> hooks(HooksMutex());
    if (LockManagerFactory()) lockManager = LockManagerFactory()(*this, maxConnections, !multiUser);
  }
  if (!lockManager) lockManager = std::make_unique<TVRXGrantingTableLockManager>();

  diskPageManager_ = std::move(pageManager);
  systemDirectory_ = std::move(directory);
  activeSessions_ = std::move(activeSessions);
  tableList_ = std::move(tableList);
  tableLockManager_ = std::move(lockManager);
  maxConnections_ = maxConnections;
  pageSize_ = pageSize;
  extentSize_ = extentSize;
  repairNeeded_ = repairNeeded;
  holdsSingleUserLock_ = false;
  tablesLocked_ = false;
  SetPageManager(diskPageManager_.get());
  SetMultiUser(multiUser);
  SetReadOnly(readOnly);
}

void TVRXDiskDatabaseData::CloseDatabase() {
  if (!IsOpen()) return;
  std::exception_ptr failure;
  try {
    if (holdsSingleUserLock_) activeSessions_->UnlockSingleUser();
  } catch (...) {
    failure = std::current_exception();
  }
  holdsSingleUserLock_ = false;
  tableLockManager_.reset();
  tableList_.reset();
  activeSessions_.reset();
  systemDirectory_.reset();
  try {
    diskPageManager_->CloseDatabaseFile();
  } catch (...) {
    // Changes nobody committed are dropped with the page manager, which
    // closes the file.
    if (!failure) failure = std::current_exception();
  }
  SetPageManager(nullptr);
  diskPageManager_.reset();
  tablesLocked_ = false;
  SetReadOnly(options_.readOnly);
  SetMultiUser(false);
  if (failure) std::rethrow_exception(failure);
}

// --- sessions --------------------------------------------------------------------------

void TVRXDiskDatabaseData::ConnectSession(TVRXDatabaseSession& session) {
  if (MultiUser()) {
    session.sessionID = activeSessions_->ConnectSession();
    return;
  }
  session.sessionID = 0;
  if (!holdsSingleUserLock_) {
    if (activeSessions_->LockSingleUser())
      holdsSingleUserLock_ = true;
    else
      SetReadOnly(true);  // another process has the database to itself
  }
}

void TVRXDiskDatabaseData::AddSession(TVRXDatabaseSession& session) {
  TVRXDatabaseLock hold(*this);
  if (std::find(Sessions().begin(), Sessions().end(), &session) != Sessions().end()) return;
  if (!IsOpen()) {
    OpenDatabase(session);
    session.multiUser = MultiUser();
  } else if (session.multiUser != MultiUser()) {
    throw EVRXException("Cannot open database in multi-user and signle-user mode at the same time",
                        20235);
  }
  try {
    ConnectSession(session);
  } catch (...) {
    session.sessionID = kInvalidSessionID;
    if (Sessions().empty()) {
      try {
        CloseDatabase();
      } catch (...) {
        // The connection's failure is the one to report.
      }
    }
    throw;
  }
  session.repairNeeded = repairNeeded_;
  session.readOnly = ReadOnly();
  TVRXDatabaseData::AddSession(session);
}

void TVRXDiskDatabaseData::RemoveSession(TVRXDatabaseSession& session) {
  TVRXDatabaseLock hold(*this);
  if (std::find(Sessions().begin(), Sessions().end(), &session) == Sessions().end()) return;
  const bool last = Sessions().size() == 1;
  std::exception_ptr failure;
  try {
    if (MultiUser()) {
      activeSessions_->DisconnectSession(session.sessionID);
    } else if (last && holdsSingleUserLock_) {
      holdsSingleUserLock_ = false;
      activeSessions_->UnlockSingleUser();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  RemoveSessionFromList(session);
  if (last) {
    try {
      if (session.inTransaction) Rollback(session.sessionID);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    session.inTransaction = false;
    try {
      CloseDatabase();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  session.sessionID = kInvalidSessionID;
  if (failure) std::rethrow_exception(failure);
}

// --- commit and rollback -------------------------------------------------------------

void TVRXDiskDatabaseData::RequireWritable() {
  if (ReadOnly())
    throw EVRXException("Cannot change database '%s'. Database is open read-only",
                        {options_.fileName}, kReadOnlyChange);
}

void TVRXDiskDatabaseData::Commit(int32_t sessionID, bool flush) {
  TVRXDatabaseLock hold(*this);
  if (!IsOpen()) throw EVRXException("Error - database file is not opened.", 10460);
  if (diskPageManager_->HasChanges(sessionID)) RequireWritable();
  if (MultiUser() && !tableLockManager_->LockModifiedTables(sessionID))
    throw EVRXException("Cannot commit changes. Locks of modified tables failed", 20233);
  try {
    diskPageManager_->ApplyChanges(sessionID);
    if (flush) FlushBuffers();
  } catch (...) {
    if (MultiUser()) tableLockManager_->ReleaseCommitLocks(sessionID);
    throw;
  }
  if (MultiUser()) tableLockManager_->ReleaseCommitLocks(sessionID);
}

void TVRXDiskDatabaseData::Rollback(int32_t sessionID) {
  TVRXDatabaseLock hold(*this);
  if (!IsOpen()) return;
  if (MultiUser()) tableLockManager_->ReleaseSessionLocks(sessionID);
  diskPageManager_->CancelChanges(sessionID);
  for (const auto& table : TableDataList()) table->Rollback(sessionID);
}

void TVRXDiskDatabaseData::FlushBuffers() {
  TVRXDatabaseLock hold(*this);
  if (!IsOpen()) return;
  // With the commit journal a flush also commits what is pending (the
  // free-space changes of cancelled sessions): that must not overlap another
  // process's commit.
  TVRXDiskPageManager& pageManager = *diskPageManager_;
  if (!RetryLock(pageManager.LockAttempts(), pageManager.LockSleepMs(),
                 [&pageManager] { return pageManager.LockHeader(); }))
    throw EVRXException("Database is locked", 20213);
  try {
    pageManager.DatabaseFile().FlushFileBuffers();
  } catch (...) {
    pageManager.UnlockHeader();
    throw;
  }
  pageManager.UnlockHeader();
}

int32_t TVRXDiskDatabaseData::GetNextObjectID() {
  TVRXDatabaseLock hold(*this);
  if (!IsOpen()) throw EVRXException("Error - database file is not opened.", 30399);
  return diskPageManager_->GetNextObjectID();
}

// --- tables ------------------------------------------------------------------------------

TVRXTableData* TVRXDiskDatabaseData::CreateTableData(const std::string& tableName) {
  TVRXDatabaseLock hold(*this);
  TVRXDiskTableDataFactory factory;
  {
    std::lock_guard<std::mutex> hooks(HooksMutex());
    factory = TableDataFactory();
  }
  if (!factory)
    throw EVRXException("Cannot open table '%s'. Tables of database files are not available",
                        {tableName}, kNoTableDataFactory);
  return AdoptTableData(factory(*this, tableName));
}

TVRXTableListFile& TVRXDiskDatabaseData::RequireTableList(int32_t nativeError) {
  if (!tableList_ || !tableList_->IsOpen()) throw EVRXException("Pointer is nil", nativeError);
  return *tableList_;
}

void TVRXDiskDatabaseData::GetTablesList(std::vector<std::string>& names) {
  TVRXDatabaseLock hold(*this);
  TVRXTableListFile& list = RequireTableList(20130);
  list.Load(kSystemSessionID);
  names.clear();
  for (const TVRXTableEntry& entry : list.Entries()) names.push_back(entry.name);
}

void TVRXDiskDatabaseData::ReloadTableList() {
  TVRXDatabaseLock hold(*this);
  RequireTableList(20131).Load(kSystemSessionID);
}

TVRXTableEntry TVRXDiskDatabaseData::FindTableEntry(const std::string& name) {
  TVRXDatabaseLock hold(*this);
  return RequireTableList(20129).FindTableEntry(name);
}

void TVRXDiskDatabaseData::SaveTableList() {
  try {
    tableList_->Save(kSystemSessionID);
  } catch (...) {
    tableList_->Load(kSystemSessionID);
    throw;
  }
}

void TVRXDiskDatabaseData::AddTableEntry(int32_t tableID, const std::string& name,
                                         int32_t lockFilePage, int32_t mostUpdatedPage,
                                         int32_t metadataPage) {
  TVRXDatabaseLock hold(*this);
  TVRXTableListFile& list = RequireTableList(20131);
  RequireWritable();
  list.Load(kSystemSessionID);
  list.AddTableEntry(tableID, name, lockFilePage, mostUpdatedPage, metadataPage);
  SaveTableList();
}

void TVRXDiskDatabaseData::DeleteTableEntry(const std::string& name) {
  TVRXDatabaseLock hold(*this);
  TVRXTableListFile& list = RequireTableList(20131);
  RequireWritable();
  list.Load(kSystemSessionID);
  list.DeleteTableEntry(name);
  SaveTableList();
}

void TVRXDiskDatabaseData::RenameTableEntry(const std::string& name, const std::string& newName) {
  TVRXDatabaseLock hold(*this);
  TVRXTableListFile& list = RequireTableList(20131);
  RequireWritable();
  list.Load(kSystemSessionID);
  list.RenameTableEntry(name, newName);
  SaveTableList();
}

void TVRXDiskDatabaseData::LockTables() {
  const auto attempt = [this] {
    TVRXDatabaseLock hold(*this);
    if (!IsOpen() || tablesLocked_ || !diskPageManager_->LockTables()) return false;
    tablesLocked_ = true;
    return true;
  };
  int attempts = kLockRetryAttempts;
  int sleepMs = kLockRetrySleepMs;
  {
    TVRXDatabaseLock hold(*this);
    if (!IsOpen()) throw EVRXException("Error - database file is not opened.", 10459);
    attempts = diskPageManager_->LockAttempts();
    sleepMs = diskPageManager_->LockSleepMs();
  }
  // The database's lock is not held while waiting, so that the holder can
  // give the tables lock back.
  if (!RetryLock(attempts, sleepMs, attempt))
    throw EVRXException("Database tables are locked", 20210);
}

void TVRXDiskDatabaseData::UnlockTables() {
  TVRXDatabaseLock hold(*this);
  if (!IsOpen() || !tablesLocked_) return;
  tablesLocked_ = false;
  if (!diskPageManager_->UnlockTables())
    throw EVRXException("Cannot unlock database tables", 20211);
}

TVRXTableEntry TVRXDiskDatabaseData::CreateTableFiles(const std::string& name,
                                                      const TVRXTableFilesWriter& writer) {
  {
    TVRXDatabaseLock hold(*this);
    RequireTableList(20131);
    RequireWritable();
  }
  const int32_t tableID = GetNextObjectID();
  LockTables();
  TVRXTableEntry entry;
  try {
    TVRXDatabaseLock hold(*this);
    TVRXDiskPageManager& pageManager = *diskPageManager_;
    try {
      TVRXInternalDBDirectAccessFile lockFile(pageManager, ptTableLocks);
      const int32_t lockFilePage = lockFile.Create(static_cast<int32_t>(
          std::min<int64_t>(int64_t{maxConnections_} * kTableLockBytesPerSlot, INT32_MAX)));
      TVRXInternalDBTransactedAccessFile metadata(pageManager, ptTableMetaData);
      metadata.Create(kSystemSessionID);
      TVRXInternalDBTransactedAccessFile mostUpdated(pageManager, ptTableMostUpdated);
      mostUpdated.Create(kSystemSessionID);
      if (writer) writer(metadata, mostUpdated);
      AddTableEntry(tableID, name, lockFilePage, mostUpdated.FirstPage(), metadata.FirstPage());
      pageManager.ApplyChanges(kSystemSessionID);
      entry = tableList_->FindTableEntry(name);
    } catch (...) {
      pageManager.CancelChanges(kSystemSessionID);
      try {
        tableList_->Load(kSystemSessionID);
      } catch (...) {
        // The creation's failure is the one to report.
      }
      throw;
    }
  } catch (...) {
    try {
      UnlockTables();
    } catch (...) {
    }
    throw;
  }
  UnlockTables();
  return entry;
}

}  // namespace vrx
