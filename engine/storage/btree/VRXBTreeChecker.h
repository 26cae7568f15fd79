// TVRXBTreeChecker: walks a whole tree and reports every broken rule of its
// structure, one line per problem, without changing a page. Used by the
// tests after every batch of changes and by vrxcheck on every index and
// page directory of a table. Checks: every page reached is a type-12 page
// and reached once; root flag only on the root; leaves on one level; key
// size in the header equal to the layout's; count × E + 18 within the data
// area; keys in order within a page and along each level's chain; previous
// and next links consistent in both directions on every level; every node
// entry bounds its child's keys (not below entry i, below entry i + 1).
//
// The comparisons use the tree's key layout without record access, so keys
// that tie on a truncated part count as equal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/btree/VRXBTree.h"

namespace vrx {

class TVRXBTreeChecker {
 public:
  struct TResult {
    std::vector<std::string> Problems;
    int64_t Entries = 0;   // leaf entries
    int32_t Pages = 0;     // pages reached
    int32_t Depth = 0;
    int32_t Leaves = 0;    // leaf pages reached
    bool Ok() const { return Problems.empty(); }
  };

  // Walks `tree` in `sessionID`; pages that cannot be read are problems.
  static TResult Check(TVRXBTree& tree, int32_t sessionID);
};

}  // namespace vrx
