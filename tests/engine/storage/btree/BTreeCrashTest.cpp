// A commit that splits and merges tree pages, cut off by a crash at each of
// its writes and syncs: the reopened file holds a tree the checker accepts
// with exactly the keys from before the commit or from after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "engine/base/VRXExcept.h"
#include "engine/storage/btree/VRXBTreeChecker.h"
#include "engine/storage/btree/VRXBTreePageIndex.h"
#include "engine/storage/file/VRXJournal.h"
#include "engine/storage/pages/VRXDiskEngine.h"
#include "tests/support/FaultFileSystem.h"

namespace vrx {
namespace {

using test::CrashMode;
using test::FaultFileSystem;

const std::string kDb = "btree-crash.vrx";
constexpr uint16_t kPageSize = 512;
constexpr int32_t kSession = 1;

std::set<int32_t> Before() {
  std::set<int32_t> keys;
  for (int32_t k = 0; k < 600; ++k) keys.insert(k);
  return keys;
}

std::set<int32_t> After() {
  std::set<int32_t> keys = Before();
  for (int32_t k = 100; k < 400; ++k) keys.erase(k);
  for (int32_t k = 1000; k < 1300; ++k) keys.insert(k * 3);
  return keys;
}

// A database holding a tree of Before(); returns its root.
int32_t Prepare(TVRXDiskPageManager& pages) {
  std::remove(kDb.c_str());
  std::remove(JournalFileName(kDb).c_str());
  pages.CreateDatabaseFile(kDb, {}, 4, kPageSize);
  TVRXBTreeRecordPageIndex index(pages, -1, 1000);
  const int32_t root = index.CreateIndex(kSession);
  for (int32_t k : Before()) index.AddAmount(kSession, k, 1 + k % 7);
  pages.ApplyChanges(kSession);
  return root;
}

// The commit under test: merges on the left, splits on the right.
void Change(TVRXDiskPageManager& pages, int32_t root) {
  TVRXBTreeRecordPageIndex index(pages, root, 1000);
  for (int32_t k = 100; k < 400; ++k) index.SubtractAmount(kSession, k, 1000);
  for (int32_t k = 1000; k < 1300; ++k) index.AddAmount(kSession, k * 3, 1 + k % 7);
  pages.ApplyChanges(kSession);
}

std::set<int32_t> KeysOf(TVRXDiskPageManager& pages, int32_t root) {
  TVRXBTreeRecordPageIndex index(pages, root, 1000);
  const TVRXBTreeChecker::TResult check = TVRXBTreeChecker::Check(index.Tree(), kSession);
  EXPECT_TRUE(check.Ok()) << check.Problems.front();
  std::set<int32_t> keys;
  index.ForEachPage(kSession, [&](int32_t page, int32_t amount) {
    EXPECT_EQ(amount, 1 + (page < 1000 ? page : page / 3) % 7) << page;
    keys.insert(page);
    return true;
  });
  return keys;
}

TEST(BTreeCrashTest, EveryWriteAndSyncOfACommitThatSplitsAndMerges) {
  int64_t events = 0;
  int32_t root = -1;
  {
    FaultFileSystem fs;
    TVRXDiskPageManager pages(fs);
    root = Prepare(pages);
    const int64_t start = fs.Events();
    Change(pages, root);
    events = fs.Events() - start;
    EXPECT_EQ(KeysOf(pages, root), After());
    pages.CloseDatabaseFile();
  }
  ASSERT_GT(events, 10);
  int interrupted = 0;
  for (int64_t n = 1; n <= events; ++n) {
    for (CrashMode mode : {CrashMode::kDrop, CrashMode::kTear}) {
      SCOPED_TRACE("stop at event " + std::to_string(n) + " of " + std::to_string(events));
      FaultFileSystem fs;
      {
        TVRXDiskPageManager pages(fs);
        ASSERT_EQ(Prepare(pages), root);
        fs.StopAt(fs.Events() + n);
        try {
          Change(pages, root);
        } catch (const EVRXException&) {
          ++interrupted;
        }
      }
      fs.Crash(mode, static_cast<uint32_t>(n));
      FaultFileSystem quickSyncs;
      TVRXDiskPageManager pages(quickSyncs);
      bool multiUser = false;
      bool repairNeeded = true;
      bool readOnly = false;
      pages.OpenDatabaseFile(kDb, {}, multiUser, true, repairNeeded, readOnly);
      EXPECT_FALSE(repairNeeded);
      const std::set<int32_t> keys = KeysOf(pages, root);
      EXPECT_TRUE(keys == Before() || keys == After()) << keys.size() << " keys";
      pages.CloseDatabaseFile();
    }
  }
  EXPECT_GT(interrupted, 0);
  std::remove(kDb.c_str());
}

}  // namespace
}  // namespace vrx
