#include "engine/storage/records/VRXRecordManager.h"

#include <algorithm>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"
#include "engine/base/VRXStream.h"
#include "engine/storage/catalog/VRXInternalFiles.h"
#include "engine/storage/records/VRXRecord.h"
#include "engine/storage/records/VRXRecordPage.h"

namespace vrx {

namespace {

// Modification counters above this mark pages whose read failed or that
// were freed.
constexpr int32_t kHighestValidModCounter = 0x7FFFFFFD;

// The change counter is only ever compared for equality: it goes round
// past the largest int32 instead of overflowing.
int32_t NextChange(int32_t counter) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
}

}  // namespace

TVRXDiskRecordManager::TVRXDiskRecordManager(TVRXPageManager& pageManager,
                                             const TVRXFieldDefs& fields,
                                             TVRXBTreeRecordPageIndex& pageIndex, int32_t tableID,
                                             bool checkPageValidity)
    : pageManager_(pageManager),
      fields_(fields),
      pageIndex_(pageIndex),
      tableID_(tableID),
      checkPageValidity_(checkPageValidity) {}

void TVRXDiskRecordManager::SetRecordLayout(int32_t memoryRecordSize, int32_t diskRecordSize,
                                            int32_t fieldCount) {
  const int32_t perPage = vrx::RecordsPerPage(pageManager_.DataSize(), diskRecordSize);
  if (perPage == 0)
    throw EVRXException(
        "Cannot create table. Record is too large to fit in current database page. Please "
        "increase page size of database file or decrease record size",
        20174);
  memoryRecordSize_ = memoryRecordSize;
  diskRecordSize_ = diskRecordSize;
  fieldCount_ = fieldCount;
  recordsPerPage_ = perPage;
  pageIndex_.SetRecordsPerPage(perPage);
  scratch_.assign(static_cast<size_t>(diskRecordSize), 0);
  recordCount_ = 0;
  changeCounter_ = 0;
}

int TVRXDiskRecordManager::CompareRecordIDs(const TVRXRecordID& a, const TVRXRecordID& b) {
  return vrx::CompareRecordIDs(a, b);
}

int64_t TVRXDiskRecordManager::GetApproximateRecordNo(int32_t, const TVRXRecordID&) {
  return recordCount_ / 2;
}

// --- changes ------------------------------------------------------------------------

bool TVRXDiskRecordManager::InsertRecord(int32_t sessionID, std::span<const uint8_t> memoryRecord,
                                         TVRXRecordID& recordID) {
  try {
    MemoryToDisk(fields_, memoryRecord, scratch_);
    int32_t pageNo = pageIndex_.FindPageWithRoom(sessionID, 1);
    const bool newPage = pageNo < 0;
    TVRXPageGuard page(pageManager_, newPage
                                         ? pageManager_.AddPage(sessionID, ptTableRecord)
                                         : pageManager_.GetPage(sessionID, pageNo, ptTableRecord));
    if (newPage) {
      SetRecordPageTableID(*page.Get(), tableID_);
      pageNo = page->PageNo();
    } else if (!OwnPage(*page.Get())) {
      // A damaged index must not lead the record into another table.
      throw EVRXException("Invalid page number", 30554);
    }
    TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
    const int32_t slot = view.AddRecord(scratch_);
    // When the index cannot take the page, the slot is cleared again (and
    // a new page given back) so that no record exists that nothing lists.
    try {
      pageIndex_.AddAmount(sessionID, pageNo, 1);
    } catch (...) {
      view.ClearRecord(slot);
      page.Release();
      if (newPage) pageManager_.RemovePage(sessionID, pageNo);
      throw;
    }
    recordID = {pageNo, static_cast<uint16_t>(slot)};
    ++recordCount_;
    changeCounter_ = NextChange(changeCounter_);
  } catch (const std::exception&) {
    return false;
  }
  if constexpr (kCheckInvariants) CheckInvariants();
  return true;
}

bool TVRXDiskRecordManager::UpdateRecord(int32_t sessionID, std::span<const uint8_t> memoryRecord,
                                         const TVRXRecordID& recordID) {
  MemoryToDisk(fields_, memoryRecord, scratch_);
  TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, recordID.PageNo, ptTableRecord));
  if (!OwnPage(*page.Get())) return false;
  TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
  if (!view.WriteRecord(recordID.Slot, scratch_)) return false;
  changeCounter_ = NextChange(changeCounter_);
  if constexpr (kCheckInvariants) CheckInvariants();
  return true;
}

bool TVRXDiskRecordManager::DeleteRecord(int32_t sessionID, const TVRXRecordID& recordID) {
  TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, recordID.PageNo, ptTableRecord));
  if (!OwnPage(*page.Get())) return false;
  TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
  if (!view.SlotUsed(recordID.Slot)) return false;
  // A stored record count below the records present (damaged counters)
  // must not go negative.
  if (recordCount_ <= 0) throw EVRXException("Invalid table header data", 30555);
  view.ClearRecord(recordID.Slot);
  const bool empty = view.UsedSlotCount() == 0;
  page.Release();
  pageIndex_.SubtractAmount(sessionID, recordID.PageNo, 1);
  if (empty) pageManager_.RemovePage(sessionID, recordID.PageNo);
  --recordCount_;
  changeCounter_ = NextChange(changeCounter_);
  if constexpr (kCheckInvariants) CheckInvariants();
  return true;
}

std::vector<int32_t> TVRXDiskRecordManager::ListedPages(int32_t sessionID) {
  std::vector<int32_t> pages;
  bool ascending = true;
  pageIndex_.ForEachPage(sessionID, [&](int32_t pageNo, int32_t) {
    ascending = pages.empty() || pageNo > pages.back();
    if (ascending) pages.push_back(pageNo);
    return ascending;
  });
  if (!ascending) throw EVRXException("Invalid page number", 30553);
  return pages;
}

void TVRXDiskRecordManager::EmptyRecords(int32_t sessionID) {
  const std::vector<int32_t> pages = ListedPages(sessionID);
  pageIndex_.EmptyIndex(sessionID);
  for (int32_t pageNo : pages) pageManager_.RemovePage(sessionID, pageNo);
  recordCount_ = 0;
  changeCounter_ = 0;
  if constexpr (kCheckInvariants) {
    CheckInvariants();
    CheckInvariant(pageIndex_.FirstPage(sessionID) == -1, "TVRXDiskRecordManager",
                   "record page index not empty after emptying");
  }
}

void TVRXDiskRecordManager::SetCounters(int64_t recordCount, int32_t changeCounter) {
  recordCount_ = recordCount;
  changeCounter_ = changeCounter;
}

// --- navigation ------------------------------------------------------------------------

bool TVRXDiskRecordManager::OwnPage(const TVRXPage& page) const {
  if (page.PageType() != ptTableRecord) return false;
  return !checkPageValidity_ || (page.ModCounter() >= 0 &&
                                 page.ModCounter() <= kHighestValidModCounter &&
                                 RecordPageTableID(page) == tableID_);
}

TVRXPage* TVRXDiskRecordManager::GetValidPage(int32_t sessionID, int32_t pageNo) {
  if (pageNo < 0 || pageNo >= pageManager_.GetTotalPageCount()) return nullptr;
  TVRXPage* page = pageManager_.GetPage(sessionID, pageNo, kAnyPageType);
  if (OwnPage(*page)) return page;
  pageManager_.PutPage(page);
  return nullptr;
}

void TVRXDiskRecordManager::Deliver(TVRXPage& page, int32_t slot, TVRXReadRequest& request,
                                    int32_t nativeError) {
  if (!request.record.empty()) {
    TVRXSmallRecordPage view(page, recordsPerPage_, diskRecordSize_);
    if (!view.ReadRecord(slot, scratch_)) throw EVRXException("Record not found", nativeError);
    DiskToMemory(fields_, scratch_, request.record);
  }
  request.recordID = {page.PageNo(), static_cast<uint16_t>(slot)};
  request.beforeFirst = false;
  request.afterLast = false;
  request.result = TVRXReadRequest::kFound;
}

void TVRXDiskRecordManager::ReadRecord(int32_t sessionID, TVRXReadRequest& request) {
  if (recordCount_ == 0) {
    request.result = TVRXReadRequest::kNoneAfter;
    return;
  }
  // The page at the edge of the table in the direction asked for, and the
  // slot there.
  const auto edge = [&](bool first, int32_t nativeError) {
    const int32_t pageNo = first ? pageIndex_.FirstPage(sessionID) : pageIndex_.LastPage(sessionID);
    TVRXPageGuard page(pageManager_, GetValidPage(sessionID, pageNo));
    if (page.Get() == nullptr) {
      request.result = TVRXReadRequest::kNotFound;
      return;
    }
    TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
    const int32_t slot = first ? view.NextUsedSlot(-1) : view.PriorUsedSlot(recordsPerPage_);
    if (slot < 0) {
      request.result = TVRXReadRequest::kNotFound;
      return;
    }
    Deliver(*page.Get(), slot, request, nativeError);
  };
  if (request.beforeFirst) {
    if (request.mode == TVRXReadRequest::kNext)
      edge(true, 20145);
    else
      request.result = request.mode == TVRXReadRequest::kPrior ? TVRXReadRequest::kNoneBefore
                                                                : TVRXReadRequest::kNotFound;
    return;
  }
  if (request.afterLast) {
    if (request.mode == TVRXReadRequest::kPrior)
      edge(false, 20146);
    else
      request.result = request.mode == TVRXReadRequest::kNext ? TVRXReadRequest::kNoneAfter
                                                               : TVRXReadRequest::kNotFound;
    return;
  }
  const TVRXRecordID at = request.recordID;
  if (request.mode == TVRXReadRequest::kCurrent) {
    request.result = TVRXReadRequest::kNotFound;
    TVRXPageGuard page(pageManager_, GetValidPage(sessionID, at.PageNo));
    if (page.Get() == nullptr) return;
    TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
    if (view.SlotUsed(at.Slot)) Deliver(*page.Get(), at.Slot, request, 20147);
    return;
  }
  const bool forward = request.mode == TVRXReadRequest::kNext;
  request.result = forward ? TVRXReadRequest::kNoneAfter : TVRXReadRequest::kNoneBefore;
  {
    TVRXPageGuard page(pageManager_, GetValidPage(sessionID, at.PageNo));
    if (page.Get() != nullptr) {
      TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
      const int32_t slot = forward ? view.NextUsedSlot(at.Slot) : view.PriorUsedSlot(at.Slot);
      if (slot >= 0) {
        Deliver(*page.Get(), slot, request, 20148);
        return;
      }
    }
  }
  // On to the neighbouring pages the index lists; a page that holds no
  // valid record is stepped over.
  int32_t pageNo = at.PageNo;
  for (;;) {
    // A page the index does not list raises "Invalid page number" (20104,
    // 20105).
    const int32_t neighbour =
        forward ? pageIndex_.NextPage(sessionID, pageNo) : pageIndex_.PriorPage(sessionID, pageNo);
    if (neighbour < 0) return;
    // The index lists its pages in ascending order; a step that does not
    // move on in the direction asked for comes from a damaged index and
    // could go round for ever.
    if (forward ? neighbour <= pageNo : neighbour >= pageNo)
      throw EVRXException("Invalid page number", forward ? 20104 : 20105);
    TVRXPageGuard page(pageManager_, GetValidPage(sessionID, neighbour));
    if (page.Get() == nullptr) {
      request.result = TVRXReadRequest::kNotFound;
      return;
    }
    TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
    const int32_t slot = forward ? view.NextUsedSlot(-1) : view.PriorUsedSlot(recordsPerPage_);
    if (slot >= 0) {
      Deliver(*page.Get(), slot, request, 20148);
      return;
    }
    pageNo = neighbour;
  }
}

bool TVRXDiskRecordManager::FetchRecord(int32_t sessionID, const TVRXRecordID& recordID,
                                        std::span<uint8_t> memoryRecord) {
  TVRXReadRequest request;
  request.mode = TVRXReadRequest::kCurrent;
  request.recordID = recordID;
  request.record = memoryRecord;
  if (recordCount_ == 0) return false;
  ReadRecord(sessionID, request);
  return request.result == TVRXReadRequest::kFound;
}

// --- record numbers ------------------------------------------------------------------------

TVRXRecordID TVRXDiskRecordManager::GetRecordIDByNumber(int32_t sessionID, int64_t recNo) {
  int64_t before = 0;
  int32_t found = -1;
  if (recNo < 1 || !pageIndex_.PageOfOrdinal(sessionID, recNo - 1, found, before) || found < 0)
    throw EVRXException("Cannot set RecNo greater than RecordCount", 20113);
  TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, found, ptTableRecord));
  TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
  return {found, static_cast<uint16_t>(view.UsedSlotAt(static_cast<int32_t>(recNo - 1 - before)))};
}

int64_t TVRXDiskRecordManager::GetRecordNumber(int32_t sessionID, const TVRXRecordID& recordID) {
  int64_t before = 0;
  if (!pageIndex_.AmountBefore(sessionID, recordID.PageNo, before)) throw EVRXException("Invalid page number", 20114);
  TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, recordID.PageNo, ptTableRecord));
  TVRXSmallRecordPage view(*page.Get(), recordsPerPage_, diskRecordSize_);
  return before + view.UsedSlotsBefore(recordID.Slot) + 1;
}

int64_t TVRXDiskRecordManager::GetPositionLimit(int32_t sessionID) {
  const int32_t last = pageIndex_.LastPage(sessionID);
  return (int64_t{last} + 1) * recordsPerPage_;
}

// --- counters --------------------------------------------------------------------------------

void TVRXDiskRecordManager::WriteCounters(int32_t sessionID, const TVRXBaseFieldManager& fields,
                                          TVRXInternalDBTransactedAccessFile& file) {
  TVRXMemoryStream stream;
  fields.WriteCounters(stream);
  uint8_t tail[8];
  bytes::StoreI32(tail, changeCounter_);
  bytes::StoreI32(tail + 4, static_cast<int32_t>(recordCount_));
  WriteChecked(tail, 8, stream, 20164);
  const int64_t size = stream.GetSize();
  const int64_t limit = (int64_t{fieldCount_} * 8 + 8) * 4;
  if (size > limit) throw EVRXException("Invalid table header data", 20164);
  file.WriteFile(sessionID, stream.Memory(), 0, 0, static_cast<int32_t>(size));
}

void TVRXDiskRecordManager::ReadCounters(int32_t sessionID, TVRXBaseFieldManager& fields,
                                         TVRXInternalDBTransactedAccessFile& file) {
  const std::vector<uint8_t> content = file.ReadAll(sessionID);
  const auto bad = [] { return EVRXException("Invalid table header data", 30524); };
  if (content.size() < 4) throw bad();
  const int32_t n = bytes::LoadI32(content.data());
  if (n != fields.FieldDefs().Count() || content.size() != 4 + size_t(n) * 8 + 8) throw bad();
  const int32_t changeCounter = bytes::LoadI32(content.data() + 4 + size_t(n) * 8);
  const int32_t recordCount = bytes::LoadI32(content.data() + 8 + size_t(n) * 8);
  if (recordCount < 0) throw bad();
  TVRXMemoryStream stream;
  WriteChecked(content.data(), static_cast<int32_t>(content.size()), stream, 30524);
  stream.Seek(int64_t{0}, 0);
  fields.ReadCounters(stream);
  // Only the low 32 bits of the record count are stored.
  recordCount_ = static_cast<uint32_t>(recordCount);
  changeCounter_ = changeCounter;
}

void TVRXDiskRecordManager::CheckInvariants() const {
  CheckInvariant(recordCount_ >= 0, "TVRXDiskRecordManager", "record count is negative");
  CheckInvariant(scratch_.size() == static_cast<size_t>(diskRecordSize_), "TVRXDiskRecordManager",
                 "scratch record does not have the disk record size");
}

}  // namespace vrx
