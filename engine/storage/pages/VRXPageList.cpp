#include "engine/storage/pages/VRXPageList.h"

#include <algorithm>
#include <stdexcept>

#include "engine/base/VRXExcept.h"

namespace vrx {

TVRXSortedPageList::~TVRXSortedPageList() { Clear(); }

void TVRXSortedPageList::Reserve(int32_t requested) {
  if (requested <= capacity_) return;
  static constexpr int32_t kSteps[] = {2000, 4000, 8000, 10000};
  const int32_t step = kSteps[std::min(growthSteps_, 3)];
  capacity_ = requested > capacity_ + step ? requested : capacity_ + step;
  ++growthSteps_;
  pageNos_.reserve(static_cast<size_t>(capacity_));
  entries_.reserve(static_cast<size_t>(capacity_));
}

size_t TVRXSortedPageList::LowerBound(int32_t pageNo) const {
  return static_cast<size_t>(std::lower_bound(pageNos_.begin(), pageNos_.end(), pageNo) -
                             pageNos_.begin());
}

int32_t TVRXSortedPageList::IndexOf(int32_t pageNo) const {
  const size_t at = LowerBound(pageNo);
  return (at < pageNos_.size() && pageNos_[at] == pageNo) ? static_cast<int32_t>(at) : -1;
}

void TVRXSortedPageList::Insert(std::unique_ptr<TVRXPage> page) {
  const int32_t pageNo = page->PageNo();
  const size_t at = LowerBound(pageNo);
  if (at < pageNos_.size() && pageNos_[at] == pageNo)
    throw std::logic_error("TVRXSortedPageList::Insert: page number already listed");
  Reserve(Count() + 1);
  page->SetList(this);
  pageNos_.insert(pageNos_.begin() + static_cast<std::ptrdiff_t>(at), pageNo);
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at),
                  Entry{std::move(page), ++counter_});
}

TVRXPage* TVRXSortedPageList::Find(int32_t pageNo) const {
  const int32_t index = IndexOf(pageNo);
  return index < 0 ? nullptr : At(index);
}

std::unique_ptr<TVRXPage> TVRXSortedPageList::Extract(int32_t pageNo) {
  if (pageNos_.empty())
    throw EVRXException("TSortedPageList.Delete - no elements in array!", 20165);
  const int32_t index = IndexOf(pageNo);
  if (index < 0)
    throw EVRXException("TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {pageNo, Count()}, 20166);
  auto page = std::move(entries_[static_cast<size_t>(index)].page);
  pageNos_.erase(pageNos_.begin() + index);
  entries_.erase(entries_.begin() + index);
  page->SetList(nullptr);
  return page;
}

void TVRXSortedPageList::Delete(int32_t pageNo) { Extract(pageNo); }

std::vector<std::unique_ptr<TVRXPage>> TVRXSortedPageList::ExtractFront(int32_t count) {
  count = std::clamp(count, 0, Count());
  std::vector<std::unique_ptr<TVRXPage>> pages;
  pages.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    auto& entry = entries_[static_cast<size_t>(i)];
    entry.page->SetList(nullptr);
    pages.push_back(std::move(entry.page));
  }
  pageNos_.erase(pageNos_.begin(), pageNos_.begin() + count);
  entries_.erase(entries_.begin(), entries_.begin() + count);
  return pages;
}

void TVRXSortedPageList::Touch(int32_t pageNo) {
  const int32_t index = IndexOf(pageNo);
  if (index < 0) throw EVRXException("Page not found", 20167);
  entries_[static_cast<size_t>(index)].stamp = ++counter_;
}

TVRXPage* TVRXSortedPageList::LeastRecentlyUsed() const {
  if (entries_.empty()) return nullptr;
  auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                 [](const Entry& a, const Entry& b) { return a.stamp < b.stamp; });
  return oldest->page.get();
}

void TVRXSortedPageList::Clear() {
  for (auto& entry : entries_) entry.page->SetList(nullptr);
  entries_.clear();
  pageNos_.clear();
}

}  // namespace vrx
