// vrxsql's table commands run as the built program: .import creating a
// table from a CSV file and appending to it in one transaction, .schema,
// .dump with its escapes, .count and .indexes; CSV files that are refused
// leave the database as it was; .range along ascending, descending and
// non-unique indexes and .filter with NULLs, with and without an index.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <optional>
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
  using pelvaro::test::AddIndexDef;
  TVRXIndexDef& primary = AddIndexDef(indexes, "C_PK$ID", {"ID"}, {"ASC"}, {"CASE"});
  primary.SetPrimary(true);
  primary.SetUnique(true);
  AddIndexDef(indexes, "ByName", {"Hrac Jmeno"}, {"DESC"}, {"NO_CASE"}).SetUnique(true);
  AddIndexDef(indexes, "ByTable", {"Stul", "Body"}, {"ASC", "DESC"}, {"CASE", "CASE"});
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

// `command` as one word for /bin/sh.
std::string Quoted(const std::string& command) {
  std::string quoted = "'";
  for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Table Hraci made through a cursor: ID INTEGER with a unique index, Stul
// SMALLINT leading a plain index (Stul, ID DESC) with equal Stul values and
// a NULL, Jmeno STRING(4) with a descending case-insensitive index, Body
// INTEGER without an index. Storage order is the order of kPlayerRows.
const std::vector<std::vector<std::optional<std::string>>> kPlayerRows = {
    {"1", "2", "Petr", "4"}, {"2", "1", "anna", std::nullopt}, {"3", std::nullopt, "Eva", "8"},
    {"4", "2", "Olga", "2"}, {"5", "3", std::nullopt, "6"},    {"6", "1", "Ivan", "8"},
};
const char* const kPlayerLines[] = {
    "",  // records are numbered from 1
    "1\t2\tPetr\t4\n",
    "2\t1\tanna\t\\N\n",
    "3\t\\N\tEva\t8\n",
    "4\t2\tOlga\t2\n",
    "5\t3\t\\N\t6\n",
    "6\t1\tIvan\t8\n",
};

std::string PlayerLines(const std::vector<int>& ids) {
  std::string lines;
  for (int id : ids) lines += kPlayerLines[id];
  return lines;
}

void MakePlayers(const std::string& name) {
  pelvaro::test::CreateDatabaseFile(name);
  TVRXLocalSession session;
  pelvaro::test::ConnectSession(session, name);
  TVRXFieldDefs fields;
  fields.AddField("ID", TVRXAdvancedFieldType::Integer);
  fields.AddField("Stul", TVRXAdvancedFieldType::SmallInt);
  fields.AddField("Jmeno", TVRXAdvancedFieldType::String, 4);
  fields.AddField("Body", TVRXAdvancedFieldType::Integer);
  TVRXIndexDefs indexes;
  using pelvaro::test::AddIndexDef;
  AddIndexDef(indexes, "ById", {"ID"}, {"ASC"}, {"CASE"}).SetUnique(true);
  AddIndexDef(indexes, "ByStul", {"Stul", "ID"}, {"ASC", "DESC"}, {"CASE", "CASE"});
  AddIndexDef(indexes, "Podle jmena", {"Jmeno"}, {"DESC"}, {"NO_CASE"});
  TVRXConstraintDefs constraints;
  TVRXLocalCursor cursor;
  cursor.session = &session;
  cursor.tableName = "Hraci";
  cursor.CreateTable(fields, indexes, constraints);
  cursor.OpenTable();
  TVRXRecordBuffer buffer(cursor);
  cursor.recordBuffer = buffer;
  for (const auto& row : kPlayerRows) {
    cursor.InitRecord(buffer, true);
    for (size_t f = 0; f < row.size(); ++f) {
      TVRXVariant value;
      if (row[f])
        value.SetAsString(*row[f]);
      else
        value.SetNull();
      cursor.SetFieldValue(value, static_cast<int32_t>(f), buffer);
    }
    cursor.Post(true);
    ASSERT_EQ(cursor.lastResult, 0);
  }
  cursor.CloseTable();
  session.SetConnected(false);
}

TEST(VrxsqlTablesTest, RangeFollowsTheIndexWithInclusiveAndOpenBounds) {
  MakePlayers("h.vrx");
  const struct {
    const char* what;
    std::string command;
    std::vector<int> ids;
  } cases[] = {
      {"both bounds inclusive, equal keys in the order of the second field",
       ".range Hraci ByStul 1 2",
       {6, 2, 4, 1}},
      {"one key", ".range Hraci ByStul 2 2", {4, 1}},
      {"open start leaves out the NULL", ".range Hraci ByStul - 1", {6, 2}},
      {"open end", ".range Hraci ByStul 2 -", {4, 1, 5}},
      {"both open: every record with a value, in index order",
       ".range Hraci ByStul - -",
       {6, 2, 4, 1, 5}},
      {"FROM above TO", ".range Hraci ByStul 3 1", {}},
      {"nothing between the keys", ".range Hraci ById 7 100", {}},
      {"unique index, index name in any case", ".range Hraci byid 2 4", {2, 3, 4}},
      {"descending index, from its upper bound down", ".range Hraci \"Podle jmena\" E O", {6, 3}},
      {"descending index compares without case", ".range Hraci \"Podle jmena\" a Ivan", {6, 3, 2}},
      {"descending index, both open", ".range Hraci \"Podle jmena\" - -", {1, 4, 6, 3, 2}},
      {"a lower bound longer than the field is not met by its cut",
       ".range Hraci \"Podle jmena\" Ivana -",
       {1, 4}},
      {"an upper bound longer than the field", ".range Hraci \"Podle jmena\" - Ivana", {6, 3, 2}},
      {"bounds written as the field's type converts them", ".range Hraci ById \" 3\" 0x4", {3, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ShellRun run = Vrxsql("h.vrx " + Quoted(c.command));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, PlayerLines(c.ids));
  }
  // The range changes nothing: .dump and .count see every record after it.
  const ShellRun run = Vrxsql("h.vrx '.range Hraci ByStul 1 1' '.count Hraci' '.dump Hraci'");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, PlayerLines({6, 2}) + "6\n" + PlayerLines({1, 2, 3, 4, 5, 6}));
}

TEST(VrxsqlTablesTest, FilterKeepsStorageOrderAndSqlNulls) {
  MakePlayers("h.vrx");
  MakeMatches("m.vrx");
  const struct {
    const char* what;
    std::string command;
    std::vector<int> ids;
  } cases[] = {
      {"on an indexed field", ".filter Hraci Stul = 2", {1, 4}},
      {"on an indexed field, a range", ".filter Hraci Stul >= 1 AND Stul < 3", {1, 2, 4, 6}},
      {"written the other way round", ".filter Hraci 2 <= Stul", {1, 4, 5}},
      {"without an index, NULL fails the comparison", ".filter Hraci Body > 5", {3, 5, 6}},
      {"IS NULL", ".filter Hraci Stul IS NULL OR Body IS NULL", {2, 3}},
      {"OR over an index and a field without one", ".filter Hraci Stul = 3 OR Body = 8", {3, 5, 6}},
      {"contradiction on an index", ".filter Hraci Stul > 2 AND Stul < 2", {}},
      {"case sensitive beside a case-insensitive index", ".filter Hraci Jmeno = 'ANNA'", {}},
      {"case sensitive, the exact text", ".filter Hraci Jmeno = 'anna'", {2}},
      {"every record", ".filter Hraci ID > 0", {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ShellRun run = Vrxsql("h.vrx " + Quoted(c.command));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, PlayerLines(c.ids));
  }
  // The expression is the rest of the line as typed, blanks and brackets
  // included.
  const ShellRun run = Vrxsql("m.vrx " + Quoted(".filter Zapasy  [Hrac Jmeno] = 'Petr'"));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "2\t3\tPetr\t\\N\n");
}

TEST(VrxsqlTablesTest, NavigationCommandsRefuseWhatTheyCannotRead) {
  MakePlayers("h.vrx");
  const struct {
    std::string command;
    std::string error;
  } cases[] = {
      {".range Nic ById 1 2", "Error: no such table: Nic\n"},
      {".range Hraci Nic 1 2", "Error: no such index: Nic on table Hraci\n"},
      {".range Hraci ById x 2", "Error: FROM 'x' does not convert to INTEGER (field ID)\n"},
      {".range Hraci ById 1 2.5", "Error: TO '2.5' does not convert to INTEGER (field ID)\n"},
      {".range Hraci ByStul 1 70000",
       "Error: TO '70000' does not convert to SMALLINT (field Stul)\n"},
      {".range Hraci ById \"\" 2", "Error: FROM is empty; write - for an open bound\n"},
      {".range Hraci ById 1", "Error: usage: .range TABLE INDEX FROM TO\n"},
      {".range Hraci ById 1 2 3", "Error: usage: .range TABLE INDEX FROM TO\n"},
      {".filter Hraci", "Error: usage: .filter TABLE EXPRESSION\n"},
      {".filter Nic Stul = 1", "Error: no such table: Nic\n"},
  };
  for (const auto& c : cases) {
    const ShellRun run = Vrxsql("h.vrx " + Quoted(c.command));
    EXPECT_EQ(run.code, 1) << c.command;
    EXPECT_EQ(run.out, "") << c.command;
    EXPECT_EQ(run.err, c.error) << c.command;
  }
  // The engine's own message for an expression it cannot read, with the
  // place of the fault; the commands after it still run.
  const ShellRun run = Vrxsql("h.vrx " + Quoted(".filter Hraci Stul = = 2") + " '.count Hraci'");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "6\n");
  EXPECT_EQ(run.err,
            "Error: Unexpected token '=' found at line 1, column 8 - Native error: 30083\n");
  const ShellRun unknown = Vrxsql("h.vrx " + Quoted(".filter Hraci Nic = 2"));
  EXPECT_EQ(unknown.code, 1);
  EXPECT_EQ(unknown.err, "Error: Field 'Nic' not found - Native error: 30070\n");
}

}  // namespace
}  // namespace vrx
