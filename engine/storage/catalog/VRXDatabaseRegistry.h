// TVRXDatabaseRegistry: the process-wide list of open databases. The
// session layer connects a session through it: the database of a file is
// found by its file name (one object per file in the process) or created
// and registered. The registry owns the objects registered in it; a
// database leaves it when it is freed (FreeIfUnused, or its destructor).
//
// Thread-safe: one lock guards the list and makes connecting and
// disconnecting one step each. Lock order: the registry's, then a
// database's.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/storage/catalog/VRXDiskDatabaseData.h"

namespace vrx {

class TVRXDatabaseRegistry {
 public:
  static TVRXDatabaseRegistry& Instance();
  TVRXDatabaseRegistry() = default;
  ~TVRXDatabaseRegistry();
  TVRXDatabaseRegistry(const TVRXDatabaseRegistry&) = delete;
  TVRXDatabaseRegistry& operator=(const TVRXDatabaseRegistry&) = delete;

  // Takes ownership of `database`.
  TVRXDatabaseData& Register(std::unique_ptr<TVRXDatabaseData> database);
  // The registered database of that file (compared as absolute, normalised
  // paths), or null.
  TVRXDiskDatabaseData* FindByFileName(const std::string& fileName);
  // Finds or creates the database of options.fileName and adds the session
  // to it. A database created here that no session ends up using is freed
  // again when the connection fails.
  TVRXDiskDatabaseData& ConnectDisk(const TVRXDiskDatabaseOptions& options,
                                    TVRXDatabaseSession& session);
  // Removes the session and frees the database when it was the last one.
  void Disconnect(TVRXDatabaseData& database, TVRXDatabaseSession& session);
  // Destroys `database` when it is registered; false otherwise.
  bool Free(TVRXDatabaseData* database);
  // Drops `database` from the list without destroying it (its destructor).
  void Forget(TVRXDatabaseData* database);
  int Count();

 private:
  TVRXDiskDatabaseData* FindLocked(const std::string& key);
  std::unique_ptr<TVRXDatabaseData> ExtractLocked(TVRXDatabaseData* database);

  std::recursive_mutex mutex_;
  std::vector<std::unique_ptr<TVRXDatabaseData>> databases_;
};

}  // namespace vrx
