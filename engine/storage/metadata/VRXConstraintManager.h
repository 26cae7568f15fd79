// The constraint manager of one table (TVRXBaseConstraintManager): the
// constraint definitions, their binding to the table's fields and indexes,
// their names, and the check of a record against them before it is
// written. Owned by the table data object, which calls CheckRecord on every
// insert and update and adds or drops the constraint an index implies.
//
// Not thread-safe: used under the table's lock.
#pragma once

#include <cstdint>
#include <span>

#include "engine/storage/metadata/VRXConstraintDef.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXIndexManager.h"
#include "engine/storage/metadata/VRXMetadataServices.h"

namespace vrx {

class TVRXBaseConstraintManager {
 public:
  // `table`, `fields` and `indexes` outlive the manager.
  TVRXBaseConstraintManager(TVRXMetadataTable& table, const TVRXFieldDefs& fields,
                            TVRXBaseIndexManager& indexes);
  TVRXBaseConstraintManager(const TVRXBaseConstraintManager&) = delete;
  TVRXBaseConstraintManager& operator=(const TVRXBaseConstraintManager&) = delete;
  virtual ~TVRXBaseConstraintManager() = default;

  // The stored constraint list ("Unknown Constraint Type: '%d'" (30316)
  // for a type the engine does not know); a failed load keeps the list.
  void LoadFromStream(TVRXStream& stream);
  void SaveToStream(TVRXStream& stream) const;

  // Setting the constraints on a table: only primary key, unique, not null
  // and check are allowed ("Not implemented yet", 30040 for a disk table,
  // 30058 otherwise); every definition of `constraints` gets an ID from
  // the database's counter and the table's name as its table text; the
  // list takes copies, then ResolveConstraintTargets and NameConstraints
  // run. On failure the manager keeps the constraints it held.
  void SetConstraintDefs(TVRXConstraintDefs& constraints, bool diskTable);

  // Fills in the IDs of every constraint's target and key fields, looked
  // up by name: for primary key and unique the index ("Index '%s' not
  // found", 30325 / 30326) and the key fields ("Field '%s' not found",
  // 30331 / 30332); for not null and check the field ("Field '%s' not
  // found", 30027). Any other type: "Not implemented yet" (30037).
  void ResolveConstraintTargets();
  // Names every unnamed not null or check constraint "$C_NotNull$" or
  // "$C_Check$", the table name, "$" and the field name; while that name
  // is taken, a random number below 65535 follows it. An unnamed
  // constraint of another type raises "Not implemented yet" (30038).
  void NameConstraints();

  // The constraint a primary ("C_PK") or unique ("C_Unique") index
  // implies, named after its key fields ("C_PK$A$B"), with the index as
  // target and an ID from the database's counter; nullptr for an index
  // that implies none.
  const TVRXConstraintDef* AddIndexConstraint(const TVRXIndexDef& index);
  // Removes the primary key or unique constraint bound to the index.
  void DropIndexConstraint(int32_t indexID);

  // Tests `record` against every constraint in list order. The first
  // violation raises its message when `raise` is set and otherwise makes
  // the result false; errors that are not violations (a field or index
  // missing, a type the engine does not know) always raise. Duplicates
  // are looked for only when the table holds a record: on insert the key
  // must be absent from the constraint's index; on update (`isInsert`
  // false, `oldRecord` the record as stored) a key that changed must be.
  bool CheckRecord(int32_t sessionID, std::span<const uint8_t> record, bool raise,
                   const TVRXRecordID& recordID, bool isInsert, std::span<const uint8_t> oldRecord);

  const TVRXConstraintDefs& ConstraintDefs() const { return constraints_; }

 private:
  bool IsDuplicate(int32_t sessionID, const TVRXConstraintDef& constraint,
                   std::span<const uint8_t> record, bool isInsert,
                   std::span<const uint8_t> oldRecord);
  // Position of the field with this ID, else "Field #%d not found".
  int32_t FieldByID(int32_t id, int32_t nativeError) const;

  TVRXMetadataTable& table_;
  const TVRXFieldDefs& fields_;
  TVRXBaseIndexManager& indexes_;
  TVRXConstraintDefs constraints_;
};

}  // namespace vrx
