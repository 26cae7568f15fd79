// Record navigation through cursors on tables of a database file: the
// storage order and indexes walked both ways, key ranges, key search,
// record counts and numbers of restricted and unrestricted cursors,
// distinct keys, the cursor's record set kept right while records change
// under it, and random ranges held against a sorted model of the table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TableTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using ::testing::ElementsAreArray;
using ::testing::StartsWith;

constexpr int32_t kCurrent = TVRXReadRequest::kCurrent;
constexpr int32_t kNext = TVRXReadRequest::kNext;
constexpr int32_t kPrior = TVRXReadRequest::kPrior;
// GetRecord's answers.
constexpr int32_t kRead = 0;
constexpr int32_t kBOF = 1;
constexpr int32_t kEOF = 2;
constexpr int32_t kNoRecord = 3;
// FindKey's comparisons.
constexpr int32_t kEq = 1;
constexpr int32_t kLt = 2;
constexpr int32_t kGt = 3;
constexpr int32_t kLe = 4;
constexpr int32_t kGe = 5;

// Fields of table P.
constexpr int32_t kID = 0;
constexpr int32_t kName = 1;
constexpr int32_t kScore = 2;
constexpr int32_t kRound = 3;

struct Player {
  const char* name;
  int32_t score;
  int32_t round;
};

// Inserted in this order into an empty P they get the IDs 1 to 10 and sit
// on one record page, so record ID order (the order of equal keys) is ID
// order.
constexpr Player kPlayers[] = {{"dora", 30, 2}, {"anna", 10, 1}, {"eva", 30, 1},  {"bob", 20, 2},
                               {"ivan", 40, 1}, {"fred", 30, 2}, {"gita", 20, 3}, {"alex", 50, 3},
                               {"carl", 10, 2}, {"jana", 30, 3}};

// The IDs of kPlayers in the orders of P's indexes.
const std::vector<int32_t> kByScore = {2, 9, 4, 7, 1, 3, 6, 10, 5, 8};
const std::vector<int32_t> kByScoreDesc = {8, 5, 1, 3, 6, 10, 4, 7, 2, 9};
const std::vector<int32_t> kByRoundScore = {2, 3, 5, 9, 4, 1, 6, 7, 10, 8};
const std::vector<int32_t> kByName = {8, 2, 4, 9, 1, 3, 6, 7, 5, 10};
const std::vector<int32_t> kStorage = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// The key fields of P's indexes, in index order.
std::vector<int32_t> KeyFieldsOf(const std::string& index) {
  if (index == "ByRoundScore") return {kRound, kScore};
  if (index == "ByID") return {kID};
  return {kScore};
}

template <typename T>
std::vector<T> Reversed(std::vector<T> items) {
  std::reverse(items.begin(), items.end());
  return items;
}

// What a walk from one end to the other met: the IDs and the record
// numbers the cursor gave on each of them.
struct Walked {
  std::vector<int32_t> ids;
  std::vector<int64_t> recNos;
};

std::vector<int64_t> OneTo(size_t n) {
  std::vector<int64_t> numbers;
  for (size_t i = 1; i <= n; ++i) numbers.push_back(static_cast<int64_t>(i));
  return numbers;
}

class NavigationTest : public ::testing::Test {
 protected:
  void SetUp() override { Connect(kDefaultPageSize); }
  void TearDown() override {
    buffers.clear();
    cursors.clear();
    session.SetConnected(false);
  }

  // A new, empty database for the next case of a table of cases.
  void Reset() {
    TearDown();
    std::filesystem::remove("nav.vrx");
    SetUp();
  }

  void Connect(uint16_t pageSize) {
    TVRXDiskTableData::Register();
    TVRXDiskDatabaseOptions options;
    options.fileName = "nav.vrx";
    options.pageSize = pageSize;
    TVRXDiskDatabaseData(options).CreateDatabase();
    pelvaro::test::ConnectSession(session, "nav.vrx");
  }

  // Table P: ID AUTOINC, Name STRING(20), Score INTEGER, Round INTEGER;
  // unique ByID, ByScore, ByScoreDesc, ByRoundScore (Round, Score), ByName
  // and ByNameNoCase.
  void CreatePlayers() {
    TVRXFieldDefs fields;
    fields.AddField("ID", TVRXAdvancedFieldType::AutoInc);
    fields.AddField("Name", TVRXAdvancedFieldType::String, 20);
    fields.AddField("Score", TVRXAdvancedFieldType::Integer);
    fields.AddField("Round", TVRXAdvancedFieldType::Integer);
    TVRXIndexDefs indexes;
    using pelvaro::test::AddIndexDef;
    AddIndexDef(indexes, "ByID", {"ID"}, {"ASC"}, {"CASE"}).SetUnique(true);
    AddIndexDef(indexes, "ByScore", {"Score"}, {"ASC"}, {"CASE"});
    AddIndexDef(indexes, "ByScoreDesc", {"Score"}, {"DESC"}, {"CASE"});
    AddIndexDef(indexes, "ByRoundScore", {"Round", "Score"}, {"ASC", "ASC"}, {"CASE", "CASE"});
    AddIndexDef(indexes, "ByName", {"Name"}, {"ASC"}, {"CASE"});
    AddIndexDef(indexes, "ByNameNoCase", {"Name"}, {"ASC"}, {"NO_CASE"});
    TVRXConstraintDefs constraints;
    NewCursor("P").CreateTable(fields, indexes, constraints);
  }

  // A cursor of the session on `table`, not yet open.
  TVRXLocalCursor& NewCursor(const std::string& table) {
    cursors.push_back(std::make_unique<TVRXLocalCursor>());
    TVRXLocalCursor& cursor = *cursors.back();
    cursor.session = &session;
    cursor.tableName = table;
    return cursor;
  }

  // An open cursor on `table` with its record buffer.
  TVRXLocalCursor& Open(const std::string& table = "P") {
    TVRXLocalCursor& cursor = NewCursor(table);
    cursor.OpenTable();
    Buffer(cursor);
    return cursor;
  }

  // The cursor's record buffer, kept for the fixture's life.
  std::span<uint8_t> Buffer(TVRXLocalCursor& cursor) {
    std::unique_ptr<TVRXRecordBuffer>& buffer = buffers[&cursor];
    if (buffer == nullptr || buffer->Span().size() != static_cast<size_t>(cursor.recordBufferSize))
      buffer = std::make_unique<TVRXRecordBuffer>(cursor);
    cursor.recordBuffer = *buffer;
    return *buffer;
  }

  // Appends a player through `cursor`; its ID.
  int32_t Insert(TVRXLocalCursor& cursor, const std::string& name, int32_t score, int32_t round) {
    std::span<uint8_t> buffer = Buffer(cursor);
    cursor.InitRecord(buffer, true);
    TVRXVariant v;
    v.SetAsString(name);
    cursor.SetFieldValue(v, kName, buffer);
    v.SetAsInteger(score);
    cursor.SetFieldValue(v, kScore, buffer);
    v.SetAsInteger(round);
    cursor.SetFieldValue(v, kRound, buffer);
    cursor.Post(true);
    EXPECT_EQ(cursor.lastResult, 0);
    return IntOf(cursor, kID);
  }

  // P filled with kPlayers; a fresh cursor on it.
  TVRXLocalCursor& Players() {
    CreatePlayers();
    TVRXLocalCursor& writer = Open();
    for (const Player& p : kPlayers) Insert(writer, p.name, p.score, p.round);
    return Open();
  }

  int32_t IntOf(TVRXLocalCursor& cursor, int32_t field) {
    TVRXVariant v;
    EXPECT_TRUE(cursor.GetFieldValue(v, field, Buffer(cursor))) << "field " << field << " NULL";
    return v.GetAsInteger();
  }
  int32_t IDOf(TVRXLocalCursor& cursor) { return IntOf(cursor, kID); }

  // A key record of the cursor's table: `values[i]` in field `fields[i]`,
  // every other field NULL.
  std::vector<uint8_t> Key(TVRXLocalCursor& cursor, const std::vector<int32_t>& fields,
                           const std::vector<int32_t>& values) {
    std::vector<uint8_t> key(static_cast<size_t>(cursor.dataSize));
    cursor.InitRecord(key, false);
    for (size_t i = 0; i < values.size(); ++i) {
      TVRXVariant v;
      v.SetAsInteger(values[i]);
      cursor.SetFieldValue(v, fields[i], key, true);
    }
    return key;
  }
  std::vector<uint8_t> TextKey(TVRXLocalCursor& cursor, int32_t field, const std::string& text) {
    std::vector<uint8_t> key(static_cast<size_t>(cursor.dataSize));
    cursor.InitRecord(key, false);
    TVRXVariant v;
    v.SetAsString(text);
    cursor.SetFieldValue(v, field, key, true);
    return key;
  }

  // Walks from one end to the other (First and Next, or Last and Prior).
  Walked Walk(TVRXLocalCursor& cursor, bool forward = true) {
    Walked walked;
    Buffer(cursor);
    if (forward)
      cursor.First();
    else
      cursor.Last();
    int32_t result = kRead;
    for (int guard = 0; guard < 5000; ++guard) {
      result = cursor.GetRecord(forward ? kNext : kPrior);
      if (result != kRead) break;
      walked.ids.push_back(IDOf(cursor));
      walked.recNos.push_back(cursor.GetRecNo());
    }
    EXPECT_EQ(result, forward ? kEOF : kBOF) << "the walk did not end at its end";
    return walked;
  }
  std::vector<int32_t> Ids(TVRXLocalCursor& cursor, bool forward = true) {
    return Walk(cursor, forward).ids;
  }

  // Positions the cursor on the record `id` by walking its own order.
  bool PositionOn(TVRXLocalCursor& cursor, int32_t id) {
    Buffer(cursor);
    cursor.First();
    for (int guard = 0; guard < 5000 && cursor.GetRecord(kNext) == kRead; ++guard)
      if (IDOf(cursor) == id) return true;
    ADD_FAILURE() << "record " << id << " not found";
    return false;
  }

  // Record changes through `cursor`, which must be able to reach the record.
  void UpdateScore(TVRXLocalCursor& cursor, int32_t id, int32_t score) {
    ASSERT_TRUE(PositionOn(cursor, id));
    cursor.Edit();
    ASSERT_EQ(cursor.lastResult, 0);
    TVRXVariant v;
    v.SetAsInteger(score);
    cursor.SetFieldValue(v, kScore, Buffer(cursor));
    cursor.Post(false);
    ASSERT_EQ(cursor.lastResult, 0);
  }
  void DeleteRecord(TVRXLocalCursor& cursor, int32_t id) {
    ASSERT_TRUE(PositionOn(cursor, id));
    cursor.Delete();
    ASSERT_EQ(cursor.lastResult, 0);
  }

  TVRXLocalSession session;
  std::map<TVRXLocalCursor*, std::unique_ptr<TVRXRecordBuffer>> buffers;
  std::vector<std::unique_ptr<TVRXLocalCursor>> cursors;
};

// --- walking ---------------------------------------------------------------------------

TEST_F(NavigationTest, EveryOrderWalksBothWaysWithEqualKeysInRecordOrder) {
  struct Case {
    const char* index;
    const std::vector<int32_t>& expected;
  };
  const Case cases[] = {{"", kStorage},
                        {"ByID", kStorage},
                        {"ByScore", kByScore},
                        {"ByScoreDesc", kByScoreDesc},
                        {"ByRoundScore", kByRoundScore},
                        {"ByName", kByName}};
  TVRXLocalCursor& cursor = Players();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    cursor.SetIndex(c.index);
    const Walked forward = Walk(cursor);
    EXPECT_THAT(forward.ids, ElementsAreArray(c.expected));
    EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(c.expected.size())));
    EXPECT_THAT(Ids(cursor, false), ElementsAreArray(Reversed(c.expected)));
    EXPECT_EQ(cursor.GetRecordCount(), 10);
  }
}

TEST_F(NavigationTest, EndsOfTheWalk) {
  struct Case {
    const char* name;
    const char* index;
    std::vector<int32_t> range;  // Score from, to; none: unrestricted
    size_t count;
  };
  const Case cases[] = {{"storage order", "", {}, 10},
                        {"index order", "ByScore", {}, 10},
                        {"range holding every record", "ByScore", {0, 99}, 10},
                        {"range inside the index", "ByScore", {20, 30}, 6}};
  TVRXLocalCursor& cursor = Players();
  auto check = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    cursor.SetIndex(c.index);
    if (!c.range.empty())
      cursor.SetRange(Key(cursor, {kScore}, {c.range[0]}), Key(cursor, {kScore}, {c.range[1]}),
                      false, false, 1, 1);
    const std::vector<int32_t> order = Ids(cursor);
    ASSERT_EQ(order.size(), c.count);

    cursor.First();
    EXPECT_EQ(cursor.GetRecNo(), -1);
    EXPECT_EQ(cursor.GetRecord(kPrior), kBOF) << "came to " << IDOf(cursor);
    cursor.First();
    ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    EXPECT_EQ(IDOf(cursor), order.front());
    // Prior from the first record stands before it; Next comes back to it.
    EXPECT_EQ(cursor.GetRecord(kPrior), kBOF) << "came to " << IDOf(cursor);
    EXPECT_TRUE(cursor.atBOF);
    ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    EXPECT_EQ(IDOf(cursor), order.front());

    cursor.Last();
    EXPECT_EQ(cursor.GetRecNo(), -1);
    EXPECT_EQ(cursor.GetRecord(kNext), kEOF) << "came to " << IDOf(cursor);
    cursor.Last();
    ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
    EXPECT_EQ(IDOf(cursor), order.back());
    EXPECT_EQ(cursor.GetRecord(kNext), kEOF) << "came to " << IDOf(cursor);
    EXPECT_TRUE(cursor.atEOF);
    ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
    EXPECT_EQ(IDOf(cursor), order.back());
    ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
    EXPECT_EQ(IDOf(cursor), order[c.count - 2]);
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IDOf(cursor), order[c.count - 2]);
    cursor.CancelRange();
  };
  for (const Case& c : cases) check(c);
}

TEST_F(NavigationTest, EmptyTableIsAfterLastForEveryModeAndKeepsItsPosition) {
  CreatePlayers();
  TVRXLocalCursor& cursor = Open();
  for (const char* index : {"", "ByScore"}) {
    SCOPED_TRACE(index);
    cursor.SetIndex(index);
    for (int32_t mode : {kCurrent, kNext, kPrior}) {
      cursor.First();
      EXPECT_EQ(cursor.GetRecord(mode), kEOF) << "mode " << mode;
    }
    EXPECT_EQ(cursor.GetRecordCount(), 0);
    cursor.First();
    cursor.SetRecNo(1);
    EXPECT_TRUE(cursor.atBOF);
    EXPECT_FALSE(cursor.atEOF);
    EXPECT_EQ(cursor.GetRecNo(), -1);
  }
}

TEST_F(NavigationTest, CurrentRecordGoneOrNoLongerPassingIsNoRecord) {
  struct Case {
    const char* name;
    const char* index;
    bool range;   // the reader keeps Score in 20..30
    bool remove;  // else the record's Score becomes 99
  };
  const Case cases[] = {{"deleted, storage order", "", false, true},
                        {"deleted, index order", "ByScore", false, true},
                        {"deleted, in a range", "ByScore", true, true},
                        {"moved out of the range", "ByScore", true, false}};
  auto check = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    Reset();
    TVRXLocalCursor& reader = Players();
    TVRXLocalCursor& writer = Open();
    reader.SetIndex(c.index);
    if (c.range)
      reader.SetRange(Key(reader, {kScore}, {20}), Key(reader, {kScore}, {30}), false, false, 1, 1);
    ASSERT_TRUE(PositionOn(reader, 3));
    if (c.remove)
      DeleteRecord(writer, 3);
    else
      UpdateScore(writer, 3, 99);
    EXPECT_EQ(reader.GetRecord(kCurrent), kNoRecord);
  };
  for (const Case& c : cases) check(c);
}

TEST_F(NavigationTest, CaseInsensitiveTextIndexTiesDifferentlyCasedKeys) {
  CreatePlayers();
  TVRXLocalCursor& writer = Open();
  for (const char* name : {"bea", "Adam", "adam", "Bea", "cyril", "eda"})
    Insert(writer, name, 0, 0);
  TVRXLocalCursor& cursor = Open();
  cursor.SetIndex("ByNameNoCase");
  EXPECT_THAT(Ids(cursor), ElementsAreArray({2, 3, 1, 4, 5, 6}));
  EXPECT_THAT(Ids(cursor, false), ElementsAreArray({6, 5, 4, 1, 3, 2}));

  cursor.SetRange(TextKey(cursor, kName, "ADAM"), TextKey(cursor, kName, "BEA"), false, false, 1,
                  1);
  EXPECT_THAT(Ids(cursor), ElementsAreArray({2, 3, 1, 4}));
  EXPECT_EQ(cursor.GetRecordCount(), 4);
  cursor.SetRange(TextKey(cursor, kName, "b"), TextKey(cursor, kName, "d"), false, false, 1, 1);
  EXPECT_THAT(Ids(cursor), ElementsAreArray({1, 4, 5}));
  cursor.CancelRange();

  cursor.keyBuffer = TextKey(cursor, kName, "BEA");
  cursor.keyFieldCount = 1;
  ASSERT_TRUE(cursor.FindKey(kEq));
  EXPECT_EQ(IDOf(cursor), 1);
  ASSERT_TRUE(cursor.FindKey(kGt));
  EXPECT_EQ(IDOf(cursor), 5);
}

// --- ranges ----------------------------------------------------------------------------

TEST_F(NavigationTest, RangesSelectTheirRecordsBothWaysWithCountAndNumbers) {
  struct Case {
    const char* name;
    const char* index;
    std::vector<int32_t> start;  // empty: open
    int32_t startCount;
    bool startExclusive;
    std::vector<int32_t> end;  // empty: open
    int32_t endCount;
    bool endExclusive;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {"start equal to end, inclusive", "ByScore", {30}, 1, false, {30}, 1, false, {1, 3, 6, 10}},
      {"both bounds exclusive", "ByScore", {20}, 1, true, {40}, 1, true, {1, 3, 6, 10}},
      {"start inclusive, end exclusive",
       "ByScore",
       {20},
       1,
       false,
       {40},
       1,
       true,
       {4, 7, 1, 3, 6, 10}},
      {"start exclusive, end inclusive",
       "ByScore",
       {20},
       1,
       true,
       {40},
       1,
       false,
       {1, 3, 6, 10, 5}},
      {"open start", "ByScore", {}, 0, false, {20}, 1, false, {2, 9, 4, 7}},
      {"open end", "ByScore", {40}, 1, false, {}, 0, false, {5, 8}},
      {"bounds between the keys", "ByScore", {25}, 1, false, {35}, 1, false, {1, 3, 6, 10}},
      {"whole table inside", "ByScore", {0}, 1, false, {99}, 1, false, kByScore},
      {"no key inside", "ByScore", {31}, 1, false, {39}, 1, false, {}},
      {"start above end", "ByScore", {40}, 1, false, {20}, 1, false, {}},
      {"one key, both bounds exclusive", "ByScore", {30}, 1, true, {30}, 1, true, {}},
      {"above every key", "ByScore", {60}, 1, false, {}, 0, false, {}},
      {"below every key", "ByScore", {}, 0, false, {5}, 1, false, {}},
      {"prefix of a two-field index", "ByRoundScore", {2}, 1, false, {2}, 1, false, {9, 4, 1, 6}},
      {"prefix ignores the second key field",
       "ByRoundScore",
       {2, 99},
       1,
       false,
       {2, 0},
       1,
       false,
       {9, 4, 1, 6}},
      {"exclusive prefix start", "ByRoundScore", {2}, 1, true, {}, 0, false, {7, 10, 8}},
      {"two-field bounds", "ByRoundScore", {1, 30}, 2, false, {2, 20}, 2, false, {3, 5, 9, 4}},
      {"two-field start, prefix end",
       "ByRoundScore",
       {2, 15},
       2,
       false,
       {3},
       1,
       false,
       {4, 1, 6, 7, 10, 8}},
      {"prefix start, two-field exclusive end",
       "ByRoundScore",
       {2},
       1,
       false,
       {2, 20},
       2,
       true,
       {9}},
      {"descending index runs from high to low",
       "ByScoreDesc",
       {40},
       1,
       false,
       {20},
       1,
       false,
       {5, 1, 3, 6, 10, 4, 7}},
      {"descending index, exclusive start",
       "ByScoreDesc",
       {30},
       1,
       true,
       {},
       0,
       false,
       {4, 7, 2, 9}},
      {"descending index, low to high is empty", "ByScoreDesc", {20}, 1, false, {40}, 1, false, {}},
  };
  TVRXLocalCursor& cursor = Players();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cursor.SetIndex(c.index);
    const std::vector<int32_t> fields = KeyFieldsOf(c.index);
    cursor.SetRange(c.start.empty() ? std::vector<uint8_t>() : Key(cursor, fields, c.start),
                    c.end.empty() ? std::vector<uint8_t>() : Key(cursor, fields, c.end),
                    c.endExclusive, c.startExclusive, c.endCount, c.startCount);
    EXPECT_EQ(cursor.GetRecordCount(), static_cast<int64_t>(c.expected.size()));
    const Walked forward = Walk(cursor);
    EXPECT_THAT(forward.ids, ElementsAreArray(c.expected));
    EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(c.expected.size())));
    const Walked backward = Walk(cursor, false);
    EXPECT_THAT(backward.ids, ElementsAreArray(Reversed(c.expected)));
    EXPECT_THAT(backward.recNos, ElementsAreArray(Reversed(OneTo(c.expected.size()))));
    cursor.CancelRange();
    EXPECT_EQ(cursor.GetRecordCount(), 10);
  }
}

TEST_F(NavigationTest, CancelledRangeGivesBackTheWholeIndex) {
  TVRXLocalCursor& cursor = Players();
  cursor.SetIndex("ByScore");
  cursor.SetRange(Key(cursor, {kScore}, {30}), Key(cursor, {kScore}, {30}), false, false, 1, 1);
  ASSERT_EQ(cursor.GetRecordCount(), 4);
  ASSERT_TRUE(PositionOn(cursor, 6));
  cursor.CancelRange();
  EXPECT_EQ(cursor.GetRecordCount(), 10);
  // The position survives; the neighbours are those of the whole index.
  EXPECT_EQ(cursor.GetRecNo(), 7);
  ASSERT_EQ(cursor.GetRecord(kNext), kRead);
  EXPECT_EQ(IDOf(cursor), 10);
  ASSERT_EQ(cursor.GetRecord(kNext), kRead);
  EXPECT_EQ(IDOf(cursor), 5);
  EXPECT_THAT(Ids(cursor), ElementsAreArray(kByScore));
}

TEST_F(NavigationTest, RangeIsWalkedThroughTheIndexReadingOnlyItsRecords) {
  CreatePlayers();
  TVRXLocalCursor& writer = Open();
  for (int32_t i = 0; i < 300; ++i) Insert(writer, "p", i, i % 7);
  TVRXLocalCursor& cursor = Open();
  TVRXDiskTableData& table = *cursor.TableData();
  cursor.SetIndex("ByScore");

  cursor.SetRange(Key(cursor, {kScore}, {100}), Key(cursor, {kScore}, {102}), false, false, 1, 1);
  int64_t before = table.RecordsReadByNavigation();
  std::vector<int32_t> ids;
  cursor.First();
  while (cursor.GetRecord(kNext) == kRead && ids.size() < 10) ids.push_back(IDOf(cursor));
  EXPECT_THAT(ids, ElementsAreArray({101, 102, 103}));
  EXPECT_LE(table.RecordsReadByNavigation() - before, 8);
  before = table.RecordsReadByNavigation();
  EXPECT_EQ(cursor.GetRecordCount(), 3);
  EXPECT_LE(table.RecordsReadByNavigation() - before, 8);

  // A range whose start lies above its end finds nothing without reading.
  cursor.SetRange(Key(cursor, {kScore}, {200}), Key(cursor, {kScore}, {100}), false, false, 1, 1);
  before = table.RecordsReadByNavigation();
  EXPECT_EQ(cursor.GetRecordCount(), 0);
  cursor.First();
  EXPECT_EQ(cursor.GetRecord(kNext), kEOF);
  cursor.Last();
  EXPECT_EQ(cursor.GetRecord(kPrior), kBOF);
  EXPECT_EQ(table.RecordsReadByNavigation() - before, 0);
  cursor.CancelRange();

  // A key search on a unique index goes straight to its record.
  cursor.SetIndex("ByID");
  cursor.keyBuffer = Key(cursor, {kID}, {250});
  cursor.keyFieldCount = 1;
  before = table.RecordsReadByNavigation();
  ASSERT_TRUE(cursor.FindKey(kEq));
  EXPECT_EQ(IDOf(cursor), 250);
  EXPECT_LE(table.RecordsReadByNavigation() - before, 2);
}

// --- key search ------------------------------------------------------------------------

TEST_F(NavigationTest, FindKeyPositionsOnTheFirstMatchOrKeepsThePosition) {
  struct Case {
    const char* index;
    int32_t kind;
    std::vector<int32_t> key;  // its length is the key field count
    int32_t expected;          // 0: not found
  };
  const Case cases[] = {
      // Unique index.
      {"ByID", kEq, {7}, 7},
      {"ByID", kEq, {11}, 0},
      {"ByID", kGt, {7}, 8},
      {"ByID", kGe, {7}, 7},
      {"ByID", kLt, {7}, 1},
      {"ByID", kLe, {0}, 0},
      {"ByID", kGt, {10}, 0},
      // Equal keys: the first of the run in index order.
      {"ByScore", kEq, {30}, 1},
      {"ByScore", kEq, {25}, 0},
      {"ByScore", kGt, {30}, 5},
      {"ByScore", kGe, {25}, 1},
      {"ByScore", kGe, {30}, 1},
      {"ByScore", kLt, {30}, 2},
      {"ByScore", kLe, {10}, 2},
      {"ByScore", kLt, {10}, 0},
      {"ByScore", kGt, {50}, 0},
      // Leading key fields only.
      {"ByRoundScore", kEq, {2}, 9},
      {"ByRoundScore", kGt, {2}, 7},
      {"ByRoundScore", kEq, {4}, 0},
      {"ByRoundScore", kLt, {1}, 0},
      {"ByRoundScore", kEq, {2, 30}, 1},
      {"ByRoundScore", kGe, {2, 25}, 1},
      {"ByRoundScore", kGt, {3, 50}, 0},
      // A descending key compares in the index's order.
      {"ByScoreDesc", kEq, {30}, 1},
      {"ByScoreDesc", kGt, {30}, 4},
      {"ByScoreDesc", kGe, {45}, 5},
  };
  TVRXLocalCursor& cursor = Players();
  auto check = [&](const Case& c) {
    SCOPED_TRACE(std::string(c.index) + " kind " + std::to_string(c.kind) + " key " +
                 std::to_string(c.key[0]) +
                 (c.key.size() > 1 ? "," + std::to_string(c.key[1]) : ""));
    cursor.SetIndex(c.index);
    // Start from the third record of the index.
    cursor.First();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    const int32_t startID = IDOf(cursor);
    const TVRXCursorPosition start = cursor.SavePosition();

    cursor.keyBuffer = Key(cursor, KeyFieldsOf(c.index), c.key);
    cursor.keyFieldCount = static_cast<int32_t>(c.key.size());
    const bool found = cursor.FindKey(c.kind);
    EXPECT_EQ(found, c.expected != 0);
    if (found) {
      EXPECT_EQ(IDOf(cursor), c.expected);
      EXPECT_FALSE(cursor.atBOF || cursor.atEOF);
      ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
      EXPECT_EQ(IDOf(cursor), c.expected);
    } else {
      EXPECT_EQ(cursor.atBOF, start.atBOF);
      EXPECT_EQ(cursor.atEOF, start.atEOF);
      EXPECT_EQ(cursor.currentRecordID, start.recordID);
      ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
      EXPECT_EQ(IDOf(cursor), startID);
    }
  };
  for (const Case& c : cases) check(c);
}

TEST_F(NavigationTest, FoundKeyIsAPositionInTheIndex) {
  TVRXLocalCursor& cursor = Players();
  cursor.SetIndex("ByScore");
  cursor.keyBuffer = Key(cursor, {kScore}, {30});
  cursor.keyFieldCount = 1;
  ASSERT_TRUE(cursor.FindKey(kEq));
  EXPECT_EQ(cursor.GetRecNo(), 5);
  ASSERT_EQ(cursor.GetRecord(kNext), kRead);
  EXPECT_EQ(IDOf(cursor), 3);
  ASSERT_TRUE(cursor.FindKey(kEq));
  ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
  EXPECT_EQ(IDOf(cursor), 7);
}

TEST_F(NavigationTest, FindKeyStaysInsideTheRange) {
  TVRXLocalCursor& cursor = Players();
  cursor.SetIndex("ByScore");
  cursor.SetRange(Key(cursor, {kScore}, {20}), Key(cursor, {kScore}, {30}), false, false, 1, 1);
  cursor.keyFieldCount = 1;
  cursor.keyBuffer = Key(cursor, {kScore}, {10});
  EXPECT_FALSE(cursor.FindKey(kEq));
  cursor.keyBuffer = Key(cursor, {kScore}, {30});
  EXPECT_FALSE(cursor.FindKey(kGt));
  ASSERT_TRUE(cursor.FindKey(kGe));
  EXPECT_EQ(IDOf(cursor), 1);
  EXPECT_EQ(cursor.GetRecNo(), 3);
  cursor.keyBuffer = Key(cursor, {kScore}, {15});
  ASSERT_TRUE(cursor.FindKey(kGt));
  EXPECT_EQ(IDOf(cursor), 4);
}

TEST_F(NavigationTest, FindKeyWithoutIndexIsRefused) {
  TVRXLocalCursor& cursor = Players();
  ASSERT_TRUE(PositionOn(cursor, 4));
  cursor.SetIndex("");
  cursor.keyBuffer = Key(cursor, {kScore}, {30});
  cursor.keyFieldCount = 1;
  EXPECT_THAT(MessageOf([&] { cursor.FindKey(kEq); }),
              StartsWith("No active index is set for Key search. Set Table.IndexName to the "
                         "index on search fields."));
  ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
  EXPECT_EQ(IDOf(cursor), 4);
}

// --- record numbers --------------------------------------------------------------------

TEST_F(NavigationTest, RecordNumbersOfAnUnrestrictedCursor) {
  struct Case {
    const char* index;
    const std::vector<int32_t>& order;
  };
  const Case cases[] = {{"", kStorage}, {"ByScore", kByScore}, {"ByScoreDesc", kByScoreDesc}};
  TVRXLocalCursor& cursor = Players();
  auto check = [&](const Case& c) {
    SCOPED_TRACE(c.index);
    cursor.SetIndex(c.index);
    for (int64_t n = 1; n <= 10; ++n) {
      cursor.SetRecNo(n);
      ASSERT_EQ(cursor.GetRecord(kCurrent), kRead) << n;
      EXPECT_EQ(IDOf(cursor), c.order[static_cast<size_t>(n - 1)]) << n;
      EXPECT_EQ(cursor.GetRecNo(), n);
    }
    cursor.SetRecNo(4);
    ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    EXPECT_EQ(IDOf(cursor), c.order[4]);
    cursor.SetRecNo(25);
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IDOf(cursor), c.order.back());
    EXPECT_EQ(cursor.GetRecNo(), 10);
    cursor.First();
    EXPECT_EQ(cursor.GetRecNo(), -1);
    cursor.Last();
    EXPECT_EQ(cursor.GetRecNo(), -1);
  };
  for (const Case& c : cases) check(c);
}

TEST_F(NavigationTest, RecordNumbersCountOnlyAcceptedRecords) {
  // Accepted by the callback: Round other than 2.
  struct Case {
    const char* name;
    const char* index;
    bool callback;
    bool range;  // Score 20..40 on ByScore
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {"callback, storage order", "", true, false, {2, 3, 5, 7, 8, 10}},
      {"callback, index order", "ByScore", true, false, {2, 7, 3, 10, 5, 8}},
      {"range", "ByScore", false, true, {4, 7, 1, 3, 6, 10, 5}},
      {"range and callback", "ByScore", true, true, {7, 3, 10, 5}},
  };
  auto check = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    Reset();
    TVRXLocalCursor& cursor = Players();
    cursor.SetIndex(c.index);
    if (c.callback) {
      cursor.onFilterRecord = [&cursor](void*, std::span<const uint8_t> record) {
        TVRXVariant round;
        return cursor.GetFieldValue(round, kRound, true, record) && round.GetAsInteger() != 2;
      };
    }
    if (c.range)
      cursor.SetRange(Key(cursor, {kScore}, {20}), Key(cursor, {kScore}, {40}), false, false, 1, 1);
    const int64_t count = static_cast<int64_t>(c.expected.size());
    EXPECT_EQ(cursor.GetRecordCount(), count);
    const Walked forward = Walk(cursor);
    EXPECT_THAT(forward.ids, ElementsAreArray(c.expected));
    EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(c.expected.size())));
    EXPECT_THAT(Ids(cursor, false), ElementsAreArray(Reversed(c.expected)));

    ASSERT_TRUE(PositionOn(cursor, c.expected[2]));
    EXPECT_EQ(cursor.GetRecNo(), 3);
    for (int64_t n = count; n >= 1; --n) {
      cursor.SetRecNo(n);
      ASSERT_EQ(cursor.GetRecord(kCurrent), kRead) << n;
      EXPECT_EQ(IDOf(cursor), c.expected[static_cast<size_t>(n - 1)]) << n;
      EXPECT_EQ(cursor.GetRecNo(), n);
    }
    cursor.SetRecNo(count + 3);
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IDOf(cursor), c.expected.back());
    EXPECT_EQ(cursor.GetRecNo(), count);
    ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
    EXPECT_EQ(IDOf(cursor), c.expected[c.expected.size() - 2]);
    cursor.Last();
    EXPECT_EQ(cursor.GetRecNo(), -1);
  };
  for (const Case& c : cases) check(c);
}

TEST_F(NavigationTest, SetRecNoWithoutAcceptedRecordsKeepsThePosition) {
  TVRXLocalCursor& cursor = Players();
  cursor.SetIndex("ByScore");
  ASSERT_TRUE(PositionOn(cursor, 3));
  const TVRXCursorPosition before = cursor.SavePosition();
  cursor.SetRange(Key(cursor, {kScore}, {31}), Key(cursor, {kScore}, {39}), false, false, 1, 1);
  ASSERT_EQ(cursor.GetRecordCount(), 0);
  cursor.SetRecNo(1);
  EXPECT_EQ(cursor.atBOF, before.atBOF);
  EXPECT_EQ(cursor.atEOF, before.atEOF);
  EXPECT_EQ(cursor.currentRecordID, before.recordID);
}

// --- distinct keys ---------------------------------------------------------------------

TEST_F(NavigationTest, DistinctGivesTheFirstRecordOfEachKeyBothWays) {
  struct Case {
    const char* name;
    std::vector<std::string> fields, directions;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {"one field", {"Score"}, {"ASC"}, {2, 4, 1, 5, 8}},
      {"one field descending", {"Score"}, {"DESC"}, {8, 5, 1, 4, 2}},
      {"two fields", {"Round", "Score"}, {"ASC", "ASC"}, {2, 3, 5, 9, 4, 1, 7, 10, 8}},
      {"fields no index sorts on",
       {"Score", "Round"},
       {"ASC", "ASC"},
       {2, 9, 4, 7, 3, 1, 10, 5, 8}},
  };
  auto check = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    Reset();
    TVRXLocalCursor& cursor = Players();
    cursor.SetDistinct(c.fields, c.directions, std::vector<std::string>(c.fields.size(), "CASE"));
    const int64_t count = static_cast<int64_t>(c.expected.size());
    EXPECT_EQ(cursor.GetRecordCount(), count);
    const Walked forward = Walk(cursor);
    EXPECT_THAT(forward.ids, ElementsAreArray(c.expected));
    EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(c.expected.size())));
    const Walked backward = Walk(cursor, false);
    EXPECT_THAT(backward.ids, ElementsAreArray(Reversed(c.expected)));
    EXPECT_THAT(backward.recNos, ElementsAreArray(Reversed(OneTo(c.expected.size()))));
    // From the middle, both ways.
    cursor.SetRecNo(2);
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IDOf(cursor), c.expected[1]);
    ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    EXPECT_EQ(IDOf(cursor), c.expected[2]);
    EXPECT_EQ(cursor.GetRecNo(), 3);
    ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
    ASSERT_EQ(cursor.GetRecord(kPrior), kRead);
    EXPECT_EQ(IDOf(cursor), c.expected[0]);
    EXPECT_EQ(cursor.GetRecord(kPrior), kBOF);
  };
  for (const Case& c : cases) check(c);
}

TEST_F(NavigationTest, DistinctOverTheLeadingFieldOfALongerIndex) {
  // Round leads ByRoundScore; whichever index sorts on it, there is one
  // record per round, the same ones both ways.
  TVRXLocalCursor& cursor = Players();
  cursor.SetDistinct({"Round"}, {"ASC"}, {"CASE"});
  EXPECT_EQ(cursor.GetRecordCount(), 3);
  const Walked forward = Walk(cursor);
  std::vector<int32_t> rounds;
  for (int32_t id : forward.ids) rounds.push_back(kPlayers[id - 1].round);
  EXPECT_THAT(rounds, ElementsAreArray({1, 2, 3}));
  EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(3)));
  EXPECT_THAT(Ids(cursor, false), ElementsAreArray(Reversed(forward.ids)));
  for (int64_t n = 1; n <= 3 && forward.ids.size() == 3; ++n) {
    cursor.SetRecNo(n);
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IDOf(cursor), forward.ids[static_cast<size_t>(n - 1)]);
  }
}

TEST_F(NavigationTest, DistinctUnderAFilterAnsweredByAnotherIndex) {
  // Score > 20 is answered by ByScore while the cursor walks its sort
  // index on Round: backwards, the search for a group's first record must
  // still test the filter.
  TVRXLocalCursor& cursor = Players();
  cursor.SetDistinct({"Round"}, {"ASC"}, {"CASE"});
  cursor.SetFilter("Score > 20", false, false);
  const std::vector<int32_t> forward = Ids(cursor);
  std::vector<int32_t> rounds;
  for (int32_t id : forward) {
    const Player& p = kPlayers[id - 1];
    EXPECT_GT(p.score, 20) << "record " << id;
    rounds.push_back(p.round);
  }
  EXPECT_THAT(rounds, ElementsAreArray({1, 2, 3}));
  EXPECT_THAT(Ids(cursor, false), ElementsAreArray(Reversed(forward)));
  EXPECT_EQ(cursor.GetRecordCount(), 3);
}

// --- the record set while records change ----------------------------------------------

TEST_F(NavigationTest, RecordSetFollowsChangesThroughEitherCursor) {
  // The reader keeps Score 20..30, by a range on ByScore or by a callback
  // in storage order; every change is made by the reader itself or by a
  // second cursor, and the reader's count, order and numbers follow it.
  struct Step {
    const char* name;
    bool byReader;
    enum { kInsert, kUpdate, kDelete } op;
    int32_t id;  // update, delete
    int32_t score;
  };
  const Step steps[] = {
      {"other inserts inside", false, Step::kInsert, 0, 25},
      {"reader inserts inside", true, Step::kInsert, 0, 20},
      {"other inserts outside", false, Step::kInsert, 0, 45},
      {"other moves a record out", false, Step::kUpdate, 3, 99},
      {"other moves a record in", false, Step::kUpdate, 5, 20},
      {"other moves a record within", false, Step::kUpdate, 4, 30},
      {"other deletes", false, Step::kDelete, 1, 0},
      {"reader deletes", true, Step::kDelete, 7, 0},
      {"reader moves a record out", true, Step::kUpdate, 10, 10},
  };
  auto check = [&](bool byIndex) {
    SCOPED_TRACE(byIndex ? "range on ByScore" : "callback in storage order");
    Reset();
    TVRXLocalCursor& reader = Players();
    TVRXLocalCursor& other = Open();
    std::map<int32_t, int32_t> scores;  // the model: ID -> Score
    for (int32_t id = 1; id <= 10; ++id) scores[id] = kPlayers[id - 1].score;
    if (byIndex) {
      reader.SetIndex("ByScore");
      reader.SetRange(Key(reader, {kScore}, {20}), Key(reader, {kScore}, {30}), false, false, 1, 1);
    } else {
      reader.onFilterRecord = [&reader](void*, std::span<const uint8_t> record) {
        TVRXVariant score;
        return reader.GetFieldValue(score, kScore, true, record) && score.GetAsInteger() >= 20 &&
               score.GetAsInteger() <= 30;
      };
    }
    // Inside the set in the model's order (record IDs follow IDs here:
    // nothing is inserted after a delete).
    auto expected = [&] {
      std::vector<std::pair<int32_t, int32_t>> keys;
      for (auto [id, score] : scores)
        if (score >= 20 && score <= 30) keys.push_back({byIndex ? score : 0, id});
      std::sort(keys.begin(), keys.end());
      std::vector<int32_t> ids;
      for (auto [key, id] : keys) ids.push_back(id);
      return ids;
    };
    ASSERT_EQ(reader.GetRecordCount(), static_cast<int64_t>(expected().size()));

    for (const Step& s : steps) {
      SCOPED_TRACE(s.name);
      // The reader stands on record 6 (Score 30 throughout).
      ASSERT_TRUE(PositionOn(reader, 6));
      TVRXLocalCursor& actor = s.byReader ? reader : other;
      switch (s.op) {
        case Step::kInsert:
          scores[Insert(actor, "new", s.score, 1)] = s.score;
          break;
        case Step::kUpdate:
          UpdateScore(actor, s.id, s.score);
          scores[s.id] = s.score;
          break;
        case Step::kDelete:
          DeleteRecord(actor, s.id);
          scores.erase(s.id);
          break;
      }
      const std::vector<int32_t> ids = expected();
      if (!s.byReader) {
        const auto at = std::find(ids.begin(), ids.end(), 6);
        EXPECT_EQ(reader.GetRecNo(), at - ids.begin() + 1) << "the number of the record held";
      }
      EXPECT_EQ(reader.GetRecordCount(), static_cast<int64_t>(ids.size()));
      const Walked forward = Walk(reader);
      EXPECT_THAT(forward.ids, ElementsAreArray(ids));
      EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(ids.size())));
      EXPECT_THAT(Ids(reader, false), ElementsAreArray(Reversed(ids)));
    }
  };
  for (bool byIndex : {true, false}) check(byIndex);
}

// --- random ranges against a model ---------------------------------------------------

// A table M (ID AUTOINC, A INTEGER, B INTEGER, NULL now and then) of a few
// hundred records on small pages, so that records and index entries spread
// over many pages, changed at random and compared with a sorted model.
class NavigationModelTest : public NavigationTest {
 protected:
  void SetUp() override { Connect(512); }

  struct Row {
    int32_t id = 0;
    std::optional<int32_t> a, b;
    TVRXRecordID recordID;
  };
  struct IndexModel {
    const char* name;
    bool descendingA;
  };

  static constexpr int32_t kA = 1;
  static constexpr int32_t kB = 2;

  static int CompareValue(const std::optional<int32_t>& x, const std::optional<int32_t>& y) {
    if (!x || !y) return (x ? 1 : 0) - (y ? 1 : 0);  // NULL before every value
    return (*x > *y) - (*x < *y);
  }
  // The row's key against `key` over the first `count` fields of the index.
  static int CompareKey(const Row& row, const IndexModel& index,
                        const std::vector<std::optional<int32_t>>& key, int32_t count) {
    int c = CompareValue(row.a, key[0]);
    if (index.descendingA) c = -c;
    if (c != 0 || count == 1) return c;
    return CompareValue(row.b, key[1]);
  }
  static bool IndexLess(const Row& x, const Row& y, const IndexModel& index) {
    const int c = CompareKey(x, index, {y.a, y.b}, 2);
    if (c != 0) return c < 0;
    if (x.recordID.PageNo != y.recordID.PageNo) return x.recordID.PageNo < y.recordID.PageNo;
    return x.recordID.Slot < y.recordID.Slot;
  }

  void SetField(TVRXLocalCursor& cursor, int32_t field, std::optional<int32_t> value) {
    TVRXVariant v;
    if (value)
      v.SetAsInteger(*value);
    else
      v.SetNull();
    cursor.SetFieldValue(v, field, Buffer(cursor));
  }
  std::optional<int32_t> FieldOf(TVRXLocalCursor& cursor, int32_t field) {
    TVRXVariant v;
    if (!cursor.GetFieldValue(v, field, Buffer(cursor))) return std::nullopt;
    return v.GetAsInteger();
  }
};

TEST_F(NavigationModelTest, WalkGoesOnPastEntriesAddedBehindItsPosition) {
  // On small pages the entries another cursor adds after the reader's
  // position split the leaves and branches the reader's remembered path
  // runs through; the next step must still find them.
  CreatePlayers();
  TVRXLocalCursor& writer = Open();
  TVRXLocalCursor& reader = Open();
  reader.SetIndex("ByScore");
  int32_t next = 0;
  for (; next < 40; ++next) Insert(writer, "p", next, 1);
  reader.First();
  std::vector<int32_t> seen;
  while (reader.GetRecord(kNext) == kRead) {
    seen.push_back(IntOf(reader, kScore));
    // Whenever the reader stands a few entries before the last score
    // (inside the last leaf, whose split leaves its entry in place), more
    // come behind it.
    if (next - 1 - seen.back() == 12 && next < 400)
      for (const int32_t stop = next + 40; next < stop; ++next) Insert(writer, "p", next, 1);
  }
  std::vector<int32_t> all(static_cast<size_t>(next));
  std::iota(all.begin(), all.end(), 0);
  EXPECT_THAT(seen, ElementsAreArray(all));
}

TEST_F(NavigationModelTest, RandomRangesMatchASortedModel) {
  TVRXFieldDefs fields;
  fields.AddField("ID", TVRXAdvancedFieldType::AutoInc);
  fields.AddField("A", TVRXAdvancedFieldType::Integer);
  fields.AddField("B", TVRXAdvancedFieldType::Integer);
  TVRXIndexDefs indexes;
  const IndexModel models[] = {{"AB", false}, {"ADescB", true}};
  for (const IndexModel& m : models)
    pelvaro::test::AddIndexDef(indexes, m.name, {"A", "B"}, {m.descendingA ? "DESC" : "ASC", "ASC"},
                               {"CASE", "CASE"});
  TVRXConstraintDefs constraints;
  NewCursor("M").CreateTable(fields, indexes, constraints);

  std::mt19937 random(20240611);
  auto draw = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random);
  };
  auto drawB = [&]() -> std::optional<int32_t> {
    if (draw(0, 9) == 0) return std::nullopt;
    return draw(0, 3);
  };

  // Inserts, then deletes and more inserts (which reuse the freed slots, so
  // storage order leaves ID order), then updates that move index entries.
  TVRXLocalCursor& writer = Open("M");
  std::set<int32_t> live;
  auto insert = [&] {
    writer.InitRecord(Buffer(writer), true);
    SetField(writer, kA, draw(0, 14));
    SetField(writer, kB, drawB());
    writer.Post(true);
    ASSERT_EQ(writer.lastResult, 0);
    live.insert(*FieldOf(writer, kID));
  };
  auto pick = [&] {
    auto it = live.begin();
    std::advance(it, draw(0, static_cast<int32_t>(live.size()) - 1));
    return *it;
  };
  auto positionOnID = [&](int32_t id) {
    writer.First();
    while (writer.GetRecord(kNext) == kRead)
      if (FieldOf(writer, kID) == id) return true;
    return false;
  };
  for (int i = 0; i < 300; ++i) insert();
  for (int i = 0; i < 60; ++i) {
    const int32_t id = pick();
    ASSERT_TRUE(positionOnID(id)) << id;
    writer.Delete();
    ASSERT_EQ(writer.lastResult, 0);
    live.erase(id);
  }
  for (int i = 0; i < 60; ++i) insert();
  for (int i = 0; i < 40; ++i) {
    const int32_t id = pick();
    ASSERT_TRUE(positionOnID(id)) << id;
    writer.Edit();
    ASSERT_EQ(writer.lastResult, 0);
    SetField(writer, kA, draw(0, 14));
    SetField(writer, kB, drawB());
    writer.Post(false);
    ASSERT_EQ(writer.lastResult, 0);
  }

  // The model: every record with its record ID, from the storage order.
  TVRXLocalCursor& cursor = Open("M");
  std::vector<Row> rows;
  cursor.First();
  while (cursor.GetRecord(kNext) == kRead && rows.size() <= live.size())
    rows.push_back(
        {*FieldOf(cursor, kID), FieldOf(cursor, kA), FieldOf(cursor, kB), cursor.currentRecordID});
  std::set<int32_t> walked;
  for (const Row& row : rows) walked.insert(row.id);
  ASSERT_EQ(walked, live);
  ASSERT_EQ(rows.size(), live.size());
  ASSERT_EQ(cursor.GetRecordCount(), static_cast<int64_t>(live.size()));
  // Records over many pages, as the model means to have them.
  EXPECT_GT(cursor.TableData()->RecordPageIndex()->PageCount(session.SessionID()), 5);

  auto idsOf = [](const std::vector<Row>& list) {
    std::vector<int32_t> ids;
    for (const Row& row : list) ids.push_back(row.id);
    return ids;
  };
  for (const IndexModel& m : models) {
    SCOPED_TRACE(m.name);
    std::vector<Row> sorted = rows;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const Row& x, const Row& y) { return IndexLess(x, y, m); });
    cursor.CancelRange();
    cursor.SetIndex(m.name);
    const Walked whole = Walk(cursor);
    ASSERT_THAT(whole.ids, ElementsAreArray(idsOf(sorted)));
    EXPECT_THAT(whole.recNos, ElementsAreArray(OneTo(sorted.size())));

    for (int round = 0; round < 40; ++round) {
      // A bound: open, or a key over one or both fields, one or the other
      // side of it.
      struct Bound {
        bool open;
        std::vector<std::optional<int32_t>> key;
        int32_t count;
        bool exclusive;
      };
      auto drawBound = [&] {
        Bound bound{draw(0, 5) == 0, {draw(-1, 15), draw(-1, 4)}, draw(1, 2), draw(0, 1) == 1};
        return bound;
      };
      Bound start = drawBound();
      Bound end = drawBound();
      // Most ranges are kept the right way round so that they select
      // something.
      if (!start.open && !end.open && draw(0, 3) != 0 &&
          CompareKey({0, end.key[0], end.key[1], {}}, m, start.key, 2) < 0)
        std::swap(end.key, start.key);
      auto keyOf = [&](const Bound& bound) {
        if (bound.open) return std::vector<uint8_t>();
        return Key(cursor, {kA, kB}, {*bound.key[0], *bound.key[1]});
      };
      std::vector<Row> expected;
      for (const Row& row : sorted) {
        if (!start.open) {
          const int c = CompareKey(row, m, start.key, start.count);
          if (start.exclusive ? c <= 0 : c < 0) continue;
        }
        if (!end.open) {
          const int c = CompareKey(row, m, end.key, end.count);
          if (end.exclusive ? c >= 0 : c > 0) continue;
        }
        expected.push_back(row);
      }
      auto describe = [](const char* side, const Bound& b) {
        if (b.open) return std::string(side) + " open";
        return std::string(side) + (b.exclusive ? " (" : " [") + std::to_string(*b.key[0]) +
               (b.count == 2 ? "," + std::to_string(*b.key[1]) : "") + ")";
      };
      SCOPED_TRACE(describe("start", start) + ", " + describe("end", end));

      cursor.SetRange(keyOf(start), keyOf(end), end.exclusive, start.exclusive, end.count,
                      start.count);
      const std::vector<int32_t> ids = idsOf(expected);
      const int64_t count = static_cast<int64_t>(ids.size());
      ASSERT_EQ(cursor.GetRecordCount(), count);
      const Walked forward = Walk(cursor);
      ASSERT_THAT(forward.ids, ElementsAreArray(ids));
      EXPECT_THAT(forward.recNos, ElementsAreArray(OneTo(ids.size())));
      ASSERT_THAT(Ids(cursor, false), ElementsAreArray(Reversed(ids)));
      for (int probe = 0; probe < 3 && count > 0; ++probe) {
        const int64_t n = draw(1, static_cast<int32_t>(count) + 2);
        cursor.SetRecNo(n);
        ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
        const int64_t at = std::min(n, count);
        EXPECT_EQ(FieldOf(cursor, kID), ids[static_cast<size_t>(at - 1)]) << "SetRecNo " << n;
        EXPECT_EQ(cursor.GetRecNo(), at);
      }
      if (round % 10 == 9) {
        cursor.CancelRange();
        EXPECT_EQ(cursor.GetRecordCount(), static_cast<int64_t>(rows.size()));
        EXPECT_THAT(Ids(cursor), ElementsAreArray(idsOf(sorted)));
      }
    }
  }
}

}  // namespace
}  // namespace vrx
