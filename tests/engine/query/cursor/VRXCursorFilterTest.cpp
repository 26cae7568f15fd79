// Filters, extra filters, Locate and LocateValue through cursors on a table
// of a database file: the index conditions a filter gives (kinds, keys,
// multi-field keys, which may stand in for their nodes), and the records
// that filters and searches find with every kind of index on the fields,
// held against a model of the table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/query/cursor/VRXCursorFilter.h"
#include "engine/query/expressions/VRXExpression.h"
#include "tests/support/LocaleForTest.h"
#include "tests/support/TableTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAreArray;

constexpr int32_t kCurrent = TVRXReadRequest::kCurrent;
constexpr int32_t kNext = TVRXReadRequest::kNext;
constexpr int32_t kPrior = TVRXReadRequest::kPrior;
constexpr int32_t kRead = 0;
constexpr int32_t kEOF = 2;

// Fields of table F.
constexpr int32_t kID = 0;
constexpr int32_t kName = 1;
constexpr int32_t kAge = 2;
constexpr int32_t kClub = 3;

struct Member {
  int32_t id;
  const char* name;
  std::optional<int32_t> age;
  const char* club;  // nullptr: NULL
};

// Inserted in this order into an empty F they get these IDs. Two ages are
// NULL, and one name is the text "Jo*" itself.
const std::vector<Member> kMembers = {
    {1, "John", 5, "A"},  {2, "Joan", 7, "B"},         {3, "Jo*", 3, "A"},
    {4, "Mary", {}, "B"}, {5, "Peter", 30, "A"},       {6, "Anna", 2, nullptr},
    {7, "Zoe", 5, "B"},   {8, "Bob", 12, "A"},         {9, "Eve", {}, "A"},
    {10, "jon", 40, "B"},
};

struct IndexSpec {
  std::vector<std::string> columns;
  std::vector<std::string> directions;
  std::vector<std::string> cases;
};

// Name (15 characters) is keyed whole; Note (40) only by its first bytes.
const std::map<std::string, IndexSpec> kIndexes = {
    {"ByAge", {{"Age"}, {"ASC"}, {"CASE"}}},
    {"ByAgeDesc", {{"Age"}, {"DESC"}, {"CASE"}}},
    {"ByClubAge", {{"Club", "Age"}, {"ASC", "ASC"}, {"CASE", "CASE"}}},
    {"ByName", {{"Name"}, {"ASC"}, {"CASE"}}},
    {"ByNameNoCase", {{"Name"}, {"ASC"}, {"NO_CASE"}}},
    {"ByNote", {{"Note"}, {"ASC"}, {"CASE"}}},
};
const std::vector<std::string> kAllIndexes = {"ByAge",  "ByAgeDesc",    "ByClubAge",
                                              "ByName", "ByNameNoCase", "ByNote"};

class FilterFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    buffers.clear();
    cursors.clear();
    for (auto& s : sessions) s->SetConnected(false);
  }

  // A new database holding F with `indexes`, filled with kMembers.
  void MakeTable(const std::vector<std::string>& indexes) {
    pelvaro::test::CreateDatabaseFile("f.vrx");
    pelvaro::test::ConnectSession(Session(), "f.vrx");
    TVRXFieldDefs fields;
    fields.AddField("ID", TVRXAdvancedFieldType::AutoInc);
    fields.AddField("Name", TVRXAdvancedFieldType::String, 15);
    fields.AddField("Age", TVRXAdvancedFieldType::Integer);
    fields.AddField("Club", TVRXAdvancedFieldType::String, 5);
    fields.AddField("Note", TVRXAdvancedFieldType::String, 40);  // NULL everywhere
    TVRXIndexDefs defs;
    for (const std::string& name : indexes) {
      const IndexSpec& spec = kIndexes.at(name);
      pelvaro::test::AddIndexDef(defs, name, spec.columns, spec.directions, spec.cases);
    }
    TVRXConstraintDefs constraints;
    NewCursor("F").CreateTable(fields, defs, constraints);
    TVRXLocalCursor& writer = Open();
    std::span<uint8_t> buffer = Buffer(writer);
    for (const Member& m : kMembers) {
      writer.InitRecord(buffer, true);
      writer.SetFieldValue(Text(m.name), kName, buffer);
      writer.SetFieldValue(m.age ? Int(*m.age) : TVRXVariant(), kAge, buffer);
      writer.SetFieldValue(m.club ? Text(m.club) : TVRXVariant(), kClub, buffer);
      writer.Post(true);
      ASSERT_EQ(writer.lastResult, 0);
    }
  }

  TVRXLocalSession& Session(size_t i = 0) {
    while (sessions.size() <= i) sessions.push_back(std::make_unique<TVRXLocalSession>());
    return *sessions[i];
  }

  TVRXLocalCursor& NewCursor(const std::string& table, size_t session = 0) {
    cursors.push_back(std::make_unique<TVRXLocalCursor>());
    TVRXLocalCursor& cursor = *cursors.back();
    cursor.session = &Session(session);
    cursor.tableName = table;
    return cursor;
  }

  // An open cursor on F with its record buffer, on `index` ("" storage
  // order).
  TVRXLocalCursor& Open(const std::string& index = "", size_t session = 0) {
    TVRXLocalCursor& cursor = NewCursor("F", session);
    cursor.OpenTable();
    Buffer(cursor);
    if (!index.empty()) cursor.SetIndex(index);
    return cursor;
  }

  std::span<uint8_t> Buffer(TVRXLocalCursor& cursor) {
    std::unique_ptr<TVRXRecordBuffer>& buffer = buffers[&cursor];
    if (buffer == nullptr) buffer = std::make_unique<TVRXRecordBuffer>(cursor);
    cursor.recordBuffer = *buffer;
    return *buffer;
  }

  static TVRXVariant Text(const std::string& s) {
    TVRXVariant v;
    v.SetAsString(s);
    return v;
  }
  static TVRXVariant Int(int32_t i) {
    TVRXVariant v;
    v.SetAsInteger(i);
    return v;
  }
  static TVRXVariant Float(double d) {
    TVRXVariant v;
    v.SetAsFloat(d);
    return v;
  }

  // The ID of the record in the cursor's buffer.
  static int32_t IdOf(TVRXLocalCursor& cursor) {
    TVRXVariant v;
    cursor.GetFieldValue(v, kID, cursor.recordBuffer);
    return v.GetAsInteger();
  }

  // The IDs the cursor passes on its way from one end to the other.
  static std::vector<int32_t> Walk(TVRXLocalCursor& cursor, bool forward = true) {
    std::vector<int32_t> ids;
    if (forward)
      cursor.First();
    else
      cursor.Last();
    while (cursor.GetRecord(forward ? kNext : kPrior) == kRead) ids.push_back(IdOf(cursor));
    if (!forward) std::reverse(ids.begin(), ids.end());
    return ids;
  }

  static std::vector<int32_t> Sorted(std::vector<int32_t> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  // The first member, in the cursor's unrestricted order, that `pass`
  // accepts; 0 when none does.
  static int32_t FirstInOrder(const std::vector<int32_t>& order,
                              const std::function<bool(const Member&)>& pass) {
    for (int32_t id : order)
      if (pass(kMembers[static_cast<size_t>(id - 1)])) return id;
    return 0;
  }

  std::vector<std::unique_ptr<TVRXLocalSession>> sessions;
  std::map<TVRXLocalCursor*, std::unique_ptr<TVRXRecordBuffer>> buffers;
  std::vector<std::unique_ptr<TVRXLocalCursor>> cursors;
};

// --- index conditions of a filter -------------------------------------------------------

std::string KindName(TVRXConditionKind kind) {
  switch (kind) {
    case TVRXConditionKind::Equal: return "=";
    case TVRXConditionKind::Less: return "<";
    case TVRXConditionKind::Greater: return ">";
    case TVRXConditionKind::LessOrEqual: return "<=";
    case TVRXConditionKind::GreaterOrEqual: return ">=";
    default: return "none";
  }
}

class ConditionTest : public FilterFixture {
 protected:
  void SetUp() override { MakeTable(kAllIndexes); }

  // "ByClubAge = A,5 removable": the index, the kind, the key values of the
  // key fields the condition fixes, and whether it may stand in for its
  // nodes ("kept" when they keep testing). Checks the source lists too.
  std::vector<std::string> Describe(TVRXLocalCursor& cursor, TVRXCursorFilter& filter,
                                    int32_t sessionID) {
    TVRXScanSearchConditionArray conditions;
    filter.DeriveIndexConditions(conditions, sessionID);
    std::vector<std::string> out;
    const TVRXIndexDefs& defs = cursor.GetIndexDefs();
    for (int32_t i = 0; i < conditions.Count(); ++i) {
      const TVRXScanSearchCondition& c = conditions[i];
      EXPECT_EQ(c.SourceNodes.size(), static_cast<size_t>(c.KeyFieldCount));
      EXPECT_EQ(c.SourceExpressions.size(), c.SourceNodes.size());
      for (TVRXScanExpression* e : c.SourceExpressions) EXPECT_EQ(e, &filter);
      EXPECT_EQ(c.KeySize(), cursor.dataSize);
      const TVRXIndexDef& index = defs.Index(defs.IndexOfID(c.IndexID));
      std::string key;
      for (int32_t k = 0; k < c.KeyFieldCount; ++k) {
        const int32_t field = cursor.physicalFieldDefs.IndexOfName(index.Columns()[k].FieldName);
        TVRXVariant v;
        const bool present = cursor.GetFieldValue(v, field, true, c.Key);
        key += (k > 0 ? "," : "") + (present ? v.GetAsString() : std::string("NULL"));
      }
      out.push_back(index.Name() + " " + KindName(c.Kind) + " " + key + " " +
                    (c.Removable ? "removable" : "kept"));
    }
    return out;
  }
};

struct ConditionCase {
  const char* filter;
  bool caseInsensitive;
  bool partial;
  std::vector<std::string> conditions;
};

TEST_F(ConditionTest, FilterGivesItsIndexConditions) {
  const std::vector<ConditionCase> cases = {
      // Ranges; a descending key field mirrors the kind. Under SQL NULL
      // rules a range that takes in the NULL keys (first ascending, last
      // descending) cannot stand in for Age < 5, which rejects NULL.
      {"Age > 5", false, false, {"ByAge > 5 removable", "ByAgeDesc < 5 removable"}},
      {"5 < Age", false, false, {"ByAge > 5 removable", "ByAgeDesc < 5 removable"}},
      {"Age >= 5", false, false, {"ByAge >= 5 removable", "ByAgeDesc <= 5 removable"}},
      {"Age < 5", false, false, {"ByAge < 5 kept", "ByAgeDesc > 5 kept"}},
      {"5 >= Age", false, false, {"ByAge <= 5 kept", "ByAgeDesc >= 5 kept"}},
      {"Age = 5", false, false, {"ByAge = 5 removable", "ByAgeDesc = 5 removable"}},
      {"Age IS NULL", false, false, {"ByAge = NULL removable", "ByAgeDesc = NULL removable"}},
      {"Age IS NOT NULL", false, false,
       {"ByAge > NULL removable", "ByAgeDesc < NULL removable"}},
      // NULL = NULL is false under SQL rules: the range only bounds.
      {"Age = NULL", false, false, {"ByAge = NULL kept", "ByAgeDesc = NULL kept"}},
      // Values the key cannot hold, and a comparison made as text.
      {"Age = 5.5", false, false, {}},
      {"Age > 5.5", false, false, {}},
      {"Age < '30'", false, false, {}},
      {"'30' < Age", false, false, {}},
      // An empty text is NULL to the engine.
      {"Name = ''", false, false, {"ByName = NULL kept"}},
      {"Name = 'ABCDEFGHIJKLMNOPQ'", false, false, {}},
      // Only the top level and the conjuncts of a top AND.
      {"Age < 5 OR Age > 30", false, false, {}},
      {"NOT (Age = 5)", false, false, {}},
      {"(Age = 5 OR Club = 'A') AND Age > 1", false, false,
       {"ByAge > 1 removable", "ByAgeDesc < 1 removable"}},
      // Equalities extend an equality over the following key fields.
      {"Club = 'A' AND Age = 5", false, false,
       {"ByAge = 5 removable", "ByAgeDesc = 5 removable", "ByClubAge = A,5 removable"}},
      {"Age = 5 AND Club = 'A'", false, false,
       {"ByAge = 5 removable", "ByAgeDesc = 5 removable", "ByClubAge = A,5 removable"}},
      {"Club = 'A' AND Age > 5", false, false,
       {"ByAge > 5 removable", "ByAgeDesc < 5 removable", "ByClubAge = A removable"}},
      {"Club = 'A' AND Age = 5.5", false, false, {"ByClubAge = A removable"}},
      {"Club = 'B' AND Age IS NULL", false, false,
       {"ByAge = NULL removable", "ByAgeDesc = NULL removable", "ByClubAge = B,NULL removable"}},
      {"Club = NULL AND Age = 5", false, false,
       {"ByAge = 5 removable", "ByAgeDesc = 5 removable", "ByClubAge = NULL,5 kept"}},
      // Text: the index must ignore case exactly when the comparison does;
      // compared ignoring case the range only bounds.
      {"Name = 'John'", false, false, {"ByName = John removable"}},
      {"Name = 'John'", true, false, {"ByNameNoCase = John kept"}},
      {"Name = 'Jo*'", false, false, {"ByName = Jo* removable"}},
      {"Name = 'Jo*'", false, true, {}},
      // The index holds a prefix of Note: the range only bounds.
      {"Note = 'x'", false, false, {"ByNote = x kept"}},
  };
  TVRXLocalCursor& cursor = Open();
  for (const ConditionCase& c : cases) {
    SCOPED_TRACE(c.filter);
    TVRXExpression expression;
    expression.ParseFilter(&cursor, c.filter, c.caseInsensitive, c.partial);
    TVRXCursorFilter filter(expression, cursor);
    EXPECT_THAT(Describe(cursor, filter, cursor.CursorSessionID()),
                UnorderedElementsAreArray(c.conditions));
  }
}

TEST_F(ConditionTest, LocateTreatsNullAsAValue) {
  // Locate orders NULL before every value, as the index does: its ranges
  // select exactly what it accepts.
  TVRXLocalCursor& cursor = Open();
  TVRXExpression nullAge;
  const std::vector<TVRXVariant> nullValue{TVRXVariant()};
  nullAge.BuildLocate(&cursor, "Age", nullValue, false, false);
  TVRXCursorFilter byNull(nullAge, cursor);
  EXPECT_THAT(Describe(cursor, byNull, cursor.CursorSessionID()),
              UnorderedElementsAreArray({"ByAge = NULL removable", "ByAgeDesc = NULL removable"}));

  TVRXExpression below;
  below.BuildLocateValue(&cursor, "Age", Int(5), eoLess);
  TVRXCursorFilter byBelow(below, cursor);
  EXPECT_THAT(Describe(cursor, byBelow, cursor.CursorSessionID()),
              UnorderedElementsAreArray({"ByAge < 5 removable", "ByAgeDesc > 5 removable"}));

  TVRXExpression pair;
  const std::vector<TVRXVariant> values{Text("B"), TVRXVariant()};
  pair.BuildLocate(&cursor, "Club;Age", values, false, false);
  TVRXCursorFilter byPair(pair, cursor);
  EXPECT_THAT(Describe(cursor, byPair, cursor.CursorSessionID()),
              UnorderedElementsAreArray({"ByAge = NULL removable", "ByAgeDesc = NULL removable",
                                         "ByClubAge = B,NULL removable"}));
}

TEST_F(ConditionTest, TemporaryIndexServesOnlyItsSession) {
  TVRXLocalCursor& cursor = Open();
  std::string sortIndex;
  cursor.CreateSortIndex({"ID"}, {"ASC"}, sortIndex, {"CASE"});
  ASSERT_FALSE(sortIndex.empty());
  TVRXExpression expression;
  expression.ParseFilter(&cursor, "ID = 3", false, false);
  TVRXCursorFilter filter(expression, cursor);
  const int32_t owner = cursor.CursorSessionID();
  EXPECT_THAT(Describe(cursor, filter, owner), ElementsAreArray({sortIndex + " = 3 removable"}));
  EXPECT_THAT(Describe(cursor, filter, owner + 1), ::testing::IsEmpty());
}

TEST_F(ConditionTest, DetachedNodesCountAsTrue) {
  TVRXLocalCursor& cursor = Open();
  // Age 3 in club A.
  std::vector<uint8_t> record(static_cast<size_t>(cursor.dataSize));
  cursor.InitRecord(record, false);
  cursor.SetFieldValue(Int(3), kAge, record);
  cursor.SetFieldValue(Text("A"), kClub, record);

  TVRXExpression both;
  both.ParseFilter(&cursor, "Age > 5 AND Club = 'A'", false, false);
  TVRXCursorFilter filter(both, cursor);
  const std::vector<TVRXExprNode*> nodes = both.IndexCandidates();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_FALSE(filter.Accepts(record));
  filter.DetachNode(nodes[0]);
  EXPECT_TRUE(filter.Accepts(record));
  EXPECT_FALSE(filter.IsEmpty());
  filter.DetachNode(nodes[1]);
  EXPECT_TRUE(filter.IsEmpty());
  filter.AttachNodes();
  EXPECT_FALSE(filter.Accepts(record));
  EXPECT_FALSE(filter.IsEmpty());
  // A node of another expression is not this filter's to detach.
  filter.DetachNode(&record);
  EXPECT_FALSE(filter.Accepts(record));

  TVRXExpression single;
  single.ParseFilter(&cursor, "Age > 5", false, false);
  TVRXCursorFilter root(single, cursor);
  EXPECT_FALSE(root.Accepts(record));
  root.DetachNode(single.Root());
  EXPECT_TRUE(root.IsEmpty());
  EXPECT_TRUE(root.Accepts(record));
  root.AttachNodes();
  EXPECT_FALSE(root.Accepts(record));

  // A NULL result rejects (the name is NULL); an expression without a
  // tree accepts.
  for (const char* text : {"Name BETWEEN 'a' AND 'z'", "NOT (Name BETWEEN 'a' AND 'z')"}) {
    TVRXExpression unknown;
    unknown.ParseFilter(&cursor, text, false, false);
    EXPECT_FALSE(TVRXCursorFilter(unknown, cursor).Accepts(record)) << text;
  }
  TVRXExpression none;
  TVRXCursorFilter empty(none, cursor);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(empty.Accepts(record));
}

// --- filters and searches through cursors, with every kind of index ----------------------

struct Setup {
  const char* label;
  std::vector<std::string> indexes;
  const char* current;  // the cursor's index, "" for storage order
};

const Setup kSetups[] = {
    {"NoIndex", {}, ""},
    {"Age", {"ByAge"}, ""},
    {"AgeDesc", {"ByAgeDesc"}, ""},
    {"AgeCurrent", {"ByAge"}, "ByAge"},
    {"AgeDescCurrent", {"ByAgeDesc"}, "ByAgeDesc"},
    {"ClubAge", {"ByClubAge"}, ""},
    {"ClubAgeOnNameOrder", {"ByClubAge", "ByName"}, "ByName"},
    {"Names", {"ByName", "ByNameNoCase"}, ""},
    {"NamesCurrent", {"ByName", "ByNameNoCase"}, "ByNameNoCase"},
    {"Everything", kAllIndexes, "ByAge"},
};

class CursorFilterTest : public FilterFixture, public ::testing::WithParamInterface<Setup> {
 protected:
  void SetUp() override { MakeTable(GetParam().indexes); }
  TVRXLocalCursor& OpenCursor() { return Open(GetParam().current); }
};

struct FilterCase {
  const char* filter;
  bool caseInsensitive;
  bool partial;
  std::vector<int32_t> ids;
};

const std::vector<FilterCase> kFilterCases = {
    {"Age > 5", false, false, {2, 5, 8, 10}},
    {"5 < Age", false, false, {2, 5, 8, 10}},
    {"Age >= 5", false, false, {1, 2, 5, 7, 8, 10}},
    {"30 > Age", false, false, {1, 2, 3, 6, 7, 8}},
    // NULL ages never pass a comparison, whatever the index holds.
    {"Age < 5", false, false, {3, 6}},
    {"Age <= 5", false, false, {1, 3, 6, 7}},
    {"Age = 5", false, false, {1, 7}},
    {"Age = 5 AND Age = 5", false, false, {1, 7}},
    {"Age = 5 AND Age = 6", false, false, {}},
    {"Age > 30 AND Age < 20", false, false, {}},
    {"Age > 4 AND Age < 8", false, false, {1, 2, 7}},
    {"Age >= 5 AND Age <= 5", false, false, {1, 7}},
    {"Age IS NULL", false, false, {4, 9}},
    {"Age IS NOT NULL", false, false, {1, 2, 3, 5, 6, 7, 8, 10}},
    {"Age = NULL", false, false, {}},
    {"Age <> 5", false, false, {2, 3, 4, 5, 6, 8, 9, 10}},
    {"Age < 5 OR Age > 30", false, false, {3, 6, 10}},
    {"NOT (Age < 5)", false, false, {1, 2, 4, 5, 7, 8, 9, 10}},
    {"NOT Age >= 5 AND Club = 'A'", false, false, {3, 9}},
    {"Club = 'A' AND Age > 4", false, false, {1, 5, 8}},
    {"Club = 'A' AND Age = 5", false, false, {1}},
    {"Age = 5 AND Club = 'B'", false, false, {7}},
    {"Club = 'B' AND Age IS NULL", false, false, {4}},
    {"Age = 5.5", false, false, {}},
    {"Age > 5.5", false, false, {2, 5, 8, 10}},
    // Compared as text: "12" and "3" sort before "30", "5" after it.
    {"Age < '30'", false, false, {3, 6, 8}},
    {"Age > '30'", false, false, {1, 2, 7, 10}},
    {"Name = 'John'", false, false, {1}},
    {"Name = 'JOHN'", false, false, {}},
    {"Name = 'JOHN'", true, false, {1}},
    {"Name = 'Jo*'", false, false, {3}},
    {"Name = 'Jo*'", false, true, {1, 2, 3}},
    {"Name = 'Jo*'", true, true, {1, 2, 3, 10}},
    {"Name = 'jon' AND Age = 40", true, false, {10}},
    {"Club = 'a'", true, false, {1, 3, 5, 8, 9}},
};

TEST_P(CursorFilterTest, FilterSelectsTheSameRecordsWhateverTheIndex) {
  TVRXLocalCursor& cursor = OpenCursor();
  for (const FilterCase& c : kFilterCases) {
    SCOPED_TRACE(std::string(c.filter) + (c.caseInsensitive ? " (no case)" : "") +
                 (c.partial ? " (partial)" : ""));
    cursor.SetFilter(c.filter, c.caseInsensitive, c.partial);
    EXPECT_EQ(cursor.GetRecordCount(), static_cast<int64_t>(c.ids.size()));
    EXPECT_THAT(Sorted(Walk(cursor)), ElementsAreArray(c.ids));
    EXPECT_THAT(Sorted(Walk(cursor, false)), ElementsAreArray(c.ids));
  }
}

TEST_P(CursorFilterTest, FilterKeepsTheCursorsOrder) {
  TVRXLocalCursor& cursor = OpenCursor();
  const std::vector<int32_t> order = Walk(cursor);
  cursor.SetFilter("Age > 5", false, false);
  std::vector<int32_t> expected;
  for (int32_t id : order)
    if (kMembers[static_cast<size_t>(id - 1)].age.value_or(0) > 5) expected.push_back(id);
  EXPECT_THAT(Walk(cursor), ElementsAreArray(expected));
  EXPECT_THAT(Walk(cursor, false), ElementsAreArray(expected));
}

TEST_P(CursorFilterTest, ContradictionReadsNoRecord) {
  TVRXLocalCursor& cursor = OpenCursor();
  // An index whose first key field is Age proves them empty.
  const bool indexedAge =
      std::any_of(GetParam().indexes.begin(), GetParam().indexes.end(),
                  [](const std::string& i) { return i == "ByAge" || i == "ByAgeDesc"; });
  for (const char* text : {"Age > 30 AND Age < 20", "Age = 5 AND Age = 6"}) {
    SCOPED_TRACE(text);
    cursor.SetFilter(text, false, false);
    const int64_t before = cursor.TableData()->RecordsReadByNavigation();
    EXPECT_EQ(cursor.GetRecordCount(), 0);
    cursor.First();
    EXPECT_EQ(cursor.GetRecord(kNext), kEOF);
    if (indexedAge) {
      EXPECT_EQ(cursor.TableData()->RecordsReadByNavigation(), before);
    }
  }
}

struct LocateCase {
  const char* fields;
  std::vector<TVRXVariant> values;
  bool partial;
  bool caseInsensitive;
  std::function<bool(const Member&)> pass;
};

TEST_P(CursorFilterTest, LocateFindsTheFirstMatchInOrder) {
  using V = std::vector<TVRXVariant>;
  auto nameIs = [](const char* n) {
    return [n](const Member& m) { return std::string(m.name) == n; };
  };
  auto lower = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  const std::vector<LocateCase> cases = {
      {"Name", V{Text("Joan")}, false, false, nameIs("Joan")},
      {"Age", V{Int(40)}, false, false, [](const Member& m) { return m.age == 40; }},
      // Locate's NULL is a value: it finds the NULL ages.
      {"Age", V{TVRXVariant()}, false, false, [](const Member& m) { return !m.age; }},
      {"club; age", V{Text("A"), Int(5)}, false, false,
       [](const Member& m) { return m.club && std::string(m.club) == "A" && m.age == 5; }},
      {"Club;Age", V{Text("B"), TVRXVariant()}, false, false,
       [](const Member& m) { return m.club && std::string(m.club) == "B" && !m.age; }},
      {"Name", V{Text("JOHN")}, false, true, nameIs("John")},
      {"Name", V{Text("JOHN")}, false, false, [](const Member&) { return false; }},
      {"Name", V{Text("JO")}, true, true,
       [&](const Member& m) { return lower(m.name).rfind("jo", 0) == 0; }},
      {"Age", V{Float(5.5)}, false, false, [](const Member&) { return false; }},
  };
  TVRXLocalCursor& cursor = OpenCursor();
  const std::vector<int32_t> order = Walk(cursor);
  for (const LocateCase& c : cases) {
    SCOPED_TRACE(c.fields);
    // Stand on the third record of the order.
    cursor.First();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    const int32_t start = IdOf(cursor);
    const int32_t expected = FirstInOrder(order, c.pass);
    EXPECT_EQ(cursor.Locate(c.fields, c.values, c.partial, c.caseInsensitive), expected != 0);
    if (expected != 0) {
      EXPECT_EQ(IdOf(cursor), expected);
    }
    // The cursor stands on the record found, or where it stood.
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IdOf(cursor), expected != 0 ? expected : start);
  }
}

TEST_P(CursorFilterTest, LocateValueComparesAsAsked) {
  struct Case {
    const char* field;
    int32_t option;
    TVRXVariant value;
    std::function<bool(const Member&)> pass;
  };
  // NULL is a value below every other here, as in Locate.
  const std::vector<Case> cases = {
      {"Age", eoEqual, Int(7), [](const Member& m) { return m.age == 7; }},
      {"age", eoGreater, Int(30), [](const Member& m) { return m.age && *m.age > 30; }},
      {"Age", eoGreaterOrEqual, Int(30), [](const Member& m) { return m.age && *m.age >= 30; }},
      {"Age", eoLess, Int(3), [](const Member& m) { return !m.age || *m.age < 3; }},
      {"Age", eoEqual, TVRXVariant(), [](const Member& m) { return !m.age; }},
      {"Age", eoNotEqual, Int(5), [](const Member& m) { return m.age != 5; }},
      {"Name", eoEqual, Text("Zoe"), [](const Member& m) { return std::string(m.name) == "Zoe"; }},
      {"Age", eoGreater, Int(40), [](const Member&) { return false; }},
  };
  TVRXLocalCursor& cursor = OpenCursor();
  const std::vector<int32_t> order = Walk(cursor);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " +
                 std::string(OperatorName(static_cast<uint8_t>(c.option))));
    cursor.First();
    ASSERT_EQ(cursor.GetRecord(kNext), kRead);
    const int32_t start = IdOf(cursor);
    const int32_t expected = FirstInOrder(order, c.pass);
    EXPECT_EQ(cursor.LocateValue(c.field, c.option, c.value), expected != 0);
    ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
    EXPECT_EQ(IdOf(cursor), expected != 0 ? expected : start);
  }
}

TEST_P(CursorFilterTest, LocateHonoursTheCursorsFilters) {
  TVRXLocalCursor& cursor = OpenCursor();
  cursor.SetFilter("Age > 5", false, false);
  EXPECT_FALSE(cursor.Locate("Name", {Text("John")}, false, false));  // Age 5
  EXPECT_TRUE(cursor.Locate("Name", {Text("Joan")}, false, false));
  EXPECT_EQ(IdOf(cursor), 2);
  EXPECT_FALSE(cursor.LocateValue("Age", eoEqual, TVRXVariant()));

  auto extra = std::make_unique<TVRXExpression>();
  extra->ParseFilter(nullptr, "Club = 'A'", false, false);
  cursor.SetExtraFilter(std::move(extra));
  EXPECT_FALSE(cursor.Locate("Name", {Text("Joan")}, false, false));  // club B
  EXPECT_TRUE(cursor.LocateValue("Age", eoGreater, Int(5)));
  const int32_t found = IdOf(cursor);
  const std::vector<int32_t> passing = Walk(cursor);
  EXPECT_THAT(Sorted(passing), ElementsAreArray({5, 8}));
  EXPECT_EQ(found, passing.front());
}

TEST_P(CursorFilterTest, CountsFollowTheFilters) {
  TVRXLocalCursor& cursor = OpenCursor();
  EXPECT_EQ(cursor.GetRecordCount(), 10);
  cursor.SetFilter("Age > 5", false, false);
  EXPECT_EQ(cursor.GetRecordCount(), 4);
  cursor.SetFilter("Age < 5", false, false);
  EXPECT_EQ(cursor.GetRecordCount(), 2);

  auto extra = std::make_unique<TVRXExpression>();
  extra->ParseFilter(nullptr, "Club = 'A'", false, false);
  cursor.SetExtraFilter(std::move(extra));
  EXPECT_TRUE(cursor.HasFilter());
  EXPECT_EQ(cursor.GetRecordCount(), 1);  // Jo*
  cursor.ClearFilter();
  EXPECT_EQ(cursor.GetRecordCount(), 5);
  cursor.SetExtraFilter(nullptr);
  EXPECT_FALSE(cursor.HasFilter());
  EXPECT_EQ(cursor.GetRecordCount(), 10);

  // The record filter of the dataset comes after the expressions.
  cursor.onFilterRecord = [&cursor](void* context, std::span<const uint8_t> record) {
    EXPECT_EQ(context, &cursor);
    TVRXVariant name;
    cursor.GetFieldValue(name, kName, record);
    return name.GetAsString().rfind("J", 0) == 0;
  };
  cursor.filterContext = &cursor;
  cursor.SetFilter("Age > 5", false, false);
  EXPECT_THAT(Sorted(Walk(cursor)), ElementsAreArray({2}));
  EXPECT_EQ(cursor.GetRecordCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Indexes, CursorFilterTest, ::testing::ValuesIn(kSetups),
                         [](const ::testing::TestParamInfo<Setup>& info) {
                           return std::string(info.param.label);
                         });

// --- setting filters ----------------------------------------------------------------

class SetFilterTest : public FilterFixture {
 protected:
  void SetUp() override { MakeTable({"ByAge"}); }
};

TEST_F(SetFilterTest, AFilterThatFailsLeavesTheOldOne) {
  TVRXLocalCursor& cursor = Open();
  cursor.SetFilter("Age > 5", false, false);
  EXPECT_EQ(cursor.GetRecordCount(), 4);
  EXPECT_EQ(MessageOf([&] { cursor.SetFilter("Age >", false, false); }),
            "Unexpected end of SQL command found at line 1, column 5 - Native error: 30082");
  EXPECT_EQ(MessageOf([&] { cursor.SetFilter("Nope = 1", false, false); }),
            "Field 'Nope' not found - Native error: 30070");
  EXPECT_EQ(MessageOf([&] { cursor.SetFilter("   ", false, false); }),
            "Blank SQL command - Native error: 30095");
  EXPECT_EQ(cursor.GetRecordCount(), 4);
  EXPECT_THAT(Sorted(Walk(cursor)), ElementsAreArray({2, 5, 8, 10}));

  auto extra = std::make_unique<TVRXExpression>();
  extra->ParseFilter(nullptr, "Club = 'A'", false, false);
  cursor.SetExtraFilter(std::move(extra));
  auto wrong = std::make_unique<TVRXExpression>();
  wrong->ParseFilter(nullptr, "Nope = 'A'", false, false);
  EXPECT_EQ(MessageOf([&] { cursor.SetExtraFilter(std::move(wrong)); }),
            "Field 'Nope' not found - Native error: 30070");
  EXPECT_EQ(cursor.GetRecordCount(), 2);

  cursor.SetFilter("", false, false);
  EXPECT_EQ(cursor.filter, nullptr);
  EXPECT_EQ(cursor.GetRecordCount(), 5);
}

TEST_F(SetFilterTest, NamesResolveThroughTheVisibleFields) {
  TVRXLocalCursor& cursor = Open();
  cursor.SetProjection({"ID", "Name", "Age"}, {"", "Who", ""});
  cursor.SetFilter("Who = 'Joan' OR Name = 'Zoe'", false, false);
  EXPECT_THAT(Sorted(Walk(cursor)), ElementsAreArray({2, 7}));
  EXPECT_TRUE(cursor.Locate("Who", {Text("Zoe")}, false, false));
  EXPECT_EQ(IdOf(cursor), 7);
}

TEST_F(SetFilterTest, SearchErrorsKeepThePosition) {
  TVRXLocalCursor& cursor = Open();
  cursor.First();
  ASSERT_EQ(cursor.GetRecord(kNext), kRead);
  EXPECT_EQ(MessageOf([&] { cursor.Locate("Name;Age", {Text("x")}, false, false); }),
            "Count of FieldNames (2) not equal counts of KeyValues (1) - Native error: 30081");
  EXPECT_EQ(MessageOf([&] { cursor.Locate("Nope", {Text("x")}, false, false); }),
            "Field 'NOPE' not found - Native error: 30070");
  EXPECT_EQ(MessageOf([&] { cursor.LocateValue("Age", eoNot, Int(1)); }),
            "Unknown operator: 'NOT' - Native error: 30068");
  EXPECT_EQ(MessageOf([&] { cursor.LocateValue("Age", 300, Int(1)); }),
            "Unknown operator: 'unknown' - Native error: 30068");
  ASSERT_EQ(cursor.GetRecord(kCurrent), kRead);
  EXPECT_EQ(IdOf(cursor), 1);
}

}  // namespace
}  // namespace vrx
