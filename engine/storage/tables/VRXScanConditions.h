// Index range conditions of record navigation: what a cursor's key search,
// range, distinct setting and filter expressions become before a scan
// chooses its access path (VRXTableData.h, the navigation slots).
//
// A TVRXScanSearchCondition either stands for a whole filter expression
// (Expression set, the index fields unused) or bounds one index: the
// records whose key, over the first KeyFieldCount key fields of index
// IndexID, compares with Key by Kind. Key is a memory record of the table
// holding the key field values at their fields' positions (other fields
// are ignored).
//
// Filter expressions reach navigation only through TVRXScanExpression,
// which the query layer implements over its expression trees: the storage
// engine never sees an expression node, only an opaque pointer to it.
//
// Ownership: an array owns its conditions; a condition owns its key. The
// expressions and nodes conditions point to belong to the cursor (or the
// caller of Locate) and outlive the scan. Not thread-safe: used under the
// table's lock, private to one navigation call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/btree/VRXBTree.h"

namespace vrx {

class TVRXScanSearchConditionArray;

// A filter expression as navigation sees it.
class TVRXScanExpression {
 public:
  virtual ~TVRXScanExpression() = default;
  // True when the memory record satisfies the expression's nodes that are
  // still attached; a NULL result counts as false. An empty expression
  // accepts every record.
  virtual bool Accepts(std::span<const uint8_t> record) = 0;
  // Nothing is left to test: no tree, or every node that was tested is
  // detached.
  virtual bool IsEmpty() const = 0;
  // Appends the index conditions this expression's nodes give for the
  // indexes of its table, as the session sees them: one condition with one
  // key field per usable node and index, then extended over further key
  // fields by equalities. Each condition is Removable only when its range
  // selects exactly the records the node accepts (so the node may be
  // detached while the range enforces it), and records this expression
  // and its node in SourceExpressions / SourceNodes.
  virtual void DeriveIndexConditions(TVRXScanSearchConditionArray& conditions,
                                     int32_t sessionID) = 0;
  // While detached, the node counts as true inside this expression.
  virtual void DetachNode(const void* node) = 0;
  // Every detached node is attached again.
  virtual void AttachNodes() = 0;
};

class TVRXScanSearchCondition {
 public:
  // Conditions always own their keys here; kept for the stored form of the
  // engine's condition records.
  bool OwnsKey = true;
  TVRXScanExpression* Expression = nullptr;
  TVRXConditionKind Kind = TVRXConditionKind::None;
  std::vector<uint8_t> Key;
  int32_t KeyFieldCount = 0;
  int32_t IndexID = -1;
  bool Removable = false;
  // Parallel lists: the expressions and the nodes the condition came from.
  std::vector<TVRXScanExpression*> SourceExpressions;
  std::vector<const void*> SourceNodes;

  int32_t KeySize() const { return static_cast<int32_t>(Key.size()); }
  bool IsExpression() const { return Expression != nullptr; }
  bool IsIndexCondition() const { return Expression == nullptr && IndexID != -1; }
};

class TVRXScanSearchConditionArray {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TVRXScanSearchCondition& operator[](int32_t i) { return *items_[static_cast<size_t>(i)]; }
  const TVRXScanSearchCondition& operator[](int32_t i) const {
    return *items_[static_cast<size_t>(i)];
  }

  // Appends an owned condition and returns it.
  TVRXScanSearchCondition& Add(std::unique_ptr<TVRXScanSearchCondition> condition);
  // Appends a copy. "Invalid scan condition - indexID = %d, count = %d"
  // (30556) when the condition has neither an expression nor an index.
  TVRXScanSearchCondition& AddCopy(const TVRXScanSearchCondition& condition);
  // Appends a condition standing for the whole expression.
  TVRXScanSearchCondition& AddExpression(TVRXScanExpression& expression);
  // "Invalid item number - ItemNo = %d, ItemCount = %d" (30557).
  void Delete(int32_t itemNo);
  void Clear() { items_.clear(); }
  // Reorders the conditions, keeping the order of those `less` does not
  // tell apart; the conditions themselves stay where they are in memory.
  void StableSort(const std::function<bool(const TVRXScanSearchCondition&,
                                           const TVRXScanSearchCondition&)>& less);

 private:
  std::vector<std::unique_ptr<TVRXScanSearchCondition>> items_;
};

}  // namespace vrx
