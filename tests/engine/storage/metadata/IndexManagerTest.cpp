// The index manager: finding an index for a sort (directions, cases,
// other sessions' temporary indexes), temporary indexes, adding and
// dropping indexes, keeping every index in step with record changes, and
// the clear error of a manager without index storage.
#include <gtest/gtest.h>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXIndexManager.h"
#include "tests/engine/storage/metadata/MetadataTestSupport.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using test::Bytes;
using Strings = std::vector<std::string>;

std::unique_ptr<TVRXIndexDef> Index(std::string_view name, const Strings& fields,
                                    const Strings& directions, const Strings& cases) {
  auto index = std::make_unique<TVRXIndexDef>();
  index->SetName(name);
  index->SetColumns(fields, directions, cases);
  return index;
}

// Fields A (STRING), B (INTEGER), C (INTEGER); an index manager with an
// index factory whose indexes key field B.
class IndexManagerTest : public testing::Test {
 protected:
  IndexManagerTest() {
    fields_.AddField("A", TVRXAdvancedFieldType::String, 10);
    fields_.AddField("B", TVRXAdvancedFieldType::Integer);
    fields_.AddField("C", TVRXAdvancedFieldType::Integer);
    fields_.ComputeOffsets();
    factory_.keyOffset = fields_.Field(1).MemoryOffset();
  }
  void SetIndexes(std::vector<std::unique_ptr<TVRXIndexDef>> indexes) {
    TVRXIndexDefs list;
    for (auto& index : indexes) list.Add(std::move(index));
    manager_.SetIndexDefs(list);
  }
  Bytes Record(int32_t b) {
    Bytes record = test::NullRecord(fields_);
    test::SetInteger(record, fields_, 1, b);
    return record;
  }

  test::FakeTable table_;
  TVRXFieldDefs fields_;
  test::FakeIndexFactory factory_;
  TVRXBaseIndexManager manager_{table_, fields_, &factory_};
};

TEST_F(IndexManagerTest, FindIndexForFields) {
  struct Case {
    const char* what;
    Strings columns, columnDirections, columnCases;
    Strings fields, directions, cases;
    bool found;
  } cases[] = {
      // clang-format off
      {"A asc, B desc, C fits (A ASC, B DESC)", {"A", "B", "C"}, {"", "DESC", ""}, {"", "", ""},
       {"A", "B"}, {"ASC", "DESC"}, {"", ""}, true},
      {"A, B ascending does not", {"A", "B"}, {"", ""}, {"", ""},
       {"A", "B"}, {"ASC", "DESC"}, {"", ""}, false},
      {"other direction texts take either", {"A", "B"}, {"DESC", ""}, {"", ""},
       {"a", "b"}, {"", "asc"}, {"", ""}, true},
      {"too few columns", {"A"}, {""}, {""}, {"A", "B"}, {"", ""}, {"", ""}, false},
      {"leading columns only", {"B", "A"}, {"", ""}, {"", ""}, {"A"}, {""}, {""}, false},
      {"CASE on text needs a case-sensitive column", {"A"}, {""}, {"NO_CASE"},
       {"A"}, {""}, {"CASE"}, false},
      {"CASE on a number takes either", {"B"}, {""}, {"NO_CASE"}, {"B"}, {""}, {"CASE"}, true},
      {"NO_CASE needs a case-insensitive column", {"B"}, {""}, {""},
       {"B"}, {""}, {"NO_CASE"}, false},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::unique_ptr<TVRXIndexDef>> list;
    list.push_back(Index("IX", c.columns, c.columnDirections, c.columnCases));
    SetIndexes(std::move(list));
    const int32_t id = manager_.FindIndexForFields(1, c.fields, c.directions, c.cases);
    EXPECT_EQ(id, c.found ? manager_.IndexDefs().Index(0).ID() : -1);
  }
  EXPECT_EQ(MessageOf([&] {
              manager_.FindIndexForFields(1, {"A", "B"}, {""}, {"", ""});
            }),
            "Error - different lists length. L1 = 2, L2 = 1 - Native error: 10276");
  EXPECT_EQ(MessageOf([&] { manager_.FindIndexForFields(1, {"A"}, {""}, {}); }),
            "Error - different lists length. L1 = 1, L2 = 0 - Native error: 10277");
}

TEST_F(IndexManagerTest, TemporaryIndexesBelongToTheirSession) {
  table_.changeCounter = 7;
  const TVRXIndexDef& temporary = manager_.CreateTemporaryIndex(3, {"C"}, {"DESC"}, {""});
  EXPECT_EQ(temporary.Name().rfind("TEMPORARY_INDEX_", 0), 0u);
  EXPECT_LT(std::stoi(temporary.Name().substr(16)), 1000000);
  EXPECT_TRUE(temporary.Temporary());
  EXPECT_EQ(temporary.OwnerSessionID(), 3);
  EXPECT_EQ(temporary.ChangeCounter(), 7);
  EXPECT_EQ(temporary.RootPage(), 50);  // built at once
  const int32_t id = temporary.ID();

  EXPECT_EQ(manager_.FindIndexForFields(3, {"C"}, {"DESC"}, {""}), id);
  EXPECT_EQ(manager_.FindIndexForFields(4, {"C"}, {"DESC"}, {""}), -1);

  // Never stored: the list beside a stored index writes a count of 1.
  TVRXIndexDef stored;
  stored.SetName("IX");
  manager_.AddIndex(1, stored);
  TVRXMemoryStream stream;
  manager_.SaveToStream(stream);
  const Bytes bytes = test::StreamBytes(stream);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{1, 0, 0, 0}));
}

TEST_F(IndexManagerTest, OutdatedTemporaryIndexesAreRebuilt) {
  const int32_t first = manager_.CreateTemporaryIndex(1, {"B"}, {""}, {""}).ID();
  table_.changeCounter = 1;
  const int32_t second = manager_.CreateTemporaryIndex(2, {"C"}, {""}, {""}).ID();
  factory_.log.clear();
  manager_.RebuildOutdatedTemporaryIndexes(1);
  EXPECT_EQ(factory_.log, Strings{"build " + manager_.FindIndexDef(first)->Name()});
  EXPECT_EQ(manager_.FindIndexDef(first)->ChangeCounter(), 1);
  EXPECT_EQ(manager_.FindIndexDef(second)->ChangeCounter(), 1);
}

TEST_F(IndexManagerTest, AddingAnIndexThatFailsToBuildLeavesTheList) {
  TVRXIndexDef index;
  index.SetName("IX");
  index.SetUnique(true);
  const TVRXIndexDef& added = manager_.AddIndex(1, index);
  EXPECT_EQ(added.ID(), 100);
  EXPECT_EQ(added.RootPage(), 50);
  EXPECT_EQ(index.ID(), -1);  // the caller's definition is not touched

  factory_.failingName = "BAD";
  index.SetName("BAD");
  EXPECT_EQ(MessageOf([&] { manager_.AddIndex(1, index); }), "build failed - Native error: 00001");
  ASSERT_EQ(manager_.IndexDefs().Count(), 1);
  EXPECT_EQ(manager_.IndexDefs().Index(0).Name(), "IX");
}

TEST_F(IndexManagerTest, KeyChangesReachEveryIndex) {
  std::vector<std::unique_ptr<TVRXIndexDef>> list;
  list.push_back(Index("I1", {"B"}, {""}, {""}));
  list.push_back(Index("I2", {"B", "C"}, {"", ""}, {"", ""}));
  SetIndexes(std::move(list));
  const int32_t i1 = manager_.IndexDefs().Index(0).ID();
  const Bytes one = Record(1);
  const Bytes two = Record(2);
  manager_.InsertKeys(1, one, {5, 0});
  manager_.UpdateKeys(1, one, two, {5, 0});
  EXPECT_EQ(factory_.log, (Strings{"open I1", "insert I1", "open I2", "insert I2", "delete I1",
                                   "insert I1", "delete I2", "insert I2"}));
  EXPECT_EQ(manager_.IndexDefs().Index(1).ChangeCounter(), 2);
  EXPECT_EQ(manager_.IndexDefs().Index(0).RootPage(), 1);  // taken over after each change

  EXPECT_TRUE(manager_.IsDuplicateKey(1, i1, two, true, {}));
  EXPECT_FALSE(manager_.IsDuplicateKey(1, i1, one, true, {}));
  EXPECT_FALSE(manager_.IsDuplicateKey(1, i1, two, false, two));  // its own key

  manager_.DeleteKeys(1, two, {5, 0});
  EXPECT_FALSE(manager_.IsDuplicateKey(1, i1, two, true, {}));
  EXPECT_EQ(manager_.IndexDefs().Index(0).ChangeCounter(), 3);

  factory_.log.clear();
  manager_.EmptyIndexes(1);
  manager_.DeleteIndex(1, i1);
  EXPECT_EQ(factory_.log, (Strings{"empty I1", "empty I2", "drop I1"}));
  EXPECT_EQ(manager_.IndexDefs().Count(), 1);
  EXPECT_EQ(MessageOf([&] { manager_.DeleteIndex(1, i1); }),
            "Index not found - Native error: 20018");
  EXPECT_EQ(MessageOf([&] { manager_.GetIndex(999); }), "Index not found - Native error: 20018");
  EXPECT_FALSE(manager_.Busy());
}

TEST_F(IndexManagerTest, WithoutIndexStorageEveryIndexOperationFails) {
  TVRXBaseIndexManager manager(table_, fields_, nullptr);
  const Bytes record = Record(1);
  manager.InsertKeys(1, record, {1, 0});  // no index: nothing to do

  TVRXIndexDefs list;
  list.Add(Index("IX", {"B"}, {""}, {""}));
  manager.SetIndexDefs(list);
  const std::string error =
      "Index 'IX' cannot be opened: no index storage is attached to the table - Native error: "
      "10262";
  EXPECT_EQ(MessageOf([&] { manager.InsertKeys(1, record, {1, 0}); }), error);
  EXPECT_EQ(MessageOf([&] { manager.EmptyIndexes(1); }), error);
  EXPECT_EQ(MessageOf([&] {
              manager.IsDuplicateKey(1, manager.IndexDefs().Index(0).ID(), record, true, {});
            }),
            error);
  TVRXIndexDef added;
  added.SetName("IX2");
  EXPECT_THROW(manager.AddIndex(1, added), EVRXException);
  EXPECT_EQ(manager.IndexDefs().Count(), 1);
  EXPECT_FALSE(manager.Busy());
}

TEST_F(IndexManagerTest, RenameFieldInEveryColumn) {
  std::vector<std::unique_ptr<TVRXIndexDef>> list;
  list.push_back(Index("I1", {"BODY", "C"}, {"", ""}, {"", ""}));
  list.push_back(Index("I2", {"body"}, {""}, {""}));
  SetIndexes(std::move(list));
  manager_.RenameField("Body", "Skore");
  EXPECT_EQ(manager_.IndexDefs().Index(0).Columns()[0].FieldName, "Skore");
  EXPECT_EQ(manager_.IndexDefs().Index(0).Columns()[1].FieldName, "C");
  EXPECT_EQ(manager_.IndexDefs().Index(1).Columns()[0].FieldName, "Skore");
}

}  // namespace
}  // namespace vrx
