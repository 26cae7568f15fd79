// The shell's table commands, over cursors of the shell's session:
//   .schema [TABLE]          each table as a CREATE TABLE statement: fields
//                            with their declared type and size, NOT NULL and
//                            value ranges, then the indexes (primary, unique,
//                            plain) with each column's direction and case
//   .dump [TABLE]            the records in storage order, one line each,
//                            fields separated by TAB, NULL as \N, and TAB,
//                            line feed and backslash in values as \t, \n,
//                            \\; without TABLE every
//                            table, each after a line "-- TABLE name"
//   .import CSVFILE TABLE    appends the records of a CSV file in one
//                            transaction (VRXCsv.h); a missing table is
//                            created with one STRING field per column,
//                            named by the header row, as wide as its longest
//                            value (at least 1). Refused CSV text, a record
//                            of the wrong width or a record the table does
//                            not take leaves the database as before.
//   .indexes TABLE           the index names, one a line
//   .count TABLE             the number of records
//   .range TABLE INDEX FROM TO
//                            as .dump, the records whose first field of
//                            INDEX lies in [FROM, TO] as the index compares
//                            (its direction and case), in index order;
//                            FROM and TO are converted to that field's
//                            type, a missing bound is open. A NULL lies in
//                            no range.
//   .filter TABLE EXPRESSION as .dump, the records for which the SQL
//                            expression is true (a NULL is not), case
//                            sensitive, in storage order
// Failures are engine exceptions or std::runtime_error with the message the
// shell prints.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace vrx {
class TVRXLocalSession;
}

namespace vrx::shell {

// `table` empty = every table, in creation order.
void PrintSchema(TVRXLocalSession& session, const std::string& table, std::ostream& out);
void DumpRecords(TVRXLocalSession& session, const std::string& table, std::ostream& out);
void PrintIndexes(TVRXLocalSession& session, const std::string& table, std::ostream& out);
void PrintCount(TVRXLocalSession& session, const std::string& table, std::ostream& out);
// `from`/`to` empty = open bound.
void DumpRange(TVRXLocalSession& session, const std::string& table, const std::string& index,
               const std::optional<std::string>& from, const std::optional<std::string>& to,
               std::ostream& out);
void DumpFiltered(TVRXLocalSession& session, const std::string& table,
                  const std::string& expression, std::ostream& out);
// Returns the number of records appended.
int64_t ImportCsv(TVRXLocalSession& session, const std::string& csvFile, const std::string& table);

// A value as .dump writes it: TAB, line feed and backslash escaped.
std::string EscapeDumpValue(const std::string& value);

}  // namespace vrx::shell
