// TVRXDatabaseData: one open database as the sessions of a process share it
// (a database file, the in-memory database or the temporary database). It
// keeps the connected sessions, the open tables' data objects and the page
// manager, and carries out connecting and disconnecting sessions, commits
// and rollbacks, object IDs and the list of tables. TVRXDiskDatabaseData
// (VRXDiskDatabaseData.h) is the variant for a database file.
//
// Also here: what the database needs of the objects around it, which later
// layers implement:
//  - TVRXDatabaseSession: the part of a session the database reads and sets
//    (its ID, its modes, the answers of opening);
//  - TVRXTableData: the base of a table's shared data object; the database
//    owns the table data objects it created and frees them with itself;
//  - TVRXTableLockManager: the table locks between processes, consulted at
//    commit and rollback in multi-user mode.
//
// Thread-safety: one recursive critical section per database serialises
// AddSession, RemoveSession, Commit, Rollback, table-list changes and table
// data creation; Lock/Unlock expose it to callers that need several calls
// to happen as one.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {

// The session as the database sees it. The session layer derives its
// sessions from this or keeps one per engine session; the database never
// owns it.
class TVRXDatabaseSession {
 public:
  virtual ~TVRXDatabaseSession() = default;

  // Set by AddSession: the slot of a multi-user session, 0 in single-user
  // mode; -1 while not connected.
  int32_t sessionID = kInvalidSessionID;
  // Asked for by the session; AddSession replaces it with the mode in force.
  bool multiUser = false;
  bool exclusive = false;
  // Set by AddSession: the file's header says a commit was interrupted or
  // the format is old.
  bool repairNeeded = false;
  // Set by AddSession: this process may only read the database.
  bool readOnly = false;
  // The session has an explicit transaction open; the last RemoveSession
  // rolls it back.
  bool inTransaction = false;
};

// The base of a table's data object (the table layer derives its disk,
// in-memory and temporary variants from it).
class TVRXTableData {
 public:
  explicit TVRXTableData(std::string tableName) : tableName_(std::move(tableName)) {}
  virtual ~TVRXTableData() = default;
  TVRXTableData(const TVRXTableData&) = delete;
  TVRXTableData& operator=(const TVRXTableData&) = delete;

  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string name) { tableName_ = std::move(name); }
  // Undoes what the session changed in the table's in-memory state (the
  // pages themselves are cancelled by the database).
  virtual void Rollback(int32_t sessionID) = 0;

 private:
  std::string tableName_;
};

// Table locks between processes. In single-user mode nothing is locked and
// every request is granted.
class TVRXTableLockManager {
 public:
  virtual ~TVRXTableLockManager() = default;
  // At commit: turn the session's change locks into write locks; false when
  // they cannot be had.
  virtual bool LockModifiedTables(int32_t sessionSlot) = 0;
  // After a commit: release the locks taken for it.
  virtual void ReleaseCommitLocks(int32_t sessionSlot) = 0;
  // At rollback: release the session's table locks.
  virtual void ReleaseSessionLocks(int32_t sessionSlot) = 0;
};

// Grants every lock and touches nothing: the manager of a database that is
// not shared between processes, and the stand-in until the table locks of
// the lock files are in place.
class TVRXGrantingTableLockManager final : public TVRXTableLockManager {
 public:
  bool LockModifiedTables(int32_t) override { return true; }
  void ReleaseCommitLocks(int32_t) override {}
  void ReleaseSessionLocks(int32_t) override {}
};

class TVRXDatabaseData {
 public:
  TVRXDatabaseData();
  // Frees every table data object.
  virtual ~TVRXDatabaseData();
  TVRXDatabaseData(const TVRXDatabaseData&) = delete;
  TVRXDatabaseData& operator=(const TVRXDatabaseData&) = delete;

  // --- operations a database overrides, in the engine's slot order ---
  virtual void AddSession(TVRXDatabaseSession& session);
  virtual void RemoveSession(TVRXDatabaseSession& session);
  // Frees the object when no session is connected: the registry of open
  // databases destroys it (the caller must not use it after true).
  virtual bool FreeIfUnused();
  // Fills `names` with the tables of the database (the base: the names of
  // the open table data objects).
  virtual void GetTablesList(std::vector<std::string>& names);
  virtual void CreateDatabase();
  // A new table data object for `tableName`, owned by the database.
  virtual TVRXTableData* CreateTableData(const std::string& tableName) = 0;
  // The first open table data object whose name equals `tableName` after
  // locale-aware upper-casing, or null.
  virtual TVRXTableData* FindTableData(const std::string& tableName);
  virtual TVRXTableData* GetTableData(const std::string& tableName);
  virtual int32_t GetNextObjectID() = 0;
  virtual void Commit(int32_t sessionID, bool flush);
  virtual void Rollback(int32_t sessionID);
  virtual void FlushBuffers();

  // The table list, then a search that ignores ASCII case.
  bool TableExists(const std::string& tableName);

  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }

  TVRXPageManager* PageManager() const { return pageManager_; }
  bool ReadOnly() const { return readOnly_; }
  bool MultiUser() const { return multiUser_; }
  int32_t SessionCount();
  const std::vector<TVRXDatabaseSession*>& Sessions() const { return sessions_; }
  const std::vector<std::unique_ptr<TVRXTableData>>& TableDataList() const { return tables_; }

 protected:
  void SetPageManager(TVRXPageManager* pageManager) { pageManager_ = pageManager; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  void SetMultiUser(bool multiUser) { multiUser_ = multiUser; }
  // Takes ownership of a new table data object.
  TVRXTableData* AdoptTableData(std::unique_ptr<TVRXTableData> table);
  void RemoveSessionFromList(TVRXDatabaseSession& session);

  std::recursive_mutex lock_;

 private:
  std::vector<TVRXDatabaseSession*> sessions_;
  std::vector<std::unique_ptr<TVRXTableData>> tables_;
  TVRXPageManager* pageManager_ = nullptr;
  bool readOnly_ = false;
  bool multiUser_ = false;
};

// Holds a database's critical section for one scope.
class TVRXDatabaseLock {
 public:
  explicit TVRXDatabaseLock(TVRXDatabaseData& database) : database_(database) { database_.Lock(); }
  ~TVRXDatabaseLock() { database_.Unlock(); }
  TVRXDatabaseLock(const TVRXDatabaseLock&) = delete;
  TVRXDatabaseLock& operator=(const TVRXDatabaseLock&) = delete;

 private:
  TVRXDatabaseData& database_;
};

}  // namespace vrx
