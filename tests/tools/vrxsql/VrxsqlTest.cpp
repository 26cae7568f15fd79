// vrxsql run as the built program: creating a database, .tables in creation
// order, commands from the arguments and from standard input, .check on a
// sound and a damaged file, and the error lines and exit statuses.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/catalog/VRXTableFiles.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::ReadFile;
using pelvaro::test::WriteAll;
using pelvaro::test::WriteFile;

struct ShellRun {
  int code;
  std::string out;
  std::string err;
};

// Runs vrxsql with `arguments` (already quoted for the shell) and `input`
// on standard input.
ShellRun Vrxsql(const std::string& arguments, const std::string& input = "") {
  WriteFile("stdin.txt", input);
  const std::string command =
      std::string(VRXSQL_PATH) + " " + arguments + " < stdin.txt > stdout.txt 2> stderr.txt";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile("stdout.txt"),
          ReadFile("stderr.txt")};
}

void MakeDatabase(const std::string& name, const std::vector<std::string>& tables) {
  TVRXDiskDatabaseOptions options;
  options.fileName = name;
  TVRXDiskDatabaseData db(options);
  db.CreateDatabase();
  TVRXDatabaseSession session;
  db.AddSession(session);
  for (const std::string& table : tables)
    db.CreateTableFiles(table, [](TVRXInternalDBTransactedAccessFile& metadata,
                                  TVRXInternalDBTransactedAccessFile&) {
      TVRXTableMetadata definition;
      definition.Fields().AddField("Jmeno", TVRXAdvancedFieldType::String, 30);
      WriteTableMetadata(metadata, kSystemSessionID, definition);
    });
  db.RemoveSession(session);
}

const char* const kHelp =
    ".check                      check the integrity of the database file\n"
    ".count TABLE                the number of records of TABLE\n"
    ".dump [TABLE]               the records, one line each, fields separated by TAB, NULL as \\N\n"
    ".filter TABLE EXPRESSION    the records of TABLE for which the SQL expression is true\n"
    ".help                       show this list\n"
    ".import CSVFILE TABLE       append the records of a CSV file to TABLE (created when missing)\n"
    ".indexes TABLE              the indexes of TABLE\n"
    ".quit                       exit the shell\n"
    ".range TABLE INDEX FROM TO  the records whose first INDEX field lies in [FROM, TO], in index "
    "order; - for an open bound\n"
    ".schema [TABLE]             the fields and indexes of the tables (or of TABLE)\n"
    ".tables                     list the tables in the order they were created\n";

TEST(VrxsqlTest, CreatesAMissingDatabase) {
  const ShellRun run = Vrxsql("new.vrx .tables .check");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(std::filesystem::exists("new.vrx"));
  EXPECT_NE(run.out.find("\nsession slots: 500\ntables: 0\nok\n"), std::string::npos) << run.out;
  // Opened again, not created again.
  EXPECT_EQ(Vrxsql("new.vrx").code, 0);
  EXPECT_EQ(ReadAll("new.vrx").size(), static_cast<size_t>(380 + 6 * 4096));
}

TEST(VrxsqlTest, CommandsFromArgumentsAndFromInput) {
  MakeDatabase("t.vrx", {"hraci", "seskupeni", "param"});
  const std::string tables = "hraci\nseskupeni\nparam\n";
  const struct {
    const char* what;
    std::string arguments;
    std::string input;
    std::string out;
  } cases[] = {
      {"arguments", "t.vrx .tables", "", tables},
      {"input, no prompt without a terminal", "t.vrx", ".tables\n\n  .help  \n", tables + kHelp},
      {"input ends at .quit", "t.vrx", ".tables\n.quit\n.help\n", tables},
      {"arguments end at .quit", "t.vrx .quit .tables", "", ""},
      {"arguments win over input", "t.vrx .help", ".tables\n", kHelp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ShellRun run = Vrxsql(c.arguments, c.input);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
  }
}

TEST(VrxsqlTest, ErrorsAreOneLineAndSetTheExitStatus) {
  MakeDatabase("t.vrx", {"hraci"});
  ShellRun run = Vrxsql("t.vrx .bogus .tables");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "hraci\n");
  EXPECT_EQ(run.err, "Error: unknown command: \".bogus\". Enter \".help\" for the commands\n");

  run = Vrxsql("t.vrx", "SELECT * FROM hraci\n.tables\n");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "Error: SQL statements are not supported yet: \"SELECT * FROM hraci\"\n");

  WriteFile("junk.vrx", std::string(1000, 'j'));
  run = Vrxsql("junk.vrx .tables");
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "Error: Invalid file format. Found signature: 'jjjjjjjjjjjjjjjj', expected: "
            "'VRAX0NTEDATABASE' - Native error: 10470\n");

  run = Vrxsql("");
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "usage: vrxsql FILE [COMMAND...]\n");
}

TEST(VrxsqlTest, CheckReportsADamagedCatalog) {
  MakeDatabase("t.vrx", {"hraci", "seskupeni"});
  ShellRun run = Vrxsql("t.vrx .check");
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.out.find("\ntables: 2\nok\n"), std::string::npos) << run.out;

  // Table "seskupeni"'s metadata page (page 11) loses its page type.
  auto bytes = ReadAll("t.vrx");
  bytes[380 + 11 * 4096 + 8] = 9;
  WriteAll("t.vrx", bytes);
  run = Vrxsql("t.vrx .check .tables");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("\ntable 'seskupeni' metadata file: page 11: expected TableMetaData "
                         "Page, found TableMostUpdated Page\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("hraci\nseskupeni\n"), std::string::npos);
  EXPECT_EQ(run.err, "Error: the integrity check found problems\n");
}

}  // namespace
}  // namespace vrx
