#include "engine/query/cursor/VRXCursorFilter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/query/cursor/VRXCursor.h"
#include "engine/query/expressions/VRXExpression.h"
#include "engine/values/VRXTypesRoutines.h"

namespace vrx {

namespace {

using B = TVRXBaseFieldType;

// One index of the cursor's table as the expression nodes ask about it.
class IndexInfo final : public TVRXExprIndexInfo {
 public:
  IndexInfo(const TVRXIndexDef& definition, const TVRXCursor& cursor)
      : definition_(definition), cursor_(cursor) {}

  const TVRXExprRowSource& ScannedCursor() const override { return cursor_; }
  int32_t KeyFieldCount() const override { return definition_.ColumnCount(); }
  std::string KeyFieldName(int32_t position) const override { return Column(position).FieldName; }
  bool KeyCaseInsensitive(int32_t position) const override {
    return Column(position).IsCaseInsensitive();
  }
  bool KeyDescending(int32_t position) const override { return Column(position).IsDescending(); }
  bool IsTemporaryOfOtherSession(int32_t session) const override {
    return definition_.Temporary() && definition_.OwnerSessionID() != session;
  }

  int32_t ID() const { return definition_.ID(); }
  const TVRXIndexColumn& Column(int32_t position) const {
    return definition_.Columns().at(static_cast<size_t>(position));
  }

 private:
  const TVRXIndexDef& definition_;
  const TVRXCursor& cursor_;
};

// The range of values an integer storage type holds.
struct IntegerRange {
  int64_t low;
  uint64_t high;
};

IntegerRange RangeOf(B type) {
  switch (type) {
    case B::ShortInt: return {INT8_MIN, INT8_MAX};
    case B::SmallInt: return {INT16_MIN, INT16_MAX};
    case B::Integer: return {INT32_MIN, INT32_MAX};
    case B::LargeInt: return {INT64_MIN, INT64_MAX};
    case B::Byte: return {0, UINT8_MAX};
    case B::Word: return {0, UINT16_MAX};
    default: return {0, UINT32_MAX};  // CARDINAL
  }
}

// Whether comparing the field's values in `common` orders them as the
// index orders them in the field's own type: the same type, or a widening
// that loses nothing. Integer pairs may meet in an unsigned type (SHORTINT
// against WORD), which would move negative values: not a widening.
bool KeepsOrder(B field, B common) {
  if (field == common) return true;
  if (IsIntegerType(field) && IsIntegerType(common)) {
    const IntegerRange f = RangeOf(field);
    const IntegerRange c = RangeOf(common);
    return c.low <= f.low && c.high >= f.high;
  }
  const bool wideFloat = common == B::Float || common == B::Extended;
  if (wideFloat && (field == B::Single || (IsIntegerType(field) && field != B::LargeInt)))
    return true;  // 32-bit integers and SINGLE are exact in a double
  return (field == B::Char && common == B::String) ||
         (field == B::WideChar && common == B::WideString);
}

// Under SQL NULL rules a comparison rejects NULL, but an index orders NULL
// keys before every value (after every value on a descending key field):
// a range open towards that end takes them in.
bool RangeTakesNulls(TVRXScanKind kind, bool descending) {
  switch (kind) {
    case TVRXScanKind::Less:
    case TVRXScanKind::LessOrEqual: return !descending;
    case TVRXScanKind::Greater:
    case TVRXScanKind::GreaterOrEqual: return descending;
    default: return false;
  }
}

// The index keeps only a prefix of the field's text.
bool KeyIsCut(const TVRXIndexColumn& column, const TVRXFieldDef& field) {
  return IsTextType(field.StorageType()) && column.MaxIndexedSize > 0 &&
         field.MemorySize() > column.MaxIndexedSize;
}

// Builds the conditions of one filter into the navigation's array.
class ConditionBuilder final : public TVRXScanConditionBuilder {
 public:
  ConditionBuilder(TVRXCursor& cursor, TVRXCursorFilter& filter,
                   TVRXScanSearchConditionArray& conditions)
      : cursor_(cursor), filter_(filter), conditions_(conditions) {}

  void AddCondition(const TVRXIndexTerm& term, const TVRXExprIndexInfo& index,
                    TVRXExpression&) override {
    const auto& info = static_cast<const IndexInfo&>(index);
    std::vector<uint8_t> key(static_cast<size_t>(cursor_.dataSize), 0);
    cursor_.InitRecord(key, false);
    bool exact = false;
    if (!WriteTerm(key, term, info, exact)) return;
    auto condition = std::make_unique<TVRXScanSearchCondition>();
    condition->Kind = static_cast<TVRXConditionKind>(term.kind);
    condition->Key = std::move(key);
    condition->KeyFieldCount = 1;
    condition->IndexID = info.ID();
    condition->Removable = exact;
    condition->SourceExpressions.push_back(&filter_);
    condition->SourceNodes.push_back(term.node);
    conditions_.Add(std::move(condition));
  }

  void ExtendCondition(TVRXScanSearchCondition& condition, const TVRXIndexTerm& term,
                       const TVRXExprIndexInfo& index, TVRXExpression&) override {
    const auto& info = static_cast<const IndexInfo&>(index);
    // Written into a copy: a value the key cannot hold leaves the
    // condition as it was.
    std::vector<uint8_t> key = condition.Key;
    bool exact = false;
    if (!WriteTerm(key, term, info, exact)) return;
    condition.Key = std::move(key);
    condition.KeyFieldCount = term.keyPosition + 1;
    condition.Removable = condition.Removable && exact;
    condition.SourceExpressions.push_back(&filter_);
    condition.SourceNodes.push_back(term.node);
  }

 private:
  // Stores the term's value in its key field of `key`. False when the
  // range could miss records the node accepts (the value does not fit the
  // field exactly, or the node compares in an order the index does not
  // keep): no condition then. `exact` tells whether the range selects
  // precisely the records the node accepts.
  bool WriteTerm(std::vector<uint8_t>& key, const TVRXIndexTerm& term, const IndexInfo& index,
                 bool& exact) const {
    const int32_t fieldNo =
        cursor_.physicalFieldDefs.IndexOfName(index.KeyFieldName(term.keyPosition));
    if (fieldNo < 0) return false;
    const TVRXFieldDef& field = cursor_.physicalFieldDefs.Field(fieldNo);
    if (field.IsBlob()) return false;
    const auto* comparison = dynamic_cast<const TVRXExprNodeComparison*>(term.node);
    if (term.key.IsNull()) {
      // IS NULL / IS NOT NULL select exactly the NULL or the other keys; so
      // does a comparison with NULL when NULL is a value (Locate). Under SQL
      // rules such a comparison accepts nothing: the range only bounds.
      exact = comparison == nullptr || !comparison->SqlNulls();
      return true;
    }
    if (comparison == nullptr) return false;
    const bool fieldOnRight = !IsFieldOfCursor(comparison->Child(0));
    const B type = field.StorageType();
    const B valueType = term.key.DataType();
    const B common = fieldOnRight ? CommonBaseType(valueType, type, true)
                                  : CommonBaseType(type, valueType, true);
    if (!KeepsOrder(type, common)) return false;
    try {
      cursor_.SetFieldValue(term.key, fieldNo, key, true);
      TVRXVariant stored;
      // An empty text is stored as NULL: not the value either.
      if (!cursor_.GetFieldValue(stored, fieldNo, true, key)) return false;
      const TVRXVariant::CompareOptions options{.rawCodes = true};
      const int order = fieldOnRight ? term.key.Compare(stored, options)
                                     : stored.Compare(term.key, options);
      if (order != kCompareEqual) return false;
    } catch (const EVRXException&) {
      return false;  // the value does not convert to the field's type
    }
    const TVRXIndexColumn& column = index.Column(term.keyPosition);
    exact = !(comparison->SqlNulls() && RangeTakesNulls(term.kind, column.IsDescending()));
    if (IsTextType(type) &&
        (column.IsCaseInsensitive() || comparison->CaseInsensitive() || KeyIsCut(column, field)))
      exact = false;
    return true;
  }

  bool IsFieldOfCursor(const TVRXExprNode& node) const {
    const auto* field = dynamic_cast<const TVRXExprNodeField*>(&node);
    return field != nullptr && !field->OuterReference() &&
           field->Source() == static_cast<const TVRXExprRowSource*>(&cursor_);
  }

  TVRXCursor& cursor_;
  TVRXCursorFilter& filter_;
  TVRXScanSearchConditionArray& conditions_;
};

// The index definitions of the cursor's table as navigation knows them
// (temporary indexes included); the cursor's copy while it has no table.
const TVRXIndexDefs& TableIndexDefs(TVRXCursor& cursor) {
  if (auto* local = dynamic_cast<TVRXLocalCursor*>(&cursor);
      local != nullptr && local->TableData() != nullptr &&
      local->TableData()->IndexManager() != nullptr)
    return local->TableData()->IndexManager()->IndexDefs();
  return cursor.indexDefs;
}

}  // namespace

bool TVRXCursorFilter::Accepts(std::span<const uint8_t> record) {
  if (expression_.Root() == nullptr) return true;
  expression_.SetRecordBuffer(record.data());
  const TVRXVariant* value = expression_.GetValue(false);
  return value == nullptr || value->GetAsLogical();
}

bool TVRXCursorFilter::IsEmpty() const { return expression_.IsEmpty(); }

void TVRXCursorFilter::DeriveIndexConditions(TVRXScanSearchConditionArray& conditions,
                                             int32_t sessionID) {
  const std::vector<TVRXExprNode*> candidates = expression_.IndexCandidates();
  if (candidates.empty()) return;
  ConditionBuilder builder(cursor_, *this, conditions);
  const TVRXIndexDefs& indexes = TableIndexDefs(cursor_);
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const IndexInfo index(indexes.Index(i), cursor_);
    if (index.KeyFieldCount() == 0) continue;
    const int32_t first = conditions.Count();
    for (TVRXExprNode* node : candidates)
      if (!node->Detached() && node->CanUseIndex(0, TVRXScanKind::None, sessionID, index))
        node->AddScanCondition(builder, index, expression_);
    if (index.KeyFieldCount() < 2) continue;
    // Equalities extend an equality over the following key fields.
    for (int32_t c = first; c < conditions.Count(); ++c) {
      TVRXScanSearchCondition& condition = conditions[c];
      for (int32_t position = 1; position < index.KeyFieldCount(); ++position) {
        if (condition.Kind != TVRXConditionKind::Equal || condition.KeyFieldCount != position)
          break;
        for (TVRXExprNode* node : candidates) {
          if (node->Detached() ||
              !node->CanUseIndex(position, TVRXScanKind::Equal, sessionID, index))
            continue;
          node->ExtendScanCondition(builder, condition, position, index, expression_);
          if (condition.KeyFieldCount > position) break;
        }
        if (condition.KeyFieldCount <= position) break;
      }
    }
  }
}

void TVRXCursorFilter::DetachNode(const void* node) {
  for (TVRXExprNode* candidate : expression_.IndexCandidates())
    if (candidate == node) candidate->SetDetached(true);
}

void TVRXCursorFilter::AttachNodes() {
  for (TVRXExprNode* candidate : expression_.IndexCandidates()) candidate->SetDetached(false);
}

}  // namespace vrx
