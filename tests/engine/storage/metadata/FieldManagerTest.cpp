// The field manager: record layout, autoincrement counters (limits,
// cycling, values given on insert, the session's last value), defaults,
// the counters' stored form and the BLOB settings check.
#include <gtest/gtest.h>

#include <climits>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXFieldManager.h"
#include "tests/engine/storage/metadata/MetadataTestSupport.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using test::Bytes;

// The next value of the field's counter, or the message of the error.
std::string NextValue(TVRXBaseFieldManager& manager, int32_t fieldNo) {
  try {
    return std::to_string(manager.GetNextAutoincValue(fieldNo));
  } catch (const EVRXException& e) {
    return e.Message();
  }
}

// A field manager over a table of the given fields, set as a table sets
// them (IDs from the database's counter, layout, counters reset).
class FieldManagerTest : public testing::Test {
 protected:
  TVRXFieldDef& Add(std::string_view name, TVRXAdvancedFieldType type, int32_t size = 0) {
    return fields_.AddField(name, type, size);
  }
  void Set() { manager_.SetFieldDefs(fields_); }
  const TVRXFieldDefs& Fields() const { return manager_.FieldDefs(); }

  test::FakeTable table_;
  test::FakeSession session_;
  TVRXFieldDefs fields_;
  TVRXBaseFieldManager manager_{table_};
};

TEST_F(FieldManagerTest, LayoutPutsFieldsAfterTheNullBitmap) {
  Add("Jmeno", TVRXAdvancedFieldType::String, 20);
  Add("Foto", TVRXAdvancedFieldType::Blob);
  for (int i = 0; i < 7; ++i) {
    std::string name = "F";
    name += std::to_string(i);
    Add(name, TVRXAdvancedFieldType::ShortInt);
  }
  Set();
  EXPECT_EQ(Fields().NullBitmapSize(), 2);  // nine fields
  EXPECT_EQ(Fields().Field(0).MemoryOffset(), 2);
  EXPECT_EQ(Fields().Field(0).MemorySize(), 21);
  EXPECT_EQ(Fields().Field(1).MemoryOffset(), 23);
  EXPECT_EQ(Fields().Field(1).MemorySize(), 10);
  EXPECT_EQ(Fields().Field(1).DiskSize(), 6);
  EXPECT_EQ(Fields().Field(2).MemoryOffset(), 33);
  EXPECT_EQ(Fields().Field(2).DiskOffset(), 29);
  EXPECT_EQ(Fields().MemoryRecordSize(), 40);
  EXPECT_EQ(Fields().DiskRecordSize(), 36);
  // IDs come from the database's counter, also in the caller's list.
  EXPECT_EQ(Fields().Field(0).ID(), 100);
  EXPECT_EQ(fields_.Field(8).ID(), 108);
}

TEST_F(FieldManagerTest, AutoincWithMaximumThree) {
  struct Case {
    bool cycled;
    std::vector<std::string> values;  // what five calls give
  } cases[] = {
      {false,
       {"1", "2", "3", "Autoinc max value exceeded for field 'Id' - Native error: 20160",
        "Autoinc max value exceeded for field 'Id' - Native error: 20160"}},
      {true, {"1", "2", "3", "0", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cycled);
    TVRXFieldDefs fields;
    TVRXFieldDef& id = fields.AddField("Id", TVRXAdvancedFieldType::AutoInc);
    id.SetMaxValue(3);
    id.SetCycled(c.cycled);
    TVRXBaseFieldManager manager(table_);
    manager.SetFieldDefs(fields);
    for (const std::string& expected : c.values) EXPECT_EQ(NextValue(manager, 0), expected);
  }
}

TEST_F(FieldManagerTest, CountersStopAtTheLimitOfTheFieldType) {
  // Without a maximum, an AUTOINCBYTE field still cannot count past 255:
  // the 256th value would be stored as 0.
  struct Case {
    TVRXAdvancedFieldType type;
    int64_t start;
    bool cycled;
    std::string next;
  } cases[] = {
      {TVRXAdvancedFieldType::AutoIncByte, 254, false, "255"},
      {TVRXAdvancedFieldType::AutoIncByte, 255, false,
       "Autoinc max value exceeded for field 'N' - Native error: 20160"},
      {TVRXAdvancedFieldType::AutoIncByte, 255, true, "7"},
      {TVRXAdvancedFieldType::AutoIncSmallInt, 32767, false,
       "Autoinc max value exceeded for field 'N' - Native error: 20160"},
      {TVRXAdvancedFieldType::AutoIncLargeInt, INT64_MAX, false,
       "Autoinc max value exceeded for field 'N' - Native error: 20160"},
      {TVRXAdvancedFieldType::AutoIncLargeInt, INT64_MAX, true, "7"},
  };
  for (const Case& c : cases) {
    TVRXFieldDefs fields;
    TVRXFieldDef& field = fields.AddField("N", c.type);
    field.SetMaxValue(0);
    field.SetInitialValue(c.start);
    field.SetMinValue(7);
    field.SetCycled(c.cycled);
    TVRXBaseFieldManager manager(table_);
    manager.SetFieldDefs(fields);
    EXPECT_EQ(NextValue(manager, 0), c.next);
  }
}

TEST_F(FieldManagerTest, GivenValueMovesTheCounter) {
  Add("Id", TVRXAdvancedFieldType::AutoInc);
  Add("Kolo", TVRXAdvancedFieldType::AutoIncSmallInt);
  Set();
  const int32_t idSequence = Fields().Field(0).ID();

  Bytes record = test::NullRecord(Fields());
  test::SetInteger(record, Fields(), 0, 10);
  manager_.ApplyAutoincValues(session_, record);
  EXPECT_EQ(test::GetInteger(record, Fields(), 0), 10);
  EXPECT_EQ(test::GetInteger(record, Fields(), 1), 1);  // NULL got the next value
  EXPECT_EQ(manager_.GetSequenceLastValue(session_, 0), 10);
  EXPECT_EQ(session_.values[idSequence], 10);

  Bytes next = test::NullRecord(Fields());
  manager_.ApplyAutoincValues(session_, next);
  EXPECT_EQ(test::GetInteger(next, Fields(), 0), 11);
  EXPECT_FALSE(FieldIsNull(next, 0));

  // A smaller or negative value leaves the counter alone.
  Bytes negative = test::NullRecord(Fields());
  test::SetInteger(negative, Fields(), 0, 5);
  test::SetInteger(negative, Fields(), 1, -5);
  manager_.ApplyAutoincValues(session_, negative);
  EXPECT_EQ(manager_.Counters()[0], 11);
  EXPECT_EQ(manager_.Counters()[1], 2);
}

TEST_F(FieldManagerTest, SequenceErrors) {
  Add("Id", TVRXAdvancedFieldType::AutoInc);
  Set();
  EXPECT_EQ(MessageOf([&] { manager_.GetSequenceLastValue(session_, 0); }),
            "No SequenceLastValue in session for sequence 'Id'. Call GetNextVal first - Native "
            "error: 30012");
  EXPECT_EQ(manager_.NextAutoincForSession(session_, 0), 1);
  EXPECT_EQ(manager_.GetSequenceLastValue(session_, 0), 1);
  test::FakeSession other(2);
  EXPECT_THROW(manager_.GetSequenceLastValue(other, 0), EVRXException);

  EXPECT_EQ(MessageOf([&] { manager_.GetNextAutoincValue(1); }),
            "Field #1 not found - Native error: 30402");
  EXPECT_EQ(MessageOf([&] { manager_.GetNextAutoincValue(-1); }),
            "Field #-1 not found - Native error: 30402");
  // Counters read from a most-updated file that holds fewer of them.
  TVRXMemoryStream stream;
  test::SetBytes(stream, {0, 0, 0, 0});
  manager_.ReadCounters(stream);
  EXPECT_EQ(MessageOf([&] { manager_.GetNextAutoincValue(0); }),
            "Field #0 not found - Native error: 30403");
}

TEST_F(FieldManagerTest, DefaultsAreConvertedIntoTheRecord) {
  Add("Jmeno", TVRXAdvancedFieldType::String, 3);
  Add("Body", TVRXAdvancedFieldType::SmallInt);
  Add("Skore", TVRXAdvancedFieldType::Integer);
  TVRXVariant text;
  text.SetAsString("Anna");  // cut to the field's three bytes
  fields_.Field(0).SetDefaultValue(text);
  TVRXVariant number;
  number.SetAsString("42");  // converted to SMALLINT
  fields_.Field(1).SetDefaultValue(number);
  Set();

  Bytes record = test::NullRecord(Fields());
  std::fill(record.begin() + 1, record.end(), 0xEE);  // leftovers of a previous record
  manager_.ApplyDefaults(record);
  const TVRXFieldDef& name = Fields().Field(0);
  EXPECT_EQ(Bytes(record.begin() + name.MemoryOffset(),
                  record.begin() + name.MemoryOffset() + name.MemorySize()),
            (Bytes{'A', 'n', 'n', 0}));
  EXPECT_EQ(test::GetInteger(record, Fields(), 1), 42);
  EXPECT_FALSE(FieldIsNull(record, 0));
  EXPECT_FALSE(FieldIsNull(record, 1));
  EXPECT_TRUE(FieldIsNull(record, 2));

  Bytes shortRecord(3, 0);
  EXPECT_EQ(MessageOf([&] { manager_.ApplyDefaults(shortRecord); }),
            "Invalid record buffer size 3. Should be at least " +
                std::to_string(Fields().MemoryRecordSize()) + " - Native error: 10261");
}

TEST_F(FieldManagerTest, CountersStoredForm) {
  Add("Id", TVRXAdvancedFieldType::AutoInc).SetInitialValue(5);
  Add("Jmeno", TVRXAdvancedFieldType::String, 10).SetInitialValue(9);  // not AUTOINC: 0
  Set();
  manager_.GetNextAutoincValue(0);
  TVRXMemoryStream stream;
  manager_.WriteCounters(stream);
  EXPECT_EQ(test::StreamBytes(stream),
            (Bytes{2, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  manager_.ResetCounters();
  stream.SetPosition(0);
  manager_.ReadCounters(stream);
  EXPECT_EQ(manager_.Counters(), (std::vector<int64_t>{6, 0}));

  // A count the stream cannot hold is refused before anything is read.
  for (int32_t count : {INT32_MAX, -1, 3}) {
    Bytes damaged = test::StreamBytes(stream);
    bytes::StoreI32(damaged.data(), count);
    test::SetBytes(stream, damaged);
    EXPECT_EQ(MessageOf([&] { manager_.ReadCounters(stream); }),
              "Cannot read from stream. Position = 0, Stream size = 20, Block size = " +
                  std::to_string(count) + ", Bytes Read = 0 - Native error: 10254");
    EXPECT_EQ(manager_.Counters(), (std::vector<int64_t>{6, 0}));
  }
}

TEST_F(FieldManagerTest, BlobSettings) {
  Add("Id", TVRXAdvancedFieldType::Integer);
  Set();
  EXPECT_FALSE(manager_.CheckBlobSettings());

  Add("Foto", TVRXAdvancedFieldType::Blob).SetBlobBlockSize(0);
  Set();
  EXPECT_EQ(MessageOf([&] { manager_.CheckBlobSettings(); }),
            "BLOB block size should be > 0 for field Foto - Native error: 10421");
  fields_.Field(1).SetBlobBlockSize(4096);
  Set();
  EXPECT_TRUE(manager_.CheckBlobSettings());
}

TEST_F(FieldManagerTest, LoadKeepsTheFieldsWhenTheStreamIsDamaged) {
  Add("Id", TVRXAdvancedFieldType::AutoInc).SetInitialValue(4);
  Set();
  TVRXMemoryStream stream;
  manager_.SaveToStream(stream);
  const Bytes saved = test::StreamBytes(stream);

  TVRXBaseFieldManager loaded(table_);
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.Counters(), (std::vector<int64_t>{4}));
  EXPECT_EQ(loaded.FieldDefs().MemoryRecordSize(), 5);

  test::SetBytes(stream, Bytes(saved.begin(), saved.end() - 1));
  EXPECT_THROW(loaded.LoadFromStream(stream), EVRXException);
  ASSERT_EQ(loaded.FieldDefs().Count(), 1);
  EXPECT_EQ(loaded.FieldDefs().MemoryRecordSize(), 5);
}

}  // namespace
}  // namespace vrx
