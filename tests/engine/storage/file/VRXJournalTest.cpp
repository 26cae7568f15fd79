// The journaled file on its own, below any page manager: pending changes
// and reads, the commit protocol's syncs, recovery's four outcomes, I/O
// errors, and a crash at every event of a workload of commits.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/storage/file/VRXJournal.h"
#include "tests/support/FaultFileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

using vrx::JournalFileName;
using vrx::RecoverFromJournal;
using vrx::TVRXJournaledFile;
using vrx::TVRXRecovery;
using vrx::test::CrashMode;
using vrx::test::FaultFileSystem;
using Bytes = std::vector<uint8_t>;

const std::string kDb = "db";

Bytes Random(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::unique_ptr<vrx::os::File> OpenDb(vrx::os::FileSystem& fs, bool write = true) {
  vrx::os::OpenOptions options;
  options.write = write;
  int error = 0;
  auto file = fs.Open(kDb, options, error);
  EXPECT_NE(file, nullptr) << vrx::os::ErrorText(error);
  return file;
}

std::unique_ptr<TVRXJournaledFile> OpenJournaled(vrx::os::FileSystem& fs) {
  return std::make_unique<TVRXJournaledFile>(fs, OpenDb(fs), JournalFileName(kDb));
}

TVRXRecovery Recover(bool write = true) {
  auto file = OpenDb(vrx::os::PosixFileSystem(), write);
  return RecoverFromJournal(vrx::os::PosixFileSystem(), kDb, *file);
}

// One change of a commit: a write of `length` bytes at `offset`, or (size)
// a size change to `offset`.
struct Change {
  bool size;
  int64_t offset;
  int64_t length;
};
using Workload = std::vector<std::vector<Change>>;

// Bytes written by commit k: distinct per commit and per position, so a
// byte in the wrong place or from the wrong commit shows.
uint8_t Stamp(size_t commit, int64_t position) {
  return static_cast<uint8_t>(commit * 37 + position * 11 + 1);
}

void ApplyToModel(Bytes& model, size_t commit, const Change& change) {
  if (change.size) {
    model.resize(static_cast<size_t>(change.offset), 0);
    return;
  }
  const auto end = static_cast<size_t>(change.offset + change.length);
  if (model.size() < end) model.resize(end, 0);
  for (int64_t i = 0; i < change.length; ++i)
    model[static_cast<size_t>(change.offset + i)] = Stamp(commit, change.offset + i);
}

int ApplyToFile(TVRXJournaledFile& file, size_t commit, const Change& change) {
  if (change.size) return file.SetSize(change.offset);
  Bytes bytes(static_cast<size_t>(change.length));
  for (int64_t i = 0; i < change.length; ++i) bytes[static_cast<size_t>(i)] = Stamp(commit, change.offset + i);
  return file.Write(change.offset, bytes.data(), bytes.size());
}

// The database starts 3000 bytes into its file, after bytes that belong to
// someone else and must never change; all offsets below are absolute.
constexpr int64_t kStart = 3000;
const Bytes kInitial = Random(kStart + 8192, 7);

const Workload& CrashWorkload() {
  static const Workload workload = {
      // in place, and growth by a write past the end
      {{false, kStart + 100, 512}, {false, kStart + 8192, 4096}},
      // shrink, then a write that crosses sector boundaries
      {{true, kStart + 11000, 0}, {false, kStart + 1000, 700}},
      // grow by a size change, a write past the new end, overlapping writes
      {{true, kStart + 16000, 0}, {false, kStart + 17000, 300}, {false, kStart + 2000, 2000},
       {false, kStart + 2500, 100}},
      // cut, then write again inside the cut part
      {{true, kStart + 9000, 0}, {false, kStart + 10000, 1500}, {false, kStart + 10, 20}},
      // many small writes
      {{false, kStart + 0, 100}, {false, kStart + 600, 100}, {false, kStart + 1200, 100},
       {false, kStart + 1800, 100}, {false, kStart + 2400, 100}, {false, kStart + 3000, 100}},
      // one large write across the old end
      {{false, kStart + 5000, 20000}},
  };
  return workload;
}

// states[k] = the file after k commits.
std::vector<Bytes> States(const Workload& workload) {
  std::vector<Bytes> states{kInitial};
  for (size_t k = 0; k < workload.size(); ++k) {
    Bytes next = states.back();
    for (const Change& change : workload[k]) ApplyToModel(next, k + 1, change);
    states.push_back(std::move(next));
  }
  return states;
}

void FreshFiles() {
  std::remove(JournalFileName(kDb).c_str());
  WriteAll(kDb, kInitial);
}

// Runs the workload; returns how many commits reported success.
size_t RunWorkload(FaultFileSystem& fs, const Workload& workload) {
  auto file = OpenJournaled(fs);
  size_t done = 0;
  for (size_t k = 0; k < workload.size(); ++k) {
    for (const Change& change : workload[k])
      if (ApplyToFile(*file, k + 1, change) != 0) return done;
    if (file->Commit() != 0) return done;
    ++done;
  }
  return done;
}

// --- pending changes ----------------------------------------------------------

TEST(JournaledFile, ReadsSeePendingChangesAndCommitWritesThemAll) {
  // Random writes and size changes, with a read of a random range after
  // each, compared with a plain model; a commit every so often, after which
  // the file on disk must equal the model.
  WriteAll(kDb, Random(5000, 1));
  Bytes model = ReadAll(kDb);
  FaultFileSystem fs;  // for its quick syncs
  auto file = OpenJournaled(fs);
  std::mt19937 random(42);
  for (int step = 0; step < 1500; ++step) {
    const int kind = static_cast<int>(random() % 10);
    if (kind < 6) {
      const int64_t offset = random() % 12000;
      Bytes bytes = Random(1 + random() % 1500, step);
      ASSERT_EQ(file->Write(offset, bytes.data(), bytes.size()), 0);
      if (model.size() < offset + bytes.size()) model.resize(offset + bytes.size(), 0);
      std::copy(bytes.begin(), bytes.end(), model.begin() + offset);
    } else if (kind < 8) {
      const int64_t size = random() % 12000;
      ASSERT_EQ(file->SetSize(size), 0);
      model.resize(static_cast<size_t>(size), 0);
    } else if (kind == 8) {
      ASSERT_EQ(file->Commit(), 0);
      ASSERT_EQ(ReadAll(kDb), model) << "step " << step;
    }
    int64_t size = -1;
    ASSERT_EQ(file->GetSize(size), 0);
    ASSERT_EQ(size, static_cast<int64_t>(model.size()));
    const int64_t offset = random() % 13000;
    Bytes got(1 + random() % 3000, 0xEE);
    size_t done = 0;
    ASSERT_EQ(file->Read(offset, got.data(), got.size(), done), 0);
    const size_t expectedDone =
        offset >= size ? 0 : std::min<size_t>(got.size(), static_cast<size_t>(size - offset));
    ASSERT_EQ(done, expectedDone) << "step " << step;
    for (size_t i = 0; i < done; ++i) ASSERT_EQ(got[i], model[offset + i]) << "step " << step;
    for (size_t i = done; i < got.size(); ++i) ASSERT_EQ(got[i], 0xEE);  // rest untouched
  }
}

TEST(JournaledFile, PendingChangesNeverReachTheFileWithoutCommit) {
  WriteAll(kDb, Bytes(4096, 'a'));
  {
    auto file = OpenJournaled(vrx::os::PosixFileSystem());
    ASSERT_EQ(file->Write(100, "zzzz", 4), 0);
    ASSERT_EQ(file->SetSize(10), 0);
    ASSERT_TRUE(file->HasPendingChanges());
  }  // dropped without commit
  EXPECT_EQ(ReadAll(kDb), Bytes(4096, 'a'));
  EXPECT_EQ(Recover(), TVRXRecovery::rNoJournal);
}

// --- syncs ----------------------------------------------------------------------

struct SyncCase {
  const char* name;
  bool shared;
  bool syncs;
  int firstCommit;  // syncs of the first commit after opening
  int laterCommit;
};

TEST(JournaledFile, SyncsPerCommit) {
  const SyncCase cases[] = {
      // journal + database, and once the journal's directory entry
      {"single user", false, true, 3, 2},
      // the journal's invalidation is synced too
      {"shared", true, true, 4, 3},
      {"without syncs", false, false, 0, 0},
  };
  for (const SyncCase& c : cases) {
    SCOPED_TRACE(c.name);
    FreshFiles();
    FaultFileSystem fs;
    auto file = OpenJournaled(fs);
    file->SetShared(c.shared);
    file->SetSyncs(c.syncs);
    for (int commit = 0; commit < 3; ++commit) {
      const int64_t before = fs.Syncs();
      ASSERT_EQ(file->Write(kStart + commit * 4096, "page", 4), 0);
      ASSERT_EQ(file->Commit(), 0);
      const int expected = commit == 0 ? c.firstCommit : c.laterCommit;
      EXPECT_EQ(fs.Syncs() - before, expected) << "commit " << commit;
      EXPECT_EQ(file->LastCommit().syncs, expected);
    }
  }
}

TEST(JournaledFile, CommitWithNothingPendingTouchesNothing) {
  FreshFiles();
  FaultFileSystem fs;
  auto file = OpenJournaled(fs);
  const int64_t before = fs.Events();
  EXPECT_EQ(file->Commit(), 0);
  EXPECT_EQ(fs.Events(), before);
  EXPECT_FALSE(fs.Exists(JournalFileName(kDb)));
  EXPECT_EQ(ReadAll(kDb), kInitial);
}

TEST(JournaledFile, WriteThroughMakesTheLastInvalidationDurableFirst) {
  FreshFiles();
  FaultFileSystem fs;
  auto file = OpenJournaled(fs);
  ASSERT_EQ(file->Write(kStart, "new!", 4), 0);
  ASSERT_EQ(file->Commit(), 0);
  int64_t syncs = fs.Syncs();
  ASSERT_EQ(file->WriteThrough(kStart + 376, "\x01\x00\x00\x00", 4), 0);
  EXPECT_EQ(fs.Syncs(), syncs + 1);
  ASSERT_EQ(file->WriteThrough(kStart + 376, "\x02\x00\x00\x00", 4), 0);
  EXPECT_EQ(fs.Syncs(), syncs + 1);  // already durable
  // A through write over a pending range: reads and the commit keep it.
  ASSERT_EQ(file->Write(kStart + 370, "0123456789", 10), 0);
  ASSERT_EQ(file->WriteThrough(kStart + 376, "ABCD", 4), 0);
  char got[10];
  size_t done = 0;
  ASSERT_EQ(file->Read(kStart + 370, got, 10, done), 0);
  EXPECT_EQ(std::string(got, 10), "012345ABCD");
  ASSERT_EQ(file->Commit(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ReadAll(kDb).data()) + kStart + 370, 10),
            "012345ABCD");
}

// --- recovery -----------------------------------------------------------------------

// Runs the first commit of the crash workload with event `stopAt` failing
// for good, then crashes with `mode`.
void CrashFirstCommit(int64_t stopAt, CrashMode mode) {
  FreshFiles();
  FaultFileSystem fs;
  fs.StopAt(stopAt);
  RunWorkload(fs, {CrashWorkload()[0]});
  fs.Crash(mode);
}

int64_t EventsOfFirstCommit() {
  FreshFiles();
  FaultFileSystem fs;
  RunWorkload(fs, {CrashWorkload()[0]});
  return fs.Events();
}

TEST(JournalRecovery, OutcomesAndTheFileTheyLeave) {
  const std::vector<Bytes> states = States(CrashWorkload());
  const int64_t events = EventsOfFirstCommit();
  // Events of one commit: create journal, directory sync, journal write,
  // journal sync, database size, two database writes, database sync, the
  // invalidation.
  ASSERT_EQ(events, 9);

  // The invalidation never happened: the commit is complete all the same.
  CrashFirstCommit(events, CrashMode::kKeep);
  EXPECT_EQ(Recover(), TVRXRecovery::rCompleted);
  EXPECT_EQ(ReadAll(kDb), states[1]);
  EXPECT_EQ(Recover(), TVRXRecovery::rNoJournal);  // dropped for good

  // Power cut before the database sync: the synced journal undoes the rest.
  CrashFirstCommit(events - 1, CrashMode::kDrop);
  EXPECT_EQ(ReadAll(kDb), kInitial);
  EXPECT_EQ(Recover(), TVRXRecovery::rRolledBack);
  EXPECT_EQ(ReadAll(kDb), states[0]);

  // Killed in the middle of the database writes.
  CrashFirstCommit(events - 2, CrashMode::kKeep);
  EXPECT_NE(ReadAll(kDb), states[0]);
  EXPECT_EQ(Recover(), TVRXRecovery::rRolledBack);
  EXPECT_EQ(ReadAll(kDb), states[0]);

  // Power cut before the journal sync: nothing of the journal survives.
  CrashFirstCommit(4, CrashMode::kDrop);
  EXPECT_EQ(Recover(), TVRXRecovery::rNoJournal);
  EXPECT_EQ(ReadAll(kDb), states[0]);

  // A journal torn while it was written is recognised and dropped.
  CrashFirstCommit(4, CrashMode::kKeep);  // written, never synced, database untouched
  Bytes journal = ReadAll(JournalFileName(kDb));
  ASSERT_GT(journal.size(), 200u);
  journal[150] ^= 0x5A;
  WriteAll(JournalFileName(kDb), journal);
  EXPECT_EQ(Recover(), TVRXRecovery::rDiscarded);
  EXPECT_EQ(ReadAll(kDb), states[0]);
  EXPECT_EQ(Recover(), TVRXRecovery::rNoJournal);
}

TEST(JournalRecovery, ReadOnlyOpenerRefusesAnInterruptedCommitAndLeavesBothFiles) {
  const int64_t events = EventsOfFirstCommit();
  CrashFirstCommit(events - 2, CrashMode::kKeep);
  const Bytes database = ReadAll(kDb);
  const Bytes journal = ReadAll(JournalFileName(kDb));
  try {
    Recover(false);
    FAIL() << "a read-only opener read a torn database";
  } catch (const vrx::EVRXException& e) {
    EXPECT_EQ(e.NativeError(), vrx::kJournalReadOnlyError);
    EXPECT_EQ(e.Text(),
              "Cannot open database file 'db' read-only: its journal 'db-journal' holds an "
              "interrupted commit that must be rolled back first. Open the database once with "
              "write access");
  }
  EXPECT_EQ(ReadAll(kDb), database);
  EXPECT_EQ(ReadAll(JournalFileName(kDb)), journal);
  // A complete commit needs no rollback: the read-only opener goes ahead.
  CrashFirstCommit(events, CrashMode::kKeep);
  const Bytes leftOver = ReadAll(JournalFileName(kDb));
  EXPECT_EQ(Recover(false), TVRXRecovery::rCompleted);
  EXPECT_EQ(ReadAll(JournalFileName(kDb)), leftOver);
}

TEST(JournalRecovery, WaitsForTheCommitLockOfAnotherHolder) {
  const int64_t events = EventsOfFirstCommit();
  CrashFirstCommit(events - 2, CrashMode::kKeep);
  const Bytes database = ReadAll(kDb);
  // Another process in the middle of a commit holds the journal's byte 0.
  vrx::os::OpenOptions options;
  options.write = true;
  int error = 0;
  auto holder = vrx::os::PosixFileSystem().Open(JournalFileName(kDb), options, error);
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(holder->Lock(0, 1), 0);
  auto file = OpenDb(vrx::os::PosixFileSystem());
  try {
    RecoverFromJournal(vrx::os::PosixFileSystem(), kDb, *file, 2);
    FAIL() << "recovery ran over a commit in flight";
  } catch (const vrx::EVRXException& e) {
    EXPECT_EQ(e.Text(), "Database is locked");
  }
  EXPECT_EQ(ReadAll(kDb), database);
  ASSERT_EQ(holder->Unlock(0, 1), 0);
  EXPECT_EQ(RecoverFromJournal(vrx::os::PosixFileSystem(), kDb, *file, 2),
            TVRXRecovery::rRolledBack);
}

// --- failures and crashes at every event -------------------------------------------

TEST(JournaledFile, AnyOneIoErrorLeavesTheOldFileAndARetrySucceeds) {
  const std::vector<Bytes> states = States(CrashWorkload());
  const int64_t events = EventsOfFirstCommit();
  for (int64_t n = 1; n <= events; ++n) {
    SCOPED_TRACE("failing event " + std::to_string(n));
    FreshFiles();
    FaultFileSystem fs;
    fs.FailAt(n);
    auto file = OpenJournaled(fs);
    for (const Change& change : CrashWorkload()[0]) ASSERT_EQ(ApplyToFile(*file, 1, change), 0);
    if (file->Commit() != 0) {
      EXPECT_EQ(ReadAll(kDb), states[0]);
      ASSERT_TRUE(file->HasPendingChanges());
      ASSERT_EQ(file->Commit(), 0);  // the changes were kept for this retry
    }
    EXPECT_EQ(ReadAll(kDb), states[1]);
    file.reset();
    const TVRXRecovery recovery = Recover();
    EXPECT_TRUE(recovery == TVRXRecovery::rNoJournal || recovery == TVRXRecovery::rCompleted);
    EXPECT_EQ(ReadAll(kDb), states[1]);
  }
}

TEST(JournaledFile, CrashAtEveryEventLeavesAWholeCommit) {
  const Workload& workload = CrashWorkload();
  const std::vector<Bytes> states = States(workload);
  FreshFiles();
  int64_t events = 0;
  {
    FaultFileSystem fs;
    ASSERT_EQ(RunWorkload(fs, workload), workload.size());
    events = fs.Events();
    ASSERT_EQ(ReadAll(kDb), states.back());
  }
  struct Mode {
    CrashMode mode;
    uint32_t seed;
  };
  const Mode modes[] = {{CrashMode::kKeep, 0}, {CrashMode::kDrop, 0}, {CrashMode::kTear, 1},
                        {CrashMode::kTear, 2}, {CrashMode::kTear, 3}};
  int rolledBack = 0;
  for (int64_t n = 1; n <= events; ++n) {
    for (const Mode& mode : modes) {
      SCOPED_TRACE("stop at event " + std::to_string(n) + ", mode " +
                   std::to_string(static_cast<int>(mode.mode)) + ", seed " +
                   std::to_string(mode.seed));
      FreshFiles();
      FaultFileSystem fs;
      fs.StopAt(n);
      // A stop at the very last event (the invalidation) still lets every
      // commit report success.
      const size_t done = RunWorkload(fs, workload);
      fs.Crash(mode.mode, mode.seed + static_cast<uint32_t>(n) * 7);
      if (Recover() == TVRXRecovery::rRolledBack) ++rolledBack;
      const Bytes after = ReadAll(kDb);
      // The last reported commit survives (durability); the interrupted one
      // is there in full or not at all.
      ASSERT_TRUE(after == states[done] ||
                  (done < workload.size() && after == states[done + 1]))
          << "commits done " << done << ", file size " << after.size();
      // Recovery is final: a second pass finds nothing to do.
      const TVRXRecovery again = Recover();
      ASSERT_TRUE(again == TVRXRecovery::rNoJournal) << static_cast<int>(again);
      ASSERT_EQ(ReadAll(kDb), after);
    }
  }
  EXPECT_GT(rolledBack, 0);
}

TEST(JournalRecovery, CrashDuringRecoveryIsRecoveredAgain) {
  // A commit killed in the middle of its database writes; then recovery
  // itself is stopped at each of its events, with each crash mode.
  const std::vector<Bytes> states = States(CrashWorkload());
  const int64_t commitEvents = EventsOfFirstCommit();
  CrashFirstCommit(commitEvents - 2, CrashMode::kKeep);
  const Bytes crashedDb = ReadAll(kDb);
  const Bytes crashedJournal = ReadAll(JournalFileName(kDb));
  int64_t recoveryEvents = 0;
  {
    FaultFileSystem fs;
    auto file = OpenDb(fs);
    ASSERT_EQ(RecoverFromJournal(fs, kDb, *file), TVRXRecovery::rRolledBack);
    recoveryEvents = fs.Events();
  }
  ASSERT_GE(recoveryEvents, 4);
  for (int64_t n = 1; n <= recoveryEvents; ++n) {
    for (CrashMode mode : {CrashMode::kKeep, CrashMode::kDrop, CrashMode::kTear}) {
      SCOPED_TRACE("recovery stopped at event " + std::to_string(n));
      WriteAll(kDb, crashedDb);
      WriteAll(JournalFileName(kDb), crashedJournal);
      {
        FaultFileSystem fs;
        fs.StopAt(n);
        auto file = OpenDb(fs);
        EXPECT_THROW(RecoverFromJournal(fs, kDb, *file), vrx::EVRXException);
        file.reset();
        fs.Crash(mode, static_cast<uint32_t>(n));
      }
      const TVRXRecovery again = Recover();
      EXPECT_NE(again, TVRXRecovery::rDiscarded);
      EXPECT_EQ(ReadAll(kDb), states[0]);
    }
  }
}

}  // namespace
