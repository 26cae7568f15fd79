// TVRXDiskTableData: the data object of a table in a database file. The
// table's files are its lock file, metadata file (page type 8) and
// most-updated file (page type 9), found through the table list; its
// record pages are listed by the record page index, whose root the
// metadata file holds, and its indexes are B-trees in the database's pages.
// Temporary (sort) indexes live in a private page manager of the table.
//
// Lifecycle: created closed (no managers). The first AddCursor opens the
// table from its files, later ones only register; the last RemoveCursor
// frees the managers (the object stays with the database, closed, and is
// reopened from the files by the next cursor). CreateTable works on a
// closed object and leaves it closed; drop, rename and empty open the table
// for their own duration with exclusive access.
//
// Record writes (InsertRecord, UpdateRecord, DeleteRecord) keep the
// indexes, the cursor's record bitmap and the stored counters in step and,
// outside an explicit transaction, commit the cursor's session when they
// end. A write that fails outside a transaction cancels the session's
// changes and reloads the counters, so that the table is as before it.
//
// Invariants (debug builds check them at the end of the record writes):
//  1. open <=> the managers exist <=> at least one cursor is registered,
//     outside CreateTable and the catalog operations;
//  2. the record manager's record count is never negative.
//
// Single-user databases only for now: the inter-process table locks of a
// multi-user database plug in through the catalog's lock manager later;
// until then a multi-user database grants every table lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/btree/VRXBTreePageIndex.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/catalog/VRXInternalFiles.h"
#include "engine/storage/tables/VRXPrivatePages.h"
#include "engine/storage/tables/VRXTableData.h"

namespace vrx {

class TVRXDiskTableData final : public TVRXBaseTableData, public TVRXIndexRecordSource {
 public:
  TVRXDiskTableData(std::string tableName, TVRXDiskDatabaseData& database);
  ~TVRXDiskTableData() override;

  // Registers the factory of disk table data objects with the catalog
  // (TVRXDiskDatabaseData::SetTableDataFactory). Programs call it once
  // before opening tables.
  static void Register();

  void CreateRecordManager() override;
  void SetFieldDefs(TVRXFieldDefs& defs) override;
  void SetIndexDefs(TVRXIndexDefs& defs) override;
  void SetConstraintDefs(TVRXConstraintDefs& defs) override;
  void Commit(int32_t sessionID, bool inTransaction) override;
  void Rollback(int32_t sessionID, bool inTransaction) override;
  // "Error creating table - no fields were specified" (20128) before
  // anything is allocated; every other failure cancels session -2.
  void CreateTable(TVRXTableCursor& cursor, TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                   TVRXConstraintDefs& constraints) override;
  void DeleteTable(TVRXTableCursor* cursor, bool force) override;
  void EmptyTable(TVRXTableCursor* cursor) override;
  void RenameTable(const std::string& newName, TVRXTableCursor* cursor) override;
  // "Cannot access table '%s' in exclusive mode. Probably the table is open
  // by another cursors" (20242) when cursors are registered and either the
  // new cursor asks for exclusive access or the table is opened
  // exclusively.
  void AddCursor(TVRXTableCursor& cursor) override;
  void RemoveCursor(TVRXTableCursor& cursor) override;
  void RenameField(const std::string& oldName, const std::string& newName) override;
  const TVRXIndexDef& AddIndex(const TVRXIndexDef& definition, TVRXTableCursor* cursor) override;
  void DeleteIndex(int32_t indexID, TVRXTableCursor* cursor) override;
  int64_t GetPositionLimit(int32_t sessionID) override;
  int64_t RecordIDToPosition(const TVRXRecordID& id) override;
  TVRXRecordID PositionToRecordID(int64_t position) override;
  bool InsertRecord(TVRXTableCursor& cursor) override;
  bool DeleteRecord(TVRXTableCursor& cursor) override;
  bool UpdateRecord(TVRXTableCursor& cursor) override;
  TVRXRecordID GetRecordIDByNumber(TVRXTableCursor& cursor, int64_t number) override;
  int64_t GetRecordNumber(TVRXTableCursor& cursor) override;
  int64_t GetTotalRecordCount(TVRXTableCursor& cursor) override;
  int64_t GetSequenceLastValue(int32_t fieldNo, TVRXSequenceSession& session) override;
  void ReloadCounters(int32_t sessionID) override;

  // The database rolled the session back: the counters are read again.
  void Rollback(int32_t sessionID) override;

  TVRXBTreeRecordIndex& RecordIndex(int32_t indexID) override;
  void StepStorageOrder(int32_t sessionID, TVRXReadRequest& request) override;
  bool FetchRecord(int32_t sessionID, const TVRXRecordID& id, std::span<uint8_t> record) override;

  // TVRXIndexRecordSource: the table's records as its indexes read them.
  bool ReadRecord(int32_t sessionID, const TVRXRecordID& id, std::span<uint8_t> record) override;
  void ForEachRecord(int32_t sessionID,
                     const std::function<void(const TVRXRecordID& id,
                                              std::span<const uint8_t> record)>& visit) override;

  int32_t TableID() const { return tableID_; }
  bool OpenedExclusively() const { return openedExclusively_; }
  TVRXDiskRecordManager* DiskRecordManager() const { return diskRecords_; }
  TVRXBTreeRecordPageIndex* RecordPageIndex() const { return pageIndex_.get(); }

 private:
  TVRXDiskDatabaseData& DiskDatabase() const { return disk_; }
  // Opens the table from its files for `cursor`'s session.
  void OpenTable(int32_t sessionID);
  void CloseTable();
  // Managers for the table ID and the page size, none loaded.
  void MakeManagers();
  void WriteCounters(int32_t sessionID);
  // The counters of a new table, in session -2.
  void WriteCountersTo(TVRXInternalDBTransactedAccessFile& file);
  void WriteMetadata(int32_t sessionID);
  // The metadata file read again into the managers: the undo of a
  // definition change whose saving failed.
  void ReloadMetadata(int32_t sessionID);
  // Undo of a failed record write outside a transaction.
  void UndoFailedWrite(TVRXTableCursor& cursor);

  void CheckInvariants() const;

  TVRXDiskDatabaseData& disk_;
  int32_t tableID_ = -1;
  bool openedExclusively_ = false;
  bool insideCatalogOperation_ = false;
  int32_t rememberedChangeCounter_ = 0;
  int32_t blobIndexRoot_ = -1;
  std::unique_ptr<TVRXInternalDBTransactedAccessFile> metadataFile_;
  std::unique_ptr<TVRXInternalDBTransactedAccessFile> mostUpdatedFile_;
  int32_t lockFilePage_ = -1;
  std::unique_ptr<TVRXPrivatePageManager> temporaryPages_;
  std::unique_ptr<TVRXBTreeIndexFactory> indexFactory_;
  std::unique_ptr<TVRXBTreeRecordPageIndex> pageIndex_;
  TVRXDiskRecordManager* diskRecords_ = nullptr;  // the record manager, typed
};

}  // namespace vrx
