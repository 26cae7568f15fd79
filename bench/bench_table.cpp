// Table throughput through the cursor and session layer against SQLite
// (default journal mode, synchronous=FULL), files in the same directory.
// Records: INTEGER key, INTEGER value, STRING(30) text, a unique index on
// the key.
//   insert             N records in one transaction
//   insert-autocommit  N/50 records, each its own transaction
//   scan               every record in storage order, every field read
//   update             N/10 value updates by key in one transaction
//   delete             N/10 deletes by key in one transaction
//   size               the file after the inserts
// Our cursor has no key lookup yet: updates and deletes find their records
// in one storage-order pass over the table, SQLite through its index.
// Usage: bench_table [--rows N]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"

using namespace vrx;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

struct Timings {
  double insert = 0, autocommit = 0, scan = 0, update = 0, erase = 0;
  int64_t size = 0;
};

std::string Text(int32_t i) { return "record text number " + std::to_string(i); }

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
    TVRXVariant key, value, text;
    key.SetAsInteger(i);
    cursor.SetFieldValue(key, 0, *buffer);
    value.SetAsInteger(i * 3);
    cursor.SetFieldValue(value, 1, *buffer);
    text.SetAsString(Text(i));
    cursor.SetFieldValue(text, 2, *buffer);
    cursor.Post(true);
    if (cursor.lastResult != 0) Fail("vrx insert: " + cursor.LastResultMessage());
  }
  int32_t Key() {
    TVRXVariant v;
    cursor.GetFieldValue(v, 0, *buffer);
    return v.GetAsInteger();
  }
  TVRXLocalCursor cursor;
  std::unique_ptr<TVRXRecordBuffer> buffer;
};

Timings RunVrx(const std::string& path, int32_t rows) {
  Timings t;
  std::filesystem::remove(path);
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

    // Keys divisible by 10 get a new value; keys ending in 1 go.
    start = Clock::now();
    session.StartTransaction();
    table.cursor.First();
    while (table.cursor.GetRecord(1) == 0) {
      if (table.Key() % 10 != 0) continue;
      table.cursor.Edit();
      TVRXVariant value;
      value.SetAsInteger(-1);
      table.cursor.SetFieldValue(value, 1, *table.buffer);
      table.cursor.Post(false);
      if (table.cursor.lastResult != 0) Fail("vrx update: " + table.cursor.LastResultMessage());
    }
    session.Commit(true);
    t.update = Ms(start);

    start = Clock::now();
    session.StartTransaction();
    table.cursor.First();
    int32_t deleted = 0;
    while (table.cursor.GetRecord(1) == 0) {
      if (table.Key() % 10 != 1) continue;
      table.cursor.Delete();
      if (table.cursor.lastResult != 0) Fail("vrx delete: " + table.cursor.LastResultMessage());
      ++deleted;
      // Delete leaves the cursor on the next record: read it from there.
      table.cursor.GetRecord(2);
    }
    session.Commit(true);
    t.erase = Ms(start);
    if (deleted != rows / 10) Fail("vrx deleted " + std::to_string(deleted));
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

Timings RunSqlite(const std::string& path, int32_t rows) {
  Timings t;
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-journal");
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("sqlite open");
  Exec(db, "PRAGMA synchronous=FULL");
  Exec(db, "CREATE TABLE t(k INTEGER, v INTEGER, s VARCHAR(30)); CREATE UNIQUE INDEX tk ON t(k);"
           "CREATE TABLE a(k INTEGER, v INTEGER, s VARCHAR(30)); CREATE UNIQUE INDEX ak ON a(k);");
  const auto insertInto = [&](sqlite3_stmt* insert, int32_t i) {
    const std::string text = Text(i);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_int(insert, 2, i * 3);
    sqlite3_bind_text(insert, 3, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    Step(db, insert);
  };
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO t VALUES(?, ?, ?)");
  auto start = Clock::now();
  Exec(db, "BEGIN");
  for (int32_t i = 0; i < rows; ++i) insertInto(insert, i);
  Exec(db, "COMMIT");
  t.insert = Ms(start);
  t.size = static_cast<int64_t>(std::filesystem::file_size(path));
  sqlite3_finalize(insert);

  sqlite3_stmt* insertA = Prepare(db, "INSERT INTO a VALUES(?, ?, ?)");
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
  const Timings ours = RunVrx("bench_table.vrx", rows);
  const Timings theirs = RunSqlite("bench_table.sqlite", rows);
  Line("insert", rows, ours.insert, theirs.insert);
  Line("insert-autocommit", rows / 50, ours.autocommit, theirs.autocommit);
  Line("scan", rows, ours.scan, theirs.scan);
  Line("update", rows / 10, ours.update, theirs.update);
  Line("delete", rows / 10, ours.erase, theirs.erase);
  std::printf("op=size rows=%d vrx_bytes=%lld sqlite_bytes=%lld ratio=%.2f\n", rows,
              static_cast<long long>(ours.size), static_cast<long long>(theirs.size),
              static_cast<double>(ours.size) / static_cast<double>(theirs.size));
  std::filesystem::remove("bench_table.vrx");
  std::filesystem::remove("bench_table.sqlite");
  return 0;
}
