// Damaged database files: bytes of a real database are flipped and the file
// truncated, many times over; each time the file is opened and read (and,
// where its header still fits the file, written). Every failure must be an
// EVRXException with the engine's message; the sanitizers catch any
// out-of-bounds access.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

// A database with pages of several types, a chain, object IDs and freed pages.
std::vector<uint8_t> MakeDatabase() {
  {
    TVRXDiskPageManager pm;
    pm.CreateDatabaseFile("source.vrx", {});
    const uint16_t types[] = {ptTableList,  ptTableMetaData, ptTableRecord,         ptTableRecord,
                              ptTableIndex, ptTableBlob,     ptFileSystemDirectory, ptTableLocks};
    for (int round = 0; round < 3; ++round) {
      for (uint16_t type : types) {
        TVRXPageGuard page(pm, pm.AddPage(1, type));
        page->SetNextPage(page->PageNo() + 1);
        std::memset(page->Data(), 'a' + round, 64);
      }
      pm.ApplyChanges(1);
      pm.GetNextObjectID();
    }
    pm.RemovePage(1, 5);
    pm.RemovePage(1, 9);
    pm.ApplyChanges(1);
    pm.CloseDatabaseFile();
  }
  return ReadAll("source.vrx");
}

int errorsSeen = 0;

// Runs one engine call; an engine error is an expected outcome.
template <typename Call>
bool Try(Call call) {
  try {
    call();
    return true;
  } catch (const EVRXException&) {
    ++errorsSeen;
    return false;
  }
}

void Exercise(const std::string& name, int64_t fileSize) {
  TVRXDiskPageManager pm(os::PosixFileSystem(), /*cacheCapacity=*/4);
  pm.SetLockRetry(1, 0);
  bool multiUser = false;
  bool repairNeeded = false;
  bool readOnly = false;
  if (!Try([&] { pm.OpenDatabaseFile(name, {}, multiUser, false, repairNeeded, readOnly); }))
    return;
  int32_t total = 0;
  if (!Try([&] { total = pm.GetTotalPageCount(); })) return;
  TVRXDatabaseFreeSpaceManager& map = pm.FreeSpace();
  const int32_t pages = std::min(total, 64);
  for (int32_t p = 0; p < pages; ++p) {
    if (map.IsServicePage(p)) continue;
    Try([&] {
      TVRXPageGuard page(pm, pm.GetPage(1, p, kAnyPageType));
      volatile uint8_t sum = 0;
      for (int32_t i = 0; i < page->DataSize(); ++i)
        sum = static_cast<uint8_t>(sum + page->Data()[i]);
    });
    Try([&] { TVRXPageGuard page(pm, pm.GetPage(1, p, ptTableRecord)); });
    Try([&] { map.IsPageUsed(p); });
  }
  Try([&] { map.ComputeLastUsedPage(); });
  Try([&] { map.ExtentState(0); });
  Try([&] { pm.GetNextObjectID(); });

  // Writing grows the file by a tenth of the header's page count: only where
  // the header still describes this file.
  const int64_t pagesEnd = pm.PageOffset(0) + int64_t{total} * pm.PageSize();
  if (pagesEnd > fileSize + (1 << 20)) return;
  int32_t added = -1;
  if (Try([&] {
        TVRXPageGuard page(pm, pm.AddPage(1, ptTableRecord));
        added = page->PageNo();
      })) {
    Try([&] { pm.ApplyChanges(1); });
    if (added >= 0 && !pm.HasChanges(1)) {
      Try([&] { pm.RemovePage(1, added); });
      Try([&] { pm.ApplyChanges(1); });
    }
  }
  pm.CancelChanges(1);
  Try([&] { pm.CloseDatabaseFile(); });
}

TEST(DiskEngineCorruptionTest, FlippedAndTruncatedFilesGiveOnlyEngineErrors) {
  const std::vector<uint8_t> original = MakeDatabase();
  ASSERT_GT(original.size(), 380u + 20 * 4096);
  std::mt19937 random(20261211);
  auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  errorsSeen = 0;
  for (int iteration = 0; iteration < 400; ++iteration) {
    SCOPED_TRACE(iteration);
    std::vector<uint8_t> bytes = original;
    const int kind = iteration % 4;
    if (kind != 3) {
      // Flip a few bytes, mostly in the headers and the service pages.
      const int flips = 1 + static_cast<int>(below(6));
      for (int i = 0; i < flips; ++i) {
        const size_t region = below(3);
        const size_t limit = region == 0 ? 380 : region == 1 ? 380 + 2 * 4096 : bytes.size();
        const size_t at = below(limit);
        bytes[at] = static_cast<uint8_t>(kind == 0 ? bytes[at] ^ (1u << below(8)) : below(256));
      }
    }
    if (kind >= 2) bytes.resize(below(bytes.size() + 1));  // truncated
    WriteAll("damaged.vrx", bytes);
    try {
      Exercise("damaged.vrx", static_cast<int64_t>(bytes.size()));
    } catch (const std::exception& e) {
      FAIL() << "not an engine error: " << e.what();
    }
  }
  EXPECT_GT(errorsSeen, 100) << "the damage was noticed";
}

}  // namespace
}  // namespace vrx
