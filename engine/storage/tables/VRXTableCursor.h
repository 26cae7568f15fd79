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
#include <utility>
#include <vector>

#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/metadata/VRXMetadataServices.h"
#include "engine/storage/records/VRXRecordBitmap.h"
#include "engine/storage/records/VRXRecordID.h"
#include "engine/storage/tables/VRXScanConditions.h"

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
  // The cursor's filter and extra filter as navigation tests them; null
  // when not set.
  virtual TVRXScanExpression* FilterExpression() = 0;
  virtual TVRXScanExpression* ExtraFilterExpression() = 0;
  // The caller's record filter: whether one is set, and its answer.
  virtual bool HasFilterCallback() const = 0;
  virtual bool FilterCallbackAccepts(std::span<const uint8_t> record) = 0;

  bool HasIndex() const { return indexID != -1; }
  bool HasDistinct() const { return distinctFieldCount > 0; }
  bool HasRange() const { return !rangeStartKey.empty() || !rangeEndKey.empty(); }
  // A filter, an extra filter or a record filter is set.
  virtual bool HasFilter() const = 0;
  bool IsRestricted() const { return HasDistinct() || HasFilter() || HasRange(); }

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
  // The bitmap's members in the order of the cursor's index: built when a
  // restricted cursor with an index asks for record numbers, valid while
  // bitmapOrderValid (a rebuilt bitmap or a write clears it).
  std::vector<TVRXRecordID> bitmapOrder;
  // (record position, place in bitmapOrder), sorted by position.
  std::vector<std::pair<int64_t, int64_t>> bitmapOrderByPosition;
  bool bitmapOrderValid = false;

  // --- what navigation follows ---------------------------------------------------------
  // The current index (-1: storage order) and the last position on it.
  int32_t indexID = -1;
  TVRXIndexPositionCache positionCache;
  // Key search: a memory record holding the key values, and how many
  // leading fields of the current index they fix.
  std::vector<uint8_t> keyBuffer;
  int32_t keyFieldCount = 0;
  // The range over the current index: memory records holding the bound
  // values (empty = open), over how many leading key fields.
  std::vector<uint8_t> rangeStartKey;
  std::vector<uint8_t> rangeEndKey;
  bool rangeStartExclusive = false;
  bool rangeEndExclusive = false;
  int32_t rangeStartFieldCount = 0;
  int32_t rangeEndFieldCount = 0;
  // Leading index fields whose equal values navigation skips (0 = off).
  int32_t distinctFieldCount = 0;
};

}  // namespace vrx
