// Record IDs: the address of a stored record, {int32 page number, uint16
// slot}, 6 bytes wherever stored (page number first, little-endian). The
// struct is TVRXRecordID of the metadata services and its order and stored
// form are the B-tree module's (CompareRecordIDs, LoadRecordID,
// StoreRecordID in VRXBTreeKey.h), so indexes and record storage speak of
// the same thing. Here: the physical position of a record.
//
// Used by the record manager, the record bitmap, the indexes (their values)
// and the cursors (the bookmark behind a record buffer).
#pragma once

#include <cstdint>

#include "engine/storage/btree/VRXBTreeKey.h"
#include "engine/storage/metadata/VRXMetadataServices.h"

namespace vrx {

inline bool SameRecordID(const TVRXRecordID& a, const TVRXRecordID& b) {
  return a.PageNo == b.PageNo && a.Slot == b.Slot;
}

// A record's physical position: page number x records per page + slot.
// `recordsPerPage` is at least 1; a page number below 0 has no position
// (-1).
int64_t RecordPosition(const TVRXRecordID& id, int32_t recordsPerPage);
// The inverse: the position split by records per page. A position outside
// what a page number can address raises "Invalid record position %d"
// (30520).
TVRXRecordID RecordIDAtPosition(int64_t position, int32_t recordsPerPage);

}  // namespace vrx
