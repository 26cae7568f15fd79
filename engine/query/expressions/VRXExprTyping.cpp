// Result types and sizes of the nodes, used to build result tables.
#include "engine/base/VRXExcept.h"
#include "engine/query/expressions/VRXExprNode.h"
#include "engine/values/VRXTypesRoutines.h"

namespace vrx {

using A = TVRXAdvancedFieldType;
using B = TVRXBaseFieldType;

namespace {

// The common declared type of `nodes`, passing over untyped NULLs.
template <typename Nodes>
A Promote(const Nodes& nodes) {
  A type = A::Unknown;
  for (auto* node : nodes) {
    if (node == nullptr) continue;
    const A t = node->GetDataType();
    if (t == A::Unknown) continue;
    type = type == A::Unknown ? t : CommonAdvancedType(type, t, false);
    if (type == A::Unknown)
      throw EVRXException("Cannot determine expression type", kErrExprCannotDetermineType);
  }
  return type;
}

template <typename Nodes>
A PromoteOrThrow(const Nodes& nodes) {
  const A type = Promote(nodes);
  if (type == A::Unknown)
    throw EVRXException("Cannot determine expression type", kErrExprCannotDetermineType);
  return type;
}

std::vector<TVRXExprNode*> Children(const TVRXExprNode& node) {
  std::vector<TVRXExprNode*> out;
  for (int32_t i = 0; i < node.ChildCount(); ++i) out.push_back(&node.Child(i));
  return out;
}

int32_t SumOfSizes(const TVRXExprNode& node) {
  int64_t total = 0;
  for (int32_t i = 0; i < node.ChildCount(); ++i) total += node.Child(i).GetDataSize();
  return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

// The string type a string function yields for an operand of `type`.
A StringResultOf(A type) {
  if (type == A::Memo || type == A::FormattedMemo) return A::String;
  if (type == A::WideMemo) return A::WideString;
  if (IsTextAdvancedType(type) && type != A::Guid) return type;
  return A::String;
}

// Characters a value of `type` needs as text.
int32_t TextSizeOf(A type, int32_t size) {
  switch (type) {
    case A::ShortInt: case A::AutoIncShortInt: return 4;
    case A::SmallInt: case A::AutoIncSmallInt: return 6;
    case A::Integer: case A::AutoInc: case A::AutoIncInteger: return 11;
    case A::LargeInt: case A::AutoIncLargeInt: return 20;
    case A::Byte: case A::AutoIncByte: return 3;
    case A::Word: case A::AutoIncWord: return 5;
    case A::Cardinal: case A::AutoIncCardinal: return 10;
    case A::Single: case A::Float: case A::Extended: return 26;
    case A::Logical: return 5;
    case A::Currency: return 21;
    case A::Date: case A::Time: case A::DateTime: case A::TimeStamp: return 26;
    case A::Memo: case A::FormattedMemo: case A::WideMemo: return kDefaultStringSize;
    case A::Guid: return 38;
    case A::Char: case A::String: case A::WideChar: case A::WideString: case A::Bytes:
    case A::VarBytes: case A::Blob: case A::Graphic:
      return size;
    default:
      throw EVRXException("Unsupported data type '%s'", {AdvancedTypeName(type)},
                          kErrExprUnsupportedType);
  }
}

}  // namespace

// ---- constants and fields ----

TVRXAdvancedFieldType TVRXExprNodeConst::GetDataType() {
  return value_.DataType() == B::Unknown ? A::Unknown : AdvancedTypeOf(value_.DataType());
}

int32_t TVRXExprNodeConst::GetDataSize() {
  const int32_t n = value_.CharLength();
  return n < 0 ? 0 : n;
}

TVRXAdvancedFieldType TVRXExprNodeField::GetDataType() { return column_.declaredType; }
int32_t TVRXExprNodeField::GetDataSize() { return column_.size; }

// ---- arithmetic and strings ----

TVRXAdvancedFieldType TVRXExprNodeArithmetic::GetDataType() {
  const A type = PromoteOrThrow(Children(*this));
  if (operator_ != eoNegate) return type;
  // The negation of an unsigned value takes the signed type of the next
  // width (see TVRXVariant::Negate).
  switch (BaseTypeOf(type)) {
    case B::Byte: return A::SmallInt;
    case B::Word: return A::Integer;
    case B::Cardinal: return A::LargeInt;
    default: return type;
  }
}

int32_t TVRXExprNodeArithmetic::GetDataSize() {
  return IsTextAdvancedType(GetDataType()) ? SumOfSizes(*this) : 0;
}

TVRXAdvancedFieldType TVRXExprNodeStringFunction::GetDataType() {
  switch (operator_) {
    case eoConcat: {
      const A type = Promote(Children(*this));
      return IsTextAdvancedType(type) && type != A::Guid ? type : A::String;
    }
    case eoLength:
    case eoPos:
      return A::Integer;
    default:
      return StringResultOf(children_.at(0)->GetDataType());
  }
}

int32_t TVRXExprNodeStringFunction::GetDataSize() {
  switch (operator_) {
    case eoConcat:
      return SumOfSizes(*this);
    case eoLength:
    case eoPos:
      return 0;
    case eoSubstring: {
      const int32_t size = children_.at(0)->GetDataSize();
      if (size > 0) return size;
      if (children_.size() > 2) {
        if (auto* length = dynamic_cast<TVRXExprNodeConst*>(children_[2].get());
            length != nullptr && !length->Value().IsNull())
          return length->Value().GetAsInteger();
      }
      return kDefaultStringSize;
    }
    default:
      return children_.at(0)->GetDataSize();
  }
}

// ---- aggregates ----

TVRXAdvancedFieldType TVRXExprNodeAggregated::GetDataType() {
  switch (operator_) {
    case eoAggSum: {
      const A type = children_.at(0)->GetDataType();
      return type == A::Single || type == A::Float || type == A::Extended || type == A::Currency
                 ? type
                 : A::LargeInt;
    }
    case eoAggAvg:
      return A::Float;
    case eoAggMin:
    case eoAggMax:
      return children_.at(0)->GetDataType();
    default:
      return A::Integer;
  }
}

// ---- CAST, CASE ----

int32_t TVRXExprNodeCast::GetDataSize() {
  if (size_ != nullptr) {
    const TVRXVariant& v = size_->GetValue();
    return v.IsNull() ? 0 : v.GetAsInteger();
  }
  if (!IsTextAdvancedType(target_)) return 0;
  return TextSizeOf(children_.at(0)->GetDataType(), children_.at(0)->GetDataSize());
}

TVRXAdvancedFieldType TVRXExprNodeCase::GetDataType() {
  std::vector<TVRXExprNode*> results(thens_);
  results.push_back(else_);
  return Promote(results);
}

int32_t TVRXExprNodeCase::GetDataSize() {
  int32_t size = 0;
  for (TVRXExprNode* node : thens_) size = std::max(size, node->GetDataSize());
  if (else_ != nullptr) size = std::max(size, else_->GetDataSize());
  return size;
}

// ---- dates and system values ----

TVRXAdvancedFieldType TVRXExprNodeDateFunction::GetDataType() {
  switch (operator_) {
    case eoSysDate: return A::DateTime;
    case eoCurrentDate: return A::Date;
    case eoCurrentTime: return A::Time;
    case eoToDate: return static_cast<A>(formatter_->ResultKind());
    default: return A::String;
  }
}

int32_t TVRXExprNodeDateFunction::GetDataSize() {
  return operator_ == eoToString ? formatter_->EstimatedLength() : 0;
}

TVRXAdvancedFieldType TVRXExprNodeSystem::GetDataType() {
  if (operator_ == eoLastAutoinc && source_) return source_->FieldType();
  return A::Integer;
}

}  // namespace vrx
