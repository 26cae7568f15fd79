// Out of memory at every allocation of one commit: a compressed BLOB value is
// written into new pages and a directory page that names them is changed,
// all in one commit. The memory manager fails its N-th allocation, for
// N = 1, 2, ... until the commit gets through. Every failure must be an
// engine error, give back every byte it took (the manager's count, and
// LeakSanitizer at exit), and leave a file that reopens as before the commit
// or as after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/base/VRXStream.h"
#include "engine/storage/blob/VRXBlobStream.h"
#include "engine/storage/compression/VRXCompression.h"
#include "engine/storage/file/VRXJournal.h"
#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/storage/pages/VRXPageLayout.h"

namespace vrx {
namespace {

const std::string kDb = "oom.vrx";
constexpr uint16_t kPageSize = 1024;
constexpr int32_t kSession = 1;
constexpr uint32_t kDirectoryMagic = 0xB10BB10B;

// Directory page layout: magic, value size, block count, block size,
// compressed size, page count, then the page numbers.
enum DirectoryField { kMagic = 0, kValueSize = 4, kBlocks = 8, kBlockSize = 12,
                      kCompressedSize = 16, kPageCount = 20, kPages = 24 };

// Four random bits a byte: about half of it survives compression, so that
// the value spreads over several pages.
std::vector<uint8_t> Value() {
  std::mt19937 random(7);
  std::vector<uint8_t> value(20000);
  for (uint8_t& byte : value) byte = static_cast<uint8_t>(random() % 16);
  return value;
}

void Open(TVRXDiskPageManager& pm) {
  bool multiUser = false;
  bool repairNeeded = false;
  bool readOnly = false;
  pm.OpenDatabaseFile(kDb, {}, multiUser, true, repairNeeded, readOnly);
  ASSERT_FALSE(repairNeeded);
}

// A new database with an empty directory page; returns its number.
int32_t CreateDatabase() {
  std::remove(kDb.c_str());
  std::remove(JournalFileName(kDb).c_str());
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile(kDb, {}, kDefaultExtentSize, kPageSize);
  int32_t directory = -1;
  {
    TVRXPageGuard page(pm, pm.AddPage(kSession, ptTableRecord));
    directory = page->PageNo();
  }
  pm.ApplyChanges(kSession);
  pm.CloseDatabaseFile();
  return directory;
}

// The commit under test: the value compressed into a temporary stream,
// spread over new pages, and the directory page changed to name them.
void WriteValueInOneCommit(TVRXDiskPageManager& pm, int32_t directory,
                           const std::vector<uint8_t>& value) {
  TVRXTemporaryStream stored;
  TVRXBLOBDescriptor descriptor;
  descriptor.compressionAlgorithm = kCompressionZlib;
  descriptor.compressionMode = 6;
  descriptor.blockSize = 4096;
  int64_t blocks = 0;
  {
    TVRXCompressedBLOBStream blob(stored, false, true, descriptor);
    WriteChecked(value.data(), static_cast<int32_t>(value.size()), blob, 1);
    blocks = blob.Blocks().Count();
  }
  const auto compressedSize = static_cast<int32_t>(stored.GetSize());
  std::vector<uint8_t> compressed(static_cast<size_t>(compressedSize));
  stored.SetPosition(0);
  ReadChecked(compressed.data(), compressedSize, stored, 2);

  std::vector<int32_t> pages;
  for (int32_t done = 0; done < compressedSize;) {
    TVRXPageGuard page(pm, pm.AddPage(kSession, ptTableBlob));
    const int32_t n = std::min(page->DataSize(), compressedSize - done);
    std::copy_n(compressed.data() + done, n, page->Data());
    done += n;
    pages.push_back(page->PageNo());
  }
  TVRXPageGuard page(pm, pm.GetPage(kSession, directory, ptTableRecord));
  uint8_t* d = page->Data();
  bytes::StoreU32(d + kMagic, kDirectoryMagic);
  bytes::StoreI32(d + kValueSize, static_cast<int32_t>(value.size()));
  bytes::StoreI32(d + kBlocks, static_cast<int32_t>(blocks));
  bytes::StoreI32(d + kBlockSize, descriptor.blockSize);
  bytes::StoreI32(d + kCompressedSize, compressedSize);
  bytes::StoreI32(d + kPageCount, static_cast<int32_t>(pages.size()));
  for (size_t i = 0; i < pages.size(); ++i) bytes::StoreI32(d + kPages + 4 * i, pages[i]);
  page->SetDirty(true);
  page.Release();
  pm.ApplyChanges(kSession);
}

// Reopens the file: true when it holds the value, false when the directory
// is as before the commit; fails the test for anything else.
bool ReopenedHoldsTheValue(int32_t directory, const std::vector<uint8_t>& value) {
  TVRXDiskPageManager pm;
  Open(pm);
  TVRXPageGuard page(pm, pm.GetPage(kSession, directory, ptTableRecord));
  const uint8_t* d = page->Data();
  if (bytes::LoadU32(d + kMagic) != kDirectoryMagic) {
    for (int i = 0; i < page->DataSize(); ++i) EXPECT_EQ(d[i], 0) << "directory byte " << i;
    return false;
  }
  TVRXMemoryStream stored;
  const int32_t compressedSize = bytes::LoadI32(d + kCompressedSize);
  for (int32_t i = 0, done = 0; i < bytes::LoadI32(d + kPageCount); ++i) {
    TVRXPageGuard blobPage(pm, pm.GetPage(kSession, bytes::LoadI32(d + kPages + 4 * i), ptTableBlob));
    const int32_t n = std::min(blobPage->DataSize(), compressedSize - done);
    WriteChecked(blobPage->Data(), n, stored, 3);
    done += n;
  }
  TVRXBLOBDescriptor descriptor;
  descriptor.compressionAlgorithm = kCompressionZlib;
  descriptor.compressionMode = 6;
  descriptor.blockSize = bytes::LoadI32(d + kBlockSize);
  descriptor.numBlocks = bytes::LoadI32(d + kBlocks);
  descriptor.uncompressedSize = bytes::LoadI32(d + kValueSize);
  TVRXCompressedBLOBStream blob(stored, false, false, descriptor);
  std::vector<uint8_t> read(value.size());
  ReadChecked(read.data(), static_cast<int32_t>(read.size()), blob, 4);
  EXPECT_EQ(read, value);
  return true;
}

TEST(OutOfMemory, EveryFailedAllocationOfACommitLeavesTheFileBeforeOrAfterIt) {
  TVRXMemoryManager& memory = TVRXMemoryManager::Instance();
  const std::vector<uint8_t> value = Value();
  const int32_t directory = CreateDatabase();
  const int64_t baseline = memory.AllocatedBytes();

  int64_t n = 1;
  for (;; ++n) {
    ASSERT_LT(n, 10000) << "the commit never got through";
    bool failed = false;
    {
      TVRXDiskPageManager pm;
      Open(pm);
      memory.FailAllocation(n);
      try {
        WriteValueInOneCommit(pm, directory, value);
      } catch (const std::exception& e) {
        failed = true;
        EXPECT_EQ(typeid(e), typeid(EVRXException)) << "allocation " << n << ": " << e.what();
      }
      const bool injected = memory.AllocationsBeforeFailure() == 0;
      memory.FailAllocation(0);
      EXPECT_EQ(failed, injected) << "allocation " << n << ": a failure is reported exactly "
                                     "when one was injected";
      if (failed) pm.CancelChanges(kSession);
      pm.CloseDatabaseFile();
    }
    EXPECT_EQ(memory.AllocatedBytes(), baseline) << "allocation " << n << " leaked";
    const bool after = ReopenedHoldsTheValue(directory, value);
    if (!failed) {
      EXPECT_TRUE(after) << "the commit that got through is in the file";
      break;
    }
    if (after) {
      // The commit reached the file before the failure: start the next
      // round from the same file as this one.
      ASSERT_EQ(CreateDatabase(), directory);
    }
  }
  EXPECT_GT(n, 5) << "the commit allocates through the memory manager";
  RecordProperty("allocations", static_cast<int>(n));
}

}  // namespace
}  // namespace vrx
