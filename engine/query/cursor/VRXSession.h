// Sessions of the local engine: TVRXBaseSession (the database it connects
// to, its transaction state, its named objects) and TVRXLocalSession (the
// session over a database of this process, through the registry of open
// databases). Cursors belong to a session; the table data objects read
// the session's ID and transaction state through the cursor and keep the
// last values of its sequences in its named objects.
//
// Transactions: outside an explicit transaction every change of a cursor
// is committed when its operation ends. Between StartTransaction and Commit
// the session's changes stay in its change set and nothing reaches the
// file; Rollback discards them, reloads the counters of every open table
// and puts every open cursor of the session, and the session's sequence
// values, back where they were at StartTransaction.
//
// A session is used by one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/metadata/VRXMetadataServices.h"
#include "engine/storage/tables/VRXTableCursor.h"

namespace vrx {

// A named object of a session: an object ID (-1 = identified by name) and a
// name of up to 255 characters.
struct TVRXSessionNamedObject {
  virtual ~TVRXSessionNamedObject() = default;
  int32_t objectID = -1;
  std::string name;
};

// The last value a sequence produced in the session.
struct TVRXSessionNamedObjectSequenceValue : TVRXSessionNamedObject {
  int64_t value = 0;
};

class TVRXBaseSession : public TVRXDatabaseSession, public TVRXSequenceSession {
 public:
  ~TVRXBaseSession() override = default;

  virtual bool IsConnected() const = 0;
  virtual void SetConnected(bool connected) = 0;
  virtual bool GetDatabaseFlag() = 0;
  virtual void SetDatabaseFlag(bool value) = 0;
  // "Cannot create database. Database is already open" when a session of
  // this process has the file open.
  virtual void CreateDatabase() = 0;
  virtual void Reserved() {}
  virtual void Reserved(const std::string&) {}
  virtual void GetTableNames(std::vector<std::string>& names) = 0;
  virtual bool TableExists(const std::string& name) = 0;
  // Frees an object of the same ID (or, for ID -1, the same name) first;
  // the session owns the new one.
  virtual void AddNamedObject(std::unique_ptr<TVRXSessionNamedObject> object);
  // Names compared ignoring case; nullptr when none.
  virtual TVRXSessionNamedObject* FindNamedObject(const std::string& name) const;
  virtual TVRXSessionNamedObject* FindNamedObjectByID(int32_t id) const;
  virtual void StartTransaction() = 0;
  // "Database is not in transaction. Cannot perform operation" (30532)
  // outside a transaction.
  virtual void Commit(bool flush) = 0;
  virtual void Rollback() = 0;
  virtual void FlushDatabase() = 0;

  // The open cursors of the session, whose positions a rollback restores.
  // Cursors register when they open and leave when they close.
  void AddCursor(TVRXTableCursor& cursor);
  void RemoveCursor(TVRXTableCursor& cursor);

  // TVRXSequenceSession
  int32_t SessionID() const override { return sessionID; }
  void SetSequenceLastValue(int32_t sequenceID, int64_t value) override;
  bool FindSequenceLastValue(int32_t sequenceID, int64_t& value) const override;

  std::string databaseName;
  std::string databaseFileName;
  int32_t maxConnections = kDefaultMaxConnections;

 protected:
  // What a rollback puts back: the cursors' positions and the sequence
  // values, as at StartTransaction.
  void SaveTransactionStart();
  void RestoreTransactionStart();
  void CloseCursors();

 private:
  struct CursorStart {
    TVRXTableCursor* cursor;
    bool atBOF;
    bool atEOF;
    TVRXRecordID recordID;
    bool known;  // the cursor was open at StartTransaction
  };
  std::vector<std::unique_ptr<TVRXSessionNamedObject>> namedObjects_;
  std::vector<CursorStart> cursors_;
  std::vector<TVRXSessionNamedObjectSequenceValue> sequencesAtStart_;
};

class TVRXLocalSession final : public TVRXBaseSession {
 public:
  TVRXLocalSession() = default;
  // Disconnects; an open transaction is rolled back. Disconnecting closes
  // the session's open cursors.
  ~TVRXLocalSession() override;
  TVRXLocalSession(const TVRXLocalSession&) = delete;
  TVRXLocalSession& operator=(const TVRXLocalSession&) = delete;

  bool IsConnected() const override { return database_ != nullptr; }
  // Connects to the database file databaseFileName (which must exist).
  // The in-memory ("MEMORY") and temporary ("TEMP") databases are not
  // available yet and are refused with 30534.
  void SetConnected(bool connected) override;
  // Not available yet (30534): the page manager keeps no such setting.
  bool GetDatabaseFlag() override;
  void SetDatabaseFlag(bool value) override;
  void CreateDatabase() override;
  void GetTableNames(std::vector<std::string>& names) override;
  bool TableExists(const std::string& name) override;
  void StartTransaction() override;
  void Commit(bool flush) override;
  void Rollback() override;
  void FlushDatabase() override;
  // The database's repair: not available yet (30534).
  void RepairDatabase();

  // "Pointer is nil" (30533) while disconnected.
  TVRXDatabaseData& DatabaseData() const;

  std::string password;
  uint8_t encryption = 0;
  int32_t pageSize = kDefaultPageSize;
  int32_t extentSize = kDefaultExtentSize;

 private:
  TVRXDatabaseData* database_ = nullptr;  // owned by the registry
};

}  // namespace vrx
