// The condition array of a navigation scan.
#include "engine/storage/tables/VRXScanConditions.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"

namespace vrx {

TVRXScanSearchCondition& TVRXScanSearchConditionArray::Add(
    std::unique_ptr<TVRXScanSearchCondition> condition) {
  items_.push_back(std::move(condition));
  return *items_.back();
}

TVRXScanSearchCondition& TVRXScanSearchConditionArray::AddCopy(
    const TVRXScanSearchCondition& condition) {
  if (condition.Expression == nullptr && condition.IndexID == -1)
    throw EVRXException("Invalid scan condition - indexID = %d, count = %d",
                        {condition.IndexID, Count()}, 30556);
  return Add(std::make_unique<TVRXScanSearchCondition>(condition));
}

TVRXScanSearchCondition& TVRXScanSearchConditionArray::AddExpression(
    TVRXScanExpression& expression) {
  auto condition = std::make_unique<TVRXScanSearchCondition>();
  condition->Expression = &expression;
  return Add(std::move(condition));
}

void TVRXScanSearchConditionArray::Delete(int32_t itemNo) {
  if (itemNo < 0 || itemNo >= Count())
    throw EVRXException("Invalid item number - ItemNo = %d, ItemCount = %d", {itemNo, Count()},
                        30557);
  items_.erase(items_.begin() + itemNo);
}

void TVRXScanSearchConditionArray::StableSort(
    const std::function<bool(const TVRXScanSearchCondition&, const TVRXScanSearchCondition&)>&
        less) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&](const std::unique_ptr<TVRXScanSearchCondition>& a,
                       const std::unique_ptr<TVRXScanSearchCondition>& b) { return less(*a, *b); });
}

}  // namespace vrx
