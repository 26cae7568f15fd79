// TVRXExpression: one parsed expression and what its callers do with it.
// The dataset filter and Locate build one over a cursor; the SQL statements
// parse conditions and values from their lexer; the relational operators
// bind them to their rows, evaluate them per row and accumulate aggregates.
//
// Parsing reads the lexer's current statement from its cursor: the cursor
// must stand on the first token of the expression and is left on the first
// token after it. Parse errors are EVRXException ending in "at line %d,
// column %d"; a failed parse leaves the expression without a tree.
//
// Ownership: the expression owns its tree; the cursor, operators and query
// context it is given are only used and must outlive it.
// Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/query/expressions/VRXExprNode.h"
#include "engine/query/expressions/VRXExprRow.h"
#include "engine/query/lexer/VRXLexer.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

class TVRXExpression {
 public:
  TVRXExpression() = default;
  ~TVRXExpression();
  TVRXExpression(const TVRXExpression&) = delete;
  TVRXExpression& operator=(const TVRXExpression&) = delete;

  TVRXExprNode* Root() const { return root_.get(); }
  void SetRoot(std::unique_ptr<TVRXExprNode> root) { root_ = std::move(root); }
  std::unique_ptr<TVRXExprNode> TakeRoot() { return std::move(root_); }

  // Options the parser applies to the comparisons it builds.
  bool CaseInsensitive() const { return caseInsensitive_; }
  void SetCaseInsensitive(bool on) { caseInsensitive_ = on; }
  // A string constant ending in "*" makes its comparison a prefix one.
  bool PartialCompare() const { return partialCompare_; }
  void SetPartialCompare(bool on) { partialCompare_ = on; }
  // SQL treatment of NULL in comparisons (true unless built by Locate).
  bool SqlNulls() const { return sqlNulls_; }
  void SetSqlNulls(bool on) { sqlNulls_ = on; }
  bool InMemory() const { return inMemory_; }
  const std::string& DatabaseName() const { return databaseName_; }
  TVRXExprRowSource* Cursor() const { return cursor_; }

  // A filter text over `cursor` (which may be nullptr: parse only): "Blank
  // SQL command" without tokens; the whole text must be one condition.
  void ParseFilter(TVRXExprRowSource* cursor, std::string_view text, bool caseInsensitive,
                   bool partialCompare);
  // A search condition; a top-level AND takes over the children of ANDs
  // directly below it. Bound and prepared when a cursor is set.
  void ParseCondition(TVRXExprQueryContext* query, TVRXLexer& lexer);
  // A value expression.
  void ParseValue(TVRXExprQueryContext* query, TVRXLexer& lexer);

  // Locate: `fieldNames` split at ";" (trimmed, upper-cased), one "="
  // comparison per name with its value, ANDed; SQL NULL rules off.
  // "Count of FieldNames (%d) not equal counts of KeyValues (%d)".
  void BuildLocate(TVRXExprRowSource* cursor, std::string_view fieldNames,
                   std::span<const TVRXVariant> values, bool partial, bool caseInsensitive);
  // One comparison of the field with `value` by `op` (eoEqual ..
  // eoLessOrEqual), SQL NULL rules off.
  void BuildLocateValue(TVRXExprRowSource* cursor, std::string_view fieldName,
                        const TVRXVariant& value, uint8_t op);

  // The root's value; nullptr for an empty expression. Unless `keepNull`,
  // a NULL result reads as false; a detached root reads as true.
  const TVRXVariant* GetValue(bool keepNull = false);
  // "Value is Null" for an empty expression.
  bool IsTrue();

  bool IsAggregate() const;
  void ResetAggregates();
  void Accumulate();
  void BindToOperators(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                       TVRXExprRowSource* outerCursor);
  // Binds, then prepares.
  void BindToCursor(TVRXExprRowSource* cursor, TVRXExprRowSource* op = nullptr,
                    TVRXExprRowSource* outerCursor = nullptr);
  // Sets the record, then prepares.
  void SetRecordBuffer(const void* buffer, bool outer = false);
  TVRXAdvancedFieldType GetDataType();
  int32_t GetDataSize();

  // No root, or a boolean root without children; also while the root, or
  // every conjunct of a root AND, is detached (TVRXExprNode::Detached).
  bool IsEmpty() const;
  bool IsFieldReference() const;
  // Table qualifier and name of a field root; "Node is not field" otherwise.
  void GetFieldName(std::string& table, std::string& field) const;

  // The nodes the navigation layer may turn into index conditions: the
  // root, or the children of a root AND. Nodes inside OR or NOT never are.
  std::vector<TVRXExprNode*> IndexCandidates() const;

  // Removes every "=" between a field of `left` and a field of `right`
  // from the root AND (or a root comparison), appending the two field
  // names to the lists; returns how many were taken.
  int32_t ExtractJoinConditions(TVRXExprRowSource* left, TVRXExprRowSource* right,
                                std::vector<std::string>& leftFields,
                                std::vector<std::string>& rightFields);

 private:
  std::unique_ptr<TVRXExprNode> root_;
  TVRXVariant result_;
  TVRXExprRowSource* cursor_ = nullptr;
  bool caseInsensitive_ = false;
  bool partialCompare_ = false;
  bool sqlNulls_ = true;
  bool inMemory_ = false;
  std::string databaseName_;
};

}  // namespace vrx
