// The record index against an ordered model: random inserts, deletes and
// lookups on small pages (trees four and more levels deep), with duplicate
// keys, NULLs, descending and case-insensitive columns and cut text keys.
// After every batch the checker must accept the tree, and stepping both
// ways, record numbers, position numbers and condition scans must agree
// with the model. Runs in English and in Czech.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "engine/storage/btree/VRXBTreeChecker.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "tests/engine/storage/btree/BTreeTestSupport.h"
#include "tests/support/LocaleForTest.h"

namespace vrx::test {
namespace {

constexpr int32_t kSession = 1;
constexpr int kNum = 0;
constexpr int kName = 1;
constexpr int kShort = 2;

struct Column {
  const char* field;
  bool descending;
  bool caseInsensitive;
};

struct Variant {
  const char* name;
  std::vector<Column> columns;
  int operations;
};

class ModelTest : public testing::TestWithParam<Variant> {
 protected:
  ModelTest() : pages_(256) {
    fields_.AddField("Num", TVRXAdvancedFieldType::Integer);
    fields_.AddField("Name", TVRXAdvancedFieldType::String, 30);
    fields_.AddField("Short", TVRXAdvancedFieldType::String, 8);
    fields_.ComputeOffsets();
    std::vector<std::string> names, directions, cases;
    for (const Column& c : GetParam().columns) {
      names.push_back(c.field);
      directions.push_back(c.descending ? "DESC" : "ASC");
      cases.push_back(c.caseInsensitive ? "NO_CASE" : "CASE");
    }
    definition_.SetColumns(names, directions, cases);
    index_ = std::make_unique<TVRXBTreeRecordIndex>(pages_, fields_, &table_);
    index_->CreateIndex(kSession, nullptr, definition_);
    pages_.ApplyChanges(kSession);
  }

  std::vector<uint8_t> RandomRecord() {
    static const char* prefixes[] = {"Tournament-of-Prague", "Tournament-of-Brno--", "Zebra"};
    static const char* shorts[] = {"ch", "Ch", "h", "H", "c", "č", "Č", "d", "abc", "ABC"};
    RecordBuilder b(fields_);
    if (random_() % 10 == 0)
      b.Null(kNum);
    else
      b.Int(kNum, static_cast<int32_t>(random_() % 60) - 30);
    if (random_() % 12 == 0)
      b.Null(kName);
    else
      b.Text(kName, std::string(prefixes[random_() % 3]) + std::to_string(random_() % 40));
    if (random_() % 15 == 0)
      b.Null(kShort);
    else
      b.Text(kShort, shorts[random_() % 10]);
    return b.Done();
  }

  // Full-key order, then record ID: the order the tree must keep.
  struct Less {
    const ModelTest* test;
    bool operator()(int64_t a, int64_t b) const {
      const int order = test->index_->KeyLayout().CompareRecords(test->table_.rows.at(a),
                                                                  test->table_.rows.at(b));
      if (order != 0) return order < 0;
      return CompareRecordIDs(RecordTable::FromKey(a), RecordTable::FromKey(b)) < 0;
    }
  };

  void Insert() {
    const TVRXRecordID id{static_cast<int32_t>(nextPage_), static_cast<uint16_t>(random_() % 4)};
    ++nextPage_;
    const int64_t key = RecordTable::Key(id);
    table_.rows[key] = RandomRecord();
    index_->InsertKey({kSession, table_.rows[key], {}, id});
    model_.insert(key);
  }

  void Delete() {
    auto it = model_.begin();
    std::advance(it, static_cast<long>(random_() % model_.size()));
    const int64_t key = *it;
    model_.erase(it);
    index_->DeleteKey({kSession, {}, table_.rows[key], RecordTable::FromKey(key)});
    table_.rows.erase(key);
  }

  void Lookup() {
    auto it = model_.begin();
    std::advance(it, static_cast<long>(random_() % model_.size()));
    TVRXKeyPath path;
    ASSERT_TRUE(index_->FindRecordPosition(kSession, RecordTable::FromKey(*it), path,
                                           table_.rows[*it]));
    EXPECT_EQ(RecordTable::Key(index_->RecordIDAt(kSession, path)), *it);
  }

  std::vector<int64_t> ModelOrder() const { return {model_.begin(), model_.end()}; }

  void CheckAgainstModel() {
    const TVRXBTreeChecker::TResult check = TVRXBTreeChecker::Check(index_->Tree(), kSession);
    ASSERT_TRUE(check.Ok()) << check.Problems.front();
    ASSERT_EQ(check.Entries, static_cast<int64_t>(model_.size()));
    const std::vector<int64_t> order = ModelOrder();

    // Stepping forward and back with a position cache.
    TVRXIndexPositionCache cache;
    TVRXIndexNavigation step;
    step.BeforeFirst = true;
    std::vector<int64_t> seen;
    for (;;) {
      index_->GetRecord(kSession, step, &cache);
      if (step.Result != 0) break;
      seen.push_back(RecordTable::Key(step.RecordID));
      step.BeforeFirst = false;
    }
    ASSERT_EQ(seen, order);
    EXPECT_EQ(step.Result, 2);
    seen.clear();
    step = TVRXIndexNavigation{};
    step.Mode = grmPrior;
    step.AfterLast = true;
    for (;;) {
      index_->GetRecord(kSession, step, &cache);
      if (step.Result != 0) break;
      seen.push_back(RecordTable::Key(step.RecordID));
      step.AfterLast = false;
    }
    std::reverse(seen.begin(), seen.end());
    ASSERT_EQ(seen, order);
    if (order.empty()) return;

    // Record numbers and position numbers of a few entries.
    for (int i = 0; i < 5; ++i) {
      const size_t at = random_() % order.size();
      const TVRXRecordID id = RecordTable::FromKey(order[at]);
      EXPECT_EQ(index_->GetRecordNumber(kSession, id, table_.rows[order[at]]),
                static_cast<int64_t>(at) + 1);
      EXPECT_EQ(index_->GetRecordIDByNumber(kSession, static_cast<int64_t>(at) + 1), id);
      TVRXKeyPath path;
      ASSERT_TRUE(index_->FindRecordPosition(kSession, id, path, table_.rows[order[at]]));
      TVRXKeyPath back;
      index_->PathFromPositionNumber(kSession, index_->PositionNumber(path), back);
      TVRXRecordID found;
      ASSERT_TRUE(index_->ReadEntryAtPath(kSession, back, found));
      EXPECT_EQ(found, id);
    }

    // Condition scans: a lower and an upper bound on leading fields.
    for (int i = 0; i < 3; ++i) {
      const auto lowKinds = {TVRXConditionKind::Greater, TVRXConditionKind::GreaterOrEqual,
                             TVRXConditionKind::Equal};
      const auto highKinds = {TVRXConditionKind::Less, TVRXConditionKind::LessOrEqual,
                              TVRXConditionKind::Equal};
      const int32_t parts = 1 + static_cast<int32_t>(random_() % definition_.ColumnCount());
      TVRXIndexCondition low{*(lowKinds.begin() + random_() % 3),
                             index_->BuildKey(table_.rows[order[random_() % order.size()]]),
                             parts};
      TVRXIndexCondition high{*(highKinds.begin() + random_() % 3),
                              index_->BuildKey(table_.rows[order[random_() % order.size()]]),
                              parts};
      const bool forward = random_() % 2 == 0;
      const std::vector<int64_t> expected = ExpectedScan(order, low, high, forward);
      std::vector<int64_t> scanned;
      auto state = index_->CreateScanState();
      TVRXRecordID id;
      const TVRXIndexCondition* start = forward ? &low : &high;
      const TVRXIndexCondition* end = forward ? &high : &low;
      while (index_->ScanNext(kSession, false, state.get(), id, {}, start, end, forward))
        scanned.push_back(RecordTable::Key(id));
      index_->FreeScanState(state);
      ASSERT_EQ(scanned, expected) << "kinds " << static_cast<int>(low.Kind) << "/"
                                   << static_cast<int>(high.Kind) << " parts " << parts;
    }
  }

  bool Satisfies(int64_t row, const TVRXIndexCondition& c) {
    TVRXBTreeKeyRef& keys = const_cast<TVRXRecordKeyRef&>(index_->KeyLayout());
    TVRXPartsInUseScope scope(keys, c.KeyFieldCount);
    const std::vector<uint8_t> key = index_->BuildKey(table_.rows[row]);
    const int order = keys.CompareKeys(key.data(), c.Key.data()).Order;
    switch (c.Kind) {
      case TVRXConditionKind::Equal: return order == 0;
      case TVRXConditionKind::Less: return order < 0;
      case TVRXConditionKind::Greater: return order > 0;
      case TVRXConditionKind::LessOrEqual: return order <= 0;
      case TVRXConditionKind::GreaterOrEqual: return order >= 0;
      default: return true;
    }
  }

  // The entries from the start condition's first (last, backwards)
  // satisfying entry up to the end condition's last (first) one.
  std::vector<int64_t> ExpectedScan(const std::vector<int64_t>& order,
                                    const TVRXIndexCondition& low,
                                    const TVRXIndexCondition& high, bool forward) {
    const int64_t n = static_cast<int64_t>(order.size());
    int64_t firstLow = -1, lastHigh = -1;
    for (int64_t i = 0; i < n; ++i) {
      if (firstLow < 0 && Satisfies(order[static_cast<size_t>(i)], low)) firstLow = i;
      if (Satisfies(order[static_cast<size_t>(i)], high)) lastHigh = i;
    }
    std::vector<int64_t> result;
    if (forward) {
      if (firstLow < 0 || lastHigh < 0) return result;
      for (int64_t i = firstLow; i <= lastHigh; ++i) result.push_back(order[static_cast<size_t>(i)]);
    } else {
      if (lastHigh < 0 || firstLow < 0) return result;
      for (int64_t i = lastHigh; i >= firstLow; --i) result.push_back(order[static_cast<size_t>(i)]);
    }
    return result;
  }

  MapPages pages_;
  TVRXFieldDefs fields_;
  TVRXIndexDef definition_;
  RecordTable table_;
  std::unique_ptr<TVRXBTreeRecordIndex> index_;
  std::multiset<int64_t, Less> model_{Less{this}};
  std::mt19937 random_{20261211};
  int64_t nextPage_ = 0;
};

TEST_P(ModelTest, RandomChangesKeepTheTreeInStepWithTheModel) {
  const int total = GetParam().operations;
  const int32_t root = index_->RootPage();
  const int batch = 5000;
  int32_t deepest = 0;
  for (int done = 0; done < total; done += batch) {
    // Grow in the first half, shrink in the second.
    const int insertShare = done < total / 2 ? 60 : 35;
    for (int i = 0; i < batch; ++i) {
      const int dice = static_cast<int>(random_() % 100);
      if (model_.empty() || dice < insertShare)
        Insert();
      else if (dice < insertShare + 30)
        Delete();
      else
        Lookup();
    }
    pages_.ApplyChanges(kSession);
    deepest = std::max(deepest, index_->Tree().Depth(kSession));
    CheckAgainstModel();
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(deepest, 4);
  // Deleting everything gives every page but the root back.
  while (!model_.empty()) Delete();
  pages_.ApplyChanges(kSession);
  CheckAgainstModel();
  EXPECT_EQ(pages_.UsedPages(), std::set<int32_t>{index_->RootPage()});
  EXPECT_EQ(index_->RootPage(), root) << "the root page never moves";
}

INSTANTIATE_TEST_SUITE_P(
    Indexes, ModelTest,
    testing::Values(Variant{"Number", {{"Num", false, false}}, 40000},
                    Variant{"NumberDescShortNoCase", {{"Num", true, false}, {"Short", false, true}},
                            40000},
                    Variant{"CutNameThenNumber", {{"Name", false, false}, {"Num", false, false}},
                            40000},
                    Variant{"ShortDescNoCaseThenName",
                            {{"Short", true, true}, {"Name", false, false}}, 40000}),
    [](const testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vrx::test
