// The CSV reader of .import: RFC 4180 quoting, line breaks of every kind,
// NULL for empty unquoted fields, and the line named for text that is not
// UTF-8 or is badly quoted.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/vrxsql/VRXCsv.h"

namespace vrx::shell {
namespace {

using Fields = std::vector<std::optional<std::string>>;

TEST(VrxsqlCsvTest, RecordsAndFields) {
  const std::optional<std::string> null;
  const struct {
    const char* what;
    std::string text;
    std::vector<std::pair<int64_t, Fields>> records;
  } cases[] = {
      {"empty text", "", {}},
      {"LF, no break at the end", "a,b\nc,d", {{1, {"a", "b"}}, {2, {"c", "d"}}}},
      {"CR LF and a break at the end", "a,b\r\nc,d\r\n", {{1, {"a", "b"}}, {2, {"c", "d"}}}},
      {"lone CR", "a\rb\r", {{1, {"a"}}, {2, {"b"}}}},
      {"empty fields are NULL, quoted empty is text", ",\"\",x,\n", {{1, {null, "", "x", null}}}},
      {"quotes hold commas, breaks and doubled quotes",
       "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\"\nnext\n",
       {{1, {"a,b", "say \"hi\"", "two\nlines"}}, {3, {"next"}}}},
      {"blank line is a record of one NULL", "a\n\nb\n", {{1, {"a"}}, {2, {null}}, {3, {"b"}}}},
      {"byte order mark dropped, UTF-8 kept",
       "\xEF\xBB\xBFn\xC3\xA1zev,\xE2\x82\xAC\n",
       {{1, {"n\xC3\xA1zev", "\xE2\x82\xAC"}}}},
      {"blanks are part of a field", " a , b \n", {{1, {" a ", " b "}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<TCsvRecord> records = ParseCsv(c.text);
    ASSERT_EQ(records.size(), c.records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].line, c.records[i].first) << i;
      EXPECT_EQ(records[i].fields, c.records[i].second) << i;
    }
  }
}

TEST(VrxsqlCsvTest, RefusedTextNamesTheLine) {
  const struct {
    const char* what;
    std::string text;
    std::string message;
  } cases[] = {
      {"Latin-2 byte", "a\nb\n\xE1\n", "line 3: the text is not UTF-8"},
      {"cut sequence at the end", "a\n\xC3", "line 2: the text is not UTF-8"},
      {"overlong form", "\xC0\xAF\n", "line 1: the text is not UTF-8"},
      {"surrogate", "x\n\xED\xA0\x80\n", "line 2: the text is not UTF-8"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", "line 1: the text is not UTF-8"},
      {"quote inside a field", "a,b\nc,d\"e\n", "line 2: a quote inside an unquoted field"},
      {"text after the closing quote", "a\n\"b\"c,d\n",
       "line 2: text after the closing quote of a field"},
      {"quoted field never closed", "a\n\"b\nc\nd\n", "line 2: the quoted field is not closed"},
      {"after a quoted break", "\"a\nb\"x\n", "line 2: text after the closing quote of a field"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ParseCsv(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const ECsvError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace vrx::shell
