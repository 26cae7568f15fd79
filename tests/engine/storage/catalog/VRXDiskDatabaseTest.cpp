// The database file as a whole: the pages of a new database, the table list
// (names at the length limit, case-insensitive lookups), sessions in
// multi-user and single-user mode in one process and between processes,
// commit, rollback, object IDs, the tables lock and the registry.
#include "engine/storage/catalog/VRXDiskDatabaseData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/catalog/VRXDatabaseRegistry.h"
#include "engine/storage/compression/VRXCompression.h"
#include "tests/engine/storage/catalog/CatalogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using pelvaro::test::ReadAll;
using pelvaro::test::ReadFile;
using test::DataAt;
using test::PageAt;
using test::RunInChild;

const char* const kMaxConnectionsMessage =
    "Cannot connect session. Maximum connections quantity exceeded or database is open in "
    "single-user mode - Native error: 20094";

TVRXDiskDatabaseOptions Options(const std::string& name, int32_t maxConnections = 500) {
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  options.maxConnections = maxConnections;
  return options;
}

void CreateDatabase(const std::string& name, int32_t maxConnections = 500) {
  TVRXDiskDatabaseData(Options(name, maxConnections)).CreateDatabase();
}

TVRXDatabaseSession Session(bool multiUser) {
  TVRXDatabaseSession session;
  session.multiUser = multiUser;
  return session;
}

TVRXTableEntry CreateTable(TVRXDiskDatabaseData& db, const std::string& name) {
  return db.CreateTableFiles(name, [](TVRXInternalDBTransactedAccessFile& metadata,
                                      TVRXInternalDBTransactedAccessFile& mostUpdated) {
    metadata.WriteFile(kSystemSessionID, "meta", 1, kCompressionZlib, 4);
    mostUpdated.WriteFile(kSystemSessionID, "\0\0\0\0", 0, kCompressionNone, 4);
  });
}

std::vector<std::string> Tables(TVRXDatabaseData& db) {
  std::vector<std::string> names;
  db.GetTablesList(names);
  return names;
}

std::vector<uint8_t> Bytes(const std::vector<uint8_t>& file, int64_t at, size_t count) {
  return {file.begin() + at, file.begin() + at + static_cast<int64_t>(count)};
}

TEST(DiskDatabaseTest, NewDatabaseHoldsDirectorySessionSlotsAndTableList) {
  CreateDatabase("new.vrx");
  const auto file = ReadAll("new.vrx");
  ASSERT_EQ(file.size(), static_cast<size_t>(PageAt(6)));
  const struct {
    int32_t page;
    uint16_t type;
    std::vector<uint8_t> data;
  } pages[] = {
      {2, ptFileSystemDirectory, {10, 10, 0, 0, 0, 10, 0, 0, 0, 0, 2, 3, 0, 0, 0, 1, 4, 0, 0, 0}},
      {3, ptActiveSessionList, {10, 0xF4, 1, 0, 0, 0, 0, 0, 0, 0}},
      {4, ptTableList, {10, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& p : pages) {
    SCOPED_TRACE(p.page);
    EXPECT_EQ(Bytes(file, PageAt(p.page), 4), (std::vector<uint8_t>{'V', 'R', 'X', 'P'}));
    EXPECT_EQ(bytes::LoadU16(&file[PageAt(p.page) + 8]), p.type);
    EXPECT_EQ(bytes::LoadI32(&file[PageAt(p.page) + 10]), -1);
    EXPECT_EQ(Bytes(file, PageAt(p.page) + 14, 18),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(Bytes(file, DataAt(p.page), p.data.size()), p.data);
    // Nothing else in the data area.
    const auto rest = Bytes(file, DataAt(p.page) + static_cast<int64_t>(p.data.size()),
                            static_cast<size_t>(test::kData) - p.data.size());
    EXPECT_EQ(std::count(rest.begin(), rest.end(), 0), static_cast<long>(rest.size()));
  }

  TVRXDiskDatabaseData db(Options("new.vrx"));
  TVRXDatabaseSession session = Session(false);
  db.AddSession(session);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(session.sessionID, 0);
  EXPECT_FALSE(session.repairNeeded);
  EXPECT_EQ(db.MaxConnections(), 500);
  EXPECT_EQ(db.SystemDirectory()->FindEntry(kActiveSessionsFileId), 3);
  EXPECT_EQ(db.SystemDirectory()->FindEntry(kTableListFileId), 4);
  EXPECT_EQ(db.SystemDirectory()->FindEntry(7), -1);
  EXPECT_TRUE(Tables(db).empty());
  db.RemoveSession(session);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(session.sessionID, kInvalidSessionID);
  EXPECT_EQ(MessageOf([&] { db.GetNextObjectID(); }),
            "Error - database file is not opened. - Native error: 30399");
}

class OpenDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDatabase("t.vrx");
    db_.AddSession(session_);
  }
  void TearDown() override { db_.RemoveSession(session_); }

  TVRXDiskDatabaseData db_{Options("t.vrx")};
  TVRXDatabaseSession session_ = Session(false);
};

TEST_F(OpenDatabaseTest, TablesGetTheirFilesIdsAndEntryBytes) {
  const TVRXTableEntry hraci = CreateTable(db_, "HRACI");
  // Lock file of 500 x 12 bytes over two pages, then metadata, most-updated.
  EXPECT_EQ(hraci.tableID, 1);
  EXPECT_EQ(hraci.lockFilePage, 5);
  EXPECT_EQ(hraci.metadataPage, 7);
  EXPECT_EQ(hraci.mostUpdatedPage, 8);
  EXPECT_EQ(CreateTable(db_, "seskupeni").tableID, 2);
  EXPECT_EQ(db_.GetNextObjectID(), 3);

  TVRXInternalDBDirectAccessFile lockFile(*db_.DiskPageManager(), ptTableLocks);
  lockFile.Open(hraci.lockFilePage);
  EXPECT_EQ(lockFile.Size(), 6000);
  EXPECT_EQ(lockFile.Pages(), (std::vector<int32_t>{5, 6}));
  TVRXInternalDBTransactedAccessFile metadata(*db_.DiskPageManager(), ptTableMetaData,
                                              hraci.metadataPage);
  EXPECT_EQ(metadata.ReadAll(0), (std::vector<uint8_t>{'m', 'e', 't', 'a'}));
  EXPECT_EQ(metadata.GetSize(0).algorithm, kCompressionZlib);

  db_.RemoveSession(session_);
  const auto file = ReadAll("t.vrx");
  std::vector<uint8_t> entry(272, 0);
  entry[0] = 5;
  std::memcpy(&entry[1], "HRACI", 5);
  bytes::StoreI32(&entry[256], 1);
  bytes::StoreI32(&entry[260], 7);
  bytes::StoreI32(&entry[264], 8);
  bytes::StoreI32(&entry[268], 5);
  EXPECT_EQ(Bytes(file, DataAt(4), 10),
            (std::vector<uint8_t>{10, 0x20, 2, 0, 0, 0x20, 2, 0, 0, 0}));
  EXPECT_EQ(Bytes(file, DataAt(4) + 10, 272), entry);
  db_.AddSession(session_);
}

TEST_F(OpenDatabaseTest, NamesAreFoundWithoutRegardToCaseAndCutTo255Bytes) {
  CreateTable(db_, "HRACI");
  EXPECT_EQ(db_.FindTableEntry("Hraci").name, "HRACI");
  EXPECT_TRUE(db_.TableExists("hRaCi"));
  EXPECT_EQ(MessageOf([&] { CreateTable(db_, "hraci"); }),
            "Cannot create table. Table 'hraci' already exists - Native error: 30395");
  EXPECT_EQ(MessageOf([&] { db_.FindTableEntry("param"); }),
            "Table 'param' not exists. - Native error: 30396");

  const std::string name255(255, 'a');
  const std::string name300 = std::string(300, 'b');
  // 2-byte characters: a cut at 255 bytes would split the 128th one.
  std::string czech;
  for (int i = 0; i < 150; ++i) czech += "\xC4\x8D";
  CreateTable(db_, name255);
  CreateTable(db_, name300);
  CreateTable(db_, czech);
  db_.RemoveSession(session_);
  db_.AddSession(session_);
  EXPECT_EQ(Tables(db_), (std::vector<std::string>{"HRACI", name255, std::string(255, 'b'),
                                                   czech.substr(0, 254)}));
  EXPECT_EQ(db_.FindTableEntry(name300).name, std::string(255, 'b'));
  EXPECT_EQ(MessageOf([&] { CreateTable(db_, std::string(255, 'B') + "x"); }),
            "Cannot create table. Table '" + std::string(255, 'B') +
                "x' already exists - Native error: 30395");
}

TEST_F(OpenDatabaseTest, EntriesAreDeletedAndRenamedInPlace) {
  for (const char* name : {"hraci", "seskupeni", "param"}) CreateTable(db_, name);
  db_.DeleteTableEntry("SESKUPENI");
  db_.RenameTableEntry("Hraci", "players");
  db_.DiskPageManager()->ApplyChanges(kSystemSessionID);
  EXPECT_EQ(Tables(db_), (std::vector<std::string>{"players", "param"}));
  const struct {
    std::function<void()> call;
    const char* message;
  } refused[] = {
      {[&] { db_.DeleteTableEntry("seskupeni"); },
       "Table 'seskupeni' not exists. - Native error: 30405"},
      {[&] { db_.RenameTableEntry("seskupeni", "x"); },
       "Table 'seskupeni' not exists. - Native error: 30397"},
      {[&] { db_.RenameTableEntry("players", "PARAM"); },
       "Cannot rename table. Table 'PARAM' already exists - Native error: 30474"},
  };
  for (const auto& r : refused) EXPECT_EQ(MessageOf(r.call), r.message);
  db_.RenameTableEntry("players", "PLAYERS");
  db_.DiskPageManager()->ApplyChanges(kSystemSessionID);
  EXPECT_EQ(Tables(db_), (std::vector<std::string>{"PLAYERS", "param"}));
}

TEST_F(OpenDatabaseTest, AFailedCreationLeavesNothingBehind) {
  CreateTable(db_, "hraci");
  const int32_t lastUsed = db_.DiskPageManager()->MainHeader().lastUsedPage;
  const auto fails = [](TVRXInternalDBTransactedAccessFile& metadata,
                        TVRXInternalDBTransactedAccessFile&) {
    metadata.WriteFile(kSystemSessionID, "x", 0, kCompressionBzip, 1);  // mode 0: refused
  };
  EXPECT_EQ(MessageOf([&] { db_.CreateTableFiles("seskupeni", fails); }),
            "Table file compression error - Native error: 20187");
  EXPECT_EQ(Tables(db_), std::vector<std::string>{"hraci"});
  EXPECT_FALSE(db_.DiskPageManager()->HasChanges(kSystemSessionID));
  // The pages it had taken are free again and the tables lock was given back.
  CreateTable(db_, "seskupeni");
  EXPECT_EQ(db_.FindTableEntry("seskupeni").lockFilePage, lastUsed + 1);
}

TEST_F(OpenDatabaseTest, CommitRollbackAndFlush) {
  TVRXDiskPageManager& pm = *db_.DiskPageManager();
  TVRXInternalDBTransactedAccessFile file(pm, ptTableMostUpdated);
  file.Create(kSystemSessionID);
  pm.ApplyChanges(kSystemSessionID);
  file.WriteFile(0, "kept", 0, kCompressionNone, 4);
  db_.Commit(0, true);
  file.WriteFile(0, "lost", 0, kCompressionNone, 4);
  db_.Rollback(0);
  EXPECT_EQ(file.ReadAll(0), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
  const int32_t first = file.FirstPage();
  db_.RemoveSession(session_);
  db_.AddSession(session_);
  TVRXInternalDBTransactedAccessFile reread(*db_.DiskPageManager(), ptTableMostUpdated, first);
  EXPECT_EQ(reread.ReadAll(0), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
  db_.FlushBuffers();

  // The last session's open transaction is rolled back when it leaves.
  reread.WriteFile(0, "gone", 0, kCompressionNone, 4);
  session_.inTransaction = true;
  db_.RemoveSession(session_);
  EXPECT_FALSE(session_.inTransaction);
  db_.AddSession(session_);
  TVRXInternalDBTransactedAccessFile third(*db_.DiskPageManager(), ptTableMostUpdated, first);
  EXPECT_EQ(third.ReadAll(0), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
}

TEST(DiskDatabaseSessionsTest, AThirdMultiUserSessionIsRefusedInTheSameProcess) {
  CreateDatabase("m.vrx", 2);
  TVRXDiskDatabaseData db(Options("m.vrx"));
  TVRXDatabaseSession one = Session(true), two = Session(true), three = Session(true);
  db.AddSession(one);
  db.AddSession(two);
  EXPECT_EQ(db.MaxConnections(), 2);
  EXPECT_EQ(one.sessionID, 0);
  EXPECT_EQ(two.sessionID, 1);
  EXPECT_EQ(MessageOf([&] { db.AddSession(three); }), kMaxConnectionsMessage);
  EXPECT_EQ(three.sessionID, kInvalidSessionID);
  EXPECT_EQ(db.SessionCount(), 2);
  // A single-user session cannot join a multi-user database.
  TVRXDatabaseSession single = Session(false);
  EXPECT_EQ(MessageOf([&] { db.AddSession(single); }),
            "Cannot open database in multi-user and signle-user mode at the same time - Native "
            "error: 20235");
  db.RemoveSession(one);
  db.AddSession(three);
  EXPECT_EQ(three.sessionID, 0);
  db.RemoveSession(two);
  db.RemoveSession(three);
  EXPECT_FALSE(db.IsOpen());
}

TEST(DiskDatabaseSessionsTest, SlotsAreSharedWithAnotherProcess) {
  CreateDatabase("m.vrx", 2);
  TVRXDiskDatabaseData db(Options("m.vrx"));
  TVRXDatabaseSession one = Session(true);
  db.AddSession(one);
  // The other process gets the second slot, and only that one.
  EXPECT_EQ(RunInChild([] {
              TVRXDiskDatabaseData other(Options("m.vrx"));
              TVRXDatabaseSession a = Session(true), b = Session(true);
              other.AddSession(a);
              const int slot = a.sessionID;
              const std::string refused = MessageOf([&] { other.AddSession(b); });
              other.RemoveSession(a);
              return slot == 1 && refused == kMaxConnectionsMessage ? 0 : 1;
            }),
            0);
  TVRXDatabaseSession two = Session(true);
  db.AddSession(two);
  EXPECT_EQ(two.sessionID, 1);
  EXPECT_EQ(RunInChild(
                [] {
                  TVRXDiskDatabaseData other(Options("m.vrx"));
                  TVRXDatabaseSession a = Session(true);
                  other.AddSession(a);
                  return 0;
                },
                "child.txt"),
            99);
  EXPECT_EQ(ReadFile("child.txt"), kMaxConnectionsMessage);
  db.RemoveSession(one);
  db.RemoveSession(two);
}

TEST(DiskDatabaseSessionsTest, SingleUserAgainstMultiUserBetweenProcesses) {
  CreateDatabase("s.vrx");
  {
    TVRXDiskDatabaseData db(Options("s.vrx"));
    TVRXDatabaseSession single = Session(false), second = Session(false);
    db.AddSession(single);
    db.AddSession(second);
    EXPECT_TRUE(db.HoldsSingleUserLock());
    EXPECT_FALSE(single.readOnly);
    EXPECT_EQ(second.sessionID, 0);
    // Multi-user in another process: no slot can be had.
    EXPECT_EQ(RunInChild(
                  [] {
                    TVRXDiskDatabaseData other(Options("s.vrx"));
                    TVRXDatabaseSession a = Session(true);
                    other.AddSession(a);
                    return 0;
                  },
                  "child.txt"),
              99);
    EXPECT_EQ(ReadFile("child.txt"), kMaxConnectionsMessage);
    // Single-user in another process: the database, but read-only, and
    // catalog changes are refused.
    EXPECT_EQ(RunInChild([] {
                TVRXDiskDatabaseData other(Options("s.vrx"));
                TVRXDatabaseSession a = Session(false);
                other.AddSession(a);
                const bool ok = a.readOnly && other.ReadOnly() && !other.HoldsSingleUserLock() &&
                                MessageOf([&] { CreateTable(other, "x"); }) ==
                                    "Cannot change database 's.vrx'. Database is open read-only "
                                    "- Native error: 30475";
                other.RemoveSession(a);
                return ok ? 0 : 1;
              }),
              0);
    db.RemoveSession(single);
    db.RemoveSession(second);
  }
  // The other way round: a multi-user session keeps a single-user process read-only.
  TVRXDiskDatabaseData db(Options("s.vrx"));
  TVRXDatabaseSession multi = Session(true);
  db.AddSession(multi);
  EXPECT_EQ(RunInChild([] {
              TVRXDiskDatabaseData other(Options("s.vrx"));
              TVRXDatabaseSession a = Session(false);
              other.AddSession(a);
              const bool readOnly = a.readOnly;
              other.RemoveSession(a);
              return readOnly ? 0 : 1;
            }),
            0);
  db.RemoveSession(multi);
  // Once everybody has left, a single-user process gets it writable.
  EXPECT_EQ(RunInChild([] {
              TVRXDiskDatabaseData other(Options("s.vrx"));
              TVRXDatabaseSession a = Session(false);
              other.AddSession(a);
              const bool writable = !a.readOnly;
              other.RemoveSession(a);
              return writable ? 0 : 1;
            }),
            0);
}

TEST(DiskDatabaseSessionsTest, TheTablesLockIsHeldOncePerDatabaseFile) {
  CreateDatabase("l.vrx");
  TVRXDiskDatabaseData a(Options("l.vrx")), b(Options("l.vrx"));
  TVRXDatabaseSession sa = Session(true), sb = Session(true);
  a.AddSession(sa);
  b.AddSession(sb);
  a.DiskPageManager()->SetLockRetry(2, 1);
  b.DiskPageManager()->SetLockRetry(2, 1);
  a.LockTables();
  EXPECT_EQ(MessageOf([&] { b.LockTables(); }), "Database tables are locked - Native error: 20210");
  EXPECT_EQ(MessageOf([&] { a.LockTables(); }), "Database tables are locked - Native error: 20210");
  EXPECT_EQ(MessageOf([&] { CreateTable(b, "x"); }),
            "Database tables are locked - Native error: 20210");
  a.UnlockTables();
  CreateTable(b, "x");
  // The other handle sees the new table when it reloads its list.
  EXPECT_EQ(Tables(a), std::vector<std::string>{"x"});
  CreateTable(a, "y");
  EXPECT_EQ(Tables(b), (std::vector<std::string>{"x", "y"}));
  a.RemoveSession(sa);
  b.RemoveSession(sb);
}

TEST(DatabaseRegistryTest, OneObjectPerFileFreedWithItsLastSession) {
  CreateDatabase("r.vrx");
  TVRXDatabaseRegistry& registry = TVRXDatabaseRegistry::Instance();
  const int before = registry.Count();
  TVRXDatabaseSession one = Session(false), two = Session(false);
  TVRXDiskDatabaseData& first = registry.ConnectDisk(Options("r.vrx"), one);
  TVRXDiskDatabaseData& second = registry.ConnectDisk(Options("./sub/../r.vrx"), two);
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(registry.FindByFileName("r.vrx"), &first);
  EXPECT_EQ(registry.Count(), before + 1);
  EXPECT_FALSE(first.FreeIfUnused());
  registry.Disconnect(first, one);
  EXPECT_EQ(registry.Count(), before + 1);
  registry.Disconnect(second, two);
  EXPECT_EQ(registry.Count(), before);
  EXPECT_EQ(registry.FindByFileName("r.vrx"), nullptr);
  // A file that is no database: the connection fails and nothing stays registered.
  pelvaro::test::WriteFile("junk.vrx", std::string(1000, 'j'));
  TVRXDatabaseSession three = Session(false);
  EXPECT_NE(MessageOf([&] { registry.ConnectDisk(Options("junk.vrx"), three); }), "no exception");
  EXPECT_EQ(registry.Count(), before);
}

}  // namespace
}  // namespace vrx
