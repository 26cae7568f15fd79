// vrxcheck on the catalog of a real database: the summary of a sound one,
// and one problem line naming the file (or table) and page for each kind of
// damage to the system directory, the session slot file, the table list and
// the tables' metadata, most-updated and lock files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/catalog/VRXTableFiles.h"
#include "tests/support/TestSupport.h"
#include "tools/vrxcheck/VRXCheck.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

int64_t PageAt(int32_t pageNo) { return 380 + int64_t{pageNo} * 4096; }
int64_t DataAt(int32_t pageNo) { return PageAt(pageNo) + 40; }

// Tables "a" (lock file 5-6, metadata 7, most-updated 8) and "b" (9-10,
// 11, 12).
void MakeDatabase(const std::string& name) {
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  TVRXDiskDatabaseData db(options);
  db.CreateDatabase();
  TVRXDatabaseSession session;
  db.AddSession(session);
  for (const char* table : {"a", "b"})
    db.CreateTableFiles(table, [](TVRXInternalDBTransactedAccessFile& metadata,
                                  TVRXInternalDBTransactedAccessFile& mostUpdated) {
      WriteTableMetadata(metadata, kSystemSessionID, TVRXTableMetadata());
      mostUpdated.WriteFile(kSystemSessionID, "\0\0\0\0\0\0\0\0\0\0\0\0", 0, 0, 12);
    });
  db.RemoveSession(session);
}

std::string Check(const std::string& name, int& code) {
  std::ostringstream out;
  code = check::CheckDatabaseFile(name, out);
  return out.str();
}

TEST(VrxcheckCatalogTest, SoundCatalog) {
  MakeDatabase("ok.vrx");
  int code = -1;
  const std::string out = Check("ok.vrx", code);
  EXPECT_EQ(code, check::kSound) << out;
  for (const char* line : {"\nsystem directory: 2 entries\n", "\nsession slots: 500\n",
                           "\ntables: 2\n", "  TableMetaData Page: 2\n", "\nok\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

TEST(VrxcheckCatalogTest, EachDamageIsOneLineNamingFileAndPage) {
  MakeDatabase("base.vrx");
  const auto base = ReadAll("base.vrx");
  std::vector<uint8_t> nameA(257, 0);
  const struct {
    const char* what;
    int64_t offset;
    std::vector<uint8_t> bytes;
    const char* line;
  } cases[] = {
      {"directory page type",
       PageAt(2) + 8,
       {6, 0},
       "system directory: page 2: expected FileSystemDirectory Page, found TableList Page"},
      {"directory entry unknown",
       DataAt(2) + 10,
       {9},
       "system directory: page 2: entry 9 is unknown"},
      {"session slot file type",
       PageAt(3) + 8,
       {7, 0},
       "session slot file: page 3: expected ActiveSessionList Page, found TableLocks Page"},
      {"table list into the directory",
       PageAt(4) + 10,
       {2, 0, 0, 0},
       "table list: page 4: next page 2 also belongs to system directory"},
      {"metadata shared by two tables",
       DataAt(4) + 10 + 272 + 260,
       {7, 0, 0, 0},
       "table 'b' metadata file: first page 7 also belongs to table 'a' metadata file"},
      {"metadata chain loops",
       PageAt(7) + 10,
       {7, 0, 0, 0},
       "table 'a' metadata file: page 7: next page 7 loops back into the chain"},
      {"metadata content",
       DataAt(7) + 12,
       {0xFF, 0xFF, 0xFF},
       "table 'a' metadata file: page 7: Table file decompression error. Probably table is "
       "corrupted - Native error: 20189"},
      {"most-updated out of range",
       PageAt(12) + 10,
       {0xA0, 0x86, 1, 0},
       "table 'b' most-updated file: page 12: next page 100000 is out of range"},
      {"lock file size",
       DataAt(5) + 1,
       {12, 0, 0, 0},
       "table 'a' lock file: page 5: size 12, expected 6000 (12 bytes per session slot)"},
      {"lock file page type",
       PageAt(10) + 8,
       {9, 0},
       "table 'b' lock file: page 10: expected TableLocks Page, found TableMostUpdated Page"},
      {"a name twice",
       DataAt(4) + 10 + 272,
       {1, 'A'},
       "table list: page 4: table 'A' is listed twice"},
      {"a table ID twice",
       DataAt(4) + 10 + 272 + 256,
       {1, 0, 0, 0},
       "table list: page 4: table 'b' has the ID 1 of table 'a'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = base;
    std::memcpy(bytes.data() + c.offset, c.bytes.data(), c.bytes.size());
    WriteAll("bad.vrx", bytes);
    int code = -1;
    const std::string out = Check("bad.vrx", code);
    EXPECT_EQ(code, check::kProblems) << out;
    EXPECT_NE(out.find(std::string("\n") + c.line), std::string::npos) << out;
  }
}

TEST(VrxcheckCatalogTest, CatalogPageOutsideEveryFile) {
  MakeDatabase("stray.vrx");
  auto bytes = ReadAll("stray.vrx");
  // Table "b" is dropped from the list (count of entries 2 -> 1): its pages
  // stay in use and belong to no file of the catalog.
  bytes::StoreI32(&bytes[DataAt(4) + 1], 272);
  bytes::StoreI32(&bytes[DataAt(4) + 5], 272);
  WriteAll("stray.vrx", bytes);
  int code = -1;
  const std::string out = Check("stray.vrx", code);
  EXPECT_EQ(code, check::kProblems);
  for (const char* line : {"\npage 9: TableLocks Page in use but in no file of the catalog\n",
                           "\npage 11: TableMetaData Page in use but in no file of the catalog\n",
                           "\npage 12: TableMostUpdated Page in use but in no file of the "
                           "catalog\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
}

}  // namespace
}  // namespace vrx

namespace vrx {
namespace {

// Table "t" with an index "byNum" over a tree of a few levels; returns a
// leaf page of that tree (not the first).
int32_t MakeDatabaseWithIndex(const std::string& name) {
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  TVRXDiskDatabaseData db(options);
  db.CreateDatabase();
  TVRXDatabaseSession session;
  db.AddSession(session);
  TVRXTableMetadata metadata;
  metadata.Fields().AddField("Num", TVRXAdvancedFieldType::Integer);
  metadata.Fields().ComputeOffsets();
  auto definition = std::make_unique<TVRXIndexDef>();
  definition->SetName("byNum");
  definition->SetColumns({"Num"}, {"ASC"}, {"CASE"});
  TVRXPageManager& pages = *db.DiskPageManager();
  TVRXBTreeRecordIndex index(pages, metadata.Fields(), nullptr);
  index.CreateIndex(kSystemSessionID, nullptr, *definition);
  std::vector<uint8_t> record(static_cast<size_t>(metadata.Fields().MemoryRecordSize()), 0);
  for (int32_t i = 0; i < 3000; ++i) {
    bytes::StoreI32(record.data() + metadata.Fields().Field(0).MemoryOffset(), i);
    index.InsertKey({kSystemSessionID, record, {}, TVRXRecordID{i, 0}});
  }
  TVRXKeyPath path;
  index.Tree().First(kSystemSessionID, path);
  index.StepNext(kSystemSessionID, path);
  while (path.Leaf().EntryIndex != 0) index.StepNext(kSystemSessionID, path);
  const int32_t leaf = path.Leaf().PageNo;
  pages.ApplyChanges(kSystemSessionID);
  definition->SetRootPage(index.RootPage());
  metadata.Indexes().Add(std::move(definition));
  db.CreateTableFiles("t", [&](TVRXInternalDBTransactedAccessFile& file,
                               TVRXInternalDBTransactedAccessFile& mostUpdated) {
    WriteTableMetadata(file, kSystemSessionID, metadata);
    mostUpdated.WriteFile(kSystemSessionID, "\0\0\0\0\0\0\0\0\0\0\0\0", 0, 0, 12);
  });
  db.RemoveSession(session);
  return leaf;
}

TEST(VrxcheckCatalogTest, IndexTreesAreWalkedAndEachBrokenRuleIsOneLine) {
  const int32_t leaf = MakeDatabaseWithIndex("tree.vrx");
  int code = -1;
  std::string out = Check("tree.vrx", code);
  EXPECT_EQ(code, check::kSound) << out;

  // The leaf's previous link points at itself: the chain is broken from
  // both sides of that page.
  std::vector<uint8_t> bytes = ReadAll("tree.vrx");
  bytes::StoreI32(bytes.data() + DataAt(leaf) + 2, leaf);
  WriteAll("tree.vrx", bytes);
  out = Check("tree.vrx", code);
  EXPECT_EQ(code, check::kProblems) << out;
  const std::string line = "table 't' index 'byNum': page " + std::to_string(leaf) +
                           ": previous link " + std::to_string(leaf) + ", expected ";
  EXPECT_NE(out.find(line), std::string::npos) << out;
}

}  // namespace
}  // namespace vrx
