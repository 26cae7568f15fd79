// Record pages (page type 10, "TableRecord Page") and TVRXSmallRecordPage,
// the view the record manager takes of one of them.
//
// Page header offset 22 holds the table ID of the owning table. The data
// area holds a slot bitmap of ceil(N / 8) bytes (bit set = the slot holds a
// record), then N slots of R bytes each: N records per page of R bytes.
//
// The view neither owns nor puts back the page; every change marks it
// dirty. Not thread-safe: used under the table's lock.
#pragma once

#include <cstdint>
#include <span>

#include "engine/storage/pages/VRXPage.h"

namespace vrx {

inline constexpr int32_t kRecordPageTableIDOffset = page_header::kReserved22;

// N = trunc((D - 1) / (R + 0.125)), computed in integers: the largest N with
// ceil(N / 8) + N x R <= D. 0 when even one record does not fit (or R < 1).
int32_t RecordsPerPage(int32_t dataSize, int32_t recordSize);

inline int32_t RecordPageTableID(const TVRXPage& page) {
  return bytes::LoadI32(page.Header() + kRecordPageTableIDOffset);
}
inline void SetRecordPageTableID(TVRXPage& page, int32_t tableID) {
  bytes::StoreI32(page.Header() + kRecordPageTableIDOffset, tableID);
}

class TVRXSmallRecordPage {
 public:
  // "Invalid number of records on page" (20140) unless the bitmap and N
  // slots of R bytes fit the page's data area.
  TVRXSmallRecordPage(TVRXPage& page, int32_t recordsPerPage, int32_t recordSize);

  int32_t RecordsPerPage() const { return recordsPerPage_; }
  bool SlotUsed(int32_t slot) const;
  // -1 when the page is full.
  int32_t FirstFreeSlot() const;
  int32_t UsedSlotCount() const;

  // Writes `record` (R bytes) into the first free slot and returns it;
  // "Cannot add record to page. Page is full" (20141).
  int32_t AddRecord(std::span<const uint8_t> record);
  // Each answers false for a slot that holds no record (or lies outside
  // the page) and changes nothing then.
  bool WriteRecord(int32_t slot, std::span<const uint8_t> record);
  bool ClearRecord(int32_t slot);
  bool ReadRecord(int32_t slot, std::span<uint8_t> record) const;

  // "Record not found" (20143 / 20144) on a page without records.
  int32_t FirstUsedSlot() const;
  int32_t LastUsedSlot() const;
  // The next used slot after `slot` / the prior one before it; -1 if none.
  int32_t NextUsedSlot(int32_t slot) const;
  int32_t PriorUsedSlot(int32_t slot) const;
  // The k-th used slot, 0-based; "Record not found" (20146).
  int32_t UsedSlotAt(int32_t ordinal) const;
  // Used slots before `slot`.
  int32_t UsedSlotsBefore(int32_t slot) const;

 private:
  uint8_t* Slot(int32_t slot) const;
  void SetSlotBit(int32_t slot, bool used);

  TVRXPage& page_;
  int32_t recordsPerPage_;
  int32_t recordSize_;
  int32_t bitmapSize_;
};

}  // namespace vrx
