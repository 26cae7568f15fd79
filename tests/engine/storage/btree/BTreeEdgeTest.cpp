// The record index's edge cases and messages, the page directories, and
// the index manager driving B-tree index objects. Runs in both locales.
#include <gtest/gtest.h>

#include <set>

#include "engine/base/VRXExcept.h"
#include "engine/storage/btree/VRXBTreeChecker.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/btree/VRXBTreePageIndex.h"
#include "tests/engine/storage/btree/BTreeTestSupport.h"
#include "tests/support/LocaleForTest.h"

namespace vrx::test {
namespace {

constexpr int32_t kSession = 1;

#define EXPECT_VRX_ERROR(statement, text, number)                              \
  try {                                                                        \
    statement;                                                                 \
    ADD_FAILURE() << "no error from " #statement;                              \
  } catch (const EVRXException& e) {                                           \
    EXPECT_EQ(e.Text(), text);                                                 \
    EXPECT_EQ(e.NativeError(), number);                                        \
  }

// A table of (Num INTEGER, Name STRING(30)) and one index over it.
class IndexFixture : public testing::Test {
 protected:
  explicit IndexFixture(int32_t pageSize = 256) : pages_(pageSize) {
    fields_.AddField("Num", TVRXAdvancedFieldType::Integer);
    fields_.AddField("Name", TVRXAdvancedFieldType::String, 30);
    fields_.ComputeOffsets();
  }

  TVRXBTreeRecordIndex& Make(const std::vector<std::string>& columns,
                             const std::vector<std::string>& directions, bool unique = false) {
    definition_.SetColumns(columns, directions, std::vector<std::string>(columns.size(), "CASE"));
    definition_.SetUnique(unique);
    index_ = std::make_unique<TVRXBTreeRecordIndex>(pages_, fields_, &table_);
    index_->CreateIndex(kSession, nullptr, definition_);
    return *index_;
  }

  TVRXRecordID Add(const std::vector<uint8_t>& record, TVRXRecordID id) {
    table_.rows[RecordTable::Key(id)] = record;
    index_->InsertKey({kSession, table_.rows[RecordTable::Key(id)], {}, id});
    return id;
  }

  std::vector<int64_t> Order() {
    std::vector<int64_t> seen;
    TVRXKeyPath path;
    if (!index_->Tree().First(kSession, path)) return seen;
    do seen.push_back(RecordTable::Key(index_->RecordIDAt(kSession, path)));
    while (index_->StepNext(kSession, path));
    return seen;
  }

  std::vector<uint8_t> Num(int32_t value) { return RecordBuilder(fields_).Int(0, value).Done(); }
  std::vector<uint8_t> NullNum() { return RecordBuilder(fields_).Null(0).Done(); }

  MapPages pages_;
  TVRXFieldDefs fields_;
  TVRXIndexDef definition_;
  RecordTable table_;
  std::unique_ptr<TVRXBTreeRecordIndex> index_;
};

TEST_F(IndexFixture, EmptyIndexHasNoPositionsNumbersOrRecords) {
  TVRXBTreeRecordIndex& index = Make({"Num"}, {"ASC"});
  TVRXKeyPath path;
  EXPECT_FALSE(index.Tree().First(kSession, path));
  EXPECT_FALSE(index.Tree().Last(kSession, path));
  EXPECT_EQ(index.GetRecordNumber(kSession, {1, 0}, Num(1)), -1);
  EXPECT_VRX_ERROR(index.GetRecordIDByNumber(kSession, 1),
                   "Cannot retreive record from empty index", 20074);
  TVRXIndexNavigation step;
  step.BeforeFirst = true;
  index.GetRecord(kSession, step, nullptr);
  EXPECT_EQ(step.Result, 2);
  step.Mode = grmCurrent;
  EXPECT_VRX_ERROR(index.GetRecord(kSession, step, nullptr),
                   "Invalid get record mode for index: grmCurrent", 20053);
  EXPECT_VRX_ERROR(index.StepNext(kSession, path), "Index error: invalid position", 20068);
  EXPECT_VRX_ERROR(index.StepPrior(kSession, path), "Index error: invalid position", 20069);
}

TEST_F(IndexFixture, EqualKeysOrderByRecordIDAndDeleteExactlyTheirOwnEntry) {
  Make({"Num"}, {"ASC"});
  // Page numbers compare signed, slots unsigned.
  for (TVRXRecordID id : {TVRXRecordID{5, 1}, TVRXRecordID{-3, 0}, TVRXRecordID{5, 0xFFFF},
                          TVRXRecordID{2, 7}})
    Add(Num(4), id);
  Add(Num(3), {9, 9});
  EXPECT_EQ(Order(), (std::vector<int64_t>{RecordTable::Key({9, 9}), RecordTable::Key({-3, 0}),
                                           RecordTable::Key({2, 7}), RecordTable::Key({5, 1}),
                                           RecordTable::Key({5, 0xFFFF})}));
  index_->DeleteKey({kSession, {}, Num(4), {5, 1}});
  EXPECT_EQ(Order().size(), 4u);
  EXPECT_EQ(index_->GetRecordNumber(kSession, {5, 0xFFFF}, Num(4)), 4);
  EXPECT_VRX_ERROR(index_->DeleteKey({kSession, {}, Num(4), {5, 1}}),
                   "Index error: cannot delete entry. Entry not found", 20027);
  EXPECT_VRX_ERROR(index_->UpdateKey({kSession, Num(8), Num(4), {5, 1}}),
                   "Index error: cannot delete entry. Entry not found", 20250);
}

TEST_F(IndexFixture, CutTextKeysTieUnlessBothRecordsAreAtHand) {
  TVRXBTreeRecordIndex& index = Make({"Name"}, {"ASC"});
  const std::string common = "abcdefghijklmnopqrst";  // the 20 bytes the key keeps
  const auto late = RecordBuilder(fields_).Text(1, common + "zz").Done();
  const auto early = RecordBuilder(fields_).Text(1, common + "aa").Done();
  // Inserted against the record order: the full values decide.
  Add(late, {1, 0});
  Add(early, {2, 0});
  EXPECT_EQ(Order(), (std::vector<int64_t>{RecordTable::Key({2, 0}), RecordTable::Key({1, 0})}));
  // Without the records, the keys alone tie.
  const std::vector<uint8_t> a = index.BuildKey(late);
  const std::vector<uint8_t> b = index.BuildKey(early);
  const TVRXKeyCompare c = index.KeyLayout().CompareKeys(a.data(), b.data());
  EXPECT_EQ(c.Order, 0);
  EXPECT_TRUE(c.CutTie);
  EXPECT_GT(index.CompareRecordKeys(late, early, 0), 0);
  // The key layout: NULL flag, 20 bytes, two zero bytes.
  ASSERT_EQ(a.size(), 23u);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(std::string(a.begin() + 1, a.begin() + 21), common);
  EXPECT_EQ(a[21], 0);
  EXPECT_EQ(a[22], 0);
}

TEST_F(IndexFixture, CutNeverSplitsACharacter) {
  TVRXBTreeRecordIndex& index = Make({"Name"}, {"ASC"});
  // 19 ASCII bytes, then a two-byte letter across the cut.
  const auto record = RecordBuilder(fields_).Text(1, std::string(19, 'x') + "čx").Done();
  const std::vector<uint8_t> key = index.BuildKey(record);
  EXPECT_EQ(std::string(key.begin() + 1, key.begin() + 20), std::string(19, 'x'));
  EXPECT_EQ(key[20], 0);
}

TEST_F(IndexFixture, DescendingPartReversesOnlyItselfAndPutsNullsLast) {
  Make({"Num", "Name"}, {"DESC", "ASC"});
  auto row = [&](bool nullNum, int32_t num, const char* name) {
    RecordBuilder b(fields_);
    if (nullNum) b.Null(0); else b.Int(0, num);
    return b.Text(1, name).Done();
  };
  Add(row(false, 1, "b"), {1, 0});
  Add(row(true, 0, "a"), {2, 0});
  Add(row(false, 2, "a"), {3, 0});
  Add(row(false, 1, "a"), {4, 0});
  EXPECT_EQ(Order(), (std::vector<int64_t>{RecordTable::Key({3, 0}), RecordTable::Key({4, 0}),
                                           RecordTable::Key({1, 0}), RecordTable::Key({2, 0})}));
}

TEST_F(IndexFixture, RootPageSurvivesSplitsAndShrinking) {
  TVRXBTreeRecordIndex& index = Make({"Num"}, {"ASC"});
  const int32_t root = index.RootPage();
  for (int32_t i = 0; i < 2000; ++i) Add(Num(i * 7 % 2000), {i, 0});
  EXPECT_GE(index.Tree().Depth(kSession), 3);
  EXPECT_EQ(index.RootPage(), root);
  for (int32_t i = 0; i < 2000; ++i) index.DeleteKey({kSession, {}, Num(i * 7 % 2000), {i, 0}});
  EXPECT_EQ(index.Tree().Depth(kSession), 1);
  EXPECT_EQ(index.RootPage(), root);
  pages_.ApplyChanges(kSession);
  EXPECT_EQ(pages_.UsedPages(), std::set<int32_t>{root});
  EXPECT_TRUE(TVRXBTreeChecker::Check(index.Tree(), kSession).Ok());
}

TEST_F(IndexFixture, RangeEstimatesStayWithinZeroAndTheTotal) {
  TVRXBTreeRecordIndex& index = Make({"Num"}, {"ASC"});
  for (int32_t i = 0; i < 1000; ++i) Add(Num(i), {i, 0});
  auto bound = [&](TVRXConditionKind kind, int32_t value) {
    return TVRXIndexCondition{kind, index.BuildKey(Num(value)), 0};
  };
  struct Case {
    TVRXConditionKind lowKind;
    int32_t low;
    TVRXConditionKind highKind;
    int32_t high;
    int64_t atLeast, atMost;
  };
  using K = TVRXConditionKind;
  for (const Case& c : {Case{K::GreaterOrEqual, 100, K::Less, 300, 150, 250},
                        Case{K::GreaterOrEqual, 600, K::LessOrEqual, 200, 0, 0},   // crossed
                        Case{K::Greater, 5000, K::Less, 6000, 0, 0},               // beyond
                        Case{K::GreaterOrEqual, -5, K::LessOrEqual, 5000, 900, 1000}}) {
    // Either argument order: the direction picks the lower bound.
    const int64_t a = index.EstimateRangeCount(kSession, bound(c.lowKind, c.low),
                                               bound(c.highKind, c.high), 1000);
    const int64_t b = index.EstimateRangeCount(kSession, bound(c.highKind, c.high),
                                               bound(c.lowKind, c.low), 1000);
    EXPECT_EQ(a, b);
    EXPECT_GE(a, c.atLeast) << c.low << ".." << c.high;
    EXPECT_LE(a, c.atMost) << c.low << ".." << c.high;
  }
  EXPECT_LE(index.EstimateRangeCount(kSession, bound(K::GreaterOrEqual, 0),
                                     bound(K::LessOrEqual, 999), 10),
            10);
}

class Bitmap final : public TVRXIndexRecordSet {
 public:
  bool Contains(const TVRXRecordID& id) const override { return ids.count(RecordTable::Key(id)); }
  void Remove(const TVRXRecordID& id) override { ids.erase(RecordTable::Key(id)); }
  std::set<int64_t> ids;
};

TEST_F(IndexFixture, DistinctKeepsTheFirstRecordOfEachKey) {
  TVRXBTreeRecordIndex& index = Make({"Num"}, {"ASC"});
  Bitmap bitmap;
  int32_t page = 0;
  for (int32_t key : {1, 1, 2, 2, 2, 3}) {
    Add(Num(key), {page, 0});
    bitmap.ids.insert(RecordTable::Key({page++, 0}));
  }
  index.ApplyDistinct(kSession, bitmap);
  EXPECT_EQ(bitmap.ids, (std::set<int64_t>{RecordTable::Key({0, 0}), RecordTable::Key({2, 0}),
                                           RecordTable::Key({5, 0})}));
}

TEST_F(IndexFixture, UniqueChecksLookAtTheFullKey) {
  TVRXBTreeRecordIndex& index = Make({"Name"}, {"ASC"}, true);
  const std::string common = "abcdefghijklmnopqrst";
  const auto stored = RecordBuilder(fields_).Text(1, common + "1").Done();
  Add(stored, {1, 0});
  EXPECT_FALSE(index.CheckUnique(kSession, stored));
  EXPECT_TRUE(index.CheckUnique(kSession, RecordBuilder(fields_).Text(1, common + "2").Done()));
  EXPECT_TRUE(index.CheckUniqueOnUpdate(kSession, stored, stored));
  EXPECT_FALSE(index.CheckUniqueOnUpdate(kSession, RecordBuilder(fields_).Text(1, "x").Done(),
                                         stored));
}

TEST_F(IndexFixture, ScanStateMisuseAndMissingIndexAreReported) {
  TVRXBTreeRecordIndex& index = Make({"Num"}, {"ASC"});
  Add(Num(1), {1, 0});
  TVRXRecordID id;
  EXPECT_VRX_ERROR(index.ScanNext(kSession, false, nullptr, id, {}, nullptr, nullptr, true),
                   "Pointer is nil", 20077);
  auto state = index.CreateScanState();
  EXPECT_TRUE(index.ScanNext(kSession, false, state.get(), id, {}, nullptr, nullptr, true));
  EXPECT_VRX_ERROR(index.ScanNext(kSession, true, state.get(), id, {}, nullptr, nullptr, true),
                   "Index error: invalid params", 20078);
  EXPECT_VRX_ERROR(index.ComparePositions(nullptr, state->Current.get()), "Nil pointer occured",
                   10384);
  index.DropIndex(kSession);
  EXPECT_VRX_ERROR(index.DropIndex(kSession), "Invalid page number", 20119);
  EXPECT_VRX_ERROR(index.EmptyIndex(kSession), "Invalid page number", 20120);
  TVRXIndexDef missing;
  missing.SetColumns({"Nope"}, {"ASC"}, {"CASE"});
  EXPECT_VRX_ERROR(index.OpenIndex(missing), "Cannot find index field 'Nope'", 20043);
}

TEST(KeyPathTest, PathsOfDifferentShapesDoNotCompare) {
  TVRXKeyPath a;
  TVRXKeyPath b;
  a.Depth = 2;
  a.Levels[0] = {7, 1, 3};
  a.Levels[1] = {9, 0, 4};
  b.CopyFrom(a);
  b.Levels[1].EntryIndex = 2;
  EXPECT_EQ(CompareKeyPaths(a, b), -1);
  EXPECT_NEAR(b.RelativePosition(), 1.0 / 3 + 2.0 / 12, 1e-12);
  b.Levels[1].PageNo = 10;
  EXPECT_VRX_ERROR(CompareKeyPaths(a, b), "Invalid index key path", 20052);
  b.Depth = 1;
  EXPECT_VRX_ERROR(CompareKeyPaths(a, b), "Invalid index key path", 20051);
}

// --- page directories ------------------------------------------------------

TEST(PageIndexTest, AmountsComeAndGoWithTheirPages) {
  MapPages pages(128);
  TVRXBTreeRecordPageIndex index(pages, -1, 3);
  EXPECT_VRX_ERROR(index.AddAmount(kSession, 1, 1), "Invalid page number", 20121);
  const int32_t root = index.CreateIndex(kSession);
  // Enough pages for a few levels at this page size.
  for (int32_t page = 1000; page > 0; page -= 3) index.AddAmount(kSession, page, 1);
  EXPECT_TRUE(TVRXBTreeChecker::Check(index.Tree(), kSession).Ok());
  EXPECT_GE(index.Tree().Depth(kSession), 3);
  EXPECT_EQ(index.FirstPage(kSession), 1);
  EXPECT_EQ(index.LastPage(kSession), 1000);
  EXPECT_EQ(index.NextPage(kSession, 1), 4);
  EXPECT_EQ(index.PriorPage(kSession, 4), 1);
  EXPECT_EQ(index.NextPage(kSession, 1000), -1);
  EXPECT_VRX_ERROR(index.NextPage(kSession, 2), "Invalid page number", 20104);
  EXPECT_VRX_ERROR(index.PriorPage(kSession, 2), "Invalid page number", 20105);

  index.AddAmount(kSession, 4, 2);
  EXPECT_EQ(index.Amount(kSession, 4), 3);
  EXPECT_VRX_ERROR(index.AddAmount(kSession, 4, 1), "Cannot add data item to page. Page is full",
                   20106);
  int64_t before = 0;
  ASSERT_TRUE(index.AmountBefore(kSession, 7, before));
  EXPECT_EQ(before, 4);
  int32_t holder = 0;
  ASSERT_TRUE(index.PageOfOrdinal(kSession, 3, holder, before));
  EXPECT_EQ(holder, 4);
  EXPECT_EQ(before, 1);

  index.SubtractAmount(kSession, 4, 3);
  EXPECT_EQ(index.Amount(kSession, 4), -1);
  EXPECT_VRX_ERROR(index.SubtractAmount(kSession, 4, 1), "Invalid page number", 20110);

  // Everything out: only the root stays.
  for (int32_t page = 1000; page > 0; page -= 3)
    if (page != 4) index.SubtractAmount(kSession, page, 1);
  EXPECT_EQ(index.PageCount(kSession), 0);
  pages.ApplyChanges(kSession);
  EXPECT_EQ(pages.UsedPages(), std::set<int32_t>{root});
  index.DropIndex(kSession);
  pages.ApplyChanges(kSession);
  EXPECT_TRUE(pages.UsedPages().empty());
}

TEST(PageIndexTest, RoomIsSoughtInTheLastLeafThenTheFirst) {
  MapPages pages(128);
  TVRXBTreeRecordPageIndex index(pages, -1, 2);
  index.CreateIndex(kSession);
  EXPECT_EQ(index.FindPageWithRoom(kSession, 1), -1);
  for (int32_t page = 1; page <= 200; ++page) index.AddAmount(kSession, page, 2);
  EXPECT_EQ(index.FindPageWithRoom(kSession, 1), -1);
  index.SubtractAmount(kSession, 100, 1);
  EXPECT_EQ(index.FindPageWithRoom(kSession, 1), -1) << "a middle leaf is not searched";
  index.SubtractAmount(kSession, 3, 1);
  EXPECT_EQ(index.FindPageWithRoom(kSession, 1), 3);
  index.SubtractAmount(kSession, 199, 1);
  EXPECT_EQ(index.FindPageWithRoom(kSession, 1), 199);

  TVRXBTreeBlobPageIndex blobs(pages);
  blobs.CreateIndex(kSession);
  blobs.AddAmount(kSession, 5, pages.DataSize() - 10);
  EXPECT_EQ(blobs.FindPageWithRoom(kSession, 7), 5);
  EXPECT_EQ(blobs.FindPageWithRoom(kSession, 8), -1);
}

}  // namespace
}  // namespace vrx::test
