// Expression trees: the node base class, the operator codes and every node
// class. A tree is built by the parser (VRXExprParser.h) or by Locate,
// owned by a TVRXExpression, bound to the rows it reads and evaluated over
// and over; each evaluation overwrites the node's value.
//
// Ownership: a node owns its children; destroying a node destroys them.
// Not thread-safe: a tree is evaluated by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/query/expressions/VRXExprRow.h"
#include "engine/values/VRXDateFormat.h"
#include "engine/values/VRXTypes.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

// Operator codes; also how operators are named in messages.
enum TVRXExprOperator : uint8_t {
  eoNone = 0,
  eoEqual = 1,
  eoNotEqual = 2,
  eoGreater = 3,
  eoLess = 4,
  eoGreaterOrEqual = 5,
  eoLessOrEqual = 6,
  eoNot = 7,
  eoAnd = 8,
  eoOr = 9,
  eoIn = 10,
  eoNotIn = 11,
  eoExists = 12,
  eoBetween = 13,
  eoNotBetween = 14,
  eoLike = 15,
  eoNotLike = 16,
  eoIsNull = 17,
  eoIsNotNull = 18,
  eoSum = 21,
  eoNegate = 22,
  eoMultiply = 23,
  eoDivide = 24,
  eoConcat = 25,
  eoUpper = 26,
  eoLower = 27,
  eoTrim = 28,
  eoLTrim = 29,
  eoRTrim = 30,
  eoLength = 31,
  eoPos = 32,
  eoSubstring = 33,
  eoAggSum = 34,
  eoAggAvg = 35,
  eoAggMin = 36,
  eoAggMax = 37,
  eoAggCount = 38,
  eoAggCountAll = 39,
  eoSysDate = 40,
  eoCurrentDate = 41,
  eoCurrentTime = 42,
  eoToDate = 43,
  eoToString = 44,
  eoCast = 45,
  eoLastAutoinc = 46,
  eoMimeToBin = 47,
  eoRowNum = 48,
};

// The printed name of an operator code; "unknown" for codes without one.
std::string_view OperatorName(uint8_t op);

// Quantifiers of a comparison with a subquery.
enum TVRXQuantifier : uint8_t { eqNone = 0, eqAll = 1, eqAny = 2 };

// Native errors of the expression engine.
inline constexpr int32_t kErrExprUnknownOperator = 30068;
inline constexpr int32_t kErrExprCannotDetermineType = 30069;
inline constexpr int32_t kErrExprFieldNotFound = 30070;
inline constexpr int32_t kErrExprAmbiguousField = 30071;
inline constexpr int32_t kErrExprNotBound = 30072;
inline constexpr int32_t kErrExprValueIsNull = 30073;
inline constexpr int32_t kErrExprNotString = 30074;
inline constexpr int32_t kErrExprUnsupportedType = 30075;
inline constexpr int32_t kErrExprInvalidIndex = 30076;
inline constexpr int32_t kErrExprSubquery = 30077;
inline constexpr int32_t kErrExprNotNumeric = 30078;
inline constexpr int32_t kErrExprBadMime = 30079;
inline constexpr int32_t kErrExprNodeNotField = 30080;
inline constexpr int32_t kErrExprCountMismatch = 30081;

// Characters a string result without a known size may hold.
inline constexpr int32_t kDefaultStringSize = 4096;

class TVRXExprNode {
 public:
  explicit TVRXExprNode(uint8_t op) : operator_(op) {}
  virtual ~TVRXExprNode() = default;
  TVRXExprNode(const TVRXExprNode&) = delete;
  TVRXExprNode& operator=(const TVRXExprNode&) = delete;

  uint8_t Operator() const { return operator_; }
  int32_t ChildCount() const { return static_cast<int32_t>(children_.size()); }
  TVRXExprNode& Child(int32_t i) const { return *children_[static_cast<size_t>(i)]; }
  void AddChild(std::unique_ptr<TVRXExprNode> child);
  // Hands the children over (the node is left without any).
  std::vector<std::unique_ptr<TVRXExprNode>> TakeChildren();
  std::unique_ptr<TVRXExprNode> TakeChild(int32_t i);
  // Levels below and including this node.
  int32_t Depth() const { return depth_; }

  const TVRXVariant& Value() const { return value_; }
  bool CaseInsensitive() const { return caseInsensitive_; }
  void SetCaseInsensitive(bool on) { caseInsensitive_ = on; }
  bool Partial() const { return partial_; }
  void SetPartial(bool on) { partial_ = on; }
  // Set while an index range enforces the node during a scan: an AND
  // passes over a detached child, a detached root reads as true
  // (TVRXExpression). Only the root or a child of the root AND is ever
  // detached.
  bool Detached() const { return detached_; }
  void SetDetached(bool on) { detached_ = on; }

  // Called after binding; the base prepares the children.
  virtual void Prepare();
  // Evaluates the node into Value and returns it.
  virtual const TVRXVariant& GetValue() = 0;
  // True when the node or any child is an aggregate.
  virtual bool IsAggregate() const;
  virtual void ResetAggregate();
  virtual void Accumulate();
  // Binds field references to relational operators (`outerOperator` and
  // `outerCursor` belong to an enclosing statement, nullptr otherwise).
  virtual void BindToOperators(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                               TVRXExprRowSource* outerCursor);
  // Binds field references to a cursor.
  virtual void BindToCursor(TVRXExprRowSource* cursor, TVRXExprRowSource* op,
                            TVRXExprRowSource* outerCursor);
  // The record field references read (outer references when `outer`).
  virtual void SetRecordBuffer(const void* buffer, bool outer);
  virtual TVRXAdvancedFieldType GetDataType();
  virtual int32_t GetDataSize();
  virtual int32_t GetPrecision() { return 0; }
  // Every field the node reads is available in `op` or, as an outer
  // reference, in the outer context.
  virtual bool CanEvaluateOn(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                             TVRXExprRowSource* outerCursor);
  // Whether the node can become an index condition at `keyPosition`
  // following a condition of kind `soFar` (None at position 0).
  virtual bool CanUseIndex(int32_t keyPosition, TVRXScanKind soFar, int32_t session,
                           const TVRXExprIndexInfo& index);
  // The key field the node contributes at `keyPosition`; only after
  // CanUseIndex said yes. "Invalid index for search" for an index without
  // key fields.
  virtual TVRXIndexTerm IndexTerm(int32_t keyPosition, const TVRXExprIndexInfo& index);
  void AddScanCondition(TVRXScanConditionBuilder& builder, const TVRXExprIndexInfo& index,
                        TVRXExpression& owner);
  void ExtendScanCondition(TVRXScanConditionBuilder& builder, TVRXScanSearchCondition& condition,
                           int32_t keyPosition, const TVRXExprIndexInfo& index,
                           TVRXExpression& owner);
  // An "=" between a field of `left` and a field of `right`.
  virtual bool IsJoinCondition(TVRXExprRowSource* left, TVRXExprRowSource* right);
  virtual void ResolveSelectAliases(std::span<const TVRXSelectAlias> aliases);

 protected:
  [[noreturn]] void ThrowUnknownOperator() const;

  uint8_t operator_;
  std::vector<std::unique_ptr<TVRXExprNode>> children_;
  TVRXVariant value_;
  bool caseInsensitive_ = false;
  bool partial_ = false;
  bool detached_ = false;
  int32_t depth_ = 1;
};

class TVRXExprNodeConst final : public TVRXExprNode {
 public:
  explicit TVRXExprNodeConst(TVRXVariant value);
  const TVRXVariant& GetValue() override { return value_; }
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  bool CanEvaluateOn(TVRXExprRowSource*, TVRXExprRowSource*, TVRXExprRowSource*) override {
    return true;
  }
  // Gives the constant another storage type (a wide constant compared with
  // a narrow field becomes narrow).
  void ChangeType(TVRXBaseFieldType type) { value_.ChangeType(type); }
  void SetValue(TVRXVariant value) { value_ = std::move(value); }
};

class TVRXExprNodeField final : public TVRXExprNode {
 public:
  TVRXExprNodeField(std::string table, std::string field);

  const std::string& TableName() const { return table_; }
  const std::string& FieldName() const { return field_; }
  // "table.field", or the field alone without qualifier.
  std::string QualifiedName() const;
  bool OuterReference() const { return outerReference_; }
  void SetOuterReference(bool on) { outerReference_ = on; }
  const TVRXExprRowSource* Source() const { return source_; }
  const TVRXExprColumn& Column() const { return column_; }

  const TVRXVariant& GetValue() override;
  void BindToOperators(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                       TVRXExprRowSource* outerCursor) override;
  void BindToCursor(TVRXExprRowSource* cursor, TVRXExprRowSource* op,
                    TVRXExprRowSource* outerCursor) override;
  void SetRecordBuffer(const void* buffer, bool outer) override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  bool CanEvaluateOn(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                     TVRXExprRowSource* outerCursor) override;
  bool IsIn(const TVRXExprRowSource* source) const;
  void ResolveSelectAliases(std::span<const TVRXSelectAlias> aliases) override;

 private:
  std::string table_;
  std::string field_;
  TVRXExprRowSource* source_ = nullptr;
  TVRXExprColumn column_;
  const void* record_ = nullptr;
  bool outerReference_ = false;
};

class TVRXExprNodeComparison final : public TVRXExprNode {
 public:
  TVRXExprNodeComparison(uint8_t op, bool sqlNulls, uint8_t quantifier = eqNone)
      : TVRXExprNode(op), sqlNulls_(sqlNulls), quantifier_(quantifier) {}
  bool SqlNulls() const { return sqlNulls_; }
  uint8_t Quantifier() const { return quantifier_; }

  void Prepare() override;
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override { return TVRXAdvancedFieldType::Logical; }
  int32_t GetDataSize() override { return 0; }
  bool CanUseIndex(int32_t keyPosition, TVRXScanKind soFar, int32_t session,
                   const TVRXExprIndexInfo& index) override;
  TVRXIndexTerm IndexTerm(int32_t keyPosition, const TVRXExprIndexInfo& index) override;
  bool IsJoinCondition(TVRXExprRowSource* left, TVRXExprRowSource* right) override;

  // The operator a quantified comparison searches the subquery with: the
  // subquery column moved to the left, and for ALL negated.
  static uint8_t QuantifiedSearchOperator(uint8_t op, uint8_t quantifier);
  // Whether a comparison result (a TVRXCompareResult) satisfies `op` under
  // the NULL rules asked for.
  static bool Satisfies(uint8_t op, int compareResult, bool sqlNulls);

 private:
  // The field side of an index comparison (nullptr if none) and whether it
  // stands on the right.
  TVRXExprNodeField* IndexField(const TVRXExprIndexInfo& index, bool& onRight) const;

  bool sqlNulls_;
  uint8_t quantifier_;
};

class TVRXExprNodeBoolean final : public TVRXExprNode {
 public:
  explicit TVRXExprNodeBoolean(uint8_t op) : TVRXExprNode(op) {}
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override { return TVRXAdvancedFieldType::Logical; }
  int32_t GetDataSize() override { return 0; }
  bool CanUseIndex(int32_t keyPosition, TVRXScanKind soFar, int32_t session,
                   const TVRXExprIndexInfo& index) override;
  TVRXIndexTerm IndexTerm(int32_t keyPosition, const TVRXExprIndexInfo& index) override;

 private:
  TVRXExprNodeField* IndexField(const TVRXExprIndexInfo& index) const;
  TVRXVariant scratch_;
};

class TVRXExprNodeArithmetic final : public TVRXExprNode {
 public:
  explicit TVRXExprNodeArithmetic(uint8_t op) : TVRXExprNode(op) {}
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
};

class TVRXExprNodeStringFunction final : public TVRXExprNode {
 public:
  explicit TVRXExprNodeStringFunction(uint8_t op) : TVRXExprNode(op) {}
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
};

class TVRXExprNodeAggregated final : public TVRXExprNode {
 public:
  TVRXExprNodeAggregated(uint8_t op, bool distinct) : TVRXExprNode(op), distinct_(distinct) {}
  bool Distinct() const { return distinct_; }
  int32_t RowCount() const { return count_; }

  const TVRXVariant& GetValue() override { return value_; }
  bool IsAggregate() const override { return true; }
  void ResetAggregate() override;
  void Accumulate() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return 0; }

 private:
  int32_t count_ = 0;
  bool distinct_;
  TVRXVariant sum_;  // the running sum of AVG
};

class TVRXExprNodeCast final : public TVRXExprNode {
 public:
  // Child 0 is the operand; `size`, when given, is child 1.
  TVRXExprNodeCast(TVRXAdvancedFieldType target, std::unique_ptr<TVRXExprNode> operand,
                   std::unique_ptr<TVRXExprNode> size);
  TVRXAdvancedFieldType Target() const { return target_; }
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override { return target_; }
  int32_t GetDataSize() override;

 private:
  TVRXExprNode* size_ = nullptr;
  TVRXAdvancedFieldType target_;
};

class TVRXExprNodeCase final : public TVRXExprNode {
 public:
  TVRXExprNodeCase() : TVRXExprNode(eoNone) {}
  // All also become children, in this order of calls.
  void SetInput(std::unique_ptr<TVRXExprNode> input);
  void AddWhen(std::unique_ptr<TVRXExprNode> when, std::unique_ptr<TVRXExprNode> then);
  void SetElse(std::unique_ptr<TVRXExprNode> otherwise);

  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

 private:
  TVRXExprNode* input_ = nullptr;
  std::vector<TVRXExprNode*> whens_;
  std::vector<TVRXExprNode*> thens_;
  TVRXExprNode* else_ = nullptr;
};

class TVRXExprNodeBlob final : public TVRXExprNode {
 public:
  explicit TVRXExprNodeBlob(uint8_t op) : TVRXExprNode(op) {}
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override { return TVRXAdvancedFieldType::Blob; }
  int32_t GetDataSize() override { return 0; }
};

class TVRXExprNodeDateFunction final : public TVRXExprNode {
 public:
  // TODATE and TOSTRING take the format text; the others none.
  TVRXExprNodeDateFunction(uint8_t op, std::string_view format = {});
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

 private:
  std::unique_ptr<TDateFormater> formatter_;
};

class TVRXExprNodeSystem final : public TVRXExprNode {
 public:
  explicit TVRXExprNodeSystem(uint8_t op) : TVRXExprNode(op) {}
  // LASTAUTOINC: the table opened at parse time.
  TVRXExprNodeSystem(std::string table, std::string field, bool inMemory,
                     std::unique_ptr<TVRXLastAutoincSource> source);
  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return 0; }

 private:
  std::string table_;
  std::string field_;
  bool inMemory_ = false;
  std::unique_ptr<TVRXLastAutoincSource> source_;
  int32_t counter_ = 0;
};

// A subquery as written: its place in the statement. Executing it needs
// the SQL statements; until a statement is attached every use raises
// "Subquery cannot be executed without an SQL statement".
class TVRXExprNodeSubquery final : public TVRXExprNode {
 public:
  // `statementIndex` and the tokens [firstToken, endToken) of the lexer's
  // statement hold the SELECT without its parentheses.
  TVRXExprNodeSubquery(int32_t statementIndex, int32_t firstToken, int32_t endToken,
                       bool singleColumn, bool singleRow);
  int32_t StatementIndex() const { return statementIndex_; }
  int32_t FirstToken() const { return firstToken_; }
  int32_t EndToken() const { return endToken_; }
  bool SingleColumn() const { return singleColumn_; }
  bool SingleRow() const { return singleRow_; }
  bool Correlated() const { return correlated_; }

  const TVRXVariant& GetValue() override;
  TVRXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  bool CanEvaluateOn(TVRXExprRowSource*, TVRXExprRowSource*, TVRXExprRowSource*) override {
    return false;
  }
  // EXISTS, IN and the quantified comparisons ask these.
  bool HasRows();
  bool Contains(const TVRXVariant& value);
  bool AnySatisfies(uint8_t op, const TVRXVariant& value);

 private:
  [[noreturn]] void ThrowNotExecutable() const;

  int32_t statementIndex_;
  int32_t firstToken_;
  int32_t endToken_;
  bool singleColumn_;
  bool singleRow_;
  bool correlated_ = false;
};

}  // namespace vrx
