#include "engine/storage/pages/VRXPageManager.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"
#include "engine/base/VRXMemory.h"

namespace vrx {

// Checks every invariant when the operation that made it ends, on every way
// out.
class TVRXPageManager::InvariantCheck {
 public:
  explicit InvariantCheck(const TVRXPageManager& manager) : manager_(manager) {}
  ~InvariantCheck() {
    if (kCheckInvariants) manager_.CheckInvariants();
  }
  InvariantCheck(const InvariantCheck&) = delete;
  InvariantCheck& operator=(const InvariantCheck&) = delete;

 private:
  const TVRXPageManager& manager_;
};

int32_t TVRXPageManager::DefaultCacheCapacity() {
  const int64_t byMemory = TVRXMemoryManager::Instance().AvailableMemory() / 65536;
  return static_cast<int32_t>(std::clamp<int64_t>(byMemory, 0, 1000));
}

TVRXPageManager::TVRXPageManager(int32_t pageSize, int32_t headerSize, int32_t cacheCapacity)
    : pageSize_(pageSize),
      headerSize_(headerSize),
      cacheCapacity_(cacheCapacity < 0 ? DefaultCacheCapacity() : cacheCapacity),
      random_(std::random_device{}()) {}

TVRXPageManager::~TVRXPageManager() = default;

int32_t TVRXPageManager::GetTotalPageCount() { return pageCount_; }
void TVRXPageManager::LoadFromStream(TVRXStream&) {}
void TVRXPageManager::SaveToStream(TVRXStream&) {}

int32_t TVRXPageManager::RandomModCounter() {
  return std::uniform_int_distribution<int32_t>(0, kMaxInitialModCounter)(random_);
}

TVRXChangeSet* TVRXPageManager::FindChangeSet(int32_t sessionID) const {
  const auto it = changeSets_.find(sessionID);
  return it == changeSets_.end() ? nullptr : it->second.get();
}

TVRXChangeSet& TVRXPageManager::ChangeSetFor(int32_t sessionID) {
  auto& slot = changeSets_[sessionID];
  if (!slot) {
    slot = std::make_unique<TVRXChangeSet>();
    slot->sessionID = sessionID;
  }
  return *slot;
}

bool TVRXPageManager::HasChanges(int32_t sessionID) const {
  const TVRXChangeSet* changes = FindChangeSet(sessionID);
  return changes != nullptr && !changes->Empty();
}

bool TVRXPageManager::HasUncommittedPages() const {
  return std::any_of(changeSets_.begin(), changeSets_.end(),
                     [](const auto& entry) { return entry.second->pages.Count() > 0; });
}

void TVRXPageManager::DiscardAllPages() {
  changeSets_.clear();
  cache_.Clear();
}

void TVRXPageManager::RevalidateCachedPage(TVRXPage&) {}

void TVRXPageManager::DropCachedCopy(int32_t pageNo) {
  TVRXPage* cached = cache_.Find(pageNo);
  if (cached == nullptr) return;
  if (cached->UseCount() == 0)
    cache_.Delete(pageNo);
  else
    cached->SetStale(true);  // PutPage drops it
}

TVRXPage* TVRXPageManager::GetPage(int32_t sessionID, int32_t pageNo, uint16_t pageType) {
  if (sessionID == kInvalidSessionID) throw EVRXException("Invalid Session ID", 20186);
  TVRXChangeSet& changes = ChangeSetFor(sessionID);
  TVRXPage* page = changes.pages.Find(pageNo);
  if (page == nullptr) {
    page = cache_.Find(pageNo);
    if (page != nullptr && page->UseCount() == 0) {
      if (page->Stale()) {
        cache_.Delete(pageNo);
        page = nullptr;
      } else {
        RevalidateCachedPage(*page);
      }
    }
    if (page == nullptr) {
      auto fresh = std::make_unique<TVRXPage>(this, pageSize_, headerSize_);
      fresh->SetPageNo(pageNo);
      page = fresh.get();
      cache_.Insert(std::move(fresh));
      bool readOk = false;
      try {
        readOk = InternalReadPage(*page);
      } catch (...) {
        cache_.Delete(pageNo);
        throw;
      }
      // What a failed read left in the buffer must not be served again.
      if (!readOk) page->SetStale(true);
    }
    if (headerSize_ != 0 && pageType != kAnyPageType && page->PageType() != pageType)
      throw EVRXException(
          "Invalid page type. Possibly data is corrupted. Expected type %d, but found %d",
          {static_cast<int>(pageType), static_cast<int>(page->PageType())}, 20153);
  }
  if (page->UseCount() > 0 && page->SessionID() != sessionID)
    throw EVRXException("Page is used by other session", 20090);
  page->SetSessionID(sessionID);
  page->SetUseCount(page->UseCount() + 1);
  if (kCheckInvariants) CheckPageInvariants(*page);
  return page;
}

TVRXPage* TVRXPageManager::AddPage(int32_t sessionID, uint16_t pageType) {
  if (sessionID == kInvalidSessionID) throw EVRXException("Invalid Session ID", 20186);
  TVRXChangeSet& changes = ChangeSetFor(sessionID);
  auto page = std::make_unique<TVRXPage>(this, pageSize_, headerSize_);
  InternalAddPage(*page);
  if (page->PageNo() == -1) throw EVRXException("Invalid page number", 20064);
  const int32_t pageNo = page->PageNo();
  // From here the number belongs to the session; should recording it fail,
  // it goes back to free space rather than stay used by nobody.
  try {
    page->SetUseCount(1);
    page->SetDirty(true);
    page->SetSessionID(sessionID);
    if (headerSize_ != 0) {
      page->SetPageType(pageType);
      page->SetModCounter(RandomModCounter());
    }
    DropCachedCopy(pageNo);
    changes.added.reserve(changes.added.size() + 1);
    TVRXPage* result = page.get();
    // A number handed out twice would mean a damaged free-space map; the
    // session's old copy of it is dropped rather than kept beside the new one.
    if (changes.pages.Find(pageNo) != nullptr) changes.pages.Delete(pageNo);
    changes.pages.Insert(std::move(page));
    changes.added.push_back(pageNo);
    if (kCheckInvariants) CheckPageInvariants(*result);
    return result;
  } catch (...) {
    if (page) InternalFreePage(pageNo);
    throw;
  }
}

void TVRXPageManager::PutPage(TVRXPage* page) {
  if (page == nullptr) return;
  if (page->UseCount() > 0) page->SetUseCount(page->UseCount() - 1);
  if (page->List() != &cache_) return;
  const int32_t pageNo = page->PageNo();
  if (page->UseCount() == 0) {
    if (page->Dirty()) {
      TVRXChangeSet& changes = ChangeSetFor(page->SessionID());
      page->SetStale(false);  // the session's version now
      changes.pages.Insert(cache_.Extract(pageNo));
      return;
    }
    if (page->Stale()) {
      cache_.Delete(pageNo);
      return;
    }
    cache_.Touch(*page);
  }
  EvictIfOverCapacity();
}

void TVRXPageManager::EvictIfOverCapacity() {
  if (cache_.Count() <= cacheCapacity_) return;
  TVRXPage* oldest = cache_.LeastRecentlyUsed();
  if (oldest != nullptr && oldest->UseCount() == 0) cache_.Delete(oldest->PageNo());
}

void TVRXPageManager::RemovePage(int32_t sessionID, int32_t pageNo) {
  if (sessionID == kInvalidSessionID) throw EVRXException("Invalid Session ID", 20186);
  ChangeSetFor(sessionID).removed.push_back(pageNo);
}

void TVRXPageManager::CheckSessionPagesReleased(int32_t sessionID) const {
  for (int32_t i = 0; i < cache_.Count(); ++i) {
    const TVRXPage* page = cache_.At(i);
    if (page->UseCount() > 0 && page->SessionID() == sessionID)
      throw EVRXException("Some session pages are not released", 20152);
  }
}

void TVRXPageManager::ApplyChanges(int32_t sessionID) {
  CheckSessionPagesReleased(sessionID);
  WriteChangeSet(sessionID);
}

void TVRXPageManager::CacheCommittedPage(std::unique_ptr<TVRXPage> page) {
  const int32_t pageNo = page->PageNo();
  if (TVRXPage* old = cache_.Find(pageNo)) {
    // Another session read the old copy meanwhile.
    if (old->UseCount() > 0) {
      old->SetStale(true);
      return;  // the committed copy is freed; the file has it
    }
    cache_.Delete(pageNo);
  }
  if (cache_.Count() < cacheCapacity_) cache_.Insert(std::move(page));
}

void TVRXPageManager::WriteChangeSet(int32_t sessionID) {
  const InvariantCheck check(*this);
  TVRXChangeSet* changes = FindChangeSet(sessionID);
  if (changes == nullptr) return;

  // Removed pages first, in the order removed. A number is taken off the
  // list before it is freed, so a failure never frees it twice.
  while (!changes->removed.empty()) {
    const int32_t pageNo = changes->removed.front();
    changes->removed.erase(changes->removed.begin());
    InternalFreePage(pageNo);
    if (TVRXPage* own = changes->pages.Find(pageNo); own != nullptr && own->UseCount() == 0)
      changes->pages.Delete(pageNo);
    DropCachedCopy(pageNo);
  }
  changes->added.clear();

  // Dirty pages in ascending page order. On failure the pages written so far
  // leave the change set and the others stay in it.
  int32_t written = 0;
  auto settle = [&] {
    for (auto& page : changes->pages.ExtractFront(written)) CacheCommittedPage(std::move(page));
  };
  try {
    for (; written < changes->pages.Count(); ++written) {
      TVRXPage* page = changes->pages.At(written);
      if (!page->Dirty()) throw EVRXException("Invalid dirty page", 20085);
      if (page->UseCount() > 0) throw EVRXException("Cannot write used page", 20086);
      InternalWritePage(*page);
      page->SetDirty(false);
    }
  } catch (...) {
    settle();
    throw;
  }
  settle();
  changeSets_.erase(sessionID);
}

void TVRXPageManager::CheckInvariants() const {
  constexpr const char* kUnit = "page manager";
  CheckInvariant(cache_.UseOrderIsConsistent(), kUnit, "the cache's order of use is broken");
  for (int32_t i = 0; i < cache_.Count(); ++i) {
    const TVRXPage* page = cache_.At(i);
    CheckInvariant(page->List() == &cache_, kUnit, "a cached page names another list");
    CheckInvariant(page->UseCount() > 0 || !page->Dirty(), kUnit,
                   "an unused cached page is dirty");
  }
  for (const auto& [sessionID, changes] : changeSets_) {
    CheckInvariant(changes->sessionID == sessionID, kUnit, "a change set under another session");
    for (int32_t i = 0; i < changes->pages.Count(); ++i) {
      const TVRXPage* page = changes->pages.At(i);
      CheckInvariant(page->List() == &changes->pages, kUnit,
                     "a page of a change set names another list");
      CheckInvariant(page->Dirty(), kUnit, "a page of a change set is clean");
      CheckInvariant(page->SessionID() == sessionID, kUnit,
                     "a page of a change set belongs to another session");
    }
  }
}

void TVRXPageManager::CheckPageInvariants(const TVRXPage& page) const {
  constexpr const char* kUnit = "page manager";
  if (page.List() == &cache_) {
    CheckInvariant(page.UseCount() > 0 || !page.Dirty(), kUnit, "an unused cached page is dirty");
    return;
  }
  const TVRXChangeSet* changes = FindChangeSet(page.SessionID());
  CheckInvariant(changes != nullptr && page.List() == &changes->pages, kUnit,
                 "a page is neither cached nor in its session's change set");
  CheckInvariant(page.Dirty(), kUnit, "a page of a change set is clean");
}

void TVRXPageManager::CancelChanges(int32_t sessionID) {
  const InvariantCheck check(*this);
  TVRXChangeSet* changes = FindChangeSet(sessionID);
  if (changes == nullptr) return;
  for (int32_t i = 0; i < changes->pages.Count(); ++i) {
    const TVRXPage* page = changes->pages.At(i);
    if (!page->Dirty()) throw EVRXException("Invalid index page", 20087);
    if (page->UseCount() > 0) throw EVRXException("Cannot remove used page", 20088);
  }
  changes->pages.Clear();
  std::vector<int32_t> added;
  added.swap(changes->added);
  changes->removed.clear();
  changeSets_.erase(sessionID);
  for (int32_t pageNo : added) InternalFreePage(pageNo);
}

}  // namespace vrx
