// Atomic, durable commits of a database file through a rollback journal kept
// beside it. The disk page manager puts a TVRXJournaledFile between itself
// and the operating-system file: every write and size change of the database
// stays pending in memory (reads see it) until Commit, which makes the whole
// set of changes part of the file at once. RecoverFromJournal runs at open,
// before anything reads the database, and undoes a commit that a crash or a
// power cut interrupted.
//
// Invariants (what a reader of the file may rely on after any crash, once
// RecoverFromJournal has run):
//   1. The database holds exactly the bytes of the last commit whose Commit
//      returned, or exactly the bytes of the commit that was running when the
//      crash came (it had finished writing, only not yet reported it).
//   2. A journal that is valid (both checksums match) describes one commit:
//      the original bytes of everything it changes, the original file size,
//      and a checksum of the new content of every range it writes.
//   3. The database is written in place only while a valid journal of that
//      very commit is durable on disk.
//
// Commit protocol (the syncs are the only ordering points):
//   a. original images, original and new size, new-content checksums are
//      written to the journal in one write at offset 0;      sync journal (1)
//   b. the size changes and pending writes go to the database; sync database (2)
//   c. the journal header is overwritten with zeros (no sync: see below).
// Two syncs per commit, plus one directory sync at the first commit after
// the database was opened (the journal file is kept for the life of the
// database, so later commits neither create nor delete a directory entry). Step c needs no sync because
// recovery tells a finished commit from an interrupted one by itself: when
// the database's size and every range the journal names already match the
// new-content checksums, the commit is complete and the journal is dropped
// instead of rolled back. A database other processes may write (opened
// multi-user, or without exclusive access) syncs step c as well (three
// syncs), since another process's direct writes could make a finished
// commit look unfinished; so does this process before its first write that
// bypasses the journal (WriteThrough).
//
// Journal file: the database file name + "-journal". Little-endian.
//   header, 64 bytes at offset 0
//     0   8  magic "VRXJOURN"           (all zero once invalidated)
//     8   2  format version = 1
//     10  2  header size = 64
//     12  4  salt, new for every commit
//     16  8  database file size before the commit
//     24  8  database file size after the commit
//     32  4  record count
//     36  4  reserved, 0
//     40  8  body size in bytes
//     48  4  CRC-32 of the body, seeded with the salt's four bytes
//     52  8  reserved, 0
//     60  4  CRC-32 of header bytes 0..59
//   body: records, one after the other
//     0   8  absolute offset in the database file (a database that starts at
//            S inside a larger file is covered byte for byte all the same)
//     8   4  length
//     12  1  flags: 1 = original image follows, 2 = new-content CRC is valid
//     13  3  reserved, 0
//     16  4  CRC-32 of the bytes the commit leaves in the range
//     20     the original image (length bytes) when flag 1 is set
// A record never crosses the old or the new end of the file: ranges below the
// old end carry an original image, ranges below the new end a new-content
// CRC. Bytes beyond the old end need no image (rollback cuts the file), bytes
// beyond the new end need no check (the size check covers them). Stale bytes
// after the body (from a longer earlier journal) are never read.
//
// Thread safety: none; the caller serialises (the open database's lock).
// A commit holds byte 0 of the journal file locked while it runs, and
// recovery takes the same lock, so that an opener never rolls back a commit
// another process is still writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/File.h"

namespace vrx {

// Native error numbers of the journal's own failures.
inline constexpr int32_t kJournalReadOnlyError = 31001;
inline constexpr int32_t kJournalRecoveryError = 31002;

// Attempts of 20 ms to get the journal's lock byte (about 90 seconds).
inline constexpr int kJournalLockAttempts = 4500;

inline constexpr int kJournalHeaderSize = 64;
inline constexpr int kJournalRecordHeaderSize = 20;

std::string JournalFileName(const std::string& databaseFileName);

// What one Commit did; for the benchmark and the tests.
struct TVRXCommitStats {
  int syncs = 0;            // file and directory syncs issued
  int64_t journalBytes = 0;  // size of the journal written
  int records = 0;
};

// The database file as the page manager sees it. Owns the real file and the
// journal file. Writes and size changes are pending until Commit; reads and
// GetSize see them. Lock, Unlock, Probe and Writable go straight through.
// Sync is Commit.
class TVRXJournaledFile final : public os::File {
 public:
  // `fileSystem` must outlive this object; the journal file is opened (or
  // created) on the first commit that has something to write.
  TVRXJournaledFile(os::FileSystem& fileSystem, std::unique_ptr<os::File> database,
                    std::string journalFileName);
  ~TVRXJournaledFile() override;

  int Read(int64_t offset, void* buffer, size_t count, size_t& done) override;
  int Write(int64_t offset, const void* buffer, size_t count) override;
  int GetSize(int64_t& size) override;
  int SetSize(int64_t size) override;
  int Sync() override { return Commit(); }
  int Lock(int64_t offset, int64_t length) override;
  int Unlock(int64_t offset, int64_t length) override;
  int Probe(int64_t offset, int64_t length, bool& lockedByOther) override;
  // Drops what is pending (it never reaches the file) and closes both files.
  int Close() override;
  bool Writable() const override;

  // Makes every pending change part of the database atomically and durably
  // (see the protocol above); nothing pending → nothing happens. Returns 0 or
  // an errno value. When the journal could not be written the database is
  // untouched; when the database writes failed they are rolled back from
  // memory at once. Either way the changes stay pending, so the cached pages
  // above still match what a later successful commit writes. When even the
  // rollback failed, the file refuses every later call with EIO; the journal
  // on disk then brings the database back at the next open.
  int Commit();
  // Forgets every pending change.
  void Discard();
  bool HasPendingChanges() const;

  // Writes straight into the database file, outside any commit (bytes other
  // processes must see at once, such as the object-ID counter). Pending
  // bytes of the same range are updated too, so reads stay coherent. Costs
  // one journal sync when the last commit's invalidation is not yet durable.
  int WriteThrough(int64_t offset, const void* buffer, size_t count);

  // false: commits skip every sync (atomic only against a killed process,
  // never against a power cut). For the benchmark's comparison.
  void SetSyncs(bool on) { syncs_ = on; }
  // true: another process may write the file; the journal's invalidation is
  // synced too.
  void SetShared(bool on) { shared_ = on; }
  const TVRXCommitStats& LastCommit() const { return lastCommit_; }

  // Invariants between calls (checked by debug builds at the end of Write,
  // SetSize, WriteThrough, Commit and Discard; Write looks only around the
  // range it wrote):
  //  1. pending writes are non-empty and disjoint;
  //  2. every pending write ends at or below the logical size;
  //  3. with no unit open nothing is pending (unless the file is broken);
  //  4. while a unit is open, the cut lies at or below the base size.
  void CheckInvariants() const;

 private:
  class InvariantGuard;
  // Invariant 1 and 2 for the pending writes next to `offset`.
  void CheckInvariantsAround(int64_t offset) const;
  struct Interval {
    int64_t begin;
    int64_t end;
  };
  // The base file's size before the first pending change of this unit.
  int BaseSize(int64_t& size);
  void TrimPending(int64_t begin, int64_t end);
  // Calls visit(start, stop, writeOffset, bytes) for each pending write that
  // overlaps [begin, end), in file order: [start, stop) is the overlap, the
  // write's bytes (which the visitor may change) begin at writeOffset.
  template <typename Visit>
  void ForEachPendingOverlap(int64_t begin, int64_t end, Visit visit);
  // Reads [offset, offset + count) as the database would hold it after the
  // commit (count must lie below the logical size).
  int ReadLogical(int64_t offset, uint8_t* buffer, size_t count);
  int OpenJournal(TVRXCommitStats& stats);
  int RollBack(int64_t originalSize, const std::vector<Interval>& intervals,
               const std::vector<uint8_t>& journal, const std::vector<size_t>& originalAt);
  int Invalidate(bool sync, TVRXCommitStats& stats);

  os::FileSystem& fileSystem_;
  std::unique_ptr<os::File> database_;
  std::string journalFileName_;
  std::unique_ptr<os::File> journal_;

  // Pending writes, disjoint, by offset.
  std::map<int64_t, std::vector<uint8_t>> pending_;
  bool unitOpen_ = false;      // some change is pending (even if pending_ is empty)
  int64_t baseSize_ = 0;       // database size when the unit began
  int64_t logicalSize_ = 0;    // size after the unit
  int64_t cutTo_ = 0;          // lowest size set in the unit: base bytes from here read as 0

  bool syncs_ = true;
  bool shared_ = false;
  bool broken_ = false;
  bool journalEntryDurable_ = false;  // the journal's directory entry was synced
  // The last commit's journal was invalidated without a sync: a write that
  // bypasses the journal must sync that first, or a power cut could bring
  // back a journal whose ranges no longer match (and roll back a durable
  // commit).
  bool invalidationUnsynced_ = false;
  uint32_t saltCounter_ = 0;
  uint32_t saltBase_ = 0;
  TVRXCommitStats lastCommit_;
};

enum class TVRXRecovery {
  rNoJournal,    // no journal file, or an invalidated one
  rDiscarded,    // a journal torn while it was written: the database was untouched
  rCompleted,    // the commit had reached the database in full; journal dropped
  rRolledBack,   // the interrupted commit was undone
};

// Brings the database back to a whole commit. Call it right after opening,
// before anything reads the database. `database` is the raw file;
// when it is read-only and an interrupted commit must be undone, throws
// EVRXException kJournalReadOnlyError with a message naming both files;
// failures of the rollback itself throw kJournalRecoveryError. The journal
// is only read when the database is read-only. Waits for a commit of
// another process to finish ("Database is locked" (20230) after
// `lockAttempts` tries of 20 ms).
TVRXRecovery RecoverFromJournal(os::FileSystem& fileSystem, const std::string& databaseFileName,
                                os::File& database, int lockAttempts = kJournalLockAttempts);

}  // namespace vrx
