// The disk page manager: file creation and opening, the commit protocol,
// the cache and the change sets, object IDs, locks and two managers sharing
// one file in multi-user mode.
#include "engine/storage/pages/VRXDiskEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "engine/base/VRXMemory.h"
#include "tests/support/ForwardingFileSystem.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

constexpr int32_t kSession = 1;

struct OpenResult {
  bool multiUser;
  bool readOnly;
  bool repairNeeded;
};

OpenResult Open(TVRXDiskPageManager& pm, const std::string& name, bool multiUser = false,
                bool readOnly = false, bool exclusive = false) {
  OpenResult r{multiUser, readOnly, false};
  pm.OpenDatabaseFile(name, {}, r.multiUser, exclusive, r.repairNeeded, r.readOnly);
  return r;
}

// Adds `count` pages of `type`, each holding its index as text, commits.
std::vector<int32_t> AddPages(TVRXDiskPageManager& pm, int count, uint16_t type = ptTableRecord,
                              const std::string& text = "page") {
  std::vector<int32_t> pageNos;
  for (int i = 0; i < count; ++i) {
    TVRXPageGuard page(pm, pm.AddPage(kSession, type));
    const std::string content = text + std::to_string(i);
    std::memcpy(page->Data(), content.c_str(), content.size() + 1);
    pageNos.push_back(page->PageNo());
  }
  pm.ApplyChanges(kSession);
  return pageNos;
}

std::string PageText(TVRXDiskPageManager& pm, int32_t pageNo, int32_t session = kSession) {
  TVRXPageGuard page(pm, pm.GetPage(session, pageNo, kAnyPageType));
  return reinterpret_cast<const char*>(page->Data());
}

void SetText(TVRXDiskPageManager& pm, int32_t pageNo, const std::string& text,
             int32_t session = kSession) {
  TVRXPageGuard page(pm, pm.GetPage(session, pageNo, kAnyPageType));
  std::memcpy(page->Data(), text.c_str(), text.size() + 1);
  page->SetDirty(true);
}

// A file layer whose writes fail from the armed count on (ENOSPC).
class FullDiskFileSystem final : public pelvaro::test::ForwardingFileSystem {
 public:
  int writesLeft = -1;  // -1: never fail

 protected:
  class FullDiskFile final : public pelvaro::test::ForwardingFile {
   public:
    FullDiskFile(std::unique_ptr<os::File> inner, FullDiskFileSystem& fs)
        : ForwardingFile(std::move(inner)), fs_(fs) {}
    int Write(int64_t o, const void* b, size_t c) override {
      if (fs_.writesLeft == 0) return ENOSPC;
      if (fs_.writesLeft > 0) --fs_.writesLeft;
      return ForwardingFile::Write(o, b, c);
    }

   private:
    FullDiskFileSystem& fs_;
  };

  std::unique_ptr<os::File> Wrap(std::unique_ptr<os::File> file) override {
    return std::make_unique<FullDiskFile>(std::move(file), *this);
  }
};

void CreateEmpty(const std::string& name) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile(name, {});
  pm.CloseDatabaseFile();
}

TEST(DiskEngineTest, NewFileIsExactly380BytesWithTheInitialHeader) {
  CreateEmpty("new.vrx");
  const auto bytes = ReadAll("new.vrx");
  ASSERT_EQ(bytes.size(), 380u);
  const uint8_t expected[] = {'V',  'R',  'A',  'X',  '0',  'N',  'T', 'E',  'D',  'A',  'T',
                              'A',  'B',  'A',  'S',  'E',  76,   0,   0x33, 0x33, 0x33, 0x33,
                              0x33, 0x33, 0x13, 0x40, 0x00, 0x10, 8,   0,    0,    0,    0,
                              0,    0xFF, 0xFF, 0xFF, 0xFF, 0,    0,   0,    0,    2,    0};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + sizeof expected),
            std::vector<uint8_t>(std::begin(expected), std::end(expected)));
  for (size_t i = sizeof expected; i < 76; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[76], 0x18);  // crypto header size 280
  EXPECT_EQ(bytes[77], 0x01);
  for (size_t i = 78; i < 356; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[356], 20);  // layout block size
  for (size_t i = 357; i < 380; ++i) EXPECT_EQ(bytes[i], 0) << i;

  TVRXDiskPageManager pm;
  const OpenResult r = Open(pm, "new.vrx");
  EXPECT_FALSE(r.repairNeeded);
  EXPECT_FALSE(r.readOnly);
  EXPECT_EQ(pm.GetTotalPageCount(), 0);
  EXPECT_EQ(pm.MainHeader().lastUsedPage, -1);
  EXPECT_EQ(pm.MainHeader().state, 2);
  EXPECT_EQ(pm.MainHeader().version, 4.8);
  EXPECT_EQ(pm.MainHeader().commitCounter, 0);
  EXPECT_EQ(pm.StartOffset(), 0);
}

TEST(DiskEngineTest, CreateRefusesBadArgumentsAndAnOpenFile) {
  TVRXDiskPageManager pm;
  EXPECT_EQ(MessageOf([&] { pm.CreateDatabaseFile("x.vrx", {}, 8, 40); }),
            "Invalid page size = 40 or extent size = 8 - Native error: 30449");
  pm.CreateDatabaseFile("x.vrx", {});
  EXPECT_EQ(MessageOf([&] { pm.CreateDatabaseFile("y.vrx", {}); }),
            "Error - database file x.vrx is in use. - Native error: 10461");
  bool multiUser = false;
  bool repair = false;
  bool readOnly = false;
  EXPECT_EQ(
      MessageOf([&] { pm.OpenDatabaseFile("y.vrx", {}, multiUser, false, repair, readOnly); }),
      "Error - database file x.vrx is in use. - Native error: 10462");
}

TEST(DiskEngineTest, EncryptedDatabasesAreRefusedWithoutWritingAnything) {
  CreateEmpty("plain.vrx");
  const auto before = ReadAll("plain.vrx");
  TVRXDiskPageManager pm;
  EXPECT_EQ(MessageOf([&] {
              pm.CreateDatabaseFile("plain.vrx", {"secret", 0});
            }),
            "Cannot create database 'plain.vrx': encrypted databases are not supported - Native "
            "error: 30448");
  EXPECT_EQ(ReadAll("plain.vrx"), before) << "the existing file is left alone";
  EXPECT_EQ(MessageOf([&] {
              pm.CreateDatabaseFile("other.vrx", {"secret", 0});
            }),
            "Cannot create database 'other.vrx': encrypted databases are not supported - Native "
            "error: 30448");
  EXPECT_FALSE(std::ifstream("other.vrx").good());

  auto encrypted = before;
  encrypted[43] = 0xFF;
  WriteAll("enc.vrx", encrypted);
  EXPECT_EQ(MessageOf([&] { Open(pm, "enc.vrx"); }),
            "Cannot open database 'enc.vrx': encrypted databases are not supported - Native "
            "error: 30447");
  EXPECT_EQ(ReadAll("enc.vrx"), encrypted);
}

TEST(DiskEngineTest, DatabaseStoredInsideALargerFile) {
  std::vector<int32_t> pageNos;
  {
    TVRXDiskPageManager pm;
    pm.CreateDatabaseFile("inner.vrx", {});
    pageNos = AddPages(pm, 3);
    pm.GetNextObjectID();
    pm.CloseDatabaseFile();
  }
  auto bytes = std::vector<uint8_t>(25000, 'x');
  const auto inner = ReadAll("inner.vrx");
  bytes.insert(bytes.end(), inner.begin(), inner.end());
  WriteAll("outer.vrx", bytes);

  TVRXDiskPageManager pm;
  Open(pm, "outer.vrx");
  EXPECT_EQ(pm.StartOffset(), 25000);
  EXPECT_EQ(pm.PageOffset(2), 25000 + 380 + 2 * 4096);
  EXPECT_EQ(PageText(pm, pageNos[1]), "page1");
  EXPECT_EQ(pm.GetNextObjectID(), 2);
  SetText(pm, pageNos[2], "changed");
  pm.ApplyChanges(kSession);
  const auto after = ReadAll("outer.vrx");
  ASSERT_EQ(after.size(), bytes.size());
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(&after[25000 + 380 + pageNos[2] * 4096 + 40])),
      "changed");
  EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + 25000),
            std::vector<uint8_t>(25000, 'x'));

  WriteAll("junk.vrx", std::vector<uint8_t>(30000, 'x'));
  TVRXDiskPageManager junk;
  EXPECT_EQ(MessageOf([&] { Open(junk, "junk.vrx"); }),
            "Invalid file format. Found signature: 'xxxxxxxxxxxxxxxx', expected: "
            "'VRAX0NTEDATABASE' - Native error: 10470");
}

TEST(DiskEngineTest, StateAndVersionDecideRepairNeeded) {
  CreateEmpty("r.vrx");
  const auto fresh = ReadAll("r.vrx");
  const struct {
    uint8_t state;
    double version;
    bool repairNeeded;
  } cases[] = {{2, 4.8, false},  {1, 4.8, true}, {2, 2.5, true},
               {2, 2.99, false}, {0, 4.8, true}, {1, 2.5, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + " " + std::to_string(c.version));
    auto bytes = fresh;
    bytes[42] = c.state;
    bytes::StoreDouble(bytes.data() + 18, c.version);
    WriteAll("r.vrx", bytes);
    TVRXDiskPageManager pm;
    EXPECT_EQ(Open(pm, "r.vrx").repairNeeded, c.repairNeeded);
  }
}

TEST(DiskEngineTest, DamagedHeadersGiveTheFormatErrors) {
  CreateEmpty("d.vrx");
  const auto fresh = ReadAll("d.vrx");
  const struct {
    const char* what;
    size_t offset;
    uint8_t value;
  } cases[] = {{"crypto header size", 76, 0x17}, {"page size", 27, 0},
               {"extent size", 28, 0},           {"total page count", 33, 0x80},
               {"last used page", 34, 5},        {"layout block size", 356, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = fresh;
    bytes[c.offset] = c.value;
    WriteAll("d.vrx", bytes);
    TVRXDiskPageManager pm;
    EXPECT_EQ(MessageOf([&] { Open(pm, "d.vrx"); }),
              "Invalid database format - Native error: 20237");
  }
  WriteAll("short.vrx", std::vector<uint8_t>(fresh.begin(), fresh.begin() + 10));
  TVRXDiskPageManager pm;
  EXPECT_EQ(MessageOf([&] { Open(pm, "short.vrx"); }),
            "Invalid file format. Found signature: 'VRAX0NTEDA', expected: 'VRAX0NTEDATABASE' - "
            "Native error: 10470");
}

TEST(DiskEngineTest, PageTypeCheckAndTheAnyType) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("t.vrx", {});
  const int32_t pageNo = AddPages(pm, 1, ptTableList)[0];
  pm.CloseDatabaseFile();
  TVRXDiskPageManager reader;
  Open(reader, "t.vrx");
  EXPECT_EQ(MessageOf([&] { reader.GetPage(kSession, pageNo, ptTableRecord); }),
            "Invalid page type. Possibly data is corrupted. Expected type 10, but found 6 - "
            "Native error: 20153");
  TVRXPageGuard any(reader, reader.GetPage(kSession, pageNo, kAnyPageType));
  EXPECT_EQ(any->PageType(), ptTableList);
  TVRXPageGuard typed(reader, reader.GetPage(kSession, pageNo, ptTableList));
  EXPECT_EQ(typed.Get(), any.Get());
  EXPECT_EQ(typed->UseCount(), 2);
}

TEST(DiskEngineTest, PageBeyondTheEndOfTheFileHoldsTheInitialHeader) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("b.vrx", {});
  AddPages(pm, 1);
  {
    TVRXPageGuard page(pm, pm.GetPage(kSession, 500, kAnyPageType));
    EXPECT_EQ(page->PageType(), ptUnknown);
    EXPECT_EQ(page->NextPage(), -1);
    EXPECT_TRUE(PageSignatureValid(page->Buffer()));
  }
  EXPECT_EQ(MessageOf([&] { pm.GetPage(kSession, 501, ptTableRecord); }),
            "Invalid page type. Possibly data is corrupted. Expected type 10, but found 0 - "
            "Native error: 20153");
  EXPECT_EQ(MessageOf([&] { pm.GetPage(kSession, -1, kAnyPageType); }),
            "Invalid PageNo = -1 - Native error: 10471");
}

TEST(DiskEngineTest, CommitWritesPagesAndCountsCommits) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("c.vrx", {});
  const auto pageNos = AddPages(pm, 4);
  EXPECT_EQ(pageNos, (std::vector<int32_t>{2, 3, 4, 5}));
  EXPECT_EQ(pm.MainHeader().commitCounter, 1);
  EXPECT_EQ(pm.MainHeader().state, 2);
  const int32_t counterBefore = pm.ReadPageCounter(3);
  SetText(pm, 3, "second");
  pm.ApplyChanges(kSession);
  EXPECT_EQ(pm.ReadPageCounter(3), counterBefore + 1);
  pm.CloseDatabaseFile();

  TVRXDiskPageManager reader;
  Open(reader, "c.vrx");
  EXPECT_EQ(reader.MainHeader().commitCounter, 2);
  EXPECT_EQ(PageText(reader, 3), "second");
  EXPECT_EQ(PageText(reader, 5), "page3");
  TVRXPageGuard page(reader, reader.GetPage(kSession, 2, ptTableRecord));
  EXPECT_LE(page->ModCounter(), kMaxInitialModCounter + 1);
}

TEST(DiskEngineTest, ModificationCounterWrapsOnWrite) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("w.vrx", {});
  const int32_t pageNo = AddPages(pm, 1)[0];
  pm.CloseDatabaseFile();
  {
    TVRXDiskPageManager raw;
    Open(raw, "w.vrx");
    raw.WritePageCounter(pageNo, kMaxModCounter);
  }
  TVRXDiskPageManager writer;
  Open(writer, "w.vrx");
  SetText(writer, pageNo, "wrapped");
  writer.ApplyChanges(kSession);
  EXPECT_EQ(writer.ReadPageCounter(pageNo), 0);
}

TEST(DiskEngineTest, CommitThatChangedNothingLeavesTheFileUntouched) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("n.vrx", {});
  const auto pageNos = AddPages(pm, 3);
  const auto before = ReadAll("n.vrx");
  for (int32_t pageNo : pageNos) PageText(pm, pageNo);  // read, not dirtied
  pm.ApplyChanges(kSession);
  pm.ApplyChanges(77);  // a session never seen
  EXPECT_EQ(ReadAll("n.vrx"), before);
  EXPECT_EQ(pm.MainHeader().commitCounter, 1);
}

TEST(DiskEngineTest, FullCacheWhoseLeastRecentlyUsedPageIsInUseEvictsNothing) {
  std::vector<int32_t> pageNos;
  {
    TVRXDiskPageManager pm;
    pm.CreateDatabaseFile("lru.vrx", {});
    pageNos = AddPages(pm, 3);
  }
  TVRXDiskPageManager pm(os::PosixFileSystem(), /*cacheCapacity=*/2);
  Open(pm, "lru.vrx");
  TVRXPage* oldest = pm.GetPage(kSession, pageNos[0], kAnyPageType);  // held
  PageText(pm, pageNos[1]);
  PageText(pm, pageNos[2]);  // the cache now holds 3 pages, capacity 2
  EXPECT_EQ(pm.CachedPageCount(), 3);
  EXPECT_TRUE(pm.IsCached(pageNos[0]));
  EXPECT_TRUE(pm.IsCached(pageNos[1]));
  pm.PutPage(oldest);  // now the next least recently used can go
  EXPECT_EQ(pm.CachedPageCount(), 2);
  EXPECT_FALSE(pm.IsCached(pageNos[1]));
  EXPECT_TRUE(pm.IsCached(pageNos[0]));
  EXPECT_TRUE(pm.IsCached(pageNos[2]));
}

TEST(DiskEngineTest, CacheCapacityFollowsAvailableMemory) {
  const int32_t expected = static_cast<int32_t>(
      std::min<int64_t>(1000, TVRXMemoryManager::Instance().AvailableMemory() / 65536));
  TVRXDiskPageManager pm;
  EXPECT_NEAR(pm.CacheCapacity(), expected, 5);
  TVRXMemoryManager::Instance().SetLimit(10 * 65536);
  TVRXDiskPageManager limited;
  TVRXMemoryManager::Instance().SetLimit(0);
  EXPECT_EQ(limited.CacheCapacity(), 10);
}

TEST(DiskEngineTest, ObjectIdsAndTheReadOnlyVariant) {
  {
    TVRXDiskPageManager pm;
    pm.CreateDatabaseFile("o.vrx", {});
    EXPECT_EQ(pm.GetNextObjectID(), 1);
    EXPECT_EQ(pm.GetNextObjectID(), 2);
  }
  ASSERT_EQ(chmod("o.vrx", 0444), 0);
  const auto before = ReadAll("o.vrx");
  TVRXDiskPageManager pm;
  const OpenResult r = Open(pm, "o.vrx", /*multiUser=*/true);
  EXPECT_TRUE(r.readOnly) << "the read-only attribute is detected";
  EXPECT_FALSE(r.multiUser) << "and forces single-user";
  const int32_t a = pm.GetNextObjectID();
  const int32_t b = pm.GetNextObjectID();
  EXPECT_GT(a, 2);
  EXPECT_GT(b, 2);
  EXPECT_LE(a, 3 + 9999);
  EXPECT_EQ(ReadAll("o.vrx"), before);
}

TEST(DiskEngineTest, ObjectIdLockHeldElsewhere) {
  CreateEmpty("ol.vrx");
  TVRXDiskPageManager a;
  TVRXDiskPageManager b;
  Open(a, "ol.vrx", true);
  Open(b, "ol.vrx", true);
  ASSERT_TRUE(b.DatabaseFile().LockByte(1, b.ObjectIdOffset()));
  a.SetLockRetry(2, 1);
  EXPECT_EQ(MessageOf([&] { a.GetNextObjectID(); }),
            "Cannot get NextObjectID. File area is Locked. - Native error: 30401");
  b.DatabaseFile().UnlockByte(1, b.ObjectIdOffset());
  EXPECT_EQ(a.GetNextObjectID(), 1);
  EXPECT_EQ(b.GetNextObjectID(), 2);
}

TEST(DiskEngineTest, HeaderLockIsReentrantAndBlocksOthers) {
  CreateEmpty("h.vrx");
  TVRXDiskPageManager a;
  TVRXDiskPageManager b;
  Open(a, "h.vrx", true);
  Open(b, "h.vrx", true);
  b.SetLockRetry(2, 1);
  ASSERT_TRUE(a.LockHeader());
  ASSERT_TRUE(a.LockHeader());
  EXPECT_EQ(a.HeaderLockCount(), 2);
  EXPECT_TRUE(b.DatabaseFile().IsByteLocked(360));
  EXPECT_FALSE(b.LockHeader());
  EXPECT_EQ(MessageOf([&] { b.AddPage(kSession, ptTableRecord); }),
            "Database is locked - Native error: 20231");
  EXPECT_EQ(MessageOf([&] { b.GetTotalPageCount(); }), "Database is locked - Native error: 20236");
  a.UnlockHeader();
  EXPECT_TRUE(b.DatabaseFile().IsByteLocked(360)) << "still held once";
  a.UnlockHeader();
  EXPECT_FALSE(b.DatabaseFile().IsByteLocked(360));
  EXPECT_FALSE(a.UnlockHeader()) << "nothing left to release";

  TVRXPageGuard page(b, b.AddPage(kSession, ptTableRecord));
  page.Release();
  ASSERT_TRUE(a.LockHeader());
  EXPECT_EQ(MessageOf([&] { b.ApplyChanges(kSession); }),
            "Database is locked - Native error: 20213");
  EXPECT_EQ(b.HeaderLockCount(), 0);
  a.UnlockHeader();
  b.ApplyChanges(kSession);
  EXPECT_EQ(b.MainHeader().commitCounter, 1);

  ASSERT_TRUE(a.LockTables());
  EXPECT_FALSE(b.LockTables());
  EXPECT_TRUE(a.UnlockTables());
  EXPECT_TRUE(b.LockTables());
}

TEST(DiskEngineTest, SessionRulesOfTheCache) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("s.vrx", {});
  const auto pageNos = AddPages(pm, 2);
  EXPECT_EQ(MessageOf([&] { pm.GetPage(-1, pageNos[0], kAnyPageType); }),
            "Invalid Session ID - Native error: 20186");
  EXPECT_EQ(MessageOf([&] { pm.GetPage(kSession, 0, kAnyPageType); }),
            "Cannot delete PFS or EAM page. PageNo=0 - Native error: 30434");
  EXPECT_EQ(MessageOf([&] { pm.RemovePage(kSession, 1); }),
            "Cannot delete PFS or EAM page. PageNo=1 - Native error: 30434");

  TVRXPage* held = pm.GetPage(kSession, pageNos[0], kAnyPageType);
  EXPECT_EQ(MessageOf([&] { pm.GetPage(2, pageNos[0], kAnyPageType); }),
            "Page is used by other session - Native error: 20090");
  held->SetDirty(true);
  const auto before = ReadAll("s.vrx");
  EXPECT_EQ(MessageOf([&] { pm.ApplyChanges(kSession); }),
            "Some session pages are not released - Native error: 20152");
  // Not blocked by the header either, and nothing was written.
  EXPECT_EQ(pm.HeaderLockCount(), 0);
  EXPECT_EQ(ReadAll("s.vrx"), before);
  pm.PutPage(held);
  EXPECT_EQ(MessageOf([&] { pm.CloseDatabaseFile(); }),
            "Cannot free not commited pages - Native error: 20097");
  pm.ApplyChanges(kSession);
  EXPECT_NO_THROW(pm.CloseDatabaseFile());
}

TEST(DiskEngineTest, CancelChangesDiscardsAndFreesAddedPages) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("x.vrx", {});
  const auto kept = AddPages(pm, 2);
  SetText(pm, kept[0], "discarded");
  int32_t added;
  {
    TVRXPageGuard page(pm, pm.AddPage(kSession, ptTableBlob));
    added = page->PageNo();
  }
  EXPECT_TRUE(pm.FreeSpace().IsPageUsed(added));
  pm.CancelChanges(kSession);
  EXPECT_FALSE(pm.HasChanges(kSession));
  EXPECT_FALSE(pm.FreeSpace().IsPageUsed(added));
  EXPECT_EQ(pm.ReadPageCounter(added), kInvalidModCounter);
  EXPECT_EQ(PageText(pm, kept[0]), "page0");
}

TEST(DiskEngineTest, RemovedPagesAreFreedAtCommit) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("rm.vrx", {});
  const auto pageNos = AddPages(pm, 3);
  pm.RemovePage(kSession, pageNos[1]);
  EXPECT_TRUE(pm.FreeSpace().IsPageUsed(pageNos[1])) << "nothing happens before the commit";
  pm.ApplyChanges(kSession);
  EXPECT_FALSE(pm.FreeSpace().IsPageUsed(pageNos[1]));
  EXPECT_FALSE(pm.IsCached(pageNos[1]));
  EXPECT_EQ(pm.MainHeader().commitCounter, 2);
  // The freed number is handed out again.
  TVRXPageGuard page(pm, pm.AddPage(kSession, ptTableRecord));
  EXPECT_EQ(page->PageNo(), pageNos[1]);
}

TEST(DiskEngineTest, TwoManagersInMultiUserModeSeeEachOthersCommits) {
  CreateEmpty("mu.vrx");
  TVRXDiskPageManager a;
  TVRXDiskPageManager b;
  ASSERT_TRUE(Open(a, "mu.vrx", true).multiUser);
  const OpenResult rb = Open(b, "mu.vrx", true);
  ASSERT_TRUE(rb.multiUser);
  ASSERT_FALSE(rb.readOnly);

  const int32_t pageNo = AddPages(a, 1, ptTableRecord, "one")[0];
  EXPECT_EQ(PageText(b, pageNo), "one0");
  SetText(a, pageNo, "two");
  a.ApplyChanges(kSession);
  EXPECT_TRUE(b.IsCached(pageNo));
  EXPECT_EQ(PageText(b, pageNo), "two") << "the cached copy was revalidated";
  SetText(b, pageNo, "three");
  b.ApplyChanges(kSession);
  EXPECT_EQ(PageText(a, pageNo), "three");

  // Allocation reloads the map under the header lock: numbers never collide.
  std::vector<int32_t> numbers;
  for (int i = 0; i < 5; ++i) {
    numbers.push_back(AddPages(a, 1)[0]);
    numbers.push_back(AddPages(b, 1)[0]);
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
  EXPECT_EQ(a.GetTotalPageCount(), b.GetTotalPageCount());
  EXPECT_EQ(a.MainHeader().commitCounter, b.MainHeader().commitCounter);
  EXPECT_EQ(b.MainHeader().commitCounter, 13);
}

TEST(DiskEngineTest, SecondSingleUserOpenerGetsReadOnlyAndExclusiveRefusesOthers) {
  CreateEmpty("su.vrx");
  TVRXDiskPageManager first;
  EXPECT_FALSE(Open(first, "su.vrx").readOnly);
  TVRXDiskPageManager second;
  EXPECT_TRUE(Open(second, "su.vrx").readOnly);
  second.CloseDatabaseFile();
  first.CloseDatabaseFile();

  TVRXDiskPageManager owner;
  Open(owner, "su.vrx", true, false, /*exclusive=*/true);
  EXPECT_TRUE(owner.IsExclusive());
  TVRXDiskPageManager other;
  EXPECT_EQ(MessageOf([&] { Open(other, "su.vrx"); }),
            "Cannot open file:'su.vrx' Error code: 16. ErrorMessage: Device or resource busy - "
            "Native error: 30364");
}

TEST(DiskEngineTest, RawPageAccess) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile("raw.vrx", {});
  const int32_t pageNo = AddPages(pm, 1)[0];
  pm.WritePageBytes("abc", pageNo, 3, 100);
  char buffer[4] = {};
  pm.ReadPageBytes(buffer, pageNo, 3, 100);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(MessageOf([&] { pm.ReadPageBytes(buffer, pageNo, 4, 4093); }),
            "Error - invalid page offset = 4093, page size = 4096 - Native error: 10476");
  EXPECT_EQ(MessageOf([&] { pm.WritePageBytes(buffer, pageNo, 4, 4093); }),
            "Error - invalid page offset = 4093, page size = 4096 - Native error: 10477");
  EXPECT_EQ(pm.ReadPageCounter(9999), kInvalidModCounter) << "beyond the end";
  EXPECT_TRUE(pm.LockPageByte(pageNo, 7));
  TVRXDiskPageManager other;
  bool mu = true, repair = false, ro = false;
  pm.CloseDatabaseFile();
  pm.OpenDatabaseFile("raw.vrx", {}, mu, false, repair, ro);
  other.OpenDatabaseFile("raw.vrx", {}, mu, false, repair, ro);
  EXPECT_TRUE(pm.LockPageByte(pageNo, 7));
  EXPECT_TRUE(other.IsPageByteLocked(pageNo, 7));
  EXPECT_TRUE(other.IsPageRegionLocked(pageNo, 0, 8));
  EXPECT_FALSE(other.IsPageRegionLocked(pageNo, 8, 8));
  EXPECT_TRUE(pm.UnlockPageByte(pageNo, 7));
  EXPECT_FALSE(other.IsPageByteLocked(pageNo, 7));
}

// A commit that cannot be written never leaves a half-written file: when
// the journal cannot be written the file is untouched and a retry writes
// everything; when even the rollback of the database writes fails, the
// journal on disk brings the file back at the next open.
TEST(DiskEngineTest, FailedCommitLeavesTheFileAsItWas) {
  struct Case {
    const char* name;
    int writesLeft;  // writes that still get through
    bool retrySucceeds;
  };
  const Case cases[] = {
      {"journal write fails", 0, true},
      {"database write and its rollback fail", 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int32_t> pageNos;
    std::vector<uint8_t> before;
    {
      FullDiskFileSystem fs;
      TVRXDiskPageManager pm(fs);
      pm.CreateDatabaseFile("f.vrx", {});
      pageNos = AddPages(pm, 3);
      before = ReadAll("f.vrx");
      for (int32_t pageNo : pageNos) SetText(pm, pageNo, "new" + std::to_string(pageNo));
      fs.writesLeft = c.writesLeft;
      EXPECT_EQ(MessageOf([&] { pm.ApplyChanges(kSession); }),
                "Cannot flush file buffers for file: 'f.vrx'. ErrorCode:28. ErrorMessage: No "
                "space left on device - Native error: 30379");
      EXPECT_EQ(pm.HeaderLockCount(), 0) << "the header lock is released";
      if (c.retrySucceeds) {
        EXPECT_EQ(ReadAll("f.vrx"), before);
      }
      fs.writesLeft = -1;  // the disk has room again
      if (c.retrySucceeds) {
        pm.ApplyChanges(kSession);  // nothing new: the failed commit's writes go
        EXPECT_EQ(pm.MainHeader().state, kStateConsistent);
        EXPECT_EQ(pm.MainHeader().commitCounter, 2);
        pm.CloseDatabaseFile();
      } else {
        EXPECT_NE(MessageOf([&] { pm.ApplyChanges(kSession); }), "no exception");
      }
    }
    TVRXDiskPageManager pm;
    Open(pm, "f.vrx");
    EXPECT_EQ(pm.MainHeader().state, kStateConsistent);
    for (size_t i = 0; i < pageNos.size(); ++i) {
      const std::string expected =
          c.retrySucceeds ? "new" + std::to_string(pageNos[i]) : "page" + std::to_string(i);
      EXPECT_EQ(PageText(pm, pageNos[i]), expected);
    }
    if (!c.retrySucceeds) {
      pm.CloseDatabaseFile();
      EXPECT_EQ(ReadAll("f.vrx"), before) << "rolled back at the open";
    }
  }
}

}  // namespace
}  // namespace vrx
