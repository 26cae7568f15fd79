#include "tools/vrxsql/VRXCsv.h"

namespace vrx::shell {

namespace {

// The line of the first byte that does not belong to a well-formed UTF-8
// sequence (no overlong forms, no surrogates, nothing past U+10FFFF); 0
// when the text is UTF-8.
int64_t FirstNonUtf8Line(std::string_view text) {
  int64_t line = 1;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      if (c == '\n') ++line;
      ++i;
      continue;
    }
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return line;
    }
    if (i + static_cast<size_t>(length) > n) return line;
    if (p[i + 1] < low || p[i + 1] > high) return line;
    for (int k = 2; k < length; ++k)
      if ((p[i + static_cast<size_t>(k)] & 0xC0) != 0x80) return line;
    i += static_cast<size_t>(length);
  }
  return 0;
}

}  // namespace

std::vector<TCsvRecord> ParseCsv(std::string_view text) {
  if (const int64_t bad = FirstNonUtf8Line(text); bad != 0)
    throw ECsvError(bad, "the text is not UTF-8");
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  std::vector<TCsvRecord> records;
  int64_t line = 1;
  size_t i = 0;
  const size_t n = text.size();
  // Consumes a line break at i, if any: CR LF, LF or CR.
  const auto lineBreak = [&]() {
    if (i < n && text[i] == '\r') {
      ++i;
      if (i < n && text[i] == '\n') ++i;
      ++line;
      return true;
    }
    if (i < n && text[i] == '\n') {
      ++i;
      ++line;
      return true;
    }
    return false;
  };
  while (i < n) {
    TCsvRecord record;
    record.line = line;
    for (;;) {
      if (i < n && text[i] == '"') {
        const int64_t opened = line;
        std::string value;
        ++i;
        for (;;) {
          if (i >= n) throw ECsvError(opened, "the quoted field is not closed");
          const char c = text[i++];
          if (c == '"') {
            if (i < n && text[i] == '"') {
              value += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n' || (c == '\r' && (i >= n || text[i] != '\n'))) ++line;
          value += c;
        }
        if (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
          throw ECsvError(line, "text after the closing quote of a field");
        record.fields.emplace_back(std::move(value));
      } else {
        const size_t start = i;
        while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
          if (text[i] == '"') throw ECsvError(line, "a quote inside an unquoted field");
          ++i;
        }
        if (i == start)
          record.fields.emplace_back(std::nullopt);
        else
          record.fields.emplace_back(std::string(text.substr(start, i - start)));
      }
      if (i < n && text[i] == ',') {
        ++i;
        continue;
      }
      lineBreak();
      break;
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace vrx::shell
