#include "engine/storage/pages/VRXFreeSpace.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXPage.h"

namespace vrx {

namespace {

constexpr int64_t kMaxPageNo = std::numeric_limits<int32_t>::max();

// Holds the header lock for one operation and gives it back on every path.
class HeaderLock {
 public:
  HeaderLock(TVRXDiskPageManager& manager, int32_t nativeError) : manager_(manager) {
    if (!RetryLock(manager.LockAttempts(), manager.LockSleepMs(),
                   [&] { return manager_.LockHeader(); }))
      throw EVRXException("Database is locked", nativeError);
  }
  ~HeaderLock() { manager_.UnlockHeader(); }
  HeaderLock(const HeaderLock&) = delete;
  HeaderLock& operator=(const HeaderLock&) = delete;

 private:
  TVRXDiskPageManager& manager_;
};

// Lowest clear bit of a byte that is not 0xFF.
int LowestClearBit(uint8_t byte) {
  for (int bit = 0; bit < 8; ++bit)
    if ((byte & (1u << bit)) == 0) return bit;
  return -1;
}

}  // namespace

TVRXDatabaseFreeSpaceManager::TVRXDatabaseFreeSpaceManager(TVRXDiskPageManager& manager)
    : manager_(manager),
      extentSize_(manager.MainHeader().extentSize),
      dataSize_(manager.DataSize()),
      pagesPerPfs_(8 * static_cast<int64_t>(manager.DataSize())),
      extentsPerEam_(4 * static_cast<int64_t>(manager.DataSize())),
      pagesPerEam_(4 * static_cast<int64_t>(manager.DataSize()) * manager.MainHeader().extentSize),
      lastUsedPage_(manager.MainHeader().lastUsedPage),
      totalPageCount_(manager.MainHeader().totalPageCount),
      random_(std::random_device{}()) {}

TVRXDatabaseFreeSpaceManager::~TVRXDatabaseFreeSpaceManager() = default;

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

std::unique_ptr<TVRXPage> TVRXDatabaseFreeSpaceManager::ReadServicePage(int64_t pageNo,
                                                                        uint16_t pageType,
                                                                        int32_t nativeError) {
  // A service page outside the file or the page numbers cannot hold the map.
  if (pageNo > kMaxPageNo || pageNo >= totalPageCount_)
    throw EVRXException("Page: %d cannot be addressed. TotalPageCount=%d",
                        {pageNo, totalPageCount_}, nativeError == 30428 ? 30431 : 30430);
  auto page = std::make_unique<TVRXPage>(&manager_, manager_.PageSize(), manager_.HeaderSize());
  page->SetPageNo(static_cast<int32_t>(pageNo));
  page->SetSessionID(kSystemSessionID);
  page->SetEncryptOnWrite(false);
  manager_.InternalReadPage(*page);
  CheckPageType(page->PageType(), pageType, nativeError);
  return page;
}

std::unique_ptr<TVRXPage> TVRXDatabaseFreeSpaceManager::NewServicePage(int64_t pageNo,
                                                                       uint16_t pageType) {
  auto page = std::make_unique<TVRXPage>(&manager_, manager_.PageSize(), manager_.HeaderSize());
  page->SetPageNo(static_cast<int32_t>(pageNo));
  page->SetSessionID(kSystemSessionID);
  page->SetEncryptOnWrite(false);
  page->AllocateFreshBuffer();
  page->SetPageType(pageType);
  page->Data()[0] = 1;
  return page;
}

void TVRXDatabaseFreeSpaceManager::WriteServicePage(TVRXPage& page) {
  manager_.InternalWritePage(page);
}

void TVRXDatabaseFreeSpaceManager::Reload() {
  manager_.ReadHeader();
  loadedLastUsed_ = lastUsedPage_ = manager_.MainHeader().lastUsedPage;
  loadedTotal_ = totalPageCount_ = manager_.MainHeader().totalPageCount;
}

void TVRXDatabaseFreeSpaceManager::StoreIfChanged() {
  if (lastUsedPage_ == loadedLastUsed_ && totalPageCount_ == loadedTotal_) return;
  TVRXMainHeader& header = manager_.MutableMainHeader();
  header.lastUsedPage = lastUsedPage_;
  header.totalPageCount = totalPageCount_;
  manager_.WriteHeader();
  loadedLastUsed_ = lastUsedPage_;
  loadedTotal_ = totalPageCount_;
}

// --- allocation ----------------------------------------------------------------

int32_t TVRXDatabaseFreeSpaceManager::AllocatePage() {
  HeaderLock lock(manager_, 20231);
  Reload();
  int32_t pageNo = FindFreePage();
  if (pageNo < 0) pageNo = ExtendAndAllocate();
  if (pageNo > lastUsedPage_) lastUsedPage_ = pageNo;
  StoreIfChanged();
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
  auto eam = ReadServicePage(EamPageNo(eamIndex), ptEAM, 30423);
  const uint8_t* data = eam->Data();
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
  std::unique_ptr<TVRXPage> candidatePfs;
  for (int64_t index = firstPfs; index <= lastPfs; ++index) {
    auto pfs = ReadServicePage(PfsPageNo(index), ptPFS, 30432);
    const uint8_t* bits = pfs->Data();
    for (int32_t i = 0; i < dataSize_; ++i) {
      if (bits[i] == 0xFF) continue;
      candidate = index * pagesPerPfs_ + int64_t{i} * 8 + LowestClearBit(bits[i]);
      candidatePfs = std::move(pfs);
      break;
    }
  }
  // A damaged map could offer a service page: never hand one out.
  if (candidate < 0 || candidate >= totalPageCount_ || IsServicePage(candidate)) return -1;
  MarkPage(static_cast<int32_t>(candidate), true, false, std::move(candidatePfs));
  return static_cast<int32_t>(candidate);
}

int32_t TVRXDatabaseFreeSpaceManager::ExtendAndAllocate() {
  const int64_t lastPfsIndex = lastUsedPage_ < 0 ? -1 : lastUsedPage_ / pagesPerPfs_;
  const int64_t lastEamIndex = lastUsedPage_ < 0 ? -1 : lastUsedPage_ / pagesPerEam_;
  int64_t candidate = int64_t{lastUsedPage_} + 1;
  while (IsServicePage(candidate)) ++candidate;
  if (candidate > kMaxPageNo)
    throw EVRXException("Page: %d cannot be addressed. TotalPageCount=%d",
                        {candidate, totalPageCount_}, 30430);

  // Grow by the step, or further when the candidate lies beyond it (tiny
  // extents next to service pages).
  const int64_t needed = candidate + 1 - totalPageCount_;
  const int64_t growth = std::max<int64_t>(GrowthStep(totalPageCount_), needed);
  if (int64_t{totalPageCount_} + growth > kMaxPageNo)
    throw EVRXException("Page: %d cannot be addressed. TotalPageCount=%d",
                        {candidate, totalPageCount_}, 30430);
  manager_.ExtendFile(static_cast<int32_t>(growth));
  totalPageCount_ = manager_.MainHeader().totalPageCount;

  std::vector<int64_t> newPfs;
  std::vector<int64_t> newEam;
  int64_t highest = candidate;
  for (int64_t index = lastPfsIndex + 1; index <= candidate / pagesPerPfs_; ++index) {
    auto page = NewServicePage(PfsPageNo(index), ptPFS);
    WriteServicePage(*page);
    newPfs.push_back(PfsPageNo(index));
    highest = std::max(highest, PfsPageNo(index));
  }
  for (int64_t index = lastEamIndex + 1; index <= candidate / pagesPerEam_; ++index) {
    auto page = NewServicePage(EamPageNo(index), ptEAM);
    WriteServicePage(*page);
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

void TVRXDatabaseFreeSpaceManager::MarkPage(int32_t pageNo, bool used, bool allowSame,
                                            std::unique_ptr<TVRXPage> pfs) {
  if (pageNo < 0 || pageNo >= totalPageCount_)
    throw EVRXException("Page: %d cannot be addressed. TotalPageCount=%d",
                        {pageNo, totalPageCount_}, 30430);
  const int64_t pfsPageNo = PfsPageNo(pageNo / pagesPerPfs_);
  if (!pfs || pfs->PageNo() != pfsPageNo) pfs = ReadServicePage(pfsPageNo, ptPFS, 30424);
  const int64_t inPage = pageNo % pagesPerPfs_;
  uint8_t& byte = pfs->Data()[inPage / 8];
  const uint8_t mask = static_cast<uint8_t>(1u << (inPage % 8));
  const bool isSet = (byte & mask) != 0;
  if (isSet == used) {
    if (!allowSame) {
      if (used) throw EVRXException("Page: %d already used", {pageNo}, 30425);
      throw EVRXException("Page: %d already free", {pageNo}, 30427);
    }
  } else {
    byte = used ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
    WriteServicePage(*pfs);
  }
  UpdateExtentState(pageNo / extentSize_, std::move(pfs));
}

bool TVRXDatabaseFreeSpaceManager::BitOf(int64_t pageNo, std::unique_ptr<TVRXPage>& pfsCache,
                                         int32_t nativeError) {
  if (pageNo >= totalPageCount_) return false;
  const int64_t pfsPage = PfsPageNo(pageNo / pagesPerPfs_);
  if (pfsPage > lastUsedPage_ || pfsPage >= totalPageCount_) return false;
  if (!pfsCache || pfsCache->PageNo() != pfsPage)
    pfsCache = ReadServicePage(pfsPage, ptPFS, nativeError);
  const int64_t inPage = pageNo % pagesPerPfs_;
  return (pfsCache->Data()[inPage / 8] & (1u << (inPage % 8))) != 0;
}

void TVRXDatabaseFreeSpaceManager::UpdateExtentState(int64_t extent,
                                                     std::unique_ptr<TVRXPage> pfs) {
  const int64_t first = extent * extentSize_;
  if (first >= totalPageCount_)
    throw EVRXException("Page: %d cannot be addressed. TotalPageCount=%d", {first, totalPageCount_},
                        30431);
  auto eam = ReadServicePage(EamPageNo(extent / extentsPerEam_), ptEAM, 30428);
  bool sawUsed = false;
  bool sawFree = false;
  for (int64_t p = first; p < first + extentSize_ && !(sawUsed && sawFree); ++p) {
    if (BitOf(p, pfs, 30424))
      sawUsed = true;
    else
      sawFree = true;
  }
  const int state = sawFree ? kExtentHasFree : kExtentFull;
  const int64_t entry = extent % extentsPerEam_;
  uint8_t& byte = eam->Data()[entry / 4];
  const int shift = static_cast<int>(2 * (entry % 4));
  const auto updated = static_cast<uint8_t>((byte & ~(3u << shift)) | (state << shift));
  if (updated != byte) {
    byte = updated;
    WriteServicePage(*eam);
  }
}

// --- freeing -------------------------------------------------------------------

void TVRXDatabaseFreeSpaceManager::FreePage(int32_t pageNo) {
  HeaderLock lock(manager_, 20232);
  Reload();
  MarkPage(pageNo, false);
  lastUsedPage_ = ScanLastUsedPage();
  const int32_t step = GrowthStep(totalPageCount_);
  const int64_t freeTail = int64_t{totalPageCount_} - lastUsedPage_ - 1;
  if (freeTail >= step) {
    manager_.MutableMainHeader().lastUsedPage = lastUsedPage_;
    manager_.ShrinkFile(static_cast<int32_t>(freeTail / step * step));
    loadedLastUsed_ = lastUsedPage_;
    loadedTotal_ = totalPageCount_ = manager_.MainHeader().totalPageCount;
  }
  StoreIfChanged();
}

int32_t TVRXDatabaseFreeSpaceManager::ScanLastUsedPage() {
  if (lastUsedPage_ < 0) return -1;
  for (int64_t index = lastUsedPage_ / pagesPerPfs_; index >= 0; --index) {
    if (PfsPageNo(index) >= totalPageCount_) continue;
    auto pfs = ReadServicePage(PfsPageNo(index), ptPFS, 30424);
    const uint8_t* bits = pfs->Data();
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

bool TVRXDatabaseFreeSpaceManager::IsPageUsed(int32_t pageNo) {
  lastUsedPage_ = manager_.MainHeader().lastUsedPage;
  totalPageCount_ = manager_.MainHeader().totalPageCount;
  if (pageNo < 0 || pageNo >= totalPageCount_) return false;
  const int64_t pfsPage = PfsPageNo(pageNo / pagesPerPfs_);
  // PFS pages past the last used page are not written yet: all free.
  if (pfsPage > lastUsedPage_) return false;
  auto pfs = ReadServicePage(pfsPage, ptPFS, 30424);
  const int64_t inPage = pageNo % pagesPerPfs_;
  return (pfs->Data()[inPage / 8] & (1u << (inPage % 8))) != 0;
}

int TVRXDatabaseFreeSpaceManager::ExtentState(int64_t extent) {
  lastUsedPage_ = manager_.MainHeader().lastUsedPage;
  totalPageCount_ = manager_.MainHeader().totalPageCount;
  const int64_t eamPage = EamPageNo(extent / extentsPerEam_);
  if (eamPage > lastUsedPage_) return 0;  // not written yet
  auto eam = ReadServicePage(eamPage, ptEAM, 30428);
  const int64_t entry = extent % extentsPerEam_;
  return (eam->Data()[entry / 4] >> (2 * (entry % 4))) & 3;
}

int32_t TVRXDatabaseFreeSpaceManager::ComputeLastUsedPage() {
  lastUsedPage_ = manager_.MainHeader().lastUsedPage;
  totalPageCount_ = manager_.MainHeader().totalPageCount;
  return ScanLastUsedPage();
}

}  // namespace vrx
