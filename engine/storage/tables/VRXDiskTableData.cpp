#include "engine/storage/tables/VRXDiskTableData.h"

#include <algorithm>
#include <exception>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"
#include "engine/base/VRXStream.h"
#include "engine/storage/catalog/VRXTableFiles.h"
#include "engine/storage/metadata/VRXTableMetadata.h"
#include "engine/storage/records/VRXRecordPage.h"

namespace vrx {

namespace {

// Takes the database's tables lock for one scope unless `skip`.
class TablesLock {
 public:
  TablesLock(TVRXDiskDatabaseData& database, bool skip) : database_(database), held_(!skip) {
    if (held_) database_.LockTables();
  }
  ~TablesLock() {
    if (!held_) return;
    try {
      database_.UnlockTables();
    } catch (...) {
      // The operation's own result is the one to report.
    }
  }
  TablesLock(const TablesLock&) = delete;
  TablesLock& operator=(const TablesLock&) = delete;

 private:
  TVRXDiskDatabaseData& database_;
  bool held_;
};

// Sets a flag for one scope and puts the old value back.
class FlagScope {
 public:
  FlagScope(bool& flag, bool value) : flag_(flag), old_(flag) { flag_ = value; }
  ~FlagScope() { flag_ = old_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool old_;
};

TVRXTableRoots RootsOf(int32_t recordRoot, int32_t blobRoot) {
  TVRXTableRoots roots;
  roots.RecordIndexRoot = recordRoot;
  roots.BlobIndexRoot = blobRoot;
  return roots;
}

}  // namespace

TVRXDiskTableData::TVRXDiskTableData(std::string tableName, TVRXDiskDatabaseData& database)
    : TVRXBaseTableData(std::move(tableName), database), disk_(database) {}

TVRXDiskTableData::~TVRXDiskTableData() { CloseTable(); }

void TVRXDiskTableData::Register() {
  TVRXDiskDatabaseData::SetTableDataFactory(
      [](TVRXDiskDatabaseData& database, const std::string& name) -> std::unique_ptr<TVRXTableData> {
        return std::make_unique<TVRXDiskTableData>(name, database);
      });
}

// --- managers -----------------------------------------------------------------------------

void TVRXDiskTableData::MakeManagers() {
  TVRXPageManager& pages = PageManager();
  temporaryPages_ = std::make_unique<TVRXPrivatePageManager>(pages.PageSize());
  fieldManager_ = std::make_unique<TVRXBaseFieldManager>(*this);
  indexFactory_ = std::make_unique<TVRXBTreeIndexFactory>(pages, *temporaryPages_,
                                                          fieldManager_->FieldDefs(), this);
  indexManager_ = std::make_unique<TVRXBaseIndexManager>(*this, fieldManager_->FieldDefs(),
                                                         indexFactory_.get());
  constraintManager_ = std::make_unique<TVRXBaseConstraintManager>(
      *this, fieldManager_->FieldDefs(), *indexManager_);
  pageIndex_ = std::make_unique<TVRXBTreeRecordPageIndex>(pages);
}

void TVRXDiskTableData::CloseTable() {
  FreeManagers();
  diskRecords_ = nullptr;
  indexFactory_.reset();
  pageIndex_.reset();
  temporaryPages_.reset();
  metadataFile_.reset();
  mostUpdatedFile_.reset();
  lockFilePage_ = -1;
  blobIndexRoot_ = -1;
  openedExclusively_ = false;
}

void TVRXDiskTableData::CreateRecordManager() {
  TVRXDiskPageManager* disk = disk_.DiskPageManager();
  const bool checkValidity =
      disk == nullptr || disk->MainHeader().version >= kOldestSoundVersion;
  const TVRXFieldDefs& fields = fieldManager_->FieldDefs();
  auto records = std::make_unique<TVRXDiskRecordManager>(PageManager(), fields, *pageIndex_,
                                                         tableID_, checkValidity);
  records->SetRecordLayout(fields.MemoryRecordSize(), fields.DiskRecordSize(), fields.Count());
  diskRecords_ = records.get();
  recordManager_ = std::move(records);
}

void TVRXDiskTableData::SetFieldDefs(TVRXFieldDefs& defs) {
  TVRXTableLock hold(*this);
  MakeManagers();
  fieldManager_->SetFieldDefs(defs);
}

void TVRXDiskTableData::SetIndexDefs(TVRXIndexDefs& defs) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  indexManager_->SetIndexDefs(defs);
}

void TVRXDiskTableData::SetConstraintDefs(TVRXConstraintDefs& defs) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  constraintManager_->SetConstraintDefs(defs, true);
}

// --- files -----------------------------------------------------------------------------------

void TVRXDiskTableData::WriteCounters(int32_t sessionID) {
  diskRecords_->WriteCounters(sessionID, *fieldManager_, *mostUpdatedFile_);
  rememberedChangeCounter_ = diskRecords_->ChangeCounter();
}

void TVRXDiskTableData::WriteMetadata(int32_t sessionID) {
  TVRXMemoryStream stream;
  SaveTableMetadata(stream, *fieldManager_, *indexManager_, *constraintManager_,
                    RootsOf(pageIndex_->RootPage(), blobIndexRoot_));
  metadataFile_->WriteFile(sessionID, stream.Memory(), kMetadataCompressionLevel,
                           kMetadataCompression, static_cast<int32_t>(stream.GetSize()));
}

void TVRXDiskTableData::ReloadMetadata(int32_t sessionID) {
  std::vector<uint8_t> content = metadataFile_->ReadAll(sessionID);
  TVRXMemoryStream stream;
  if (!content.empty()) WriteChecked(content.data(), static_cast<int32_t>(content.size()), stream, 30531);
  stream.SetPosition(0);
  TVRXTableRoots roots;
  LoadTableMetadata(stream, *fieldManager_, *indexManager_, *constraintManager_, roots);
  pageIndex_->SetRootPage(roots.RecordIndexRoot);
  blobIndexRoot_ = roots.BlobIndexRoot;
}

void TVRXDiskTableData::OpenTable(int32_t sessionID) {
  const TVRXTableEntry entry = disk_.FindTableEntry(TVRXTableData::TableName());
  try {
    tableID_ = entry.tableID;
    lockFilePage_ = entry.lockFilePage;
    MakeManagers();
    metadataFile_ = std::make_unique<TVRXInternalDBTransactedAccessFile>(
        PageManager(), ptTableMetaData, entry.metadataPage);
    mostUpdatedFile_ = std::make_unique<TVRXInternalDBTransactedAccessFile>(
        PageManager(), ptTableMostUpdated, entry.mostUpdatedPage);
    ReloadMetadata(sessionID);
    CreateRecordManager();
    ReloadCounters(sessionID);
  } catch (...) {
    CloseTable();
    throw;
  }
}

// --- sessions -----------------------------------------------------------------------------------

void TVRXDiskTableData::Commit(int32_t sessionID, bool inTransaction) {
  TVRXTableLock hold(*this);
  TVRXBaseTableData::Commit(sessionID, inTransaction);
  if (temporaryPages_) temporaryPages_->ApplyChanges(sessionID);
}

void TVRXDiskTableData::Rollback(int32_t sessionID, bool inTransaction) {
  TVRXTableLock hold(*this);
  TVRXBaseTableData::Rollback(sessionID, inTransaction);
  if (temporaryPages_) temporaryPages_->CancelChanges(sessionID);
  if (!inTransaction && IsOpen()) ReloadCounters(sessionID);
}

void TVRXDiskTableData::Rollback(int32_t sessionID) {
  TVRXTableLock hold(*this);
  if (temporaryPages_) temporaryPages_->CancelChanges(sessionID);
  if (IsOpen()) ReloadCounters(sessionID);
}

void TVRXDiskTableData::ReloadCounters(int32_t sessionID) {
  TVRXTableLock hold(*this);
  RequireOpen(20176);
  diskRecords_->ReadCounters(sessionID, *fieldManager_, *mostUpdatedFile_);
  rememberedChangeCounter_ = diskRecords_->ChangeCounter();
}

// --- catalog operations ----------------------------------------------------------------------

void TVRXDiskTableData::CreateTable(TVRXTableCursor& cursor, TVRXFieldDefs& fields,
                                    TVRXIndexDefs& indexes, TVRXConstraintDefs& constraints) {
  TVRXTableLock hold(*this);
  if (fields.Count() == 0)
    throw EVRXException("Error creating table - no fields were specified", 20128);
  if (IsOpen() || !cursors_.empty())
    throw EVRXException("Cannot create table '%s'. Table is open", {cursor.tableName}, 30529);
  SetTableName(cursor.tableName);
  tempFilesDisabled_ = cursor.disableTempFiles;
  FlagScope creating(cursor.creatingTable, true);
  try {
    disk_.CreateTableFiles(
        cursor.tableName, [&](TVRXInternalDBTransactedAccessFile& metadata,
                              TVRXInternalDBTransactedAccessFile& mostUpdated) {
          SetFieldDefs(fields);
          SetIndexDefs(indexes);
          SetConstraintDefs(constraints);
          CreateRecordManager();
          WriteCountersTo(mostUpdated);
          pageIndex_->CreateIndex(kSystemSessionID);
          if (fieldManager_->CheckBlobSettings())
            blobIndexRoot_ = TVRXBTreeBlobPageIndex(PageManager()).CreateIndex(kSystemSessionID);
          const TVRXIndexDefs& defs = indexManager_->IndexDefs();
          for (int32_t i = 0; i < defs.Count(); ++i) {
            TVRXIndexObject& index = indexManager_->GetIndex(defs.Index(i).ID());
            index.Build(kSystemSessionID);
            defs.Index(i).SetRootPage(index.RootPage());
          }
          TVRXMemoryStream stream;
          SaveTableMetadata(stream, *fieldManager_, *indexManager_, *constraintManager_,
                            RootsOf(pageIndex_->RootPage(), blobIndexRoot_));
          metadata.WriteFile(kSystemSessionID, stream.Memory(), kMetadataCompressionLevel,
                             kMetadataCompression, static_cast<int32_t>(stream.GetSize()));
        });
  } catch (...) {
    CloseTable();
    throw;
  }
  CloseTable();
}

void TVRXDiskTableData::WriteCountersTo(TVRXInternalDBTransactedAccessFile& file) {
  diskRecords_->WriteCounters(kSystemSessionID, *fieldManager_, file);
}

void TVRXDiskTableData::AddCursor(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  TablesLock tables(disk_, insideCatalogOperation_);
  if (!cursors_.empty() && (cursor.exclusive || openedExclusively_))
    throw EVRXException(
        "Cannot access table '%s' in exclusive mode. Probably the table is open by another "
        "cursors",
        {TVRXTableData::TableName()}, 20242);
  if (cursors_.empty()) {
    tempFilesDisabled_ = cursor.disableTempFiles;
    OpenTable(cursor.CursorSessionID());
  }
  cursors_.push_back(&cursor);
  cursor.holdsTableLock = true;
  openedExclusively_ = cursor.exclusive;
  if constexpr (kCheckInvariants) CheckInvariants();
}

void TVRXDiskTableData::RemoveCursor(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  const auto found = std::find(cursors_.begin(), cursors_.end(), &cursor);
  if (found == cursors_.end()) return;
  cursors_.erase(found);
  cursor.holdsTableLock = false;
  if (cursors_.empty()) CloseTable();
}

void TVRXDiskTableData::DeleteTable(TVRXTableCursor* cursor, bool force) {
  TVRXTableLock hold(*this);
  TVRXBaseTableData::DeleteTable(cursor, force);
  if (cursor == nullptr) throw EVRXException("Pointer is nil", 30530);
  TablesLock tables(disk_, false);
  FlagScope catalog(insideCatalogOperation_, true);
  FlagScope exclusive(cursor->exclusive, true);
  const std::string name = TVRXTableData::TableName();
  AddCursor(*cursor);
  std::exception_ptr failure;
  try {
    TVRXPageManager& pages = PageManager();
    const TVRXIndexDefs& defs = indexManager_->IndexDefs();
    for (int32_t i = 0; i < defs.Count(); ++i)
      if (!defs.Index(i).Temporary()) indexManager_->GetIndex(defs.Index(i).ID()).Drop(kSystemSessionID);
    if (blobIndexRoot_ >= 0) TVRXBTreeBlobPageIndex(pages, blobIndexRoot_).DropIndex(kSystemSessionID);
    for (int32_t pageNo : diskRecords_->ListedPages(kSystemSessionID)) pages.RemovePage(kSystemSessionID, pageNo);
    pageIndex_->DropIndex(kSystemSessionID);
    metadataFile_->Delete(kSystemSessionID);
    mostUpdatedFile_->Delete(kSystemSessionID);
    if (TVRXDiskPageManager* disk = disk_.DiskPageManager(); disk != nullptr && lockFilePage_ >= 0)
      TVRXInternalDBDirectAccessFile(*disk, ptTableLocks).Delete(lockFilePage_);
  } catch (...) {
    failure = std::current_exception();
  }
  RemoveCursor(*cursor);
  // The entry goes even after a partial failure: a table whose pages are
  // half gone must not be opened again.
  try {
    disk_.DeleteTableEntry(name);
    PageManager().ApplyChanges(kSystemSessionID);
  } catch (...) {
    PageManager().CancelChanges(kSystemSessionID);
    disk_.ReloadTableList();
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TVRXDiskTableData::EmptyTable(TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  if (cursor == nullptr) throw EVRXException("Pointer is nil", 30530);
  FlagScope exclusive(cursor->exclusive, true);
  AddCursor(*cursor);
  const int32_t sessionID = cursor->CursorSessionID();
  const bool inTransaction = cursor->SessionInTransaction();
  try {
    TVRXBaseTableData::EmptyTable(cursor);
    recordManager_->EmptyRecords(sessionID);
    WriteCounters(sessionID);
    Commit(sessionID, inTransaction);
  } catch (...) {
    try {
      if (!inTransaction) Rollback(sessionID, false);
    } catch (...) {
    }
    RemoveCursor(*cursor);
    throw;
  }
  RemoveCursor(*cursor);
}

void TVRXDiskTableData::RenameTable(const std::string& newName, TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  if (cursor == nullptr) throw EVRXException("Pointer is nil", 30530);
  TablesLock tables(disk_, false);
  FlagScope catalog(insideCatalogOperation_, true);
  {
    FlagScope exclusive(cursor->exclusive, true);
    AddCursor(*cursor);
    RemoveCursor(*cursor);
  }
  try {
    disk_.RenameTableEntry(TVRXTableData::TableName(), newName);
    PageManager().ApplyChanges(kSystemSessionID);
  } catch (...) {
    PageManager().CancelChanges(kSystemSessionID);
    disk_.ReloadTableList();
    throw;
  }
  SetTableName(newName);
}

void TVRXDiskTableData::RenameField(const std::string& oldName, const std::string& newName) {
  TVRXTableLock hold(*this);
  TVRXBaseTableData::RenameField(oldName, newName);
  try {
    WriteMetadata(kSystemSessionID);
    PageManager().ApplyChanges(kSystemSessionID);
  } catch (...) {
    PageManager().CancelChanges(kSystemSessionID);
    ReloadMetadata(kSystemSessionID);
    throw;
  }
}

const TVRXIndexDef& TVRXDiskTableData::AddIndex(const TVRXIndexDef& definition,
                                                TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  const int32_t sessionID = cursor != nullptr ? cursor->CursorSessionID() : kSystemSessionID;
  const bool inTransaction = cursor != nullptr && cursor->SessionInTransaction();
  const TVRXIndexDef& added = TVRXBaseTableData::AddIndex(definition, cursor);
  const int32_t id = added.ID();
  try {
    if (!added.Temporary()) WriteMetadata(sessionID);
    Commit(sessionID, inTransaction);
  } catch (...) {
    if (!inTransaction) {
      Rollback(sessionID, false);
      ReloadMetadata(sessionID);
    }
    throw;
  }
  return *indexManager_->FindIndexDef(id);
}

void TVRXDiskTableData::DeleteIndex(int32_t indexID, TVRXTableCursor* cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor != nullptr ? cursor->CursorSessionID() : kSystemSessionID;
  const bool inTransaction = cursor != nullptr && cursor->SessionInTransaction();
  const TVRXIndexDef* definition = indexManager_->FindIndexDef(indexID);
  const bool stored = definition != nullptr && !definition->Temporary();
  TVRXBaseTableData::DeleteIndex(indexID, cursor);
  try {
    if (stored) WriteMetadata(sessionID);
    Commit(sessionID, inTransaction);
  } catch (...) {
    if (!inTransaction) {
      Rollback(sessionID, false);
      ReloadMetadata(sessionID);
    }
    throw;
  }
}

// --- positions ------------------------------------------------------------------------------------

int64_t TVRXDiskTableData::GetPositionLimit(int32_t sessionID) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  return diskRecords_->GetPositionLimit(sessionID);
}

int64_t TVRXDiskTableData::RecordIDToPosition(const TVRXRecordID& id) {
  RequireOpen(30527);
  return RecordPosition(id, diskRecords_->RecordsPerPage());
}

TVRXRecordID TVRXDiskTableData::PositionToRecordID(int64_t position) {
  RequireOpen(30527);
  return RecordIDAtPosition(position, diskRecords_->RecordsPerPage());
}

TVRXRecordID TVRXDiskTableData::GetRecordIDByNumber(TVRXTableCursor& cursor, int64_t number) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  return diskRecords_->GetRecordIDByNumber(cursor.CursorSessionID(), number);
}

int64_t TVRXDiskTableData::GetRecordNumber(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  return diskRecords_->GetRecordNumber(cursor.CursorSessionID(), cursor.currentRecordID);
}

int64_t TVRXDiskTableData::GetTotalRecordCount(TVRXTableCursor&) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  return diskRecords_->RecordCount();
}

int64_t TVRXDiskTableData::GetSequenceLastValue(int32_t fieldNo, TVRXSequenceSession& session) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  return fieldManager_->GetSequenceLastValue(session, fieldNo);
}

TVRXBTreeRecordIndex& TVRXDiskTableData::RecordIndex(int32_t indexID) {
  RequireOpen(30527);
  auto* index = dynamic_cast<TVRXBTreeIndexObject*>(&indexManager_->GetIndex(indexID));
  if (index == nullptr) throw EVRXException("Pointer is nil", 30564);
  return index->Index();
}

void TVRXDiskTableData::StepStorageOrder(int32_t sessionID, TVRXReadRequest& request) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  diskRecords_->ReadRecord(sessionID, request);
}

bool TVRXDiskTableData::FetchRecord(int32_t sessionID, const TVRXRecordID& id,
                                    std::span<uint8_t> record) {
  return diskRecords_ != nullptr && diskRecords_->FetchRecord(sessionID, id, record);
}

// --- record writes ----------------------------------------------------------------------------------

void TVRXDiskTableData::UndoFailedWrite(TVRXTableCursor& cursor) {
  // The bitmap may hold the failed write's record: built again when asked.
  if (cursor.recordBitmap != nullptr) cursor.recordBitmap->Reset();
  if (cursor.SessionInTransaction()) return;
  try {
    Rollback(cursor.CursorSessionID(), false);
  } catch (...) {
    // The write's own failure is the one to report.
  }
}

bool TVRXDiskTableData::InsertRecord(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor.CursorSessionID();
  const std::span<uint8_t> record = cursor.CurrentRecordData();
  TVRXRecordID id;
  const bool bitmapValid = BitmapValid(cursor);
  if (!recordManager_->InsertRecord(sessionID, record, id)) {
    UndoFailedWrite(cursor);
    return false;
  }
  try {
    indexManager_->InsertKeys(sessionID, record, id);
    KeepBitmap(cursor, id, record, bitmapValid);
    cursor.atBOF = false;
    cursor.atEOF = false;
    cursor.currentRecordID = id;
    WriteCounters(sessionID);
    Commit(sessionID, cursor.SessionInTransaction());
  } catch (...) {
    UndoFailedWrite(cursor);
    throw;
  }
  if constexpr (kCheckInvariants) CheckInvariants();
  return true;
}

bool TVRXDiskTableData::UpdateRecord(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor.CursorSessionID();
  const std::span<uint8_t> record = cursor.CurrentRecordData();
  const TVRXRecordID id = cursor.currentRecordID;
  std::vector<uint8_t> old(static_cast<size_t>(recordManager_->MemoryRecordSize()));
  if (!diskRecords_->FetchRecord(sessionID, id, old)) return false;
  const bool bitmapValid = BitmapValid(cursor);
  try {
    indexManager_->UpdateKeys(sessionID, old, record, id);
    if (!recordManager_->UpdateRecord(sessionID, record, id)) {
      UndoFailedWrite(cursor);
      return false;
    }
    KeepBitmap(cursor, id, record, bitmapValid);
    WriteCounters(sessionID);
    Commit(sessionID, cursor.SessionInTransaction());
  } catch (...) {
    UndoFailedWrite(cursor);
    throw;
  }
  if constexpr (kCheckInvariants) CheckInvariants();
  return true;
}

bool TVRXDiskTableData::DeleteRecord(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t sessionID = cursor.CursorSessionID();
  const TVRXRecordID id = cursor.currentRecordID;
  std::vector<uint8_t> old(static_cast<size_t>(recordManager_->MemoryRecordSize()));
  if (!diskRecords_->FetchRecord(sessionID, id, old)) return false;
  TVRXRecordID neighbour;
  bool hasNeighbour = NeighbourInCursorOrder(cursor, id, true, neighbour);
  if (!hasNeighbour) hasNeighbour = NeighbourInCursorOrder(cursor, id, false, neighbour);
  const bool bitmapValid = BitmapValid(cursor);
  try {
    FreeRecordBlobs(cursor.CurrentRecordData());
    indexManager_->DeleteKeys(sessionID, old, id);
    if (!recordManager_->DeleteRecord(sessionID, id)) {
      UndoFailedWrite(cursor);
      return false;
    }
    WriteCounters(sessionID);
    Commit(sessionID, cursor.SessionInTransaction());
  } catch (...) {
    UndoFailedWrite(cursor);
    throw;
  }
  KeepBitmap(cursor, id, {}, bitmapValid);
  cursor.positionCache.Invalidate();
  if (hasNeighbour) {
    cursor.currentRecordID = neighbour;
    cursor.atBOF = false;
    cursor.atEOF = false;
  } else {
    cursor.atBOF = false;
    cursor.atEOF = true;
  }
  if constexpr (kCheckInvariants) CheckInvariants();
  return true;
}

// --- the records as the indexes see them -----------------------------------------------------------

bool TVRXDiskTableData::ReadRecord(int32_t sessionID, const TVRXRecordID& id,
                                   std::span<uint8_t> record) {
  return diskRecords_ != nullptr && diskRecords_->FetchRecord(sessionID, id, record);
}

void TVRXDiskTableData::ForEachRecord(
    int32_t sessionID,
    const std::function<void(const TVRXRecordID& id, std::span<const uint8_t> record)>& visit) {
  if (diskRecords_ == nullptr) return;
  std::vector<uint8_t> record(static_cast<size_t>(diskRecords_->MemoryRecordSize()));
  TVRXReadRequest request;
  request.mode = TVRXReadRequest::kNext;
  request.beforeFirst = true;
  request.record = record;
  for (;;) {
    diskRecords_->ReadRecord(sessionID, request);
    if (request.result != TVRXReadRequest::kFound) return;
    visit(request.recordID, record);
  }
}

void TVRXDiskTableData::CheckInvariants() const {
  CheckInvariant(IsOpen() == (recordManager_ != nullptr), "TVRXDiskTableData",
                 "managers half made");
  CheckInvariant(!IsOpen() || recordManager_->RecordCount() >= 0, "TVRXDiskTableData",
                 "record count is negative");
}

}  // namespace vrx
