// Damaged tables: a table written through cursors has its record pages, its
// record page index and its counters file damaged in the file, one damage
// at a time (flipped bits, slot bitmaps, counts and sizes at their
// extremes, page numbers pointing elsewhere, the counters file cut short or
// holding values out of range). Each time the database is opened again and
// the table is read through a cursor in both directions, by record ID and
// by record number, written to, and checked by vrxcheck. Only engine
// errors and result codes may come out: no other exception, no endless
// walk, and (under the sanitizers) no read outside a buffer.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/btree/VRXBTree.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/records/VRXRecordPage.h"
#include "tests/support/TableTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tools/vrxcheck/VRXCheck.h"

namespace vrx {
namespace {

using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;

constexpr int32_t kPageSize = 4096;
constexpr int64_t kFirstPageAt = 380;

int64_t PageAt(int32_t pageNo) { return kFirstPageAt + int64_t{pageNo} * kPageSize; }
int64_t DataAt(int32_t pageNo) { return PageAt(pageNo) + kPageHeaderSize; }

// Where the parts of table T lie in the base file.
struct Layout {
  int32_t tableID = -1;
  std::vector<int32_t> recordPages;
  int32_t pageIndexRoot = -1;
  int32_t byIDRoot = -1;
  int32_t metadataPage = -1;
  int32_t mostUpdatedPage = -1;
  int32_t totalPages = 0;
  int32_t recordsPerPage = 0;
  int64_t recordCount = 0;
  std::vector<uint8_t> counters;  // the content of the most-updated file
};

// A cursor on table T of `session` with a record buffer of its own.
struct OpenCursor {
  explicit OpenCursor(TVRXLocalSession& session) {
    cursor.session = &session;
    cursor.tableName = "T";
  }
  void Open() {
    cursor.OpenTable();
    holder = std::make_unique<TVRXRecordBuffer>(cursor);
    buffer = *holder;
    cursor.recordBuffer = buffer;
  }
  TVRXLocalCursor cursor;
  std::unique_ptr<TVRXRecordBuffer> holder;
  std::span<uint8_t> buffer;
};

// Table T (ID AUTOINC, Name STRING(200), Body INTEGER; unique index ByID,
// plain index ByBody): 50 records inserted, some updated and deleted,
// over three record pages of at most 19 records.
Layout MakeBase(const std::string& name) {
  pelvaro::test::CreateDatabaseFile(name);
  TVRXLocalSession session;
  pelvaro::test::ConnectSession(session, name);
  Layout layout;
  {
    TVRXFieldDefs fields;
    TVRXIndexDefs indexes;
    pelvaro::test::DefineTableT(fields, indexes);
    TVRXConstraintDefs constraints;
    OpenCursor open(session);
    TVRXLocalCursor& cursor = open.cursor;
    cursor.CreateTable(fields, indexes, constraints);
    open.Open();
    pelvaro::test::FillTableT(cursor, open.buffer);
    TVRXDiskTableData& table = *cursor.TableData();
    layout.tableID = table.TableID();
    table.RecordPageIndex()->ForEachPage(session.sessionID, [&](int32_t page, int32_t) {
      layout.recordPages.push_back(page);
      return true;
    });
    layout.pageIndexRoot = table.RecordPageIndex()->RootPage();
    const TVRXIndexDefs& defs = table.IndexManager()->IndexDefs();
    layout.byIDRoot = defs.Index(defs.IndexOfName("ByID")).RootPage();
    layout.recordsPerPage = table.DiskRecordManager()->RecordsPerPage();
    layout.recordCount = cursor.GetRecordCount();
  }
  auto& disk = dynamic_cast<TVRXDiskDatabaseData&>(session.DatabaseData());
  const TVRXTableEntry entry = disk.FindTableEntry("T");
  layout.metadataPage = entry.metadataPage;
  layout.mostUpdatedPage = entry.mostUpdatedPage;
  layout.totalPages = disk.DiskPageManager()->GetTotalPageCount();
  layout.counters = TVRXInternalDBTransactedAccessFile(*disk.DiskPageManager(), ptTableMostUpdated,
                                                       entry.mostUpdatedPage)
                        .ReadAll(session.sessionID);
  session.SetConnected(false);
  return layout;
}

// One damage: bytes written over the base file at an offset, the bits of a
// mask flipped there, or a new content of the counters file.
struct Damage {
  enum Kind { kWrite, kFlip, kCounters };
  std::string what;
  int64_t offset = -1;
  std::vector<uint8_t> bytes;
  Kind kind = kWrite;
};

Damage Flip(const std::string& what, int64_t fileBit, int64_t bitInPage) {
  return {what + " bit " + std::to_string(bitInPage), fileBit / 8,
          {static_cast<uint8_t>(1u << (fileBit % 8))}, Damage::kFlip};
}

std::vector<uint8_t> I32(int32_t value) {
  std::vector<uint8_t> out(4);
  bytes::StoreI32(out.data(), value);
  return out;
}
std::vector<uint8_t> U16(uint16_t value) {
  std::vector<uint8_t> out(2);
  bytes::StoreU16(out.data(), value);
  return out;
}

// Runs `call`; an engine error is an answer, anything else a failure.
void Guarded(const std::string& damage, const char* step, const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception&) {
  } catch (const std::exception& e) {
    ADD_FAILURE() << damage << ", " << step << ": " << typeid(e).name() << " " << e.what();
  }
}

// Steps through the table until a step finds nothing; false when the walk
// does not end within `limit` records.
bool Walk(TVRXLocalCursor& cursor, int32_t mode, int32_t limit,
          std::vector<TVRXRecordID>& found) {
  for (int32_t i = 0; i <= limit; ++i) {
    const int32_t result = cursor.GetRecord(mode);
    if (result != TVRXReadRequest::kFound) {
      EXPECT_TRUE(result >= 1 && result <= 3) << result;
      return true;
    }
    found.push_back(cursor.currentRecordID);
  }
  return false;
}

// Opens the database in `name`, reads table T every way the cursor's core
// offers, writes to it, and checks the file. Returns the number of records
// the first walk found.
int64_t Exercise(const std::string& name, const std::string& damage, int32_t limit) {
  std::vector<TVRXRecordID> ids;
  {
    TVRXLocalSession session;
    session.databaseFileName = name;
    Guarded(damage, "connect", [&] { session.SetConnected(true); });
    if (!session.IsConnected()) return 0;
    OpenCursor open(session);
    TVRXLocalCursor& cursor = open.cursor;
    Guarded(damage, "open", [&] { open.Open(); });
    if (cursor.opened) {
      Guarded(damage, "forwards", [&] {
        cursor.First();
        EXPECT_TRUE(Walk(cursor, TVRXReadRequest::kNext, limit, ids)) << damage;
      });
      Guarded(damage, "backwards", [&] {
        cursor.Last();
        std::vector<TVRXRecordID> back;
        EXPECT_TRUE(Walk(cursor, TVRXReadRequest::kPrior, limit, back)) << damage;
      });
      TVRXDiskTableData& table = *cursor.TableData();
      for (const TVRXRecordID& id : ids) {
        Guarded(damage, "by record ID", [&] {
          cursor.currentRecordID = id;
          cursor.atBOF = cursor.atEOF = false;
          const int32_t result = cursor.GetRecord(TVRXReadRequest::kCurrent);
          EXPECT_TRUE(result == 0 || result == 3) << damage << ": " << result;
        });
        Guarded(damage, "record number", [&] { table.GetRecordNumber(cursor); });
      }
      const int64_t count = table.GetTotalRecordCount(cursor);
      for (int64_t n = 0; n <= std::min<int64_t>(count + 1, limit); ++n)
        Guarded(damage, "by record number", [&] { table.GetRecordIDByNumber(cursor, n); });
      Guarded(damage, "position limit", [&] { table.GetPositionLimit(session.sessionID); });

      // Writes: an insert, then an update and a delete of the records found.
      Guarded(damage, "insert", [&] {
        cursor.InitRecord(open.buffer, true);
        TVRXVariant v;
        v.SetAsInteger(7);
        cursor.SetFieldValue(v, 2, open.buffer);
        cursor.Post(true);
      });
      if (!ids.empty()) {
        Guarded(damage, "update", [&] {
          cursor.currentRecordID = ids.front();
          cursor.atBOF = cursor.atEOF = false;
          if (cursor.GetRecord(TVRXReadRequest::kCurrent) != 0) return;
          TVRXVariant v;
          v.SetAsInteger(1000);
          cursor.SetFieldValue(v, 2, open.buffer);
          cursor.Post(false);
        });
        Guarded(damage, "delete", [&] {
          cursor.currentRecordID = ids.back();
          cursor.atBOF = cursor.atEOF = false;
          if (cursor.GetRecord(TVRXReadRequest::kCurrent) != 0) return;
          cursor.Delete();
        });
      }
      Guarded(damage, "close", [&] { cursor.CloseTable(); });
    }
    Guarded(damage, "disconnect", [&] { session.SetConnected(false); });
  }
  try {
    std::ostringstream report;
    const int code = check::CheckDatabaseFile(name, report);
    EXPECT_TRUE(code == check::kSound || code == check::kProblems || code == check::kCannotCheck)
        << damage;
  } catch (const std::exception& e) {
    ADD_FAILURE() << damage << ", vrxcheck: " << e.what();
  }
  return static_cast<int64_t>(ids.size());
}

// The damages of the header fields every page of the table shares.
void HeaderDamages(std::vector<Damage>& out, const std::string& what, int32_t page,
                   const Layout& layout) {
  const int64_t at = PageAt(page);
  for (uint16_t type : {0, 1, 8, 9, 10, 11, 12, 200, 0xFFFF})
    out.push_back({what + " type " + std::to_string(type), at + page_header::kPageType, U16(type)});
  for (int32_t counter : {-1, 0x7FFFFFFD, 0x7FFFFFFE, 0x7FFFFFFF, INT32_MIN})
    out.push_back({what + " modification counter " + std::to_string(counter),
                   at + page_header::kModCounter, I32(counter)});
  for (int32_t next : {page, layout.recordPages[0], layout.totalPages, INT32_MAX})
    out.push_back({what + " next page " + std::to_string(next), at + page_header::kNextPage,
                   I32(next)});
  out.push_back({what + " signature", at, {'X', 'X', 'X', 'X'}});
}

// Page numbers that point at something other than the page meant.
std::vector<int32_t> StrayPages(const Layout& layout) {
  return {-1,
          0,
          INT32_MAX,
          INT32_MIN,
          layout.totalPages,
          layout.totalPages + 100,
          layout.metadataPage,
          layout.mostUpdatedPage,
          layout.pageIndexRoot,
          layout.byIDRoot,
          layout.recordPages[0],
          layout.recordPages.back()};
}

std::vector<Damage> RecordPageDamages(const Layout& layout, std::mt19937& random) {
  std::vector<Damage> out;
  const int32_t bitmapSize = (layout.recordsPerPage + 7) / 8;
  for (size_t p = 0; p < layout.recordPages.size(); ++p) {
    const int32_t page = layout.recordPages[p];
    const std::string what = "record page " + std::to_string(page);
    HeaderDamages(out, what, page, layout);
    for (int32_t id : {layout.tableID + 1, -1, 0, INT32_MAX})
      out.push_back({what + " table ID " + std::to_string(id),
                     PageAt(page) + kRecordPageTableIDOffset, I32(id)});
    out.push_back({what + " bitmap empty", DataAt(page),
                   std::vector<uint8_t>(static_cast<size_t>(bitmapSize), 0)});
    out.push_back({what + " bitmap full", DataAt(page),
                   std::vector<uint8_t>(static_cast<size_t>(bitmapSize), 0xFF)});
    for (int32_t b = 0; b < bitmapSize; ++b)
      for (uint8_t value : {0x00, 0x01, 0x80, 0xFF})
        out.push_back({what + " bitmap byte " + std::to_string(b) + " = " + std::to_string(value),
                       DataAt(page) + b, {value}});
    std::uniform_int_distribution<int64_t> anywhere(0, kPageSize * 8 - 1);
    for (int i = 0; i < 12; ++i) {
      const int64_t bit = i < 4 ? anywhere(random) % (kPageHeaderSize * 8) : anywhere(random);
      out.push_back(Flip(what, PageAt(page) * 8 + bit, bit));
    }
  }
  return out;
}

std::vector<Damage> PageIndexDamages(const Layout& layout, const std::vector<uint8_t>& base,
                                     std::mt19937& random) {
  std::vector<Damage> out;
  const int32_t page = layout.pageIndexRoot;
  const std::string what = "record page index page " + std::to_string(page);
  HeaderDamages(out, what, page, layout);
  const int64_t data = DataAt(page);
  for (uint8_t flag : {0, 1, 2, 0xFF}) {
    out.push_back({what + " root flag " + std::to_string(flag), data + btree_page::kRootFlag, {flag}});
    out.push_back({what + " leaf flag " + std::to_string(flag), data + btree_page::kLeafFlag, {flag}});
  }
  for (int32_t link : StrayPages(layout)) {
    out.push_back({what + " previous page " + std::to_string(link), data + btree_page::kPrevPage,
                   I32(link)});
    out.push_back({what + " next page on level " + std::to_string(link),
                   data + btree_page::kNextPage, I32(link)});
  }
  const uint16_t keySize = bytes::LoadU16(base.data() + data + btree_page::kKeySize);
  const uint16_t count = bytes::LoadU16(base.data() + data + btree_page::kEntryCount);
  for (uint16_t size : {0, 1, 2, 3, 5, 8, 100, 4000, 0x7FFF, 0xFFFF})
    out.push_back({what + " key size " + std::to_string(size), data + btree_page::kKeySize,
                   U16(size)});
  // Counts of entries that still fit the page; more than fit are the
  // tree's own to refuse (see the disabled test below).
  for (uint16_t n : {uint16_t{0}, uint16_t{1}, static_cast<uint16_t>(count + 1), uint16_t{200}})
    out.push_back({what + " entry count " + std::to_string(n), data + btree_page::kEntryCount,
                   U16(n)});
  for (uint16_t gap : {1, 100, 0xFFFF})
    out.push_back({what + " entry gap " + std::to_string(gap), data + btree_page::kEntryGap,
                   U16(gap)});
  // Leaf entries: the page number as key, then the 16-bit count.
  const int32_t entrySize = keySize + 2;
  for (uint16_t e = 0; e < count; ++e) {
    const int64_t entry = data + btree_page::kHeaderSize + int64_t{e} * entrySize;
    for (int32_t stray : StrayPages(layout))
      out.push_back({what + " entry " + std::to_string(e) + " page " + std::to_string(stray),
                     entry, I32(stray)});
    for (uint16_t amount : {uint16_t{0}, uint16_t{1}, static_cast<uint16_t>(layout.recordsPerPage),
                            static_cast<uint16_t>(layout.recordsPerPage + 1), uint16_t{0x7FFF},
                            uint16_t{0x8000}, uint16_t{0xFFFF}})
      out.push_back({what + " entry " + std::to_string(e) + " count " + std::to_string(amount),
                     entry + keySize, U16(amount)});
  }
  std::uniform_int_distribution<int64_t> bits(0, (kPageHeaderSize + 18 + 3 * 8) * 8 - 1);
  for (int i = 0; i < 30; ++i) {
    const int64_t bit = bits(random);
    out.push_back(Flip(what, PageAt(page) * 8 + bit, bit));
  }
  return out;
}

std::vector<Damage> CounterDamages(const Layout& layout, std::mt19937& random) {
  std::vector<Damage> out;
  const std::vector<uint8_t>& good = layout.counters;
  const auto content = [&](const std::string& what, std::vector<uint8_t> bytes) {
    out.push_back({"counters " + what, -1, std::move(bytes), Damage::kCounters});
  };
  for (size_t length : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{8}, good.size() - 4,
                        good.size() - 1})
    content("cut to " + std::to_string(length),
            std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(length)));
  {
    std::vector<uint8_t> longer = good;
    longer.resize(good.size() + 8, 0xEE);
    content("8 bytes too long", longer);
  }
  const size_t tail = good.size() - 8;
  const auto with = [&](size_t offset, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> bytes = good;
    std::copy(value.begin(), value.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
    return bytes;
  };
  for (int32_t n : {-1, 0, 2, 4, 1000, INT32_MAX, INT32_MIN})
    content("field count " + std::to_string(n), with(0, I32(n)));
  for (int32_t count : {0, 1, -1, INT32_MAX, INT32_MIN, static_cast<int32_t>(layout.recordCount - 1),
                        static_cast<int32_t>(layout.recordCount + 1)})
    content("record count " + std::to_string(count), with(tail + 4, I32(count)));
  for (int32_t changes : {-1, 0, INT32_MAX, INT32_MIN})
    content("change counter " + std::to_string(changes), with(tail, I32(changes)));
  for (int64_t autoinc : {int64_t{-1}, int64_t{0}, INT64_MAX, INT64_MIN}) {
    std::vector<uint8_t> value(8);
    bytes::StoreI64(value.data(), autoinc);
    content("autoincrement counter " + std::to_string(autoinc), with(4, value));
  }
  const std::string what = "counters page " + std::to_string(layout.mostUpdatedPage);
  HeaderDamages(out, what, layout.mostUpdatedPage, layout);
  std::uniform_int_distribution<int64_t> bits(0, (kPageHeaderSize + 64) * 8 - 1);
  for (int i = 0; i < 30; ++i) {
    const int64_t bit = bits(random);
    out.push_back(Flip(what, PageAt(layout.mostUpdatedPage) * 8 + bit, bit));
  }
  return out;
}

// Writes the damaged database to `name`.
void Apply(const Damage& damage, const std::vector<uint8_t>& base, const Layout& layout,
           const std::string& name) {
  if (damage.kind == Damage::kCounters) {
    WriteAll(name, base);
    TVRXDiskDatabaseOptions options;
    options.fileName = name;
    TVRXDiskDatabaseData db(options);
    TVRXDatabaseSession session;
    db.AddSession(session);
    TVRXInternalDBTransactedAccessFile file(*db.DiskPageManager(), ptTableMostUpdated,
                                            layout.mostUpdatedPage);
    file.WriteFile(session.sessionID, damage.bytes.data(), 0, 0,
                   static_cast<int32_t>(damage.bytes.size()));
    db.DiskPageManager()->ApplyChanges(session.sessionID);
    db.RemoveSession(session);
    return;
  }
  std::vector<uint8_t> bytes = base;
  const auto at = static_cast<size_t>(damage.offset);
  if (damage.kind == Damage::kFlip)
    bytes[at] ^= damage.bytes[0];
  else
    std::copy(damage.bytes.begin(), damage.bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
  WriteAll(name, bytes);
}

// Runs every damage on the base file. The damages run in a child process,
// which tells the parent through a pipe which one it is at; a crash or an
// endless loop (cut off by an alarm) is reported under the damage's name
// and a new child goes on with the next one.
void RunDamages(const std::vector<Damage>& damages, const std::vector<uint8_t>& base,
                const Layout& layout) {
  constexpr uint32_t kAllDone = UINT32_MAX;
  // A walk of a sound table of this size ends long before.
  const int32_t limit = layout.totalPages * layout.recordsPerPage + 100;
  size_t next = 0;
  while (next < damages.size()) {
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(channel[0]);
      const ::testing::TestResult& result =
          *::testing::UnitTest::GetInstance()->current_test_info()->result();
      const int failuresBefore = result.total_part_count();
      for (size_t i = next; i < damages.size(); ++i) {
        const auto at = static_cast<uint32_t>(i);
        if (write(channel[1], &at, sizeof at) != sizeof at) _exit(3);
        alarm(30);
        Apply(damages[i], base, layout, "damaged.vrx");
        Exercise("damaged.vrx", damages[i].what, limit);
      }
      if (write(channel[1], &kAllDone, sizeof kAllDone) != sizeof kAllDone) _exit(3);
      std::fflush(stdout);
      _exit(result.total_part_count() == failuresBefore ? 0 : 1);
    }
    close(channel[1]);
    uint32_t at = 0;
    size_t reached = next;
    bool done = false;
    while (read(channel[0], &at, sizeof at) == sizeof at) {
      done = at == kAllDone;
      if (!done) reached = at;
    }
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (!done) {
      ADD_FAILURE() << damages[reached].what << ": the process ended with "
                    << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                            : "exit code " + std::to_string(WEXITSTATUS(status)));
      next = reached + 1;
      continue;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failures above";
    next = damages.size();
  }
}

TEST(TableDamage, DamagedPagesAndCountersGiveEngineErrorsOnly) {
  const Layout layout = MakeBase("base.vrx");
  ASSERT_EQ(layout.recordPages.size(), 3u);
  ASSERT_EQ(layout.recordsPerPage, 19);
  const std::vector<uint8_t> base = ReadAll("base.vrx");
  // The undamaged file reads back whole.
  EXPECT_EQ(Exercise("base.vrx", "none", layout.totalPages * 19), layout.recordCount);
  std::mt19937 random(1212);
  std::vector<Damage> damages = RecordPageDamages(layout, random);
  for (Damage& d : PageIndexDamages(layout, base, random)) damages.push_back(std::move(d));
  for (Damage& d : CounterDamages(layout, random)) damages.push_back(std::move(d));
  RunDamages(damages, base, layout);
}

// A record page index page counting more entries than its page holds: the
// tree refuses the page instead of reading past its buffer.
TEST(TableDamage, RecordPageIndexCountingMoreEntriesThanFit) {
  const Layout layout = MakeBase("base.vrx");
  const std::vector<uint8_t> base = ReadAll("base.vrx");
  std::vector<Damage> damages;
  for (uint16_t n : {uint16_t{677}, uint16_t{0x7FFF}, uint16_t{0xFFFF}})
    damages.push_back({"record page index entry count " + std::to_string(n),
                       DataAt(layout.pageIndexRoot) + btree_page::kEntryCount, U16(n)});
  RunDamages(damages, base, layout);
}

}  // namespace
}  // namespace vrx
