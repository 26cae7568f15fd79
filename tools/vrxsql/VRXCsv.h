// Reading CSV text for the shell's .import: RFC 4180 records (fields
// separated by commas, records by CR LF, LF or CR, fields in double quotes
// holding commas, line breaks and doubled quotes), in UTF-8 with an
// optional byte order mark. An empty unquoted field is NULL; a quoted
// empty field is the empty text.
//
// The whole text is read before anything is imported, so a text that is
// refused changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vrx::shell {

struct TCsvRecord {
  int64_t line = 0;  // line the record starts on, from 1
  std::vector<std::optional<std::string>> fields;
};

// A text that is not CSV: the line (from 1) and what is wrong there.
class ECsvError : public std::runtime_error {
 public:
  ECsvError(int64_t line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
  int64_t Line() const { return line_; }

 private:
  int64_t line_;
};

// The records of `text`. Raises ECsvError for bytes that are not UTF-8, a
// quote inside an unquoted field, text after a closing quote and a quoted
// field the text ends in. A line break at the end of the text ends the
// last record and starts none.
std::vector<TCsvRecord> ParseCsv(std::string_view text);

}  // namespace vrx::shell
