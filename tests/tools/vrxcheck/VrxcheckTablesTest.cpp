// vrxcheck on the records of a table: a table written through cursors
// (inserts, updates, deletes across several record pages, a unique and a
// plain index) is sound, and each kind of damage to its record pages,
// record page index, counters and indexes, and a page without owner or
// with two, is one line saying what is wrong where.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "tests/support/TableTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tools/vrxcheck/VRXCheck.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

int64_t PageAt(int32_t pageNo) { return 380 + int64_t{pageNo} * 4096; }
int64_t DataAt(int32_t pageNo) { return PageAt(pageNo) + 40; }

// Where the pages of table T lie.
struct Layout {
  int32_t tableID = -1;
  std::vector<int32_t> recordPages;
  int32_t pageIndexRoot = -1;
  int32_t byBodyRoot = -1;
  int32_t mostUpdatedPage = -1;
  int32_t diskRecordSize = 0;
  std::vector<int32_t> amounts;  // used slots of each record page
  int64_t recordCount = 0;
};

// Table T (ID AUTOINC, Name STRING(200), Body INTEGER; unique index ByID,
// plain index ByBody) with 50 records inserted, every third updated and
// some deleted: three record pages of at most 19 records.
Layout MakeDatabase(const std::string& name) {
  pelvaro::test::CreateDatabaseFile(name);
  TVRXLocalSession session;
  pelvaro::test::ConnectSession(session, name);
  Layout layout;
  {
    TVRXFieldDefs fields;
    TVRXIndexDefs indexes;
    pelvaro::test::DefineTableT(fields, indexes);
    TVRXConstraintDefs constraints;
    TVRXLocalCursor cursor;
    cursor.session = &session;
    cursor.tableName = "T";
    cursor.CreateTable(fields, indexes, constraints);
    cursor.OpenTable();
    TVRXRecordBuffer buffer(cursor);
    cursor.recordBuffer = buffer;
    pelvaro::test::FillTableT(cursor, buffer);
    TVRXDiskTableData& table = *cursor.TableData();
    layout.tableID = table.TableID();
    table.RecordPageIndex()->ForEachPage(session.sessionID, [&](int32_t page, int32_t amount) {
      layout.recordPages.push_back(page);
      layout.amounts.push_back(amount);
      return true;
    });
    layout.recordCount = cursor.GetRecordCount();
    layout.pageIndexRoot = table.RecordPageIndex()->RootPage();
    const TVRXIndexDefs& defs = table.IndexManager()->IndexDefs();
    layout.byBodyRoot = defs.Index(defs.IndexOfName("ByBody")).RootPage();
    layout.diskRecordSize = table.DiskRecordManager()->DiskRecordSize();
  }
  auto& disk = dynamic_cast<TVRXDiskDatabaseData&>(session.DatabaseData());
  layout.mostUpdatedPage = disk.FindTableEntry("T").mostUpdatedPage;
  session.SetConnected(false);
  return layout;
}

std::string Check(const std::string& name, int& code) {
  std::ostringstream out;
  code = check::CheckDatabaseFile(name, out);
  return out.str();
}

TEST(VrxcheckTablesTest, TableWrittenThroughCursorsIsSound) {
  const Layout layout = MakeDatabase("ok.vrx");
  ASSERT_EQ(layout.recordPages.size(), 3u);
  int code = -1;
  const std::string out = Check("ok.vrx", code);
  EXPECT_EQ(code, check::kSound) << out;
}

TEST(VrxcheckTablesTest, EachDamageIsNamed) {
  const Layout layout = MakeDatabase("base.vrx");
  ASSERT_EQ(layout.recordPages.size(), 3u);
  const auto base = ReadAll("base.vrx");
  const int32_t first = layout.recordPages[0];
  const int32_t second = layout.recordPages[1];
  const std::string table = "table 'T' ";
  // Slot 0 of the first page was deleted, slot 2 holds a record.
  const int64_t slot2Body = DataAt(first) + 3 + 2 * layout.diskRecordSize + 1 + 4 + 201;
  std::vector<uint8_t> tableID(4);
  bytes::StoreI32(tableID.data(), layout.tableID + 1);
  std::vector<uint8_t> bodyPage(4);
  bytes::StoreI32(bodyPage.data(), layout.byBodyRoot);
  const struct {
    const char* what;
    int64_t offset;
    std::vector<uint8_t> bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"record page of another type",
       PageAt(first) + 8,
       {11, 0},
       {table + "record page " + std::to_string(first) +
        ": expected TableRecord Page, found TableBlob Page"}},
      {"record page of another table",
       PageAt(second) + 22,
       tableID,
       {table + "record page " + std::to_string(second) + ": carries table ID " +
        std::to_string(layout.tableID + 1) + ", the table's is " + std::to_string(layout.tableID)}},
      {"slot emptied behind the index's back",
       DataAt(first),
       {0xFA},  // slot 2 cleared as well
       {table + "record page " + std::to_string(first) + ": the record page index counts " +
            std::to_string(layout.amounts[0]) + " records, the page holds " +
            std::to_string(layout.amounts[0] - 1),
        table + "index 'ByID': entry for record (" + std::to_string(first) +
            ", 2), which does not exist"}},
      {"field changed behind the index's back",
       slot2Body,
       {77},
       {table + "index 'ByBody': the key of record (" + std::to_string(first) +
        ", 2) is not the record's"}},
      {"record page index listing an index page",
       DataAt(layout.pageIndexRoot) + 18,
       bodyPage,
       {"page " + std::to_string(layout.byBodyRoot) + ": held by table 'T' index 'ByBody' and by " +
            "table 'T' record page",
        "page " + std::to_string(first) +
            ": TableRecord Page in use but held by no table or file"}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = base;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.offset);
    WriteAll("damaged.vrx", bytes);
    int code = -1;
    const std::string out = Check("damaged.vrx", code);
    EXPECT_EQ(code, check::kProblems) << c.what << "\n" << out;
    for (const std::string& line : c.lines)
      EXPECT_NE(out.find("\n" + line), std::string::npos) << c.what << ": " << line << "\n" << out;
  }
}

// Runs `change` on the database file `name` in a session of its own and
// commits it.
void ChangeDatabase(const std::string& name,
                    const std::function<void(TVRXDiskDatabaseData&, int32_t sessionID)>& change) {
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  TVRXDiskDatabaseData db(options);
  TVRXDatabaseSession session;
  db.AddSession(session);
  change(db, session.sessionID);
  db.DiskPageManager()->ApplyChanges(session.sessionID);
  db.RemoveSession(session);
}

TEST(VrxcheckTablesTest, StoredRecordCountAgainstThePages) {
  const Layout layout = MakeDatabase("count.vrx");
  ChangeDatabase("count.vrx", [&](TVRXDiskDatabaseData& db, int32_t sessionID) {
    TVRXInternalDBTransactedAccessFile file(*db.DiskPageManager(), ptTableMostUpdated,
                                            layout.mostUpdatedPage);
    std::vector<uint8_t> content = file.ReadAll(sessionID);
    ASSERT_EQ(content.size(), 4u + 3 * 8 + 8);
    bytes::StoreI32(content.data() + 4 + 3 * 8 + 4, 99);
    file.WriteFile(sessionID, content.data(), 0, 0, static_cast<int32_t>(content.size()));
  });
  int code = -1;
  const std::string out = Check("count.vrx", code);
  EXPECT_EQ(code, check::kProblems) << out;
  EXPECT_NE(out.find("\ntable 'T' most-updated file: record count 99, the record page index "
                     "counts " +
                     std::to_string(layout.recordCount) + "\n"),
            std::string::npos)
      << out;
}

TEST(VrxcheckTablesTest, PageWithoutOwnerIsLeaked) {
  MakeDatabase("leak.vrx");
  int32_t leaked = -1;
  ChangeDatabase("leak.vrx", [&](TVRXDiskDatabaseData& db, int32_t sessionID) {
    TVRXPageManager& pages = *db.DiskPageManager();
    TVRXPageGuard page(pages, pages.AddPage(sessionID, ptTableIndex));
    leaked = page->PageNo();
  });
  int code = -1;
  const std::string out = Check("leak.vrx", code);
  EXPECT_EQ(code, check::kProblems) << out;
  EXPECT_NE(out.find("\npage " + std::to_string(leaked) +
                     ": TableIndex Page in use but held by no table or file\n"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace vrx
