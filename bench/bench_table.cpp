// Table throughput through the cursor and session layer against SQLite
// (default journal mode, synchronous=FULL), files in the same directory.
// Records: INTEGER key K, INTEGER value, STRING(30) text, INTEGER group G =
// K mod 1000; a unique index on K and a plain one on G.
//   insert             N records in one transaction
//   insert-autocommit  N/50 records, each its own transaction
//   scan               every record in storage order, every field read
//   lookup             N/10 point lookups by K, value and text read (ours:
//                      FindKey "=" on the unique index; SQLite: a prepared
//                      SELECT ... WHERE k = ?)
//   range              100 scans of ten consecutive groups, 1 % of the
//                      records each, along the index on G, K read (ours:
//                      SetRange, then every record to the end; SQLite:
//                      WHERE g BETWEEN ? AND ?); rows = records read
//   range-count        the records of the same 100 ranges counted (ours:
//                      SetRange and GetRecordCount; SQLite: count(*));
//                      rows = records counted
//   filter             the first 10 of those ranges as filters (ours: SetFilter
//                      "G >= a AND G <= b" on a cursor in storage order, walked
//                      to the end; SQLite: WHERE g >= ? AND g <= ?); rows =
//                      records read
//   update             N/10 value updates by key in one transaction
//   delete             N/10 deletes by key in one transaction
//   size               the file after the inserts
// SQLite runs the reads of lookup, range, range-count and filter in one read
// transaction each (ours read without locking). Updates and deletes find
// each record by its key through the unique index on both sides (ours:
// FindKey, then Edit/Post or Delete). Both sides must read the same
// values (sums of what lookups and ranges read, and the counts); the run
// fails with exit status 1 when they differ.
// Usage: bench_table [--rows N]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"

using namespace vrx;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

struct Timings {
  double insert = 0, autocommit = 0, scan = 0, lookup = 0, range = 0, rangeCount = 0, filter = 0,
         update = 0, erase = 0;
  int64_t size = 0;
};

// What the lookups and the range scans read; both engines must agree.
struct Results {
  int64_t lookupSum = 0;  // value + text length of every record looked up
  int64_t rangeRows = 0;
  int64_t rangeKeySum = 0;
  int64_t rangeCounted = 0;
  int64_t filterRows = 0;
  int64_t filterKeySum = 0;
  bool operator==(const Results&) const = default;
};

std::string Text(int32_t i) { return "record text number " + std::to_string(i); }

constexpr int32_t kGroups = 1000;
constexpr int32_t kRangeGroups = 10;  // 1 % of the records
constexpr int32_t kRanges = 100;
constexpr int32_t kFilters = 10;  // the first ranges again, as filters
int32_t Group(int32_t i) { return i % kGroups; }
// The first group of range r; the ranges lie inside [0, kGroups).
int32_t RangeStart(int32_t r) { return (r * 97) % (kGroups - kRangeGroups + 1); }
// The key of lookup j, spread over the table.
int32_t LookupKey(int32_t j, int32_t rows) {
  return static_cast<int32_t>((static_cast<int64_t>(j) * 7919) % rows);
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

// --- our engine --------------------------------------------------------------------------------

void CreateTable(TVRXLocalSession& session, const std::string& name) {
  TVRXFieldDefs fields;
  fields.AddField("K", TVRXAdvancedFieldType::Integer);
  fields.AddField("V", TVRXAdvancedFieldType::Integer);
  fields.AddField("S", TVRXAdvancedFieldType::String, 30);
  fields.AddField("G", TVRXAdvancedFieldType::Integer);
  TVRXIndexDefs indexes;
  TVRXConstraintDefs constraints;
  TVRXLocalCursor cursor;
  cursor.session = &session;
  cursor.tableName = name;
  cursor.CreateTable(fields, indexes, constraints);
  cursor.OpenTable();
  TVRXIndexDef key;
  key.SetName("ByK");
  key.SetColumns({"K"}, {"ASC"}, {"CASE"});
  key.SetUnique(true);
  cursor.AddIndex(key);
  TVRXIndexDef group;
  group.SetName("ByG");
  group.SetColumns({"G"}, {"ASC"}, {"CASE"});
  cursor.AddIndex(group);
}

struct Table {
  Table(TVRXLocalSession& session, const std::string& name) {
    cursor.session = &session;
    cursor.tableName = name;
    cursor.OpenTable();
    buffer = std::make_unique<TVRXRecordBuffer>(cursor);
    cursor.recordBuffer = *buffer;
  }
  void Insert(int32_t i) {
    cursor.InitRecord(*buffer, true);
    TVRXVariant key, value, text, group;
    key.SetAsInteger(i);
    cursor.SetFieldValue(key, 0, *buffer);
    value.SetAsInteger(i * 3);
    cursor.SetFieldValue(value, 1, *buffer);
    text.SetAsString(Text(i));
    cursor.SetFieldValue(text, 2, *buffer);
    group.SetAsInteger(Group(i));
    cursor.SetFieldValue(group, 3, *buffer);
    cursor.Post(true);
    if (cursor.lastResult != 0) Fail("vrx insert: " + cursor.LastResultMessage());
  }
  int32_t Key() {
    TVRXVariant v;
    cursor.GetFieldValue(v, 0, *buffer);
    return v.GetAsInteger();
  }
  // A memory record holding `value` in field `fieldNo`, the others NULL:
  // a key for FindKey and SetRange.
  std::vector<uint8_t> KeyRecord(int32_t fieldNo, int32_t value) {
    std::vector<uint8_t> key(static_cast<size_t>(cursor.dataSize));
    cursor.InitRecord(key, false);
    TVRXVariant v;
    v.SetAsInteger(value);
    cursor.SetFieldValue(v, fieldNo, key, true);
    return key;
  }
  void SetGroupRange(int32_t r) {
    cursor.SetRange(KeyRecord(3, RangeStart(r)), KeyRecord(3, RangeStart(r) + kRangeGroups - 1),
                    false, false, 1, 1);
  }
  TVRXLocalCursor cursor;
  std::unique_ptr<TVRXRecordBuffer> buffer;
};

Timings RunVrx(const std::string& path, int32_t rows, Results& results) {
  Timings t;
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-journal");
  TVRXDiskTableData::Register();
  TVRXLocalSession session;
  session.databaseFileName = path;
  session.CreateDatabase();
  session.SetConnected(true);
  CreateTable(session, "T");
  CreateTable(session, "A");
  {
    Table table(session, "T");
    auto start = Clock::now();
    session.StartTransaction();
    for (int32_t i = 0; i < rows; ++i) table.Insert(i);
    session.Commit(true);
    t.insert = Ms(start);
    t.size = static_cast<int64_t>(std::filesystem::file_size(path));

    Table autocommit(session, "A");
    start = Clock::now();
    for (int32_t i = 0; i < rows / 50; ++i) autocommit.Insert(i);
    t.autocommit = Ms(start);

    start = Clock::now();
    int64_t sum = 0;
    table.cursor.First();
    while (table.cursor.GetRecord(1) == 0) {
      for (int32_t f = 0; f < 3; ++f) {
        TVRXVariant v;
        table.cursor.GetFieldValue(v, f, *table.buffer);
        sum += f == 2 ? static_cast<int64_t>(v.GetAsString().size()) : v.GetAsLargeInt();
      }
    }
    t.scan = Ms(start);
    if (sum == 0) Fail("vrx scan read nothing");

    TVRXLocalCursor& cursor = table.cursor;
    cursor.SetIndex("ByK");
    start = Clock::now();
    for (int32_t j = 0; j < rows / 10; ++j) {
      cursor.keyBuffer = table.KeyRecord(0, LookupKey(j, rows));
      cursor.keyFieldCount = 1;
      if (!cursor.FindKey(1))
        Fail("vrx lookup: key " + std::to_string(LookupKey(j, rows)) + " not found");
      TVRXVariant value, text;
      cursor.GetFieldValue(value, 1, *table.buffer);
      cursor.GetFieldValue(text, 2, *table.buffer);
      results.lookupSum += value.GetAsLargeInt() + static_cast<int64_t>(text.GetAsString().size());
    }
    t.lookup = Ms(start);

    cursor.SetIndex("ByG");
    start = Clock::now();
    for (int32_t r = 0; r < kRanges; ++r) {
      table.SetGroupRange(r);
      cursor.First();
      while (cursor.GetRecord(1) == 0) {
        ++results.rangeRows;
        results.rangeKeySum += table.Key();
      }
    }
    t.range = Ms(start);

    start = Clock::now();
    for (int32_t r = 0; r < kRanges; ++r) {
      table.SetGroupRange(r);
      results.rangeCounted += cursor.GetRecordCount();
    }
    t.rangeCount = Ms(start);
    cursor.CancelRange();
    cursor.SetIndex("");

    // The same groups as a filter on a cursor in storage order, which the
    // index on G answers.
    start = Clock::now();
    for (int32_t r = 0; r < kFilters; ++r) {
      cursor.SetFilter("G >= " + std::to_string(RangeStart(r)) + " AND G <= " +
                           std::to_string(RangeStart(r) + kRangeGroups - 1),
                       false, false);
      cursor.First();
      while (cursor.GetRecord(1) == 0) {
        ++results.filterRows;
        results.filterKeySum += table.Key();
      }
    }
    cursor.ClearFilter();
    t.filter = Ms(start);

    // Keys divisible by 10 get a new value; keys ending in 1 go. Each is
    // found by its key on the unique index.
    cursor.SetIndex("ByK");
    auto findKey = [&](int32_t k) {
      cursor.keyBuffer = table.KeyRecord(0, k);
      cursor.keyFieldCount = 1;
      if (!cursor.FindKey(1)) Fail("vrx: key " + std::to_string(k) + " not found");
    };
    start = Clock::now();
    session.StartTransaction();
    for (int32_t k = 0; k < rows; k += 10) {
      findKey(k);
      cursor.Edit();
      TVRXVariant value;
      value.SetAsInteger(-1);
      cursor.SetFieldValue(value, 1, *table.buffer);
      cursor.Post(false);
      if (cursor.lastResult != 0) Fail("vrx update: " + cursor.LastResultMessage());
    }
    session.Commit(true);
    t.update = Ms(start);

    start = Clock::now();
    session.StartTransaction();
    int32_t deleted = 0;
    for (int32_t k = 1; k < rows; k += 10) {
      findKey(k);
      cursor.Delete();
      if (cursor.lastResult != 0) Fail("vrx delete: " + cursor.LastResultMessage());
      ++deleted;
    }
    session.Commit(true);
    t.erase = Ms(start);
    cursor.SetIndex("");
    // Keys below `rows` that end in 1.
    if (deleted != (rows + 8) / 10) Fail("vrx deleted " + std::to_string(deleted));
  }
  session.SetConnected(false);
  return t;
}

// --- SQLite ---------------------------------------------------------------------------------------

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) Fail(std::string("sqlite: ") + error);
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) Fail(sqlite3_errmsg(db));
  return statement;
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
  sqlite3_reset(statement);
}

// The keys of the first `ranges` group ranges read through `sql` (its two
// parameters the range's bounds) in one read transaction; milliseconds.
double SqliteRanges(sqlite3* db, const char* sql, int32_t ranges, int64_t& rows, int64_t& keySum) {
  sqlite3_stmt* statement = Prepare(db, sql);
  const auto start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t r = 0; r < ranges; ++r) {
    sqlite3_bind_int(statement, 1, RangeStart(r));
    sqlite3_bind_int(statement, 2, RangeStart(r) + kRangeGroups - 1);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      ++rows;
      keySum += sqlite3_column_int64(statement, 0);
    }
    sqlite3_reset(statement);
  }
  Exec(db, "COMMIT");
  const double ms = Ms(start);
  sqlite3_finalize(statement);
  return ms;
}

Timings RunSqlite(const std::string& path, int32_t rows, Results& results) {
  Timings t;
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-journal");
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("sqlite open");
  Exec(db, "PRAGMA synchronous=FULL");
  Exec(db,
       "CREATE TABLE t(k INTEGER, v INTEGER, s VARCHAR(30), g INTEGER);"
       "CREATE UNIQUE INDEX tk ON t(k); CREATE INDEX tg ON t(g);"
       "CREATE TABLE a(k INTEGER, v INTEGER, s VARCHAR(30), g INTEGER);"
       "CREATE UNIQUE INDEX ak ON a(k); CREATE INDEX ag ON a(g);");
  const auto insertInto = [&](sqlite3_stmt* insert, int32_t i) {
    const std::string text = Text(i);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_int(insert, 2, i * 3);
    sqlite3_bind_text(insert, 3, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 4, Group(i));
    Step(db, insert);
  };
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO t VALUES(?, ?, ?, ?)");
  auto start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t i = 0; i < rows; ++i) insertInto(insert, i);
  Exec(db, "COMMIT");
  t.insert = Ms(start);
  t.size = static_cast<int64_t>(std::filesystem::file_size(path));
  sqlite3_finalize(insert);

  sqlite3_stmt* insertA = Prepare(db, "INSERT INTO a VALUES(?, ?, ?, ?)");
  start = Clock::now();
  for (int32_t i = 0; i < rows / 50; ++i) insertInto(insertA, i);
  t.autocommit = Ms(start);
  sqlite3_finalize(insertA);

  sqlite3_stmt* scan = Prepare(db, "SELECT k, v, s FROM t");
  start = Clock::now();
  int64_t sum = 0;
  while (sqlite3_step(scan) == SQLITE_ROW)
    sum += sqlite3_column_int64(scan, 0) + sqlite3_column_int64(scan, 1) +
           static_cast<int64_t>(std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(scan, 2))));
  t.scan = Ms(start);
  sqlite3_finalize(scan);
  if (sum == 0) Fail("sqlite scan read nothing");

  // The reads run in one read transaction, as ours run in the session
  // without locking: a statement of its own would lock and check the file
  // each time.
  sqlite3_stmt* lookup = Prepare(db, "SELECT v, s FROM t WHERE k = ?");
  start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t j = 0; j < rows / 10; ++j) {
    sqlite3_bind_int(lookup, 1, LookupKey(j, rows));
    if (sqlite3_step(lookup) != SQLITE_ROW)
      Fail("sqlite lookup: key " + std::to_string(LookupKey(j, rows)) + " not found");
    results.lookupSum += sqlite3_column_int64(lookup, 0) +
                         static_cast<int64_t>(std::strlen(
                             reinterpret_cast<const char*>(sqlite3_column_text(lookup, 1))));
    sqlite3_reset(lookup);
  }
  Exec(db, "COMMIT");
  t.lookup = Ms(start);
  sqlite3_finalize(lookup);

  t.range = SqliteRanges(db, "SELECT k FROM t WHERE g BETWEEN ? AND ?", kRanges, results.rangeRows,
                         results.rangeKeySum);

  sqlite3_stmt* count = Prepare(db, "SELECT count(*) FROM t WHERE g BETWEEN ? AND ?");
  start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t r = 0; r < kRanges; ++r) {
    sqlite3_bind_int(count, 1, RangeStart(r));
    sqlite3_bind_int(count, 2, RangeStart(r) + kRangeGroups - 1);
    if (sqlite3_step(count) != SQLITE_ROW) Fail(sqlite3_errmsg(db));
    results.rangeCounted += sqlite3_column_int64(count, 0);
    sqlite3_reset(count);
  }
  Exec(db, "COMMIT");
  t.rangeCount = Ms(start);
  sqlite3_finalize(count);

  t.filter = SqliteRanges(db, "SELECT k FROM t WHERE g >= ? AND g <= ?", kFilters,
                          results.filterRows, results.filterKeySum);

  sqlite3_stmt* update = Prepare(db, "UPDATE t SET v = -1 WHERE k = ?");
  start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t k = 0; k < rows; k += 10) {
    sqlite3_bind_int(update, 1, k);
    Step(db, update);
  }
  Exec(db, "COMMIT");
  t.update = Ms(start);
  sqlite3_finalize(update);

  sqlite3_stmt* erase = Prepare(db, "DELETE FROM t WHERE k = ?");
  start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t k = 1; k < rows; k += 10) {
    sqlite3_bind_int(erase, 1, k);
    Step(db, erase);
  }
  Exec(db, "COMMIT");
  t.erase = Ms(start);
  sqlite3_finalize(erase);
  sqlite3_close(db);
  return t;
}

// The records of the ranges as the inserts made them: group g holds the
// keys i < rows with i mod kGroups = g.
int64_t ExpectedRangeRows(int32_t rows) {
  int64_t expected = 0;
  for (int32_t r = 0; r < kRanges; ++r)
    for (int32_t g = RangeStart(r); g < RangeStart(r) + kRangeGroups; ++g)
      expected += rows / kGroups + (g < rows % kGroups ? 1 : 0);
  return expected;
}

void CheckResults(const Results& ours, const Results& theirs, int32_t rows) {
  const auto text = [](const Results& r) {
    return "lookup sum " + std::to_string(r.lookupSum) + ", range rows " +
           std::to_string(r.rangeRows) + ", range key sum " + std::to_string(r.rangeKeySum) +
           ", range count " + std::to_string(r.rangeCounted) + ", filter rows " +
           std::to_string(r.filterRows) + ", filter key sum " + std::to_string(r.filterKeySum);
  };
  const int64_t expected = ExpectedRangeRows(rows);
  if (!(ours == theirs) || ours.rangeRows != expected || ours.rangeCounted != expected)
    Fail("results differ: vrx " + text(ours) + "; sqlite " + text(theirs) + "; expected " +
         std::to_string(expected) + " range rows");
}

void Line(const char* op, int32_t rows, double ours, double theirs) {
  std::printf("op=%s rows=%d vrx_ms=%.1f sqlite_ms=%.1f ratio=%.2f\n", op, rows, ours, theirs,
              ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  int32_t rows = 50000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc) {
      rows = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_table [--rows N]\n");
      return 2;
    }
  }
  if (rows < 50) Fail("--rows must be at least 50");
  Results ourResults, theirResults;
  const Timings ours = RunVrx("bench_table.vrx", rows, ourResults);
  const Timings theirs = RunSqlite("bench_table.sqlite", rows, theirResults);
  CheckResults(ourResults, theirResults, rows);
  Line("insert", rows, ours.insert, theirs.insert);
  Line("insert-autocommit", rows / 50, ours.autocommit, theirs.autocommit);
  Line("scan", rows, ours.scan, theirs.scan);
  Line("lookup", rows / 10, ours.lookup, theirs.lookup);
  Line("range", static_cast<int32_t>(ourResults.rangeRows), ours.range, theirs.range);
  Line("range-count", static_cast<int32_t>(ourResults.rangeCounted), ours.rangeCount,
       theirs.rangeCount);
  Line("filter", static_cast<int32_t>(ourResults.filterRows), ours.filter, theirs.filter);
  Line("update", rows / 10, ours.update, theirs.update);
  Line("delete", rows / 10, ours.erase, theirs.erase);
  std::printf("op=size rows=%d vrx_bytes=%lld sqlite_bytes=%lld ratio=%.2f\n", rows,
              static_cast<long long>(ours.size), static_cast<long long>(theirs.size),
              static_cast<double>(ours.size) / static_cast<double>(theirs.size));
  for (const char* file : {"bench_table.vrx", "bench_table.vrx-journal", "bench_table.sqlite"})
    std::filesystem::remove(file);
  return 0;
}
