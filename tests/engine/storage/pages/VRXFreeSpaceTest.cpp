// The free-space map: allocation order, growth, service pages, freeing and
// cutting the free tail, and the map's consistency over many operations.
#include "engine/storage/pages/VRXFreeSpace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXPage.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

class FreeSpaceTest : public testing::Test {
 protected:
  void Create(uint16_t pageSize = 4096, uint16_t extentSize = 8) {
    pm_.CreateDatabaseFile("fs.vrx", {}, extentSize, pageSize);
  }
  TVRXDatabaseFreeSpaceManager& Map() { return pm_.FreeSpace(); }
  int32_t Total() const { return pm_.MainHeader().totalPageCount; }
  int32_t LastUsed() const { return pm_.MainHeader().lastUsedPage; }
  uint8_t DataByte(int32_t pageNo, int index) {
    uint8_t byte = 0;
    pm_.ReadPageBytes(&byte, pageNo, 1, kPageHeaderSize + index);
    return byte;
  }
  uint16_t TypeOf(int32_t pageNo) {
    uint8_t bytes[2];
    pm_.ReadPageBytes(bytes, pageNo, 2, page_header::kPageType);
    return bytes::LoadU16(bytes);
  }

  // Every page of the file is either a service page with its bit set, or
  // used exactly when `used` holds it; extents and the last used page agree.
  void ExpectMapMatches(const std::set<int32_t>& used) {
    auto& map = Map();
    int32_t highest = -1;
    for (int32_t p = 0; p < Total(); ++p) {
      if (map.IsServicePage(p)) {
        // Written once the pages before them are in use.
        ASSERT_EQ(map.IsPageUsed(p), p <= LastUsed()) << p;
        continue;
      }
      ASSERT_EQ(map.IsPageUsed(p), used.count(p) == 1) << p;
      if (used.count(p)) highest = p;
    }
    EXPECT_EQ(LastUsed(), highest);
    EXPECT_EQ(map.ComputeLastUsedPage(), highest);
    for (int64_t x = 0; x * map.ExtentSize() < Total(); ++x) {
      bool allUsed = true;
      for (int64_t p = x * map.ExtentSize(); p < (x + 1) * map.ExtentSize(); ++p)
        if (p >= Total() || !map.IsPageUsed(static_cast<int32_t>(p))) allUsed = false;
      // An extent no page of which was ever marked keeps state 0.
      const int state = map.ExtentState(x);
      ASSERT_EQ(state == 3, allUsed) << "extent " << x;
      ASSERT_NE(state, 2) << "extent " << x;
    }
  }

  TVRXDiskPageManager pm_;
};

TEST_F(FreeSpaceTest, FirstAllocationsOfANewDatabase) {
  Create();
  EXPECT_EQ(Map().AllocatePage(), 2);
  EXPECT_EQ(Total(), 6);
  EXPECT_EQ(LastUsed(), 2);
  EXPECT_EQ(TypeOf(0), ptPFS);
  EXPECT_EQ(TypeOf(1), ptEAM);
  EXPECT_EQ(DataByte(0, 0), 0b111) << "PFS bits 0, 1, 2";
  EXPECT_EQ(DataByte(1, 0), 1) << "extent 0 has free pages";

  EXPECT_EQ(Map().AllocatePage(), 3);
  EXPECT_EQ(Map().AllocatePage(), 4);
  EXPECT_EQ(Map().AllocatePage(), 5);
  EXPECT_EQ(Total(), 6) << "no growth yet";
  EXPECT_EQ(Map().AllocatePage(), 6);
  EXPECT_EQ(Total(), 14) << "grown by max(6 div 10, 8)";
  EXPECT_EQ(pm_.DatabaseFile().GetSize(), 380 + 14 * 4096);
  EXPECT_EQ(Map().AllocatePage(), 7);
  EXPECT_EQ(DataByte(1, 0), 3) << "extent 0 full";
  ExpectMapMatches({2, 3, 4, 5, 6, 7});
}

TEST_F(FreeSpaceTest, GrowthSteps) {
  Create();
  const struct {
    int32_t total, step;
  } cases[] = {{0, 6}, {6, 8}, {50, 8}, {79, 8}, {80, 8}, {90, 9}, {200, 20}, {10000, 1000}};
  for (const auto& c : cases) EXPECT_EQ(Map().GrowthStep(c.total), c.step) << c.total;
}

TEST_F(FreeSpaceTest, ServicePagesOfTheDefaultGeometry) {
  Create();
  auto& map = Map();
  EXPECT_EQ(map.PagesPerPfsPage(), 32448);
  EXPECT_EQ(map.PagesPerEamPage(), 129792);
  for (int64_t p : {0, 1, 32448, 64896, 129792, 129793}) EXPECT_TRUE(map.IsServicePage(p)) << p;
  for (int64_t p : {2, 3, 32447, 32449, 129794}) EXPECT_FALSE(map.IsServicePage(p)) << p;
  EXPECT_EQ(map.EamPageNo(1), 129793);
  EXPECT_EQ(MessageOf([&] { pm_.GetPage(1, 32448, kAnyPageType); }),
            "Cannot delete PFS or EAM page. PageNo=32448 - Native error: 30434");
}

TEST_F(FreeSpaceTest, FreeingClearsTheBitAndCutsWholeStepsOffTheEnd) {
  Create();
  std::set<int32_t> used;
  for (int i = 0; i < 30; ++i) used.insert(Map().AllocatePage());
  EXPECT_EQ(LastUsed(), 31);
  EXPECT_EQ(Total(), 38);  // 6, 14, 22, 30, 38

  Map().FreePage(10);
  used.erase(10);
  EXPECT_EQ(Total(), 38) << "a page in the middle only clears its bit";
  ExpectMapMatches(used);

  EXPECT_EQ(MessageOf([&] { Map().FreePage(10); }), "Page: 10 already free - Native error: 30427");
  EXPECT_EQ(MessageOf([&] { Map().FreePage(38); }),
            "Page: 38 cannot be addressed. TotalPageCount=38 - Native error: 30430");

  // Free the top ten pages: the free tail reaches 16 pages = two steps of 8.
  for (int32_t p = 31; p >= 22; --p) {
    Map().FreePage(p);
    used.erase(p);
  }
  EXPECT_EQ(LastUsed(), 21);
  EXPECT_EQ(Total(), 38 - 16);
  EXPECT_EQ(pm_.DatabaseFile().GetSize(), 380 + 22 * 4096);
  ExpectMapMatches(used);

  // The freed page in the middle is found again before the file grows.
  EXPECT_EQ(Map().AllocatePage(), 10);
  used.insert(10);
  ExpectMapMatches(used);
}

TEST_F(FreeSpaceTest, TruncatingToTheLastUsedPage) {
  Create();
  std::set<int32_t> used;
  for (int i = 0; i < 12; ++i) used.insert(Map().AllocatePage());
  EXPECT_EQ(Total(), 14);
  Map().FreePage(13);
  used.erase(13);
  ASSERT_EQ(LastUsed(), 12);
  ASSERT_EQ(Total(), 14) << "a free tail shorter than a step stays";
  pm_.TruncateToLastUsedPage();
  EXPECT_EQ(Total(), 13);
  EXPECT_EQ(pm_.DatabaseFile().GetSize(), 380 + 13 * 4096);
  pm_.TruncateToLastUsedPage();
  EXPECT_EQ(Total(), 13) << "nothing left to cut";
  ExpectMapMatches(used);
  used.insert(Map().AllocatePage());
  ExpectMapMatches(used);
}

TEST_F(FreeSpaceTest, FreeingEverythingLeavesOnlyTheServicePages) {
  Create();
  std::vector<int32_t> pages;
  for (int i = 0; i < 100; ++i) pages.push_back(Map().AllocatePage());
  for (int32_t p : pages) Map().FreePage(p);
  EXPECT_EQ(LastUsed(), -1);
  ExpectMapMatches({});
  EXPECT_EQ(Map().AllocatePage(), 2) << "a fresh start";
}

// A small page size puts many PFS and EAM pages within reach: D = 88, so a
// PFS page covers 704 pages and an EAM page (E = 3, odd) 1056 pages.
TEST_F(FreeSpaceTest, ManyPagesAcrossServicePagesStayConsistent) {
  Create(/*pageSize=*/128, /*extentSize=*/3);
  auto& map = Map();
  ASSERT_EQ(map.PagesPerPfsPage(), 704);
  ASSERT_EQ(map.PagesPerEamPage(), 1056);
  std::mt19937 random(7);
  std::set<int32_t> used;
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 900; ++i) {
      const int32_t p = map.AllocatePage();
      ASSERT_FALSE(map.IsServicePage(p)) << p;
      ASSERT_TRUE(used.insert(p).second) << "handed out twice: " << p;
    }
    // Free a random half, the highest pages among them.
    std::vector<int32_t> all(used.begin(), used.end());
    std::shuffle(all.begin(), all.end(), random);
    all.resize(all.size() / 2);
    for (int32_t p : all) {
      map.FreePage(p);
      used.erase(p);
    }
    ExpectMapMatches(used);
    for (int64_t index = 0; map.PfsPageNo(index) <= LastUsed(); ++index)
      EXPECT_EQ(TypeOf(static_cast<int32_t>(map.PfsPageNo(index))), ptPFS);
    for (int64_t index = 0; map.EamPageNo(index) <= LastUsed(); ++index)
      EXPECT_EQ(TypeOf(static_cast<int32_t>(map.EamPageNo(index))), ptEAM);
  }
  // Free everything from the top: the file shrinks back to a few steps.
  for (auto it = used.rbegin(); it != used.rend(); ++it) map.FreePage(*it);
  used.clear();
  ExpectMapMatches(used);
  EXPECT_LT(Total(), 20);
  // Growing again recreates the service pages that were cut off.
  for (int i = 0; i < 1500; ++i) used.insert(map.AllocatePage());
  ExpectMapMatches(used);
}

TEST_F(FreeSpaceTest, WrongPageAtAServicePosition) {
  Create();
  Map().AllocatePage();
  uint8_t type[2];
  bytes::StoreU16(type, ptTableRecord);
  pm_.WritePageBytes(type, 1, 2, page_header::kPageType);  // the EAM page
  EXPECT_EQ(MessageOf([&] { Map().AllocatePage(); }),
            "Wrong page type. Found 'TableRecord Page', but wanted: 'EAM Page' - Native error: "
            "30423");
  EXPECT_EQ(pm_.HeaderLockCount(), 0) << "released on failure";
  bytes::StoreU16(type, ptEmpty);
  pm_.WritePageBytes(type, 0, 2, page_header::kPageType);  // the PFS page
  EXPECT_EQ(MessageOf([&] { Map().FreePage(2); }),
            "Wrong page type. Found 'Empty Page', but wanted: 'PFS Page' - Native error: 30424");
}

}  // namespace
}  // namespace vrx
