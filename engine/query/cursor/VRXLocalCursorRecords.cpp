// The local cursor's record operations: initialising and freeing buffers,
// reading in storage order, Edit, Post, Cancel and Delete with their result
// codes, the implicit transaction and the constraint check.
#include <algorithm>
#include <cstring>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/records/VRXRecord.h"

namespace vrx {

namespace {

// Holds a table's lock for one record operation.
class TableAccess {
 public:
  explicit TableAccess(TVRXCursor& cursor) : cursor_(cursor) { cursor_.BeginTableAccess(); }
  ~TableAccess() { cursor_.EndTableAccess(); }
  TableAccess(const TableAccess&) = delete;
  TableAccess& operator=(const TableAccess&) = delete;

 private:
  TVRXCursor& cursor_;
};

}  // namespace

void TVRXLocalCursor::InitRecord(std::span<uint8_t> buffer, bool applyDefaults) {
  const auto size = std::min(buffer.size(), static_cast<size_t>(dataSize));
  std::fill(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(size), 0);
  for (int32_t i = 0; i < physicalFieldDefs.Count(); ++i) SetFieldNull(buffer, i, true);
  if (applyDefaults && !temporary) RequireTable().FieldManager()->ApplyDefaults(buffer.first(size));
}

void TVRXLocalCursor::FreeRecordBuffer(uint8_t*& buffer) {
  if (buffer == nullptr) return;
  if (tableData_ != nullptr && dataSize > 0)
    tableData_->ReleaseRecordData({buffer, static_cast<size_t>(dataSize)});
  TVRXCursor::FreeRecordBuffer(buffer);
}

bool TVRXLocalCursor::FetchRecord(const TVRXRecordID& id, std::span<uint8_t> record) {
  return RequireTable().DiskRecordManager()->FetchRecord(CursorSessionID(), id, record);
}

int64_t TVRXLocalCursor::GetRecordCount() {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  return table.GetRecordCount(*this);
}

void TVRXLocalCursor::TakeNavigationResult(int32_t result) {
  if (result != TVRXReadRequest::kFound) return;
  if (recordBuffer.size() >= static_cast<size_t>(recordBufferSize)) {
    StoreRecordID(recordBuffer.data() + dataSize, currentRecordID);
    recordBuffer[static_cast<size_t>(bookmarkEnd)] = 0;
  }
}

int32_t TVRXLocalCursor::GetRecord(int32_t mode) {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  const int32_t result = table.GetRecord(*this, mode, false);
  TakeNavigationResult(result);
  return result;
}

void TVRXLocalCursor::SetRecNo(int64_t recNo) {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  table.SetRecNo(*this, recNo);
}

int64_t TVRXLocalCursor::GetRecNo() {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  return table.GetRecNo(*this);
}

bool TVRXLocalCursor::FindKey(int32_t comparison) {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  const bool found = table.FindKeyRecord(*this, comparison);
  if (found) TakeNavigationResult(TVRXReadRequest::kFound);
  return found;
}

bool TVRXLocalCursor::LocateBy(TVRXScanExpression& expression) {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  const bool found = table.LocateRecord(*this, expression);
  if (found) TakeNavigationResult(TVRXReadRequest::kFound);
  return found;
}

void TVRXLocalCursor::SetDistinct(const std::vector<std::string>& fieldNames,
                                  const std::vector<std::string>& directions,
                                  const std::vector<std::string>& cases) {
  if (fieldNames.empty()) {
    distinctFieldCount = 0;
    InvalidateRecordBitmap();
    return;
  }
  std::string name;
  CreateSortIndex(fieldNames, directions, name, cases);
  SetIndex(name);
  distinctFieldCount = static_cast<int32_t>(fieldNames.size());
  InvalidateRecordBitmap();
}

void TVRXLocalCursor::Edit() {
  lastResult = crOk;
  lastErrorText.clear();
  editedRecord_.clear();
  if (temporary) {
    lastResult = crTemporaryUpdate;
    return;
  }
  RequireTable();
  TableAccess access(*this);
  const std::span<uint8_t> record = CurrentRecordData();
  if (record.empty() || dataSize == 0) {
    lastResult = crErrorUpdating;
    return;
  }
  // The caller's values are checked against the record as it is now; the
  // buffer keeps them when the record has gone or changed.
  const std::vector<uint8_t> callers(recordBuffer.begin(), recordBuffer.end());
  const TVRXCursorPosition position = SavePosition();
  const int32_t read = GetRecord(TVRXReadRequest::kCurrent);
  if (read != TVRXReadRequest::kFound) {
    lastResult = crDeletedOnUpdate;
  } else if (!RecordsEqual(physicalFieldDefs, record, {callers.data(), record.size()})) {
    lastResult = crModifiedOnUpdate;
  }
  if (lastResult != crOk) {
    std::copy(callers.begin(), callers.end(), recordBuffer.begin());
    RestorePosition(position);
    return;
  }
  editedRecord_.assign(record.begin(), record.end());
}

void TVRXLocalCursor::Cancel(bool wasInserting) {
  lastResult = crOk;
  lastErrorText.clear();
  if (temporary && !wasInserting) {
    lastResult = crTemporaryCancel;
    return;
  }
  FreeBlobStreams(true);
  if (wasInserting && tableData_ != nullptr && !CurrentRecordData().empty())
    tableData_->FreeRecordBlobs(CurrentRecordData());
  editedRecord_.clear();
}

void TVRXLocalCursor::Post(bool isInsert) {
  lastResult = crOk;
  lastErrorText.clear();
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  const std::span<uint8_t> record = CurrentRecordData();
  if (record.empty() || dataSize == 0 ||
      recordBuffer.size() < static_cast<size_t>(recordBufferSize)) {
    lastResult = isInsert ? crErrorAdding : crErrorUpdating;
    return;
  }
  const int32_t sessionID = CursorSessionID();
  if (isInsert) {
    try {
      table.FieldManager()->ApplyAutoincValues(SequenceSession(), record);
      if (!temporary)
        table.ConstraintManager()->CheckRecord(sessionID, record, true, currentRecordID, true, {});
    } catch (const std::exception& e) {
      lastResult = crCheckFailed;
      lastErrorText = e.what();
      return;
    }
    FreeBlobStreams(true);
    if (!table.InsertRecord(*this)) {
      lastResult = crErrorAdding;
      return;
    }
    StoreRecordID(recordBuffer.data() + dataSize, currentRecordID);
    recordBuffer[static_cast<size_t>(bookmarkEnd)] = 3;
    return;
  }
  const TVRXCursorPosition position = SavePosition();
  currentRecordID = LoadRecordID(recordBuffer.data() + dataSize);
  std::vector<uint8_t> stored(static_cast<size_t>(dataSize));
  if (!FetchRecord(currentRecordID, stored)) {
    lastResult = crDeletedOnUpdate;
    RestorePosition(position);
    return;
  }
  try {
    if (!temporary)
      table.ConstraintManager()->CheckRecord(sessionID, record, true, currentRecordID, false,
                                             stored);
  } catch (const std::exception& e) {
    lastResult = crCheckFailed;
    lastErrorText = e.what();
    RestorePosition(position);
    return;
  }
  FreeBlobStreams(true);
  const std::span<const uint8_t> old =
      !oldRecordBuffer.empty() ? oldRecordBuffer : std::span<const uint8_t>(editedRecord_);
  if (old.size() >= stored.size() && !RecordsEqual(physicalFieldDefs, stored, old.first(stored.size()))) {
    lastResult = crModifiedOnUpdate;
    RestorePosition(position);
    return;
  }
  if (!table.UpdateRecord(*this)) {
    lastResult = crErrorUpdating;
    RestorePosition(position);
    return;
  }
  editedRecord_.clear();
}

void TVRXLocalCursor::Delete() {
  lastResult = crOk;
  lastErrorText.clear();
  if (temporary) {
    lastResult = crTemporaryDelete;
    return;
  }
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  if (recordBuffer.size() < static_cast<size_t>(recordBufferSize) || dataSize == 0) {
    lastResult = crErrorDeleting;
    return;
  }
  const TVRXCursorPosition position = SavePosition();
  currentRecordID = LoadRecordID(recordBuffer.data() + dataSize);
  std::vector<uint8_t> stored(static_cast<size_t>(dataSize));
  if (!FetchRecord(currentRecordID, stored)) {
    lastResult = crDeletedOnDelete;
    RestorePosition(position);
    return;
  }
  // The record and its ID decide; the bookmark flag says only how the
  // caller came by the buffer.
  if (!RecordsEqual(physicalFieldDefs, stored, CurrentRecordData())) {
    lastResult = crModifiedOnDelete;
    RestorePosition(position);
    return;
  }
  if (!table.DeleteRecord(*this)) {
    lastResult = crErrorDeleting;
    RestorePosition(position);
  }
}

// --- the implicit transaction -------------------------------------------------------------------

void TVRXLocalCursor::BeginImplicitTransaction() {
  if (RequireSession().inTransaction || inImplicitTransaction) return;
  RequireTable();
  implicitStart_ = SavePosition();
  inImplicitTransaction = true;
}

void TVRXLocalCursor::CommitImplicitTransaction() {
  if (!inImplicitTransaction) return;
  inImplicitTransaction = false;
  if (tableData_ != nullptr) tableData_->Commit(CursorSessionID(), false);
}

void TVRXLocalCursor::RollbackImplicitTransaction() {
  if (!inImplicitTransaction) return;
  inImplicitTransaction = false;
  // Every table the session changed meanwhile goes back, with its counters.
  RequireSession().DatabaseData().Rollback(CursorSessionID());
  RestorePosition(implicitStart_);
  InvalidateRecordBitmap();
  positionCache.Invalidate();
}

bool TVRXLocalCursor::CheckConstraints(bool isInsert) {
  TVRXDiskTableData& table = RequireTable();
  TableAccess access(*this);
  const std::span<uint8_t> record = CurrentRecordData();
  if (record.empty()) return false;
  std::vector<uint8_t> stored;
  TVRXRecordID id = currentRecordID;
  if (!isInsert) {
    if (recordBuffer.size() >= static_cast<size_t>(bookmarkEnd))
      id = LoadRecordID(recordBuffer.data() + dataSize);
    stored.resize(static_cast<size_t>(dataSize));
    if (!FetchRecord(id, stored)) return false;
  }
  return table.ConstraintManager()->CheckRecord(CursorSessionID(), record, false, id, isInsert,
                                                stored);
}

}  // namespace vrx
