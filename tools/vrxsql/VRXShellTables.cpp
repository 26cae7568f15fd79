#include "tools/vrxsql/VRXShellTables.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
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

void DumpTable(TVRXLocalSession& session, const std::string& table, std::ostream& out) {
  TableReader reader(session, table);
  TVRXLocalCursor& cursor = reader.cursor;
  TVRXVariant value;
  cursor.First();
  while (cursor.GetRecord(TVRXReadRequest::kNext) == TVRXReadRequest::kFound) {
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
