// The index manager of a table driving B-tree index objects: building from
// the table's records, keeping every index in step with record changes,
// duplicate detection on cut keys, emptying and dropping.
#include <gtest/gtest.h>

#include <set>

#include "engine/storage/btree/VRXBTreeChecker.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/metadata/VRXIndexManager.h"
#include "tests/engine/storage/btree/BTreeTestSupport.h"
#include "tests/engine/storage/metadata/MetadataTestSupport.h"
#include "tests/support/LocaleForTest.h"

namespace vrx::test {
namespace {

constexpr int32_t kSession = 1;

TEST(BTreeIndexManagerTest, IndexesFollowTheRecordsFromBuildToDrop) {
  MapPages pages(256);
  TVRXFieldDefs fields;
  fields.AddField("Num", TVRXAdvancedFieldType::Integer);
  fields.AddField("Name", TVRXAdvancedFieldType::String, 30);
  fields.ComputeOffsets();
  RecordTable table;
  FakeTable metaTable;
  TVRXBTreeIndexFactory factory(pages, pages, fields, &table);
  TVRXBaseIndexManager manager(metaTable, fields, &factory);

  const std::string common = "abcdefghijklmnopqrst";
  for (int32_t i = 0; i < 300; ++i)
    table.rows[RecordTable::Key({i, 0})] =
        RecordBuilder(fields).Int(0, i % 17).Text(1, common + std::to_string(i)).Done();

  TVRXIndexDef byName;
  byName.SetColumns({"Name"}, {"ASC"}, {"CASE"});
  byName.SetUnique(true);
  const int32_t nameID = manager.AddIndex(kSession, byName).ID();
  TVRXIndexDef byNum;
  byNum.SetColumns({"Num"}, {"DESC"}, {"CASE"});
  const int32_t numID = manager.AddIndex(kSession, byNum).ID();

  auto tree = [&](int32_t id) -> TVRXBTree& {
    return static_cast<TVRXBTreeIndexObject&>(manager.GetIndex(id)).Index().Tree();
  };
  for (int32_t id : {nameID, numID}) {
    const auto check = TVRXBTreeChecker::Check(tree(id), kSession);
    EXPECT_TRUE(check.Ok());
    EXPECT_EQ(check.Entries, 300);
    EXPECT_EQ(manager.FindIndexDef(id)->RootPage(), tree(id).RootPage());
  }

  // Names agreeing in the kept 20 bytes are duplicates only when equal.
  const auto same = RecordBuilder(fields).Int(0, 1).Text(1, common + "7").Done();
  const auto other = RecordBuilder(fields).Int(0, 1).Text(1, common + "x").Done();
  EXPECT_TRUE(manager.IsDuplicateKey(kSession, nameID, same, true, {}));
  EXPECT_FALSE(manager.IsDuplicateKey(kSession, nameID, other, true, {}));

  // Changes of one record reach every index.
  const TVRXRecordID id{400, 0};
  table.rows[RecordTable::Key(id)] = other;
  manager.InsertKeys(kSession, other, id);
  const auto changed = RecordBuilder(fields).Int(0, 99).Text(1, "changed").Done();
  manager.UpdateKeys(kSession, other, changed, id);
  table.rows[RecordTable::Key(id)] = changed;
  EXPECT_FALSE(manager.IsDuplicateKey(kSession, nameID, other, true, {}));
  EXPECT_TRUE(manager.IsDuplicateKey(kSession, nameID, changed, true, {}));
  manager.DeleteKeys(kSession, changed, id);
  table.rows.erase(RecordTable::Key(id));
  for (int32_t index : {nameID, numID})
    EXPECT_EQ(TVRXBTreeChecker::Check(tree(index), kSession).Entries, 300);

  manager.EmptyIndexes(kSession);
  EXPECT_EQ(TVRXBTreeChecker::Check(tree(numID), kSession).Entries, 0);
  manager.DeleteIndex(kSession, nameID);
  manager.DeleteIndex(kSession, numID);
  pages.ApplyChanges(kSession);
  EXPECT_TRUE(pages.UsedPages().empty());
}

}  // namespace
}  // namespace vrx::test
