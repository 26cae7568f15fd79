// The cursor and session contracts as the dataset layer meets them: result
// codes and their texts, record buffers handed back, positions kept after
// failures, projections, temporary tables, a drop refused under an open
// cursor, two sessions on one table, and transactions that mean what they
// say, down to a process killed before its commit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/VRXMemory.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

void CreateFile(const std::string& name) {
  TVRXDiskTableData::Register();
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  TVRXDiskDatabaseData(options).CreateDatabase();
}

// Table T: ID AUTOINC, Name STRING(20), Body INTEGER, unique index on Body.
void CreateT(TVRXLocalSession& session, const std::string& name = "T") {
  TVRXFieldDefs fields;
  fields.AddField("ID", TVRXAdvancedFieldType::AutoInc);
  fields.AddField("Name", TVRXAdvancedFieldType::String, 20);
  fields.AddField("Body", TVRXAdvancedFieldType::Integer);
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  TVRXLocalCursor creator;
  creator.session = &session;
  creator.tableName = name;
  creator.CreateTable(fields, indexes, constraints);
  // Added to the table, the unique index brings its constraint.
  creator.OpenTable();
  TVRXIndexDef unique;
  unique.SetName("ByBody");
  unique.SetColumns({"Body"}, {"ASC"}, {"CASE"});
  unique.SetUnique(true);
  creator.AddIndex(unique);
}

// An open cursor with its own record buffer.
struct Open {
  Open(TVRXLocalSession& session, const std::string& table = "T", bool temporary = false) {
    cursor.session = &session;
    cursor.tableName = table;
    cursor.temporary = temporary;
    cursor.OpenTable();
    buffer = std::make_unique<TVRXRecordBuffer>(cursor);
    cursor.recordBuffer = *buffer;
  }
  int32_t Insert(const std::string& name, int32_t body) {
    cursor.InitRecord(*buffer, true);
    SetName(name);
    SetBody(body);
    cursor.Post(true);
    return cursor.lastResult;
  }
  void SetName(const std::string& name) {
    TVRXVariant v;
    v.SetAsString(name);
    cursor.SetFieldValue(v, 1, *buffer);
  }
  void SetBody(int32_t body) {
    TVRXVariant v;
    v.SetAsInteger(body);
    cursor.SetFieldValue(v, 2, *buffer);
  }
  int32_t Body() {
    TVRXVariant v;
    cursor.GetFieldValue(v, 2, *buffer);
    return v.GetAsInteger();
  }
  // Positions on the record of that Body; false when none.
  bool Find(int32_t body) {
    cursor.First();
    while (cursor.GetRecord(TVRXReadRequest::kNext) == 0)
      if (Body() == body) return true;
    return false;
  }
  std::vector<int32_t> Bodies() {
    std::vector<int32_t> out;
    cursor.First();
    while (cursor.GetRecord(TVRXReadRequest::kNext) == 0) out.push_back(Body());
    return out;
  }

  TVRXLocalCursor cursor;
  std::unique_ptr<TVRXRecordBuffer> buffer;
};

class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateFile("c.vrx");
    session.databaseFileName = "c.vrx";
    session.SetConnected(true);
    CreateT(session);
  }
  void TearDown() override { session.SetConnected(false); }

  TVRXLocalSession session;
};

TEST(CursorResult, TextsAsADatasetShowsThem) {
  const struct {
    int32_t code;
    const char* message;
  } cases[] = {
      {-1, "Vraxonte Engine Error # -1 Error adding record"},
      {-2, "Vraxonte Engine Error # -2 Error updating record"},
      {-3, "Vraxonte Engine Error # -3 Error deleting record"},
      {-4, "Vraxonte Engine Error # -4 Error updating record - record was modified by other process"},
      {-5, "Vraxonte Engine Error # -5 Error deleting record - record was modified by other process"},
      {-6, "Vraxonte Engine Error # -6 Error updating record - record was deleted by other process"},
      {-7, "Vraxonte Engine Error # -7 Error deleting record - record was deleted by other process"},
      {-8, "Vraxonte Engine Error # -8 the check's own message"},
      {-9, "Vraxonte Engine Error # -9 Cannot update record in temporary mode"},
      {-10, "Vraxonte Engine Error # -10 Cannot delete record in temporary mode"},
      {-11, "Vraxonte Engine Error # -11 Cannot cancel operation in temporary mode"},
      {-12, "Vraxonte Engine Error # -12 Record is locked"},
      {-13, "Vraxonte Engine Error # -13 Table is locked"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EngineErrorText(c.code, "the check's own message"), c.message) << c.code;
}

TEST_F(CursorTest, RecordOperationsReportWhatHappenedAndKeepTheCallersBuffer) {
  Open a(session);
  Open b(session);
  ASSERT_EQ(a.Insert("one", 1), 0);
  ASSERT_EQ(a.Insert("two", 2), 0);

  // A duplicate key: -8 with the constraint's message, nothing written.
  EXPECT_EQ(a.Insert("again", 1), crCheckFailed);
  EXPECT_NE(a.cursor.LastResultMessage().find("Vraxonte Engine Error # -8 "), std::string::npos);
  EXPECT_FALSE(a.cursor.lastErrorText.empty());
  EXPECT_EQ(a.cursor.GetRecordCount(), 2);

  // b changes record 1 under a's feet: a's Edit and Delete see it.
  ASSERT_TRUE(a.Find(1));
  ASSERT_TRUE(b.Find(1));
  b.cursor.Edit();
  ASSERT_EQ(b.cursor.lastResult, 0);
  b.SetName("changed");
  b.cursor.Post(false);
  ASSERT_EQ(b.cursor.lastResult, 0);
  a.SetName("mine");
  a.cursor.Edit();
  EXPECT_EQ(a.cursor.lastResult, crModifiedOnUpdate);
  EXPECT_EQ(a.cursor.LastResultMessage(),
            "Vraxonte Engine Error # -4 Error updating record - record was modified by other "
            "process");
  TVRXVariant name;
  a.cursor.GetFieldValue(name, 1, *a.buffer);
  EXPECT_EQ(name.GetAsString(), "mine");
  a.cursor.Delete();
  EXPECT_EQ(a.cursor.lastResult, crModifiedOnDelete);

  // b deletes record 2 while a holds it: -6 and -7.
  ASSERT_TRUE(a.Find(2));
  ASSERT_TRUE(b.Find(2));
  b.cursor.Delete();
  ASSERT_EQ(b.cursor.lastResult, 0);
  a.cursor.Edit();
  EXPECT_EQ(a.cursor.lastResult, crDeletedOnUpdate);
  a.cursor.Post(false);
  EXPECT_EQ(a.cursor.lastResult, crDeletedOnUpdate);
  a.cursor.Delete();
  EXPECT_EQ(a.cursor.lastResult, crDeletedOnDelete);
  EXPECT_EQ(a.Body(), 2);

  // An edit of an unchanged record goes through; so does its cancel.
  ASSERT_TRUE(a.Find(1));
  a.cursor.Edit();
  ASSERT_EQ(a.cursor.lastResult, 0);
  a.SetBody(10);
  a.cursor.Cancel(false);
  EXPECT_EQ(a.cursor.lastResult, 0);
  a.cursor.Edit();
  a.SetBody(10);
  a.cursor.Post(false);
  EXPECT_EQ(a.cursor.lastResult, 0);
  EXPECT_EQ(b.Bodies(), (std::vector<int32_t>{10}));
}

TEST_F(CursorTest, TemporaryTableRefusesEditsAndGoesWithItsLastCursor) {
  CreateT(session, "Result");
  {
    Open result(session, "Result", true);
    ASSERT_EQ(result.Insert("row", 1), 0);
    ASSERT_TRUE(result.Find(1));
    const struct {
      std::function<void()> call;
      int32_t code;
    } refused[] = {
        {[&] { result.cursor.Edit(); }, crTemporaryUpdate},
        {[&] { result.cursor.Delete(); }, crTemporaryDelete},
        {[&] { result.cursor.Cancel(false); }, crTemporaryCancel},
    };
    for (const auto& r : refused) {
      r.call();
      EXPECT_EQ(result.cursor.lastResult, r.code);
    }
    EXPECT_EQ(result.Bodies(), (std::vector<int32_t>{1}));
    {
      Open second(session, "Result", true);
    }
    EXPECT_TRUE(session.TableExists("Result"));
  }
  EXPECT_FALSE(session.TableExists("Result"));
}

TEST_F(CursorTest, EveryRecordBufferGoesBackToTheMemoryManager) {
  Open first(session);
  ASSERT_EQ(first.Insert("x", 1), 0);
  const int64_t before = TVRXMemoryManager::Instance().AllocatedBytes();
  {
    Open a(session);
    ASSERT_EQ(a.Bodies(), (std::vector<int32_t>{1}));
    uint8_t* extra = a.cursor.AllocRecordBuffer();
    EXPECT_EQ(TVRXMemoryManager::Instance().GetMemSize(extra), a.cursor.recordBufferSize);
    a.cursor.ClearRecordBuffer({extra, static_cast<size_t>(a.cursor.recordBufferSize)});
    a.cursor.FreeRecordBuffer(extra);
    EXPECT_EQ(extra, nullptr);
    a.cursor.FreeRecordBuffer(extra);
  }
  EXPECT_EQ(TVRXMemoryManager::Instance().AllocatedBytes(), before);
}

TEST_F(CursorTest, FailedScansAndUnbuiltOperationsKeepThePosition) {
  Open a(session);
  for (int32_t body : {1, 2, 3}) ASSERT_EQ(a.Insert("r", body), 0);
  ASSERT_TRUE(a.Find(2));
  const TVRXCursorPosition at = a.cursor.SavePosition();
  auto keptPosition = [&] {
    EXPECT_EQ(a.cursor.SavePosition().recordID, at.recordID);
    EXPECT_FALSE(a.cursor.SavePosition().atBOF);
    EXPECT_FALSE(a.cursor.SavePosition().atEOF);
  };
  const std::function<void()> unbuilt[] = {
      [&] { a.cursor.OpenBlob(false, false, 1, 0); },
      [&] { a.cursor.CloseBlob(0); },
      [&] { session.RepairDatabase(); },
  };
  for (const auto& call : unbuilt) {
    EXPECT_NE(MessageOf(call).find("is not available in this engine yet - Native error: 30534"),
              std::string::npos);
    keptPosition();
  }
  // A key search without a current index, and searches that find nothing.
  EXPECT_EQ(MessageOf([&] { a.cursor.FindKey(1); }),
            "No active index is set for Key search. Set Table.IndexName to the index on search "
            "fields. - Native error: 30558");
  keptPosition();
  TVRXVariant missing;
  missing.SetAsInteger(99);
  EXPECT_FALSE(a.cursor.Locate("Body", {missing}, false, false));
  keptPosition();
  EXPECT_FALSE(a.cursor.LocateValue("Body", 1, missing));
  keptPosition();

  // The current record deleted by another cursor: reading it fails and the
  // position stays.
  Open b(session);
  ASSERT_TRUE(b.Find(2));
  b.cursor.Delete();
  ASSERT_EQ(b.cursor.lastResult, 0);
  EXPECT_EQ(a.cursor.GetRecord(TVRXReadRequest::kCurrent), TVRXReadRequest::kNotFound);
  EXPECT_EQ(a.cursor.SavePosition().recordID, at.recordID);
  EXPECT_EQ(a.cursor.GetRecord(TVRXReadRequest::kNext), 0);
  EXPECT_EQ(a.Body(), 3);
}

TEST_F(CursorTest, ProjectionShowsPhysicalFieldsUnderAliases) {
  Open a(session);
  ASSERT_EQ(a.Insert("name", 7), 0);
  a.cursor.SetProjection({"Body", "Name", "Body", "Body"}, {"X", "", "X", "X"});
  ASSERT_EQ(a.cursor.fieldDefs.Count(), 4);
  const char* names[] = {"X", "Name", "X_1", "X_2"};
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(a.cursor.fieldDefs.Field(i).Name(), names[i]);
  ASSERT_TRUE(a.Find(7));
  TVRXVariant v;
  a.cursor.GetFieldValue(v, 3, *a.buffer);
  EXPECT_EQ(v.GetAsInteger(), 7);
  a.cursor.GetFieldValue(v, 1, *a.buffer);
  EXPECT_EQ(v.GetAsString(), "name");
  int32_t raw = 0;
  EXPECT_TRUE(a.cursor.GetFieldData(0, &raw, *a.buffer));
  EXPECT_EQ(raw, 7);
  a.cursor.InitFieldDefs();
  EXPECT_EQ(a.cursor.fieldDefs.Count(), 4);

  const struct {
    std::vector<std::string> names, aliases;
    const char* message;
  } refused[] = {
      {{"Body"}, {}, "Error - different lists length. L1 = 1, L2 = 0 - Native error: 30548"},
      {{}, {}, "No fields were specified while setting projection - Native error: 30549"},
      {{"Nope"}, {""}, "Cannot find field Nope - Native error: 30550"},
  };
  for (const auto& r : refused)
    EXPECT_EQ(MessageOf([&] { a.cursor.SetProjection(r.names, r.aliases); }), r.message);
  EXPECT_EQ(MessageOf([&] { a.cursor.GetFieldValue(v, 4, *a.buffer); }),
            "Invalid field number - FieldNo = 4, FieldCount = 4 - Native error: 10000");
}

TEST_F(CursorTest, DropIsRefusedWhileAnotherCursorHasTheTableOpen) {
  Open a(session);
  ASSERT_EQ(a.Insert("x", 1), 0);
  TVRXLocalCursor dropper;
  dropper.session = &session;
  dropper.tableName = "T";
  EXPECT_EQ(MessageOf([&] { dropper.DeleteTable(); }),
            "Cannot delete table 'T'. Table is open by another dataset - Native error: 20017");
  EXPECT_FALSE(dropper.opened);
  EXPECT_EQ(a.Bodies(), (std::vector<int32_t>{1}));
  EXPECT_EQ(a.Insert("y", 2), 0);
  a.cursor.CloseTable();
  dropper.DeleteTable();
  EXPECT_EQ(MessageOf([&] { a.cursor.OpenTable(); }),
            "Table not found, table name = T - Native error: 30542");
}

TEST_F(CursorTest, TwoSessionsSeeEachOthersCommittedChanges) {
  // Sessions of a multi-user connection keep change sets of their own.
  session.SetConnected(false);
  session.multiUser = true;
  session.SetConnected(true);
  TVRXLocalSession other;
  other.databaseFileName = "c.vrx";
  other.multiUser = true;
  other.SetConnected(true);
  ASSERT_NE(other.sessionID, session.sessionID);
  {
    Open mine(session);
    Open theirs(other);
    ASSERT_EQ(mine.Insert("a", 1), 0);
    EXPECT_EQ(theirs.Bodies(), (std::vector<int32_t>{1}));
    other.StartTransaction();
    ASSERT_EQ(theirs.Insert("b", 2), 0);
    ASSERT_TRUE(theirs.Find(1));
    theirs.SetBody(11);
    theirs.cursor.Edit();
    theirs.SetBody(11);
    theirs.cursor.Post(false);
    ASSERT_EQ(theirs.cursor.lastResult, 0);
    EXPECT_EQ(mine.Bodies(), (std::vector<int32_t>{1}));
    other.Commit(true);
    EXPECT_EQ(mine.Bodies(), (std::vector<int32_t>{11, 2}));
    ASSERT_TRUE(mine.Find(2));
    mine.cursor.Delete();
    ASSERT_EQ(mine.cursor.lastResult, 0);
    EXPECT_EQ(theirs.Bodies(), (std::vector<int32_t>{11}));
  }
  other.SetConnected(false);
}

TEST_F(CursorTest, RollbackPutsCountersCursorsAndSequencesBack) {
  Open a(session);
  Open b(session);
  for (int32_t body : {1, 2, 3}) ASSERT_EQ(a.Insert("r", body), 0);
  ASSERT_TRUE(a.Find(2));
  b.cursor.Last();
  const TVRXCursorPosition aAt = a.cursor.SavePosition();
  const int64_t lastID = a.cursor.GetLastAutoincValue(0);
  session.StartTransaction();
  for (int32_t body = 10; body < 60; ++body) ASSERT_EQ(a.Insert("new", body), 0);
  ASSERT_TRUE(b.Find(1));
  b.cursor.Delete();
  ASSERT_EQ(b.cursor.lastResult, 0);
  EXPECT_EQ(a.cursor.GetRecordCount(), 52);
  EXPECT_GT(a.cursor.GetLastAutoincValue(0), lastID);
  session.Rollback();
  EXPECT_EQ(a.cursor.GetRecordCount(), 3);
  EXPECT_EQ(a.cursor.GetLastAutoincValue(0), lastID);
  EXPECT_EQ(a.cursor.SavePosition().recordID, aAt.recordID);
  EXPECT_FALSE(a.cursor.SavePosition().atBOF);
  EXPECT_TRUE(b.cursor.SavePosition().atEOF);
  EXPECT_EQ(a.cursor.GetRecord(TVRXReadRequest::kCurrent), 0);
  EXPECT_EQ(a.Body(), 2);
  EXPECT_EQ(b.Bodies(), (std::vector<int32_t>{1, 2, 3}));
  // The next record takes the autoincrement value the rolled-back ones had.
  ASSERT_EQ(a.Insert("after", 4), 0);
  EXPECT_EQ(a.cursor.GetLastAutoincValue(0), lastID + 1);
}

TEST_F(CursorTest, ImplicitTransactionCommitsOrDiscardsAsOneUnit) {
  Open a(session);
  ASSERT_EQ(a.Insert("kept", 1), 0);
  a.cursor.BeginImplicitTransaction();
  for (int32_t body = 2; body < 20; ++body) ASSERT_EQ(a.Insert("gone", body), 0);
  EXPECT_TRUE(session.DatabaseData().PageManager()->HasChanges(session.sessionID));
  a.cursor.RollbackImplicitTransaction();
  EXPECT_FALSE(session.DatabaseData().PageManager()->HasChanges(session.sessionID));
  EXPECT_EQ(a.Bodies(), (std::vector<int32_t>{1}));
  a.cursor.BeginImplicitTransaction();
  ASSERT_EQ(a.Insert("new", 2), 0);
  a.cursor.CommitImplicitTransaction();
  EXPECT_FALSE(session.DatabaseData().PageManager()->HasChanges(session.sessionID));
  EXPECT_EQ(a.Bodies(), (std::vector<int32_t>{1, 2}));
}

TEST_F(CursorTest, SessionNamedObjectsAndSpecialDatabases) {
  auto first = std::make_unique<TVRXSessionNamedObject>();
  first->name = "Seq";
  auto second = std::make_unique<TVRXSessionNamedObject>();
  second->name = "SEQ";
  TVRXSessionNamedObject* kept = second.get();
  session.AddNamedObject(std::move(first));
  session.AddNamedObject(std::move(second));
  EXPECT_EQ(session.FindNamedObject("seq"), kept);
  EXPECT_EQ(session.FindNamedObjectByID(77), nullptr);

  EXPECT_EQ(MessageOf([&] { session.CreateDatabase(); }),
            "Cannot create database. Database is already open - Native error: 30552");
  TVRXLocalSession memory;
  memory.databaseName = "MEMORY";
  EXPECT_NE(MessageOf([&] { memory.SetConnected(true); }).find("not available"), std::string::npos);
  EXPECT_FALSE(memory.IsConnected());
}

// A child process changes the table inside a transaction and is killed
// before (or after) its commit; the file holds exactly what was committed.
TEST(CursorCrash, ProcessKilledInsideATransactionLeavesTheFileAsBefore) {
  for (const bool commit : {false, true}) {
    const std::string file = commit ? "committed.vrx" : "killed.vrx";
    CreateFile(file);
    {
      TVRXLocalSession setup;
      setup.databaseFileName = file;
      setup.SetConnected(true);
      CreateT(setup);
      Open t(setup);
      ASSERT_EQ(t.Insert("before", 1), 0);
      setup.SetConnected(false);
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      TVRXLocalSession session;
      session.databaseFileName = file;
      session.SetConnected(true);
      Open t(session);
      session.StartTransaction();
      // Enough records to fill many pages: none may reach the file early.
      for (int32_t body = 2; body < 3000; ++body)
        if (t.Insert("inside a transaction", body) != 0) _exit(2);
      if (commit) session.Commit(true);
      const char byte = 1;
      if (write(ready[1], &byte, 1) != 1) _exit(3);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    TVRXLocalSession after;
    after.databaseFileName = file;
    after.SetConnected(true);
    {
      Open t(after);
      const std::vector<int32_t> bodies = t.Bodies();
      EXPECT_EQ(t.cursor.GetRecordCount(), commit ? 2999 : 1);
      ASSERT_EQ(bodies.size(), commit ? 2999u : 1u);
      EXPECT_EQ(bodies.front(), 1);
      // The table takes records again: its counters and index are sound.
      EXPECT_EQ(t.Insert("after", 5000), 0);
      EXPECT_EQ(t.Insert("after", 1), crCheckFailed);
    }
    after.SetConnected(false);
  }
}

}  // namespace
}  // namespace vrx
