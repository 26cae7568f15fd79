// The index manager of one table (TVRXBaseIndexManager): the index
// definitions, the index objects opened from them so far, and the
// operations that keep every index in step with the table's records.
// Owned by the table data object; the constraint manager asks it whether a
// key is a duplicate.
//
// Index objects are B-trees that the index factory opens on first use by
// index ID: stored indexes in the table's page manager, temporary ones in
// the table's private temporary page manager (both belong to the factory's
// owner, the table data object). A manager made without a factory manages
// the definitions only: every operation that needs an index object raises
// "Index '%s' cannot be opened: no index storage is attached to the table"
// (10262) instead of doing nothing.
//
// Not thread-safe: used under the table's lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/storage/metadata/VRXMetadataServices.h"

namespace vrx {

inline constexpr std::string_view kTemporaryIndexPrefix = "TEMPORARY_INDEX_";

class TVRXBaseIndexManager {
 public:
  // `table`, `fields` and `factory` (may be nullptr) outlive the manager.
  TVRXBaseIndexManager(TVRXMetadataTable& table, const TVRXFieldDefs& fields,
                       TVRXIndexFactory* factory);
  TVRXBaseIndexManager(const TVRXBaseIndexManager&) = delete;
  TVRXBaseIndexManager& operator=(const TVRXBaseIndexManager&) = delete;
  virtual ~TVRXBaseIndexManager();

  // The stored index list; loading closes every open index object and,
  // when it fails, keeps the definitions held before.
  virtual void LoadFromStream(TVRXStream& stream);
  virtual void SaveToStream(TVRXStream& stream) const;
  // Setting the indexes on a table: every definition of `indexes` gets an
  // ID from the database's counter, then the list takes copies.
  virtual void SetIndexDefs(TVRXIndexDefs& indexes);

  // The ID of the first index that serves a sort on `fieldNames` with
  // these directions ("ASC", "DESC", anything else: either) and cases
  // ("CASE": case-sensitive, for text fields only; "NO_CASE":
  // case-insensitive; anything else: either), leaving out the temporary
  // indexes of other sessions; -1 when none fits. Lists of different
  // length raise "Error - different lists length. L1 = %d, L2 = %d"
  // (10276 directions, 10277 cases).
  int32_t FindIndexForFields(int32_t sessionID, const std::vector<std::string>& fieldNames,
                             const std::vector<std::string>& directions,
                             const std::vector<std::string>& cases) const;

  // A new temporary index of `sessionID` on these columns, named
  // "TEMPORARY_INDEX_" and a random number below 1000000 not yet taken,
  // added and built as AddIndex does. Returns its definition.
  const TVRXIndexDef& CreateTemporaryIndex(int32_t sessionID,
                                           const std::vector<std::string>& fieldNames,
                                           const std::vector<std::string>& directions,
                                           const std::vector<std::string>& cases);

  // Adds a copy of `definition` with a new ID, opens its index object and
  // builds it from the table's records; the stored definition then knows
  // its root page. When building fails the list is left as it was.
  const TVRXIndexDef& AddIndex(int32_t sessionID, const TVRXIndexDef& definition);
  // Drops the index's B-tree and removes its definition. "Index not found"
  // (20018) for an ID not in the list.
  void DeleteIndex(int32_t sessionID, int32_t indexID);
  // The index object of an index ID, opened on first use. "Index not
  // found" (20018) for an ID not in the list.
  TVRXIndexObject& GetIndex(int32_t indexID);
  // The definition with this ID, or nullptr.
  const TVRXIndexDef* FindIndexDef(int32_t indexID) const;

  // Removes every key of every index.
  void EmptyIndexes(int32_t sessionID);
  // The keys of one record in every index. Each call adds 1 to every
  // index's remembered change counter and takes over a new root page.
  void InsertKeys(int32_t sessionID, std::span<const uint8_t> record, const TVRXRecordID& recordID);
  void UpdateKeys(int32_t sessionID, std::span<const uint8_t> oldRecord,
                  std::span<const uint8_t> newRecord, const TVRXRecordID& recordID);
  void DeleteKeys(int32_t sessionID, std::span<const uint8_t> record, const TVRXRecordID& recordID);
  // Rebuilds every temporary index whose remembered change counter is not
  // the table's, which it then remembers.
  void RebuildOutdatedTemporaryIndexes(int32_t sessionID);

  // Whether `record`'s key is already in the index: on insert, present;
  // on update, different from `oldRecord`'s key and present.
  bool IsDuplicateKey(int32_t sessionID, int32_t indexID, std::span<const uint8_t> record,
                      bool isInsert, std::span<const uint8_t> oldRecord);

  // Every index column naming `oldName` (after locale lower-casing) takes
  // `newName`.
  void RenameField(std::string_view oldName, std::string_view newName);

  const TVRXIndexDefs& IndexDefs() const { return indexes_; }
  // Set while the manager is changing keys or building an index.
  bool Busy() const { return busy_; }

 private:
  class BusyScope;

  TVRXIndexDef& CheckedDef(int32_t indexID) const;
  // Brings the definition in step with its object after a change of keys.
  void KeysChanged(TVRXIndexDef& definition, TVRXIndexObject& index);
  template <typename Action>
  void ForEveryIndex(Action action);

  TVRXMetadataTable& table_;
  const TVRXFieldDefs& fields_;
  TVRXIndexFactory* factory_;
  TVRXIndexDefs indexes_;
  std::map<int32_t, std::unique_ptr<TVRXIndexObject>> objects_;
  bool busy_ = false;
};

}  // namespace vrx
