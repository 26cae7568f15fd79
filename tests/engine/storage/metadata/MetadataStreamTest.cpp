// The stored form of table metadata: golden bytes of every definition and
// list, names at and past 255 bytes, the lists' own rules (duplicates,
// temporary indexes, unknown constraint types), and damaged metadata that
// must end in an engine error with the previous content kept.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXTableMetadata.h"
#include "tests/engine/storage/metadata/MetadataTestSupport.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using test::Bytes;
using test::StreamBytes;

// Builders of expected bytes, so that each golden layout reads as its
// pieces in stored order.
struct Golden {
  Bytes bytes;
  Golden& U8(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  Golden& I32(int32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Golden& I64(int64_t v) {
    for (int i = 0; i < 8; ++i)
      bytes.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return *this;
  }
  Golden& Text(std::string_view s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Golden& Name(std::string_view s) { return U8(static_cast<uint8_t>(s.size())).Text(s); }
};

template <typename T>
Bytes Saved(const T& definition) {
  TVRXMemoryStream stream;
  definition.SaveToStream(stream);
  return StreamBytes(stream);
}

template <typename T>
void LoadFrom(T& definition, const Bytes& bytes) {
  TVRXMemoryStream stream;
  test::SetBytes(stream, bytes);
  definition.LoadFromStream(stream);
}

TVRXFieldDef& AddField(TVRXFieldDefs& fields, std::string_view name, TVRXAdvancedFieldType type,
                       int32_t size, int32_t id) {
  TVRXFieldDef& field = fields.AddField(name, type, size);
  field.SetID(id);
  return field;
}

// A table of three fields, two indexes and one constraint of each type.
void FillSample(TVRXTableMetadata& metadata) {
  TVRXFieldDefs& fields = metadata.Fields();
  TVRXFieldDef& id = AddField(fields, "Id", TVRXAdvancedFieldType::AutoInc, 0, 1);
  id.SetMaxValue(3);
  TVRXFieldDef& name = AddField(fields, "Jmeno", TVRXAdvancedFieldType::String, 20, 2);
  TVRXVariant defaultName;
  defaultName.SetAsString("x");
  name.SetDefaultValue(defaultName);
  TVRXFieldDef& photo = AddField(fields, "Foto", TVRXAdvancedFieldType::Blob, 0, 3);
  photo.SetBlobCompressionAlgorithm(1);
  photo.SetBlobCompressionMode(5);
  fields.ComputeOffsets();

  auto primary = std::make_unique<TVRXIndexDef>();
  primary->SetName("PK");
  primary->SetID(4);
  primary->SetPrimary(true);
  primary->SetUnique(true);
  primary->SetColumns({"Id"}, {"ASC"}, {"CASE"});
  primary->SetRootPage(17);
  metadata.Indexes().Add(std::move(primary));
  auto byName = std::make_unique<TVRXIndexDef>();
  byName->SetName("IX_Jmeno");
  byName->SetID(5);
  byName->SetColumns({"Jmeno", "Id"}, {"DESC", "ASC"}, {"NO_CASE", "CASE"});
  metadata.Indexes().Add(std::move(byName));

  auto pk = std::make_unique<TVRXConstraintDefPrimary>();
  pk->SetName("C_PK$Id");
  pk->Target() = {"PK", 4};
  pk->AddKeyField("Id", 1);
  metadata.Constraints().Add(std::move(pk));
  auto unique = std::make_unique<TVRXConstraintDefUnique>();
  unique->SetName("C_Unique$Jmeno");
  unique->Target() = {"IX_Jmeno", 5};
  unique->AddKeyField("Jmeno", 2);
  metadata.Constraints().Add(std::move(unique));
  auto notNull = std::make_unique<TVRXConstraintDefNotNull>();
  notNull->SetName("NN");
  notNull->Target() = {"Jmeno", 2};
  metadata.Constraints().Add(std::move(notNull));
  auto check = std::make_unique<TVRXConstraintDefCheck>();
  check->SetName("CK");
  check->Target() = {"Id", 1};
  check->MinValue().SetAsInteger(1);
  metadata.Constraints().Add(std::move(check));
  metadata.Roots() = {21, 22};
}

Bytes SampleFile() {
  TVRXTableMetadata metadata;
  FillSample(metadata);
  return Saved(metadata);
}

// ---- golden bytes ----

TEST(MetadataStream, FieldDefinitionBytes) {
  TVRXFieldDefs fields;
  TVRXFieldDef& text = AddField(fields, "Jmeno", TVRXAdvancedFieldType::String, 20, 7);
  TVRXVariant value;
  value.SetAsString("ab");
  text.SetDefaultValue(value);
  // clang-format off
  const Bytes expected = {
      5,    'J',  'm',  'e',  'n',  'o',                  // name
      7,    0,    0,    0,                                // ID
      3,                                                  // storage type STRING
      2,                                                  // declared type STRING
      20,   0,    0,    0,                                // size
      1,    0,    0,    0,    0,    0,    0,    0,        // increment
      0,    0,    0,    0,    0,    0,    0,    0,        // initial value
      0,    0,    0,    0,    0,    0,    0,    0,        // minimum value
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,     // maximum value
      0,                                                  // cycled
      3,    0,    3,    0,    0,    0,    'a',  'b', 0};  // default: STRING "ab"
  // clang-format on
  EXPECT_EQ(Saved(text), expected);

  // BLOB fields alone store their compression; a NULL default is its type
  // and the NULL flag.
  TVRXFieldDef& blob = AddField(fields, "Foto", TVRXAdvancedFieldType::Blob, 0, 8);
  blob.SetBlobCompressionAlgorithm(2);
  blob.SetBlobCompressionMode(9);
  blob.SetBlobBlockSize(65536);
  blob.SetCycled(true);
  // clang-format off
  const Bytes blobExpected = Golden()
                                 .Name("Foto").I32(8).U8(18).U8(31).I32(0)
                                 .U8(2).U8(9).I32(65536)
                                 .I64(1).I64(0).I64(0).I64(INT64_MAX).U8(1)
                                 .U8(0).U8(0xFF)
                                 .bytes;
  // clang-format on
  EXPECT_EQ(Saved(blob), blobExpected);

  TVRXFieldDefs loaded;
  LoadFrom(loaded, Saved(fields));
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(Saved(loaded.Field(0)), expected);
  EXPECT_EQ(Saved(loaded.Field(1)), blobExpected);
  EXPECT_EQ(loaded.Field(1).MemorySize(), 10);
  EXPECT_EQ(loaded.Field(1).DiskSize(), 6);
}

TEST(MetadataStream, IndexDefinitionBytes) {
  TVRXIndexDef index;
  index.SetName("IX");
  index.SetID(9);
  index.SetUnique(true);
  index.SetColumns({"A", "B"}, {"ASC", "DESC"}, {"CASE", "NO_CASE"});
  // clang-format off
  const Bytes expected = Golden()
                             .Name("IX").I32(9).U8(0).U8(1).U8(0).I32(2).I32(-1)
                             .Name("A").U8(0).U8(0).I32(20)
                             .Name("B").U8(0xFF).U8(0xFF).I32(20)
                             .bytes;
  // clang-format on
  EXPECT_EQ(Saved(index), expected);

  TVRXIndexDef loaded;
  LoadFrom(loaded, expected);
  EXPECT_EQ(Saved(loaded), expected);
  EXPECT_TRUE(loaded.Columns()[1].IsDescending());
  EXPECT_TRUE(loaded.Columns()[1].IsCaseInsensitive());
}

TEST(MetadataStream, ConstraintBytes) {
  // Field constraints size their texts with a byte, key constraints with
  // an int32; the list puts the type byte in front of each.
  TVRXConstraintDefs constraints;
  auto check = std::make_unique<TVRXConstraintDefCheck>();
  check->SetName("CK");
  check->SetID(11);
  check->Table().Name = "T";
  check->Target() = {"Body", 5};
  check->MinValue().SetAsInteger(5);
  constraints.Add(std::move(check));
  auto notNull = std::make_unique<TVRXConstraintDefNotNull>();
  notNull->SetName("NN");
  notNull->SetID(12);
  notNull->Table() = {"T", 2};
  notNull->Target() = {"Body", 5};
  constraints.Add(std::move(notNull));
  auto primary = std::make_unique<TVRXConstraintDefPrimary>();
  primary->SetName("C_PK$A");
  primary->SetID(13);
  primary->Table().Name = "T";
  primary->Target() = {"IX", 9};
  primary->AddKeyField("A", 3);
  constraints.Add(std::move(primary));
  auto unique = std::make_unique<TVRXConstraintDefUnique>();
  unique->SetName("U");
  unique->SetID(14);
  constraints.Add(std::move(unique));

  // clang-format off
  const Bytes expected =
      Golden()
          .I32(4)
          .U8(4).Name("CK").I32(11).I32(0).I32(0).I32(5)
          .U8(1).Name("").U8(2).Name("T").U8(5).Name("Body")
          .U8(7).U8(0).I32(4).I32(5)  // minimum INTEGER 5
          .U8(0).U8(0xFF)             // no maximum
          .U8(3).Name("NN").I32(12).I32(0).I32(2).I32(5)
          .U8(1).Name("").U8(2).Name("T").U8(5).Name("Body")
          .U8(0).Name("C_PK$A").I32(13).I32(0).I32(0).I32(9)
          .I32(1).Name("").I32(2).Name("T").I32(3).Name("IX")
          .I32(1).I32(3).I32(2).Name("A")
          .U8(2).Name("U").I32(14).I32(0).I32(0).I32(0)
          .I32(1).Name("").I32(1).Name("").I32(1).Name("")
          .I32(0)
          .bytes;
  // clang-format on
  EXPECT_EQ(Saved(constraints), expected);

  TVRXConstraintDefs loaded;
  LoadFrom(loaded, expected);
  ASSERT_EQ(loaded.Count(), 4);
  EXPECT_EQ(loaded.Constraint(2).ClassName(), "TVRXConstraintDefPrimary");
  EXPECT_EQ(Saved(loaded), expected);
}

TEST(MetadataStream, MetadataFileIsTheThreeListsAndTwoRoots) {
  TVRXTableMetadata metadata;
  FillSample(metadata);
  const Bytes file = Saved(metadata);
  const Bytes tail = Golden().I32(21).I32(22).bytes;
  ASSERT_GT(file.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), file.end() - 8));

  Bytes lists = Saved(metadata.Fields());
  const Bytes indexes = Saved(metadata.Indexes());
  const Bytes constraints = Saved(metadata.Constraints());
  lists.insert(lists.end(), indexes.begin(), indexes.end());
  lists.insert(lists.end(), constraints.begin(), constraints.end());
  lists.insert(lists.end(), tail.begin(), tail.end());
  EXPECT_EQ(file, lists);

  TVRXTableMetadata loaded;
  LoadFrom(loaded, file);
  EXPECT_EQ(Saved(loaded), file);
  EXPECT_EQ(loaded.Roots().BlobIndexRoot, 22);
  EXPECT_EQ(loaded.Fields().MemoryRecordSize(), metadata.Fields().MemoryRecordSize());
}

// ---- names ----

TEST(MetadataStream, NamesOf255BytesAreKeptLongerOnesCut) {
  const std::string n255(255, 'n');
  const std::string n300(300, 'n');
  // 150 two-byte characters: the cut must not split the 128th.
  std::string czech;
  for (int i = 0; i < 150; ++i) czech += "\xC5\xA1";  // š

  struct Case {
    std::string given;
    std::string kept;
  } cases[] = {{n255, n255}, {n300, n255}, {czech, czech.substr(0, 254)}};
  for (const Case& c : cases) {
    TVRXIndexDef index;
    index.SetName(c.given);
    index.SetColumns({c.given}, {""}, {""});
    EXPECT_EQ(index.Name(), c.kept);
    EXPECT_EQ(index.Columns()[0].FieldName, c.kept);
    TVRXIndexDef loaded;
    LoadFrom(loaded, Saved(index));
    EXPECT_EQ(loaded.Name(), c.kept);
    EXPECT_EQ(loaded.Columns()[0].FieldName, c.kept);
  }
}

TEST(MetadataStream, FieldConstraintWith255ByteTextsReadsBack) {
  // The one-byte size of a 255-byte text wraps to 0; it must still be
  // read as the 255 bytes that follow, not as an empty text.
  const std::string table(255, 't');
  TVRXConstraintDefCheck check;
  check.SetName(std::string(255, 'c'));
  check.Table().Name = table;
  check.Target() = {"Body", 5};
  check.MaxValue().SetAsInteger(9);
  const Bytes bytes = Saved(check);
  const size_t tableText = 1 + 255 + 4 * 4 + 2;  // name, four IDs, reserved text
  ASSERT_GT(bytes.size(), tableText + 2);
  EXPECT_EQ(bytes[tableText], 0);
  EXPECT_EQ(bytes[tableText + 1], 255);

  TVRXConstraintDefCheck loaded;
  LoadFrom(loaded, bytes);
  EXPECT_EQ(loaded.Table().Name, table);
  EXPECT_EQ(loaded.Target().Name, "Body");
  EXPECT_EQ(loaded.MaxValue().GetAsInteger(), 9);
  EXPECT_EQ(Saved(loaded), bytes);
}

// ---- list rules ----

TEST(MetadataStream, AssignRefusesNamesEqualAfterUpperCasing) {
  TVRXFieldDefs source;
  source.AddField("Kolo", TVRXAdvancedFieldType::Integer);
  source.AddField("kolo", TVRXAdvancedFieldType::Integer);
  TVRXFieldDefs target;
  target.AddField("Body", TVRXAdvancedFieldType::Integer);
  EXPECT_EQ(MessageOf([&] { target.Assign(source); }),
            "Duplicate field name kolo - Native error: 10424");
  ASSERT_EQ(target.Count(), 1);
  EXPECT_EQ(target.Item(0).Name(), "Body");

  // The same rule for any kind of definition, and for accented letters.
  TVRXIndexDefs indexes;
  for (const char* name : {"\xC5\xA0tul", "\xC5\xA1TUL"}) {  // Štul, šTUL
    auto index = std::make_unique<TVRXIndexDef>();
    index->SetName(name);
    indexes.Add(std::move(index));
  }
  TVRXIndexDefs copy;
  EXPECT_EQ(MessageOf([&] { copy.Assign(indexes); }),
            "Duplicate field name \xC5\xA1TUL - Native error: 10424");
  EXPECT_EQ(indexes.IndexOfName("\xC5\xA1tul"), 0);
}

TEST(MetadataStream, IndexListLeavesTemporaryIndexesOut) {
  TVRXIndexDefs indexes;
  for (bool temporary : {false, true}) {
    auto index = std::make_unique<TVRXIndexDef>();
    index->SetName(temporary ? "TEMPORARY_INDEX_1" : "IX");
    index->SetTemporary(temporary);
    indexes.Add(std::move(index));
  }
  const Bytes bytes = Saved(indexes);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), Golden().I32(1).bytes);
  TVRXIndexDefs loaded;
  LoadFrom(loaded, bytes);
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(loaded.Index(0).Name(), "IX");
}

TEST(MetadataStream, ConstraintOfUnknownTypeCannotBeLoaded) {
  TVRXTableMetadata metadata;
  FillSample(metadata);
  // A constraint list of one constraint whose type byte reads 1.
  TVRXMemoryStream stream;
  metadata.Fields().SaveToStream(stream);
  metadata.Indexes().SaveToStream(stream);
  const Bytes constraint = Golden().I32(1).U8(1).Name("X").I32(1).I32(-1).I32(-1).bytes;
  stream.Write(constraint.data(), static_cast<int32_t>(constraint.size()));
  stream.SetPosition(0);
  TVRXTableMetadata loaded;
  FillSample(loaded);
  const Bytes before = Saved(loaded);
  EXPECT_EQ(MessageOf([&] { loaded.LoadFromStream(stream); }),
            "Unknown Constraint Type: '1' - Native error: 30316");
  EXPECT_EQ(Saved(loaded), before);
}

TEST(MetadataStream, ListErrors) {
  TVRXMetaObjectDefs base;
  TVRXMemoryStream stream;
  test::SetBytes(stream, Golden().I32(1).Name("A").I32(1).bytes);
  EXPECT_EQ(MessageOf([&] { base.LoadFromStream(stream); }),
            "The method 'InternalAddCreated' not overrided in class 'TVRXMetaObjectDefs' - "
            "Native error: 30339");
  TVRXConstraintDefs constraints;
  EXPECT_EQ(MessageOf([&] { constraints.InternalAddCreated(); }),
            "The method 'InternalAddCreated' not overrided in class 'TVRXConstraintDefs' - "
            "Native error: 30339");

  TVRXIndexDef index;
  EXPECT_EQ(MessageOf([&] {
              index.SetColumns({"A", "B"}, {"ASC"}, {"", ""});
            }),
            "Error - different lists length. L1 = 2, L2 = 1 - Native error: 10278");
  EXPECT_EQ(MessageOf([&] {
              index.SetColumns({"A"}, {"ASC"}, {"", ""});
            }),
            "Error - different lists length. L1 = 1, L2 = 2 - Native error: 10279");

  TVRXFieldDef field;
  EXPECT_EQ(MessageOf([&] { field.SetDeclaredType(TVRXAdvancedFieldType::Unknown); }),
            "Unsupported data type 'Unknown' - Native error: 30007");
  TVRXFieldDefs fields;
  fields.AddField("A", TVRXAdvancedFieldType::Integer);
  EXPECT_EQ(MessageOf([&] { fields.Delete(1); }),
            "List index out of bounds (1) - Native error: 10257");
  EXPECT_EQ(MessageOf([&] { fields.Add(std::make_unique<TVRXIndexDef>()); }),
            "Cannot add a TVRXIndexDef to a TVRXFieldDefs - Native error: 10263");
}

// ---- damaged metadata ----

// Loads `bytes` into a holder that already has content: only an engine
// error may come out, and after one the content must be what it was.
// Returns whether the load failed.
bool LoadDamaged(const Bytes& bytes) {
  TVRXTableMetadata metadata;
  FillSample(metadata);
  const Bytes before = Saved(metadata);
  TVRXMemoryStream stream;
  test::SetBytes(stream, bytes);
  try {
    metadata.LoadFromStream(stream);
    return false;
  } catch (const EVRXException&) {
    EXPECT_EQ(Saved(metadata), before);
    return true;
  }
}

TEST(MetadataStream, EveryTruncationIsAnEngineError) {
  const Bytes file = SampleFile();
  for (size_t size = 0; size < file.size(); ++size)
    EXPECT_TRUE(LoadDamaged(Bytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(size))))
        << "size " << size;
}

TEST(MetadataStream, FlippedBitsGiveEngineErrorsOnly) {
  const Bytes file = SampleFile();
  uint32_t x = 12345;
  for (int round = 0; round < 400; ++round) {
    Bytes damaged = file;
    for (int flips = 0; flips < 1 + round % 3; ++flips) {
      x = x * 1103515245u + 12345u;
      damaged[(x >> 8) % damaged.size()] ^= static_cast<uint8_t>(1u << ((x >> 4) % 8));
    }
    LoadDamaged(damaged);
  }
}

TEST(MetadataStream, CountsAndLengthsAtExtremes) {
  const Bytes file = SampleFile();
  // Offsets in the sample file: field list count at 0; the first field
  // "Id": name (3), ID (4), types (2), then its size (which an INTEGER
  // field does not use).
  const size_t idSize = 4 + 3 + 4 + 2;
  // "Jmeno" follows "Id" (size, 4 int64, cycled, NULL default: 2 bytes).
  const size_t jmeno = idSize + 4 + 32 + 1 + 2;
  const size_t jmenoDefaultSize = jmeno + 6 + 4 + 2 + 4 + 32 + 1 + 2;
  TVRXTableMetadata sample;
  FillSample(sample);
  const size_t indexList = Saved(sample.Fields()).size();
  const size_t pkColumnCount = indexList + 4 + 3 + 4 + 3;
  const size_t constraintList = indexList + Saved(sample.Indexes()).size();
  // type, name "C_PK$Id", ID, three IDs, reserved text (5), table text (5)
  const size_t pkTarget = constraintList + 4 + 1 + 8 + 4 + 12 + 5 + 5;
  const size_t pkKeyCount = pkTarget + 4 + 1 + 2;

  struct Patch {
    const char* what;
    size_t offset;
    int32_t value;
    const char* message;  // nullptr: any engine error
  } patches[] = {
      {"field count max", 0, INT32_MAX,
       "Cannot read from stream. Position = 0, Stream size = %d, Block size = 2147483647, Bytes "
       "Read = 0 - Native error: 10248"},
      {"field count negative", 0, -1, nullptr},
      {"field count min", 0, INT32_MIN, nullptr},
      {"text size max", jmeno + 6 + 4 + 2, INT32_MAX,
       "Invalid size 2147483647 of field 'Jmeno' - Native error: 10259"},
      {"text size negative", jmeno + 6 + 4 + 2, -5,
       "Invalid size -5 of field 'Jmeno' - Native error: 10259"},
      {"default size max", jmenoDefaultSize, INT32_MAX, nullptr},
      {"default size negative", jmenoDefaultSize, -1, nullptr},
      {"index count max", indexList, INT32_MAX, nullptr},
      {"column count max", pkColumnCount, INT32_MAX, nullptr},
      {"column count negative", pkColumnCount, -2, nullptr},
      {"constraint text size", pkTarget, 99, nullptr},
      {"key field count max", pkKeyCount, INT32_MAX, nullptr},
      {"key field count negative", pkKeyCount, -1, nullptr},
  };
  for (const Patch& patch : patches) {
    SCOPED_TRACE(patch.what);
    ASSERT_LE(patch.offset + 4, file.size());
    Bytes damaged = file;
    bytes::StoreI32(damaged.data() + patch.offset, patch.value);
    TVRXTableMetadata metadata;
    TVRXMemoryStream stream;
    test::SetBytes(stream, damaged);
    std::string message;
    try {
      metadata.LoadFromStream(stream);
    } catch (const EVRXException& e) {
      message = e.Message();
    }
    ASSERT_FALSE(message.empty());
    if (patch.message != nullptr) {
      const std::string expected = std::string(patch.message).find("%d") != std::string::npos
                                       ? FormatText(patch.message, {file.size()})
                                       : patch.message;
      EXPECT_EQ(message, expected);
    }
    EXPECT_TRUE(LoadDamaged(damaged));
  }
}

TEST(MetadataStream, UnknownStorageTypeIsAnEngineError) {
  Bytes file = SampleFile();
  file[4 + 3 + 4] = 99;  // the storage type of "Id"
  TVRXTableMetadata metadata;
  TVRXMemoryStream stream;
  test::SetBytes(stream, file);
  EXPECT_EQ(MessageOf([&] { metadata.LoadFromStream(stream); }),
            "Unknown DataType: 'Unknown' - Native error: 30050");
}

}  // namespace
}  // namespace vrx
