#include "engine/storage/catalog/VRXDatabaseData.h"

#include <algorithm>

#include "engine/storage/catalog/VRXDatabaseRegistry.h"
#include "platform/locale/Locale.h"

namespace vrx {

TVRXDatabaseData::TVRXDatabaseData() = default;

TVRXDatabaseData::~TVRXDatabaseData() { TVRXDatabaseRegistry::Instance().Forget(this); }

void TVRXDatabaseData::AddSession(TVRXDatabaseSession& session) {
  TVRXDatabaseLock hold(*this);
  if (std::find(sessions_.begin(), sessions_.end(), &session) == sessions_.end())
    sessions_.push_back(&session);
}

void TVRXDatabaseData::RemoveSession(TVRXDatabaseSession& session) {
  TVRXDatabaseLock hold(*this);
  RemoveSessionFromList(session);
}

void TVRXDatabaseData::RemoveSessionFromList(TVRXDatabaseSession& session) {
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &session), sessions_.end());
}

int32_t TVRXDatabaseData::SessionCount() {
  TVRXDatabaseLock hold(*this);
  return static_cast<int32_t>(sessions_.size());
}

bool TVRXDatabaseData::FreeIfUnused() {
  if (SessionCount() != 0) return false;
  return TVRXDatabaseRegistry::Instance().Free(this);
}

void TVRXDatabaseData::GetTablesList(std::vector<std::string>& names) {
  TVRXDatabaseLock hold(*this);
  names.clear();
  for (const auto& table : tables_) names.push_back(table->TableName());
}

void TVRXDatabaseData::CreateDatabase() {}

TVRXTableData* TVRXDatabaseData::FindTableData(const std::string& tableName) {
  TVRXDatabaseLock hold(*this);
  const std::string key = locale::UpperCase(tableName);
  for (const auto& table : tables_)
    if (locale::UpperCase(table->TableName()) == key) return table.get();
  return nullptr;
}

TVRXTableData* TVRXDatabaseData::GetTableData(const std::string& tableName) {
  TVRXDatabaseLock hold(*this);
  if (TVRXTableData* table = FindTableData(tableName)) return table;
  return CreateTableData(tableName);
}

TVRXTableData* TVRXDatabaseData::AdoptTableData(std::unique_ptr<TVRXTableData> table) {
  TVRXDatabaseLock hold(*this);
  tables_.push_back(std::move(table));
  return tables_.back().get();
}

void TVRXDatabaseData::Commit(int32_t sessionID, bool) {
  TVRXDatabaseLock hold(*this);
  if (pageManager_ != nullptr) pageManager_->ApplyChanges(sessionID);
}

void TVRXDatabaseData::Rollback(int32_t sessionID) {
  TVRXDatabaseLock hold(*this);
  if (pageManager_ != nullptr) pageManager_->CancelChanges(sessionID);
  for (const auto& table : tables_) table->Rollback(sessionID);
}

void TVRXDatabaseData::FlushBuffers() {}

bool TVRXDatabaseData::TableExists(const std::string& tableName) {
  std::vector<std::string> names;
  GetTablesList(names);
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return locale::CompareText(name, tableName, true) == 0;
  });
}

}  // namespace vrx
