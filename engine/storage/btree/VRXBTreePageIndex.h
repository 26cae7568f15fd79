// The page directories of a table: B-trees whose key is a page number and
// whose value is a 16-bit amount. TVRXBTreeRecordPageIndex lists the
// table's record pages with their used-slot counts (used by the record
// manager); TVRXBTreeBlobPageIndex lists its BLOB pages with their used
// bytes (used by BLOB storage). Both keep entries in page-number order, and
// a page has an entry exactly while its amount is above 0.
//
// Every operation fetches pages in the session passed to it and puts each
// back before returning, on errors too; changes stay in that session's
// change set until it commits or cancels. Operations on an index without a
// tree (root -1) raise "Invalid page number" (20119 drop, 20120 empty,
// 20121 the other operations).
//
// Not thread-safe: the caller holds the table's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/storage/btree/VRXBTree.h"
#include "engine/storage/btree/VRXBTreeKey.h"

namespace vrx {

class TVRXBTreePageIndex {
 public:
  // `pages` outlives the index. `rootPage` is an existing tree's root (from
  // the table's metadata), or -1 until CreateIndex.
  explicit TVRXBTreePageIndex(TVRXPageManager& pages, int32_t rootPage = -1);
  virtual ~TVRXBTreePageIndex();
  TVRXBTreePageIndex(const TVRXBTreePageIndex&) = delete;
  TVRXBTreePageIndex& operator=(const TVRXBTreePageIndex&) = delete;

  // Whether a page holding `amount` takes `requested` more.
  virtual bool HasRoom(int32_t amount, int32_t requested) const = 0;

  int32_t RootPage() const;
  // Opens an existing tree (or forgets it with -1) without touching pages.
  void SetRootPage(int32_t rootPage);
  TVRXPageManager& Pages() const;

  // A new empty tree; returns its root page.
  int32_t CreateIndex(int32_t sessionID);
  // Returns every page of the tree, root included; the root becomes -1.
  void DropIndex(int32_t sessionID);
  // Removes every entry; the root page stays.
  void EmptyIndex(int32_t sessionID);

  // Adds `amount` to the page's amount; a page without entry is inserted
  // with it. An existing page whose room test refuses `amount` raises
  // "Cannot add data item to page. Page is full" (20106).
  void AddAmount(int32_t sessionID, int32_t pageNo, int32_t amount);
  // Subtracts `amount`; the entry goes when its amount reaches 0 (or less).
  // A page without entry raises "Invalid page number" (20110); an entry
  // with amount 0 raises "Index error: page is empty" (20112).
  void SubtractAmount(int32_t sessionID, int32_t pageNo, int32_t amount);
  // Sets the page's amount outright (0 removes the entry).
  void SetAmount(int32_t sessionID, int32_t pageNo, int32_t amount);

  // A page whose room test accepts `requested`: the entries of the last
  // leaf from its last backwards, then those of the first leaf from its
  // first forwards; -1 when none of them has room.
  int32_t FindPageWithRoom(int32_t sessionID, int32_t requested);
  // First and last page; -1 when the index is empty.
  int32_t FirstPage(int32_t sessionID);
  int32_t LastPage(int32_t sessionID);
  // The page after (before) `pageNo`, -1 when none. A page without entry
  // raises "Invalid page number" (20104 next, 20105 prior).
  int32_t NextPage(int32_t sessionID, int32_t pageNo);
  int32_t PriorPage(int32_t sessionID, int32_t pageNo);
  // The page's amount; -1 when the page has no entry.
  int32_t Amount(int32_t sessionID, int32_t pageNo);
  // Sum of the amounts of the pages before `pageNo`; false when the page
  // has no entry.
  bool AmountBefore(int32_t sessionID, int32_t pageNo, int64_t& before);
  // The page holding the 0-based unit `ordinal` when the amounts are laid
  // end to end, with the amounts of the pages before it; false past the
  // total.
  bool PageOfOrdinal(int32_t sessionID, int64_t ordinal, int32_t& pageNo, int64_t& before);
  // Every entry in page order until `visit` answers false.
  void ForEachPage(int32_t sessionID,
                   const std::function<bool(int32_t pageNo, int32_t amount)>& visit);
  int64_t PageCount(int32_t sessionID);
  int64_t TotalAmount(int32_t sessionID);

  // The tree, for the checker.
  TVRXBTree& Tree() const { return *tree_; }

 private:
  void CheckRoot(int32_t nativeError) const;

  TVRXPageKeyRef keys_;
  std::unique_ptr<TVRXBTree> tree_;
};

// A table's record pages with their used-slot counts: room while the count
// is below the records per page.
class TVRXBTreeRecordPageIndex : public TVRXBTreePageIndex {
 public:
  explicit TVRXBTreeRecordPageIndex(TVRXPageManager& pages, int32_t rootPage = -1,
                                    int32_t recordsPerPage = 0);
  bool HasRoom(int32_t amount, int32_t requested) const override;
  int32_t RecordsPerPage() const { return recordsPerPage_; }
  void SetRecordsPerPage(int32_t count) { recordsPerPage_ = count; }

 private:
  int32_t recordsPerPage_;
};

// A table's BLOB pages with their used bytes: room while amount + requested
// < D − 2.
class TVRXBTreeBlobPageIndex : public TVRXBTreePageIndex {
 public:
  explicit TVRXBTreeBlobPageIndex(TVRXPageManager& pages, int32_t rootPage = -1);
  bool HasRoom(int32_t amount, int32_t requested) const override;
};

}  // namespace vrx
