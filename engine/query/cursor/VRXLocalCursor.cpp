// The local cursor's table-level operations: create, drop, empty, rename,
// open, close, field definitions and indexes, and the operations still to
// be built. The record operations are in VRXLocalCursorRecords.cpp.
#include <algorithm>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/query/cursor/VRXLocalBLOBStream.h"
#include "engine/query/expressions/VRXExpression.h"
#include "engine/storage/catalog/VRXTableList.h"

namespace vrx {

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

bool TVRXLocalCursor::SessionInTransaction() const {
  return RequireSession().inTransaction || inImplicitTransaction;
}

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

template <typename Request>
void TVRXLocalCursor::TableRequest(Request&& request) {
  CloseTable();
  TVRXDatabaseLock hold(RequireSession().DatabaseData());
  try {
    request(FindTableData(true));
  } catch (...) {
    CloseTable();
    throw;
  }
}

// --- table-level operations ---------------------------------------------------------------

void TVRXLocalCursor::CreateTable(TVRXFieldDefs& fields, TVRXIndexDefs& indexes,
                                  TVRXConstraintDefs& constraints) {
  CloseTable();
  if (RequireSession().TableExists(tableName)) DeleteTable();
  FindTableData(false).CreateTable(*this, fields, indexes, constraints);
}

void TVRXLocalCursor::DeleteTable() {
  TableRequest([&](TVRXDiskTableData& table) { table.DeleteTable(this, false); });
}

void TVRXLocalCursor::EmptyTable() {
  TableRequest([&](TVRXDiskTableData& table) { table.EmptyTable(this); });
}

void TVRXLocalCursor::RenameTable(const std::string& newName) {
  TableRequest([&](TVRXDiskTableData& table) {
    if (SameTableName(newName, tableName))
      throw EVRXException("Cannot rename table '%s' into itself", {tableName}, 30537);
    if (RequireSession().TableExists(newName))
      throw EVRXException("Table %s already exists", {newName}, 30536);
    table.RenameTable(newName, this);
  });
  tableName = newName;
}

void TVRXLocalCursor::OpenTable(TVRXFieldDefs&, TVRXIndexDefs&, TVRXConstraintDefs&) {
  if (opened) return;
  TVRXLocalSession& owner = RequireSession();
  TVRXDiskTableData* table = nullptr;
  {
    TVRXDatabaseLock hold(owner.DatabaseData());
    if (!owner.TableExists(tableName))
      throw EVRXException("Table not found, table name = %s", {tableName}, 30542);
    table = &FindTableData(false);
    table->AddCursor(*this);
  }
  tableData_ = table;
  atBOF = true;
  atEOF = false;
  try {
    indexDefs.Assign(table->IndexManager()->IndexDefs());
    blobStreams.clear();
    bitmap_ = std::make_unique<TVRXRecordBitmap>(table->DiskRecordManager()->RecordsPerPage());
    recordBitmap = bitmap_.get();
    opened = true;
    owner.AddCursor(*this);
    InitFieldDefs();
  } catch (...) {
    CloseTable();
    throw;
  }
}

void TVRXLocalCursor::InitFieldDefs() {
  TVRXDiskTableData& table = RequireTable();
  physicalFieldDefs.Assign(table.FieldManager()->FieldDefs());
  physicalFieldDefs.ComputeOffsets();
  if (!projectionSet) {
    fieldDefs.Assign(physicalFieldDefs);
    physicalOf_.resize(static_cast<size_t>(fieldDefs.Count()));
    for (size_t i = 0; i < physicalOf_.size(); ++i) physicalOf_[i] = static_cast<int32_t>(i);
  }
  constraintDefs.Assign(table.ConstraintManager()->ConstraintDefs());
  ComputeSizes();
}

void TVRXLocalCursor::CloseTable() {
  if (inImplicitTransaction) {
    try {
      RollbackImplicitTransaction();
    } catch (...) {
      inImplicitTransaction = false;
    }
  }
  if (session != nullptr) session->RemoveCursor(*this);
  TVRXDiskTableData* table = opened ? tableData_ : nullptr;
  const bool drop = table != nullptr && (temporary || (designMode && inMemory));
  if (table != nullptr) {
    for (const auto& stream : blobStreams) table->FreeBlobField(stream->Record(), stream->PhysicalFieldNo());
    table->RemoveCursor(*this);
  }
  tableData_ = nullptr;
  opened = false;
  recordBitmap = nullptr;
  bitmap_.reset();
  filter.reset();
  extraFilter.reset();
  blobStreams.clear();
  editedRecord_.clear();
  positionCache.Invalidate();
  if (!projectionSet) {
    fieldDefs.Clear();
    physicalOf_.clear();
  }
  physicalFieldDefs.Clear();
  indexDefs.Clear();
  constraintDefs.Clear();
  // A temporary table goes with its last cursor.
  if (drop && table->Cursors().empty()) table->DeleteTable(this, false);
}

void TVRXLocalCursor::BeginTableAccess() { RequireTable().Lock(); }
void TVRXLocalCursor::EndTableAccess() { RequireTable().Unlock(); }

bool TVRXLocalCursor::LockTable(int32_t, int32_t, int32_t) { return true; }
bool TVRXLocalCursor::UnlockTable(int32_t, bool) { return true; }

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
  const int32_t id = table.IndexManager()->IndexDefs().Index(position).ID();
  table.DeleteIndex(id, this);
  if (id == indexID) SetIndex("");
  indexDefs.Assign(table.IndexManager()->IndexDefs());
  constraintDefs.Assign(table.ConstraintManager()->ConstraintDefs());
}

void TVRXLocalCursor::DeleteAllIndexes() {
  std::vector<std::string> names;
  const TVRXIndexDefs& defs = RequireTable().IndexManager()->IndexDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) names.push_back(defs.Index(i).Name());
  for (const std::string& name : names) DeleteIndex(name);
}

void TVRXLocalCursor::CreateSortIndex(const std::vector<std::string>& fieldNames,
                                      const std::vector<std::string>& directions,
                                      std::string& indexName,
                                      const std::vector<std::string>& cases) {
  TVRXDiskTableData& table = RequireTable();
  std::vector<std::string> physical;
  for (const std::string& name : fieldNames) {
    const int32_t visible = fieldDefs.IndexOfName(name);
    physical.push_back(visible < 0 ? name : physicalFieldDefs.Field(PhysicalFieldNo(visible)).Name());
  }
  indexName = table.GetSortIndex(*this, physical, directions, cases);
  indexDefs.Assign(table.IndexManager()->IndexDefs());
}

int64_t TVRXLocalCursor::GetLastAutoincValue(int32_t physicalFieldNo) {
  return RequireTable().GetSequenceLastValue(physicalFieldNo, RequireSession());
}

// --- BLOB streams, still to be built ---------------------------------------------------------

TVRXLocalBLOBStream* TVRXLocalCursor::OpenBlob(bool, bool, int32_t, int32_t fieldNo) {
  PhysicalFieldNo(fieldNo);
  NotAvailable("BLOB streams");
}

void TVRXLocalCursor::CloseBlob(int32_t fieldNo) {
  PhysicalFieldNo(fieldNo);
  NotAvailable("BLOB streams");
}

void TVRXLocalCursor::FreeBlobStreams(bool writableOnly) {
  // No stream can be open before BLOB storage exists; the list is kept
  // right all the same.
  if (tableData_ == nullptr) return;
  for (const auto& stream : blobStreams)
    if (!writableOnly || stream->Writable())
      tableData_->FreeBlobField(stream->Record(), stream->PhysicalFieldNo());
}

}  // namespace vrx
