// TVRXCursor: the base of the engine's cursors, the one door through which
// everything above the storage engine reaches a table. It holds what is
// private to one reader (its record buffer, its position, copies of the
// table's definitions, its visible fields, its index, filter and range, its
// BLOB streams) and derives from the storage engine's TVRXTableCursor,
// through which the shared table data object reads and sets that state.
// TVRXLocalCursor (VRXCursor.h) is the cursor over the local engine.
//
// Record buffer: DataSize bytes of the memory record (null bitmap, then the
// fields), the 6-byte record ID of the record it holds (the bookmark), one
// bookmark-flag byte (0 current, 1 before first, 2 after last, 3
// inserted). Buffers come from the engine's memory manager
// (AllocRecordBuffer) and go back through FreeRecordBuffer.
//
// Visible fields: FieldDefs is the table's field list, or after
// SetProjection a subset, possibly under alias names; every visible field
// knows the physical field it stands for. Field numbers of the field
// access are visible numbers unless `physical` is asked for.
//
// Expressions: a cursor is the row that its filter, its extra filter and
// the expressions of Locate bind to (TVRXExprRowSource): names resolve
// among the physical fields, then among the visible fields (the physical
// field behind an alias). Navigation tests the filter and the extra filter
// through their TVRXCursorFilter wrappers (FilterExpression,
// ExtraFilterExpression), which always follow the expressions held in
// `filter` and `extraFilter`.
//
// Lifecycle: created closed; the caller sets Session, TableName and the
// flags; OpenTable (then InitFieldDefs) -> navigation and editing ->
// CloseTable; destroying a cursor closes it. A cursor is used by one thread
// at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/query/cursor/VRXCursorResult.h"
#include "engine/query/expressions/VRXExprRow.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/metadata/VRXConstraintDef.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/storage/tables/VRXTableCursor.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

class TVRXCursorFilter;
class TVRXExpression;
class TVRXLocalSession;
class TVRXLocalBLOBStream;

// A saved position of a cursor.
struct TVRXCursorPosition {
  bool atBOF = true;
  bool atEOF = false;
  TVRXRecordID recordID;
};

// The dataset's record filter: true when the record passes.
using TVRXRecordFilter = std::function<bool(void* context, std::span<const uint8_t> record)>;

class TVRXCursor : public TVRXTableCursor, public TVRXExprRowSource {
 public:
  TVRXCursor();
  ~TVRXCursor() override;
  TVRXCursor(const TVRXCursor&) = delete;
  TVRXCursor& operator=(const TVRXCursor&) = delete;

  // --- virtual operations, in the engine's order -------------------------------------------
  // A table of TableName is dropped first; the cursor stays closed.
  virtual void CreateTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                           TVRXConstraintDefs& constraints) = 0;
  // "Table '%s' not found" for a missing table; a failure closes the cursor.
  virtual void DeleteTable() = 0;
  virtual void EmptyTable() = 0;
  // "Table %s already exists"; "Cannot rename table '%s' into itself".
  virtual void RenameTable(const std::string& newName) = 0;
  virtual void InitFieldDefs() = 0;
  // The definitions are used only where opening creates the table.
  virtual void OpenTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                         TVRXConstraintDefs& constraints) = 0;
  virtual void CloseTable() = 0;
  virtual void BeginTableAccess() = 0;
  virtual void EndTableAccess() = 0;
  virtual bool LockTable(int32_t kind, int32_t attempts, int32_t delayMs) = 0;
  virtual bool UnlockTable(int32_t kind, bool flag) = 0;
  // Renames the field in the cursor's copies of the definitions.
  virtual void RenameField(const std::string& oldName, const std::string& newName);
  virtual const TVRXIndexDefs& GetIndexDefs();
  // "Cannot create index '%s'. Index already exists".
  virtual void AddIndex(const TVRXIndexDef& definition) = 0;
  // "Cannot delete index '%s'. Index not found".
  virtual void DeleteIndex(const std::string& name) = 0;
  virtual void DeleteAllIndexes() = 0;
  // Names of visible fields stand for the physical fields they show.
  virtual void CreateSortIndex(const std::vector<std::string>& fieldNames,
                               const std::vector<std::string>& directions, std::string& indexName,
                               const std::vector<std::string>& cases) = 0;
  // Every field NULL, the rest of the record zero; with `applyDefaults`
  // (and not Temporary) the table's default values.
  virtual void InitRecord(std::span<uint8_t> buffer, bool applyDefaults) = 0;
  // Releases what the table attached to the record, returns the buffer to
  // the memory manager and clears the pointer. nullptr is ignored.
  virtual void FreeRecordBuffer(uint8_t*& buffer);
  virtual int64_t GetRecordCount() = 0;
  // 0 read into the record buffer, 1 before first, 2 after last, 3 no
  // record (gone, or it does not pass the filter). Mode 0 current, 1 next,
  // 2 prior.
  virtual int32_t GetRecord(int32_t mode) = 0;
  virtual void SetRecNo(int64_t recNo) = 0;
  virtual int64_t GetRecNo() = 0;
  virtual void First();
  virtual void Last();
  virtual void PrepareInsert() = 0;
  virtual void Edit() = 0;
  virtual void Cancel(bool wasInserting) = 0;
  virtual void Post(bool isInsert) = 0;
  virtual void Delete() = 0;
  virtual void SetDistinct(const std::vector<std::string>& fieldNames,
                           const std::vector<std::string>& directions,
                           const std::vector<std::string>& cases) = 0;
  virtual void SetFilter(const std::string& text, bool caseInsensitive, bool partialCompare) = 0;
  virtual void ClearFilter() = 0;
  // `keyFields` ";"-separated; one value per key field.
  virtual bool Locate(const std::string& keyFields, const std::vector<TVRXVariant>& keyValues,
                      bool partialKey, bool caseInsensitive) = 0;
  // Comparison 1 "=", 2 "<", 3 ">", 4 "<=", 5 ">=" of the leading
  // KeyFieldCount fields with KeyBuffer.
  virtual bool FindKey(int32_t comparison) = 0;
  virtual bool LocateValue(const std::string& fieldName, int32_t option,
                           const TVRXVariant& value) = 0;
  // Mode 0 write, 1 read, 2 read-write; the cursor owns the stream.
  virtual TVRXLocalBLOBStream* OpenBlob(bool isInsert, bool isEdit, int32_t mode,
                                        int32_t fieldNo) = 0;
  virtual void CloseBlob(int32_t fieldNo) = 0;
  virtual void FreeBlobStreams(bool writableOnly) = 0;
  virtual int64_t GetLastAutoincValue(int32_t physicalFieldNo) = 0;
  virtual void BeginImplicitTransaction() = 0;
  virtual void CommitImplicitTransaction() = 0;
  virtual void RollbackImplicitTransaction() = 0;
  virtual bool CheckConstraints(bool isInsert) = 0;

  // --- non-virtual operations ----------------------------------------------------------
  // Opens with empty definition lists.
  void OpenTable();
  // IndexID := the ID of the index of that name in IndexDefs, -1 if none.
  void SetIndex(const std::string& name);

  // A zero-filled buffer of RecordBufferSize bytes from the memory manager.
  uint8_t* AllocRecordBuffer() const;
  // Zeroes DataSize + 6 bytes, then InitRecord (buffer, false).
  void ClearRecordBuffer(std::span<uint8_t> buffer);

  // The field in the dataset's representation (VRXRecord.h); false when
  // NULL. BLOB fields only answer true. "Invalid field number - FieldNo =
  // %d, FieldCount = %d".
  bool GetFieldData(int32_t fieldNo, void* destination, std::span<const uint8_t> record) const;
  // The reverse; a nil source or an empty text makes the field NULL.
  void SetFieldData(int32_t fieldNo, const void* source, std::span<uint8_t> record) const;
  // The field as a value; false when NULL. `physical` numbers the fields by
  // PhysicalFieldDefs.
  bool GetFieldValue(TVRXVariant& value, int32_t fieldNo, bool physical,
                     std::span<const uint8_t> record) const;
  bool GetFieldValue(TVRXVariant& value, int32_t fieldNo, std::span<const uint8_t> record) const {
    return GetFieldValue(value, fieldNo, false, record);
  }
  // Stores `value` converted to the field's type (cut to its size); a NULL
  // value or an empty text sets the null bit.
  void SetFieldValue(const TVRXVariant& value, int32_t fieldNo, std::span<uint8_t> record,
                     bool physical = false) const;
  // The physical field number of visible field `fieldNo`.
  int32_t PhysicalFieldNo(int32_t fieldNo) const;

  TVRXCursorPosition SavePosition() const { return {atBOF, atEOF, currentRecordID}; }
  void RestorePosition(const TVRXCursorPosition& position);

  void SetRange(std::vector<uint8_t> startKey, std::vector<uint8_t> endKey, bool endExclusive,
                bool startExclusive, int32_t endFieldCount, int32_t startFieldCount);
  void CancelRange();
  // Binds `expression` to this cursor and makes it the extra filter;
  // nullptr clears it. The record bitmap is rebuilt on next use.
  void SetExtraFilter(std::unique_ptr<TVRXExpression> expression);
  // The visible fields become `fieldNames` (physical names) under the
  // non-empty `aliases`; an alias already visible becomes alias_1, _2, ...
  void SetProjection(const std::vector<std::string>& fieldNames,
                     const std::vector<std::string>& aliases);

  bool HasFilter() const override {
    return filter != nullptr || extraFilter != nullptr || static_cast<bool>(onFilterRecord);
  }

  // --- TVRXTableCursor: the filters as navigation tests them ------------------------
  TVRXScanExpression* FilterExpression() override;
  TVRXScanExpression* ExtraFilterExpression() override;
  bool HasFilterCallback() const override { return static_cast<bool>(onFilterRecord); }
  // onFilterRecord (filterContext, record).
  bool FilterCallbackAccepts(std::span<const uint8_t> record) override;

  // --- TVRXExprRowSource ------------------------------------------------------------
  // The table qualifier is not checked: a cursor has one table. The column
  // is always the physical field.
  TVRXColumnLookup FindColumn(std::string_view table, std::string_view field,
                              TVRXExprColumn& column) const override;
  // From the memory record `record` (nullptr: the record buffer). A BLOB or
  // MEMO field that is not NULL raises "%s is not available in this engine
  // yet" (30534) until BLOB streams exist, rather than reading as NULL.
  void ReadColumn(const TVRXExprColumn& column, const void* record,
                  TVRXVariant& value) const override;

  // The message a dataset shows for LastResult ("" when 0).
  std::string LastResultMessage() const;

  // --- state, in the engine's order (TableName, Exclusive, DisableTempFiles,
  // the position and the record bitmap live in TVRXTableCursor) ---------------------
  bool projectionSet = false;
  std::string indexName;
  bool readOnly = false;
  bool inMemory = false;
  // Dropped when the cursor closes it; no defaults and no constraints are
  // applied to it, and its records are not edited.
  bool temporary = false;
  TVRXLocalSession* session = nullptr;
  bool opened = false;
  // The caller's buffer for the next record operation.
  std::span<uint8_t> recordBuffer;
  std::span<uint8_t> distinctKeyBuffer;
  // The record as it was when editing began; when the caller leaves it
  // empty, the record Edit read is used.
  std::span<const uint8_t> oldRecordBuffer;
  TVRXConstraintDefs constraintDefs;
  TVRXFieldDefs physicalFieldDefs;
  TVRXFieldDefs fieldDefs;
  TVRXIndexDefs indexDefs;
  std::vector<std::unique_ptr<TVRXLocalBLOBStream>> blobStreams;
  bool inImplicitTransaction = false;
  int32_t lastResult = 0;
  std::string lastErrorText;
  bool designMode = false;
  int32_t recordBufferSize = 0;
  int32_t compareSize = 0;
  int32_t bookmarkEnd = 0;
  int32_t dataSize = 0;
  int32_t firstFieldOffset = 0;
  std::unique_ptr<TVRXExpression> filter;
  std::unique_ptr<TVRXExpression> extraFilter;
  TVRXRecordFilter onFilterRecord;
  void* filterContext = nullptr;

 protected:
  // The wrapper of `expression` kept in `wrapper`, made again when the
  // expression was replaced; nullptr (and no wrapper) without expression.
  TVRXScanExpression* WrapperOf(TVRXExpression* expression,
                                std::unique_ptr<TVRXCursorFilter>& wrapper);

  // The record bitmap no longer holds the cursor's set of records.
  void InvalidateRecordBitmap();
  // Fills the sizes from PhysicalFieldDefs; "Record size %d exceeds the
  // limit of %d bytes" when a buffer would pass the 32-bit range.
  void ComputeSizes();
  // Visible field `fieldNo` stands for physical field i: physicalOf_[fieldNo].
  std::vector<int32_t> physicalOf_;
  // Navigation's view of `filter` and `extraFilter`.
  std::unique_ptr<TVRXCursorFilter> filterScan_;
  std::unique_ptr<TVRXCursorFilter> extraFilterScan_;
};

// A record buffer of a cursor, returned through FreeRecordBuffer when the
// holder goes.
class TVRXRecordBuffer {
 public:
  explicit TVRXRecordBuffer(TVRXCursor& cursor)
      : cursor_(cursor), data_(cursor.AllocRecordBuffer()), size_(cursor.recordBufferSize) {}
  ~TVRXRecordBuffer();
  TVRXRecordBuffer(const TVRXRecordBuffer&) = delete;
  TVRXRecordBuffer& operator=(const TVRXRecordBuffer&) = delete;
  std::span<uint8_t> Span() const { return {data_, static_cast<size_t>(size_)}; }
  // A buffer is its bytes.
  operator std::span<uint8_t>() const { return Span(); }
  operator std::span<const uint8_t>() const { return Span(); }
  uint8_t* Data() const { return data_; }

 private:
  TVRXCursor& cursor_;
  uint8_t* data_;
  int32_t size_;
};

}  // namespace vrx
