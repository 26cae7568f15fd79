// TVRXPageManager: the base of every page manager (disk, in-memory and
// temporary engines). It owns the shared cache of clean pages and one change
// set per session, and implements the page life cycle every higher layer
// uses:
//   reader: GetPage -> use the buffer -> PutPage
//   writer: GetPage or AddPage -> change the data area -> SetDirty(true) ->
//           PutPage; later ApplyChanges or CancelChanges for that session.
// Every GetPage/AddPage is paired with exactly one PutPage (TVRXPageGuard).
//
// Invariants:
//  1. A page number is in at most one list of a session's view: its change
//     set first, else the shared cache.
//  2. Pages in a change set are dirty; pages in the cache with use count 0
//     are clean (PutPage moves a dirty one into its session's change set).
//  3. A page in use (use count > 0) belongs to exactly one session.
// CheckInvariants checks 1 and 2 over the whole cache and every change set;
// debug builds run it at the end of commits and cancels, and check the
// page concerned at the end of GetPage and AddPage.
//
// Not thread-safe: callers hold the open database's or the table's lock
// around every call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "engine/storage/pages/VRXPage.h"
#include "engine/storage/pages/VRXPageList.h"

namespace vrx {

class TVRXStream;

// The system session used by catalog operations, which commit at once.
inline constexpr int32_t kSystemSessionID = -2;
inline constexpr int32_t kInvalidSessionID = -1;

// A session's uncommitted work.
struct TVRXChangeSet {
  int32_t sessionID = kInvalidSessionID;
  TVRXSortedPageList pages;      // the session's dirty pages
  std::vector<int32_t> added;    // page numbers AddPage gave the session
  std::vector<int32_t> removed;  // page numbers the session removed, in order
  bool Empty() const { return pages.Count() == 0 && added.empty() && removed.empty(); }
};

class TVRXPageManager {
 public:
  // Cache capacity min(1000, available memory / 65536) pages.
  static constexpr int32_t kDefaultCacheCapacity = -1;
  static int32_t DefaultCacheCapacity();

  // `cacheCapacity` is fixed for the manager's life; kDefaultCacheCapacity
  // computes it from the memory available now.
  TVRXPageManager(int32_t pageSize, int32_t headerSize,
                  int32_t cacheCapacity = kDefaultCacheCapacity);
  // Frees every cached page. Uncommitted pages are discarded: callers check
  // HasUncommittedPages first (the disk manager's close refuses them).
  virtual ~TVRXPageManager();
  TVRXPageManager(const TVRXPageManager&) = delete;
  TVRXPageManager& operator=(const TVRXPageManager&) = delete;

  // --- operations an engine overrides ---
  virtual int32_t GetTotalPageCount();
  // The base keeps no state in a stream: both do nothing here.
  virtual void LoadFromStream(TVRXStream& stream);
  virtual void SaveToStream(TVRXStream& stream);
  // Gives the page a number and a fresh buffer.
  virtual void InternalAddPage(TVRXPage& page) = 0;
  // Returns the number to free space.
  virtual void InternalFreePage(int32_t pageNo) = 0;
  // Fills the page's buffer (allocating it); false when the read failed.
  virtual bool InternalReadPage(TVRXPage& page) = 0;
  // Writes the page, counting its modification counter on.
  virtual void InternalWritePage(TVRXPage& page) = 0;
  // Remembers pageNo for the session's commit.
  virtual void RemovePage(int32_t sessionID, int32_t pageNo);
  // The page for the session; pageType kAnyPageType skips the type check.
  virtual TVRXPage* GetPage(int32_t sessionID, int32_t pageNo, uint16_t pageType);
  // Writes the session's changes.
  virtual void ApplyChanges(int32_t sessionID);

  // A new page of the session, in use and dirty.
  TVRXPage* AddPage(int32_t sessionID, uint16_t pageType);
  // Gives back a page from GetPage or AddPage; null is ignored.
  void PutPage(TVRXPage* page);
  // Discards the session's changes and frees the pages it added.
  void CancelChanges(int32_t sessionID);

  int32_t PageSize() const { return pageSize_; }
  int32_t HeaderSize() const { return headerSize_; }
  int32_t DataSize() const { return pageSize_ - headerSize_; }
  int32_t CacheCapacity() const { return cacheCapacity_; }
  int32_t CachedPageCount() const { return cache_.Count(); }
  bool IsCached(int32_t pageNo) const { return cache_.Find(pageNo) != nullptr; }
  // True when the session has dirty, added or removed pages.
  bool HasChanges(int32_t sessionID) const;
  bool HasUncommittedPages() const;

  // Aborts with a message when an invariant above does not hold.
  void CheckInvariants() const;

 protected:
  void SetPageSize(int32_t pageSize) { pageSize_ = pageSize; }
  void SetPageCount(int32_t count) { pageCount_ = count; }
  int32_t PageCount() const { return pageCount_; }

  // "Some session pages are not released" (20152) when a cached page is
  // still in use by the session.
  void CheckSessionPagesReleased(int32_t sessionID) const;
  // Steps of a commit after that check: free the removed pages, write the
  // dirty ones in ascending order, move them into the cache.
  void WriteChangeSet(int32_t sessionID);
  // Called for a cache hit that nobody uses; a multi-user disk manager
  // re-reads the page when the file holds a newer copy.
  virtual void RevalidateCachedPage(TVRXPage& page);
  TVRXChangeSet* FindChangeSet(int32_t sessionID) const;
  TVRXChangeSet& ChangeSetFor(int32_t sessionID);
  // Frees every cached page and every change set (a file being closed).
  void DiscardAllPages();
  int32_t RandomModCounter();

 private:
  class InvariantCheck;
  // The invariants as far as they concern one page of a session's view.
  void CheckPageInvariants(const TVRXPage& page) const;
  // Drops a cached copy of pageNo: freed when unused, else marked stale.
  void DropCachedCopy(int32_t pageNo);
  // Puts a written page into the cache when there is room, else frees it.
  void CacheCommittedPage(std::unique_ptr<TVRXPage> page);
  void EvictIfOverCapacity();

  int32_t pageSize_;
  int32_t headerSize_;
  int32_t cacheCapacity_;
  int32_t pageCount_ = 0;
  TVRXSortedPageList cache_;
  std::map<int32_t, std::unique_ptr<TVRXChangeSet>> changeSets_;
  std::mt19937 random_;
};

// Puts a page back exactly once, on scope exit unless released earlier.
class TVRXPageGuard {
 public:
  TVRXPageGuard() = default;
  TVRXPageGuard(TVRXPageManager& manager, TVRXPage* page) : manager_(&manager), page_(page) {}
  ~TVRXPageGuard() { Release(); }
  TVRXPageGuard(const TVRXPageGuard&) = delete;
  TVRXPageGuard& operator=(const TVRXPageGuard&) = delete;
  TVRXPageGuard(TVRXPageGuard&& other) noexcept : manager_(other.manager_), page_(other.page_) {
    other.page_ = nullptr;
  }

  TVRXPage* operator->() const { return page_; }
  TVRXPage* Get() const { return page_; }
  void Release() {
    if (page_ != nullptr) {
      TVRXPage* page = page_;
      page_ = nullptr;
      manager_->PutPage(page);
    }
  }

 private:
  TVRXPageManager* manager_ = nullptr;
  TVRXPage* page_ = nullptr;
};

}  // namespace vrx
