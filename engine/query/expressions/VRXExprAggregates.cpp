// Aggregates: SUM, AVG, MIN, MAX, COUNT and COUNT(*), reset at the start of
// a group and accumulated row by row; GetValue yields the group's result.
#include "engine/base/VRXExcept.h"
#include "engine/query/expressions/VRXExprNode.h"
#include "engine/values/VRXTypesRoutines.h"

namespace vrx {

using B = TVRXBaseFieldType;

void TVRXExprNodeAggregated::ResetAggregate() {
  count_ = 0;
  sum_.Clear();
  if (operator_ == eoAggCount || operator_ == eoAggCountAll) {
    value_.Clear(B::Integer);
    value_.SetAsInteger(0);
  } else {
    // A typed NULL, so that an empty group still adds to other values.
    value_.Clear(BaseTypeOf(GetDataType()));
  }
}

void TVRXExprNodeAggregated::Accumulate() {
  if (operator_ == eoAggCountAll) {
    value_.SetAsInteger(++count_);
    return;
  }
  const TVRXVariant& v = children_.at(0)->GetValue();
  // Every aggregate passes over NULLs: MIN and MAX of a group that starts
  // with a NULL are those of its values.
  if (v.IsNull()) return;
  switch (operator_) {
    case eoAggCount:
      value_.SetAsInteger(++count_);
      return;
    case eoAggSum:
    case eoAggAvg: {
      if (!IsNumericType(v.DataType()))
        throw EVRXException("Not numeric argument in numeric operator '%s'",
                            {OperatorName(operator_)}, kErrExprNotNumeric);
      TVRXVariant& total = operator_ == eoAggSum ? value_ : sum_;
      if (total.IsNull()) {
        // Integers sum in LARGEINT, the type SUM declares.
        total.Assign(v, true);
        if (IsIntegerType(v.DataType())) total.ChangeType(B::LargeInt);
      } else {
        total.Add(v);
      }
      ++count_;
      if (operator_ == eoAggAvg) {
        value_.Clear(B::Float);
        value_.SetAsFloat(static_cast<double>(sum_.GetAsExtended() / count_));
      }
      return;
    }
    case eoAggMin:
    case eoAggMax: {
      ++count_;
      const int wanted = operator_ == eoAggMin ? kCompareLess : kCompareGreater;
      if (value_.IsNull() || v.Compare(value_, {.ignoreCase = caseInsensitive_}) == wanted)
        value_.Assign(v, true);
      return;
    }
    default:
      ThrowUnknownOperator();
  }
}

}  // namespace vrx
