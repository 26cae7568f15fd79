#include "tools/vrxsql/VRXShellTables.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/query/cursor/VRXCursor.h"
#include "engine/query/cursor/VRXSession.h"
#include "engine/storage/metadata/VRXConstraintDef.h"
#include "engine/values/VRXTypes.h"
#include "tools/vrxsql/VRXCsv.h"

namespace vrx::shell {

namespace {

// The name as the SQL text takes it: plain when it is a plain word, else
// in double quotes.
std::string SqlName(const std::string& name) {
  const bool plain = !name.empty() &&
                     (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_') &&
                     std::all_of(name.begin(), name.end(), [](char c) {
                       return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
                     });
  if (plain) return name;
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Literal(const TVRXVariant& value) {
  const std::string text = value.GetAsString();
  if (IsTextType(value.DataType())) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
  }
  return text;
}

// An open cursor on an existing table of the session, with a record
// buffer.
class TableReader {
 public:
  TableReader(TVRXLocalSession& session, const std::string& table) {
    if (!session.TableExists(table)) throw std::runtime_error("no such table: " + table);
    cursor.session = &session;
    cursor.tableName = table;
    cursor.OpenTable();
    buffer = std::make_unique<TVRXRecordBuffer>(cursor);
    cursor.recordBuffer = *buffer;
  }

  TVRXLocalCursor cursor;
  std::unique_ptr<TVRXRecordBuffer> buffer;
};

std::vector<std::string> TablesOf(TVRXLocalSession& session, const std::string& table) {
  if (!table.empty()) {
    if (!session.TableExists(table)) throw std::runtime_error("no such table: " + table);
    return {table};
  }
  std::vector<std::string> names;
  session.GetTableNames(names);
  return names;
}

void PrintTableSchema(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  TableReader reader(session, table);
  TVRXLocalCursor& cursor = reader.cursor;
  const TVRXFieldDefs& fields = cursor.fieldDefs;
  const TVRXConstraintDefs& constraints = cursor.constraintDefs;
  std::vector<std::string> lines;
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const TVRXFieldDef& field = fields.Field(i);
    std::string line =
        SqlName(field.Name()) + " " + std::string(AdvancedTypeName(field.DeclaredType()));
    if (field.Size() > 0) line += "(" + std::to_string(field.Size()) + ")";
    for (int32_t c = 0; c < constraints.Count(); ++c) {
      const TVRXConstraintDef& constraint = constraints.Constraint(c);
      if (!SameTableName(constraint.Target().Name, field.Name())) continue;
      if (constraint.Type() == kConstraintNotNull) line += " NOT NULL";
      if (constraint.Type() == kConstraintCheck) {
        const auto& check = static_cast<const TVRXConstraintDefCheck&>(constraint);
        if (!check.MinValue().IsNull()) line += " MINVALUE " + Literal(check.MinValue());
        if (!check.MaxValue().IsNull()) line += " MAXVALUE " + Literal(check.MaxValue());
      }
    }
    if (!field.DefaultValue().IsNull()) line += " DEFAULT " + Literal(field.DefaultValue());
    lines.push_back(std::move(line));
  }
  const TVRXIndexDefs& indexes = cursor.GetIndexDefs();
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const TVRXIndexDef& index = indexes.Index(i);
    if (index.Temporary()) continue;
    std::string line = index.Primary()  ? "PRIMARY KEY "
                       : index.Unique() ? "UNIQUE INDEX "
                                        : "INDEX ";
    line += SqlName(index.Name()) + " (";
    for (size_t c = 0; c < index.Columns().size(); ++c) {
      const TVRXIndexColumn& column = index.Columns()[c];
      if (c > 0) line += ", ";
      line += SqlName(column.FieldName) + (column.IsDescending() ? " DESC" : " ASC") +
              (column.IsCaseInsensitive() ? " NOCASE" : " CASE");
    }
    lines.push_back(line + ")");
  }
  out << "CREATE TABLE " << SqlName(table) << " (\n";
  for (size_t i = 0; i < lines.size(); ++i)
    out << "  " << lines[i] << (i + 1 < lines.size() ? ",\n" : "\n");
  out << ");\n";
}

// Writes the records the cursor reaches from its first one on, in its
// order, one .dump line each. With `skipNullField` (a physical field
// number, -1 none) a record whose field of that number is NULL is left out.
void WriteRecords(TableReader& reader, const std::string& table, std::ostream& out,
                  int32_t skipNullField = -1) {
  TVRXLocalCursor& cursor = reader.cursor;
  TVRXVariant value;
  cursor.First();
  while (cursor.GetRecord(TVRXReadRequest::kNext) == TVRXReadRequest::kFound) {
    if (skipNullField >= 0 && !cursor.GetFieldValue(value, skipNullField, true, *reader.buffer))
      continue;
    std::string line;
    for (int32_t i = 0; i < cursor.fieldDefs.Count(); ++i) {
      if (i > 0) line += '\t';
      if (!cursor.GetFieldValue(value, i, *reader.buffer))
        line += "\\N";
      else if (cursor.fieldDefs.Field(i).IsBlob())
        throw std::runtime_error("table " + table + ": field " + cursor.fieldDefs.Field(i).Name() +
                                 " holds a BLOB value, which .dump cannot write yet");
      else
        line += EscapeDumpValue(value.GetAsString());
    }
    out << line << '\n';
  }
}

void DumpTable(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  TableReader reader(session, table);
  WriteRecords(reader, table, out);
}

// One bound of .range: a memory record holding the value in the key field.
struct RangeBound {
  std::vector<uint8_t> key;  // empty: open
  bool exclusive = false;
};

// `text` converted to the type of physical field `fieldNo`. The field
// keeps at most its size of a text: a longer lower bound is cut, and the
// records holding exactly the cut text lie below it, so that bound becomes
// exclusive (an upper bound cut the same way still admits the same
// records).
RangeBound MakeRangeBound(TVRXLocalCursor& cursor, int32_t fieldNo,
                          const std::optional<std::string>& text, bool lower) {
  RangeBound bound;
  if (!text) return bound;
  const TVRXFieldDef& field = cursor.physicalFieldDefs.Field(fieldNo);
  const char* const which = lower ? "FROM" : "TO";
  // An empty text is stored as NULL, which lies in no range.
  if (text->empty())
    throw std::runtime_error(std::string(which) + " is empty; write - for an open bound");
  TVRXVariant value;
  value.SetAsString(*text);
  try {
    value.ChangeType(field.StorageType());
  } catch (const std::exception&) {
    throw std::runtime_error(std::string(which) + " '" + *text + "' does not convert to " +
                             std::string(AdvancedTypeName(field.DeclaredType())) + " (field " +
                             field.Name() + ")");
  }
  bound.key.assign(static_cast<size_t>(cursor.dataSize), 0);
  cursor.InitRecord(bound.key, false);
  cursor.SetFieldValue(value, fieldNo, bound.key, true);
  if (lower && IsTextType(field.StorageType())) {
    TVRXVariant stored;
    bound.exclusive = cursor.GetFieldValue(stored, fieldNo, true, bound.key) &&
                      stored.GetAsString() != value.GetAsString();
  }
  return bound;
}

}  // namespace

std::string EscapeDumpValue(const std::string& value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\t':
        escaped += "\\t";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\\':
        escaped += "\\\\";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

void PrintSchema(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  for (const std::string& name : TablesOf(session, table)) PrintTableSchema(session, name, out);
}

void DumpRecords(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  if (!table.empty()) {
    DumpTable(session, TablesOf(session, table).front(), out);
    return;
  }
  for (const std::string& name : TablesOf(session, table)) {
    out << "-- TABLE " << name << '\n';
    DumpTable(session, name, out);
  }
}

void PrintIndexes(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  TableReader reader(session, table);
  const TVRXIndexDefs& indexes = reader.cursor.GetIndexDefs();
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (!indexes.Index(i).Temporary()) out << indexes.Index(i).Name() << '\n';
}

void PrintCount(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  TableReader reader(session, table);
  out << reader.cursor.GetRecordCount() << '\n';
}

void DumpRange(TVRXLocalSession& session, const std::string& table, const std::string& index,
               const std::optional<std::string>& from, const std::optional<std::string>& to,
               std::ostream& out) {
  TableReader reader(session, table);
  TVRXLocalCursor& cursor = reader.cursor;
  const TVRXIndexDefs& indexes = cursor.GetIndexDefs();
  const int32_t position = indexes.IndexOfName(index);
  if (position < 0 || indexes.Index(position).Temporary() ||
      indexes.Index(position).Columns().empty())
    throw std::runtime_error("no such index: " + index + " on table " + table);
  const TVRXIndexDef& definition = indexes.Index(position);
  const TVRXIndexColumn& column = definition.Columns().front();
  const int32_t fieldNo = cursor.physicalFieldDefs.IndexOfName(column.FieldName);
  if (fieldNo < 0)
    throw std::runtime_error("index " + definition.Name() + " names a missing field " +
                             column.FieldName);
  RangeBound lower = MakeRangeBound(cursor, fieldNo, from, true);
  RangeBound upper = MakeRangeBound(cursor, fieldNo, to, false);
  cursor.SetIndex(definition.Name());
  // The range runs in index order: on a descending field it starts at the
  // upper bound.
  if (column.IsDescending()) std::swap(lower, upper);
  const int32_t startFields = lower.key.empty() ? 0 : 1;
  const int32_t endFields = upper.key.empty() ? 0 : 1;
  const bool startExclusive = lower.exclusive;
  const bool endExclusive = upper.exclusive;
  cursor.SetRange(std::move(lower.key), std::move(upper.key), endExclusive, startExclusive,
                  endFields, startFields);
  WriteRecords(reader, table, out, fieldNo);
}

void DumpFiltered(TVRXLocalSession& session, const std::string& table,
                  const std::string& expression, std::ostream& out) {
  TableReader reader(session, table);
  reader.cursor.SetFilter(expression, /*caseInsensitive=*/false, /*partialCompare=*/false);
  WriteRecords(reader, table, out);
}

int64_t ImportCsv(TVRXLocalSession& session, const std::string& csvFile, const std::string& table) {
  std::ifstream in(csvFile, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + csvFile);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<TCsvRecord> records;
  try {
    records = ParseCsv(text);
  } catch (const ECsvError& e) {
    throw std::runtime_error(csvFile + " " + e.what());
  }
  if (records.empty()) throw std::runtime_error(csvFile + " has no header row");
  const size_t columns = records.front().fields.size();
  for (const TCsvRecord& record : records)
    if (record.fields.size() != columns)
      throw std::runtime_error(csvFile + " line " + std::to_string(record.line) + ": " +
                               std::to_string(record.fields.size()) + " fields, the header has " +
                               std::to_string(columns));

  const bool create = !session.TableExists(table);
  if (create) {
    TVRXFieldDefs fields;
    for (size_t c = 0; c < columns; ++c) {
      const std::optional<std::string>& name = records.front().fields[c];
      if (!name)
        throw std::runtime_error(csvFile + " line 1: column " + std::to_string(c + 1) +
                                 " has no name");
      size_t width = 1;
      for (size_t r = 1; r < records.size(); ++r)
        if (records[r].fields[c]) width = std::max(width, records[r].fields[c]->size());
      fields.AddField(*name, TVRXAdvancedFieldType::String, static_cast<int32_t>(width));
    }
    TVRXIndexDefs indexes;
    TVRXConstraintDefs constraints;
    TVRXLocalCursor creator;
    creator.session = &session;
    creator.tableName = table;
    creator.CreateTable(fields, indexes, constraints);
  }
  // The table as it was made is dropped again when the records cannot go
  // in: nothing of the import is kept.
  const auto dropCreated = [&] {
    if (!create) return;
    try {
      TVRXLocalCursor dropper;
      dropper.session = &session;
      dropper.tableName = table;
      dropper.DeleteTable();
    } catch (...) {
      // The import's own failure is the one to report.
    }
  };
  int64_t appended = 0;
  try {
    TableReader writer(session, table);
    TVRXLocalCursor& cursor = writer.cursor;
    if (static_cast<size_t>(cursor.fieldDefs.Count()) != columns)
      throw std::runtime_error("table " + table + " has " +
                               std::to_string(cursor.fieldDefs.Count()) + " fields, " + csvFile +
                               " has " + std::to_string(columns) + " columns");
    session.StartTransaction();
    try {
      for (size_t r = 1; r < records.size(); ++r) {
        const TCsvRecord& record = records[r];
        const std::string at = csvFile + " line " + std::to_string(record.line) + ": ";
        cursor.InitRecord(*writer.buffer, true);
        try {
          for (size_t c = 0; c < columns; ++c) {
            TVRXVariant value;
            if (record.fields[c])
              value.SetAsString(*record.fields[c]);
            else
              value.SetNull();
            cursor.SetFieldValue(value, static_cast<int32_t>(c), *writer.buffer);
          }
        } catch (const std::exception& e) {
          throw std::runtime_error(at + e.what());
        }
        cursor.Post(true);
        if (cursor.lastResult != 0)
          throw std::runtime_error(at + (cursor.lastResult == crCheckFailed
                                             ? cursor.lastErrorText
                                             : CursorResultText(cursor.lastResult)));
        ++appended;
      }
      session.Commit(true);
    } catch (...) {
      if (session.inTransaction) {
        try {
          session.Rollback();
        } catch (...) {
        }
      }
      throw;
    }
  } catch (...) {
    dropCreated();
    throw;
  }
  return appended;
}

}  // namespace vrx::shell
