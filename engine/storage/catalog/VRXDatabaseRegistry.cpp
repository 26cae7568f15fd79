#include "engine/storage/catalog/VRXDatabaseRegistry.h"

#include <algorithm>
#include <filesystem>

namespace vrx {

namespace {

std::string FileKey(const std::string& fileName) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::weakly_canonical(fileName, error);
  if (error) return std::filesystem::absolute(fileName).lexically_normal().string();
  return path.string();
}

}  // namespace

TVRXDatabaseRegistry& TVRXDatabaseRegistry::Instance() {
  static TVRXDatabaseRegistry registry;
  return registry;
}

TVRXDatabaseRegistry::~TVRXDatabaseRegistry() {
  // The databases leave the list before they are destroyed, so that their
  // destructors find a consistent (empty) list.
  std::vector<std::unique_ptr<TVRXDatabaseData>> all;
  {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    all.swap(databases_);
  }
  all.clear();
}

TVRXDatabaseData& TVRXDatabaseRegistry::Register(std::unique_ptr<TVRXDatabaseData> database) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  databases_.push_back(std::move(database));
  return *databases_.back();
}

TVRXDiskDatabaseData* TVRXDatabaseRegistry::FindLocked(const std::string& key) {
  for (const auto& database : databases_) {
    auto* disk = dynamic_cast<TVRXDiskDatabaseData*>(database.get());
    if (disk != nullptr && FileKey(disk->FileName()) == key) return disk;
  }
  return nullptr;
}

TVRXDiskDatabaseData* TVRXDatabaseRegistry::FindByFileName(const std::string& fileName) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return FindLocked(FileKey(fileName));
}

TVRXDiskDatabaseData& TVRXDatabaseRegistry::ConnectDisk(const TVRXDiskDatabaseOptions& options,
                                                        TVRXDatabaseSession& session) {
  std::unique_ptr<TVRXDatabaseData> unused;  // destroyed after the lock is left
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  TVRXDiskDatabaseData* database = FindLocked(FileKey(options.fileName));
  if (database == nullptr) {
    auto created = std::make_unique<TVRXDiskDatabaseData>(options);
    database = created.get();
    databases_.push_back(std::move(created));
  }
  try {
    database->AddSession(session);
  } catch (...) {
    if (database->SessionCount() == 0) unused = ExtractLocked(database);
    throw;
  }
  return *database;
}

void TVRXDatabaseRegistry::Disconnect(TVRXDatabaseData& database, TVRXDatabaseSession& session) {
  std::unique_ptr<TVRXDatabaseData> unused;
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  try {
    database.RemoveSession(session);
  } catch (...) {
    if (database.SessionCount() == 0) unused = ExtractLocked(&database);
    throw;
  }
  if (database.SessionCount() == 0) unused = ExtractLocked(&database);
}

std::unique_ptr<TVRXDatabaseData> TVRXDatabaseRegistry::ExtractLocked(TVRXDatabaseData* database) {
  const auto it = std::find_if(databases_.begin(), databases_.end(),
                               [database](const auto& entry) { return entry.get() == database; });
  if (it == databases_.end()) return nullptr;
  std::unique_ptr<TVRXDatabaseData> owned = std::move(*it);
  databases_.erase(it);
  return owned;
}

bool TVRXDatabaseRegistry::Free(TVRXDatabaseData* database) {
  std::unique_ptr<TVRXDatabaseData> owned;
  {
    std::lock_guard<std::recursive_mutex> hold(mutex_);
    owned = ExtractLocked(database);
  }
  return owned != nullptr;
}

void TVRXDatabaseRegistry::Forget(TVRXDatabaseData* database) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  // The entry's owner is the one destroying it: release, never delete twice.
  const auto it = std::find_if(databases_.begin(), databases_.end(),
                               [database](const auto& entry) { return entry.get() == database; });
  if (it != databases_.end()) {
    it->release();
    databases_.erase(it);
  }
}

int TVRXDatabaseRegistry::Count() {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return static_cast<int>(databases_.size());
}

}  // namespace vrx
