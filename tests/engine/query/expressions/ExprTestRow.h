// A row of named values that expressions bind to in the tests: the
// smallest TVRXExprRowSource, standing for a cursor's record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/query/expressions/VRXExpression.h"
#include "engine/query/lexer/VRXLexer.h"

namespace vrx::test {

class TestRow : public TVRXExprRowSource {
 public:
  struct Column {
    std::string name;
    TVRXAdvancedFieldType type;
    int32_t size;
    TVRXVariant value;
  };

  // Adds a column holding `value` converted to `type` (NULL when `null`).
  TestRow& Add(std::string name, TVRXAdvancedFieldType type, int32_t size, std::string_view text,
               bool null = false) {
    TVRXVariant v(BaseTypeOf(type));
    if (!null) {
      TVRXVariant s;
      s.SetAsString(text);
      s.ChangeType(BaseTypeOf(type));
      v = s;
    }
    columns_.push_back({std::move(name), type, size, std::move(v)});
    return *this;
  }
  TVRXVariant& Value(size_t i) { return columns_[i].value; }

  TVRXColumnLookup FindColumn(std::string_view table, std::string_view field,
                              TVRXExprColumn& column) const override {
    if (!table.empty() && !Same(table, "T")) return TVRXColumnLookup::NotFound;
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (!Same(columns_[i].name, field)) continue;
      column.number = static_cast<int32_t>(i);
      column.declaredType = columns_[i].type;
      column.storageType = BaseTypeOf(columns_[i].type);
      column.size = columns_[i].size;
      return TVRXColumnLookup::Found;
    }
    return TVRXColumnLookup::NotFound;
  }
  void ReadColumn(const TVRXExprColumn& column, const void*, TVRXVariant& value) const override {
    value = columns_[static_cast<size_t>(column.number)].value;
  }

 private:
  static bool Same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
  }
  std::vector<Column> columns_;
};

}  // namespace vrx::test
