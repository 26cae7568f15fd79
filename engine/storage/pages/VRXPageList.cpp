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
  TVRXPage& inserted = *page;
  pageNos_.insert(pageNos_.begin() + static_cast<std::ptrdiff_t>(at), pageNo);
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), std::move(page));
  LinkAsMostRecent(inserted);
}

void TVRXSortedPageList::LinkAsMostRecent(TVRXPage& page) {
  page.usedBefore_ = mostRecent_;
  page.usedAfter_ = nullptr;
  if (mostRecent_ != nullptr)
    mostRecent_->usedAfter_ = &page;
  else
    leastRecent_ = &page;
  mostRecent_ = &page;
}

void TVRXSortedPageList::Unlink(TVRXPage& page) {
  if (page.usedBefore_ != nullptr)
    page.usedBefore_->usedAfter_ = page.usedAfter_;
  else
    leastRecent_ = page.usedAfter_;
  if (page.usedAfter_ != nullptr)
    page.usedAfter_->usedBefore_ = page.usedBefore_;
  else
    mostRecent_ = page.usedBefore_;
  page.usedBefore_ = page.usedAfter_ = nullptr;
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
  auto page = std::move(entries_[static_cast<size_t>(index)]);
  pageNos_.erase(pageNos_.begin() + index);
  entries_.erase(entries_.begin() + index);
  Unlink(*page);
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
    Unlink(*entry);
    entry->SetList(nullptr);
    pages.push_back(std::move(entry));
  }
  pageNos_.erase(pageNos_.begin(), pageNos_.begin() + count);
  entries_.erase(entries_.begin(), entries_.begin() + count);
  return pages;
}

void TVRXSortedPageList::Touch(int32_t pageNo) {
  const int32_t index = IndexOf(pageNo);
  if (index < 0) throw EVRXException("Page not found", 20167);
  Touch(*entries_[static_cast<size_t>(index)]);
}

void TVRXSortedPageList::Touch(TVRXPage& page) {
  if (&page == mostRecent_) return;
  Unlink(page);
  LinkAsMostRecent(page);
}

bool TVRXSortedPageList::UseOrderIsConsistent() const {
  int32_t linked = 0;
  const TVRXPage* before = nullptr;
  for (const TVRXPage* page = leastRecent_; page != nullptr; page = page->usedAfter_) {
    if (page->List() != this || page->usedBefore_ != before || ++linked > Count()) return false;
    before = page;
  }
  return before == mostRecent_ && linked == Count();
}

void TVRXSortedPageList::Clear() {
  for (auto& entry : entries_) {
    entry->SetList(nullptr);
    entry->usedBefore_ = entry->usedAfter_ = nullptr;
  }
  entries_.clear();
  pageNos_.clear();
  leastRecent_ = mostRecent_ = nullptr;
}

}  // namespace vrx
