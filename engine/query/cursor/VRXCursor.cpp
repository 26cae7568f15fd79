#include "engine/query/cursor/VRXCursor.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VRXExcept.h"
#include "engine/storage/catalog/VRXTableList.h"
#include "engine/storage/records/VRXRecord.h"
#include "engine/values/VRXConverts.h"

namespace vrx {

std::string CursorResultText(int32_t code) {
  switch (code) {
    case crErrorAdding: return "Error adding record";
    case crErrorUpdating: return "Error updating record";
    case crErrorDeleting: return "Error deleting record";
    case crModifiedOnUpdate: return "Error updating record - record was modified by other process";
    case crModifiedOnDelete: return "Error deleting record - record was modified by other process";
    case crDeletedOnUpdate: return "Error updating record - record was deleted by other process";
    case crDeletedOnDelete: return "Error deleting record - record was deleted by other process";
    case crTemporaryUpdate: return "Cannot update record in temporary mode";
    case crTemporaryDelete: return "Cannot delete record in temporary mode";
    case crTemporaryCancel: return "Cannot cancel operation in temporary mode";
    case crRecordLocked: return "Record is locked";
    case crTableLocked: return "Table is locked";
    default: return "";
  }
}

// --- TVRXCursor ---------------------------------------------------------------------------------

std::vector<uint8_t> TVRXCursor::AllocRecordBuffer() const {
  return std::vector<uint8_t>(static_cast<size_t>(recordBufferSize), 0);
}

bool TVRXCursor::GetFieldValue(TVRXVariant& value, int32_t fieldNo,
                               std::span<const uint8_t> record) const {
  if (fieldNo < 0 || fieldNo >= fieldDefs.Count())
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, fieldDefs.Count()}, 10000);
  const TVRXFieldDef& field = fieldDefs.Field(fieldNo);
  value.Clear(field.StorageType());
  if (!GetFieldValueIsPresent(fieldNo, record)) {
    value.SetNull();
    return false;
  }
  if (field.IsBlob()) return true;
  value.SetData(record.data() + field.MemoryOffset(), field.MemorySize(), true,
                field.StorageType());
  return true;
}

bool TVRXCursor::GetFieldValueIsPresent(int32_t fieldNo, std::span<const uint8_t> record) const {
  return vrx::GetFieldValue(fieldNo, fieldDefs, nullptr, record);
}

void TVRXCursor::SetFieldValue(const TVRXVariant& value, int32_t fieldNo,
                               std::span<uint8_t> record) const {
  if (fieldNo < 0 || fieldNo >= fieldDefs.Count())
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, fieldDefs.Count()}, 10004);
  const TVRXFieldDef& field = fieldDefs.Field(fieldNo);
  if (value.IsNull()) {
    vrx::SetFieldValue(fieldNo, fieldDefs, nullptr, record);
    return;
  }
  const TVRXConvertedValue converted = ConvertValueToLength(
      value.Data(), value.DataSize(), value.DataType(), field.StorageType(), field.Size());
  std::vector<uint8_t> bytes(static_cast<size_t>(field.MemorySize()), 0);
  std::memcpy(bytes.data(), converted.Data.get(),
              static_cast<size_t>(std::min(converted.Size, field.MemorySize())));
  // Stored bytes as they are: the widened forms of SetFieldValue do not
  // apply to a value already in the field's storage type.
  if (record.size() < static_cast<size_t>(field.MemoryOffset() + field.MemorySize()))
    throw EVRXException("Invalid record buffer size %d. Should be at least %d",
                        {record.size(), field.MemoryOffset() + field.MemorySize()}, 30539);
  const bool empty = IsTextType(field.StorageType()) &&
                     (IsWideTextType(field.StorageType()) ? (bytes.size() < 2 || (bytes[0] | bytes[1]) == 0)
                                                          : bytes[0] == 0);
  if (empty) {
    vrx::SetFieldValue(fieldNo, fieldDefs, nullptr, record);
    return;
  }
  std::memcpy(record.data() + field.MemoryOffset(), bytes.data(), bytes.size());
  SetFieldNull(record, fieldNo, false);
}

// --- TVRXLocalCursor -------------------------------------------------------------------------------

TVRXLocalCursor::~TVRXLocalCursor() {
  try {
    CloseTable();
  } catch (...) {
    // The table forgets the cursor all the same.
  }
}

void TVRXLocalCursor::NotAvailable(const char* operation) const {
  throw EVRXException("%s is not available in this engine yet", {operation}, 30534);
}

TVRXLocalSession& TVRXLocalCursor::RequireSession() const {
  if (session == nullptr) throw EVRXException("Pointer is nil", 30540);
  return *session;
}

TVRXDiskTableData& TVRXLocalCursor::RequireTable() const {
  if (tableData_ == nullptr) throw EVRXException("Nil pointer occured", 30541);
  return *tableData_;
}

int32_t TVRXLocalCursor::CursorSessionID() const { return RequireSession().sessionID; }
bool TVRXLocalCursor::SessionInTransaction() const { return RequireSession().inTransaction; }
TVRXSequenceSession& TVRXLocalCursor::SequenceSession() { return RequireSession(); }

std::span<uint8_t> TVRXLocalCursor::CurrentRecordData() {
  if (recordBuffer.size() < static_cast<size_t>(dataSize)) return {};
  return recordBuffer.first(static_cast<size_t>(dataSize));
}

TVRXDiskTableData& TVRXLocalCursor::FindTableData(bool mustExist) {
  TVRXDatabaseData& database = RequireSession().DatabaseData();
  TVRXDatabaseLock hold(database);
  if (mustExist && !database.TableExists(tableName))
    throw EVRXException("Table '%s' not found", {tableName}, 30535);
  TVRXTableData* table = database.FindTableData(tableName);
  if (table == nullptr) table = database.CreateTableData(tableName);
  auto* disk = dynamic_cast<TVRXDiskTableData*>(table);
  if (disk == nullptr)
    throw EVRXException("Table not found, table name = %s", {tableName}, 30542);
  return *disk;
}

void TVRXLocalCursor::CreateTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                                  TVRXConstraintDefs& constraints) {
  CloseTable();
  if (RequireSession().TableExists(tableName)) DeleteTable();
  FindTableData(false).CreateTable(*this, fields, indexes, constraints);
}

void TVRXLocalCursor::DeleteTable() {
  CloseTable();
  TVRXDiskTableData& table = FindTableData(true);
  table.DeleteTable(this, false);
}

void TVRXLocalCursor::EmptyTable() {
  CloseTable();
  FindTableData(true).EmptyTable(this);
}

void TVRXLocalCursor::RenameTable(const std::string& newName) {
  CloseTable();
  TVRXDiskTableData& table = FindTableData(true);
  if (SameTableName(newName, tableName))
    throw EVRXException("Cannot rename table '%s' into itself", {tableName}, 30537);
  if (RequireSession().TableExists(newName))
    throw EVRXException("Table %s already exists", {newName}, 30536);
  table.RenameTable(newName, this);
  tableName = newName;
}

void TVRXLocalCursor::OpenTable() {
  if (opened) return;
  TVRXDiskTableData& table = FindTableData(false);
  table.AddCursor(*this);
  tableData_ = &table;
  atBOF = true;
  atEOF = false;
  try {
    indexDefs.Assign(table.IndexManager()->IndexDefs());
    bitmap_ = std::make_unique<TVRXRecordBitmap>(table.DiskRecordManager()->RecordsPerPage());
    recordBitmap = bitmap_.get();
    opened = true;
    InitFieldDefs();
  } catch (...) {
    CloseTable();
    table.RemoveCursor(*this);
    tableData_ = nullptr;
    throw;
  }
}

void TVRXLocalCursor::InitFieldDefs() {
  TVRXDiskTableData& table = RequireTable();
  fieldDefs.Assign(table.FieldManager()->FieldDefs());
  fieldDefs.ComputeOffsets();
  constraintDefs.Assign(table.ConstraintManager()->ConstraintDefs());
  dataSize = fieldDefs.Count() > 0 ? fieldDefs.MemoryRecordSize() : 0;
  firstFieldOffset = fieldDefs.Count() > 0 ? fieldDefs.Field(0).MemoryOffset() : 0;
  recordBufferSize = dataSize + kRecordIDSize + 1;
}

void TVRXLocalCursor::CloseTable() {
  if (tableData_ != nullptr && opened) tableData_->RemoveCursor(*this);
  if (opened) tableData_ = nullptr;
  opened = false;
  recordBitmap = nullptr;
  bitmap_.reset();
}

void TVRXLocalCursor::RenameField(const std::string& oldName, const std::string& newName) {
  RequireTable().RenameField(oldName, newName);
  InitFieldDefs();
  indexDefs.Assign(tableData_->IndexManager()->IndexDefs());
}

const TVRXIndexDefs& TVRXLocalCursor::GetIndexDefs() {
  if (tableData_ != nullptr) indexDefs.Assign(tableData_->IndexManager()->IndexDefs());
  return indexDefs;
}

void TVRXLocalCursor::AddIndex(const TVRXIndexDef& definition) {
  TVRXDiskTableData& table = RequireTable();
  table.AddIndex(definition, this);
  indexDefs.Assign(table.IndexManager()->IndexDefs());
  constraintDefs.Assign(table.ConstraintManager()->ConstraintDefs());
}

void TVRXLocalCursor::DeleteIndex(const std::string& name) {
  TVRXDiskTableData& table = RequireTable();
  const int32_t position = table.IndexManager()->IndexDefs().IndexOfName(name);
  if (position < 0)
    throw EVRXException("Cannot delete index '%s'. Index not found", {name}, 30538);
  table.DeleteIndex(table.IndexManager()->IndexDefs().Index(position).ID(), this);
  indexDefs.Assign(table.IndexManager()->IndexDefs());
  constraintDefs.Assign(table.ConstraintManager()->ConstraintDefs());
}

void TVRXLocalCursor::InitRecord(std::span<uint8_t> buffer, bool applyDefaults) {
  const auto size = std::min(buffer.size(), static_cast<size_t>(dataSize));
  std::fill(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(size), 0);
  for (int32_t i = 0; i < fieldDefs.Count(); ++i) SetFieldNull(buffer, i, true);
  if (applyDefaults) RequireTable().FieldManager()->ApplyDefaults(buffer.first(size));
}

int64_t TVRXLocalCursor::GetRecordCount() { return RequireTable().GetTotalRecordCount(*this); }

int32_t TVRXLocalCursor::GetRecord(int32_t mode) {
  if (indexID != -1) NotAvailable("Navigation along an index");
  TVRXDiskTableData& table = RequireTable();
  TVRXReadRequest request;
  request.mode = mode;
  request.recordID = currentRecordID;
  request.beforeFirst = atBOF;
  request.afterLast = atEOF;
  request.record = CurrentRecordData();
  TVRXTableLock hold(table);
  table.ReadStorageOrder(*this, request);
  switch (request.result) {
    case TVRXReadRequest::kFound:
      currentRecordID = request.recordID;
      atBOF = false;
      atEOF = false;
      if (recordBuffer.size() >= static_cast<size_t>(recordBufferSize)) {
        StoreRecordID(recordBuffer.data() + dataSize, currentRecordID);
        recordBuffer[static_cast<size_t>(dataSize + kRecordIDSize)] = 0;
      }
      break;
    case TVRXReadRequest::kNoneBefore:
      atBOF = true;
      atEOF = false;
      break;
    case TVRXReadRequest::kNoneAfter:
      atBOF = false;
      atEOF = true;
      break;
    default:
      break;
  }
  return request.result;
}

int32_t TVRXLocalCursor::NeighbourOf(const TVRXRecordID& id, int32_t mode, TVRXRecordID& found) {
  TVRXReadRequest request;
  request.mode = mode;
  request.recordID = id;
  RequireTable().ReadStorageOrder(*this, request);
  if (request.result == TVRXReadRequest::kFound) found = request.recordID;
  return request.result;
}

void TVRXLocalCursor::Post(bool isInsert) {
  lastResult = crOk;
  lastErrorText.clear();
  TVRXDiskTableData& table = RequireTable();
  TVRXTableLock hold(table);
  const std::span<uint8_t> record = CurrentRecordData();
  if (record.size() != static_cast<size_t>(dataSize) || dataSize == 0) {
    lastResult = isInsert ? crErrorAdding : crErrorUpdating;
    return;
  }
  const int32_t sessionID = CursorSessionID();
  if (isInsert) {
    try {
      table.FieldManager()->ApplyAutoincValues(SequenceSession(), record);
      table.ConstraintManager()->CheckRecord(sessionID, record, true, currentRecordID, true, {});
    } catch (const std::exception& e) {
      lastResult = crCheckFailed;
      lastErrorText = e.what();
      return;
    }
    if (!table.InsertRecord(*this)) {
      lastResult = crErrorAdding;
      return;
    }
    StoreRecordID(recordBuffer.data() + dataSize, currentRecordID);
    recordBuffer[static_cast<size_t>(dataSize + kRecordIDSize)] = 3;
    return;
  }
  currentRecordID = LoadRecordID(recordBuffer.data() + dataSize);
  std::vector<uint8_t> stored(static_cast<size_t>(dataSize));
  if (!table.DiskRecordManager()->FetchRecord(sessionID, currentRecordID, stored)) {
    lastResult = crDeletedOnUpdate;
    return;
  }
  try {
    table.ConstraintManager()->CheckRecord(sessionID, record, true, currentRecordID, false, stored);
  } catch (const std::exception& e) {
    lastResult = crCheckFailed;
    lastErrorText = e.what();
    return;
  }
  if (!table.UpdateRecord(*this)) lastResult = crErrorUpdating;
}

void TVRXLocalCursor::Delete() {
  lastResult = crOk;
  TVRXDiskTableData& table = RequireTable();
  TVRXTableLock hold(table);
  if (recordBuffer.size() < static_cast<size_t>(recordBufferSize)) {
    lastResult = crErrorDeleting;
    return;
  }
  currentRecordID = LoadRecordID(recordBuffer.data() + dataSize);
  std::vector<uint8_t> stored(static_cast<size_t>(dataSize));
  if (!table.DiskRecordManager()->FetchRecord(CursorSessionID(), currentRecordID, stored)) {
    lastResult = crDeletedOnDelete;
    return;
  }
  if (!std::equal(stored.begin(), stored.end(), recordBuffer.begin())) {
    lastResult = crModifiedOnDelete;
    return;
  }
  if (!table.DeleteRecord(*this)) lastResult = crErrorDeleting;
}

}  // namespace vrx
