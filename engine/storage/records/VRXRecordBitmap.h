// TVRXRecordBitmap: one bit per record position of one table, the set of
// records that pass a cursor's filter, range and distinct settings. The
// cursor owns it; the table data object keeps the bit of a record it
// inserts, updates or deletes in step.
//
// It remembers the table's change counter at the time it was filled and is
// stale when the table's counter differs. Positions come from record IDs by
// the table's records per page (VRXRecordID.h).
//
// Invariant: the set bits are never more than the bits; Reset leaves no
// bit. Not thread-safe.
#pragma once

#include <cstdint>

#include "engine/base/VRXArrays.h"
#include "engine/storage/records/VRXRecordID.h"

namespace vrx {

class TVRXRecordBitmap {
 public:
  // `recordsPerPage` of the table (at least 1).
  explicit TVRXRecordBitmap(int32_t recordsPerPage = 1);

  int32_t RecordsPerPage() const { return recordsPerPage_; }
  // Changing the layout empties the bitmap (Reset).
  void SetRecordsPerPage(int32_t recordsPerPage);

  bool Active() const { return active_; }
  // Makes the bitmap active for the table's current change counter.
  void Activate(int32_t changeCounter);
  int32_t ChangeCounter() const { return changeCounter_; }
  void SetChangeCounter(int32_t changeCounter) { changeCounter_ = changeCounter; }
  bool IsStale(int32_t tableChangeCounter) const { return changeCounter_ != tableChangeCounter; }

  // Sets or clears the bit of the record, growing the array as needed. A
  // position past the 32-bit bit index raises "Invalid record position %d"
  // (30523).
  void SetRecord(const TVRXRecordID& id, bool value);
  bool Contains(const TVRXRecordID& id) const;
  int32_t Count() const { return bits_.CountSetBits(); }
  // The record's ordinal among the set bits: set bits before its position
  // + 1.
  int64_t OrdinalOf(const TVRXRecordID& id) const;
  // The record ID of the k-th set bit (k from 1); false when fewer are set.
  bool RecordIDOfOrdinal(int64_t ordinal, TVRXRecordID& id) const;
  // The member after (before) `from` in record position order, or the
  // first (last) member when `from` is null; false when there is none.
  bool Neighbour(const TVRXRecordID* from, bool forward, TVRXRecordID& id) const;
  // Inactive and empty.
  void Reset();

  const TVRXBitsArray& Bits() const { return bits_; }

 private:
  int32_t BitOf(const TVRXRecordID& id) const;
  void CheckInvariants() const;

  TVRXBitsArray bits_;
  int32_t recordsPerPage_;
  bool active_ = false;
  int32_t changeCounter_ = 0;
};

}  // namespace vrx
