#include "engine/query/cursor/VRXSession.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"
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

void TVRXLocalSession::SetConnected(bool connected) {
  if (connected == IsConnected()) return;
  if (connected) {
    TVRXDiskDatabaseOptions options;
    options.fileName = databaseFileName;
    options.pageSize = static_cast<uint16_t>(pageSize);
    options.extentSize = static_cast<uint16_t>(extentSize);
    database_ = &TVRXDatabaseRegistry::Instance().ConnectDisk(options, *this);
    return;
  }
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

void TVRXLocalSession::StartTransaction() { inTransaction = true; }

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
}

}  // namespace vrx
