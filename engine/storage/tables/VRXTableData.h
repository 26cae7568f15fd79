// TVRXBaseTableData: the shared data object of one open table, the base of
// the disk variant (VRXDiskTableData.h) and of the in-memory and temporary
// variants to come. It derives from the catalog's TVRXTableData (what the
// database keeps of a table) and adds the table's operations in the
// engine's slot order, its managers (field, index, constraint, record), the
// list of cursors using it and the table's lock.
//
// Every slot runs under the table's lock (a recursive critical section):
// cursors of several sessions share the object. The cursor passed in
// supplies the session and its transaction state (VRXTableCursor.h).
//
// Record navigation (GetRecord, LocateRecord, FindKeyRecord, record counts
// and numbers) works for every variant through RecordIndex,
// StepStorageOrder and FetchRecord. The BLOB slots (WriteBlobToRecord,
// CreateBlobStream) have their final signatures and raise "Table '%s': %s
// is not available in this engine yet" (30525) until that part exists.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/catalog/VRXDatabaseData.h"
#include "engine/storage/metadata/VRXConstraintManager.h"
#include "engine/storage/metadata/VRXFieldManager.h"
#include "engine/storage/metadata/VRXIndexManager.h"
#include "engine/storage/records/VRXRecordManager.h"
#include "engine/storage/tables/VRXTableCursor.h"

namespace vrx {

// Memory record size and the offset of field 0 (0 without fields).
struct TVRXRecordSizes {
  int32_t recordSize = 0;
  int32_t firstFieldOffset = 0;
};

class TVRXBaseTableData : public TVRXTableData, public TVRXMetadataTable {
 public:
  TVRXBaseTableData(std::string tableName, TVRXDatabaseData& database);
  ~TVRXBaseTableData() override;

  // --- the engine's slots ----------------------------------------------------------
  virtual void CreateRecordManager() = 0;
  virtual void SetFieldDefs(TVRXFieldDefs& defs);
  virtual void SetIndexDefs(TVRXIndexDefs& defs);
  virtual void SetConstraintDefs(TVRXConstraintDefs& defs);
  virtual TVRXRecordSizes GetRecordSizes();
  // ApplyChanges / CancelChanges of the session unless in a transaction.
  virtual void Commit(int32_t sessionID, bool inTransaction);
  virtual void Rollback(int32_t sessionID, bool inTransaction);
  virtual void CreateTable(TVRXTableCursor& cursor, TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                           TVRXConstraintDefs& constraints) = 0;
  // "Cannot delete table '%s'. Table is open by another dataset" (20017)
  // while cursors are open, unless forced.
  virtual void DeleteTable(TVRXTableCursor* cursor, bool force);
  // Counters reset, every index emptied.
  virtual void EmptyTable(TVRXTableCursor* cursor);
  // "Cannot rename table '%s'. Table is open by another dataset" (10150)
  // while cursors are open.
  virtual void RenameTable(const std::string& newName, TVRXTableCursor* cursor);
  virtual void AddCursor(TVRXTableCursor& cursor);
  virtual void RemoveCursor(TVRXTableCursor& cursor);
  // "Field '%s' not found" (30343); "Cannot rename field '%s'. Field '%s'
  // already exists" (30344); names compared case-insensitively.
  virtual void RenameField(const std::string& oldName, const std::string& newName);
  virtual const TVRXIndexDef& AddIndex(const TVRXIndexDef& definition, TVRXTableCursor* cursor);
  virtual void DeleteIndex(int32_t indexID, TVRXTableCursor* cursor);
  // The name of an index that sorts on the fields, a temporary index of the
  // cursor's session built when none exists.
  virtual std::string GetSortIndex(TVRXTableCursor& cursor, const std::vector<std::string>& fields,
                                   const std::vector<std::string>& directions,
                                   const std::vector<std::string>& cases);
  virtual int64_t GetPositionLimit(int32_t sessionID) = 0;
  virtual int64_t RecordIDToPosition(const TVRXRecordID& id) = 0;
  virtual TVRXRecordID PositionToRecordID(int64_t position) = 0;
  virtual void ReleaseRecordData(std::span<uint8_t> record);
  // --- record navigation (VRXTableNavigation.cpp) ----------------------------------
  // The current (0), next (1) or prior (2) record in the cursor's order,
  // passing its range, filters and distinct setting, read into the
  // cursor's record data; the cursor's position follows. 0 read, 1 before
  // first, 2 after last, 3 no record (the current one is gone or no longer
  // passes).
  virtual int32_t GetRecord(TVRXTableCursor& cursor, int32_t mode, bool reloadCounters);
  // Positions on the first record, in the cursor's order, that satisfies
  // `expression` and the cursor's restrictions, and reads it; false leaves
  // the position as it was.
  virtual bool LocateRecord(TVRXTableCursor& cursor, TVRXScanExpression& expression);
  // As LocateRecord for the first record whose leading keyFieldCount key
  // fields of the current index compare with the cursor's key buffer by
  // `comparison` (1 "=", 2 "<", 3 ">", 4 "<=", 5 ">="). "No active index is
  // set for Key search. Set Table.IndexName to the index on search fields."
  // (30558) without a current index.
  virtual bool FindKeyRecord(TVRXTableCursor& cursor, int32_t comparison);
  // The records that pass the cursor's restrictions (the session's record
  // count for an unrestricted cursor).
  virtual int64_t GetRecordCount(TVRXTableCursor& cursor);
  // Record numbers from 1 in the cursor's order; -1 at either end or for an
  // empty table. SetRecNo clamps to the count; an empty table leaves the
  // position as it is.
  virtual void SetRecNo(TVRXTableCursor& cursor, int64_t recNo);
  virtual int64_t GetRecNo(TVRXTableCursor& cursor);
  // The record passes the cursor's range, filter, extra filter and record
  // filter.
  bool AcceptRecord(TVRXTableCursor& cursor, std::span<const uint8_t> record);
  // How many records navigation has read since the object was made: what
  // shows that a search answered from an index read no record it did not
  // need.
  int64_t RecordsReadByNavigation() const { return recordsRead_; }
  // The record after (before) `id` in the cursor's order among those that
  // pass its restrictions, without moving the cursor.
  bool NeighbourInCursorOrder(TVRXTableCursor& cursor, const TVRXRecordID& id, bool forward,
                              TVRXRecordID& found);
  virtual void WriteBlobToRecord(TVRXTableCursor& cursor, int32_t fieldNo);
  virtual void FreeBlobField(std::span<uint8_t> record, int32_t fieldNo);
  virtual void FreeRecordBlobs(std::span<uint8_t> record);
  virtual void CreateBlobStream(TVRXTableCursor& cursor, int32_t fieldNo, int32_t mode);
  virtual bool InsertRecord(TVRXTableCursor& cursor) = 0;
  virtual bool DeleteRecord(TVRXTableCursor& cursor) = 0;
  virtual bool UpdateRecord(TVRXTableCursor& cursor) = 0;
  virtual TVRXRecordID GetRecordIDByNumber(TVRXTableCursor& cursor, int64_t number) = 0;
  virtual int64_t GetRecordNumber(TVRXTableCursor& cursor) = 0;
  virtual int64_t GetTotalRecordCount(TVRXTableCursor& cursor) = 0;
  virtual int64_t GetSequenceLastValue(int32_t fieldNo, TVRXSequenceSession& session);
  virtual void ReloadCounters(int32_t sessionID);

  // --- the catalog's view -------------------------------------------------------------
  using TVRXTableData::Rollback;

  // --- TVRXMetadataTable ------------------------------------------------------------------
  std::string TableName() const override { return TVRXTableData::TableName(); }
  int64_t RecordCount(int32_t sessionID) override;
  int32_t ChangeCounter() const override;
  TVRXObjectIDSource& ObjectIDs() override { return objectIDs_; }

  // --- the table's lock and state ------------------------------------------------------------
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  bool IsOpen() const { return fieldManager_ != nullptr; }
  const std::vector<TVRXTableCursor*>& Cursors() const { return cursors_; }
  TVRXDatabaseData& Database() const { return database_; }
  TVRXPageManager& PageManager() const;
  // The managers; null while the table is closed.
  TVRXBaseFieldManager* FieldManager() const { return fieldManager_.get(); }
  TVRXBaseIndexManager* IndexManager() const { return indexManager_.get(); }
  TVRXBaseConstraintManager* ConstraintManager() const { return constraintManager_.get(); }
  TVRXBaseRecordManager* RecordManager() const { return recordManager_.get(); }

  // --- what navigation reads through ------------------------------------------------
  // The record index of an index ID; "Index not found" style errors of the
  // index manager for an unknown ID.
  virtual TVRXBTreeRecordIndex& RecordIndex(int32_t indexID) = 0;
  // One step in storage order for the session.
  virtual void StepStorageOrder(int32_t sessionID, TVRXReadRequest& request) = 0;
  // Reads a record as the session sees it; false when there is none.
  virtual bool FetchRecord(int32_t sessionID, const TVRXRecordID& id,
                           std::span<uint8_t> record) = 0;

 protected:
  // The cursor's record bitmap, rebuilt when it is not valid for the
  // table's change counter; its members in the current index's order.
  TVRXRecordBitmap& ValidBitmap(TVRXTableCursor& cursor);
  // The cursor's bitmap holds its records for the table as it is now.
  bool BitmapValid(const TVRXTableCursor& cursor) const;
  // Keeps the writing cursor's record bitmap in step with its own write
  // and, when it was valid before, valid: the bit of the record written
  // (`record` empty: deleted) is set as the record passes now.
  void KeepBitmap(TVRXTableCursor& cursor, const TVRXRecordID& id,
                  std::span<const uint8_t> record, bool wasValid);
  const std::vector<TVRXRecordID>& BitmapInIndexOrder(TVRXTableCursor& cursor);
  // The place (from 0) of `id` among the members in index order; -1 when
  // it is none.
  int64_t OrdinalInIndexOrder(TVRXTableCursor& cursor, const TVRXRecordID& id);
  // The next (prior) member of the cursor's record bitmap in its order,
  // read into `record`; `fallBack` when the bitmap cannot answer (the
  // cursor stands on a record that is no member).
  int32_t StepByBitmap(TVRXTableCursor& cursor, bool forward, std::span<uint8_t> record,
                       bool& fallBack);
  // The next or prior record of a cursor that stands inside its range and
  // has no other restriction, by one step along its index; false when the
  // step cannot decide (the scan then does).
  bool StepWithinRange(TVRXTableCursor& cursor, int32_t mode, std::span<uint8_t> record,
                       int32_t& result);

  // Raises the "not available" error of a slot.
  [[noreturn]] void NotAvailable(const char* operation) const;
  // "Pointer is nil" with `nativeError` while the table is closed.
  void RequireOpen(int32_t nativeError) const;
  void FreeManagers();

  class ObjectIDCounter final : public TVRXObjectIDSource {
   public:
    explicit ObjectIDCounter(TVRXDatabaseData& database) : database_(database) {}
    int32_t GetNextObjectID() override { return database_.GetNextObjectID(); }

   private:
    TVRXDatabaseData& database_;
  };

  std::recursive_mutex lock_;
  TVRXDatabaseData& database_;
  ObjectIDCounter objectIDs_;
  bool tempFilesDisabled_ = false;
  std::vector<TVRXTableCursor*> cursors_;
  int64_t recordsRead_ = 0;
  // Declared in the order they depend on each other: freed in reverse.
  std::unique_ptr<TVRXBaseFieldManager> fieldManager_;
  std::unique_ptr<TVRXBaseIndexManager> indexManager_;
  std::unique_ptr<TVRXBaseConstraintManager> constraintManager_;
  std::unique_ptr<TVRXBaseRecordManager> recordManager_;
};

// Holds a table's lock for one scope.
class TVRXTableLock {
 public:
  explicit TVRXTableLock(TVRXBaseTableData& table) : table_(table) { table_.Lock(); }
  ~TVRXTableLock() { table_.Unlock(); }
  TVRXTableLock(const TVRXTableLock&) = delete;
  TVRXTableLock& operator=(const TVRXTableLock&) = delete;

 private:
  TVRXBaseTableData& table_;
};

}  // namespace vrx
