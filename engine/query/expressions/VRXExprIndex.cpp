// Which nodes an index can answer, and the key fields they contribute to
// the navigation layer's range conditions. Only comparisons and IS [NOT]
// NULL on a field of the scanned cursor qualify; TVRXExpression offers
// only those at the top level or inside ANDs.
#include "engine/base/VRXExcept.h"
#include "engine/query/expressions/VRXExprNode.h"
#include "engine/values/VRXStrUtils.h"

namespace vrx {

namespace {

// A field of the scanned cursor that names the key field at `position`.
bool IsKeyField(const TVRXExprNodeField* field, int32_t position,
                const TVRXExprIndexInfo& index) {
  return field != nullptr && !field->OuterReference() &&
         field->Source() == &index.ScannedCursor() && position >= 0 &&
         position < index.KeyFieldCount() &&
         EqualAsciiNoCase(field->FieldName(), index.KeyFieldName(position));
}

TVRXScanKind Mirror(TVRXScanKind kind) {
  switch (kind) {
    case TVRXScanKind::Less: return TVRXScanKind::Greater;
    case TVRXScanKind::Greater: return TVRXScanKind::Less;
    case TVRXScanKind::LessOrEqual: return TVRXScanKind::GreaterOrEqual;
    case TVRXScanKind::GreaterOrEqual: return TVRXScanKind::LessOrEqual;
    default: return kind;
  }
}

void CheckIndex(const TVRXExprIndexInfo& index) {
  if (index.KeyFieldCount() <= 0)
    throw EVRXException("Invalid index for search", kErrExprInvalidIndex);
}

}  // namespace

TVRXIndexTerm TVRXExprNode::IndexTerm(int32_t, const TVRXExprIndexInfo&) {
  throw EVRXException("Invalid index for search", kErrExprInvalidIndex);
}

void TVRXExprNode::AddScanCondition(TVRXScanConditionBuilder& builder,
                                    const TVRXExprIndexInfo& index, TVRXExpression& owner) {
  builder.AddCondition(IndexTerm(0, index), index, owner);
}

void TVRXExprNode::ExtendScanCondition(TVRXScanConditionBuilder& builder,
                                       TVRXScanSearchCondition& condition, int32_t keyPosition,
                                       const TVRXExprIndexInfo& index, TVRXExpression& owner) {
  builder.ExtendCondition(condition, IndexTerm(keyPosition, index), index, owner);
}

// ---- comparisons ----

TVRXExprNodeField* TVRXExprNodeComparison::IndexField(const TVRXExprIndexInfo& index,
                                                      bool& onRight) const {
  if (children_.size() != 2 || quantifier_ != eqNone) return nullptr;
  for (int side = 0; side < 2; ++side) {
    auto* field = dynamic_cast<TVRXExprNodeField*>(children_[static_cast<size_t>(side)].get());
    TVRXExprNode* other = children_[static_cast<size_t>(1 - side)].get();
    if (field == nullptr || field->OuterReference() || field->Source() != &index.ScannedCursor())
      continue;
    auto* otherField = dynamic_cast<TVRXExprNodeField*>(other);
    const bool constant = dynamic_cast<TVRXExprNodeConst*>(other) != nullptr ||
                          (otherField != nullptr && otherField->OuterReference());
    if (!constant) continue;
    onRight = side == 1;
    return field;
  }
  return nullptr;
}

bool TVRXExprNodeComparison::CanUseIndex(int32_t keyPosition, TVRXScanKind soFar, int32_t session,
                                         const TVRXExprIndexInfo& index) {
  if (partial_ || operator_ < eoEqual || operator_ > eoLessOrEqual || operator_ == eoNotEqual)
    return false;
  bool onRight = false;
  TVRXExprNodeField* field = IndexField(index, onRight);
  if (!IsKeyField(field, keyPosition, index)) return false;
  if (keyPosition == 0 && index.IsTemporaryOfOtherSession(session)) return false;
  if (keyPosition > 0 && (soFar != TVRXScanKind::Equal || operator_ != eoEqual)) return false;
  if (IsTextType(field->Column().storageType)) {
    if (index.KeyCaseInsensitive(keyPosition) != caseInsensitive_) return false;
    const TVRXExprNode& other = *children_[onRight ? 0 : 1];
    if (auto* constant = dynamic_cast<const TVRXExprNodeConst*>(&other)) {
      const int32_t size = constant->Value().CharLength();
      if (size > field->Column().size) return false;
    }
  }
  return true;
}

TVRXIndexTerm TVRXExprNodeComparison::IndexTerm(int32_t keyPosition,
                                                const TVRXExprIndexInfo& index) {
  CheckIndex(index);
  bool onRight = false;
  if (IndexField(index, onRight) == nullptr)
    throw EVRXException("Invalid index for search", kErrExprInvalidIndex);
  TVRXIndexTerm term;
  switch (operator_) {
    case eoEqual: term.kind = TVRXScanKind::Equal; break;
    case eoGreater: term.kind = TVRXScanKind::Greater; break;
    case eoLess: term.kind = TVRXScanKind::Less; break;
    case eoGreaterOrEqual: term.kind = TVRXScanKind::GreaterOrEqual; break;
    case eoLessOrEqual: term.kind = TVRXScanKind::LessOrEqual; break;
    default: ThrowUnknownOperator();
  }
  if (onRight) term.kind = Mirror(term.kind);
  if (index.KeyDescending(keyPosition)) term.kind = Mirror(term.kind);
  term.key = children_[onRight ? 0 : 1]->GetValue();
  term.keyPosition = keyPosition;
  term.node = this;
  return term;
}

bool TVRXExprNodeComparison::IsJoinCondition(TVRXExprRowSource* left, TVRXExprRowSource* right) {
  if (operator_ != eoEqual || quantifier_ != eqNone || children_.size() != 2) return false;
  auto* a = dynamic_cast<TVRXExprNodeField*>(children_[0].get());
  auto* b = dynamic_cast<TVRXExprNodeField*>(children_[1].get());
  if (a == nullptr || b == nullptr) return false;
  return (a->IsIn(left) && b->IsIn(right)) || (a->IsIn(right) && b->IsIn(left));
}

// ---- IS NULL, IS NOT NULL ----

TVRXExprNodeField* TVRXExprNodeBoolean::IndexField(const TVRXExprIndexInfo& index) const {
  if ((operator_ != eoIsNull && operator_ != eoIsNotNull) || children_.size() != 1) return nullptr;
  auto* field = dynamic_cast<TVRXExprNodeField*>(children_[0].get());
  if (field == nullptr || field->OuterReference() || field->Source() != &index.ScannedCursor())
    return nullptr;
  return field;
}

bool TVRXExprNodeBoolean::CanUseIndex(int32_t keyPosition, TVRXScanKind soFar, int32_t session,
                                      const TVRXExprIndexInfo& index) {
  TVRXExprNodeField* field = IndexField(index);
  if (!IsKeyField(field, keyPosition, index)) return false;
  if (keyPosition == 0) return !index.IsTemporaryOfOtherSession(session);
  return operator_ == eoIsNull && soFar == TVRXScanKind::Equal;
}

TVRXIndexTerm TVRXExprNodeBoolean::IndexTerm(int32_t keyPosition, const TVRXExprIndexInfo& index) {
  CheckIndex(index);
  TVRXExprNodeField* field = IndexField(index);
  if (field == nullptr) throw EVRXException("Invalid index for search", kErrExprInvalidIndex);
  TVRXIndexTerm term;
  term.kind = operator_ == eoIsNull                ? TVRXScanKind::Equal
              : index.KeyDescending(keyPosition) ? TVRXScanKind::Less
                                                 : TVRXScanKind::Greater;
  term.key.Clear(field->Column().storageType);
  term.keyPosition = keyPosition;
  term.node = this;
  return term;
}

}  // namespace vrx
