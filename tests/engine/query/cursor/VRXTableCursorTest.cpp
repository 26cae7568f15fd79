// Tables in a database file through the cursor's core: creation, the record
// writes with indexes and counters, storage order across pages, drop,
// empty, rename, exclusive opening, and the counters of a reopened table.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/records/VRXRecordPage.h"
#include "tests/support/TableTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TVRXDiskTableData::Register();
    TVRXDiskDatabaseOptions options;
    options.fileName = "t.vrx";
    TVRXDiskDatabaseData(options).CreateDatabase();
    session.databaseFileName = "t.vrx";
    session.SetConnected(true);
  }
  void TearDown() override {
    buffers.clear();
    cursors.clear();
    session.SetConnected(false);
  }

  // A cursor of the session on `table`, not yet open.
  TVRXLocalCursor& Cursor(const std::string& table) {
    cursors.push_back(std::make_unique<TVRXLocalCursor>());
    TVRXLocalCursor& cursor = *cursors.back();
    cursor.session = &session;
    cursor.tableName = table;
    return cursor;
  }

  // Table T: ID AUTOINC, Name STRING(n), Body INTEGER; unique index on ID,
  // plain index on Body.
  void CreateT(int32_t nameSize = 20, bool indexes = true) {
    TVRXFieldDefs fields;
    fields.AddField("ID", TVRXAdvancedFieldType::AutoInc);
    fields.AddField("Name", TVRXAdvancedFieldType::String, nameSize);
    fields.AddField("Body", TVRXAdvancedFieldType::Integer);
    TVRXIndexDefs defs;
    if (indexes) {
      pelvaro::test::AddIndexDef(defs, "ByID", {"ID"}, {"ASC"}, {"CASE"}).SetUnique(true);
      pelvaro::test::AddIndexDef(defs, "ByBody", {"Body"}, {"ASC"}, {"CASE"});
    }
    TVRXConstraintDefs constraints;
    Cursor("T").CreateTable(fields, defs, constraints);
  }

  // Appends a record (Name, Body) through `cursor`; the Post result.
  int32_t Insert(TVRXLocalCursor& cursor, const std::string& name, int32_t body) {
    std::span<uint8_t> buffer = Buffer(cursor);
    cursor.InitRecord(buffer, true);
    TVRXVariant v;
    v.SetAsString(name);
    cursor.SetFieldValue(v, 1, buffer);
    v.SetAsInteger(body);
    cursor.SetFieldValue(v, 2, buffer);
    cursor.Post(true);
    return cursor.lastResult;
  }

  // The Body values in storage order.
  std::vector<int32_t> Bodies(TVRXLocalCursor& cursor) {
    std::span<uint8_t> buffer = Buffer(cursor);
    std::vector<int32_t> out;
    cursor.First();
    while (cursor.GetRecord(TVRXReadRequest::kNext) == 0) {
      TVRXVariant v;
      cursor.GetFieldValue(v, 2, buffer);
      out.push_back(v.GetAsInteger());
    }
    return out;
  }

  // The cursor's record buffer, kept for the fixture's life.
  std::span<uint8_t> Buffer(TVRXLocalCursor& cursor) {
    std::unique_ptr<TVRXRecordBuffer>& buffer = buffers[&cursor];
    if (buffer == nullptr || buffer->Span().size() != static_cast<size_t>(cursor.recordBufferSize))
      buffer = std::make_unique<TVRXRecordBuffer>(cursor);
    cursor.recordBuffer = *buffer;
    return *buffer;
  }

  TVRXLocalSession session;
  std::map<TVRXLocalCursor*, std::unique_ptr<TVRXRecordBuffer>> buffers;
  std::vector<std::unique_ptr<TVRXLocalCursor>> cursors;
};

TEST_F(TableTest, CreateWithoutFieldsAllocatesNothing) {
  const int32_t pagesBefore = session.DatabaseData().PageManager()->GetTotalPageCount();
  TVRXFieldDefs none;
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  EXPECT_EQ(MessageOf([&] { Cursor("Empty").CreateTable(none, indexes, constraints); }),
            "Error creating table - no fields were specified - Native error: 20128");
  EXPECT_FALSE(session.TableExists("Empty"));
  EXPECT_EQ(session.DatabaseData().PageManager()->GetTotalPageCount(), pagesBefore);
  EXPECT_FALSE(session.DatabaseData().PageManager()->HasChanges(kSystemSessionID));
}

TEST_F(TableTest, RecordTooLargeIsRefused) {
  TVRXFieldDefs fields;
  fields.AddField("Big", TVRXAdvancedFieldType::String, 5000);
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  EXPECT_NE(MessageOf([&] { Cursor("Big").CreateTable(fields, indexes, constraints); })
                .find("Record is too large to fit in current database page"),
            std::string::npos);
  EXPECT_FALSE(session.TableExists("Big"));
}

TEST_F(TableTest, FortyRecordsOfHundredBytesFillOnePage) {
  // 1 bitmap byte + 4 (ID) + 91 (STRING(90)) + 4 (Body) = 100 bytes.
  CreateT(90, false);
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  TVRXDiskRecordManager& records = *cursor.TableData()->DiskRecordManager();
  ASSERT_EQ(records.DiskRecordSize(), 100);
  ASSERT_EQ(records.RecordsPerPage(), 40);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Insert(cursor, "r", i), 0);
  TVRXBTreeRecordPageIndex& index = *cursor.TableData()->RecordPageIndex();
  EXPECT_EQ(index.PageCount(0), 1);
  const int32_t first = index.FirstPage(0);
  ASSERT_EQ(Insert(cursor, "r", 40), 0);
  EXPECT_EQ(index.PageCount(0), 2);
  EXPECT_NE(index.LastPage(0), first);
  EXPECT_EQ(cursor.currentRecordID.PageNo, index.LastPage(0));
  EXPECT_EQ(cursor.currentRecordID.Slot, 0);
  EXPECT_EQ(records.GetRecordNumber(0, cursor.currentRecordID), 41);
  EXPECT_EQ(MessageOf([&] { records.GetRecordIDByNumber(0, 42); }),
            "Cannot set RecNo greater than RecordCount - Native error: 20113");
  const TVRXRecordID fortieth = records.GetRecordIDByNumber(0, 40);
  EXPECT_EQ(fortieth.PageNo, first);
  EXPECT_EQ(fortieth.Slot, 39);
}

TEST_F(TableTest, EmptiedPageIsFreedAndSteppedOver) {
  CreateT(90, false);
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  for (int i = 0; i < 81; ++i) ASSERT_EQ(Insert(cursor, "r", i), 0);
  TVRXBTreeRecordPageIndex& index = *cursor.TableData()->RecordPageIndex();
  ASSERT_EQ(index.PageCount(0), 3);
  // Delete every record of the middle page.
  const int32_t middle = index.NextPage(0, index.FirstPage(0));
  Buffer(cursor);
  for (int slot = 0; slot < 40; ++slot) {
    cursor.currentRecordID = {middle, static_cast<uint16_t>(slot)};
    cursor.atBOF = cursor.atEOF = false;
    ASSERT_EQ(cursor.GetRecord(TVRXReadRequest::kCurrent), 0);
    cursor.Delete();
    ASSERT_EQ(cursor.lastResult, 0);
  }
  EXPECT_EQ(index.PageCount(0), 2);
  std::vector<int32_t> expected;
  for (int i = 0; i < 40; ++i) expected.push_back(i);
  expected.push_back(80);
  EXPECT_EQ(Bodies(cursor), expected);
  // The freed page now belongs to nobody: a record ID into it is gone.
  cursor.currentRecordID = {middle, 0};
  cursor.atBOF = cursor.atEOF = false;
  EXPECT_EQ(cursor.GetRecord(TVRXReadRequest::kCurrent), 3);
}

TEST_F(TableTest, RecordIDIntoPageOfAnotherTableIsNotFound) {
  CreateT();
  TVRXFieldDefs fields;
  fields.AddField("X", TVRXAdvancedFieldType::Integer);
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  Cursor("U").CreateTable(fields, indexes, constraints);
  TVRXLocalCursor& t = Cursor("T");
  t.OpenTable();
  ASSERT_EQ(Insert(t, "a", 1), 0);
  const TVRXRecordID id = t.currentRecordID;
  Buffer(t);
  t.Delete();
  ASSERT_EQ(t.lastResult, 0);
  TVRXLocalCursor& u = Cursor("U");
  u.OpenTable();
  u.InitRecord(Buffer(u), false);
  u.Post(true);
  ASSERT_EQ(u.lastResult, 0);
  // T's freed page went to U (the first free page is taken again).
  ASSERT_EQ(u.currentRecordID.PageNo, id.PageNo);
  ASSERT_EQ(Insert(t, "b", 2), 0);  // T holds a record elsewhere
  t.currentRecordID = id;
  t.atBOF = t.atEOF = false;
  EXPECT_EQ(t.GetRecord(TVRXReadRequest::kCurrent), 3);
}

TEST_F(TableTest, UniqueIndexRefusesDuplicateAndUpdatesKeepIndexesInStep) {
  CreateT(20, false);
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  // Added to an existing table, a unique index implies its constraint.
  TVRXIndexDef unique;
  unique.SetName("ByID");
  unique.SetColumns({"ID"}, {"ASC"}, {"CASE"});
  unique.SetUnique(true);
  cursor.AddIndex(unique);
  EXPECT_EQ(cursor.constraintDefs.Count(), 1);
  EXPECT_EQ(MessageOf([&] { cursor.AddIndex(unique); }),
            "Cannot create index 'ByID'. Index already exists - Native error: 30528");
  ASSERT_EQ(Insert(cursor, "a", 10), 0);
  ASSERT_EQ(Insert(cursor, "b", 20), 0);
  // An explicit ID equal to an existing one violates the unique index.
  std::span<uint8_t> buffer = Buffer(cursor);
  cursor.InitRecord(buffer, true);
  TVRXVariant v;
  v.SetAsInteger(1);
  cursor.SetFieldValue(v, 0, buffer);
  cursor.Post(true);
  EXPECT_EQ(cursor.lastResult, crCheckFailed);
  EXPECT_FALSE(cursor.lastErrorText.empty());
  EXPECT_EQ(cursor.GetRecordCount(), 2);

  // Update Body of the first record.
  cursor.First();
  ASSERT_EQ(cursor.GetRecord(TVRXReadRequest::kNext), 0);
  v.SetAsInteger(11);
  cursor.SetFieldValue(v, 2, buffer);
  cursor.Post(false);
  ASSERT_EQ(cursor.lastResult, 0);
  EXPECT_EQ(Bodies(cursor), (std::vector<int32_t>{11, 20}));
  TVRXBaseIndexManager& indexes = *cursor.TableData()->IndexManager();
  for (int32_t i = 0; i < indexes.IndexDefs().Count(); ++i) {
    auto& object = static_cast<TVRXBTreeIndexObject&>(
        indexes.GetIndex(indexes.IndexDefs().Index(i).ID()));
    EXPECT_EQ(object.Index().Tree().Count(0), 2);
  }
}

TEST_F(TableTest, ReopenedTableHasItsCountersAsLastWritten) {
  CreateT();
  {
    TVRXLocalCursor& cursor = Cursor("T");
    cursor.OpenTable();
    for (int i = 0; i < 5; ++i) ASSERT_EQ(Insert(cursor, "x", i), 0);
    cursor.CloseTable();
  }
  TVRXLocalCursor& again = Cursor("T");
  again.OpenTable();
  EXPECT_EQ(again.GetRecordCount(), 5);
  EXPECT_EQ(again.TableData()->DiskRecordManager()->ChangeCounter(), 5);
  ASSERT_EQ(Insert(again, "y", 99), 0);
  TVRXVariant id;
  again.GetFieldValue(id, 0, Buffer(again));
  EXPECT_EQ(id.GetAsInteger(), 6);
}

TEST_F(TableTest, EmptyingResetsAutoincAndKeepsIndexes) {
  CreateT();
  {
    TVRXLocalCursor& cursor = Cursor("T");
    cursor.OpenTable();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Insert(cursor, "x", i), 0);
    cursor.CloseTable();
  }
  Cursor("T").EmptyTable();
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  EXPECT_EQ(cursor.GetRecordCount(), 0);
  EXPECT_EQ(cursor.GetIndexDefs().Count(), 2);
  ASSERT_EQ(Insert(cursor, "y", 1), 0);
  TVRXVariant id;
  cursor.GetFieldValue(id, 0, Buffer(cursor));
  EXPECT_EQ(id.GetAsInteger(), 1);
  // The indexes were emptied, not dropped: each holds the new record only.
  TVRXBaseIndexManager& indexes = *cursor.TableData()->IndexManager();
  for (int32_t i = 0; i < indexes.IndexDefs().Count(); ++i) {
    auto& object = static_cast<TVRXBTreeIndexObject&>(
        indexes.GetIndex(indexes.IndexDefs().Index(i).ID()));
    EXPECT_EQ(object.Index().Tree().Count(0), 1) << indexes.IndexDefs().Index(i).Name();
  }
}

TEST_F(TableTest, TextValuesStoredThroughTheCursorAndWhichAreNull) {
  TVRXFieldDefs fields;
  fields.AddField("S", TVRXAdvancedFieldType::String, 20);
  fields.AddField("W", TVRXAdvancedFieldType::WideString, 5);
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  Cursor("Texts").CreateTable(fields, indexes, constraints);
  TVRXLocalCursor& cursor = Cursor("Texts");
  cursor.OpenTable();
  EXPECT_EQ(cursor.fieldDefs.Field(0).MemorySize(), 21);
  // A wide text whose first character has a zero low byte is a value; an
  // empty text is NULL, narrow or wide.
  const struct {
    std::string narrow;
    std::u16string wide;
    bool narrowPresent;
    bool widePresent;
  } cases[] = {
      {"abc", u"\u0100x", true, true},
      {"", u"", false, false},
      {"12345678901234567890", u"\u0200", true, true},
  };
  for (const auto& c : cases) {
    std::span<uint8_t> buffer = Buffer(cursor);
    cursor.InitRecord(buffer, false);
    TVRXVariant v;
    v.SetAsString(c.narrow);
    cursor.SetFieldValue(v, 0, buffer);
    v.SetAsWideString(c.wide);
    cursor.SetFieldValue(v, 1, buffer);
    cursor.Post(true);
    ASSERT_EQ(cursor.lastResult, 0);
    ASSERT_EQ(cursor.GetRecord(TVRXReadRequest::kCurrent), 0);
    TVRXVariant narrow;
    TVRXVariant wide;
    EXPECT_EQ(cursor.GetFieldValue(narrow, 0, buffer), c.narrowPresent) << c.narrow;
    EXPECT_EQ(cursor.GetFieldValue(wide, 1, buffer), c.widePresent) << c.narrow;
    if (c.narrowPresent) {
      EXPECT_EQ(narrow.GetAsString(), c.narrow);
    }
    if (c.widePresent) {
      EXPECT_EQ(wide.GetAsWideString(), c.wide);
    }
  }
}

TEST_F(TableTest, ExclusiveOpenRefusedWhileOpenAndSecondCursorRefusedWhileExclusive) {
  CreateT();
  TVRXLocalCursor& shared = Cursor("T");
  shared.OpenTable();
  TVRXLocalCursor& second = Cursor("T");
  second.OpenTable();
  TVRXLocalCursor& exclusive = Cursor("T");
  exclusive.exclusive = true;
  const std::string refusal =
      "Cannot access table 'T' in exclusive mode. Probably the table is open by another cursors "
      "- Native error: 20242";
  EXPECT_EQ(MessageOf([&] { exclusive.OpenTable(); }), refusal);
  shared.CloseTable();
  second.CloseTable();
  exclusive.OpenTable();
  EXPECT_EQ(MessageOf([&] { Cursor("T").OpenTable(); }), refusal);
}

TEST_F(TableTest, RenameFieldAndTable) {
  CreateT();
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  EXPECT_EQ(MessageOf([&] { cursor.RenameField("Body", "body"); }),
            "Cannot rename field 'Body'. Field 'body' already exists - Native error: 30344");
  EXPECT_EQ(MessageOf([&] { cursor.RenameField("Nope", "X"); }),
            "Field 'Nope' not found - Native error: 30343");
  cursor.RenameField("Body", "Points");
  EXPECT_EQ(cursor.fieldDefs.Field(2).Name(), "Points");
  EXPECT_EQ(cursor.GetIndexDefs().Index(1).Columns()[0].FieldName, "Points");
  cursor.CloseTable();
  TVRXLocalCursor& renamer = Cursor("T");
  EXPECT_EQ(MessageOf([&] { renamer.RenameTable("t"); }),
            "Cannot rename table 'T' into itself - Native error: 30537");
  renamer.RenameTable("T2");
  EXPECT_TRUE(session.TableExists("T2"));
  EXPECT_FALSE(session.TableExists("T"));
  TVRXLocalCursor& reopened = Cursor("T2");
  reopened.OpenTable();
  EXPECT_EQ(reopened.fieldDefs.Field(2).Name(), "Points");
}

TEST_F(TableTest, DropGivesBackEveryPage) {
  const int32_t lastBefore = [&] {
    auto* disk = static_cast<TVRXDiskDatabaseData&>(session.DatabaseData()).DiskPageManager();
    return disk->MainHeader().lastUsedPage;
  }();
  CreateT();
  {
    TVRXLocalCursor& cursor = Cursor("T");
    cursor.OpenTable();
    for (int i = 0; i < 300; ++i) ASSERT_EQ(Insert(cursor, "x", i), 0);
    cursor.CloseTable();
  }
  Cursor("T").DeleteTable();
  EXPECT_FALSE(session.TableExists("T"));
  EXPECT_EQ(MessageOf([&] { Cursor("T").DeleteTable(); }),
            "Table 'T' not found - Native error: 30535");
  // A new table of the same size takes the freed pages again.
  CreateT();
  auto* disk = static_cast<TVRXDiskDatabaseData&>(session.DatabaseData()).DiskPageManager();
  EXPECT_LE(disk->MainHeader().lastUsedPage, lastBefore + 16);
}

TEST_F(TableTest, RollbackOfTransactionRestoresRecordsAndCounters) {
  CreateT();
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  ASSERT_EQ(Insert(cursor, "kept", 1), 0);
  session.StartTransaction();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Insert(cursor, "gone", i), 0);
  EXPECT_EQ(cursor.GetRecordCount(), 51);
  session.Rollback();
  EXPECT_EQ(cursor.GetRecordCount(), 1);
  EXPECT_EQ(Bodies(cursor), (std::vector<int32_t>{1}));
  EXPECT_EQ(MessageOf([&] { session.Commit(false); }),
            "Database is not in transaction. Cannot perform operation - Native error: 30532");
}

TEST_F(TableTest, AnUnknownCurrentIndexIsAnEngineError) {
  CreateT();
  TVRXLocalCursor& cursor = Cursor("T");
  cursor.OpenTable();
  ASSERT_EQ(Insert(cursor, "r", 1), 0);
  cursor.indexID = 9999;
  for (int32_t mode : {1, 2})
    EXPECT_NE(MessageOf([&] { cursor.GetRecord(mode); }).find("Native error"), std::string::npos);
}

}  // namespace
}  // namespace vrx
