#include "engine/storage/file/VRXJournal.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include <zlib.h>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"

namespace vrx {

namespace {

constexpr char kMagic[8] = {'V', 'R', 'X', 'J', 'O', 'U', 'R', 'N'};
constexpr uint16_t kFormatVersion = 1;
constexpr uint8_t kHasOriginal = 1;
constexpr uint8_t kHasCheck = 2;
// Records stay small enough for their 32-bit length and for one read.
constexpr int64_t kMaxRecordLength = 1 << 20;

namespace hdr {
constexpr int kMagic = 0;
constexpr int kVersion = 8;
constexpr int kHeaderSize = 10;
constexpr int kSalt = 12;
constexpr int kOriginalSize = 16;
constexpr int kNewSize = 24;
constexpr int kRecordCount = 32;
constexpr int kBodySize = 40;
constexpr int kBodyCrc = 48;
constexpr int kHeaderCrc = 60;
}  // namespace hdr

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t count) {
  uLong value = crc;
  while (count > 0) {
    const auto piece = static_cast<uInt>(std::min<size_t>(count, 1u << 30));
    value = crc32(value, data, piece);
    data += piece;
    count -= piece;
  }
  return static_cast<uint32_t>(value);
}

uint32_t SaltedSeed(uint32_t salt) {
  uint8_t bytes[4];
  bytes::StoreU32(bytes, salt);
  return Crc(0, bytes, 4);
}

// Reads exactly `count` bytes or reports EIO (a short read here means the
// file is shorter than it must be).
int ReadExactly(os::File& file, int64_t offset, uint8_t* buffer, size_t count) {
  size_t done = 0;
  const int error = file.Read(offset, buffer, count, done);
  if (error != 0) return error;
  return done == count ? 0 : EIO;
}

struct ParsedRecord {
  int64_t offset;
  uint32_t length;
  uint8_t flags;
  uint32_t newCrc;
  const uint8_t* original;  // into the journal body, or nullptr
};

struct ParsedJournal {
  int64_t originalSize = 0;
  int64_t newSize = 0;
  std::vector<uint8_t> body;
  std::vector<ParsedRecord> records;
};

enum class ParseResult { kEmpty, kTorn, kValid };

// Reads and checks the journal. kEmpty: no magic (never written, or
// invalidated); kTorn: something is there but a checksum or a bound fails.
ParseResult ParseJournal(os::File& journal, ParsedJournal& out, int& error) {
  error = 0;
  uint8_t header[kJournalHeaderSize];
  size_t done = 0;
  error = journal.Read(0, header, sizeof header, done);
  if (error != 0) return ParseResult::kEmpty;
  if (done < static_cast<size_t>(kJournalHeaderSize)) {
    // A journal shorter than its header was never completed.
    return done == 0 ? ParseResult::kEmpty : ParseResult::kTorn;
  }
  if (std::memcmp(header + hdr::kMagic, kMagic, sizeof kMagic) != 0) {
    const bool zero = std::all_of(header, header + sizeof kMagic, [](uint8_t b) { return b == 0; });
    return zero ? ParseResult::kEmpty : ParseResult::kTorn;
  }
  if (bytes::LoadU32(header + hdr::kHeaderCrc) != Crc(0, header, hdr::kHeaderCrc)) return ParseResult::kTorn;
  if (bytes::LoadU16(header + hdr::kVersion) != kFormatVersion ||
      bytes::LoadU16(header + hdr::kHeaderSize) != kJournalHeaderSize)
    return ParseResult::kTorn;
  const uint32_t salt = bytes::LoadU32(header + hdr::kSalt);
  out.originalSize = static_cast<int64_t>(bytes::LoadU64(header + hdr::kOriginalSize));
  out.newSize = static_cast<int64_t>(bytes::LoadU64(header + hdr::kNewSize));
  const uint32_t recordCount = bytes::LoadU32(header + hdr::kRecordCount);
  const uint64_t bodySize = bytes::LoadU64(header + hdr::kBodySize);
  if (out.originalSize < 0 || out.newSize < 0 ||
      bodySize > static_cast<uint64_t>(recordCount) * (kJournalRecordHeaderSize + kMaxRecordLength))
    return ParseResult::kTorn;
  out.body.resize(bodySize);
  done = 0;
  error = journal.Read(kJournalHeaderSize, out.body.data(), out.body.size(), done);
  if (error != 0) return ParseResult::kTorn;
  if (done != out.body.size()) return ParseResult::kTorn;
  if (Crc(SaltedSeed(salt), out.body.data(), out.body.size()) != bytes::LoadU32(header + hdr::kBodyCrc))
    return ParseResult::kTorn;

  size_t pos = 0;
  out.records.clear();
  out.records.reserve(recordCount);
  for (uint32_t i = 0; i < recordCount; ++i) {
    if (out.body.size() - pos < static_cast<size_t>(kJournalRecordHeaderSize)) return ParseResult::kTorn;
    const uint8_t* r = out.body.data() + pos;
    ParsedRecord record{};
    record.offset = static_cast<int64_t>(bytes::LoadU64(r));
    record.length = bytes::LoadU32(r + 8);
    record.flags = r[12];
    record.newCrc = bytes::LoadU32(r + 16);
    pos += kJournalRecordHeaderSize;
    if (record.offset < 0 || record.length > kMaxRecordLength) return ParseResult::kTorn;
    if ((record.flags & kHasOriginal) != 0) {
      if (out.body.size() - pos < record.length) return ParseResult::kTorn;
      record.original = out.body.data() + pos;
      pos += record.length;
    }
    out.records.push_back(record);
  }
  return pos == out.body.size() ? ParseResult::kValid : ParseResult::kTorn;
}

// True when the database already holds everything the journal's commit wrote.
bool CommitReachedDatabase(os::File& database, const ParsedJournal& journal) {
  int64_t size = 0;
  if (database.GetSize(size) != 0 || size != journal.newSize) return false;
  std::vector<uint8_t> buffer;
  for (const ParsedRecord& record : journal.records) {
    if ((record.flags & kHasCheck) == 0) continue;
    buffer.resize(record.length);
    if (ReadExactly(database, record.offset, buffer.data(), buffer.size()) != 0) return false;
    if (Crc(0, buffer.data(), buffer.size()) != record.newCrc) return false;
  }
  return true;
}

// Byte 0 of the journal file is held by a commit while it runs and by
// recovery while it reads and rolls back, so that an opener in another
// process never mistakes a commit in flight for an interrupted one. Only a
// conflict counts as failure: where locks are not supported there is
// nothing to wait for.
int LockJournal(os::File& journal, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const int error = journal.Lock(0, 1);
    if (error != os::kLockConflict) return 0;
    if (attempt + 1 < attempts) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return os::kLockConflict;
}

int ZeroHeader(os::File& journal) {
  const uint8_t zeros[kJournalHeaderSize] = {};
  return journal.Write(0, zeros, sizeof zeros);
}

}  // namespace

std::string JournalFileName(const std::string& databaseFileName) {
  return databaseFileName + "-journal";
}

// --- TVRXJournaledFile ---------------------------------------------------------

TVRXJournaledFile::TVRXJournaledFile(os::FileSystem& fileSystem,
                                     std::unique_ptr<os::File> database,
                                     std::string journalFileName)
    : fileSystem_(fileSystem),
      database_(std::move(database)),
      journalFileName_(std::move(journalFileName)) {
  std::random_device device;
  saltBase_ = device();
}

TVRXJournaledFile::~TVRXJournaledFile() = default;

// Checks the invariants when the public operation that made it ends, on
// every way out.
class TVRXJournaledFile::InvariantGuard {
 public:
  explicit InvariantGuard(const TVRXJournaledFile& file, int64_t around = -1)
      : file_(file), around_(around) {}
  ~InvariantGuard() {
    if (!kCheckInvariants) return;
    if (around_ >= 0)
      file_.CheckInvariantsAround(around_);
    else
      file_.CheckInvariants();
  }
  InvariantGuard(const InvariantGuard&) = delete;
  InvariantGuard& operator=(const InvariantGuard&) = delete;

 private:
  const TVRXJournaledFile& file_;
  int64_t around_;
};

void TVRXJournaledFile::CheckInvariants() const {
  constexpr const char* kUnit = "journaled file";
  int64_t previousEnd = std::numeric_limits<int64_t>::min();
  for (const auto& [offset, bytes] : pending_) {
    CheckInvariant(!bytes.empty(), kUnit, "an empty pending write");
    CheckInvariant(offset >= previousEnd, kUnit, "pending writes overlap");
    previousEnd = offset + static_cast<int64_t>(bytes.size());
    CheckInvariant(previousEnd <= logicalSize_, kUnit, "a pending write passes the logical size");
  }
  CheckInvariant(unitOpen_ || broken_ || pending_.empty(), kUnit,
                 "writes are pending outside a unit");
  CheckInvariant(!unitOpen_ || cutTo_ <= baseSize_, kUnit, "the cut lies above the base size");
}

void TVRXJournaledFile::CheckInvariantsAround(int64_t offset) const {
  constexpr const char* kUnit = "journaled file";
  auto it = pending_.upper_bound(offset);
  for (int step = 0; step < 2 && it != pending_.begin(); ++step) --it;
  int64_t previousEnd = std::numeric_limits<int64_t>::min();
  for (int step = 0; step < 4 && it != pending_.end(); ++step, ++it) {
    CheckInvariant(!it->second.empty(), kUnit, "an empty pending write");
    CheckInvariant(it->first >= previousEnd, kUnit, "pending writes overlap");
    previousEnd = it->first + static_cast<int64_t>(it->second.size());
    CheckInvariant(previousEnd <= logicalSize_, kUnit, "a pending write passes the logical size");
  }
}

int TVRXJournaledFile::BaseSize(int64_t& size) {
  if (unitOpen_) {
    size = baseSize_;
    return 0;
  }
  const int error = database_->GetSize(size);
  if (error != 0) return error;
  baseSize_ = size;
  logicalSize_ = size;
  cutTo_ = size;
  unitOpen_ = true;
  return 0;
}

template <typename Visit>
void TVRXJournaledFile::ForEachPendingOverlap(int64_t begin, int64_t end, Visit visit) {
  auto it = pending_.upper_bound(begin);
  if (it != pending_.begin()) --it;
  for (; it != pending_.end() && it->first < end; ++it) {
    const int64_t start = std::max(begin, it->first);
    const int64_t stop = std::min(end, it->first + static_cast<int64_t>(it->second.size()));
    if (stop > start) visit(start, stop, it->first, it->second);
  }
}

void TVRXJournaledFile::TrimPending(int64_t begin, int64_t end) {
  auto it = pending_.upper_bound(begin);
  if (it != pending_.begin()) --it;
  std::vector<std::pair<int64_t, std::vector<uint8_t>>> pieces;
  while (it != pending_.end() && it->first < end) {
    const int64_t start = it->first;
    const int64_t stop = start + static_cast<int64_t>(it->second.size());
    if (stop <= begin) {
      ++it;
      continue;
    }
    if (start < begin)
      pieces.emplace_back(start, std::vector<uint8_t>(it->second.begin(),
                                                      it->second.begin() + (begin - start)));
    if (stop > end)
      pieces.emplace_back(end, std::vector<uint8_t>(it->second.begin() + (end - start),
                                                    it->second.end()));
    it = pending_.erase(it);
  }
  for (auto& piece : pieces) pending_.emplace(piece.first, std::move(piece.second));
}

int TVRXJournaledFile::ReadLogical(int64_t offset, uint8_t* buffer, size_t count) {
  std::memset(buffer, 0, count);
  const int64_t end = offset + static_cast<int64_t>(count);
  const int64_t baseEnd = std::min({end, cutTo_, baseSize_});
  if (baseEnd > offset) {
    size_t done = 0;
    const int error =
        database_->Read(offset, buffer, static_cast<size_t>(baseEnd - offset), done);
    if (error != 0) return error;
  }
  ForEachPendingOverlap(offset, end,
                        [&](int64_t start, int64_t stop, int64_t writeOffset,
                            std::vector<uint8_t>& bytes) {
                          std::memcpy(buffer + (start - offset),
                                      bytes.data() + (start - writeOffset),
                                      static_cast<size_t>(stop - start));
                        });
  return 0;
}

int TVRXJournaledFile::Read(int64_t offset, void* buffer, size_t count, size_t& done) {
  done = 0;
  if (broken_) return EIO;
  if (!unitOpen_) return database_->Read(offset, buffer, count, done);
  if (offset < 0) return EINVAL;
  const int64_t available = std::max<int64_t>(0, logicalSize_ - offset);
  const auto n = static_cast<size_t>(std::min<int64_t>(available, static_cast<int64_t>(count)));
  if (n == 0) return 0;
  const int error = ReadLogical(offset, static_cast<uint8_t*>(buffer), n);
  if (error == 0) done = n;
  return error;
}

int TVRXJournaledFile::Write(int64_t offset, const void* buffer, size_t count) {
  const InvariantGuard guard(*this, std::max<int64_t>(offset, 0));
  if (broken_) return EIO;
  if (offset < 0) return EINVAL;
  if (count == 0) return 0;
  int64_t ignored = 0;
  if (const int error = BaseSize(ignored); error != 0) return error;
  const int64_t end = offset + static_cast<int64_t>(count);
  TrimPending(offset, end);
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  pending_.emplace(offset, std::vector<uint8_t>(bytes, bytes + count));
  logicalSize_ = std::max(logicalSize_, end);
  return 0;
}

int TVRXJournaledFile::GetSize(int64_t& size) {
  if (broken_) return EIO;
  if (unitOpen_) {
    size = logicalSize_;
    return 0;
  }
  return database_->GetSize(size);
}

int TVRXJournaledFile::SetSize(int64_t size) {
  const InvariantGuard guard(*this);
  if (broken_) return EIO;
  if (size < 0) return EINVAL;
  int64_t ignored = 0;
  if (const int error = BaseSize(ignored); error != 0) return error;
  if (size < logicalSize_) TrimPending(size, std::numeric_limits<int64_t>::max());
  cutTo_ = std::min(cutTo_, size);
  logicalSize_ = size;
  return 0;
}

int TVRXJournaledFile::Lock(int64_t offset, int64_t length) {
  return database_->Lock(offset, length);
}
int TVRXJournaledFile::Unlock(int64_t offset, int64_t length) {
  return database_->Unlock(offset, length);
}
int TVRXJournaledFile::Probe(int64_t offset, int64_t length, bool& lockedByOther) {
  return database_->Probe(offset, length, lockedByOther);
}
bool TVRXJournaledFile::Writable() const { return database_->Writable(); }

int TVRXJournaledFile::Close() {
  Discard();
  if (journal_) {
    journal_->Close();
    journal_.reset();
  }
  return database_->Close();
}

void TVRXJournaledFile::Discard() {
  const InvariantGuard guard(*this);
  pending_.clear();
  unitOpen_ = false;
}

bool TVRXJournaledFile::HasPendingChanges() const { return unitOpen_; }

int TVRXJournaledFile::WriteThrough(int64_t offset, const void* buffer, size_t count) {
  const InvariantGuard guard(*this, std::max<int64_t>(offset, 0));
  if (broken_) return EIO;
  if (count == 0) return 0;
  if (invalidationUnsynced_) {
    TVRXCommitStats ignored;
    if (const int error = Invalidate(true, ignored); error != 0) return error;
  }
  if (const int error = database_->Write(offset, buffer, count); error != 0) return error;
  if (unitOpen_) {
    // Keep the overlay coherent: pending bytes of this range take the new
    // value, and the base bytes below the cut are what reads will see.
    const int64_t end = offset + static_cast<int64_t>(count);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    ForEachPendingOverlap(offset, end,
                          [&](int64_t start, int64_t stop, int64_t writeOffset,
                              std::vector<uint8_t>& pendingBytes) {
                            std::memcpy(pendingBytes.data() + (start - writeOffset),
                                        bytes + (start - offset),
                                        static_cast<size_t>(stop - start));
                          });
    if (end > baseSize_) {
      // Bytes written past the old end become part of the base file.
      if (cutTo_ == baseSize_) cutTo_ = end;
      baseSize_ = end;
      logicalSize_ = std::max(logicalSize_, end);
    }
  }
  return 0;
}

int TVRXJournaledFile::OpenJournal(TVRXCommitStats& stats) {
  if (!journal_) {
    os::OpenOptions options;
    options.write = true;
    const bool existed = fileSystem_.Exists(journalFileName_);
    options.create = !existed;
    int error = 0;
    journal_ = fileSystem_.Open(journalFileName_, options, error);
    if (!journal_) return error != 0 ? error : EIO;
  }
  if (!journalEntryDurable_ && syncs_) {
    // The journal's directory entry must be durable before the database
    // relies on the journal. Once per open file, even when the journal was
    // already there: whoever created it may have died before this sync. A
    // failed sync is tried again by the next commit.
    ++stats.syncs;
    if (const int error = fileSystem_.SyncDirectory(os::DirectoryOf(journalFileName_));
        error != 0)
      return error;
    journalEntryDurable_ = true;
  }
  return 0;
}

int TVRXJournaledFile::Invalidate(bool sync, TVRXCommitStats& stats) {
  if (!journal_) return 0;
  int error = ZeroHeader(*journal_);
  if (error == 0 && sync) {
    error = journal_->Sync();
    ++stats.syncs;
  }
  invalidationUnsynced_ = error != 0 || !sync;
  return error;
}

int TVRXJournaledFile::RollBack(int64_t originalSize, const std::vector<Interval>& intervals,
                                const std::vector<uint8_t>& journal,
                                const std::vector<size_t>& originalAt) {
  int error = database_->SetSize(originalSize);
  for (size_t i = 0; error == 0 && i < intervals.size(); ++i) {
    if (originalAt[i] == 0) continue;
    error = database_->Write(intervals[i].begin, journal.data() + originalAt[i],
                             static_cast<size_t>(intervals[i].end - intervals[i].begin));
  }
  if (error == 0 && syncs_) error = database_->Sync();
  TVRXCommitStats ignored;
  if (error == 0) error = Invalidate(syncs_, ignored);
  return error;
}

int TVRXJournaledFile::Commit() {
  const InvariantGuard guard(*this);
  if (broken_) return EIO;
  lastCommit_ = TVRXCommitStats{};
  if (!unitOpen_) return 0;

  int64_t originalSize = 0;
  if (const int error = database_->GetSize(originalSize); error != 0) return error;
  const int64_t newSize = logicalSize_;
  const int64_t cut = std::min(cutTo_, originalSize);

  // Every byte range the commit changes: the pending writes, and the bytes
  // of the old file that a cut removes or replaces with zeros.
  std::vector<Interval> ranges;
  ranges.reserve(pending_.size() + 1);
  int64_t gapFrom = cut;
  for (const auto& [offset, bytes] : pending_) {
    const int64_t end = offset + static_cast<int64_t>(bytes.size());
    if (gapFrom < originalSize && offset > gapFrom)
      ranges.push_back({gapFrom, std::min(offset, originalSize)});
    if (end > gapFrom) gapFrom = std::max(gapFrom, end);
    ranges.push_back({offset, end});
  }
  if (gapFrom < originalSize) ranges.push_back({gapFrom, originalSize});
  std::sort(ranges.begin(), ranges.end(),
            [](const Interval& a, const Interval& b) { return a.begin < b.begin; });

  // Split at the old and the new end and into pieces a record can hold.
  std::vector<Interval> intervals;
  intervals.reserve(ranges.size());
  for (const Interval& range : ranges) {
    int64_t pos = range.begin;
    while (pos < range.end) {
      int64_t stop = std::min(range.end, pos + kMaxRecordLength);
      if (pos < originalSize && stop > originalSize) stop = originalSize;
      if (pos < newSize && stop > newSize) stop = newSize;
      intervals.push_back({pos, stop});
      pos = stop;
    }
  }

  // The journal image, built in one buffer; the original images in it also
  // serve an immediate rollback (originalAt: where each one starts, 0 for
  // none).
  size_t journalSize = kJournalHeaderSize;
  for (const Interval& interval : intervals) {
    journalSize += kJournalRecordHeaderSize;
    if (interval.end <= originalSize) journalSize += static_cast<size_t>(interval.end - interval.begin);
  }
  std::vector<uint8_t> journal(journalSize);
  std::vector<size_t> originalAt(intervals.size(), 0);
  std::vector<uint8_t> scratch;
  size_t at = kJournalHeaderSize;
  for (size_t i = 0; i < intervals.size(); ++i) {
    const Interval& interval = intervals[i];
    const auto length = static_cast<size_t>(interval.end - interval.begin);
    uint8_t* record = journal.data() + at;
    at += kJournalRecordHeaderSize;
    uint8_t flags = 0;
    uint32_t newCrc = 0;
    if (interval.end <= originalSize) {
      flags |= kHasOriginal;
      originalAt[i] = at;
      if (const int error = ReadExactly(*database_, interval.begin, journal.data() + at, length);
          error != 0)
        return error;
      at += length;
    }
    if (interval.end <= newSize) {
      flags |= kHasCheck;
      // Most intervals are exactly one pending write: checksum it in place.
      const auto exact = pending_.find(interval.begin);
      if (exact != pending_.end() && exact->second.size() == length) {
        newCrc = Crc(0, exact->second.data(), length);
      } else {
        scratch.resize(length);
        if (const int error = ReadLogical(interval.begin, scratch.data(), length); error != 0)
          return error;
        newCrc = Crc(0, scratch.data(), length);
      }
    }
    bytes::StoreU64(record, static_cast<uint64_t>(interval.begin));
    bytes::StoreU32(record + 8, static_cast<uint32_t>(length));
    record[12] = flags;
    bytes::StoreU32(record + 16, newCrc);
  }
  const uint32_t salt = saltBase_ + (++saltCounter_) * 0x9E3779B9u;
  uint8_t* header = journal.data();
  std::memcpy(header + hdr::kMagic, kMagic, sizeof kMagic);
  bytes::StoreU16(header + hdr::kVersion, kFormatVersion);
  bytes::StoreU16(header + hdr::kHeaderSize, kJournalHeaderSize);
  bytes::StoreU32(header + hdr::kSalt, salt);
  bytes::StoreU64(header + hdr::kOriginalSize, static_cast<uint64_t>(originalSize));
  bytes::StoreU64(header + hdr::kNewSize, static_cast<uint64_t>(newSize));
  bytes::StoreU32(header + hdr::kRecordCount, static_cast<uint32_t>(intervals.size()));
  const size_t bodySize = journal.size() - kJournalHeaderSize;
  bytes::StoreU64(header + hdr::kBodySize, bodySize);
  bytes::StoreU32(header + hdr::kBodyCrc,
        Crc(SaltedSeed(salt), journal.data() + kJournalHeaderSize, bodySize));
  bytes::StoreU32(header + hdr::kHeaderCrc, Crc(0, header, hdr::kHeaderCrc));

  TVRXCommitStats stats;
  stats.records = static_cast<int>(intervals.size());
  stats.journalBytes = static_cast<int64_t>(journal.size());

  // a. The journal, durable before the database is touched.
  if (const int error = OpenJournal(stats); error != 0) return error;
  if (const int error = LockJournal(*journal_, kJournalLockAttempts); error != 0) return error;
  struct Unlock {
    os::File& file;
    ~Unlock() { file.Unlock(0, 1); }
  } unlock{*journal_};
  int error = journal_->Write(0, journal.data(), journal.size());
  if (error == 0 && syncs_) {
    error = journal_->Sync();
    ++stats.syncs;
  }
  if (error != 0) return error;  // the database is untouched
  invalidationUnsynced_ = false;

  // b. The database in place.
  if (cut < originalSize) error = database_->SetSize(cut);
  if (error == 0 && newSize != cut) error = database_->SetSize(newSize);
  for (auto it = pending_.begin(); error == 0 && it != pending_.end(); ++it)
    error = database_->Write(it->first, it->second.data(), it->second.size());
  if (error == 0 && syncs_) {
    error = database_->Sync();
    ++stats.syncs;
  }
  if (error != 0) {
    if (RollBack(originalSize, intervals, journal, originalAt) != 0) broken_ = true;
    return error;
  }

  // c. The journal no longer applies. A failure here is no failure of the
  // commit: recovery sees that the commit is complete.
  Invalidate(shared_ && syncs_, stats);
  pending_.clear();
  unitOpen_ = false;
  lastCommit_ = stats;
  return 0;
}

// --- recovery -------------------------------------------------------------------

TVRXRecovery RecoverFromJournal(os::FileSystem& fileSystem, const std::string& databaseFileName,
                                os::File& database, int lockAttempts) {
  const std::string journalName = JournalFileName(databaseFileName);
  if (!fileSystem.Exists(journalName)) return TVRXRecovery::rNoJournal;
  const bool writable = database.Writable();
  os::OpenOptions options;
  options.write = writable;
  int error = 0;
  auto journal = fileSystem.Open(journalName, options, error);
  if (!journal) {
    if (error == ENOENT) return TVRXRecovery::rNoJournal;
    throw EVRXException(
        "Cannot read journal file '%s' of database file '%s'. Error code: %d. ErrorMessage: %s",
        {journalName, databaseFileName, error, os::ErrorText(error)}, kJournalRecoveryError);
  }
  if (LockJournal(*journal, lockAttempts) != 0) throw EVRXException("Database is locked", 20230);
  ParsedJournal parsed;
  const ParseResult result = ParseJournal(*journal, parsed, error);
  if (result == ParseResult::kEmpty) return TVRXRecovery::rNoJournal;
  if (result == ParseResult::kTorn) {
    // Torn while it was written: the database was not yet touched.
    if (writable) ZeroHeader(*journal);
    return TVRXRecovery::rDiscarded;
  }
  if (CommitReachedDatabase(database, parsed)) {
    if (writable && ZeroHeader(*journal) == 0) journal->Sync();
    return TVRXRecovery::rCompleted;
  }
  if (!writable)
    throw EVRXException(
        "Cannot open database file '%s' read-only: its journal '%s' holds an interrupted "
        "commit that must be rolled back first. Open the database once with write access",
        {databaseFileName, journalName}, kJournalReadOnlyError);

  error = database.SetSize(parsed.originalSize);
  for (size_t i = 0; error == 0 && i < parsed.records.size(); ++i) {
    const ParsedRecord& record = parsed.records[i];
    if (record.original != nullptr)
      error = database.Write(record.offset, record.original, record.length);
  }
  if (error == 0) error = database.Sync();
  if (error == 0) error = ZeroHeader(*journal);
  if (error == 0) error = journal->Sync();
  if (error != 0)
    throw EVRXException(
        "Cannot roll back the interrupted commit of database file '%s' from journal '%s'. "
        "Error code: %d. ErrorMessage: %s",
        {databaseFileName, journalName, error, os::ErrorText(error)}, kJournalRecoveryError);
  return TVRXRecovery::rRolledBack;
}

}  // namespace vrx
