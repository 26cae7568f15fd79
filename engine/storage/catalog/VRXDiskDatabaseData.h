// TVRXDiskDatabaseData: an open database file. It creates database files
// (system directory at page 2, session slot file, empty table list), opens
// the file when its first session connects and closes it when the last one
// leaves, gives sessions their slots in multi-user mode or holds the
// single-user lock for the whole process, commits and rolls back sessions'
// change sets, hands out object IDs and keeps the table list, whose changes
// run under the database's tables lock (a byte lock in the file).
//
// A process has one object per database file, found through the registry
// of open databases (VRXDatabaseRegistry.h).
//
// Lifecycle: created closed with its options; the first AddSession opens the
// file; the last RemoveSession closes it; CreateDatabase works only while
// closed and leaves the object closed.
//
// Thread-safety: as TVRXDatabaseData; the tables lock is additionally held
// at most once per process (a second LockTables waits, as another process
// would).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/catalog/VRXActiveSessions.h"
#include "engine/storage/catalog/VRXDatabaseData.h"
#include "engine/storage/catalog/VRXSystemDirectory.h"
#include "engine/storage/catalog/VRXTableList.h"
#include "engine/storage/pages/VRXDiskEngine.h"

namespace vrx {

// Bytes of a table's lock file per session slot.
inline constexpr int32_t kTableLockBytesPerSlot = 12;

struct TVRXDiskDatabaseOptions {
  std::string fileName;
  TVRXPassword password;
  int32_t maxConnections = kDefaultMaxConnections;
  uint16_t pageSize = kDefaultPageSize;
  uint16_t extentSize = kDefaultExtentSize;
  bool readOnly = false;
};

class TVRXDiskDatabaseData;

// Makes the table lock manager of an opened database for its slot count;
// `singleUser` managers grant everything without touching the file.
using TVRXTableLockManagerFactory = std::function<std::unique_ptr<TVRXTableLockManager>(
    TVRXDiskDatabaseData& database, int32_t maxConnections, bool singleUser)>;
// Makes the data object of a table in a database file.
using TVRXDiskTableDataFactory = std::function<std::unique_ptr<TVRXTableData>(
    TVRXDiskDatabaseData& database, const std::string& tableName)>;
// Fills a new table's metadata and most-updated files in session -2.
using TVRXTableFilesWriter = std::function<void(TVRXInternalDBTransactedAccessFile& metadata,
                                                TVRXInternalDBTransactedAccessFile& mostUpdated)>;

class TVRXDiskDatabaseData : public TVRXDatabaseData {
 public:
  // `fileSystem` must outlive the object.
  explicit TVRXDiskDatabaseData(TVRXDiskDatabaseOptions options,
                                os::FileSystem& fileSystem = os::PosixFileSystem());
  // Closes the database when it is still open.
  ~TVRXDiskDatabaseData() override;

  // Opens the database for its first session. Multi-user sessions get a
  // slot; single-user sessions get ID 0 and the process takes the
  // single-user lock, or gets the database read-only when another process
  // has it. "Cannot open database in multi-user and signle-user mode at the
  // same time" (20235) for a session whose mode differs from the open
  // database's. A failure leaves the session unconnected and closes a
  // database that no session uses.
  void AddSession(TVRXDatabaseSession& session) override;
  // Gives the session's slot or, for the last single-user session, the
  // single-user lock back; the last session rolls back its open transaction
  // and closes the database.
  void RemoveSession(TVRXDatabaseSession& session) override;
  // Reloads the table list from the file: every name in creation order.
  void GetTablesList(std::vector<std::string>& names) override;
  // Creates the database file; the object must be closed and stays closed.
  void CreateDatabase() override;
  TVRXTableData* CreateTableData(const std::string& tableName) override;
  int32_t GetNextObjectID() override;
  void Commit(int32_t sessionID, bool flush) override;
  void Rollback(int32_t sessionID) override;
  void FlushBuffers() override;

  // --- catalog -------------------------------------------------------------
  // The tables lock orders catalog changes between processes and sessions:
  // "Database tables are locked" (20210) after the lock attempts,
  // "Cannot unlock database tables" (20211).
  void LockTables();
  void UnlockTables();
  // Catalog changes: each reloads the table list (another process may have
  // changed it), changes it and saves it in session -2; the caller commits
  // session -2 (or cancels it and calls ReloadTableList).
  void AddTableEntry(int32_t tableID, const std::string& name, int32_t lockFilePage,
                     int32_t mostUpdatedPage, int32_t metadataPage);
  void DeleteTableEntry(const std::string& name);
  void RenameTableEntry(const std::string& name, const std::string& newName);
  // From the loaded list; "Table '%s' not exists." (30396).
  TVRXTableEntry FindTableEntry(const std::string& name);
  void ReloadTableList();
  // Creates a table's lock file (maximum connections x 12 bytes), metadata
  // file and most-updated file, lets `writer` fill the latter two, adds the
  // table list entry and commits session -2, all under the tables lock; on
  // failure session -2 is cancelled and nothing remains. The ID comes from
  // the object-ID counter.
  TVRXTableEntry CreateTableFiles(const std::string& name, const TVRXTableFilesWriter& writer);

  // --- state -----------------------------------------------------------------
  bool IsOpen() const { return diskPageManager_ != nullptr; }
  const TVRXDiskDatabaseOptions& Options() const { return options_; }
  const std::string& FileName() const { return options_.fileName; }
  // The stored limit once open, else the limit asked for at creation.
  int32_t MaxConnections() const { return maxConnections_; }
  uint16_t DatabasePageSize() const { return pageSize_; }
  uint16_t ExtentSize() const { return extentSize_; }
  bool RepairNeeded() const { return repairNeeded_; }
  bool HoldsSingleUserLock() const { return holdsSingleUserLock_; }
  TVRXDiskPageManager* DiskPageManager() const { return diskPageManager_.get(); }
  TVRXSystemDirectory* SystemDirectory() const { return systemDirectory_.get(); }
  TVRXTableListFile* TableList() const { return tableList_.get(); }
  TVRXActiveSessionsFile* ActiveSessions() const { return activeSessions_.get(); }
  TVRXTableLockManager* TableLockManager() const { return tableLockManager_.get(); }

  // Process-wide hooks through which the table layer plugs in its table
  // data objects and its table locks. Without a lock manager factory every
  // table lock is granted; without a table data factory CreateTableData
  // fails.
  static void SetTableLockManagerFactory(TVRXTableLockManagerFactory factory);
  static void SetTableDataFactory(TVRXDiskTableDataFactory factory);

 private:
  void OpenDatabase(TVRXDatabaseSession& session);
  void CloseDatabase();
  void ConnectSession(TVRXDatabaseSession& session);
  TVRXTableListFile& RequireTableList(int32_t nativeError);
  // Catalog and page changes are refused while this process may only read.
  void RequireWritable();
  // Saves the changed list in session -2; on failure reloads it.
  void SaveTableList();

  TVRXDiskDatabaseOptions options_;
  os::FileSystem& fileSystem_;
  std::unique_ptr<TVRXDiskPageManager> diskPageManager_;
  std::unique_ptr<TVRXSystemDirectory> systemDirectory_;
  std::unique_ptr<TVRXTableListFile> tableList_;
  std::unique_ptr<TVRXActiveSessionsFile> activeSessions_;
  std::unique_ptr<TVRXTableLockManager> tableLockManager_;
  int32_t maxConnections_;
  uint16_t pageSize_;
  uint16_t extentSize_;
  bool repairNeeded_ = false;
  bool holdsSingleUserLock_ = false;
  bool tablesLocked_ = false;
};

}  // namespace vrx
