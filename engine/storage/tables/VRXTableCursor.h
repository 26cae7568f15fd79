// TVRXTableCursor: what a table data object reads and sets of the cursor on
// whose behalf it works. The cursor layer (engine/query/cursor) derives its
// cursors from it; the storage engine sees cursors only through it, so the
// storage layer never includes the query layer.
//
// The state fields are the cursor's own (the cursor owns its record buffer
// and record bitmap); a table data object changes them only as its
// operations describe. Not thread-safe: used under the table's lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/storage/metadata/VRXMetadataServices.h"
#include "engine/storage/records/VRXRecordBitmap.h"
#include "engine/storage/records/VRXRecordID.h"

namespace vrx {

class TVRXTableCursor {
 public:
  virtual ~TVRXTableCursor() = default;

  // The session: its ID and whether it has an explicit transaction open.
  virtual int32_t CursorSessionID() const = 0;
  virtual bool SessionInTransaction() const = 0;
  // Where the session keeps the last values of its sequences.
  virtual TVRXSequenceSession& SequenceSession() = 0;
  // The record data of the record buffer (the memory record), empty when
  // the cursor has no buffer.
  virtual std::span<uint8_t> CurrentRecordData() = 0;
  // True when the record passes the cursor's filter (kept in its record
  // bitmap).
  virtual bool RecordPassesFilter(std::span<const uint8_t> record) = 0;
  // One step of the cursor's own navigation from `id` (mode 1 next, 2
  // prior) without moving the cursor; the navigation result (0 found).
  virtual int32_t NeighbourOf(const TVRXRecordID& id, int32_t mode, TVRXRecordID& found) = 0;

  std::string tableName;
  // Asks for exclusive access when opening.
  bool exclusive = false;
  // Set while the cursor holds its table's open lock (shared or
  // exclusive).
  bool holdsTableLock = false;
  bool disableTempFiles = false;
  // Set while the cursor creates the table: indexes then imply no
  // constraints (the definitions given carry them).
  bool creatingTable = false;
  TVRXRecordID currentRecordID;
  bool atBOF = true;
  bool atEOF = false;
  // The cursor's record bitmap; null when it keeps none.
  TVRXRecordBitmap* recordBitmap = nullptr;
};

}  // namespace vrx
