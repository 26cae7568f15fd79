#include "engine/query/cursor/VRXSession.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"
#include "engine/query/cursor/VRXBaseCursor.h"
#include "engine/storage/catalog/VRXDatabaseRegistry.h"
#include "engine/storage/catalog/VRXTableList.h"

namespace vrx {

void TVRXBaseSession::AddNamedObject(std::unique_ptr<TVRXSessionNamedObject> object) {
  const auto same = [&](const std::unique_ptr<TVRXSessionNamedObject>& held) {
    return object->objectID == -1 ? SameTableName(held->name, object->name)
                                  : held->objectID == object->objectID;
  };
  namedObjects_.erase(std::remove_if(namedObjects_.begin(), namedObjects_.end(), same),
                      namedObjects_.end());
  namedObjects_.push_back(std::move(object));
}

void TVRXBaseSession::AddCursor(TVRXTableCursor& cursor) {
  RemoveCursor(cursor);
  cursors_.push_back({&cursor, true, false, {}, false});
}

void TVRXBaseSession::RemoveCursor(TVRXTableCursor& cursor) {
  cursors_.erase(std::remove_if(cursors_.begin(), cursors_.end(),
                                [&](const CursorStart& held) { return held.cursor == &cursor; }),
                 cursors_.end());
}

void TVRXBaseSession::CloseCursors() {
  while (!cursors_.empty()) {
    TVRXTableCursor* cursor = cursors_.back().cursor;
    cursors_.pop_back();
    if (auto* owned = dynamic_cast<TVRXCursor*>(cursor)) owned->CloseTable();
  }
}

void TVRXBaseSession::SaveTransactionStart() {
  for (CursorStart& start : cursors_) {
    start.atBOF = start.cursor->atBOF;
    start.atEOF = start.cursor->atEOF;
    start.recordID = start.cursor->currentRecordID;
    start.known = true;
  }
  sequencesAtStart_.clear();
  for (const auto& object : namedObjects_)
    if (const auto* sequence = dynamic_cast<const TVRXSessionNamedObjectSequenceValue*>(object.get()))
      sequencesAtStart_.push_back(*sequence);
}

void TVRXBaseSession::RestoreTransactionStart() {
  for (CursorStart& start : cursors_) {
    TVRXTableCursor& cursor = *start.cursor;
    // A cursor opened inside the transaction starts again before the first
    // record.
    cursor.atBOF = start.known ? start.atBOF : true;
    cursor.atEOF = start.known ? start.atEOF : false;
    cursor.currentRecordID = start.known ? start.recordID : TVRXRecordID{};
    if (cursor.recordBitmap != nullptr) cursor.recordBitmap->Reset();
  }
  namedObjects_.erase(
      std::remove_if(namedObjects_.begin(), namedObjects_.end(),
                     [](const std::unique_ptr<TVRXSessionNamedObject>& object) {
                       return dynamic_cast<const TVRXSessionNamedObjectSequenceValue*>(
                                  object.get()) != nullptr;
                     }),
      namedObjects_.end());
  for (const TVRXSessionNamedObjectSequenceValue& sequence : sequencesAtStart_)
    namedObjects_.push_back(std::make_unique<TVRXSessionNamedObjectSequenceValue>(sequence));
  sequencesAtStart_.clear();
}

TVRXSessionNamedObject* TVRXBaseSession::FindNamedObject(const std::string& name) const {
  for (const auto& object : namedObjects_)
    if (SameTableName(object->name, name)) return object.get();
  return nullptr;
}

TVRXSessionNamedObject* TVRXBaseSession::FindNamedObjectByID(int32_t id) const {
  for (const auto& object : namedObjects_)
    if (object->objectID == id) return object.get();
  return nullptr;
}

void TVRXBaseSession::SetSequenceLastValue(int32_t sequenceID, int64_t value) {
  auto object = std::make_unique<TVRXSessionNamedObjectSequenceValue>();
  object->objectID = sequenceID;
  object->value = value;
  AddNamedObject(std::move(object));
}

bool TVRXBaseSession::FindSequenceLastValue(int32_t sequenceID, int64_t& value) const {
  const auto* object =
      dynamic_cast<const TVRXSessionNamedObjectSequenceValue*>(FindNamedObjectByID(sequenceID));
  if (object == nullptr) return false;
  value = object->value;
  return true;
}

TVRXLocalSession::~TVRXLocalSession() {
  try {
    SetConnected(false);
  } catch (...) {
    // Nothing can be reported from here; the registry has forgotten the
    // session all the same.
  }
}

TVRXDatabaseData& TVRXLocalSession::DatabaseData() const {
  if (database_ == nullptr) throw EVRXException("Pointer is nil", 30533);
  return *database_;
}

namespace {

[[noreturn]] void NotAvailable(const char* what) {
  throw EVRXException("%s is not available in this engine yet", {what}, 30534);
}

bool IsNamed(const std::string& name, const char* special) { return SameTableName(name, special); }

}  // namespace

void TVRXLocalSession::SetConnected(bool connected) {
  if (connected == IsConnected()) return;
  if (connected) {
    if (IsNamed(databaseName, "MEMORY")) NotAvailable("The in-memory database");
    if (IsNamed(databaseName, "TEMP")) NotAvailable("The temporary database");
    TVRXDiskDatabaseOptions options;
    options.fileName = databaseFileName;
    options.pageSize = static_cast<uint16_t>(pageSize);
    options.extentSize = static_cast<uint16_t>(extentSize);
    options.maxConnections = maxConnections;
    options.readOnly = readOnly;
    auto& disk = TVRXDatabaseRegistry::Instance().ConnectDisk(options, *this);
    database_ = &disk;
    maxConnections = disk.MaxConnections();
    pageSize = disk.DatabasePageSize();
    extentSize = disk.ExtentSize();
    return;
  }
  // The session's cursors close first: their tables may go with the
  // database.
  CloseCursors();
  TVRXDatabaseData* database = database_;
  database_ = nullptr;
  TVRXDatabaseRegistry::Instance().Disconnect(*database, *this);
  inTransaction = false;
}

void TVRXLocalSession::GetTableNames(std::vector<std::string>& names) {
  DatabaseData().GetTablesList(names);
}

bool TVRXLocalSession::TableExists(const std::string& name) {
  return DatabaseData().TableExists(name);
}

bool TVRXLocalSession::GetDatabaseFlag() {
  if (!IsConnected()) return false;
  NotAvailable("The database flag");
}

void TVRXLocalSession::SetDatabaseFlag(bool) {
  if (IsConnected()) NotAvailable("The database flag");
}

void TVRXLocalSession::CreateDatabase() {
  auto& registry = TVRXDatabaseRegistry::Instance();
  if (IsConnected() || registry.FindByFileName(databaseFileName) != nullptr)
    throw EVRXException("Cannot create database. Database is already open", 30552);
  TVRXDiskDatabaseOptions options;
  options.fileName = databaseFileName;
  options.pageSize = static_cast<uint16_t>(pageSize);
  options.extentSize = static_cast<uint16_t>(extentSize);
  options.maxConnections = maxConnections;
  TVRXDiskDatabaseData(options).CreateDatabase();
}

void TVRXLocalSession::FlushDatabase() { DatabaseData().FlushBuffers(); }

void TVRXLocalSession::RepairDatabase() { NotAvailable("Repairing a database"); }

void TVRXLocalSession::StartTransaction() {
  DatabaseData();
  SaveTransactionStart();
  inTransaction = true;
}

void TVRXLocalSession::Commit(bool flush) {
  if (!inTransaction)
    throw EVRXException("Database is not in transaction. Cannot perform operation", 30532);
  DatabaseData().Commit(sessionID, flush);
  inTransaction = false;
}

void TVRXLocalSession::Rollback() {
  if (!inTransaction)
    throw EVRXException("Database is not in transaction. Cannot perform operation", 30532);
  inTransaction = false;
  DatabaseData().Rollback(sessionID);
  RestoreTransactionStart();
}

}  // namespace vrx
