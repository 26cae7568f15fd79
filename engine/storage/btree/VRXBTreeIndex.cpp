#include "engine/storage/btree/VRXBTreeIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXFieldDef.h"

namespace vrx {

TVRXIndex::TVRXIndex() : definition_(std::make_unique<TVRXIndexDef>()) {}

TVRXBTreeRecordIndex::TVRXBTreeRecordIndex(TVRXPageManager& pages, const TVRXFieldDefs& fields,
                                           TVRXIndexRecordSource* records)
    : pages_(pages), fields_(fields), records_(records) {}

TVRXBTreeRecordIndex::~TVRXBTreeRecordIndex() = default;

void TVRXBTreeRecordIndex::SetLayout(const TVRXIndexDef& definition) {
  auto keys = std::make_unique<TVRXRecordKeyRef>(definition, fields_);
  definition_->Assign(definition);
  keys_ = std::move(keys);
  tree_ = std::make_unique<TVRXBTree>(pages_, *keys_, true, static_cast<TVRXBTreeTieResolver*>(this));
  tree_->SetRootPage(definition.RootPage());
}

void TVRXBTreeRecordIndex::CheckTree(int32_t nativeError) const {
  if (!tree_ || tree_->RootPage() == -1) throw EVRXException("Invalid page number", nativeError);
}

int TVRXBTreeRecordIndex::ResolveCutTie(int32_t sessionID, const TVRXSearchRef& search,
                                        const TVRXRecordID& entry) {
  if (records_ == nullptr || search.Record.empty()) return 0;
  scratchRecord_.resize(static_cast<size_t>(keys_->RecordSize()));
  if (!records_->ReadRecord(sessionID, entry, scratchRecord_)) return 0;
  return keys_->CompareRecords(search.Record, scratchRecord_);
}

void TVRXBTreeRecordIndex::CreateIndex(int32_t sessionID, TVRXIndexRecordSource* records,
                                       const TVRXIndexDef& definition) {
  SetLayout(definition);
  definition_->SetRootPage(tree_->Create(sessionID));
  if (records != nullptr)
    records->ForEachRecord(sessionID, [&](const TVRXRecordID& id, std::span<const uint8_t> r) {
      InsertRecord(sessionID, r, id);
    });
}

void TVRXBTreeRecordIndex::DropIndex(int32_t sessionID) {
  CheckTree(20119);
  tree_->Drop(sessionID);
  definition_->SetRootPage(-1);
}

void TVRXBTreeRecordIndex::EmptyIndex(int32_t sessionID) {
  CheckTree(20120);
  tree_->Empty(sessionID);
}

void TVRXBTreeRecordIndex::OpenIndex(const TVRXIndexDef& definition) { SetLayout(definition); }

void TVRXBTreeRecordIndex::RebuildIndex(int32_t sessionID, TVRXIndexRecordSource* records) {
  DropIndex(sessionID);
  const std::unique_ptr<TVRXIndexDef> definition(
      static_cast<TVRXIndexDef*>(definition_->Clone().release()));
  CreateIndex(sessionID, records, *definition);
}

std::vector<uint8_t> TVRXBTreeRecordIndex::BuildKey(std::span<const uint8_t> record) const {
  std::vector<uint8_t> key(static_cast<size_t>(keys_->KeySize()));
  keys_->BuildKey(record, key.data());
  return key;
}

void TVRXBTreeRecordIndex::InsertRecord(int32_t sessionID, std::span<const uint8_t> record,
                                        const TVRXRecordID& id) {
  const std::vector<uint8_t> key = BuildKey(record);
  uint8_t value[kRecordIDSize];
  StoreRecordID(value, id);
  tree_->Insert(sessionID, TVRXSearchRef{key.data(), &id, record}, value);
}

bool TVRXBTreeRecordIndex::DeleteRecord(int32_t sessionID, std::span<const uint8_t> record,
                                        const TVRXRecordID& id) {
  const std::vector<uint8_t> key = BuildKey(record);
  return tree_->Delete(sessionID, TVRXSearchRef{key.data(), &id, record});
}

bool TVRXBTreeRecordIndex::FindRecordPosition(int32_t sessionID, const TVRXRecordID& id,
                                              TVRXKeyPath& path,
                                              std::span<const uint8_t> record) {
  CheckTree(20124);
  const std::vector<uint8_t> key = BuildKey(record);
  return tree_->FindExact(sessionID, TVRXSearchRef{key.data(), &id, record}, path);
}

TVRXRecordID TVRXBTreeRecordIndex::RecordIDAt(int32_t sessionID, const TVRXKeyPath& path) {
  uint8_t value[kRecordIDSize];
  tree_->ReadEntry(sessionID, path, nullptr, value);
  return LoadRecordID(value);
}

bool TVRXBTreeRecordIndex::StepNext(int32_t sessionID, TVRXKeyPath& path) {
  return tree_->Next(sessionID, path);
}

bool TVRXBTreeRecordIndex::StepPrior(int32_t sessionID, TVRXKeyPath& path) {
  return tree_->Prior(sessionID, path);
}

void TVRXBTreeRecordIndex::GetRecord(int32_t sessionID, TVRXIndexNavigation& request,
                                     TVRXIndexPositionCache* cache) {
  if (request.Mode == grmCurrent)
    throw EVRXException("Invalid get record mode for index: grmCurrent", 20053);
  CheckTree(20121);
  TVRXKeyPath path;
  bool positioned = false;
  if (request.BeforeFirst) {
    positioned = tree_->First(sessionID, path);
    if (!positioned) {
      request.Result = 2;
      return;
    }
  } else if (request.AfterLast) {
    positioned = tree_->Last(sessionID, path);
    if (!positioned) {
      request.Result = 1;
      return;
    }
  } else {
    // A cached path is trusted only while its entry still holds the record;
    // following it from the root also refreshes the levels above the leaf,
    // whose entry counts tell a step whether a next entry exists.
    bool cached = false;
    if (cache != nullptr && cache->Index == this && cache->SessionID == sessionID &&
        cache->RecordID == request.RecordID && !cache->Path.Empty()) {
      path.CopyFrom(cache->Path);
      try {
        TVRXRecordID atPath;
        cached = ReadEntryAtPath(sessionID, path, atPath) && atPath == request.RecordID;
      } catch (const EVRXException&) {
        cached = false;
      }
    }
    if (!cached) {
      scratchRecord_.resize(static_cast<size_t>(keys_->RecordSize()));
      std::vector<uint8_t> current(static_cast<size_t>(keys_->RecordSize()));
      if (records_ == nullptr || !records_->ReadRecord(sessionID, request.RecordID, current) ||
          !FindRecordPosition(sessionID, request.RecordID, path, current)) {
        request.Result = 3;
        return;
      }
    }
    const bool moved = request.Mode == grmNext ? tree_->Next(sessionID, path)
                                               : tree_->Prior(sessionID, path);
    if (!moved) {
      request.Result = request.Mode == grmNext ? 2 : 1;
      return;
    }
  }
  request.RecordID = RecordIDAt(sessionID, path);
  request.Result = 0;
  if (!request.Record.empty() && records_ != nullptr)
    records_->ReadRecord(sessionID, request.RecordID, request.Record);
  if (cache != nullptr) {
    cache->Index = this;
    cache->SessionID = sessionID;
    cache->RecordID = request.RecordID;
    cache->Path.CopyFrom(path);
  }
}

std::unique_ptr<TVRXKeyPath> TVRXBTreeRecordIndex::CreatePosition() {
  return std::make_unique<TVRXKeyPath>();
}

void TVRXBTreeRecordIndex::FreePosition(std::unique_ptr<TVRXKeyPath>& path) { path.reset(); }

int TVRXBTreeRecordIndex::ComparePositions(const TVRXKeyPath* left, const TVRXKeyPath* right) {
  if (left == nullptr) throw EVRXException("Nil pointer occured", 10384);
  if (right == nullptr) throw EVRXException("Nil pointer occured", 10385);
  return CompareKeyPaths(*left, *right);
}

int64_t TVRXBTreeRecordIndex::GetRecordNumber(int32_t sessionID, const TVRXRecordID& id,
                                              std::span<const uint8_t> record) {
  CheckTree(20121);
  TVRXKeyPath path;
  if (!tree_->FindExact(sessionID,
                        TVRXSearchRef{BuildKey(record).data(), &id, record}, path))
    return -1;
  return tree_->EntriesBeforeLeaf(sessionID, path) + path.Leaf().EntryIndex + 1;
}

TVRXRecordID TVRXBTreeRecordIndex::GetRecordIDByNumber(int32_t sessionID, int64_t number) {
  CheckTree(20121);
  TVRXKeyPath path;
  if (!tree_->First(sessionID, path))
    throw EVRXException("Cannot retreive record from empty index", 20074);
  if (number < 1 || !tree_->SeekOrdinal(sessionID, number - 1, path))
    throw EVRXException("Cannot set RecNo greater than RecordCount", 20075);
  return RecordIDAt(sessionID, path);
}

void TVRXBTreeRecordIndex::ApplyDistinct(int32_t sessionID, TVRXIndexRecordSet& records,
                                         int32_t partsInUse) {
  CheckTree(20121);
  TVRXPartsInUseScope scope(*keys_, partsInUse);
  std::vector<uint8_t> lastKept;
  std::vector<uint8_t> lastRecord;
  std::vector<uint8_t> record;
  std::vector<TVRXRecordID> removed;
  tree_->ForEach(sessionID, [&](const uint8_t* key, const uint8_t* value) {
    const TVRXRecordID id = LoadRecordID(value);
    if (!records.Contains(id)) return true;
    if (!lastKept.empty()) {
      TVRXKeyCompare c = keys_->CompareKeys(key, lastKept.data());
      int order = c.Order;
      if (c.CutTie && records_ != nullptr) {
        record.resize(static_cast<size_t>(keys_->RecordSize()));
        if (records_->ReadRecord(sessionID, id, record)) order = keys_->CompareRecords(record, lastRecord);
      }
      if (order == 0) {
        removed.push_back(id);
        return true;
      }
    }
    lastKept.assign(key, key + keys_->KeySize());
    if (keys_->HasTruncatedParts() && records_ != nullptr) {
      lastRecord.resize(static_cast<size_t>(keys_->RecordSize()));
      records_->ReadRecord(sessionID, id, lastRecord);
    }
    return true;
  });
  for (const TVRXRecordID& id : removed) records.Remove(id);
}

std::unique_ptr<TVRXIndexScanState> TVRXBTreeRecordIndex::CreateScanState() {
  auto state = std::make_unique<TVRXIndexScanState>();
  state->Current = std::make_unique<TVRXKeyPath>();
  return state;
}

void TVRXBTreeRecordIndex::FreeScanState(std::unique_ptr<TVRXIndexScanState>& state) {
  state.reset();
}

bool TVRXBTreeRecordIndex::FindCondition(int32_t sessionID, const TVRXIndexCondition& condition,
                                         bool last, TVRXKeyPath& path) {
  CheckTree(20121);
  if (condition.Kind != TVRXConditionKind::None &&
      static_cast<int32_t>(condition.Key.size()) < keys_->KeySize())
    throw EVRXException("Index error: invalid params", 20078);
  TVRXPartsInUseScope scope(*keys_, condition.KeyFieldCount);
  return tree_->FindCondition(sessionID, condition.Kind, condition.Key.data(), last, path);
}

bool TVRXBTreeRecordIndex::PositionOnCondition(int32_t sessionID,
                                               const TVRXIndexCondition* condition, bool last,
                                               TVRXKeyPath& path) {
  if (condition == nullptr) return last ? tree_->Last(sessionID, path) : tree_->First(sessionID, path);
  return FindCondition(sessionID, *condition, last, path);
}

bool TVRXBTreeRecordIndex::ScanNext(int32_t sessionID, bool restart, TVRXIndexScanState* state,
                                    TVRXRecordID& id, std::span<uint8_t> record,
                                    const TVRXIndexCondition* start,
                                    const TVRXIndexCondition* end, bool forward) {
  if (state == nullptr) throw EVRXException("Pointer is nil", 20077);
  if (restart && state->Started) throw EVRXException("Index error: invalid params", 20078);
  CheckTree(20121);
  if (!state->Current) state->Current = std::make_unique<TVRXKeyPath>();
  if (state->Finished) return false;
  TVRXKeyPath& current = *state->Current;
  if (!state->Started) {
    state->Started = true;
    if (!PositionOnCondition(sessionID, start, !forward, current)) {
      state->Finished = true;
      return false;
    }
    if (end != nullptr) {
      state->End = std::make_unique<TVRXKeyPath>();
      if (!FindCondition(sessionID, *end, forward, *state->End)) {
        state->Finished = true;
        return false;
      }
    }
  } else {
    const bool moved = forward ? tree_->Next(sessionID, current) : tree_->Prior(sessionID, current);
    if (!moved) {
      state->Finished = true;
      return false;
    }
  }
  if (state->End) {
    const int order = CompareKeyPaths(current, *state->End);
    if (forward ? order > 0 : order < 0) {
      state->Finished = true;
      return false;
    }
  }
  id = RecordIDAt(sessionID, current);
  if (!record.empty() && records_ != nullptr) records_->ReadRecord(sessionID, id, record);
  return true;
}

int TVRXBTreeRecordIndex::CompareRecordKeys(std::span<const uint8_t> left,
                                            std::span<const uint8_t> right, int32_t partsInUse) {
  TVRXPartsInUseScope scope(*keys_, partsInUse);
  return keys_->CompareRecords(left, right);
}

int TVRXBTreeRecordIndex::ConditionDirection(const TVRXIndexCondition& condition) {
  switch (condition.Kind) {
    case TVRXConditionKind::Greater:
    case TVRXConditionKind::GreaterOrEqual:
      return -1;
    case TVRXConditionKind::Less:
    case TVRXConditionKind::LessOrEqual:
      return 1;
    default:
      return 0;
  }
}

int64_t TVRXBTreeRecordIndex::EstimateRangeCount(int32_t sessionID,
                                                 const TVRXIndexCondition& first,
                                                 const TVRXIndexCondition& second, int64_t total) {
  CheckTree(20125);
  const bool firstIsLower = ConditionDirection(first) == -1;
  const TVRXIndexCondition& lower = firstIsLower ? first : second;
  const TVRXIndexCondition& upper = firstIsLower ? second : first;
  TVRXKeyPath from;
  TVRXKeyPath to;
  if (!FindCondition(sessionID, lower, false, from) || !FindCondition(sessionID, upper, true, to))
    return 0;
  const double share = to.RelativePosition() - from.RelativePosition();
  const int64_t estimate = std::llround(share * static_cast<double>(total));
  return std::clamp<int64_t>(estimate, 0, std::max<int64_t>(total, 0));
}

bool TVRXBTreeRecordIndex::CheckUnique(int32_t sessionID, std::span<const uint8_t> record) {
  if (!definition_->Unique() && !definition_->Primary()) return true;
  CheckTree(20121);
  const std::vector<uint8_t> key = BuildKey(record);
  TVRXKeyPath path;
  if (!tree_->FindCondition(sessionID, TVRXConditionKind::Equal, key.data(), false, path))
    return true;
  if (!keys_->HasTruncatedParts() || records_ == nullptr) return false;
  // Keys that tie on a cut text are duplicates only when the full values
  // agree: look through the run of equal stored keys.
  std::vector<uint8_t> other(static_cast<size_t>(keys_->RecordSize()));
  do {
    std::vector<uint8_t> entryKey(static_cast<size_t>(keys_->KeySize()));
    uint8_t value[kRecordIDSize];
    tree_->ReadEntry(sessionID, path, entryKey.data(), value);
    if (keys_->CompareKeys(entryKey.data(), key.data()).Order != 0) break;
    if (!records_->ReadRecord(sessionID, LoadRecordID(value), other)) return false;
    if (keys_->CompareRecords(record, other) == 0) return false;
  } while (tree_->Next(sessionID, path));
  return true;
}

bool TVRXBTreeRecordIndex::CheckUniqueOnUpdate(int32_t sessionID,
                                               std::span<const uint8_t> oldRecord,
                                               std::span<const uint8_t> newRecord) {
  if (keys_->CompareRecords(oldRecord, newRecord) == 0) return true;
  return CheckUnique(sessionID, newRecord);
}

void TVRXBTreeRecordIndex::InsertKey(const TVRXIndexRecordOperation& operation) {
  CheckTree(20127);
  InsertRecord(operation.SessionID, operation.NewRecord, operation.RecordID);
}

void TVRXBTreeRecordIndex::DeleteKey(const TVRXIndexRecordOperation& operation) {
  CheckTree(20121);
  if (!DeleteRecord(operation.SessionID, operation.OldRecord, operation.RecordID))
    throw EVRXException("Index error: cannot delete entry. Entry not found", 20027);
}

void TVRXBTreeRecordIndex::UpdateKey(const TVRXIndexRecordOperation& operation) {
  CheckTree(20121);
  if (keys_->CompareRecords(operation.OldRecord, operation.NewRecord) == 0) return;
  if (!DeleteRecord(operation.SessionID, operation.OldRecord, operation.RecordID))
    throw EVRXException("Index error: cannot delete entry. Entry not found", 20250);
  InsertRecord(operation.SessionID, operation.NewRecord, operation.RecordID);
}

int32_t TVRXBTreeRecordIndex::GetNodeCapacity() { return tree_->NodeCapacity(); }

bool TVRXBTreeRecordIndex::ReadEntryAtPath(int32_t sessionID, TVRXKeyPath& path,
                                           TVRXRecordID& id) {
  CheckTree(20121);
  uint8_t value[kRecordIDSize];
  if (!tree_->ReadEntryAtPath(sessionID, path, nullptr, value)) return false;
  id = LoadRecordID(value);
  return true;
}

int64_t TVRXBTreeRecordIndex::PositionNumber(const TVRXKeyPath& path) const {
  return tree_->PositionNumber(path);
}

void TVRXBTreeRecordIndex::PathFromPositionNumber(int32_t sessionID, int64_t number,
                                                  TVRXKeyPath& path) {
  CheckTree(20121);
  tree_->PathFromPositionNumber(number, tree_->Depth(sessionID), path);
}

// --- the index manager's view ------------------------------------------------

TVRXBTreeIndexObject::TVRXBTreeIndexObject(TVRXPageManager& pages, const TVRXFieldDefs& fields,
                                           TVRXIndexRecordSource* records,
                                           const TVRXIndexDef& definition)
    : index_(pages, fields, records),
      definition_(static_cast<TVRXIndexDef*>(definition.Clone().release())),
      records_(records) {
  if (definition.RootPage() != -1) index_.OpenIndex(definition);
}

void TVRXBTreeIndexObject::Build(int32_t sessionID) {
  if (index_.RootPage() != -1) index_.DropIndex(sessionID);
  definition_->SetRootPage(-1);
  index_.CreateIndex(sessionID, records_, *definition_);
  definition_->SetRootPage(index_.RootPage());
}

void TVRXBTreeIndexObject::Empty(int32_t sessionID) {
  if (index_.RootPage() != -1) index_.EmptyIndex(sessionID);
}

void TVRXBTreeIndexObject::Drop(int32_t sessionID) {
  if (index_.RootPage() != -1) index_.DropIndex(sessionID);
}

void TVRXBTreeIndexObject::InsertKey(int32_t sessionID, std::span<const uint8_t> record,
                                     const TVRXRecordID& recordID) {
  index_.InsertKey(TVRXIndexRecordOperation{sessionID, record, {}, recordID});
}

void TVRXBTreeIndexObject::DeleteKey(int32_t sessionID, std::span<const uint8_t> record,
                                     const TVRXRecordID& recordID) {
  index_.DeleteKey(TVRXIndexRecordOperation{sessionID, {}, record, recordID});
}

bool TVRXBTreeIndexObject::ContainsKey(int32_t sessionID, std::span<const uint8_t> record) {
  if (index_.RootPage() == -1) return false;
  const std::vector<uint8_t> key = index_.BuildKey(record);
  TVRXIndexCondition condition{TVRXConditionKind::Equal, key, 0};
  TVRXKeyPath path;
  if (!index_.FindCondition(sessionID, condition, false, path)) return false;
  if (!index_.KeyLayout().HasTruncatedParts() || records_ == nullptr) return true;
  std::vector<uint8_t> other(static_cast<size_t>(index_.KeyLayout().RecordSize()));
  std::vector<uint8_t> entryKey(static_cast<size_t>(index_.KeyLayout().KeySize()));
  do {
    uint8_t value[kRecordIDSize];
    index_.Tree().ReadEntry(sessionID, path, entryKey.data(), value);
    if (index_.KeyLayout().CompareKeys(entryKey.data(), key.data()).Order != 0) return false;
    if (records_->ReadRecord(sessionID, LoadRecordID(value), other) &&
        index_.KeyLayout().CompareRecords(record, other) == 0)
      return true;
  } while (index_.StepNext(sessionID, path));
  return false;
}

bool TVRXBTreeIndexObject::SameKey(std::span<const uint8_t> left, std::span<const uint8_t> right) {
  return index_.CompareRecordKeys(left, right, 0) == 0;
}

bool TVRXBTreeIndexObject::SameEntry(std::span<const uint8_t> left,
                                     std::span<const uint8_t> right) {
  if (index_.RootPage() == -1) return false;
  const TVRXRecordKeyRef& keys = index_.KeyLayout();
  std::vector<uint8_t> l(static_cast<size_t>(keys.FullKeySize()));
  std::vector<uint8_t> r(static_cast<size_t>(keys.FullKeySize()));
  keys.BuildFullKey(left, l.data());
  keys.BuildFullKey(right, r.data());
  return l == r;
}

int32_t TVRXBTreeIndexObject::RootPage() const { return index_.RootPage(); }

TVRXBTreeIndexFactory::TVRXBTreeIndexFactory(TVRXPageManager& stored, TVRXPageManager& temporary,
                                             const TVRXFieldDefs& fields,
                                             TVRXIndexRecordSource* records)
    : stored_(stored), temporary_(temporary), fields_(fields), records_(records) {}

std::unique_ptr<TVRXIndexObject> TVRXBTreeIndexFactory::OpenIndex(const TVRXIndexDef& definition) {
  TVRXPageManager& pages = definition.Temporary() ? temporary_ : stored_;
  return std::make_unique<TVRXBTreeIndexObject>(pages, fields_, records_, definition);
}

}  // namespace vrx
