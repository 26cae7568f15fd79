// TVRXCursorFilter: one expression bound to a cursor, as record navigation
// sees it (TVRXScanExpression, VRXScanConditions.h). The cursor wraps its
// filter and extra filter in one each; Locate and LocateValue wrap the
// expression they build for the duration of the search.
//
// Index conditions. For every index of the cursor's table and every node
// that the expression offers (the root, or the conjuncts of a root AND)
// and that can use the index's first key field, one condition with one key
// field; a condition of kind "=" on an index with more key fields is then
// extended over the following key fields by equalities, up to the first key
// field without one. Two rules keep the ranges sound:
//  - The key must hold the node's value exactly, and the node must compare
//    in an order the index keeps (the field's own type, or a type that
//    widens it without loss). A value the key field cannot hold (5.5 for an
//    INTEGER field, a text longer than the field) or a comparison made in
//    another type (an INTEGER field against a text) gives no condition.
//  - A condition is Removable only when its range selects exactly the
//    records its nodes accept. Index keys order NULL before every value
//    (after every value on a descending key field), while a comparison
//    under SQL NULL rules rejects NULL: a range that takes in NULL keys
//    (Age < 5 on an ascending key field) or a comparison with a NULL
//    constant stays non-removable. So does text compared ignoring case or
//    on a key field that keeps only a prefix of the text. A non-removable
//    condition still bounds the scan; its nodes keep testing.
//
// Detached nodes (DetachNode) count as true until AttachNodes; the flag
// lives in the nodes (TVRXExprNode::Detached), so a filter object carries
// no state of its own beyond the two references.
//
// The expression and the cursor must outlive the filter. Not thread-safe:
// used under the table's lock, like the cursor.
#pragma once

#include <cstdint>
#include <span>

#include "engine/storage/tables/VRXScanConditions.h"

namespace vrx {

class TVRXCursor;
class TVRXExpression;

class TVRXCursorFilter final : public TVRXScanExpression {
 public:
  // `expression` is bound to `cursor` (its field references read the
  // cursor's records).
  TVRXCursorFilter(TVRXExpression& expression, TVRXCursor& cursor)
      : expression_(expression), cursor_(cursor) {}

  TVRXExpression& Expression() const { return expression_; }

  bool Accepts(std::span<const uint8_t> record) override;
  bool IsEmpty() const override;
  void DeriveIndexConditions(TVRXScanSearchConditionArray& conditions, int32_t sessionID) override;
  // `node` is one of the expression's index candidates; other pointers are
  // ignored.
  void DetachNode(const void* node) override;
  void AttachNodes() override;

 private:
  TVRXExpression& expression_;
  TVRXCursor& cursor_;
};

}  // namespace vrx
