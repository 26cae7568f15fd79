#include "engine/storage/records/VRXRecordID.h"

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"

namespace vrx {

int CompareRecordIDs(const TVRXRecordID& a, const TVRXRecordID& b) {
  if (a.PageNo != b.PageNo) return a.PageNo < b.PageNo ? -1 : 1;
  if (a.Slot != b.Slot) return a.Slot < b.Slot ? -1 : 1;
  return 0;
}

TVRXRecordID LoadRecordID(const void* bytes) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  return {bytes::LoadI32(b), bytes::LoadU16(b + 4)};
}

void StoreRecordID(void* bytes, const TVRXRecordID& id) {
  auto* b = static_cast<uint8_t*>(bytes);
  bytes::StoreI32(b, id.PageNo);
  bytes::StoreU16(b + 4, id.Slot);
}

int64_t RecordPosition(const TVRXRecordID& id, int32_t recordsPerPage) {
  if (id.PageNo < 0) return -1;
  return int64_t{id.PageNo} * recordsPerPage + id.Slot;
}

TVRXRecordID RecordIDAtPosition(int64_t position, int32_t recordsPerPage) {
  const int64_t page = recordsPerPage > 0 ? position / recordsPerPage : -1;
  if (position < 0 || recordsPerPage <= 0 || page > INT32_MAX)
    throw EVRXException("Invalid record position %d", {position}, 30520);
  return {static_cast<int32_t>(page), static_cast<uint16_t>(position % recordsPerPage)};
}

}  // namespace vrx
