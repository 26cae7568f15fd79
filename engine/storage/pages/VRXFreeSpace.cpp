#include "engine/storage/pages/VRXFreeSpace.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"
#include "engine/storage/pages/VRXPage.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {

namespace {

constexpr int64_t kMaxPageNo = std::numeric_limits<int32_t>::max();

// Lowest clear bit of a byte that is not 0xFF.
int LowestClearBit(uint8_t byte) {
  for (int bit = 0; bit < 8; ++bit)
    if ((byte & (1u << bit)) == 0) return bit;
  return -1;
}

[[noreturn]] void ThrowUnaddressable(int64_t pageNo, int32_t total, int32_t nativeError) {
  throw EVRXException("Page: %d cannot be addressed. TotalPageCount=%d", {pageNo, total},
                      nativeError);
}

}  // namespace

// One operation on the map: holds the store's lock, and on every way out
// that is not Finish() forgets what the operation changed.
class TVRXDatabaseFreeSpaceManager::Operation {
 public:
  Operation(TVRXDatabaseFreeSpaceManager& map, int32_t nativeError) : map_(map) {
    map_.store_.LockMap(nativeError);
  }
  ~Operation() {
    if (!finished_) map_.DropOperation();
    map_.store_.UnlockMap();
    if (kCheckInvariants) map_.CheckInvariants();
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  void Finish() {
    map_.WriteOperation();
    finished_ = true;
  }

 private:
  TVRXDatabaseFreeSpaceManager& map_;
  bool finished_ = false;
};

TVRXDatabaseFreeSpaceManager::TVRXDatabaseFreeSpaceManager(TVRXFreeSpaceStore& store)
    : store_(store),
      extentSize_(store.ExtentSize()),
      dataSize_(store.PageSize() - store.PageHeaderSize()),
      pagesPerPfs_(8 * static_cast<int64_t>(dataSize_)),
      extentsPerEam_(4 * static_cast<int64_t>(dataSize_)),
      pagesPerEam_(4 * static_cast<int64_t>(dataSize_) * extentSize_),
      random_(std::random_device{}()) {
  const TVRXMapCounts counts = store.CachedCounts();
  loadedLastUsed_ = lastUsedPage_ = counts.lastUsedPage;
  loadedTotal_ = totalPageCount_ = counts.totalPageCount;
}

TVRXDatabaseFreeSpaceManager::~TVRXDatabaseFreeSpaceManager() = default;

void TVRXDatabaseFreeSpaceManager::CheckInvariants() const {
  CheckInvariant(pages_.empty(), "free-space map", "a service page is held between operations");
  CheckInvariant(lastUsedPage_ == loadedLastUsed_ && totalPageCount_ == loadedTotal_,
                 "free-space map", "the counts differ from the ones loaded or stored");
}

int64_t TVRXDatabaseFreeSpaceManager::EamPageNo(int64_t index) const {
  const int64_t at = index * pagesPerEam_;
  return at % pagesPerPfs_ == 0 ? at + 1 : at;
}

bool TVRXDatabaseFreeSpaceManager::IsServicePage(int64_t p) const {
  if (p < 0) return false;
  return p % pagesPerPfs_ == 0 || p % pagesPerEam_ == 0 ||
         (p >= 1 && (p - 1) % pagesPerPfs_ == 0 && (p - 1) % pagesPerEam_ == 0);
}

void TVRXDatabaseFreeSpaceManager::CheckNotServicePage(int32_t pageNo) const {
  if (IsServicePage(pageNo))
    throw EVRXException("Cannot delete PFS or EAM page. PageNo=%d", {pageNo}, 30434);
}

int32_t TVRXDatabaseFreeSpaceManager::GrowthStep(int32_t total) const {
  if (total <= 0) return 6;
  return std::max<int32_t>(total / 10, extentSize_);
}

// --- working copies ------------------------------------------------------------

TVRXPage& TVRXDatabaseFreeSpaceManager::ServicePage(int64_t pageNo, uint16_t pageType,
                                                    int32_t nativeError) {
  if (const auto held = pages_.find(pageNo); held != pages_.end()) {
    CheckPageType(held->second->PageType(), pageType, nativeError);
    return *held->second;
  }
  // A service page outside the file or the page numbers cannot hold the map.
  if (pageNo > kMaxPageNo || pageNo >= totalPageCount_)
    ThrowUnaddressable(pageNo, totalPageCount_, nativeError == 30428 ? 30431 : 30430);
  auto page = std::make_unique<TVRXPage>(nullptr, store_.PageSize(), store_.PageHeaderSize());
  page->SetPageNo(static_cast<int32_t>(pageNo));
  page->SetSessionID(kSystemSessionID);
  page->SetEncryptOnWrite(false);
  store_.ReadPage(*page);
  CheckPageType(page->PageType(), pageType, nativeError);
  TVRXPage& result = *page;
  pages_.emplace(pageNo, std::move(page));
  return result;
}

TVRXPage& TVRXDatabaseFreeSpaceManager::NewServicePage(int64_t pageNo, uint16_t pageType) {
  auto page = std::make_unique<TVRXPage>(nullptr, store_.PageSize(), store_.PageHeaderSize());
  page->SetPageNo(static_cast<int32_t>(pageNo));
  page->SetSessionID(kSystemSessionID);
  page->SetEncryptOnWrite(false);
  page->AllocateFreshBuffer();
  page->SetPageType(pageType);
  page->Data()[0] = 1;
  page->SetDirty(true);
  TVRXPage& result = *page;
  pages_[pageNo] = std::move(page);
  return result;
}

void TVRXDatabaseFreeSpaceManager::SetChanged(TVRXPage& page) { page.SetDirty(true); }

void TVRXDatabaseFreeSpaceManager::WriteOperation() {
  // A file that grows does so before its new service pages are written; one
  // that shrinks loses only free pages, after the map says so.
  if (totalPageCount_ > loadedTotal_) store_.ResizeFile(totalPageCount_);
  for (auto& [pageNo, page] : pages_)
    if (page->Dirty() && pageNo < totalPageCount_) store_.WritePage(*page);
  if (totalPageCount_ < loadedTotal_) store_.ResizeFile(totalPageCount_);
  if (lastUsedPage_ != loadedLastUsed_ || totalPageCount_ != loadedTotal_)
    store_.StoreCounts({lastUsedPage_, totalPageCount_});
  loadedLastUsed_ = lastUsedPage_;
  loadedTotal_ = totalPageCount_;
  pages_.clear();
}

void TVRXDatabaseFreeSpaceManager::DropOperation() {
  pages_.clear();
  lastUsedPage_ = loadedLastUsed_;
  totalPageCount_ = loadedTotal_;
}

void TVRXDatabaseFreeSpaceManager::Reload() {
  const TVRXMapCounts counts = store_.LoadCounts();
  loadedLastUsed_ = lastUsedPage_ = counts.lastUsedPage;
  loadedTotal_ = totalPageCount_ = counts.totalPageCount;
}

void TVRXDatabaseFreeSpaceManager::TakeCachedCounts() {
  const TVRXMapCounts counts = store_.CachedCounts();
  loadedLastUsed_ = lastUsedPage_ = counts.lastUsedPage;
  loadedTotal_ = totalPageCount_ = counts.totalPageCount;
}

// --- allocation ----------------------------------------------------------------

int32_t TVRXDatabaseFreeSpaceManager::AllocatePage() {
  Operation operation(*this, 20231);
  Reload();
  int32_t pageNo = FindFreePage();
  if (pageNo < 0) pageNo = ExtendAndAllocate();
  if (pageNo > lastUsedPage_) lastUsedPage_ = pageNo;
  operation.Finish();
  return pageNo;
}

int32_t TVRXDatabaseFreeSpaceManager::FindFreePage() {
  if (lastUsedPage_ < 0) return -1;
  const int64_t index = lastUsedPage_ / pagesPerEam_;
  int32_t found = SearchEamRange(index);
  if (found < 0 && index > 0)
    found = SearchEamRange(std::uniform_int_distribution<int64_t>(0, index - 1)(random_));
  return found;
}

int32_t TVRXDatabaseFreeSpaceManager::SearchEamRange(int64_t eamIndex) {
  const uint8_t* data = ServicePage(EamPageNo(eamIndex), ptEAM, 30423).Data();
  int64_t extent = -1;
  for (int32_t i = 0; i < dataSize_; ++i) {
    if (data[i] == 0xFF) continue;
    for (int entry = 0; entry < 4; ++entry) {
      if ((data[i] & (2u << (2 * entry))) == 0) {
        extent = eamIndex * extentsPerEam_ + int64_t{i} * 4 + entry;
        break;
      }
    }
    break;
  }
  if (extent < 0) return -1;

  int64_t firstPfs = extent * extentSize_ / pagesPerPfs_;
  int64_t lastPfs = ((extent + 1) * extentSize_ - 1) / pagesPerPfs_;
  if (PfsPageNo(firstPfs) >= lastUsedPage_) return -1;
  while (lastPfs > firstPfs && PfsPageNo(lastPfs) >= lastUsedPage_) --lastPfs;

  int64_t candidate = -1;
  for (int64_t index = firstPfs; index <= lastPfs; ++index) {
    const uint8_t* bits = ServicePage(PfsPageNo(index), ptPFS, 30432).Data();
    for (int32_t i = 0; i < dataSize_; ++i) {
      if (bits[i] == 0xFF) continue;
      candidate = index * pagesPerPfs_ + int64_t{i} * 8 + LowestClearBit(bits[i]);
      break;
    }
  }
  // A damaged map could offer a service page: never hand one out.
  if (candidate < 0 || candidate >= totalPageCount_ || IsServicePage(candidate)) return -1;
  MarkPage(static_cast<int32_t>(candidate), true);
  return static_cast<int32_t>(candidate);
}

int32_t TVRXDatabaseFreeSpaceManager::ExtendAndAllocate() {
  const int64_t lastPfsIndex = lastUsedPage_ < 0 ? -1 : lastUsedPage_ / pagesPerPfs_;
  const int64_t lastEamIndex = lastUsedPage_ < 0 ? -1 : lastUsedPage_ / pagesPerEam_;
  int64_t candidate = int64_t{lastUsedPage_} + 1;
  while (IsServicePage(candidate)) ++candidate;
  if (candidate > kMaxPageNo) ThrowUnaddressable(candidate, totalPageCount_, 30430);

  // Grow by the step, or further when the candidate lies beyond it (tiny
  // extents next to service pages).
  const int64_t needed = candidate + 1 - totalPageCount_;
  const int64_t growth = std::max<int64_t>(GrowthStep(totalPageCount_), needed);
  if (int64_t{totalPageCount_} + growth > kMaxPageNo)
    ThrowUnaddressable(candidate, totalPageCount_, 30430);
  if (growth > 0) totalPageCount_ = static_cast<int32_t>(totalPageCount_ + growth);

  std::vector<int64_t> newPfs;
  std::vector<int64_t> newEam;
  int64_t highest = candidate;
  for (int64_t index = lastPfsIndex + 1; index <= candidate / pagesPerPfs_; ++index) {
    NewServicePage(PfsPageNo(index), ptPFS);
    newPfs.push_back(PfsPageNo(index));
    highest = std::max(highest, PfsPageNo(index));
  }
  for (int64_t index = lastEamIndex + 1; index <= candidate / pagesPerEam_; ++index) {
    NewServicePage(EamPageNo(index), ptEAM);
    newEam.push_back(EamPageNo(index));
    highest = std::max(highest, EamPageNo(index));
  }
  while (IsServicePage(highest)) ++highest;
  lastUsedPage_ = static_cast<int32_t>(highest);

  // An EAM page cut off with the file's tail may have left its bit set in a
  // surviving PFS page: the bit already says "used", which is right.
  for (int64_t eamPage : newEam) MarkPage(static_cast<int32_t>(eamPage), true, true);
  for (int64_t pfsPage : newPfs) UpdateExtentState(pfsPage / extentSize_);
  MarkPage(lastUsedPage_, true);
  return lastUsedPage_;
}

// --- marking -------------------------------------------------------------------

void TVRXDatabaseFreeSpaceManager::MarkPage(int32_t pageNo, bool used, bool allowSame) {
  if (pageNo < 0 || pageNo >= totalPageCount_)
    ThrowUnaddressable(pageNo, totalPageCount_, 30430);
  TVRXPage& pfs = ServicePage(PfsPageNo(pageNo / pagesPerPfs_), ptPFS, 30424);
  const int64_t inPage = pageNo % pagesPerPfs_;
  uint8_t& byte = pfs.Data()[inPage / 8];
  const uint8_t mask = static_cast<uint8_t>(1u << (inPage % 8));
  const bool isSet = (byte & mask) != 0;
  if (isSet == used) {
    if (!allowSame) {
      if (used) throw EVRXException("Page: %d already used", {pageNo}, 30425);
      throw EVRXException("Page: %d already free", {pageNo}, 30427);
    }
  } else {
    byte = used ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
    SetChanged(pfs);
  }
  UpdateExtentState(pageNo / extentSize_);
}

bool TVRXDatabaseFreeSpaceManager::BitOf(int64_t pageNo, int32_t nativeError) {
  if (pageNo >= totalPageCount_) return false;
  const int64_t pfsPage = PfsPageNo(pageNo / pagesPerPfs_);
  if (pfsPage > lastUsedPage_ || pfsPage >= totalPageCount_) return false;
  const int64_t inPage = pageNo % pagesPerPfs_;
  return (ServicePage(pfsPage, ptPFS, nativeError).Data()[inPage / 8] & (1u << (inPage % 8))) != 0;
}

void TVRXDatabaseFreeSpaceManager::UpdateExtentState(int64_t extent) {
  const int64_t first = extent * extentSize_;
  if (first >= totalPageCount_) ThrowUnaddressable(first, totalPageCount_, 30431);
  TVRXPage& eam = ServicePage(EamPageNo(extent / extentsPerEam_), ptEAM, 30428);
  bool sawUsed = false;
  bool sawFree = false;
  for (int64_t p = first; p < first + extentSize_ && !(sawUsed && sawFree); ++p) {
    if (BitOf(p, 30424))
      sawUsed = true;
    else
      sawFree = true;
  }
  const int state = sawFree ? kExtentHasFree : kExtentFull;
  const int64_t entry = extent % extentsPerEam_;
  uint8_t& byte = eam.Data()[entry / 4];
  const int shift = static_cast<int>(2 * (entry % 4));
  const auto updated = static_cast<uint8_t>((byte & ~(3u << shift)) | (state << shift));
  if (updated != byte) {
    byte = updated;
    SetChanged(eam);
  }
}

// --- freeing -------------------------------------------------------------------

void TVRXDatabaseFreeSpaceManager::FreePage(int32_t pageNo) {
  Operation operation(*this, 20232);
  Reload();
  MarkPage(pageNo, false);
  lastUsedPage_ = ScanLastUsedPage();
  const int32_t step = GrowthStep(totalPageCount_);
  const int64_t freeTail = int64_t{totalPageCount_} - lastUsedPage_ - 1;
  if (freeTail >= step) totalPageCount_ -= static_cast<int32_t>(freeTail / step * step);
  operation.Finish();
}

int32_t TVRXDatabaseFreeSpaceManager::ScanLastUsedPage() {
  if (lastUsedPage_ < 0) return -1;
  for (int64_t index = lastUsedPage_ / pagesPerPfs_; index >= 0; --index) {
    if (PfsPageNo(index) >= totalPageCount_) continue;
    const uint8_t* bits = ServicePage(PfsPageNo(index), ptPFS, 30424).Data();
    for (int32_t i = dataSize_ - 1; i >= 0; --i) {
      if (bits[i] == 0) continue;
      for (int bit = 7; bit >= 0; --bit) {
        if ((bits[i] & (1u << bit)) == 0) continue;
        const int64_t p = index * pagesPerPfs_ + int64_t{i} * 8 + bit;
        // Bits past the end of the file are damage, not pages.
        if (p < totalPageCount_ && !IsServicePage(p)) return static_cast<int32_t>(p);
      }
    }
  }
  return -1;
}

// --- inspection ----------------------------------------------------------------
// Read-only: no lock, nothing written; the working copies are dropped again.

bool TVRXDatabaseFreeSpaceManager::IsPageUsed(int32_t pageNo) {
  TakeCachedCounts();
  struct Forget {
    TVRXDatabaseFreeSpaceManager& map;
    ~Forget() { map.DropOperation(); }
  } forget{*this};
  if (pageNo < 0 || pageNo >= totalPageCount_) return false;
  const int64_t pfsPage = PfsPageNo(pageNo / pagesPerPfs_);
  // PFS pages past the last used page are not written yet: all free.
  if (pfsPage > lastUsedPage_) return false;
  const int64_t inPage = pageNo % pagesPerPfs_;
  return (ServicePage(pfsPage, ptPFS, 30424).Data()[inPage / 8] & (1u << (inPage % 8))) != 0;
}

int TVRXDatabaseFreeSpaceManager::ExtentState(int64_t extent) {
  TakeCachedCounts();
  struct Forget {
    TVRXDatabaseFreeSpaceManager& map;
    ~Forget() { map.DropOperation(); }
  } forget{*this};
  const int64_t eamPage = EamPageNo(extent / extentsPerEam_);
  if (eamPage > lastUsedPage_) return 0;  // not written yet
  const int64_t entry = extent % extentsPerEam_;
  return (ServicePage(eamPage, ptEAM, 30428).Data()[entry / 4] >> (2 * (entry % 4))) & 3;
}

int32_t TVRXDatabaseFreeSpaceManager::ComputeLastUsedPage() {
  TakeCachedCounts();
  struct Forget {
    TVRXDatabaseFreeSpaceManager& map;
    ~Forget() { map.DropOperation(); }
  } forget{*this};
  return ScanLastUsedPage();
}

}  // namespace vrx
