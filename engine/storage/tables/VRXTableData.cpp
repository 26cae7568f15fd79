#include "engine/storage/tables/VRXTableData.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"
#include "platform/locale/Locale.h"

namespace vrx {

namespace {

constexpr int32_t kNotAvailable = 30525;

}  // namespace

TVRXBaseTableData::TVRXBaseTableData(std::string tableName, TVRXDatabaseData& database)
    : TVRXTableData(std::move(tableName)), database_(database), objectIDs_(database) {}

TVRXBaseTableData::~TVRXBaseTableData() = default;

TVRXPageManager& TVRXBaseTableData::PageManager() const {
  TVRXPageManager* pages = database_.PageManager();
  if (pages == nullptr) throw EVRXException("Pointer is nil", 30526);
  return *pages;
}

void TVRXBaseTableData::NotAvailable(const char* operation) const {
  throw EVRXException("Table '%s': %s is not available in this engine yet",
                      {TVRXTableData::TableName(), operation}, kNotAvailable);
}

void TVRXBaseTableData::RequireOpen(int32_t nativeError) const {
  if (!IsOpen()) throw EVRXException("Pointer is nil", nativeError);
}

void TVRXBaseTableData::FreeManagers() {
  recordManager_.reset();
  constraintManager_.reset();
  indexManager_.reset();
  fieldManager_.reset();
}

int64_t TVRXBaseTableData::RecordCount(int32_t) {
  return recordManager_ ? recordManager_->RecordCount() : 0;
}

int32_t TVRXBaseTableData::ChangeCounter() const {
  return recordManager_ ? recordManager_->ChangeCounter() : 0;
}

// --- definitions ----------------------------------------------------------------------------

void TVRXBaseTableData::SetFieldDefs(TVRXFieldDefs& defs) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  fieldManager_->SetFieldDefs(defs);
}

void TVRXBaseTableData::SetIndexDefs(TVRXIndexDefs& defs) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  indexManager_->SetIndexDefs(defs);
}

void TVRXBaseTableData::SetConstraintDefs(TVRXConstraintDefs& defs) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  constraintManager_->SetConstraintDefs(defs, false);
}

TVRXRecordSizes TVRXBaseTableData::GetRecordSizes() {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const TVRXFieldDefs& fields = fieldManager_->FieldDefs();
  TVRXRecordSizes sizes;
  sizes.recordSize = fields.MemoryRecordSize();
  sizes.firstFieldOffset = fields.Count() > 0 ? fields.Field(0).MemoryOffset() : 0;
  return sizes;
}

// --- sessions ------------------------------------------------------------------------------------

void TVRXBaseTableData::Commit(int32_t sessionID, bool inTransaction) {
  if (!inTransaction) PageManager().ApplyChanges(sessionID);
}

void TVRXBaseTableData::Rollback(int32_t sessionID, bool inTransaction) {
  if (!inTransaction) PageManager().CancelChanges(sessionID);
}

// --- catalog operations ------------------------------------------------------------------------

void TVRXBaseTableData::DeleteTable(TVRXTableCursor*, bool force) {
  TVRXTableLock hold(*this);
  if (!cursors_.empty() && !force)
    throw EVRXException("Cannot delete table '%s'. Table is open by another dataset",
                        {TVRXTableData::TableName()}, 20017);
}

void TVRXBaseTableData::EmptyTable(TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor != nullptr ? cursor->CursorSessionID() : kSystemSessionID;
  fieldManager_->ResetCounters();
  indexManager_->EmptyIndexes(sessionID);
}

void TVRXBaseTableData::RenameTable(const std::string& newName, TVRXTableCursor*) {
  TVRXTableLock hold(*this);
  if (!cursors_.empty())
    throw EVRXException("Cannot rename table '%s'. Table is open by another dataset",
                        {TVRXTableData::TableName()}, 10150);
  SetTableName(newName);
}

void TVRXBaseTableData::AddCursor(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  cursors_.push_back(&cursor);
}

void TVRXBaseTableData::RemoveCursor(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  cursors_.erase(std::remove(cursors_.begin(), cursors_.end(), &cursor), cursors_.end());
}

void TVRXBaseTableData::RenameField(const std::string& oldName, const std::string& newName) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const TVRXFieldDefs& fields = fieldManager_->FieldDefs();
  const std::string oldLower = locale::LowerCase(oldName);
  const std::string newLower = locale::LowerCase(newName);
  int32_t found = -1;
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const std::string name = locale::LowerCase(fields.Field(i).Name());
    if (name == newLower)
      throw EVRXException("Cannot rename field '%s'. Field '%s' already exists",
                          {oldName, newName}, 30344);
    if (name == oldLower && found < 0) found = i;
  }
  if (found < 0) throw EVRXException("Field '%s' not found", {oldName}, 30343);
  fields.Field(found).SetName(newName);
  indexManager_->RenameField(oldName, newName);
}

const TVRXIndexDef& TVRXBaseTableData::AddIndex(const TVRXIndexDef& definition,
                                                TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor != nullptr ? cursor->CursorSessionID() : kSystemSessionID;
  if (indexManager_->IndexDefs().IndexOfName(definition.Name()) >= 0)
    throw EVRXException("Cannot create index '%s'. Index already exists", {definition.Name()},
                        30528);
  const TVRXIndexDef& added = indexManager_->AddIndex(sessionID, definition);
  const bool creating = cursor != nullptr && cursor->creatingTable;
  if (!added.Temporary() && !creating) {
    try {
      constraintManager_->AddIndexConstraint(added);
    } catch (...) {
      indexManager_->DeleteIndex(sessionID, added.ID());
      throw;
    }
  }
  return added;
}

void TVRXBaseTableData::DeleteIndex(int32_t indexID, TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor != nullptr ? cursor->CursorSessionID() : kSystemSessionID;
  const TVRXIndexDef* definition = indexManager_->FindIndexDef(indexID);
  const bool creating = cursor != nullptr && cursor->creatingTable;
  if (definition != nullptr && !definition->Temporary() && !creating)
    constraintManager_->DropIndexConstraint(indexID);
  indexManager_->DeleteIndex(sessionID, indexID);
}

std::string TVRXBaseTableData::GetSortIndex(TVRXTableCursor& cursor,
                                            const std::vector<std::string>& fields,
                                            const std::vector<std::string>& directions,
                                            const std::vector<std::string>& cases) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor.CursorSessionID();
  try {
    int32_t id = indexManager_->FindIndexForFields(sessionID, fields, directions, cases);
    if (id < 0) id = indexManager_->CreateTemporaryIndex(sessionID, fields, directions, cases).ID();
    const TVRXIndexDef* definition = indexManager_->FindIndexDef(id);
    if (definition == nullptr)
      throw EVRXException("Cannot find index by ID = %d", {id}, 10324);
    std::string name = definition->Name();
    Commit(sessionID, cursor.SessionInTransaction());
    return name;
  } catch (...) {
    Rollback(sessionID, cursor.SessionInTransaction());
    throw;
  }
}

// --- records -------------------------------------------------------------------------------------

void TVRXBaseTableData::ReleaseRecordData(std::span<uint8_t> record) { FreeRecordBlobs(record); }

void TVRXBaseTableData::WriteBlobToRecord(TVRXTableCursor&, int32_t) {
  NotAvailable("writing BLOB values");
}
void TVRXBaseTableData::FreeBlobField(std::span<uint8_t>, int32_t) {}
void TVRXBaseTableData::FreeRecordBlobs(std::span<uint8_t> record) {
  if (!fieldManager_) return;
  const TVRXFieldDefs& fields = fieldManager_->FieldDefs();
  for (int32_t i = 0; i < fields.Count(); ++i)
    if (fields.Field(i).IsBlob()) FreeBlobField(record, i);
}
void TVRXBaseTableData::CreateBlobStream(TVRXTableCursor&, int32_t, int32_t) {
  NotAvailable("BLOB streams");
}

int64_t TVRXBaseTableData::GetSequenceLastValue(int32_t, TVRXSequenceSession&) { return 0; }

void TVRXBaseTableData::ReloadCounters(int32_t) {}

}  // namespace vrx
