// Table commits under crashes: the workload of TableCrashWorkload.h (a table
// with a unique and a plain index taking inserts, updates and deletes, and
// the commit number beside it) run by a real process killed with SIGKILL at
// random moments, and cut off at every write and sync of a commit through
// the fault-injecting file system. Afterwards the file passes the checks of
// vrxcheck and holds exactly the records of one whole commit.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "engine/storage/catalog/VRXDatabaseRegistry.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/file/VRXJournal.h"
#include "engine/storage/tables/VRXDiskTableData.h"
#include "tests/engine/query/cursor/TableCrashWorkload.h"
#include "tests/support/FaultFileSystem.h"
#include "tests/support/TestSupport.h"
#include "tools/vrxcheck/VRXCheck.h"

namespace vrx {
namespace {

using test::CrashMode;
using test::FaultFileSystem;

// The file's check and the commit whose records it holds; -1 when either
// fails.
int32_t SoundCommit(const std::string& file) {
  test::TTableState records;
  int32_t k = -1;
  {
    TVRXLocalSession session;
    session.databaseFileName = file;
    session.SetConnected(true);
    k = test::ReadTableWorkload(session, records);
    session.SetConnected(false);
  }
  std::ostringstream report;
  EXPECT_EQ(check::CheckDatabaseFile(file, report), check::kSound) << report.str();
  EXPECT_EQ(records, test::ReplayTableWorkload(k)) << "commit " << k;
  return k;
}

TEST(TableCrash, ProcessKilledAtRandomMomentsOfACommitLoop) {
  TVRXDiskTableData::Register();
  std::mt19937 random(4242);
  int32_t highest = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      execl(TABLE_CRASH_LOOP_PATH, TABLE_CRASH_LOOP_PATH, "--loop", ".", "100000",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(static_cast<useconds_t>(300000 + random() % 700000));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the loop ended by itself";
    const int32_t k = SoundCommit("tables.vrx");
    EXPECT_GE(k, highest);  // each round continues the file
    highest = k;
  }
  EXPECT_GT(highest, 0);
  const std::string command = std::string(TABLE_CRASH_LOOP_PATH) + " --verify . > verify.txt";
  EXPECT_EQ(std::system(command.c_str()), 0) << pelvaro::test::ReadFile("verify.txt");
}

// Runs commits first + 1 .. last of the workload on `file` through `fs`.
void RunThrough(FaultFileSystem& fs, const std::string& file, int32_t last) {
  TVRXDiskDatabaseOptions options;
  options.fileName = file;
  TVRXDatabaseRegistry::Instance().Register(std::make_unique<TVRXDiskDatabaseData>(options, fs));
  TVRXLocalSession session;
  session.databaseFileName = file;
  session.SetConnected(true);
  try {
    test::PrepareTableWorkload(session);
    test::RunTableWorkload(session, last);
  } catch (...) {
    try {
      session.SetConnected(false);
    } catch (...) {
    }
    throw;
  }
  session.SetConnected(false);
}

TEST(TableCrash, EveryWriteAndSyncOfTableCommits) {
  TVRXDiskTableData::Register();
  const std::string file = "fault.vrx";
  constexpr int32_t kPrepared = 6;
  constexpr int32_t kLast = 8;
  // The events of commits 7 and 8 after six made beforehand.
  const auto fresh = [&](FaultFileSystem& fs) {
    std::remove(file.c_str());
    std::remove(JournalFileName(file).c_str());
    TVRXDiskDatabaseOptions options;
    options.fileName = file;
    TVRXDiskDatabaseData(options, fs).CreateDatabase();
    RunThrough(fs, file, kPrepared);
  };
  int64_t events = 0;
  {
    FaultFileSystem fs;
    fresh(fs);
    const int64_t start = fs.Events();
    RunThrough(fs, file, kLast);
    events = fs.Events() - start;
  }
  ASSERT_GT(events, 10);
  int interrupted = 0;
  for (int64_t n = 1; n <= events; ++n) {
    for (CrashMode mode : {CrashMode::kKeep, CrashMode::kDrop, CrashMode::kTear}) {
      SCOPED_TRACE("stop at event " + std::to_string(n) + " of " + std::to_string(events) +
                   ", mode " + std::to_string(static_cast<int>(mode)));
      FaultFileSystem fs;
      fresh(fs);
      fs.StopAt(fs.Events() + n);
      try {
        RunThrough(fs, file, kLast);
      } catch (const std::exception&) {
        ++interrupted;
      }
      fs.Crash(mode, static_cast<uint32_t>(n));
      const int32_t k = SoundCommit(file);
      EXPECT_GE(k, kPrepared);
      EXPECT_LE(k, kLast);
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(interrupted, 0);
}

}  // namespace
}  // namespace vrx
