// Record IDs: the address of a stored record, {int32 page number, uint16
// slot}, 6 bytes wherever stored (page number first, little-endian). The
// struct itself is TVRXRecordID of the metadata services, so the index and
// constraint managers and the record storage speak of the same thing.
//
// Used by the record manager, the record bitmap, the indexes (their values)
// and the cursors (the bookmark behind a record buffer).
#pragma once

#include <cstdint>

#include "engine/storage/metadata/VRXMetadataServices.h"

namespace vrx {

// -1, 0 or 1: ordered by page number, then slot.
int CompareRecordIDs(const TVRXRecordID& a, const TVRXRecordID& b);
inline bool SameRecordID(const TVRXRecordID& a, const TVRXRecordID& b) {
  return a.PageNo == b.PageNo && a.Slot == b.Slot;
}

// The 6 stored bytes at `bytes`.
TVRXRecordID LoadRecordID(const void* bytes);
void StoreRecordID(void* bytes, const TVRXRecordID& id);

// A record's physical position: page number x records per page + slot.
// `recordsPerPage` is at least 1; a page number below 0 has no position
// (-1).
int64_t RecordPosition(const TVRXRecordID& id, int32_t recordsPerPage);
// The inverse: the position split by records per page. A position outside
// what a page number can address raises "Invalid record position %d"
// (30520).
TVRXRecordID RecordIDAtPosition(int64_t position, int32_t recordsPerPage);

}  // namespace vrx
