// The on-disk layout helpers, the page object and the sorted page list.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/storage/pages/VRXPage.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "engine/storage/pages/VRXPageList.h"
#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {
namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

TEST(PageLayoutTest, MainHeaderGoldenBytesAndRoundTrip) {
  uint8_t bytes[kMainHeaderSize];
  std::memset(bytes, 0xEE, sizeof bytes);
  TVRXMainHeader header = TVRXMainHeader::Fresh(4096, 8);
  header.totalPageCount = 0x01020304;
  header.commitCounter = 7;
  header.Store(bytes);
  EXPECT_EQ(Hex(bytes, 46),
            "56524158304E54454441544142415345"  // "VRAX0NTEDATABASE"
            "4C00"                              // header size 76
            "3333333333331340"                  // 4.8 = 0x4013333333333333
            "0010"
            "0800"      // page size 4096, extent 8
            "04030201"  // total page count
            "FFFFFFFF"  // last used page -1
            "07000000"  // commit counter
            "02"
            "00"  // state, encrypted flag
            "0000");
  for (int i = 44; i < kMainHeaderSize; ++i) EXPECT_EQ(bytes[i], 0) << i;

  TVRXMainHeader back;
  back.Load(bytes);
  EXPECT_TRUE(back.SignatureValid());
  EXPECT_EQ(back.version, 4.8);
  EXPECT_EQ(back.totalPageCount, 0x01020304);
  EXPECT_EQ(back.lastUsedPage, -1);
  EXPECT_EQ(back.commitCounter, 7);
  EXPECT_EQ(back.state, kStateConsistent);
}

TEST(PageLayoutTest, CryptoHeaderAndLayoutBlock) {
  uint8_t bytes[kCryptoHeaderSize];
  std::memset(bytes, 0xEE, sizeof bytes);
  TVRXCryptoHeader crypto;
  crypto.cipherId = 4;
  crypto.checkBlock[0] = 0xAB;
  crypto.checkCrc = 0xDEADBEEF;
  crypto.Store(bytes);
  EXPECT_EQ(Hex(bytes, 5), "18010400AB");
  EXPECT_EQ(Hex(bytes + 260, 4), "EFBEADDE");
  for (int i = 264; i < kCryptoHeaderSize; ++i) EXPECT_EQ(bytes[i], 0) << i;

  uint8_t layout[kLayoutBlockSize];
  std::memset(layout, 0xEE, sizeof layout);
  TVRXLayoutBlock{}.Store(layout);
  EXPECT_EQ(Hex(layout, kLayoutBlockSize), "1400" + std::string(36, '0'));
}

TEST(PageLayoutTest, InitialPageHeader) {
  uint8_t page[kPageHeaderSize] = {};
  InitPageHeader(page);
  EXPECT_EQ(Hex(page, kPageHeaderSize),
            "56525850"  // "VRXP"
            "00000000"  // modification counter
            "0000"      // type 0
            "FFFFFFFF"  // next page -1
            "00000000"  // CRC
            "00000000"  // bytes 18-21
            "FFFFFFFF"
            "FFFFFFFF"  // reserved -1, -1
            "0000"      // reserved int16
            "0000000000000000");
  EXPECT_TRUE(PageSignatureValid(page));
}

TEST(PageLayoutTest, ModificationCounterWraps) {
  const struct {
    int32_t before, after;
  } cases[] = {
      {0, 1},          {0x3FFFFFFE, 0x3FFFFFFF}, {0x7FFFFFFB, 0x7FFFFFFC},
      {0x7FFFFFFC, 0},  // the wrap
      {0x7FFFFFFD, 0},  // values counting never produces go on at 0
      {0x7FFFFFFE, 0}, {0x7FFFFFFF, 0},          {-5, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(NextModCounter(c.before), c.after) << c.before;
}

TEST(PageLayoutTest, PageTypeNames) {
  EXPECT_EQ(PageTypeName(0), "Unknown Page");
  EXPECT_EQ(PageTypeName(2), "EAM Page");
  EXPECT_EQ(PageTypeName(3), "PFS Page");
  EXPECT_EQ(PageTypeName(4), "FileSystemDirectory Page");
  EXPECT_EQ(PageTypeName(12), "TableIndex Page");
  try {
    PageTypeName(13);
    FAIL();
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(), "Unknown Page Type: (13) - Native error: 30382");
  }
  try {
    CheckPageType(6, 3, 30424);
    FAIL();
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(),
              "Wrong page type. Found 'TableList Page', but wanted: 'PFS Page' - Native error: "
              "30424");
  }
  EXPECT_NO_THROW(CheckPageType(3, 3, 1));
}

TEST(PageTest, FreshBufferGrowthAndErrors) {
  const int64_t before = TVRXMemoryManager::Instance().AllocatedBytes();
  {
    TVRXPage page(nullptr, 4096, kPageHeaderSize);
    try {
      page.GrowBuffer(8192);
      FAIL();
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.NativeError(), 20038);
    }
    page.AllocateFreshBuffer();
    EXPECT_EQ(page.PageType(), ptUnknown);
    EXPECT_EQ(page.NextPage(), -1);
    EXPECT_EQ(page.DataSize(), 4056);
    EXPECT_EQ(page.Data(), page.Buffer() + 40);
    page.Data()[100] = 42;
    page.GrowBuffer(8192);
    EXPECT_EQ(page.Data()[100], 42);
    EXPECT_EQ(page.Buffer()[8191], 0);
    try {
      page.GrowBuffer(100);
      FAIL();
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.Message(), "Invalid page modification - Native error: 20039");
    }
  }
  EXPECT_EQ(TVRXMemoryManager::Instance().AllocatedBytes(), before) << "the page freed its buffer";
}

std::unique_ptr<TVRXPage> PageNo(int32_t n) {
  auto page = std::make_unique<TVRXPage>(nullptr, 64, kPageHeaderSize);
  page->SetPageNo(n);
  return page;
}

TEST(SortedPageListTest, SortedLookupAndLeastRecentlyUsed) {
  TVRXSortedPageList list;
  for (int32_t n : {50, 10, 30, 20, 40}) list.Insert(PageNo(n));
  ASSERT_EQ(list.Count(), 5);
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(list.PageNoAt(i), 10 * (i + 1));
  EXPECT_EQ(list.Find(30)->PageNo(), 30);
  EXPECT_EQ(list.Find(30)->List(), &list);
  EXPECT_EQ(list.Find(35), nullptr);

  EXPECT_EQ(list.LeastRecentlyUsed()->PageNo(), 50) << "inserted first";
  list.Touch(50);
  list.Touch(10);
  EXPECT_EQ(list.LeastRecentlyUsed()->PageNo(), 30);

  auto taken = list.Extract(30);
  EXPECT_EQ(taken->List(), nullptr);
  EXPECT_EQ(list.LeastRecentlyUsed()->PageNo(), 20);

  auto front = list.ExtractFront(2);
  ASSERT_EQ(front.size(), 2u);
  EXPECT_EQ(front[0]->PageNo(), 10);
  EXPECT_EQ(front[1]->PageNo(), 20);
  EXPECT_EQ(list.PageNoAt(0), 40);
}

TEST(SortedPageListTest, Errors) {
  TVRXSortedPageList list;
  auto message = [&](auto call) {
    try {
      call();
    } catch (const EVRXException& e) {
      return e.Message();
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { list.Delete(1); }),
            "TSortedPageList.Delete - no elements in array! - Native error: 20165");
  list.Insert(PageNo(1));
  EXPECT_EQ(message([&] { list.Delete(7); }),
            "TSortedPageList.Delete - element not found, key = 7, itemCount = 1 - Native error: "
            "20166");
  EXPECT_EQ(message([&] { list.Touch(7); }), "Page not found - Native error: 20167");
}

TEST(SortedPageListTest, GrowthSteps) {
  TVRXSortedPageList list;
  list.Insert(PageNo(0));
  EXPECT_EQ(list.Capacity(), 2000);
  for (int32_t n = 1; n <= 2000; ++n) list.Insert(PageNo(n));
  EXPECT_EQ(list.Capacity(), 6000);
  list.Reserve(6001);
  EXPECT_EQ(list.Capacity(), 14000);
  list.Reserve(14001);
  EXPECT_EQ(list.Capacity(), 24000);
  list.Reserve(24001);
  EXPECT_EQ(list.Capacity(), 34000);
  list.Reserve(100000);  // more than one step away: exactly as asked
  EXPECT_EQ(list.Capacity(), 100000);
}

// A page manager over a map, without page headers (as the in-memory engines
// use the base), recording every call of the internal slots.
class RecordingPages final : public TVRXPageManager {
 public:
  explicit RecordingPages(int32_t capacity) : TVRXPageManager(64, 0, capacity) {}
  ~RecordingPages() override { DiscardAllPages(); }

  void InternalAddPage(TVRXPage& page) override {
    page.SetPageNo(nextPageNo_++);
    page.AllocateFreshBuffer();
    log.push_back("add " + std::to_string(page.PageNo()));
  }
  void InternalFreePage(int32_t pageNo) override {
    store_.erase(pageNo);
    log.push_back("free " + std::to_string(pageNo));
  }
  bool InternalReadPage(TVRXPage& page) override {
    page.AllocateFreshBuffer();
    auto it = store_.find(page.PageNo());
    if (it != store_.end()) std::memcpy(page.Buffer(), it->second.data(), 64);
    log.push_back("read " + std::to_string(page.PageNo()));
    return it != store_.end();
  }
  void InternalWritePage(TVRXPage& page) override {
    store_[page.PageNo()].assign(page.Buffer(), page.Buffer() + 64);
    log.push_back("write " + std::to_string(page.PageNo()));
  }

  std::vector<std::string> log;

 private:
  std::map<int32_t, std::vector<uint8_t>> store_;
  int32_t nextPageNo_ = 10;
};

TEST(PageManagerTest, CommitFreesRemovedPagesInOrderThenWritesAscending) {
  RecordingPages pm(100);
  std::vector<TVRXPage*> pages;
  for (int i = 0; i < 5; ++i) pages.push_back(pm.AddPage(1, ptTableRecord));  // 10..14
  // Put back in a scrambled order: the change set sorts them.
  for (int i : {3, 0, 4, 1, 2}) pm.PutPage(pages[static_cast<size_t>(i)]);
  pm.ApplyChanges(1);
  pm.log.clear();

  for (int32_t pageNo : {13, 11, 12}) {
    TVRXPageGuard page(pm, pm.GetPage(1, pageNo, kAnyPageType));
    page->Data()[0] = 1;
    page->SetDirty(true);
  }
  pm.RemovePage(1, 14);
  pm.RemovePage(1, 10);
  EXPECT_TRUE(pm.log.empty()) << "nothing happens before the commit";
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.log,
            (std::vector<std::string>{"free 14", "free 10", "write 11", "write 12", "write 13"}));
  EXPECT_FALSE(pm.HasChanges(1));
  EXPECT_FALSE(pm.IsCached(10));
  EXPECT_TRUE(pm.IsCached(13));
}

TEST(PageManagerTest, CommittedPagesEnterTheCacheOnlyWhileThereIsRoom) {
  RecordingPages pm(2);
  for (int i = 0; i < 4; ++i) pm.PutPage(pm.AddPage(1, ptTableRecord));
  pm.ApplyChanges(1);
  EXPECT_EQ(pm.CachedPageCount(), 2);
  EXPECT_TRUE(pm.IsCached(10));
  EXPECT_TRUE(pm.IsCached(11));
  pm.log.clear();
  pm.PutPage(pm.GetPage(1, 12, kAnyPageType));
  EXPECT_EQ(pm.log, (std::vector<std::string>{"read 12"}));
  EXPECT_EQ(pm.CachedPageCount(), 2) << "the least recently used one made room";
  EXPECT_FALSE(pm.IsCached(10));
}

TEST(PageManagerTest, CancelGivesBackAddedPagesAndChecksTheChangeSet) {
  RecordingPages pm(10);
  pm.PutPage(pm.AddPage(1, ptTableRecord));
  pm.ApplyChanges(1);
  pm.log.clear();
  TVRXPage* added = pm.AddPage(1, ptTableRecord);
  try {
    pm.CancelChanges(1);
    FAIL();
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.Message(), "Cannot remove used page - Native error: 20088");
  }
  pm.PutPage(added);
  {
    TVRXPageGuard page(pm, pm.GetPage(1, 10, kAnyPageType));
    page->SetDirty(true);
  }
  pm.CancelChanges(1);
  EXPECT_EQ(pm.log, (std::vector<std::string>{"add 11", "free 11"}));
  EXPECT_FALSE(pm.HasUncommittedPages());
  pm.log.clear();
  pm.PutPage(pm.GetPage(1, 10, kAnyPageType));
  EXPECT_EQ(pm.log, (std::vector<std::string>{"read 10"})) << "the discarded copy is gone";
  EXPECT_EQ(pm.HeaderSize(), 0);
  EXPECT_EQ(pm.DataSize(), 64);
}

}  // namespace
}  // namespace vrx
