// The record indexes of a table: TVRXIndex, the operations every index of a
// table offers the table data object and the cursors, and
// TVRXBTreeRecordIndex, their B-tree implementation over one index
// definition. Entries are (key of a record, record ID); equal keys order by
// record ID. The index takes records from a TVRXIndexRecordSource that the
// table's record storage implements: to build an index, to read the record
// of an entry (GetRecord), and to decide keys that tie on a truncated text
// part.
//
// Ownership: the index keeps its own copy of the definition; key paths,
// scan states and position caches belong to whoever created them.
// Not thread-safe: the caller holds the table's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/btree/VRXBTree.h"
#include "engine/storage/btree/VRXBTreeKey.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/storage/metadata/VRXMetadataServices.h"

namespace vrx {

class TVRXFieldDefs;
class TVRXBaseIndexManager;

// The table's records as an index sees them.
class TVRXIndexRecordSource {
 public:
  virtual ~TVRXIndexRecordSource() = default;
  // Reads the memory record `id` as the session sees it into `record`
  // (memory record size bytes); false when there is no such record.
  virtual bool ReadRecord(int32_t sessionID, const TVRXRecordID& id,
                          std::span<uint8_t> record) = 0;
  // Every record of the table in storage order.
  virtual void ForEachRecord(
      int32_t sessionID,
      const std::function<void(const TVRXRecordID& id, std::span<const uint8_t> record)>&
          visit) = 0;
};

// A set of records (a cursor's record bitmap) that ApplyDistinct thins.
class TVRXIndexRecordSet {
 public:
  virtual ~TVRXIndexRecordSet() = default;
  virtual bool Contains(const TVRXRecordID& id) const = 0;
  virtual void Remove(const TVRXRecordID& id) = 0;
};

// A record change as the table data object hands it to the indexes.
struct TVRXIndexRecordOperation {
  int32_t SessionID = kSystemSessionID;
  std::span<const uint8_t> NewRecord;  // insert, update
  std::span<const uint8_t> OldRecord;  // update, delete
  TVRXRecordID RecordID;
};

enum TVRXGetRecordMode : int32_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };

// A navigation step along an index. Result: 0 found, 1 before first,
// 2 after last, 3 the current record's entry is not found.
struct TVRXIndexNavigation {
  int32_t Mode = grmNext;
  TVRXRecordID RecordID;
  bool BeforeFirst = false;
  bool AfterLast = false;
  int32_t Result = 0;
  // Receives the record found (memory record size bytes); may be empty.
  std::span<uint8_t> Record;
};

class TVRXIndex;

// A cursor's last position on an index, so the next step need not search
// from the root.
struct TVRXIndexPositionCache {
  const TVRXIndex* Index = nullptr;
  TVRXRecordID RecordID;
  int32_t SessionID = kInvalidSessionID;
  TVRXKeyPath Path;
  void Invalidate() { Index = nullptr; Path.Clear(); }
};

// One bound of a range over an index: entries whose key compares with Key
// (a key in the index's layout, e.g. from BuildKey) by Kind, over the
// first KeyFieldCount parts (0 = all).
struct TVRXIndexCondition {
  TVRXConditionKind Kind = TVRXConditionKind::None;
  std::vector<uint8_t> Key;
  int32_t KeyFieldCount = 0;
};

struct TVRXIndexScanState {
  bool Started = false;
  bool Finished = false;
  std::unique_ptr<TVRXKeyPath> Current;
  std::unique_ptr<TVRXKeyPath> End;  // none: up to the end of the index
};

class TVRXIndex {
 public:
  virtual ~TVRXIndex() = default;

  // Builds the key layout, makes an empty root and, with `records`, inserts
  // the key of every record in storage order. The root page goes into the
  // index's definition.
  virtual void CreateIndex(int32_t sessionID, TVRXIndexRecordSource* records,
                           const TVRXIndexDef& definition) = 0;
  // Every page back, root included ("Invalid page number", 20119, without
  // a tree).
  virtual void DropIndex(int32_t sessionID) = 0;
  // Every page below the root back, the root emptied (20120).
  virtual void EmptyIndex(int32_t sessionID) = 0;
  // The key layout of an existing tree (the definition's root page).
  virtual void OpenIndex(const TVRXIndexDef& definition) = 0;
  // DropIndex, then CreateIndex from `records`.
  virtual void RebuildIndex(int32_t sessionID, TVRXIndexRecordSource* records) = 0;
  // One navigation step; "Invalid get record mode for index: grmCurrent"
  // (20053) for mode 0.
  virtual void GetRecord(int32_t sessionID, TVRXIndexNavigation& request,
                         TVRXIndexPositionCache* cache) = 0;
  virtual std::unique_ptr<TVRXKeyPath> CreatePosition() = 0;
  virtual void FreePosition(std::unique_ptr<TVRXKeyPath>& path) = 0;
  // Positions on the entry of (key of `record`, id); false when none
  // (20124 without a tree).
  virtual bool FindRecordPosition(int32_t sessionID, const TVRXRecordID& id, TVRXKeyPath& path,
                                  std::span<const uint8_t> record) = 0;
  // "Nil pointer occured" (10384, 10385) for a missing path.
  virtual int ComparePositions(const TVRXKeyPath* left, const TVRXKeyPath* right) = 0;
  // 1-based number in index order; -1 when the entry is not found.
  virtual int64_t GetRecordNumber(int32_t sessionID, const TVRXRecordID& id,
                                  std::span<const uint8_t> record) = 0;
  // "Cannot retreive record from empty index" (20074), "Cannot set RecNo
  // greater than RecordCount" (20075).
  virtual TVRXRecordID GetRecordIDByNumber(int32_t sessionID, int64_t number) = 0;
  // Keeps, of every run of members whose first `partsInUse` key parts are
  // equal (0 = all), the first in index order.
  virtual void ApplyDistinct(int32_t sessionID, TVRXIndexRecordSet& records,
                             int32_t partsInUse = 0) = 0;
  virtual std::unique_ptr<TVRXIndexScanState> CreateScanState() = 0;
  virtual void FreeScanState(std::unique_ptr<TVRXIndexScanState>& state) = 0;
  // One step of a condition scan; false when the scan has ended. "Pointer
  // is nil" (20077) without a state, "Index error: invalid params" (20078)
  // for a restart of a started state.
  virtual bool ScanNext(int32_t sessionID, bool restart, TVRXIndexScanState* state,
                        TVRXRecordID& id, std::span<uint8_t> record,
                        const TVRXIndexCondition* start, const TVRXIndexCondition* end,
                        bool forward) = 0;
  virtual int CompareRecordKeys(std::span<const uint8_t> left, std::span<const uint8_t> right,
                                int32_t partsInUse) = 0;
  // −1 for ">" and ">=", +1 for "<" and "<=", else 0.
  virtual int ConditionDirection(const TVRXIndexCondition& condition) = 0;
  virtual int64_t EstimateRangeCount(int32_t sessionID, const TVRXIndexCondition& first,
                                     const TVRXIndexCondition& second, int64_t total) = 0;
  virtual bool CheckUnique(int32_t sessionID, std::span<const uint8_t> record) = 0;
  virtual bool CheckUniqueOnUpdate(int32_t sessionID, std::span<const uint8_t> oldRecord,
                                   std::span<const uint8_t> newRecord) = 0;
  virtual void InsertKey(const TVRXIndexRecordOperation& operation) = 0;
  // "Index error: cannot delete entry. Entry not found" (20027).
  virtual void DeleteKey(const TVRXIndexRecordOperation& operation) = 0;
  // Deletes the old entry (20250 when missing) and inserts the new one
  // when the full keys differ.
  virtual void UpdateKey(const TVRXIndexRecordOperation& operation) = 0;
  virtual int32_t GetNodeCapacity() = 0;
  // Follows the path's entry indexes from the root; the leaf entry's
  // record ID. False when the path leads nowhere.
  virtual bool ReadEntryAtPath(int32_t sessionID, TVRXKeyPath& path, TVRXRecordID& id) = 0;

  const TVRXIndexDef& Definition() const { return *definition_; }
  TVRXBaseIndexManager* Manager() const { return manager_; }
  void SetManager(TVRXBaseIndexManager* manager) { manager_ = manager; }

 protected:
  TVRXIndex();
  std::unique_ptr<TVRXIndexDef> definition_;
  TVRXBaseIndexManager* manager_ = nullptr;
};

class TVRXBTreeRecordIndex : public TVRXIndex, private TVRXBTreeTieResolver {
 public:
  // `pages`, `fields` and `records` (may be nullptr: truncated ties then
  // stay ties) outlive the index.
  TVRXBTreeRecordIndex(TVRXPageManager& pages, const TVRXFieldDefs& fields,
                       TVRXIndexRecordSource* records);
  ~TVRXBTreeRecordIndex() override;

  void CreateIndex(int32_t sessionID, TVRXIndexRecordSource* records,
                   const TVRXIndexDef& definition) override;
  void DropIndex(int32_t sessionID) override;
  void EmptyIndex(int32_t sessionID) override;
  void OpenIndex(const TVRXIndexDef& definition) override;
  void RebuildIndex(int32_t sessionID, TVRXIndexRecordSource* records) override;
  void GetRecord(int32_t sessionID, TVRXIndexNavigation& request,
                 TVRXIndexPositionCache* cache) override;
  std::unique_ptr<TVRXKeyPath> CreatePosition() override;
  void FreePosition(std::unique_ptr<TVRXKeyPath>& path) override;
  bool FindRecordPosition(int32_t sessionID, const TVRXRecordID& id, TVRXKeyPath& path,
                          std::span<const uint8_t> record) override;
  int ComparePositions(const TVRXKeyPath* left, const TVRXKeyPath* right) override;
  int64_t GetRecordNumber(int32_t sessionID, const TVRXRecordID& id,
                          std::span<const uint8_t> record) override;
  TVRXRecordID GetRecordIDByNumber(int32_t sessionID, int64_t number) override;
  void ApplyDistinct(int32_t sessionID, TVRXIndexRecordSet& records,
                     int32_t partsInUse = 0) override;
  std::unique_ptr<TVRXIndexScanState> CreateScanState() override;
  void FreeScanState(std::unique_ptr<TVRXIndexScanState>& state) override;
  bool ScanNext(int32_t sessionID, bool restart, TVRXIndexScanState* state, TVRXRecordID& id,
                std::span<uint8_t> record, const TVRXIndexCondition* start,
                const TVRXIndexCondition* end, bool forward) override;
  int CompareRecordKeys(std::span<const uint8_t> left, std::span<const uint8_t> right,
                        int32_t partsInUse) override;
  int ConditionDirection(const TVRXIndexCondition& condition) override;
  int64_t EstimateRangeCount(int32_t sessionID, const TVRXIndexCondition& first,
                             const TVRXIndexCondition& second, int64_t total) override;
  bool CheckUnique(int32_t sessionID, std::span<const uint8_t> record) override;
  bool CheckUniqueOnUpdate(int32_t sessionID, std::span<const uint8_t> oldRecord,
                           std::span<const uint8_t> newRecord) override;
  void InsertKey(const TVRXIndexRecordOperation& operation) override;
  void DeleteKey(const TVRXIndexRecordOperation& operation) override;
  void UpdateKey(const TVRXIndexRecordOperation& operation) override;
  int32_t GetNodeCapacity() override;
  bool ReadEntryAtPath(int32_t sessionID, TVRXKeyPath& path, TVRXRecordID& id) override;

  // The key of a record in this index's layout (KeySize bytes).
  std::vector<uint8_t> BuildKey(std::span<const uint8_t> record) const;
  // Positions on the first (last) entry satisfying the condition.
  bool FindCondition(int32_t sessionID, const TVRXIndexCondition& condition, bool last,
                     TVRXKeyPath& path);
  // Position number of an entry and back (record bitmaps of cursors).
  int64_t PositionNumber(const TVRXKeyPath& path) const;
  void PathFromPositionNumber(int32_t sessionID, int64_t number, TVRXKeyPath& path);
  // Steps of the path along the index; false at either end.
  bool StepNext(int32_t sessionID, TVRXKeyPath& path);
  bool StepPrior(int32_t sessionID, TVRXKeyPath& path);
  // The record ID of the entry at the path.
  TVRXRecordID RecordIDAt(int32_t sessionID, const TVRXKeyPath& path);

  int32_t RootPage() const { return tree_ ? tree_->RootPage() : -1; }
  const TVRXRecordKeyRef& KeyLayout() const { return *keys_; }
  // The tree (for the checker); valid after CreateIndex or OpenIndex.
  TVRXBTree& Tree() const { return *tree_; }

 private:
  int ResolveCutTie(int32_t sessionID, const TVRXSearchRef& search,
                    const TVRXRecordID& entry) override;
  void CheckTree(int32_t nativeError) const;
  void SetLayout(const TVRXIndexDef& definition);
  void InsertRecord(int32_t sessionID, std::span<const uint8_t> record, const TVRXRecordID& id);
  bool DeleteRecord(int32_t sessionID, std::span<const uint8_t> record, const TVRXRecordID& id);
  bool PositionOnCondition(int32_t sessionID, const TVRXIndexCondition* condition, bool last,
                           TVRXKeyPath& path);

  TVRXPageManager& pages_;
  const TVRXFieldDefs& fields_;
  TVRXIndexRecordSource* records_;
  std::unique_ptr<TVRXRecordKeyRef> keys_;
  std::unique_ptr<TVRXBTree> tree_;
  std::vector<uint8_t> scratchRecord_;
};

// The index manager's view of a record index (VRXMetadataServices.h).
class TVRXBTreeIndexObject : public TVRXIndexObject {
 public:
  // `pages`, `fields` and `records` outlive the object; `definition` is
  // copied.
  TVRXBTreeIndexObject(TVRXPageManager& pages, const TVRXFieldDefs& fields,
                       TVRXIndexRecordSource* records, const TVRXIndexDef& definition);
  void Build(int32_t sessionID) override;
  void Empty(int32_t sessionID) override;
  void Drop(int32_t sessionID) override;
  void InsertKey(int32_t sessionID, std::span<const uint8_t> record,
                 const TVRXRecordID& recordID) override;
  void DeleteKey(int32_t sessionID, std::span<const uint8_t> record,
                 const TVRXRecordID& recordID) override;
  bool ContainsKey(int32_t sessionID, std::span<const uint8_t> record) override;
  bool SameKey(std::span<const uint8_t> left, std::span<const uint8_t> right) override;
  bool SameEntry(std::span<const uint8_t> left, std::span<const uint8_t> right) override;
  int32_t RootPage() const override;

  TVRXBTreeRecordIndex& Index() { return index_; }

 private:
  TVRXBTreeRecordIndex index_;
  std::unique_ptr<TVRXIndexDef> definition_;
  TVRXIndexRecordSource* records_;
};

// Opens B-tree index objects: stored indexes in `stored`, temporary ones in
// `temporary` (the table's private temporary page manager; may be the same
// manager).
class TVRXBTreeIndexFactory : public TVRXIndexFactory {
 public:
  TVRXBTreeIndexFactory(TVRXPageManager& stored, TVRXPageManager& temporary,
                        const TVRXFieldDefs& fields, TVRXIndexRecordSource* records);
  std::unique_ptr<TVRXIndexObject> OpenIndex(const TVRXIndexDef& definition) override;

 private:
  TVRXPageManager& stored_;
  TVRXPageManager& temporary_;
  const TVRXFieldDefs& fields_;
  TVRXIndexRecordSource* records_;
};

}  // namespace vrx
