#include "engine/storage/records/VRXRecordPage.h"

#include <bit>
#include <cstring>

#include "engine/base/VRXExcept.h"

namespace vrx {

int32_t RecordsPerPage(int32_t dataSize, int32_t recordSize) {
  if (recordSize < 1 || dataSize < 1) return 0;
  // (D - 1) / (R + 1/8) = 8 (D - 1) / (8 R + 1).
  const int64_t n = (int64_t{dataSize} - 1) * 8 / (int64_t{recordSize} * 8 + 1);
  return static_cast<int32_t>(std::min<int64_t>(n, UINT16_MAX));
}

TVRXSmallRecordPage::TVRXSmallRecordPage(TVRXPage& page, int32_t recordsPerPage,
                                         int32_t recordSize)
    : page_(page),
      recordsPerPage_(recordsPerPage),
      recordSize_(recordSize),
      bitmapSize_((recordsPerPage + 7) / 8) {
  if (recordsPerPage < 1 || recordSize < 1 ||
      bitmapSize_ + int64_t{recordsPerPage} * recordSize > page.DataSize())
    throw EVRXException("Invalid number of records on page", 20140);
}

bool TVRXSmallRecordPage::SlotUsed(int32_t slot) const {
  if (slot < 0 || slot >= recordsPerPage_) return false;
  return (page_.Data()[slot / 8] & (1u << (slot % 8))) != 0;
}

void TVRXSmallRecordPage::SetSlotBit(int32_t slot, bool used) {
  uint8_t& byte = page_.Data()[slot / 8];
  const auto bit = static_cast<uint8_t>(1u << (slot % 8));
  byte = static_cast<uint8_t>(used ? (byte | bit) : (byte & ~bit));
  page_.SetDirty(true);
}

uint8_t* TVRXSmallRecordPage::Slot(int32_t slot) const {
  return page_.Data() + bitmapSize_ + int64_t{slot} * recordSize_;
}

int32_t TVRXSmallRecordPage::FirstFreeSlot() const {
  for (int32_t s = 0; s < recordsPerPage_; ++s)
    if (!SlotUsed(s)) return s;
  return -1;
}

int32_t TVRXSmallRecordPage::UsedSlotCount() const {
  int32_t count = 0;
  for (int32_t b = 0; b < bitmapSize_; ++b) count += std::popcount(page_.Data()[b]);
  // Bits past N in the last byte are never set by this code; a damaged page
  // may have them, and they hold no slot.
  for (int32_t s = recordsPerPage_; s < bitmapSize_ * 8; ++s)
    if ((page_.Data()[s / 8] & (1u << (s % 8))) != 0) --count;
  return count;
}

int32_t TVRXSmallRecordPage::AddRecord(std::span<const uint8_t> record) {
  const int32_t slot = FirstFreeSlot();
  if (slot < 0) throw EVRXException("Cannot add record to page. Page is full", 20141);
  std::memcpy(Slot(slot), record.data(), static_cast<size_t>(recordSize_));
  SetSlotBit(slot, true);
  return slot;
}

bool TVRXSmallRecordPage::WriteRecord(int32_t slot, std::span<const uint8_t> record) {
  if (!SlotUsed(slot)) return false;
  std::memcpy(Slot(slot), record.data(), static_cast<size_t>(recordSize_));
  page_.SetDirty(true);
  return true;
}

bool TVRXSmallRecordPage::ClearRecord(int32_t slot) {
  if (!SlotUsed(slot)) return false;
  SetSlotBit(slot, false);
  return true;
}

bool TVRXSmallRecordPage::ReadRecord(int32_t slot, std::span<uint8_t> record) const {
  if (!SlotUsed(slot)) return false;
  std::memcpy(record.data(), Slot(slot), static_cast<size_t>(recordSize_));
  return true;
}

int32_t TVRXSmallRecordPage::FirstUsedSlot() const {
  const int32_t slot = NextUsedSlot(-1);
  if (slot < 0) throw EVRXException("Record not found", 20143);
  return slot;
}

int32_t TVRXSmallRecordPage::LastUsedSlot() const {
  const int32_t slot = PriorUsedSlot(recordsPerPage_);
  if (slot < 0) throw EVRXException("Record not found", 20144);
  return slot;
}

int32_t TVRXSmallRecordPage::NextUsedSlot(int32_t slot) const {
  for (int32_t s = std::max(slot + 1, 0); s < recordsPerPage_; ++s)
    if (SlotUsed(s)) return s;
  return -1;
}

int32_t TVRXSmallRecordPage::PriorUsedSlot(int32_t slot) const {
  for (int32_t s = std::min(slot, recordsPerPage_) - 1; s >= 0; --s)
    if (SlotUsed(s)) return s;
  return -1;
}

int32_t TVRXSmallRecordPage::UsedSlotAt(int32_t ordinal) const {
  int32_t seen = 0;
  for (int32_t s = 0; s < recordsPerPage_ && ordinal >= 0; ++s)
    if (SlotUsed(s) && seen++ == ordinal) return s;
  throw EVRXException("Record not found", 20146);
}

int32_t TVRXSmallRecordPage::UsedSlotsBefore(int32_t slot) const {
  int32_t count = 0;
  for (int32_t s = 0; s < std::min(slot, recordsPerPage_); ++s)
    if (SlotUsed(s)) ++count;
  return count;
}

}  // namespace vrx
