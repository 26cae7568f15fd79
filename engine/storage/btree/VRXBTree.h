// TVRXBTree: the B+-tree machinery shared by the record indexes and the page
// indexes: the tree page layout, search, insertion with splits, deletion
// with merges, stepping along the leaf and node chains, condition search,
// positions and numbering. It owns nothing but its root page number: pages
// come from the page manager in the session passed to each call, and every
// page fetched is put back before the call returns (TVRXPageGuard), on
// errors too.
//
// Tree page (page type 12), data area of D bytes:
//   0  byte   root flag
//   1  byte   leaf flag
//   2  int32  previous page on the level, -1 = none
//   6  int32  next page on the level, -1 = none
//   10 byte   1 on a page made as an empty root, 0 on split pages
//   11 byte   0 (extra entry bytes; never set by this engine)
//   12 uint16 key size K
//   14 uint16 entry count
//   16 uint16 bytes between header and first entry (0)
//   18        entries of E = K + value bytes; the value is the tree's value
//             in a leaf and the int32 child page in a node
// A page is overfull when count × E + 18 > D and underfull when count × E <
// (D − 18) div 2; two siblings fit together when (c₁ + c₂) × E + 18 < D.
//
// Invariants (TVRXBTreeChecker checks them all; debug builds check the
// cheap ones on the pages an operation touched, at its end):
//  1. The root page number never changes while the tree exists.
//  2. Every page reached from the root is a type-12 page, reached once;
//     only the root has the root flag; all leaves are on one level.
//  3. Entries of a page are in ascending (key, tie-break) order, and so are
//     the leaves along the leaf chain.
//  4. The pages of each level form one chain in key order, linked both
//     ways; the first page has no previous, the last no next.
//  5. A node's entry i leads to a subtree whose entries are not below the
//     key of entry i (i > 0) and below the key of entry i + 1; entry 0's
//     key is never compared.
//  6. count × E + 18 ≤ D on every page, and every page but the root holds
//     at least one entry.
//
// Not thread-safe: the caller holds the table's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "engine/storage/btree/VRXBTreeKey.h"
#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {

namespace btree_page {
inline constexpr int kRootFlag = 0;
inline constexpr int kLeafFlag = 1;
inline constexpr int kPrevPage = 2;
inline constexpr int kNextPage = 6;
inline constexpr int kInitialRoot = 10;
inline constexpr int kExtraBytes = 11;
inline constexpr int kKeySize = 12;
inline constexpr int kEntryCount = 14;
inline constexpr int kEntryGap = 16;
inline constexpr int kHeaderSize = 18;
}  // namespace btree_page

class TVRXPageGuard;
class TVRXPageManager;

// Fetches an existing page of a tree whose keys take `keySize` bytes and
// whose leaf entries `entrySize`. A page that cannot be one (flags other
// than 0 and 1, another key size, more entries than the page holds: damage,
// or a number pointing at another kind of page) raises "Index error: page %d
// is damaged" (20129) before any entry is read.
TVRXPageGuard FetchTreePage(TVRXPageManager& pages, int32_t sessionID, int32_t pageNo,
                            int32_t keySize, int32_t entrySize);

// Kinds of an index condition, as the cursor layer numbers them.
enum class TVRXConditionKind : int32_t {
  None = 0,
  Equal = 1,
  Less = 2,
  Greater = 3,
  LessOrEqual = 4,
  GreaterOrEqual = 5,
};

// What a search looks for: a key, and optionally the record ID that orders
// equal keys and the record the key came from (to decide keys that tie on
// a truncated part).
struct TVRXSearchRef {
  const uint8_t* Key = nullptr;
  const TVRXRecordID* RecordID = nullptr;
  std::span<const uint8_t> Record;
};

// Decides a tie on a truncated part with the full values, when it can.
class TVRXBTreeTieResolver {
 public:
  virtual ~TVRXBTreeTieResolver() = default;
  // The order of the search's full key against the full key of the
  // record `entry`; 0 when either record is not at hand.
  virtual int ResolveCutTie(int32_t sessionID, const TVRXSearchRef& search,
                            const TVRXRecordID& entry) = 0;
};

class TVRXBTree {
 public:
  // `pages` and `keys` (and `resolver`, may be nullptr) outlive the tree.
  // With `recordIDTieBreak` leaf values are record IDs that order entries
  // with equal keys; without it keys are unique (page indexes).
  TVRXBTree(TVRXPageManager& pages, TVRXBTreeKeyRef& keys, bool recordIDTieBreak,
            TVRXBTreeTieResolver* resolver);

  TVRXPageManager& Pages() const { return pages_; }
  TVRXBTreeKeyRef& Keys() const { return keys_; }
  int32_t RootPage() const { return root_; }
  void SetRootPage(int32_t pageNo) { root_ = pageNo; }
  int32_t DataSize() const { return pages_.DataSize(); }
  // D div (K + 4).
  int32_t NodeCapacity() const;

  // A new empty root leaf; returns (and keeps) its page number.
  int32_t Create(int32_t sessionID);
  // Every page of the tree back to the page manager; the root becomes -1.
  void Drop(int32_t sessionID);
  // Every page below the root back; the root becomes an empty root leaf.
  void Empty(int32_t sessionID);

  // Inserts (key, value). With a record-ID tie-break, search.RecordID must
  // be the value's record ID.
  void Insert(int32_t sessionID, const TVRXSearchRef& search, const uint8_t* value);
  // Deletes the entry equal to the search (key and, with the tie-break,
  // record ID); false when there is none.
  bool Delete(int32_t sessionID, const TVRXSearchRef& search);

  // Positions `path` on the entry equal to the search; false when none.
  bool FindExact(int32_t sessionID, const TVRXSearchRef& search, TVRXKeyPath& path);
  // First and last entry; false on an empty tree (path cleared).
  bool First(int32_t sessionID, TVRXKeyPath& path);
  bool Last(int32_t sessionID, TVRXKeyPath& path);
  // One step along the index; false past the end (path unchanged).
  // "Index error: invalid position" (20068 next, 20069 prior) for an empty
  // path, "Index error: invalid page number" (20070, 20071) for a broken
  // level chain.
  bool Next(int32_t sessionID, TVRXKeyPath& path);
  bool Prior(int32_t sessionID, TVRXKeyPath& path);
  // The first (or with `last` the last) entry satisfying "entry key <kind>
  // key" over the parts in use; false when none (path cleared).
  bool FindCondition(int32_t sessionID, TVRXConditionKind kind, const uint8_t* key, bool last,
                     TVRXKeyPath& path);

  // Key and value of the leaf entry at the path (either may be nullptr).
  void ReadEntry(int32_t sessionID, const TVRXKeyPath& path, uint8_t* key, uint8_t* value);
  // Overwrites the value of the leaf entry at the path.
  void WriteValue(int32_t sessionID, const TVRXKeyPath& path, const uint8_t* value);
  // Follows the path's entry indexes from the root (page numbers and counts
  // are refreshed) and reads that leaf entry; false when an index is out
  // of range.
  bool ReadEntryAtPath(int32_t sessionID, TVRXKeyPath& path, uint8_t* key, uint8_t* value);

  // Σ (eₗ + 1) × (N + 1)^(depth − 1 − l), N = NodeCapacity().
  int64_t PositionNumber(const TVRXKeyPath& path) const;
  // The path of that number for a tree of `depth` levels: page numbers -1,
  // counts 0, entry indexes set.
  void PathFromPositionNumber(int64_t number, int32_t depth, TVRXKeyPath& path) const;
  // Levels from the root to the leaves (1 for a lone root leaf).
  int32_t Depth(int32_t sessionID);

  // Entries on the leaves before the path's leaf (walking the chain back).
  int64_t EntriesBeforeLeaf(int32_t sessionID, const TVRXKeyPath& path);
  // Positions on the entry with this 0-based ordinal; false past the end.
  bool SeekOrdinal(int32_t sessionID, int64_t ordinal, TVRXKeyPath& path);
  // Every entry in order until `visit` answers false.
  void ForEach(int32_t sessionID,
               const std::function<bool(const uint8_t* key, const uint8_t* value)>& visit);
  // The entries from `first` to `last` (both included; positions of this
  // tree, first not after last) in order until `visit` answers false, one
  // leaf fetched at a time along the leaf chain.
  void ForEachBetween(int32_t sessionID, const TVRXKeyPath& first, const TVRXKeyPath& last,
                      const std::function<bool(const uint8_t* key, const uint8_t* value)>& visit);
  // Number of entries (walks the leaf chain).
  int64_t Count(int32_t sessionID);

 private:
  friend class TVRXBTreeChecker;
  class Impl;
  TVRXPageManager& pages_;
  TVRXBTreeKeyRef& keys_;
  bool tieBreak_;
  TVRXBTreeTieResolver* resolver_;
  int32_t root_ = -1;
};

}  // namespace vrx
