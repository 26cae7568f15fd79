#include "engine/storage/records/VRXRecordID.h"

#include "engine/base/VRXExcept.h"

namespace vrx {

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
