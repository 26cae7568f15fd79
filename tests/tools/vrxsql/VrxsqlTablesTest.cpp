// vrxsql's table commands run as the built program: .import creating a
// table from a CSV file and appending to it in one transaction, .schema,
// .dump with its escapes, .count and .indexes; CSV files that are refused
// leave the database as it was.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "tests/support/TableTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::ReadFile;
using pelvaro::test::WriteFile;

struct ShellRun {
  int code;
  std::string out;
  std::string err;
};

// Runs vrxsql with `arguments` (quoted for /bin/sh).
ShellRun Vrxsql(const std::string& arguments) {
  const std::string command =
      std::string(VRXSQL_PATH) + " " + arguments + " < /dev/null > stdout.txt 2> stderr.txt";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile("stdout.txt"),
          ReadFile("stderr.txt")};
}

// Players: a tab, a line break and a backslash inside values, NULLs, a
// doubled quote and two-byte UTF-8.
const char* const kPlayers =
    "Jmeno,Mesto,Poznamka\r\n"
    "Anna,Brno,\"tab\there\"\r\n"
    "Petr,,\"two\r\nlines\"\r\n"
    "\"Eva \"\"E\"\"\",P\xC5\x99\xC3\xAD"
    "bram,back\\slash\r\n";

const char* const kPlayersDump =
    "Anna\tBrno\ttab\\there\n"
    "Petr\t\\N\ttwo\r\\nlines\n"
    "Eva \"E\"\tP\xC5\x99\xC3\xAD"
    "bram\tback\\\\slash\n";

TEST(VrxsqlTablesTest, ImportCreatesTheTableAndAppendsInOneCommitEach) {
  WriteFile("players.csv", kPlayers);
  ShellRun run = Vrxsql(
      "t.vrx '.import players.csv Hraci' .tables '.schema Hraci' '.dump Hraci' "
      "'.count Hraci' '.indexes Hraci'");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Widths in bytes: "Eva \"E\"" 7, "Příbram" 9, "two\r\nlines" 10.
  EXPECT_EQ(run.out, std::string("Hraci\n"
                                 "CREATE TABLE Hraci (\n"
                                 "  Jmeno STRING(7),\n"
                                 "  Mesto STRING(9),\n"
                                 "  Poznamka STRING(10)\n"
                                 ");\n") +
                         kPlayersDump + "3\n");

  // A second import appends; the table keeps its widths.
  run = Vrxsql("t.vrx '.import players.csv Hraci' '.count Hraci' .dump .check");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find("file: ")),
            std::string("6\n-- TABLE Hraci\n") + kPlayersDump + kPlayersDump);
  EXPECT_NE(run.out.find("\nok\n"), std::string::npos) << run.out;
}

TEST(VrxsqlTablesTest, RefusedCsvLeavesTheDatabaseAsBefore) {
  WriteFile("players.csv", kPlayers);
  ASSERT_EQ(Vrxsql("t.vrx '.import players.csv Hraci'").code, 0);
  const auto before = ReadAll("t.vrx");
  const struct {
    const char* what;
    std::string csv;
    std::string error;
    std::vector<std::string> tables = {"Hraci", "Nova"};
  } cases[] = {
      {"a record too short", "a,b,c\n1,2,3\n4,5\n6,7,8\n",
       "Error: bad.csv line 3: 2 fields, the header has 3\n"},
      {"a record too long, after a quoted break", "a,b,c\n\"1\n\",2,3\n4,5,6,7\n",
       "Error: bad.csv line 4: 4 fields, the header has 3\n"},
      {"not UTF-8", "a,b,c\n1,2,3\nx,\xE8,z\n", "Error: bad.csv line 3: the text is not UTF-8\n"},
      {"bad quote", "a,b,c\n1,2\"x,3\n",
       "Error: bad.csv line 2: a quote inside an unquoted field\n"},
      {"quote never closed", "a,b,c\n1,\"2,3\n4,5,6\n",
       "Error: bad.csv line 2: the quoted field is not closed\n"},
      {"a column without name",
       "a,,c\n1,2,3\n",
       "Error: bad.csv line 1: column 2 has no name\n",
       {"Nova"}},
      {"columns unlike the table's fields",
       "a,b\n1,2\n",
       "Error: table Hraci has 3 fields, bad.csv has 2 columns\n",
       {"Hraci"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile("bad.csv", c.csv);
    for (const std::string& table : c.tables) {
      const ShellRun run = Vrxsql("t.vrx '.import bad.csv " + table + "'");
      EXPECT_EQ(run.code, 1) << table;
      EXPECT_EQ(run.err, c.error) << table;
      EXPECT_EQ(ReadAll("t.vrx"), before) << table;
    }
  }
  const ShellRun run = Vrxsql("t.vrx '.import missing.csv Hraci'");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "Error: cannot read missing.csv\n");
  EXPECT_EQ(Vrxsql("t.vrx .tables .dump").out,
            "Hraci\n-- TABLE Hraci\n" + std::string(kPlayersDump));
}

// Table Zapasy made through a cursor: a primary index, a unique
// descending case-insensitive one and a plain one on two columns.
void MakeMatches(const std::string& name) {
  pelvaro::test::CreateDatabaseFile(name);
  TVRXLocalSession session;
  pelvaro::test::ConnectSession(session, name);
  TVRXFieldDefs fields;
  fields.AddField("ID", TVRXAdvancedFieldType::AutoInc);
  fields.AddField("Stul", TVRXAdvancedFieldType::SmallInt);
  fields.AddField("Hrac Jmeno", TVRXAdvancedFieldType::String, 30);
  fields.AddField("Body", TVRXAdvancedFieldType::Float);
  TVRXIndexDefs indexes;
  auto& primary = static_cast<TVRXIndexDef&>(indexes.InternalAddCreated());
  primary.SetName("C_PK$ID");
  primary.SetColumns({"ID"}, {"ASC"}, {"CASE"});
  primary.SetPrimary(true);
  primary.SetUnique(true);
  auto& unique = static_cast<TVRXIndexDef&>(indexes.InternalAddCreated());
  unique.SetName("ByName");
  unique.SetColumns({"Hrac Jmeno"}, {"DESC"}, {"NO_CASE"});
  unique.SetUnique(true);
  auto& plain = static_cast<TVRXIndexDef&>(indexes.InternalAddCreated());
  plain.SetName("ByTable");
  plain.SetColumns({"Stul", "Body"}, {"ASC", "DESC"}, {"CASE", "CASE"});
  TVRXConstraintDefs constraints;
  TVRXLocalCursor cursor;
  cursor.session = &session;
  cursor.tableName = "Zapasy";
  cursor.CreateTable(fields, indexes, constraints);
  cursor.OpenTable();
  TVRXRecordBuffer buffer(cursor);
  cursor.recordBuffer = buffer;
  for (const char* player : {"Anna", "Petr"}) {
    cursor.InitRecord(buffer, true);
    TVRXVariant table;
    table.SetAsInteger(3);
    cursor.SetFieldValue(table, 1, buffer);
    TVRXVariant name;
    name.SetAsString(player);
    cursor.SetFieldValue(name, 2, buffer);
    cursor.Post(true);
    ASSERT_EQ(cursor.lastResult, 0);
  }
  cursor.CloseTable();
  session.SetConnected(false);
}

TEST(VrxsqlTablesTest, SchemaShowsTypesSizesAndIndexes) {
  MakeMatches("m.vrx");
  const ShellRun run = Vrxsql("m.vrx .schema '.indexes Zapasy' '.count Zapasy' '.dump Zapasy'");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "CREATE TABLE Zapasy (\n"
            "  ID AUTOINC,\n"
            "  Stul SMALLINT,\n"
            "  \"Hrac Jmeno\" STRING(30),\n"
            "  Body FLOAT,\n"
            "  PRIMARY KEY C_PK$ID (ID ASC CASE),\n"
            "  UNIQUE INDEX ByName (\"Hrac Jmeno\" DESC NOCASE),\n"
            "  INDEX ByTable (Stul ASC CASE, Body DESC CASE)\n"
            ");\n"
            "C_PK$ID\nByName\nByTable\n"
            "2\n"
            "1\t3\tAnna\t\\N\n"
            "2\t3\tPetr\t\\N\n");
}

TEST(VrxsqlTablesTest, WrongUseIsOneErrorLine) {
  MakeMatches("m.vrx");
  const struct {
    std::string arguments;
    std::string error;
  } cases[] = {
      {"'.count Nic'", "Error: no such table: Nic\n"},
      {"'.dump Nic'", "Error: no such table: Nic\n"},
      {"'.schema Nic'", "Error: no such table: Nic\n"},
      {".count", "Error: usage: .count TABLE\n"},
      {"'.indexes a b'", "Error: usage: .indexes TABLE\n"},
      {"'.import x.csv'", "Error: usage: .import CSVFILE TABLE\n"},
      {"'.dump \"Zapasy'", "Error: unterminated quote in: .dump \"Zapasy\n"},
  };
  for (const auto& c : cases) {
    const ShellRun run = Vrxsql("m.vrx " + c.arguments);
    EXPECT_EQ(run.code, 1) << c.arguments;
    EXPECT_EQ(run.err, c.error) << c.arguments;
  }
}

}  // namespace
}  // namespace vrx
