#include "engine/storage/records/VRXRecordBitmap.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"

namespace vrx {

TVRXRecordBitmap::TVRXRecordBitmap(int32_t recordsPerPage)
    : recordsPerPage_(recordsPerPage < 1 ? 1 : recordsPerPage) {}

void TVRXRecordBitmap::SetRecordsPerPage(int32_t recordsPerPage) {
  recordsPerPage_ = recordsPerPage < 1 ? 1 : recordsPerPage;
  Reset();
}

void TVRXRecordBitmap::Activate(int32_t changeCounter) {
  active_ = true;
  changeCounter_ = changeCounter;
}

int32_t TVRXRecordBitmap::BitOf(const TVRXRecordID& id) const {
  const int64_t position = RecordPosition(id, recordsPerPage_);
  if (position < 0 || position >= INT32_MAX)
    throw EVRXException("Invalid record position %d", {position}, 30523);
  return static_cast<int32_t>(position);
}

void TVRXRecordBitmap::SetRecord(const TVRXRecordID& id, bool value) {
  const int32_t bit = BitOf(id);
  if (bit >= bits_.BitCount()) {
    if (!value) return;
    // Grow by whole pages so that a run of inserts does not grow bit by bit.
    const int64_t wanted = (int64_t{bit} / recordsPerPage_ + 2) * recordsPerPage_;
    bits_.SetBitCount(static_cast<int32_t>(std::min<int64_t>(wanted, INT32_MAX)));
  }
  bits_.SetBit(bit, value);
  if constexpr (kCheckInvariants) CheckInvariants();
}

bool TVRXRecordBitmap::Contains(const TVRXRecordID& id) const {
  const int64_t position = RecordPosition(id, recordsPerPage_);
  return position >= 0 && position < bits_.BitCount() &&
         bits_.GetBit(static_cast<int32_t>(position));
}

int64_t TVRXRecordBitmap::OrdinalOf(const TVRXRecordID& id) const {
  const int64_t position = RecordPosition(id, recordsPerPage_);
  if (position <= 0 || bits_.BitCount() == 0) return 1;
  if (position >= bits_.BitCount()) return int64_t{bits_.CountSetBits()} + 1;
  const auto bit = static_cast<int32_t>(position);
  // OrdinalOfBit counts the set bits up to and including `bit`, minus one.
  const int32_t upTo = bits_.OrdinalOfBit(bit) + 1;
  return upTo - (bits_.GetBit(bit) ? 1 : 0) + 1;
}

bool TVRXRecordBitmap::RecordIDOfOrdinal(int64_t ordinal, TVRXRecordID& id) const {
  if (ordinal < 1 || ordinal > bits_.CountSetBits()) return false;
  const int32_t bit = bits_.BitOfOrdinal(static_cast<int32_t>(ordinal - 1));
  if (bit < 0) return false;
  id = RecordIDAtPosition(bit, recordsPerPage_);
  return true;
}

bool TVRXRecordBitmap::Neighbour(const TVRXRecordID* from, bool forward, TVRXRecordID& id) const {
  if (bits_.BitCount() == 0) return false;
  int32_t start = -1;
  if (from != nullptr) {
    const int64_t position = RecordPosition(*from, recordsPerPage_);
    // Positions outside the array are clipped: before it, or after it.
    start = static_cast<int32_t>(std::clamp<int64_t>(position, -1, bits_.BitCount()));
  }
  const int32_t bit = bits_.FindNearest(from == nullptr, forward, start);
  if (bit < 0) return false;
  id = RecordIDAtPosition(bit, recordsPerPage_);
  return true;
}

void TVRXRecordBitmap::Reset() {
  active_ = false;
  bits_.SetBitCount(0);
  if constexpr (kCheckInvariants) CheckInvariants();
}

void TVRXRecordBitmap::CheckInvariants() const {
  CheckInvariant(bits_.CountSetBits() >= 0 && bits_.CountSetBits() <= bits_.BitCount(),
                 "TVRXRecordBitmap", "set-bit count outside 0 .. bit count");
}

}  // namespace vrx
