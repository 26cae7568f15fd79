// B-tree index throughput against SQLite's B-tree: one million random
// integer keys and one million 20-byte text keys inserted into an index in
// one session and one commit, then a lookup of every key, a full ordered
// scan and the deletion of every key. SQLite gets the same keys in a
// WITHOUT ROWID table whose primary key is the key, one transaction per
// phase. Prints one line per operation and key kind:
//   op=insert-int keys=1000000 vrx_ms=... sqlite_ms=... ratio=...
// and the pages and leaf fill of our tree after the inserts.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/btree/VRXBTreeChecker.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/pages/VRXDiskEngine.h"

using namespace vrx;

namespace {

constexpr int32_t kSession = 1;

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

struct Timings {
  double insert = 0, lookup = 0, scan = 0, erase = 0;
};

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Records: field 0 INTEGER or field 0 STRING(20), one at a time.
Timings RunVrx(const std::string& path, bool text, const std::vector<int32_t>& ints,
               const std::vector<std::string>& texts) {
  std::filesystem::remove(path);
  TVRXDiskPageManager pages;
  pages.CreateDatabaseFile(path, {});
  TVRXFieldDefs fields;
  if (text)
    fields.AddField("K", TVRXAdvancedFieldType::String, 20);
  else
    fields.AddField("K", TVRXAdvancedFieldType::Integer);
  fields.ComputeOffsets();
  TVRXIndexDef definition;
  definition.SetColumns({"K"}, {"ASC"}, {"CASE"});
  TVRXBTreeRecordIndex index(pages, fields, nullptr);
  index.CreateIndex(kSession, nullptr, definition);
  const size_t n = text ? texts.size() : ints.size();
  std::vector<uint8_t> record(static_cast<size_t>(fields.MemoryRecordSize()), 0);
  const int32_t offset = fields.Field(0).MemoryOffset();
  auto fill = [&](size_t i) {
    if (text)
      std::memcpy(record.data() + offset, texts[i].data(), texts[i].size());
    else
      bytes::StoreI32(record.data() + offset, ints[i]);
  };
  auto id = [](size_t i) {
    return TVRXRecordID{static_cast<int32_t>(i / 64), static_cast<uint16_t>(i % 64)};
  };
  Timings t;
  auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < n; ++i) {
    fill(i);
    index.InsertKey({kSession, record, {}, id(i)});
  }
  pages.ApplyChanges(kSession);
  t.insert = Ms(start);

  const TVRXBTreeChecker::TResult shape = TVRXBTreeChecker::Check(index.Tree(), kSession);
  const int32_t leafEntry = index.KeyLayout().EntrySize();
  const double fill_ratio = static_cast<double>(shape.Entries) * leafEntry /
                            (static_cast<double>(shape.Leaves) * (pages.DataSize() - 18));
  std::printf("tree=%s pages=%d leaves=%d depth=%d leaf_fill=%.2f problems=%zu\n",
              text ? "text" : "int", shape.Pages, shape.Leaves, shape.Depth, fill_ratio,
              shape.Problems.size());

  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  start = std::chrono::steady_clock::now();
  size_t found = 0;
  for (size_t i : order) {
    fill(i);
    TVRXKeyPath at;
    if (index.FindRecordPosition(kSession, id(i), at, record)) ++found;
  }
  t.lookup = Ms(start);
  if (found != n) std::fprintf(stderr, "vrx lookups found %zu of %zu\n", found, n);

  start = std::chrono::steady_clock::now();
  TVRXKeyPath at;
  size_t scanned = 0;
  if (index.Tree().First(kSession, at)) {
    do ++scanned;
    while (index.StepNext(kSession, at));
  }
  t.scan = Ms(start);
  if (scanned != n) std::fprintf(stderr, "vrx scan saw %zu of %zu\n", scanned, n);

  start = std::chrono::steady_clock::now();
  for (size_t i : order) {
    fill(i);
    index.DeleteKey({kSession, {}, record, id(i)});
  }
  pages.ApplyChanges(kSession);
  t.erase = Ms(start);
  pages.CloseDatabaseFile();
  std::filesystem::remove(path);
  return t;
}

Timings RunSqlite(const std::string& path, bool text, const std::vector<int32_t>& ints,
                  const std::vector<std::string>& texts) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  Check(sqlite3_exec(db,
                     text ? "CREATE TABLE t(k TEXT PRIMARY KEY, r INTEGER) WITHOUT ROWID"
                          : "CREATE TABLE t(k INTEGER PRIMARY KEY, r INTEGER) WITHOUT ROWID",
                     nullptr, nullptr, nullptr),
        db);
  const size_t n = text ? texts.size() : ints.size();
  auto bind = [&](sqlite3_stmt* s, size_t i) {
    if (text)
      sqlite3_bind_text(s, 1, texts[i].data(), static_cast<int>(texts[i].size()), SQLITE_STATIC);
    else
      sqlite3_bind_int(s, 1, ints[i]);
  };
  auto run = [&](const char* sql, const std::vector<size_t>& order, bool withValue) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    Check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db);
    for (size_t i : order) {
      bind(s, i);
      if (withValue) sqlite3_bind_int64(s, 2, static_cast<int64_t>(i));
      Check(sqlite3_step(s), db);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  };
  std::vector<size_t> inOrder(n);
  for (size_t i = 0; i < n; ++i) inOrder[i] = i;
  std::vector<size_t> shuffled = inOrder;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  Timings t;
  auto start = std::chrono::steady_clock::now();
  run("INSERT INTO t VALUES(?, ?)", inOrder, true);
  t.insert = Ms(start);
  start = std::chrono::steady_clock::now();
  run("SELECT r FROM t WHERE k = ?", shuffled, false);
  t.lookup = Ms(start);
  start = std::chrono::steady_clock::now();
  {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT k FROM t ORDER BY k", -1, &s, nullptr), db);
    size_t rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW) ++rows;
    sqlite3_finalize(s);
    if (rows != n) std::fprintf(stderr, "sqlite scan saw %zu of %zu\n", rows, n);
  }
  t.scan = Ms(start);
  start = std::chrono::steady_clock::now();
  run("DELETE FROM t WHERE k = ?", shuffled, false);
  t.erase = Ms(start);
  sqlite3_close(db);
  std::filesystem::remove(path);
  return t;
}

void Print(const char* op, size_t n, double ours, double theirs) {
  std::printf("op=%s keys=%zu vrx_ms=%.1f sqlite_ms=%.1f ratio=%.2f\n", op, n, ours, theirs,
              theirs > 0 ? ours / theirs : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? static_cast<size_t>(std::stoul(argv[1])) : 1000000;
  const std::string dir = std::filesystem::temp_directory_path().string();
  std::mt19937 random(11);
  std::vector<int32_t> ints;
  {
    std::vector<uint32_t> raw(n);
    for (auto& v : raw) v = random();
    std::sort(raw.begin(), raw.end());
    raw.erase(std::unique(raw.begin(), raw.end()), raw.end());
    while (raw.size() < n) raw.push_back(raw.back() + 1);
    std::shuffle(raw.begin(), raw.end(), random);
    for (uint32_t v : raw) ints.push_back(static_cast<int32_t>(v));
  }
  std::vector<std::string> texts(n);
  for (size_t i = 0; i < n; ++i) {
    std::string s(20, 'a');
    for (char& c : s) c = static_cast<char>('a' + random() % 26);
    // The last eight characters spell the number: every key is unique.
    for (int d = 0; d < 8; ++d)
      s[static_cast<size_t>(19 - d)] = "0123456789abcdef"[(i >> (4 * d)) & 0xF];
    texts[i] = s;
  }
  const Timings vi = RunVrx(dir + "/bench_btree_int.vrx", false, ints, texts);
  const Timings si = RunSqlite(dir + "/bench_btree_int.sqlite", false, ints, texts);
  const Timings vt = RunVrx(dir + "/bench_btree_text.vrx", true, ints, texts);
  const Timings st = RunSqlite(dir + "/bench_btree_text.sqlite", true, ints, texts);
  Print("insert-int", n, vi.insert, si.insert);
  Print("lookup-int", n, vi.lookup, si.lookup);
  Print("scan-int", n, vi.scan, si.scan);
  Print("delete-int", n, vi.erase, si.erase);
  Print("insert-text", n, vt.insert, st.insert);
  Print("lookup-text", n, vt.lookup, st.lookup);
  Print("scan-text", n, vt.scan, st.scan);
  Print("delete-text", n, vt.erase, st.erase);
  return 0;
}
