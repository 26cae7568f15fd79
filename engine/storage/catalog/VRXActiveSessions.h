// TVRXActiveSessionsFile: the session slot file of a database, a direct
// internal file of page type 5 whose size is the maximum number of
// connections. Position i is the lock byte of session slot i (the bytes'
// contents are never used): a multi-user session holds its slot's byte while
// it is connected, and a single-user process holds every byte. So a
// single-user process keeps out multi-user sessions and other single-user
// processes, and the other way round. The size lives in the file header, so
// every process sees the limit chosen at creation.
//
// Byte locks are open-file-description locks: a second lock of a byte this
// handle already holds succeeds, so the object remembers which slots its
// own sessions hold and never hands one out twice.
//
// Owned by the disk database object. Not thread-safe: the open database's
// lock serialises calls.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/catalog/VRXInternalFiles.h"

namespace vrx {

inline constexpr int32_t kDefaultMaxConnections = 500;

class TVRXActiveSessionsFile {
 public:
  // `pageManager` must outlive the object.
  explicit TVRXActiveSessionsFile(TVRXDiskPageManager& pageManager);

  // Creates the file in session -2 (committed by the caller); returns its
  // first page.
  int32_t Create(int32_t maxConnections);
  void Open(int32_t firstPage);
  int32_t FirstPage() const { return file_.FirstPage(); }
  // The stored size, but never more slots than the chain can address.
  int32_t MaxConnections() const;

  // The slot of a new session: 0 when the database is not open multi-user;
  // otherwise the first slot whose byte can be locked. "Cannot connect
  // session. Maximum connections quantity exceeded or database is open in
  // single-user mode" (20094) when none can.
  int32_t ConnectSession();
  // Releases a multi-user session's slot.
  void DisconnectSession(int32_t slot);
  // Locks every slot when no slot is locked by anyone else; false otherwise.
  bool LockSingleUser();
  void UnlockSingleUser();

  TVRXInternalDBDirectAccessFile& File() { return file_; }

 private:
  // Takes the file's guard byte, waiting as lock attempts do; a guard that
  // cannot be had is not fatal, since every slot byte is a lock of its own.
  void Guard();
  void Unguard(int32_t nativeError);

  TVRXDiskPageManager& pageManager_;
  TVRXInternalDBDirectAccessFile file_;
  std::vector<bool> heldSlots_;
};

}  // namespace vrx
