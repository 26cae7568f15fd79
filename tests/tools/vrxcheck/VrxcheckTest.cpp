// vrxcheck against real database files: a sound one, damaged ones (one
// problem line each, exit 1) and a file that is no database (exit 2).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "tools/vrxcheck/VRXCheck.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

// Pages 2..7: 2 -> 3 a chain of records, 4 an index page, 5 freed, 6 and 7
// blobs. Total 14 pages, last used 7.
void MakeDatabase(const std::string& name) {
  TVRXDiskPageManager pm;
  pm.CreateDatabaseFile(name, {});
  const uint16_t types[] = {ptTableRecord, ptTableRecord, ptTableIndex,
                            ptTableRecord, ptTableBlob,   ptTableBlob};
  for (uint16_t type : types) {
    TVRXPageGuard page(pm, pm.AddPage(1, type));
    if (page->PageNo() == 2) page->SetNextPage(3);
  }
  pm.ApplyChanges(1);
  pm.RemovePage(1, 5);
  pm.ApplyChanges(1);
  pm.CloseDatabaseFile();
}

int64_t PageAt(int32_t pageNo) { return 380 + int64_t{pageNo} * 4096; }

struct CheckRun {
  int code;
  std::string out;
};

CheckRun Check(const std::string& name) {
  std::ostringstream out;
  const int code = check::CheckDatabaseFile(name, out);
  return {code, out.str()};
}

TEST(VrxcheckTest, SoundDatabase) {
  MakeDatabase("ok.vrx");
  const CheckRun run = Check("ok.vrx");
  EXPECT_EQ(run.code, check::kSound) << run.out;
  for (const char* line :
       {"file: ok.vrx\n", "signature: VRAX0NTEDATABASE\n", "version: 4.8\n", "page size: 4096\n",
        "total page count: 14\n", "last used page: 7\n", "commit counter: 2\n", "state: 2\n",
        "  TableRecord Page: 2\n", "  TableIndex Page: 1\n", "  TableBlob Page: 2\n",
        "  PFS Page: 1\n", "  EAM Page: 1\n", "  free: 7\n", "\nok\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
}

TEST(VrxcheckTest, EachDamageIsReportedOnItsOwnLine) {
  MakeDatabase("base.vrx");
  const auto base = ReadAll("base.vrx");
  const struct {
    const char* what;
    int64_t offset;
    std::vector<uint8_t> bytes;
    const char* line;
  } cases[] = {
      {"signature of a page in use", PageAt(4), {'X'}, "page 4: in use but has no page signature"},
      {"type of a page in use", PageAt(6) + 8, {99, 0}, "page 6: in use but has page type 99"},
      {"chain to a freed page", PageAt(3) + 10, {5, 0, 0, 0}, "page 3: next page 5 is free"},
      {"chain out of range",
       PageAt(3) + 10,
       {100, 0, 0, 0},
       "page 3: next page 100 is out of range"},
      {"PFS page type", PageAt(0) + 8, {1, 0}, "page 0: expected PFS Page, found Empty Page"},
      {"extent state",
       PageAt(1) + 40,
       {0x0D},
       "extent 1: map says state 3, but its pages are not all used"},
      {"bit of a freed page", PageAt(0) + 40, {0xFF}, "page 5: in use but marked as freed"},
      {"last used page", 34, {6, 0, 0, 0}, "page 7: in use beyond the last used page 6"},
      {"commit state", 42, {1}, "header state is 1: a commit was interrupted, repair needed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = base;
    std::memcpy(bytes.data() + c.offset, c.bytes.data(), c.bytes.size());
    WriteAll("bad.vrx", bytes);
    const CheckRun run = Check("bad.vrx");
    EXPECT_EQ(run.code, check::kProblems) << run.out;
    EXPECT_NE(run.out.find(std::string("\n") + c.line + "\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\nok\n"), std::string::npos);
  }
}

TEST(VrxcheckTest, TruncatedFile) {
  MakeDatabase("t.vrx");
  auto bytes = ReadAll("t.vrx");
  bytes.resize(static_cast<size_t>(PageAt(10)));
  WriteAll("t.vrx", bytes);
  const CheckRun run = Check("t.vrx");
  EXPECT_EQ(run.code, check::kProblems);
  EXPECT_NE(run.out.find("file is truncated: 41340 bytes, the pages need 57724"), std::string::npos)
      << run.out;
}

TEST(VrxcheckTest, NotADatabase) {
  WriteAll("junk.vrx", std::vector<uint8_t>(1000, 'j'));
  const CheckRun run = Check("junk.vrx");
  EXPECT_EQ(run.code, check::kCannotCheck);
  EXPECT_NE(run.out.find("cannot open: Invalid file format. Found signature: 'jjjjjjjjjjjjjjjj', "
                         "expected: 'VRAX0NTEDATABASE' - Native error: 10470"),
            std::string::npos)
      << run.out;
}

TEST(VrxcheckTest, TheProgramPrintsAndExits) {
  MakeDatabase("p.vrx");
  const std::string command = std::string(VRXCHECK_PATH) + " p.vrx > out.txt";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const auto out = ReadAll("out.txt");
  EXPECT_NE(std::string(out.begin(), out.end()).find("\nok\n"), std::string::npos);

  status = std::system((std::string(VRXCHECK_PATH) + " missing.vrx > out.txt").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  status = std::system((std::string(VRXCHECK_PATH) + " > out.txt 2>&1").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace vrx
