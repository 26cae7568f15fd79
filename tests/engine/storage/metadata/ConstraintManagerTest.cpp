// The constraint manager: resolving targets, generated names, the
// constraints indexes imply, and every verdict and text of CheckRecord.
#include <gtest/gtest.h>

#include <optional>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXConstraintManager.h"
#include "engine/storage/metadata/VRXFieldManager.h"
#include "tests/engine/storage/metadata/MetadataTestSupport.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using test::Bytes;

// Table "T" with fields A, B (INTEGER) and the primary index PK on (A, B);
// its index objects key field A.
class ConstraintManagerTest : public testing::Test {
 protected:
  ConstraintManagerTest() {
    table_.name = "T";
    TVRXFieldDefs fields;
    fields.AddField("A", TVRXAdvancedFieldType::Integer);
    fields.AddField("B", TVRXAdvancedFieldType::Integer);
    fieldManager_.SetFieldDefs(fields);
    factory_.keyOffset = Fields().Field(0).MemoryOffset();
    TVRXIndexDefs indexes;
    auto pk = std::make_unique<TVRXIndexDef>();
    pk->SetName("PK");
    pk->SetPrimary(true);
    pk->SetColumns({"A", "B"}, {"", ""}, {"", ""});
    indexes.Add(std::move(pk));
    indexManager_.SetIndexDefs(indexes);
  }
  const TVRXFieldDefs& Fields() const { return fieldManager_.FieldDefs(); }
  int32_t PrimaryIndexID() const { return indexManager_.IndexDefs().Index(0).ID(); }

  // A record with the given values; nullopt leaves a field NULL.
  Bytes Record(std::optional<int32_t> a, std::optional<int32_t> b) {
    Bytes record = test::NullRecord(Fields());
    if (a) test::SetInteger(record, Fields(), 0, *a);
    if (b) test::SetInteger(record, Fields(), 1, *b);
    return record;
  }
  void Set(std::unique_ptr<TVRXConstraintDef> constraint) {
    TVRXConstraintDefs list;
    list.Add(std::move(constraint));
    manager_.SetConstraintDefs(list, true);
  }
  // The verdict of CheckRecord: "ok", "refused" (raise unset) and the
  // message raised with raise set, which must agree.
  std::string Check(const Bytes& record, bool isInsert = true, const Bytes& old = {}) {
    const bool ok = manager_.CheckRecord(1, record, false, {}, isInsert, old);
    const std::string message =
        MessageOf([&] { manager_.CheckRecord(1, record, true, {}, isInsert, old); });
    EXPECT_EQ(ok, message == "no exception");
    return ok ? "ok" : message;
  }

  test::FakeTable table_;
  test::FakeIndexFactory factory_;
  TVRXBaseFieldManager fieldManager_{table_};
  TVRXBaseIndexManager indexManager_{table_, fieldManager_.FieldDefs(), &factory_};
  TVRXBaseConstraintManager manager_{table_, fieldManager_.FieldDefs(), indexManager_};
};

TEST_F(ConstraintManagerTest, PrimaryKeyRefusesOnlyAnAllNullKey) {
  const TVRXConstraintDef* pk = manager_.AddIndexConstraint(indexManager_.IndexDefs().Index(0));
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->Name(), "C_PK$A$B");
  EXPECT_EQ(pk->Target().ID, PrimaryIndexID());
  EXPECT_EQ(pk->Table().Name, "T");

  EXPECT_EQ(Check(Record(std::nullopt, 2)), "ok");
  EXPECT_EQ(Check(Record(1, std::nullopt)), "ok");
  EXPECT_EQ(Check(Record(std::nullopt, std::nullopt)),
            "Constraint 'C_PK$A$B' violated. Value in field 'A,B' cannot be null - Native "
            "error: 30330");
}

TEST_F(ConstraintManagerTest, DuplicateKeys) {
  manager_.AddIndexConstraint(indexManager_.IndexDefs().Index(0));
  TVRXIndexDef unique;
  unique.SetName("UQ");
  unique.SetUnique(true);
  unique.SetColumns({"A"}, {""}, {""});
  const TVRXIndexDef& uniqueIndex = indexManager_.AddIndex(1, unique);
  EXPECT_EQ(manager_.AddIndexConstraint(uniqueIndex)->Name(), "C_Unique$A");

  const Bytes stored = Record(1, 1);
  indexManager_.InsertKeys(1, stored, {3, 0});

  // An empty table has no duplicates, whatever its indexes say.
  EXPECT_EQ(Check(Record(1, 2)), "ok");
  table_.recordCount = 1;
  EXPECT_EQ(Check(Record(1, 2)),
            "Primary Key constraint 'C_PK$A$B' violated. Duplicate found. - Native error: 30319");
  EXPECT_EQ(Check(Record(2, 2)), "ok");
  // An update that keeps its key is no duplicate of itself; one that moves
  // onto a present key is.
  EXPECT_EQ(Check(Record(1, 5), false, stored), "ok");
  EXPECT_EQ(Check(Record(1, 5), false, Record(2, 5)),
            "Primary Key constraint 'C_PK$A$B' violated. Duplicate found. - Native error: 30319");

  manager_.DropIndexConstraint(PrimaryIndexID());
  ASSERT_EQ(manager_.ConstraintDefs().Count(), 1);
  EXPECT_EQ(Check(Record(1, 2)),
            "Constraint unique 'C_Unique$A' violated. Duplicate found. - Native error: 30320");
  // NULL keys are equal keys: a unique key does not let them through.
  indexManager_.InsertKeys(1, Record(std::nullopt, 1), {3, 1});
  EXPECT_NE(Check(Record(std::nullopt, 2)), "ok");
}

TEST_F(ConstraintManagerTest, CheckWithOnlyAMinimum) {
  auto check = std::make_unique<TVRXConstraintDefCheck>();
  check->Target().Name = "A";
  check->MinValue().SetAsInteger(5);
  Set(std::move(check));
  EXPECT_EQ(manager_.ConstraintDefs().Item(0).Name(), "$C_Check$T$A");
  EXPECT_EQ(Check(Record(std::nullopt, 1)), "ok");
  EXPECT_EQ(Check(Record(5, 1)), "ok");
  EXPECT_EQ(Check(Record(1000000, 1)), "ok");
  EXPECT_EQ(Check(Record(4, 1)),
            "Constraint '$C_Check$T$A' violated. Value in field 'A' cannot be lower than '5' - "
            "Native error: 30029");
}

TEST_F(ConstraintManagerTest, CheckWithAMaximumAndNotNull) {
  TVRXConstraintDefs list;
  auto check = std::make_unique<TVRXConstraintDefCheck>();
  check->SetName("CK");
  check->Target().Name = "b";  // found case-insensitively
  check->MaxValue().SetAsString("10");
  list.Add(std::move(check));
  auto notNull = std::make_unique<TVRXConstraintDefNotNull>();
  notNull->Target().Name = "A";
  list.Add(std::move(notNull));
  manager_.SetConstraintDefs(list, true);
  EXPECT_EQ(Check(Record(1, 10)), "ok");
  EXPECT_EQ(Check(Record(1, 11)),
            "Constraint 'CK' violated. Value in field 'B' cannot be greater than '10' - Native "
            "error: 30030");
  EXPECT_EQ(Check(Record(std::nullopt, 1)),
            "Constraint '$C_NotNull$T$A' violated. Value in field 'A' cannot be null - Native "
            "error: 30026");
}

TEST_F(ConstraintManagerTest, ResolvingTargets) {
  struct Case {
    const char* what;
    uint8_t type;
    std::string target;
    std::string keyField;
    std::string message;
  } cases[] = {
      {"primary key index", kConstraintPrimaryKey, "NOPE", "A",
       "Index 'NOPE' not found - Native error: 30325"},
      {"unique index", kConstraintUnique, "NOPE", "A",
       "Index 'NOPE' not found - Native error: 30326"},
      {"primary key field", kConstraintPrimaryKey, "pk", "X",
       "Field 'X' not found - Native error: 30331"},
      {"unique field", kConstraintUnique, "PK", "X", "Field 'X' not found - Native error: 30332"},
      {"not null field", kConstraintNotNull, "X", "", "Field 'X' not found - Native error: 30027"},
      {"check field", kConstraintCheck, "X", "", "Field 'X' not found - Native error: 30027"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TVRXConstraintDef> constraint = CreateConstraintDef(c.type);
    constraint->SetName("C");
    constraint->Target().Name = c.target;
    if (!c.keyField.empty())
      static_cast<TVRXConstraintDefUnique&>(*constraint).AddKeyField(c.keyField);
    EXPECT_EQ(MessageOf([&] { Set(std::move(constraint)); }), c.message);
    EXPECT_EQ(manager_.ConstraintDefs().Count(), 0);  // nothing half set
  }

  auto good = std::make_unique<TVRXConstraintDefUnique>();
  good->SetName("U");
  good->Target().Name = "pk";
  good->AddKeyField("b");
  Set(std::move(good));
  const auto& set = static_cast<const TVRXConstraintDefUnique&>(manager_.ConstraintDefs().Item(0));
  EXPECT_EQ(set.Target().ID, PrimaryIndexID());
  EXPECT_EQ(set.KeyFields()[0].ID, Fields().Field(1).ID());
  EXPECT_EQ(set.Table().Name, "T");
  EXPECT_GT(set.ID(), 0);
}

TEST_F(ConstraintManagerTest, OnlyKnownTypesMayBeSet) {
  for (bool disk : {true, false}) {
    TVRXConstraintDefs list;
    list.Add(std::make_unique<TVRXConstraintDef>(1));
    EXPECT_EQ(MessageOf([&] { manager_.SetConstraintDefs(list, disk); }),
              std::string("Not implemented yet - Native error: ") + (disk ? "30040" : "30058"));
  }
}

TEST_F(ConstraintManagerTest, GeneratedNamesAreUniqueAndFit) {
  // Two not-null constraints on one field, then two on fields whose names
  // differ only past the 255th byte of the generated name.
  table_.name = std::string(200, 't');
  TVRXFieldDefs fields;
  fields.AddField("A", TVRXAdvancedFieldType::Integer);
  fields.AddField(std::string(100, 'f') + "1", TVRXAdvancedFieldType::Integer);
  fields.AddField(std::string(100, 'f') + "2", TVRXAdvancedFieldType::Integer);
  fieldManager_.SetFieldDefs(fields);
  TVRXConstraintDefs list;
  for (const std::string& field :
       {std::string("A"), std::string("A"), fields.Item(1).Name(), fields.Item(2).Name()}) {
    auto notNull = std::make_unique<TVRXConstraintDefNotNull>();
    notNull->Target().Name = field;
    list.Add(std::move(notNull));
  }
  manager_.SetConstraintDefs(list, true);
  const TVRXConstraintDefs& set = manager_.ConstraintDefs();
  const std::string first = "$C_NotNull$" + table_.name + "$A";
  EXPECT_EQ(set.Item(0).Name(), first);
  EXPECT_EQ(set.Item(1).Name().substr(0, first.size()), first);
  EXPECT_GT(set.Item(1).Name().size(), first.size());
  EXPECT_EQ(set.Item(2).Name().size(), 255u);
  EXPECT_NE(set.Item(3).Name(), set.Item(2).Name());
  EXPECT_LE(set.Item(3).Name().size(), 255u);

  TVRXConstraintDefs unnamed;
  unnamed.Add(std::make_unique<TVRXConstraintDefUnique>());
  static_cast<TVRXConstraintDefUnique&>(unnamed.Item(0)).Target().Name = "PK";
  EXPECT_EQ(MessageOf([&] { manager_.SetConstraintDefs(unnamed, true); }),
            "Not implemented yet - Native error: 30038");
}

TEST_F(ConstraintManagerTest, MissingFieldsAndRecordsAreErrors) {
  const auto* pk = static_cast<const TVRXConstraintDefUnique*>(
      manager_.AddIndexConstraint(indexManager_.IndexDefs().Index(0)));
  const int32_t keyID = pk->KeyFields()[0].ID;
  // The field list changes under the constraint: its key field IDs are gone.
  TVRXFieldDefs fields;
  fields.AddField("A", TVRXAdvancedFieldType::Integer);
  fields.AddField("B", TVRXAdvancedFieldType::Integer);
  fieldManager_.SetFieldDefs(fields);
  const std::string missing =
      "Field #" + std::to_string(keyID) + " not found - Native error: 30329";
  const Bytes record = Record(1, 1);
  EXPECT_EQ(MessageOf([&] { manager_.CheckRecord(1, record, false, {}, true, {}); }), missing);
  const Bytes tooShort(2, 0);
  EXPECT_THROW(manager_.CheckRecord(1, tooShort, false, {}, true, {}), EVRXException);
}

}  // namespace
}  // namespace vrx
