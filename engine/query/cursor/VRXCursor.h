// Cursors: the one door through which everything above the storage engine
// reaches a table. TVRXCursor holds what is private to one reader (its
// record buffer, its position, its definitions' copies, its record bitmap)
// and derives from the storage engine's TVRXTableCursor, through which the
// shared table data object reads and sets that state. TVRXLocalCursor is
// the cursor over the local engine's table data objects.
//
// This is the cursor's core: opening and closing, the table-level
// operations, the record buffer and field access, positions, reading in
// storage order, and Post and Delete with their result codes. Navigation
// by index, filters, ranges, record numbers and BLOB streams raise "%s is
// not available in this engine yet" (30534) until they are built.
//
// Record buffer: DataSize bytes of the memory record, the 6-byte record ID
// of the record it holds, one bookmark-flag byte (0 current, 1 before
// first, 2 after last, 3 inserted).
//
// Lifecycle: created closed; Session and TableName are set by the caller;
// OpenTable then InitFieldDefs; CloseTable (or the destructor) detaches.
// A cursor is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXSession.h"
#include "engine/storage/metadata/VRXConstraintDef.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/storage/btree/VRXBTreeKey.h"
#include "engine/storage/records/VRXRecordManager.h"
#include "engine/storage/tables/VRXDiskTableData.h"
#include "engine/storage/tables/VRXTableCursor.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

// Result codes of Edit, Post, Cancel and Delete.
enum TVRXCursorResult : int32_t {
  crOk = 0,
  crErrorAdding = -1,
  crErrorUpdating = -2,
  crErrorDeleting = -3,
  crModifiedOnUpdate = -4,
  crModifiedOnDelete = -5,
  crDeletedOnUpdate = -6,
  crDeletedOnDelete = -7,
  crCheckFailed = -8,
  crTemporaryUpdate = -9,
  crTemporaryDelete = -10,
  crTemporaryCancel = -11,
  crRecordLocked = -12,
  crTableLocked = -13,
};
// The text of a result code ("" for 0 and -8, whose text is LastErrorText).
std::string CursorResultText(int32_t code);

// The saved position of a cursor.
struct TVRXCursorPosition {
  bool atBOF = true;
  bool atEOF = false;
  TVRXRecordID recordID;
};

class TVRXCursor : public TVRXTableCursor {
 public:
  ~TVRXCursor() override = default;

  virtual void CreateTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                           TVRXConstraintDefs& constraints) = 0;
  virtual void DeleteTable() = 0;
  virtual void EmptyTable() = 0;
  virtual void RenameTable(const std::string& newName) = 0;
  virtual void InitFieldDefs() = 0;
  virtual void OpenTable() = 0;
  virtual void CloseTable() = 0;
  virtual void RenameField(const std::string& oldName, const std::string& newName) = 0;
  virtual const TVRXIndexDefs& GetIndexDefs() = 0;
  virtual void AddIndex(const TVRXIndexDef& definition) = 0;
  virtual void DeleteIndex(const std::string& name) = 0;
  // Every field NULL, the rest of the record zero; with `applyDefaults` the
  // table's default values.
  virtual void InitRecord(std::span<uint8_t> buffer, bool applyDefaults) = 0;
  virtual int64_t GetRecordCount() = 0;
  // 0 read into the record buffer, 1 before first, 2 after last, 3 gone.
  virtual int32_t GetRecord(int32_t mode) = 0;
  void First() {
    atBOF = true;
    atEOF = false;
  }
  void Last() {
    atBOF = false;
    atEOF = true;
  }
  virtual void Post(bool isInsert) = 0;
  virtual void Delete() = 0;

  // --- record buffers and field access ---------------------------------------------------
  std::vector<uint8_t> AllocRecordBuffer() const;
  // The memory record of field `fieldNo` as a value; false when NULL.
  bool GetFieldValue(TVRXVariant& value, int32_t fieldNo, std::span<const uint8_t> record) const;
  // Stores `value` converted to the field's type (cut to its size); a NULL
  // value sets the null bit.
  void SetFieldValue(const TVRXVariant& value, int32_t fieldNo, std::span<uint8_t> record) const;
  // False when field `fieldNo` of `record` is NULL.
  bool GetFieldValueIsPresent(int32_t fieldNo, std::span<const uint8_t> record) const;

  TVRXCursorPosition SavePosition() const { return {atBOF, atEOF, currentRecordID}; }
  void RestorePosition(const TVRXCursorPosition& position) {
    atBOF = position.atBOF;
    atEOF = position.atEOF;
    currentRecordID = position.recordID;
  }

  // The buffer the next record operation reads or writes (RecordBufferSize
  // bytes); the caller owns it.
  std::span<uint8_t> recordBuffer;
  TVRXLocalSession* session = nullptr;
  bool opened = false;
  bool readOnly = false;
  std::string indexName;
  int32_t indexID = -1;
  TVRXFieldDefs fieldDefs;
  TVRXIndexDefs indexDefs;
  TVRXConstraintDefs constraintDefs;
  int32_t lastResult = 0;
  std::string lastErrorText;
  int32_t dataSize = 0;
  int32_t firstFieldOffset = 0;
  int32_t recordBufferSize = 0;
};

class TVRXLocalCursor final : public TVRXCursor {
 public:
  TVRXLocalCursor() = default;
  ~TVRXLocalCursor() override;
  TVRXLocalCursor(const TVRXLocalCursor&) = delete;
  TVRXLocalCursor& operator=(const TVRXLocalCursor&) = delete;

  // A table of that name is dropped first; the cursor stays closed.
  void CreateTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                   TVRXConstraintDefs& constraints) override;
  // "Table '%s' not found" (30535) for a missing table.
  void DeleteTable() override;
  void EmptyTable() override;
  // "Table %s already exists" (30536); "Cannot rename table '%s' into
  // itself" (30537).
  void RenameTable(const std::string& newName) override;
  void InitFieldDefs() override;
  void OpenTable() override;
  void CloseTable() override;
  void RenameField(const std::string& oldName, const std::string& newName) override;
  const TVRXIndexDefs& GetIndexDefs() override;
  // "Cannot create index '%s'. Index already exists".
  void AddIndex(const TVRXIndexDef& definition) override;
  // "Cannot delete index '%s'. Index not found" (30538).
  void DeleteIndex(const std::string& name) override;
  void InitRecord(std::span<uint8_t> buffer, bool applyDefaults) override;
  int64_t GetRecordCount() override;
  int32_t GetRecord(int32_t mode) override;
  void Post(bool isInsert) override;
  void Delete() override;

  // TVRXTableCursor
  int32_t CursorSessionID() const override;
  bool SessionInTransaction() const override;
  TVRXSequenceSession& SequenceSession() override;
  std::span<uint8_t> CurrentRecordData() override;
  bool RecordPassesFilter(std::span<const uint8_t>) override { return true; }
  int32_t NeighbourOf(const TVRXRecordID& id, int32_t mode, TVRXRecordID& found) override;

  TVRXDiskTableData* TableData() const { return tableData_; }

 private:
  TVRXLocalSession& RequireSession() const;
  TVRXDiskTableData& RequireTable() const;
  // The table data object of TableName, found or made by the database.
  TVRXDiskTableData& FindTableData(bool mustExist);
  [[noreturn]] void NotAvailable(const char* operation) const;

  TVRXDiskTableData* tableData_ = nullptr;  // owned by the database
  std::unique_ptr<TVRXRecordBitmap> bitmap_;
};

}  // namespace vrx
