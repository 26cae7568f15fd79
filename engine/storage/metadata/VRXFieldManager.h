// The field manager of one table (TVRXBaseFieldManager): the field
// definitions with their record layout, one autoincrement counter per
// field, default values and autoincrement values written into new records.
// Owned by the table data object; used by its record writes, the record
// manager (the counters travel in the most-updated file) and the cursors
// (the last value of a sequence).
//
// Not thread-safe: used under the table's lock.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXMetadataServices.h"

namespace vrx {

class TVRXBaseFieldManager {
 public:
  // `table` outlives the manager.
  explicit TVRXBaseFieldManager(TVRXMetadataTable& table) : table_(table) {}
  TVRXBaseFieldManager(const TVRXBaseFieldManager&) = delete;
  TVRXBaseFieldManager& operator=(const TVRXBaseFieldManager&) = delete;
  virtual ~TVRXBaseFieldManager() = default;

  // Counter of field `fieldNo` += its increment (1 when the increment is
  // 0) and returned. A field number outside the list raises "Field #%d not
  // found" (30402), outside the counters the same text (30403). Passing
  // the field's maximum (when not 0), or the largest value its storage
  // type holds, raises "Autoinc max value exceeded for field '%s'" (20160)
  // unless the field cycles, when the counter restarts at the minimum.
  virtual int64_t GetNextAutoincValue(int32_t fieldNo);
  // Writes each non-NULL default value, converted to its field's storage
  // type and size, into `memoryRecord` and clears the field's null bit.
  virtual void ApplyDefaults(std::span<uint8_t> memoryRecord);
  // On insert, for every AUTOINC field: a NULL gets NextAutoincForSession
  // (its low bytes stored, the null bit cleared); a given value greater
  // than the counter becomes the counter and the session's last value.
  virtual void ApplyAutoincValues(TVRXSequenceSession& session, std::span<uint8_t> memoryRecord);
  // GetNextAutoincValue, remembered in the session under the field's ID.
  virtual int64_t NextAutoincForSession(TVRXSequenceSession& session, int32_t fieldNo);
  // The value the session remembers for the field's sequence, else "No
  // SequenceLastValue in session for sequence '%s'. Call GetNextVal
  // first" (30012) with the field name.
  virtual int64_t GetSequenceLastValue(const TVRXSequenceSession& session, int32_t fieldNo);

  // The field list, then the layout and the counters (ResetCounters).
  // When loading fails the manager keeps what it held.
  void LoadFromStream(TVRXStream& stream);
  void SaveToStream(TVRXStream& stream) const;
  // Setting the fields on a table: every definition of `fields` gets an ID
  // from the database's counter, the list takes copies, the layout is
  // computed and the counters reset.
  void SetFieldDefs(TVRXFieldDefs& fields);

  // Every counter := the field's initial value for the AUTOINC declared
  // types, 0 for the others.
  void ResetCounters();
  // int32 n, then n int64 counters: the front of the most-updated file.
  void WriteCounters(TVRXStream& stream) const;
  // Reads what WriteCounters wrote; the counters take the count stored.
  void ReadCounters(TVRXStream& stream);
  const std::vector<int64_t>& Counters() const { return counters_; }

  // True when the table has a BLOB field; raises "BLOB block size should
  // be > 0 for field %s" (10421) when the first BLOB field has block size 0.
  bool CheckBlobSettings() const;

  const TVRXFieldDefs& FieldDefs() const { return fields_; }
  TVRXMetadataTable& Table() const { return table_; }

 private:
  const TVRXFieldDef& CheckedField(int32_t fieldNo, int32_t nativeError) const;

  TVRXMetadataTable& table_;
  TVRXFieldDefs fields_;
  std::vector<int64_t> counters_;
};

}  // namespace vrx
