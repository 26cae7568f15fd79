// The free-space map on its own, over a file held in memory: no disk page
// manager, no database file. The store can fail its N-th page read (a
// damaged page, no memory for a buffer), which shows that an operation that
// fails before it writes leaves the file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "engine/storage/pages/VRXFreeSpaceStore.h"
#include "engine/storage/pages/VRXPage.h"
#include "engine/storage/pages/VRXPageLayout.h"

namespace vrx {
namespace {

constexpr int32_t kPageSize = 256;  // 216 data bytes: a PFS page every 1728 pages
constexpr int32_t kExtent = 2;

class MemoryStore final : public TVRXFreeSpaceStore {
 public:
  int32_t PageSize() const override { return kPageSize; }
  int32_t PageHeaderSize() const override { return kPageHeaderSize; }
  int32_t ExtentSize() const override { return kExtent; }
  void LockMap(int32_t) override { ++locks; }
  void UnlockMap() override { --locks; }
  TVRXMapCounts LoadCounts() override { return counts; }
  TVRXMapCounts CachedCounts() const override { return counts; }
  void ResizeFile(int32_t total) override {
    pages.resize(static_cast<size_t>(total), std::vector<uint8_t>(kPageSize, 0));
  }
  void StoreCounts(const TVRXMapCounts& c) override {
    counts = c;
  }
  void ReadPage(TVRXPage& page) override {
    Count();
    page.AllocateFreshBuffer();
    const auto& bytes = pages.at(static_cast<size_t>(page.PageNo()));
    std::memcpy(page.Buffer(), bytes.data(), kPageSize);
  }
  void WritePage(TVRXPage& page) override {
    auto& bytes = pages.at(static_cast<size_t>(page.PageNo()));
    std::memcpy(bytes.data(), page.Buffer(), kPageSize);
  }

  // Page read number `n` from now fails.
  void FailAt(int n) { failIn = n; }
  bool Failed() const { return failIn == 0; }

  std::vector<std::vector<uint8_t>> pages;
  TVRXMapCounts counts;
  int locks = 0;

 private:
  void Count() {
    if (failIn > 0 && --failIn == 0) throw EVRXException("Cannot Read from file", 1);
  }
  int failIn = -1;
};

TEST(FreeSpaceMapAlone, HandsOutEveryOrdinaryPageOnceAndTakesThemBack) {
  MemoryStore store;
  TVRXDatabaseFreeSpaceManager map(store);
  std::set<int32_t> taken;
  for (int i = 0; i < 4000; ++i) {  // past the second PFS page
    const int32_t pageNo = map.AllocatePage();
    EXPECT_FALSE(map.IsServicePage(pageNo)) << pageNo;
    EXPECT_TRUE(taken.insert(pageNo).second) << "page " << pageNo << " handed out twice";
    EXPECT_LT(pageNo, store.counts.totalPageCount);
  }
  EXPECT_EQ(store.locks, 0);
  EXPECT_EQ(store.counts.lastUsedPage, *taken.rbegin());
  std::vector<int32_t> order(taken.begin(), taken.end());
  for (size_t i = 0; i < order.size(); i += 2) map.FreePage(order[i]);
  for (size_t i = 0; i < order.size(); i += 2) EXPECT_FALSE(map.IsPageUsed(order[i]));
  for (size_t i = 1; i < order.size(); i += 2) EXPECT_TRUE(map.IsPageUsed(order[i]));
  // Freed numbers are handed out again, each once.
  std::set<int32_t> inUse(order.begin(), order.end());
  for (size_t i = 0; i < order.size(); i += 2) inUse.erase(order[i]);
  int reused = 0;
  for (size_t i = 0; i < order.size(); i += 2) {
    const int32_t pageNo = map.AllocatePage();
    EXPECT_FALSE(map.IsServicePage(pageNo)) << pageNo;
    EXPECT_TRUE(inUse.insert(pageNo).second) << "page " << pageNo << " handed out twice";
    reused += taken.count(pageNo) != 0 ? 1 : 0;
  }
  EXPECT_GT(reused, static_cast<int>(order.size()) / 4);
  for (int32_t pageNo : inUse) EXPECT_TRUE(map.IsPageUsed(pageNo)) << pageNo;
}

// Every page read fails once in turn, in an allocation that grows the file
// past a new PFS page and in a freeing that cuts it: each failed operation
// leaves pages, length and counts exactly as they were, and the map goes on
// working afterwards.
TEST(FreeSpaceMapAlone, AFailedOperationLeavesTheFileAsItWas) {
  struct Case {
    const char* what;
    int32_t filled;  // pages allocated before the operation
    bool free;       // free the last page allocated, else allocate one more
  };
  const Case cases[] = {
      {"first allocation of an empty file", 0, false},
      {"allocation that adds a PFS page", 1725, false},
      {"freeing that cuts the file", 1725, true},
  };
  for (const Case& c : cases) {
    for (int n = 1;; ++n) {
      ASSERT_LT(n, 100) << c.what;
      MemoryStore store;
      TVRXDatabaseFreeSpaceManager map(store);
      int32_t last = -1;
      for (int32_t i = 0; i < c.filled; ++i) last = map.AllocatePage();
      const auto pagesBefore = store.pages;
      const TVRXMapCounts countsBefore = store.counts;
      store.FailAt(n);
      try {
        if (c.free)
          map.FreePage(last);
        else
          map.AllocatePage();
      } catch (const EVRXException&) {
      }
      EXPECT_EQ(store.locks, 0) << c.what;
      if (!store.Failed()) break;  // the operation got through without a failure
      EXPECT_TRUE(store.pages == pagesBefore) << c.what << ", read " << n;
      EXPECT_EQ(store.counts.lastUsedPage, countsBefore.lastUsedPage) << c.what << ", read " << n;
      EXPECT_EQ(store.counts.totalPageCount, countsBefore.totalPageCount) << c.what;
      store.FailAt(-1);
      const int32_t again = map.AllocatePage();
      EXPECT_FALSE(map.IsServicePage(again)) << c.what;
      if (c.free) {
        EXPECT_NE(again, last) << c.what << ": the page was never freed";
      }
    }
  }
}

}  // namespace
}  // namespace vrx
