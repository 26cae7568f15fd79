// TVRXSortedPageList: the page lists of a page manager (the shared cache and
// each session's change set). Entries are kept sorted by page number for a
// binary-search lookup and an ascending walk at commit; beside that the pages
// are linked in the order of their last insert or touch, so that the least
// recently used one is at hand without a search.
//
// The list owns the page objects in it. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/pages/VRXPage.h"

namespace vrx {

class TVRXSortedPageList {
 public:
  TVRXSortedPageList() = default;
  ~TVRXSortedPageList();
  TVRXSortedPageList(const TVRXSortedPageList&) = delete;
  TVRXSortedPageList& operator=(const TVRXSortedPageList&) = delete;

  int32_t Count() const { return static_cast<int32_t>(pageNos_.size()); }
  int32_t Capacity() const { return capacity_; }
  // Makes room for `requested` entries: the capacity grows by 2000, 4000,
  // 8000 and then 10000 entries a step, or to exactly `requested` when that
  // is more than one step away.
  void Reserve(int32_t requested);

  // Inserts at the sorted position; the page must not be in any list and
  // its number not in this one.
  void Insert(std::unique_ptr<TVRXPage> page);
  TVRXPage* Find(int32_t pageNo) const;
  // Removes the entry and hands the page back. Throws "TSortedPageList.Delete
  // - no elements in array!" (20165) on an empty list and "TSortedPageList.
  // Delete - element not found, key = %d, itemCount = %d" (20166).
  std::unique_ptr<TVRXPage> Extract(int32_t pageNo);
  // Extract and free.
  void Delete(int32_t pageNo);
  // Removes the first `count` entries (lowest page numbers) in order.
  std::vector<std::unique_ptr<TVRXPage>> ExtractFront(int32_t count);
  // Makes the page the most recently used; "Page not found" (20167) when
  // missing.
  void Touch(int32_t pageNo);
  // The same for a page known to be in this list.
  void Touch(TVRXPage& page);
  // The page least recently inserted or touched, or null when empty.
  TVRXPage* LeastRecentlyUsed() const { return leastRecent_; }
  void Clear();
  // The order of use links exactly the pages of this list (a check for the
  // page manager's invariants).
  bool UseOrderIsConsistent() const;

  // Entries by position, in ascending page order.
  TVRXPage* At(int32_t index) const { return entries_[static_cast<size_t>(index)].get(); }
  int32_t PageNoAt(int32_t index) const { return pageNos_[static_cast<size_t>(index)]; }

 private:
  // Position of pageNo, or of where it would be inserted.
  size_t LowerBound(int32_t pageNo) const;
  int32_t IndexOf(int32_t pageNo) const;  // -1 when missing

  void LinkAsMostRecent(TVRXPage& page);
  void Unlink(TVRXPage& page);

  std::vector<int32_t> pageNos_;
  std::vector<std::unique_ptr<TVRXPage>> entries_;  // same order as pageNos_
  TVRXPage* leastRecent_ = nullptr;
  TVRXPage* mostRecent_ = nullptr;
  int32_t capacity_ = 0;
  int growthSteps_ = 0;
};

}  // namespace vrx
