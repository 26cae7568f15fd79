// Commits of the disk page manager under crashes: a workload of commits that
// add, change and free pages of one table beside another table that no
// commit after the first touches, cut off at every write and sync it issues
// with the unsynced writes kept, dropped or torn; then reopened, and the
// file compared with the states before and after the interrupted commit.
// Plus a real child process killed with SIGKILL in a commit loop, and the
// journal's effect on read-only and multi-user openers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "engine/storage/file/VRXJournal.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "tests/support/FaultFileSystem.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

using test::CrashMode;
using test::FaultFileSystem;
using Bytes = std::vector<uint8_t>;

const std::string kDb = "crash.vrx";
constexpr uint16_t kPageSize = 1024;
constexpr uint16_t kExtentSize = 4;
constexpr int32_t kSession = 1;
constexpr int32_t kOtherSession = 2;

// The file with every page's modification counter blanked: counters start
// at random values, everything else of the workload is deterministic.
// `start`: where the database begins inside its file.
Bytes Comparable(Bytes bytes, int64_t start = 0) {
  for (size_t at = static_cast<size_t>(start) + kFirstPageOffset; at + 8 <= bytes.size();
       at += kPageSize)
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + page_header::kModCounter),
              bytes.begin() + static_cast<std::ptrdiff_t>(at + page_header::kModCounter + 4), 0);
  return bytes;
}

uint8_t Pattern(uint32_t tag, int i) { return static_cast<uint8_t>(tag * 29 + i * 7 + 3); }

void Fill(TVRXPage& page, uint32_t tag) {
  for (int i = 0; i < page.DataSize(); ++i) page.Data()[i] = Pattern(tag, i);
}

bool Holds(const TVRXPage& page, uint32_t tag) {
  for (int i = 0; i < page.DataSize(); ++i)
    if (page.Data()[i] != Pattern(tag, i)) return false;
  return true;
}

// The pages of the two tables, as the workload has built them so far.
struct Tables {
  std::vector<int32_t> records;      // table A: added, changed, freed
  std::vector<int32_t> indexPages;   // table B: written by commit 1 only
};

constexpr uint32_t kIndexTag = 0xB0;

// Commit k (from 1) of the workload. Page numbers follow from the free-space
// map, which is deterministic for a file this small.
void RunCommit(TVRXDiskPageManager& pm, Tables& tables, int k) {
  std::mt19937 random(static_cast<uint32_t>(k));
  auto add = [&](int count) {
    for (int i = 0; i < count; ++i) {
      TVRXPageGuard page(pm, pm.AddPage(kSession, ptTableRecord));
      Fill(*page.Get(), static_cast<uint32_t>(k * 100 + i));
      tables.records.push_back(page->PageNo());
    }
  };
  auto release = [&](size_t index) {
    pm.RemovePage(kSession, tables.records[index]);
    tables.records.erase(tables.records.begin() + static_cast<std::ptrdiff_t>(index));
  };
  if (k == 1) {
    for (int i = 0; i < 6; ++i) {
      TVRXPageGuard page(pm, pm.AddPage(kSession, ptTableIndex));
      Fill(*page.Get(), kIndexTag + i);
      tables.indexPages.push_back(page->PageNo());
    }
    add(3);
  } else if (k % 4 == 0) {
    add(12);  // the file grows
  } else if (k % 4 == 1) {
    // Free the highest pages: the free tail is cut off the file.
    std::sort(tables.records.begin(), tables.records.end());
    for (int i = 0; i < 12 && tables.records.size() > 2; ++i) release(tables.records.size() - 1);
  } else {
    add(1 + static_cast<int>(random() % 2));
    for (int i = 0; i < 2; ++i) {
      const int32_t pageNo = tables.records[random() % tables.records.size()];
      TVRXPageGuard page(pm, pm.GetPage(kSession, pageNo, ptTableRecord));
      Fill(*page.Get(), static_cast<uint32_t>(k * 100 + 50 + i));
      page->SetDirty(true);
    }
    if (tables.records.size() > 3) release(random() % tables.records.size());
    if (k % 4 == 2) {
      // Another session allocates and gives up: its map changes ride along
      // with this commit, and its pages are free again.
      for (int i = 0; i < 2; ++i) pm.PutPage(pm.AddPage(kOtherSession, ptTableRecord));
      pm.CancelChanges(kOtherSession);
    }
  }
  pm.ApplyChanges(kSession);
}

constexpr int kCommits = 10;

void Create(TVRXDiskPageManager& pm) { pm.CreateDatabaseFile(kDb, {}, kExtentSize, kPageSize); }

void Open(TVRXDiskPageManager& pm, bool& repairNeeded, bool readOnly = false) {
  bool multiUser = false;
  pm.OpenDatabaseFile(kDb, {}, multiUser, !readOnly, repairNeeded, readOnly);
}

void RemoveFiles() {
  std::remove(kDb.c_str());
  std::remove(JournalFileName(kDb).c_str());
}

// A fresh database, open in `pm`: created, or (start > 0) created and then
// put `start` bytes into a larger file whose first bytes belong to someone
// else.
void Fresh(TVRXDiskPageManager& pm, int64_t start) {
  RemoveFiles();
  if (start == 0) return Create(pm);
  {
    FaultFileSystem quickSyncs;
    TVRXDiskPageManager creator(quickSyncs);
    Create(creator);
    creator.CloseDatabaseFile();
  }
  std::remove(JournalFileName(kDb).c_str());
  Bytes file(static_cast<size_t>(start), 0x5A);
  const Bytes database = ReadAll(kDb);
  file.insert(file.end(), database.begin(), database.end());
  WriteAll(kDb, file);
  bool repairNeeded = true;
  Open(pm, repairNeeded);
  ASSERT_EQ(pm.StartOffset(), start);
}

// states[k]: the comparable file after k commits; tables after each too.
struct Reference {
  std::vector<Bytes> states;
  std::vector<Tables> tables;
  int64_t events = 0;  // of the commits, after creation
};

Reference RunReference(int commits, int64_t start = 0) {
  Reference reference;
  FaultFileSystem fs;
  TVRXDiskPageManager pm(fs);
  Fresh(pm, start);
  const int64_t afterCreate = fs.Events();
  Tables tables;
  reference.states.push_back(Comparable(ReadAll(kDb), start));
  reference.tables.push_back(tables);
  for (int k = 1; k <= commits; ++k) {
    RunCommit(pm, tables, k);
    reference.states.push_back(Comparable(ReadAll(kDb), start));
    reference.tables.push_back(tables);
  }
  reference.events = fs.Events() - afterCreate;
  pm.CloseDatabaseFile();
  return reference;
}

// Opens the file (recovering it) and checks the engine's view: consistent
// header, table B intact, table A readable and in use. Through a fault file
// system only for its quick syncs.
void ExpectSoundAfterOpen(const Tables& tables) {
  FaultFileSystem fs;
  TVRXDiskPageManager pm(fs);
  bool repairNeeded = true;
  Open(pm, repairNeeded);
  EXPECT_FALSE(repairNeeded);
  EXPECT_EQ(pm.MainHeader().state, kStateConsistent);
  for (size_t i = 0; i < tables.indexPages.size(); ++i) {
    TVRXPageGuard page(pm, pm.GetPage(kSession, tables.indexPages[i], ptTableIndex));
    EXPECT_TRUE(Holds(*page.Get(), kIndexTag + static_cast<uint32_t>(i)))
        << "page " << tables.indexPages[i] << " of the untouched table";
  }
  for (int32_t pageNo : tables.records) {
    EXPECT_TRUE(pm.FreeSpace().IsPageUsed(pageNo)) << pageNo;
    TVRXPageGuard page(pm, pm.GetPage(kSession, pageNo, ptTableRecord));
  }
  pm.CloseDatabaseFile();
}

struct Mode {
  CrashMode mode;
  uint32_t seed;
};

// Runs `commits` commits of the workload once for every event n they issue,
// stopping the process at n and crashing with each mode; the reopened file
// must be the state after the last commit that returned, or after the one
// that was interrupted.
void CrashAtEveryEvent(int commits, int64_t start, const std::vector<Mode>& modes) {
  const Reference reference = RunReference(commits, start);
  ASSERT_EQ(RunReference(commits, start).states, reference.states)
      << "the workload is not repeatable";
  int interrupted = 0;
  for (int64_t n = 1; n <= reference.events; ++n) {
    for (const Mode& mode : modes) {
      SCOPED_TRACE("stop at event " + std::to_string(n) + " of " +
                   std::to_string(reference.events) + ", mode " +
                   std::to_string(static_cast<int>(mode.mode)));
      FaultFileSystem fs;
      int done = 0;
      {
        TVRXDiskPageManager pm(fs);
        Fresh(pm, start);
        fs.StopAt(fs.Events() + n);
        Tables tables;
        try {
          for (int k = 1; k <= commits; ++k) {
            RunCommit(pm, tables, k);
            ++done;
          }
        } catch (const EVRXException&) {
          ++interrupted;
        }
      }  // the dead process's manager goes; nothing of it reaches the disk
      fs.Crash(mode.mode, mode.seed * 1000 + static_cast<uint32_t>(n));
      {
        // Recovery happens here, before anything reads the file.
        FaultFileSystem quickSyncs;
        TVRXDiskPageManager pm(quickSyncs);
        bool repairNeeded = true;
        Open(pm, repairNeeded);
        EXPECT_FALSE(repairNeeded);
        pm.CloseDatabaseFile();
      }
      const Bytes after = Comparable(ReadAll(kDb), start);
      const bool before = after == reference.states[done];
      const bool complete = done < commits && after == reference.states[done + 1];
      ASSERT_TRUE(before || complete) << done << " commits had returned";
      ExpectSoundAfterOpen(reference.tables[complete ? done + 1 : done]);
    }
  }
  EXPECT_GT(interrupted, 0);
}

TEST(CommitCrash, EveryWriteAndSyncOfAWorkload) {
  CrashAtEveryEvent(kCommits, 0,
                    {{CrashMode::kKeep, 0}, {CrashMode::kDrop, 0}, {CrashMode::kTear, 11},
                     {CrashMode::kTear, 12}});
}

TEST(CommitCrash, EveryWriteAndSyncOfADatabaseInsideALargerFile) {
  CrashAtEveryEvent(4, 25000, {{CrashMode::kKeep, 0}, {CrashMode::kTear, 13}});
}

TEST(CommitCrash, ChildProcessKilledAtRandomMomentsOfACommitLoop) {
  constexpr int kLoop = 60;
  const Reference reference = RunReference(kLoop);
  std::mt19937 random(2024);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    RemoveFiles();
    {
      TVRXDiskPageManager pm;
      Create(pm);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The child: the same workload with real syncs, until it is killed.
      try {
        TVRXDiskPageManager pm;
        bool repairNeeded = false;
        Open(pm, repairNeeded);
        Tables tables;
        for (int k = 1; k <= kLoop; ++k) RunCommit(pm, tables, k);
        pm.CloseDatabaseFile();
      } catch (...) {
        _exit(3);
      }
      _exit(0);
    }
    usleep(static_cast<useconds_t>(2000 + random() % 150000));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << "the child failed by itself";
    ExpectSoundAfterOpen(reference.tables[0]);  // opens (recovers) the file
    const Bytes after = Comparable(ReadAll(kDb));
    const auto match = std::find(reference.states.begin(), reference.states.end(), after);
    ASSERT_NE(match, reference.states.end()) << "the killed loop left no whole commit";
    ExpectSoundAfterOpen(reference.tables[match - reference.states.begin()]);
  }
}

// --- the journal seen by openers ----------------------------------------------------

// Commit 2 of the workload stopped at its last database write (before the
// database sync and the invalidation), the process killed.
void LeaveInterruptedCommit() {
  int64_t eventsOfCommit2 = 0;
  {
    RemoveFiles();
    FaultFileSystem fs;
    TVRXDiskPageManager pm(fs);
    Create(pm);
    Tables tables;
    RunCommit(pm, tables, 1);
    const int64_t before = fs.Events();
    RunCommit(pm, tables, 2);
    eventsOfCommit2 = fs.Events() - before;
  }
  RemoveFiles();
  FaultFileSystem fs;
  {
    TVRXDiskPageManager pm(fs);
    Create(pm);
    Tables tables;
    RunCommit(pm, tables, 1);
    fs.StopAt(fs.Events() + eventsOfCommit2 - 2);
    EXPECT_THROW(RunCommit(pm, tables, 2), EVRXException);
  }
  fs.Crash(CrashMode::kKeep);
}

TEST(CommitCrash, ReadOnlyOpenerRefusesWhatOnlyARollbackCouldMend) {
  const Reference reference = RunReference(2);
  LeaveInterruptedCommit();
  const Bytes torn = ReadAll(kDb);
  ASSERT_NE(Comparable(torn), reference.states[1]);
  {
    TVRXDiskPageManager pm;
    bool repairNeeded = false;
    try {
      Open(pm, repairNeeded, /*readOnly=*/true);
      FAIL() << "a read-only opener read a torn file";
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.NativeError(), kJournalReadOnlyError);
      EXPECT_NE(e.Text().find("read-only"), std::string::npos) << e.Text();
    }
  }
  EXPECT_EQ(ReadAll(kDb), torn);
  // A writable opener rolls back: state 2, the state after commit 1.
  ExpectSoundAfterOpen(reference.tables[1]);
  EXPECT_EQ(Comparable(ReadAll(kDb)), reference.states[1]);
  {
    TVRXDiskPageManager pm;
    bool repairNeeded = true;
    Open(pm, repairNeeded, /*readOnly=*/true);  // now nothing to roll back
    EXPECT_FALSE(repairNeeded);
    pm.CloseDatabaseFile();
  }
}

TEST(CommitCrash, StateOneWithoutJournalStillNeedsRepair) {
  RemoveFiles();
  {
    TVRXDiskPageManager pm;
    Create(pm);
    Tables tables;
    RunCommit(pm, tables, 1);
    pm.CloseDatabaseFile();
  }
  std::remove(JournalFileName(kDb).c_str());
  {
    std::fstream file(kDb, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(42);
    file.put(static_cast<char>(kStateCommitting));
  }
  TVRXDiskPageManager pm;
  bool repairNeeded = false;
  Open(pm, repairNeeded);
  EXPECT_TRUE(repairNeeded);
}

TEST(CommitCrash, ASyncedCommitIsOnDiskWhenApplyChangesReturns) {
  const Reference reference = RunReference(2);
  RemoveFiles();
  FaultFileSystem fs;
  Tables tables;
  {
    TVRXDiskPageManager pm(fs);
    Create(pm);
    RunCommit(pm, tables, 1);
    RunCommit(pm, tables, 2);
    // Power is cut right after the return: nothing unsynced survives.
    fs.StopAt(fs.Events() + 1);
  }
  fs.Crash(CrashMode::kDrop);
  ExpectSoundAfterOpen(tables);
  EXPECT_EQ(Comparable(ReadAll(kDb)), reference.states[2]);
}

TEST(CommitCrash, TwoMultiUserManagersNeverGetTheSamePage) {
  RemoveFiles();
  {
    TVRXDiskPageManager pm;
    Create(pm);
  }
  TVRXDiskPageManager first, second;
  bool multiUser = true, repairNeeded = false, readOnly = false;
  first.OpenDatabaseFile(kDb, {}, multiUser, false, repairNeeded, readOnly);
  multiUser = true;
  second.OpenDatabaseFile(kDb, {}, multiUser, false, repairNeeded, readOnly);
  ASSERT_TRUE(first.IsMultiUser() && second.IsMultiUser());
  std::vector<int32_t> pages;
  for (int i = 0; i < 10; ++i) {
    TVRXDiskPageManager& pm = i % 2 == 0 ? first : second;
    TVRXPage* page = pm.AddPage(kSession, ptTableRecord);
    pages.push_back(page->PageNo());
    pm.PutPage(page);
  }
  std::sort(pages.begin(), pages.end());
  EXPECT_EQ(std::adjacent_find(pages.begin(), pages.end()), pages.end()) << "a page handed out twice";
  first.CancelChanges(kSession);
  second.CancelChanges(kSession);
  first.CloseDatabaseFile();
  second.CloseDatabaseFile();
}

}  // namespace
}  // namespace vrx
