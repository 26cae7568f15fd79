#include "engine/query/expressions/VRXExpression.h"

#include "engine/base/VRXExcept.h"
#include "engine/query/expressions/VRXExprParser.h"
#include "platform/locale/Locale.h"

namespace vrx {

TVRXExpression::~TVRXExpression() = default;

void TVRXExpression::ParseFilter(TVRXExprRowSource* cursor, std::string_view text,
                                 bool caseInsensitive, bool partialCompare) {
  root_.reset();
  cursor_ = cursor;
  caseInsensitive_ = caseInsensitive;
  partialCompare_ = partialCompare;
  TVRXLexer lexer(text, nullptr);
  if (!lexer.NextStatement()) throw EVRXException("Blank SQL command", kErrParseBlank);
  ParseCondition(nullptr, lexer);
  TToken rest;
  if (lexer.CurrentToken(rest) || lexer.StatementCount() > 1) {
    root_.reset();
    if (rest.kind == tktNone) {
      // A ";" split the text: the filter is one condition.
      lexer.NextStatement();
      lexer.CurrentToken(rest);
    }
    throw EVRXException("Unexpected token '%s' found at line %d, column %d",
                        {rest.text, rest.line, rest.column}, kErrParseUnexpectedToken);
  }
}

void TVRXExpression::ParseCondition(TVRXExprQueryContext* query, TVRXLexer& lexer) {
  root_.reset();
  if (query != nullptr) {
    inMemory_ = query->InMemory();
    databaseName_ = query->DatabaseName();
  }
  TVRXExprParseOptions options{caseInsensitive_, partialCompare_, sqlNulls_, inMemory_};
  std::unique_ptr<TVRXExprNode> root = ParseSearchCondition(lexer, query, options);
  if (root->Operator() == eoAnd) {
    // Conjuncts of ANDs below the top one become conjuncts of the top.
    auto flat = std::make_unique<TVRXExprNodeBoolean>(eoAnd);
    for (auto& child : root->TakeChildren()) {
      if (child->Operator() == eoAnd && dynamic_cast<TVRXExprNodeBoolean*>(child.get()))
        for (auto& grandChild : child->TakeChildren()) flat->AddChild(std::move(grandChild));
      else
        flat->AddChild(std::move(child));
    }
    root = std::move(flat);
  }
  root_ = std::move(root);
  if (cursor_ != nullptr) BindToCursor(cursor_);
}

void TVRXExpression::ParseValue(TVRXExprQueryContext* query, TVRXLexer& lexer) {
  root_.reset();
  if (query != nullptr) {
    inMemory_ = query->InMemory();
    databaseName_ = query->DatabaseName();
  }
  TVRXExprParseOptions options{caseInsensitive_, partialCompare_, sqlNulls_, inMemory_};
  root_ = ParseValueExpression(lexer, query, options);
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::unique_ptr<TVRXExprNode> LocateComparison(std::string field, const TVRXVariant& value,
                                               uint8_t op, bool partial, bool caseInsensitive) {
  auto node = std::make_unique<TVRXExprNodeComparison>(op, false);
  node->SetPartial(partial);
  node->SetCaseInsensitive(caseInsensitive);
  node->AddChild(std::make_unique<TVRXExprNodeField>("", std::move(field)));
  node->AddChild(std::make_unique<TVRXExprNodeConst>(value));
  return node;
}

}  // namespace

void TVRXExpression::BuildLocate(TVRXExprRowSource* cursor, std::string_view fieldNames,
                                 std::span<const TVRXVariant> values, bool partial,
                                 bool caseInsensitive) {
  root_.reset();
  std::vector<std::string> names;
  for (size_t start = 0;;) {
    const size_t end = fieldNames.find(';', start);
    names.push_back(locale::UpperCase(TrimBlanks(fieldNames.substr(start, end - start))));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (names.size() != values.size())
    throw EVRXException("Count of FieldNames (%d) not equal counts of KeyValues (%d)",
                        {names.size(), values.size()}, kErrExprCountMismatch);
  sqlNulls_ = false;
  if (names.size() == 1) {
    root_ = LocateComparison(names[0], values[0], eoEqual, partial, caseInsensitive);
  } else {
    auto all = std::make_unique<TVRXExprNodeBoolean>(eoAnd);
    for (size_t i = 0; i < names.size(); ++i)
      all->AddChild(LocateComparison(names[i], values[i], eoEqual, partial, caseInsensitive));
    root_ = std::move(all);
  }
  cursor_ = cursor;
  if (cursor_ != nullptr) BindToCursor(cursor_);
}

void TVRXExpression::BuildLocateValue(TVRXExprRowSource* cursor, std::string_view fieldName,
                                      const TVRXVariant& value, uint8_t op) {
  root_ = LocateComparison(std::string(fieldName), value, op, false, false);
  sqlNulls_ = false;
  cursor_ = cursor;
  if (cursor_ != nullptr) BindToCursor(cursor_);
}

const TVRXVariant* TVRXExpression::GetValue(bool keepNull) {
  if (!root_) return nullptr;
  if (root_->Detached()) {
    // An index range enforces the whole condition for this scan.
    result_.Clear(TVRXBaseFieldType::Logical);
    result_.SetAsLogical(true);
    return &result_;
  }
  const TVRXVariant& v = root_->GetValue();
  if (v.IsNull() && !keepNull) {
    result_.Clear(TVRXBaseFieldType::Logical);
    result_.SetAsLogical(false);
    return &result_;
  }
  return &v;
}

bool TVRXExpression::IsTrue() {
  const TVRXVariant* v = GetValue(false);
  if (v == nullptr) throw EVRXException("Value is Null", kErrExprValueIsNull);
  return v->GetAsLogical();
}

bool TVRXExpression::IsAggregate() const { return root_ && root_->IsAggregate(); }

void TVRXExpression::ResetAggregates() {
  if (root_) root_->ResetAggregate();
}

void TVRXExpression::Accumulate() {
  if (root_) root_->Accumulate();
}

void TVRXExpression::BindToOperators(TVRXExprRowSource* op, TVRXExprRowSource* outerOperator,
                                     TVRXExprRowSource* outerCursor) {
  if (root_) root_->BindToOperators(op, outerOperator, outerCursor);
}

void TVRXExpression::BindToCursor(TVRXExprRowSource* cursor, TVRXExprRowSource* op,
                                  TVRXExprRowSource* outerCursor) {
  if (!root_) return;
  root_->BindToCursor(cursor, op, outerCursor);
  root_->Prepare();
}

void TVRXExpression::SetRecordBuffer(const void* buffer, bool outer) {
  if (!root_) return;
  root_->SetRecordBuffer(buffer, outer);
  root_->Prepare();
}

TVRXAdvancedFieldType TVRXExpression::GetDataType() {
  return root_ ? root_->GetDataType() : TVRXAdvancedFieldType::Unknown;
}

int32_t TVRXExpression::GetDataSize() { return root_ ? root_->GetDataSize() : 0; }

bool TVRXExpression::IsEmpty() const {
  if (!root_ || root_->Detached()) return true;
  if (dynamic_cast<const TVRXExprNodeBoolean*>(root_.get()) == nullptr) return false;
  if (root_->ChildCount() == 0) return true;
  // A root AND whose conjuncts are all detached tests nothing.
  if (root_->Operator() != eoAnd) return false;
  for (int32_t i = 0; i < root_->ChildCount(); ++i)
    if (!root_->Child(i).Detached()) return false;
  return true;
}

bool TVRXExpression::IsFieldReference() const {
  return dynamic_cast<const TVRXExprNodeField*>(root_.get()) != nullptr;
}

void TVRXExpression::GetFieldName(std::string& table, std::string& field) const {
  auto* node = dynamic_cast<const TVRXExprNodeField*>(root_.get());
  if (node == nullptr) throw EVRXException("Node is not field", kErrExprNodeNotField);
  table = node->TableName();
  field = node->FieldName();
}

std::vector<TVRXExprNode*> TVRXExpression::IndexCandidates() const {
  std::vector<TVRXExprNode*> out;
  if (!root_) return out;
  if (root_->Operator() == eoAnd && dynamic_cast<TVRXExprNodeBoolean*>(root_.get())) {
    for (int32_t i = 0; i < root_->ChildCount(); ++i) out.push_back(&root_->Child(i));
  } else {
    out.push_back(root_.get());
  }
  return out;
}

int32_t TVRXExpression::ExtractJoinConditions(TVRXExprRowSource* left, TVRXExprRowSource* right,
                                              std::vector<std::string>& leftFields,
                                              std::vector<std::string>& rightFields) {
  if (!root_) return 0;
  auto take = [&](TVRXExprNode& node) {
    auto* a = static_cast<TVRXExprNodeField*>(&node.Child(0));
    auto* b = static_cast<TVRXExprNodeField*>(&node.Child(1));
    if (!a->IsIn(left)) std::swap(a, b);
    leftFields.push_back(a->QualifiedName());
    rightFields.push_back(b->QualifiedName());
  };
  if (root_->Operator() == eoAnd && dynamic_cast<TVRXExprNodeBoolean*>(root_.get())) {
    int32_t taken = 0;
    for (int32_t i = 0; i < root_->ChildCount();) {
      if (root_->Child(i).IsJoinCondition(left, right)) {
        take(root_->Child(i));
        root_->TakeChild(i);
        ++taken;
      } else {
        ++i;
      }
    }
    if (root_->ChildCount() == 0) root_.reset();
    return taken;
  }
  if (root_->IsJoinCondition(left, right)) {
    take(*root_);
    root_.reset();
    return 1;
  }
  return 0;
}

}  // namespace vrx
