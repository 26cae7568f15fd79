#include "engine/storage/tables/VRXPrivatePages.h"

#include <cstring>

#include "engine/storage/pages/VRXPageLayout.h"

namespace vrx {

namespace {
// Temporary indexes of a table are small; a short cache keeps their
// working pages in memory without holding a database's worth.
constexpr int32_t kPrivateCacheCapacity = 64;
}  // namespace

TVRXPrivatePageManager::TVRXPrivatePageManager(int32_t pageSize)
    : TVRXPageManager(pageSize, kPageHeaderSize, kPrivateCacheCapacity) {}

TVRXPrivatePageManager::~TVRXPrivatePageManager() {
  // Changes of sessions that never committed are nobody's: the base
  // destructor drops them with the cache.
}

void TVRXPrivatePageManager::InternalAddPage(TVRXPage& page) {
  page.AllocateFreshBuffer();
  int32_t pageNo;
  if (!freed_.empty()) {
    pageNo = freed_.back();
    freed_.pop_back();
  } else {
    pageNo = nextPage_++;
  }
  page.SetPageNo(pageNo);
  stored_[pageNo].assign(page.Buffer(), page.Buffer() + page.PageSize());
}

void TVRXPrivatePageManager::InternalFreePage(int32_t pageNo) {
  if (stored_.erase(pageNo) > 0) freed_.push_back(pageNo);
}

bool TVRXPrivatePageManager::InternalReadPage(TVRXPage& page) {
  page.AllocateFreshBuffer();
  const auto found = stored_.find(page.PageNo());
  if (found == stored_.end()) return false;
  std::memcpy(page.Buffer(), found->second.data(), found->second.size());
  return true;
}

void TVRXPrivatePageManager::InternalWritePage(TVRXPage& page) {
  page.SetModCounter(NextModCounter(page.ModCounter()));
  stored_[page.PageNo()].assign(page.Buffer(), page.Buffer() + page.PageSize());
}

}  // namespace vrx
