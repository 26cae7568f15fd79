#include "tests/engine/query/cursor/TableCrashWorkload.h"

#include <stdexcept>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"

namespace vrx::test {

namespace {

// The changes of commit k on `state`: three inserts, an update and a
// delete of keys chosen from k.
struct Step {
  std::vector<int32_t> inserts;
  int32_t update = -1;
  int32_t remove = -1;
};

Step StepOf(int32_t k, const TTableState& state) {
  Step step;
  for (int32_t i = 0; i < 3; ++i) step.inserts.push_back(k * 3 + i);
  const int32_t span = k * 3;
  if (state.count((k * 5) % span) != 0) step.update = (k * 5) % span;
  if (state.count((k * 7 + 1) % span) != 0 && (k * 7 + 1) % span != step.update)
    step.remove = (k * 7 + 1) % span;
  return step;
}

void Apply(int32_t k, const Step& step, TTableState& state) {
  for (int32_t key : step.inserts) state[key] = {key % 7, "v" + std::to_string(key)};
  if (step.update >= 0) {
    auto& [g, v] = state[step.update];
    g = (g + 3) % 7;
    v = "u" + std::to_string(k) + "/" + std::to_string(step.update);
  }
  if (step.remove >= 0) state.erase(step.remove);
}

class Open {
 public:
  Open(TVRXLocalSession& session, const std::string& table) {
    cursor.session = &session;
    cursor.tableName = table;
    cursor.OpenTable();
    holder = std::make_unique<TVRXRecordBuffer>(cursor);
    buffer = *holder;
    cursor.recordBuffer = buffer;
  }
  int32_t Int(int32_t field) {
    TVRXVariant value;
    if (!cursor.GetFieldValue(value, field, buffer)) return -1;
    return static_cast<int32_t>(value.GetAsLargeInt());
  }
  void Set(int32_t field, const TVRXVariant& value) { cursor.SetFieldValue(value, field, buffer); }
  // Positions on the record whose field 0 is `key`; false when none.
  bool Find(int32_t key) {
    cursor.First();
    while (cursor.GetRecord(TVRXReadRequest::kNext) == 0)
      if (Int(0) == key) return true;
    return false;
  }
  void Check(const char* what) {
    if (cursor.lastResult != 0)
      throw std::runtime_error(std::string(what) + " failed: " + std::to_string(cursor.lastResult) +
                               " " + cursor.lastErrorText);
  }

  TVRXLocalCursor cursor;
  std::unique_ptr<TVRXRecordBuffer> holder;
  std::span<uint8_t> buffer;
};

TVRXVariant IntValue(int32_t v) {
  TVRXVariant value;
  value.SetAsInteger(v);
  return value;
}

TVRXVariant TextValue(const std::string& v) {
  TVRXVariant value;
  value.SetAsString(v);
  return value;
}

}  // namespace

TTableState ReplayTableWorkload(int32_t k) {
  TTableState state;
  for (int32_t i = 1; i <= k; ++i) Apply(i, StepOf(i, state), state);
  return state;
}

void PrepareTableWorkload(TVRXLocalSession& session) {
  if (!session.TableExists("T")) {
    TVRXFieldDefs fields;
    fields.AddField("K", TVRXAdvancedFieldType::Integer);
    fields.AddField("G", TVRXAdvancedFieldType::Integer);
    fields.AddField("V", TVRXAdvancedFieldType::String, 30);
    TVRXIndexDefs indexes;
    auto& unique = static_cast<TVRXIndexDef&>(indexes.InternalAddCreated());
    unique.SetName("ByK");
    unique.SetColumns({"K"}, {"ASC"}, {"CASE"});
    unique.SetUnique(true);
    auto& plain = static_cast<TVRXIndexDef&>(indexes.InternalAddCreated());
    plain.SetName("ByG");
    plain.SetColumns({"G"}, {"DESC"}, {"CASE"});
    TVRXConstraintDefs constraints;
    TVRXLocalCursor cursor;
    cursor.session = &session;
    cursor.tableName = "T";
    cursor.CreateTable(fields, indexes, constraints);
  }
  if (!session.TableExists("Stan")) {
    TVRXFieldDefs fields;
    fields.AddField("Commit", TVRXAdvancedFieldType::Integer);
    TVRXIndexDefs indexes;
    TVRXConstraintDefs constraints;
    {
      TVRXLocalCursor cursor;
      cursor.session = &session;
      cursor.tableName = "Stan";
      cursor.CreateTable(fields, indexes, constraints);
    }
    Open stan(session, "Stan");
    stan.cursor.InitRecord(stan.buffer, false);
    stan.Set(0, IntValue(0));
    stan.cursor.Post(true);
    stan.Check("the commit counter's insert");
  }
}

void RunTableWorkload(TVRXLocalSession& session, int32_t last) {
  Open table(session, "T");
  Open stan(session, "Stan");
  TTableState state;
  int32_t k = ReadTableWorkload(session, state);
  for (++k; k <= last; ++k) {
    const Step step = StepOf(k, state);
    session.StartTransaction();
    for (int32_t key : step.inserts) {
      table.cursor.InitRecord(table.buffer, false);
      table.Set(0, IntValue(key));
      table.Set(1, IntValue(key % 7));
      table.Set(2, TextValue("v" + std::to_string(key)));
      table.cursor.Post(true);
      table.Check("insert");
    }
    if (step.update >= 0) {
      if (!table.Find(step.update)) throw std::runtime_error("record to update not found");
      table.Set(1, IntValue((table.Int(1) + 3) % 7));
      table.Set(2, TextValue("u" + std::to_string(k) + "/" + std::to_string(step.update)));
      table.cursor.Post(false);
      table.Check("update");
    }
    if (step.remove >= 0) {
      if (!table.Find(step.remove)) throw std::runtime_error("record to delete not found");
      table.cursor.Delete();
      table.Check("delete");
    }
    stan.cursor.First();
    if (stan.cursor.GetRecord(TVRXReadRequest::kNext) != 0)
      throw std::runtime_error("no commit counter");
    stan.Set(0, IntValue(k));
    stan.cursor.Post(false);
    stan.Check("the commit counter's update");
    session.Commit(true);
    Apply(k, step, state);
  }
}

int32_t ReadTableWorkload(TVRXLocalSession& session, TTableState& records) {
  records.clear();
  Open table(session, "T");
  table.cursor.First();
  while (table.cursor.GetRecord(TVRXReadRequest::kNext) == 0) {
    TVRXVariant v;
    table.cursor.GetFieldValue(v, 2, table.buffer);
    if (!records.emplace(table.Int(0), std::make_pair(table.Int(1), v.GetAsString())).second)
      throw std::runtime_error("key " + std::to_string(table.Int(0)) + " stored twice");
  }
  Open stan(session, "Stan");
  stan.cursor.First();
  if (stan.cursor.GetRecord(TVRXReadRequest::kNext) != 0)
    throw std::runtime_error("no commit counter");
  return stan.Int(0);
}

}  // namespace vrx::test
