// The node base, constants, field references, comparisons, the boolean
// operators and arithmetic.
#include "engine/query/expressions/VRXExprNode.h"

#include <array>

#include "engine/base/VRXExcept.h"
#include "engine/values/VRXConverts.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/values/VRXTypesRoutines.h"

namespace vrx {

using B = TVRXBaseFieldType;

std::string_view OperatorName(uint8_t op) {
  switch (op) {
    case eoEqual: return "=";
    case eoNotEqual: return "<>";
    case eoGreater: return ">";
    case eoLess: return "<";
    case eoGreaterOrEqual: return ">=";
    case eoLessOrEqual: return "<=";
    case eoNot: return "NOT";
    case eoAnd: return "AND";
    case eoOr: return "OR";
    case eoLike: return "LIKE";
    case eoNotLike: return "NOT LIKE";
    case eoIsNull: return "IS NULL";
    case eoIsNotNull: return "IS NOT NULL";
    case eoSum: return "+";
    case eoNegate: return "-";
    case eoMultiply: return "*";
    case eoDivide: return "/";
    case eoUpper: return "UPPER";
    case eoLower: return "LOWER";
    case eoTrim: return "TRIM";
    case eoLTrim: return "LTRIM";
    case eoRTrim: return "RTRIM";
    case eoAggSum: return "SUM";
    case eoAggAvg: return "AVG";
    case eoAggMin: return "MIN";
    case eoAggMax: return "MAX";
    case eoAggCount: return "COUNT";
    case eoAggCountAll: return "COUNT(*)";
    default: return "unknown";
  }
}

// ---- base ----

void TVRXExprNode::AddChild(std::unique_ptr<TVRXExprNode> child) {
  if (child->depth_ + 1 > depth_) depth_ = child->depth_ + 1;
  children_.push_back(std::move(child));
}

std::vector<std::unique_ptr<TVRXExprNode>> TVRXExprNode::TakeChildren() {
  depth_ = 1;
  return std::move(children_);
}

std::unique_ptr<TVRXExprNode> TVRXExprNode::TakeChild(int32_t i) {
  std::unique_ptr<TVRXExprNode> child = std::move(children_[static_cast<size_t>(i)]);
  children_.erase(children_.begin() + i);
  return child;
}

void TVRXExprNode::Prepare() {
  for (auto& child : children_) child->Prepare();
}

bool TVRXExprNode::IsAggregate() const {
  for (const auto& child : children_)
    if (child->IsAggregate()) return true;
  return false;
}

void TVRXExprNode::ResetAggregate() {
  for (auto& child : children_) child->ResetAggregate();
}

void TVRXExprNode::Accumulate() {
  for (auto& child : children_) child->Accumulate();
}

void TVRXExprNode::BindToOperators(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                                   TVRXExprRowSource* outerCursor) {
  for (auto& child : children_) child->BindToOperators(op, outerOperator, outerCursor);
}

void TVRXExprNode::BindToCursor(TVRXExprRowSource* cursor, TVRXExprRowSource* op,
                                TVRXExprRowSource* outerCursor) {
  for (auto& child : children_) child->BindToCursor(cursor, op, outerCursor);
}

void TVRXExprNode::SetRecordBuffer(const void* buffer, bool outer) {
  for (auto& child : children_) child->SetRecordBuffer(buffer, outer);
}

TVRXAdvancedFieldType TVRXExprNode::GetDataType() {
  TVRXAdvancedFieldType type = TVRXAdvancedFieldType::Unknown;
  for (size_t i = 0; i < children_.size(); ++i) {
    const TVRXAdvancedFieldType t = children_[i]->GetDataType();
    type = i == 0 ? t : CommonAdvancedType(type, t, false);
  }
  if (type == TVRXAdvancedFieldType::Unknown)
    throw EVRXException("Cannot determine expression type", kErrExprCannotDetermineType);
  return type;
}

int32_t TVRXExprNode::GetDataSize() { return 0; }

bool TVRXExprNode::CanEvaluateOn(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                                 TVRXExprRowSource* outerCursor) {
  for (auto& child : children_)
    if (!child->CanEvaluateOn(op, outerOperator, outerCursor)) return false;
  return true;
}

bool TVRXExprNode::CanUseIndex(int32_t, TVRXScanKind, int32_t, const TVRXExprIndexInfo&) {
  return false;
}

bool TVRXExprNode::IsJoinCondition(TVRXExprRowSource*, TVRXExprRowSource*) { return false; }

void TVRXExprNode::ResolveSelectAliases(std::span<const TVRXSelectAlias> aliases) {
  for (auto& child : children_) child->ResolveSelectAliases(aliases);
}

void TVRXExprNode::ThrowUnknownOperator() const {
  throw EVRXException("Unknown operator: '%s'", {OperatorName(operator_)},
                      kErrExprUnknownOperator);
}

// ---- constants ----

TVRXExprNodeConst::TVRXExprNodeConst(TVRXVariant value) : TVRXExprNode(eoNone) {
  value_ = std::move(value);
}

// ---- field references ----

TVRXExprNodeField::TVRXExprNodeField(std::string table, std::string field)
    : TVRXExprNode(eoNone), table_(std::move(table)), field_(std::move(field)) {}

std::string TVRXExprNodeField::QualifiedName() const {
  return table_.empty() ? field_ : table_ + "." + field_;
}

const TVRXVariant& TVRXExprNodeField::GetValue() {
  if (source_ == nullptr)
    throw EVRXException("Dataset and AO not assigned", kErrExprNotBound);
  source_->ReadColumn(column_, record_, value_);
  return value_;
}

namespace {

[[noreturn]] void ThrowFieldNotFound(const std::string& name) {
  throw EVRXException("Field '%s' not found", {name}, kErrExprFieldNotFound);
}

}  // namespace

void TVRXExprNodeField::BindToCursor(TVRXExprRowSource* cursor, TVRXExprRowSource*,
                                     TVRXExprRowSource* outerCursor) {
  TVRXExprColumn column;
  if (cursor != nullptr && cursor->FindColumn(table_, field_, column) == TVRXColumnLookup::Found) {
    source_ = cursor;
    outerReference_ = false;
  } else if (outerCursor != nullptr &&
             outerCursor->FindColumn(table_, field_, column) == TVRXColumnLookup::Found) {
    source_ = outerCursor;
    outerReference_ = true;
  } else {
    ThrowFieldNotFound(QualifiedName());
  }
  column_ = column;
  record_ = nullptr;
}

void TVRXExprNodeField::BindToOperators(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                                        TVRXExprRowSource* outerCursor) {
  TVRXExprColumn column;
  for (TVRXExprRowSource* source : {op, outerOperator}) {
    if (source == nullptr) continue;
    const TVRXColumnLookup found = source->FindColumn(table_, field_, column);
    if (found == TVRXColumnLookup::Ambiguous)
      throw EVRXException("Ambiguous field reference to '%s'", {QualifiedName()},
                          kErrExprAmbiguousField);
    if (found == TVRXColumnLookup::Found) {
      source_ = source;
      outerReference_ = source != op;
      column_ = column;
      record_ = nullptr;
      return;
    }
  }
  if (outerReference_ && outerCursor != nullptr &&
      outerCursor->FindColumn(table_, field_, column) == TVRXColumnLookup::Found) {
    source_ = outerCursor;
    column_ = column;
    record_ = nullptr;
    return;
  }
  ThrowFieldNotFound(QualifiedName());
}

void TVRXExprNodeField::SetRecordBuffer(const void* buffer, bool outer) {
  if (outer == outerReference_) record_ = buffer;
}

bool TVRXExprNodeField::CanEvaluateOn(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                                      TVRXExprRowSource* outerCursor) {
  TVRXExprColumn column;
  for (TVRXExprRowSource* source : {op, outerOperator, outerCursor})
    if (source != nullptr && source->FindColumn(table_, field_, column) == TVRXColumnLookup::Found)
      return true;
  return false;
}

bool TVRXExprNodeField::IsIn(const TVRXExprRowSource* source) const {
  TVRXExprColumn column;
  return source != nullptr &&
         source->FindColumn(table_, field_, column) == TVRXColumnLookup::Found;
}

void TVRXExprNodeField::ResolveSelectAliases(std::span<const TVRXSelectAlias> aliases) {
  if (!table_.empty()) return;
  for (const TVRXSelectAlias& a : aliases) {
    if (a.alias.empty() || a.alias.size() != field_.size()) continue;
    bool same = true;
    for (size_t i = 0; i < field_.size() && same; ++i)
      same = (a.alias[i] | 0x20) == (field_[i] | 0x20);
    if (same) {
      table_ = a.table;
      field_ = a.field;
      return;
    }
  }
}

// ---- comparisons ----

namespace {

void SetLogical(TVRXVariant& v, bool on) {
  if (v.DataType() != B::Logical) v.Clear(B::Logical);
  v.SetAsLogical(on);
}

void SetNullLogical(TVRXVariant& v) {
  if (v.DataType() != B::Logical) v.Clear(B::Logical);
  v.SetNull();
}

bool IsNarrowText(B type) { return type == B::Char || type == B::String; }

}  // namespace

bool TVRXExprNodeComparison::Satisfies(uint8_t op, int result, bool sqlNulls) {
  if (result >= kCompareLeftNull) {
    if (sqlNulls) return op == eoNotEqual;
    result = result == kCompareLeftNull ? kCompareLess
             : result == kCompareRightNull ? kCompareGreater
                                           : kCompareEqual;
  }
  switch (op) {
    case eoEqual: return result == kCompareEqual;
    case eoNotEqual: return result != kCompareEqual;
    case eoGreater: return result == kCompareGreater;
    case eoLess: return result == kCompareLess;
    case eoGreaterOrEqual: return result != kCompareLess;
    case eoLessOrEqual: return result != kCompareGreater;
    default:
      throw EVRXException("Unknown operator: '%s'", {OperatorName(op)}, kErrExprUnknownOperator);
  }
}

uint8_t TVRXExprNodeComparison::QuantifiedSearchOperator(uint8_t op, uint8_t quantifier) {
  // The subquery column moves to the left: the operator is mirrored.
  switch (op) {
    case eoGreater: op = eoLess; break;
    case eoLess: op = eoGreater; break;
    case eoGreaterOrEqual: op = eoLessOrEqual; break;
    case eoLessOrEqual: op = eoGreaterOrEqual; break;
    default: break;
  }
  if (quantifier != eqAll) return op;
  // ALL holds when no row satisfies the negation.
  switch (op) {
    case eoEqual: return eoNotEqual;
    case eoNotEqual: return eoEqual;
    case eoGreater: return eoLessOrEqual;
    case eoLessOrEqual: return eoGreater;
    case eoLess: return eoGreaterOrEqual;
    default: return eoLess;  // >=
  }
}

void TVRXExprNodeComparison::Prepare() {
  TVRXExprNode::Prepare();
  if (children_.size() != 2) return;
  for (int side = 0; side < 2; ++side) {
    auto* field = dynamic_cast<TVRXExprNodeField*>(children_[static_cast<size_t>(side)].get());
    auto* constant = dynamic_cast<TVRXExprNodeConst*>(children_[static_cast<size_t>(1 - side)].get());
    if (field != nullptr && constant != nullptr && field->Source() != nullptr &&
        IsNarrowText(field->Column().storageType) && IsWideTextType(constant->Value().DataType()))
      constant->ChangeType(B::String);
  }
}

const TVRXVariant& TVRXExprNodeComparison::GetValue() {
  if (operator_ < eoEqual || operator_ > eoLessOrEqual || children_.size() != 2)
    ThrowUnknownOperator();
  const TVRXVariant& left = children_[0]->GetValue();
  if (quantifier_ != eqNone) {
    auto* sub = dynamic_cast<TVRXExprNodeSubquery*>(children_[1].get());
    if (sub == nullptr) ThrowUnknownOperator();
    const bool found = sub->AnySatisfies(QuantifiedSearchOperator(operator_, quantifier_), left);
    // An empty result satisfies neither ANY nor ALL.
    SetLogical(value_, quantifier_ == eqAny ? found : (!found && sub->HasRows()));
    return value_;
  }
  const TVRXVariant& right = children_[1]->GetValue();
  const int result =
      left.Compare(right, {.rawCodes = true, .partial = partial_ != 0, .ignoreCase = caseInsensitive_ != 0});
  SetLogical(value_, Satisfies(operator_, result, sqlNulls_));
  return value_;
}

// ---- boolean operators ----

const TVRXVariant& TVRXExprNodeBoolean::GetValue() {
  switch (operator_) {
    case eoNot: {
      const TVRXVariant& v = children_.at(0)->GetValue();
      if (v.IsNull())
        SetNullLogical(value_);
      else
        SetLogical(value_, !v.GetAsLogical());
      return value_;
    }
    case eoAnd:
    case eoOr: {
      const bool stopOn = operator_ == eoOr;
      bool sawNull = false;
      for (auto& child : children_) {
        if (child->Detached() && operator_ == eoAnd) continue;  // the index range holds it
        const TVRXVariant& v = child->GetValue();
        if (v.IsNull()) {
          sawNull = true;
        } else if (v.GetAsLogical() == stopOn) {
          SetLogical(value_, stopOn);
          return value_;
        }
      }
      if (sawNull)
        SetNullLogical(value_);
      else
        SetLogical(value_, !stopOn);
      return value_;
    }
    case eoIn:
    case eoNotIn: {
      const TVRXVariant& tested = children_.at(0)->GetValue();
      if (tested.IsNull()) {
        SetNullLogical(value_);
        return value_;
      }
      bool found = false;
      if (auto* sub = dynamic_cast<TVRXExprNodeSubquery*>(children_.at(1).get())) {
        found = sub->Contains(tested);
      } else {
        for (size_t i = 1; i < children_.size() && !found; ++i)
          found = tested.Compare(children_[i]->GetValue(), {.rawCodes = true}) == kCompareEqual;
      }
      SetLogical(value_, found == (operator_ == eoIn));
      return value_;
    }
    case eoExists: {
      auto* sub = dynamic_cast<TVRXExprNodeSubquery*>(children_.at(0).get());
      if (sub == nullptr) ThrowUnknownOperator();
      SetLogical(value_, sub->HasRows());
      return value_;
    }
    case eoBetween:
    case eoNotBetween: {
      const TVRXVariant& v = children_.at(0)->GetValue();
      const TVRXVariant& low = children_.at(1)->GetValue();
      const TVRXVariant& high = children_.at(2)->GetValue();
      if (v.IsNull() || low.IsNull() || high.IsNull()) {
        SetNullLogical(value_);
        return value_;
      }
      const bool inside = v.Compare(low) != kCompareLess && v.Compare(high) != kCompareGreater;
      SetLogical(value_, inside == (operator_ == eoBetween));
      return value_;
    }
    case eoLike:
    case eoNotLike: {
      const TVRXVariant& text = children_.at(0)->GetValue();
      const TVRXVariant& pattern = children_.at(1)->GetValue();
      if (text.IsNull() || pattern.IsNull()) {
        SetNullLogical(value_);
        return value_;
      }
      const B common = CommonBaseType(text.DataType(), pattern.DataType(), false);
      if (!IsTextType(common))
        throw EVRXException("Not string argument in function '%s'", {"LIKE"}, kErrExprNotString);
      bool match;
      if (IsWideTextType(common))
        match = MatchLikePattern(std::u16string_view(text.GetAsWideString()),
                                 std::u16string_view(pattern.GetAsWideString()),
                                 caseInsensitive_);
      else
        match = MatchLikePattern(std::string_view(text.GetAsString()),
                                 std::string_view(pattern.GetAsString()), caseInsensitive_);
      SetLogical(value_, match == (operator_ == eoLike));
      return value_;
    }
    case eoIsNull:
    case eoIsNotNull:
      SetLogical(value_, children_.at(0)->GetValue().IsNull() == (operator_ == eoIsNull));
      return value_;
    default:
      ThrowUnknownOperator();
  }
}

// ---- arithmetic ----

namespace {
// The native error of an integer sum outside its type (the values' engine).
constexpr int32_t kErrAddOverflow = 30065;
}  // namespace

const TVRXVariant& TVRXExprNodeArithmetic::GetValue() {
  switch (operator_) {
    case eoSum:
      value_.Assign(children_.at(0)->GetValue(), true);
      for (size_t i = 1; i < children_.size(); ++i) {
        const TVRXExprNode& term = *children_[i];
        try {
          value_.Add(children_[i]->GetValue());
        } catch (const EVRXException& e) {
          // A subtraction is the sum with the negated term: its overflow
          // names the operator as written.
          if (e.NativeError() != kErrAddOverflow || term.Operator() != eoNegate ||
              dynamic_cast<const TVRXExprNodeArithmetic*>(&term) == nullptr)
            throw;
          throw EVRXException("Integer overflow in numeric operator '%s'", {"-"}, kErrAddOverflow);
        }
      }
      return value_;
    case eoNegate:
      value_.Assign(children_.at(0)->GetValue(), true);
      value_.Negate();
      return value_;
    case eoMultiply:
    case eoDivide: {
      value_.Assign(children_.at(0)->GetValue(), true);
      const TVRXVariant& right = children_.at(1)->GetValue();
      if (operator_ == eoMultiply)
        value_.Multiply(right);
      else
        value_.Divide(right);
      return value_;
    }
    default:
      ThrowUnknownOperator();
  }
}

}  // namespace vrx
