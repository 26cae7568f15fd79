// TVRXTableListFile: the catalog of a database's tables, a transacted
// internal file of page type 6, stored uncompressed, holding 272-byte
// entries in creation order:
//   0    256 bytes  table name: length byte + up to 255 bytes
//   256  int32      table ID (from the object-ID counter)
//   260  int32      first page of the table's metadata file
//   264  int32      first page of the table's most-updated file
//   268  int32      first page of the table's lock file
// Names are compared after upper-casing their ASCII letters; a longer name
// is cut to 255 bytes, never inside a UTF-8 sequence.
//
// The object keeps the loaded entries; changes are made to them and saved
// by the caller in a session (the system session -2 for catalog changes).
// Owned by the disk database object. Not thread-safe: the open database's
// lock serialises calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/catalog/VRXInternalFiles.h"

namespace vrx {

inline constexpr int32_t kTableListEntrySize = 272;
inline constexpr int32_t kMaxTableNameLength = 255;

struct TVRXTableEntry {
  std::string name;
  int32_t tableID = 0;
  int32_t metadataPage = -1;
  int32_t mostUpdatedPage = -1;
  int32_t lockFilePage = -1;
};

// `name` cut to 255 bytes at a character boundary.
std::string TableListName(std::string_view name);
// True when both names are equal after upper-casing ASCII letters.
bool SameTableName(std::string_view left, std::string_view right);

class TVRXTableListFile {
 public:
  // `pageManager` must outlive the object.
  explicit TVRXTableListFile(TVRXPageManager& pageManager);

  int32_t FirstPage() const { return file_.FirstPage(); }
  bool IsOpen() const { return file_.FirstPage() != -1; }

  // A new, empty table list in the session; returns its first page.
  int32_t Create(int32_t sessionID);
  // "Table list file already opened." (30393) when the object has a file.
  void Open(int32_t firstPage);
  void Load(int32_t sessionID);
  void Save(int32_t sessionID);

  // Appends an entry to the loaded list; "Cannot create table. Table '%s'
  // already exists" (30395) when the name is taken.
  void AddTableEntry(int32_t tableID, std::string_view name, int32_t lockFilePage,
                     int32_t mostUpdatedPage, int32_t metadataPage);
  // "Table '%s' not exists." (30396).
  TVRXTableEntry FindTableEntry(std::string_view name) const;
  // Closes the gap; "Table '%s' not exists." (30405).
  void DeleteTableEntry(std::string_view name);
  // "Table '%s' not exists." (30397) for a missing name; a new name another
  // table has already is refused (30474).
  void RenameTableEntry(std::string_view name, std::string_view newName);
  bool Contains(std::string_view name) const;

  // The loaded entries in creation order.
  const std::vector<TVRXTableEntry>& Entries() const { return entries_; }

 private:
  const TVRXTableEntry* Find(std::string_view name) const;

  TVRXInternalDBTransactedAccessFile file_;
  std::vector<TVRXTableEntry> entries_;
};

}  // namespace vrx
