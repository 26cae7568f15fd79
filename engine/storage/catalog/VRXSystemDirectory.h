// TVRXSystemDirectory: the root of a database's catalog, a transacted
// internal file of page type 4 that always starts at page 2. It holds an
// array of 5-byte entries {byte system file id, int32 first page}, stored
// uncompressed: id 1 names the table list, id 2 the session slot file.
// Owned by the disk database object, which loads it when the database opens.
//
// Not thread-safe: the open database's lock serialises calls.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/catalog/VRXInternalFiles.h"

namespace vrx {

inline constexpr int32_t kSystemDirectoryPageNo = 2;
inline constexpr int32_t kSystemDirectoryEntrySize = 5;
inline constexpr uint8_t kTableListFileId = 1;
inline constexpr uint8_t kActiveSessionsFileId = 2;

struct TVRXSystemFileEntry {
  uint8_t id = 0;
  int32_t firstPage = -1;
};

class TVRXSystemDirectory {
 public:
  // `pageManager` must outlive the object.
  explicit TVRXSystemDirectory(TVRXPageManager& pageManager);

  // Creates the file in the session; it must land on page 2, else "Error
  // Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d."
  // (30392). A new database file's first allocation gives page 2.
  void Create(int32_t sessionID);
  // Reads every entry of the file at page 2.
  void Load(int32_t sessionID);
  void Save(int32_t sessionID);
  void AddEntry(uint8_t id, int32_t firstPage);
  // The first page of the system file `id`, or -1.
  int32_t FindEntry(uint8_t id) const;
  const std::vector<TVRXSystemFileEntry>& Entries() const { return entries_; }

 private:
  TVRXInternalDBTransactedAccessFile file_;
  std::vector<TVRXSystemFileEntry> entries_;
};

}  // namespace vrx
