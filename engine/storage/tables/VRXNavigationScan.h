// TVRXNavigationScan: one scan of record navigation on behalf of one
// cursor (VRXTableData.h, the navigation slots). It gathers the conditions
// a key search, the cursor's range, distinct setting and filters become
// (VRXScanConditions.h), derives index conditions from the filters, merges
// the conditions on each index (a pair that cannot both hold empties the
// scan without reading anything), chooses the access path by the indexes'
// estimates (an index range, or a full scan in the cursor's order), and
// walks it from a position in either direction, testing on each record
// what the path does not enforce.
//
// The expression nodes a chosen removable condition came from are detached
// for the scan's life and attached again when it goes, also after a
// failure. Internal to the table data object; used under the table's lock.
// The scan uses the table, the cursor and their expressions and owns its
// conditions, scratch record and key paths.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/tables/VRXScanConditions.h"
#include "engine/storage/tables/VRXTableCursor.h"

namespace vrx {

class TVRXBaseTableData;

// Where a scan starts: before the first record, after the last, or at a
// record.
struct TVRXNavigationPosition {
  bool atBOF = true;
  bool atEOF = false;
  TVRXRecordID id;
  bool AtEdge() const { return atBOF || atEOF; }
  // Nothing lies that way: before the first record or after the last.
  bool NothingBeyond(bool forward) const { return forward ? atEOF : atBOF; }
};

class TVRXNavigationScan {
 public:
  // `recordsRead` counts the records the scan reads.
  TVRXNavigationScan(TVRXBaseTableData& table, TVRXTableCursor& cursor, int64_t& recordsRead);
  ~TVRXNavigationScan();
  TVRXNavigationScan(const TVRXNavigationScan&) = delete;
  TVRXNavigationScan& operator=(const TVRXNavigationScan&) = delete;

  // The key search of FindKey on the current index.
  void AddKeyCondition(int32_t comparison);

  void AddExpression(TVRXScanExpression& expression) { conditions_.AddExpression(expression); }

  // The records whose leading distinct key fields equal those of `record`.
  void AddGroupCondition(std::span<const uint8_t> record);

  // The cursor's filters, range and, away from either end, the distinct
  // key of `distinctKey` for the direction.
  void AddCursorRestrictions(bool forward, std::span<const uint8_t> distinctKey);

  // Index conditions from the expressions, merged; the path chosen; the
  // nodes the chosen conditions enforce detached.
  void Prepare();

  // Merging proved that no record can pass.
  bool Empty() const { return empty_; }

  // The first accepted record from `from` in the direction; its ID, and
  // its data in `record` (when not empty).
  bool Find(const TVRXNavigationPosition& from, bool forward, TVRXRecordID& found,
            std::span<uint8_t> record);

  // The current record was gone when Find started from it.
  bool Lost() const { return lost_; }
  // After a Find along the cursor's current index: the found entry's path.
  const TVRXKeyPath* FoundPathOnCurrentIndex() const;

  // After Prepare: the chosen range lies on another index than the one
  // the cursor walks (or the cursor walks storage order), so that each
  // Find walks the whole range for the nearest record.
  bool WalksByNearest() const;
  // After Prepare: the chosen range lies on the cursor's current index.
  bool WalksCurrentIndex() const;

  // Every accepted record, in no particular order.
  void MarkAll(const std::function<void(const TVRXRecordID&)>& mark);

 private:
  // What merging two conditions on one index decides.
  enum class Merge { KeepBoth, DropFirst, DropSecond, Empty };

  TVRXBTreeRecordIndex& IndexOf(const TVRXScanSearchCondition& c);

  void AddIndexCondition(TVRXConditionKind kind, std::span<const uint8_t> key, int32_t fieldCount);

  // Keys as long as a memory record; field counts within the index.
  void Normalise(TVRXScanSearchCondition& c);

  // Decides two conditions on one index. A condition is dropped only when
  // the one kept implies it; a pair that cannot both hold empties the
  // scan; what the prefix comparison cannot settle is kept.
  Merge MergePair(const TVRXScanSearchCondition& a, const TVRXScanSearchCondition& b);

  void MergeConditions();

  // Index conditions first, grouped by index in the order each index
  // first appears, then the expressions.
  void OrderConditions();

  bool UniqueSingleField(const TVRXScanSearchCondition& c);

  void Take(TVRXScanSearchCondition* first, TVRXScanSearchCondition* second);

  TVRXIndexCondition IndexCondition(const TVRXScanSearchCondition* c);

  // Would records have to be read if `a` (and `b`) drove the scan?
  bool NeedsRecords(const TVRXScanSearchCondition* a, const TVRXScanSearchCondition* b);

  void Choose();

  void DropUnchosenRemovable();

  void AttachAll();

  // Tests the record in scratch_ against every condition and the callback.
  bool Test();

  // Reads the record into scratch_ unless it is there already; false when
  // it is gone.
  bool FetchScratch(const TVRXRecordID& id);

  bool RecordSatisfies(const TVRXScanSearchCondition& c);

  // Reads the record when a test needs it; false when it does not pass.
  bool Accept(const TVRXRecordID& id);
  // Reads the record always, then tests it.
  bool AcceptRead(const TVRXRecordID& id);

  void Deliver(const TVRXRecordID& id, std::span<uint8_t> record);

  // The path of the current record in the cursor's current index, from
  // the cursor's position cache when it still holds; null (and Lost())
  // when the record is gone. Raises "Cannot find record position in index
  // %d, RecordID = %d %d" when the record has no entry.
  std::unique_ptr<TVRXKeyPath> CurrentIndexPath(const TVRXRecordID& id, bool useCache);

  // Walks the chosen range of path_ in the direction, from just after
  // `start` (or from the range's near edge), until `visit` answers true.
  // With `byRecords` the walk reads each entry's record (the visitor needs
  // it anyway) and tests the range's bounds on it: entries come in key
  // order, so the first one past the far bound ends the range, and only
  // the near edge is searched in the tree. Without, both edges are
  // searched and the walk reads no record.
  bool WalkRange(bool forward, const TVRXKeyPath* start, bool byRecords,
                 const std::function<bool(const TVRXRecordID&)>& visit);

  // The range's edges of path_; false when the range is empty.
  bool RangeEdges(TVRXKeyPath& first, TVRXKeyPath& last);

  // The cursor navigates in storage order: among the accepted records of
  // the range, the one nearest after (before) the current record ID.
  bool NearestByRecordID(const TVRXNavigationPosition& from, bool forward, TVRXRecordID& found);

  // The range lies on another index than the cursor's: among its accepted
  // records, the one whose position in the current index is nearest after
  // (before) the current one.
  bool NearestInCurrentIndex(const TVRXNavigationPosition& from, bool forward, TVRXRecordID& found);

  // No index condition: the records in the cursor's order one by one.
  bool FullScan(const TVRXNavigationPosition& from, bool forward, TVRXRecordID& found);

  TVRXBaseTableData& table_;
  TVRXTableCursor& cursor_;
  int32_t session_;
  int32_t recordSize_;
  int64_t& recordsRead_;
  std::vector<uint8_t> scratch_;
  bool haveScratch_ = false;
  TVRXRecordID scratchID_;
  TVRXScanSearchConditionArray conditions_;
  std::vector<TVRXScanExpression*> detached_;
  bool hasCallback_ = false;
  bool empty_ = false;
  bool needRecord_ = true;
  bool uniqueEquality_ = false;
  TVRXBTreeRecordIndex* path_ = nullptr;  // the index walked; null: full scan
  const TVRXScanSearchCondition* lower_ = nullptr;
  const TVRXScanSearchCondition* upper_ = nullptr;
  TVRXKeyPath lastPath_;
  // The record indexes met so far, by ID.
  std::vector<std::pair<int32_t, TVRXBTreeRecordIndex*>> indexes_;
  bool foundOnCurrent_ = false;
  bool lost_ = false;
};

}  // namespace vrx
