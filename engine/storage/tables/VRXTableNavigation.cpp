// Record navigation of a table data object on behalf of one cursor:
// reading in the cursor's order, record acceptance, Locate and FindKey,
// and the record bitmap behind counts and record numbers. The scans they
// run are VRXNavigationScan.h's.
//
// Every operation runs under the table's lock; condition arrays, scratch
// records and key paths are private to the call. Expression nodes that a
// chosen index range enforces are detached from their expressions for the
// scan and attached again when it ends, also when it fails.
#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/base/VRXExcept.h"
#include "engine/storage/tables/VRXNavigationScan.h"
#include "engine/storage/tables/VRXTableData.h"

namespace vrx {

namespace {

using Position = TVRXNavigationPosition;

Position PositionOf(const TVRXTableCursor& cursor) {
  return {cursor.atBOF, cursor.atEOF, cursor.currentRecordID};
}

// Where a record lies against the cursor's range on its current index:
// -1 before its start, 0 inside, +1 after its end.
int RangeSide(TVRXBTreeRecordIndex& index, const TVRXTableCursor& cursor,
              std::span<const uint8_t> record) {
  const int32_t columns = index.Definition().ColumnCount();
  auto order = [&](const std::vector<uint8_t>& key, int32_t count) {
    if (key.size() >= record.size())
      return index.CompareRecordKeys(record, key, count <= 0 || count > columns ? columns : count);
    std::vector<uint8_t> full(key);
    full.resize(record.size(), 0);
    return index.CompareRecordKeys(record, full, count <= 0 || count > columns ? columns : count);
  };
  if (!cursor.rangeStartKey.empty()) {
    const int o = order(cursor.rangeStartKey, cursor.rangeStartFieldCount);
    if (cursor.rangeStartExclusive ? o <= 0 : o < 0) return -1;
  }
  if (!cursor.rangeEndKey.empty()) {
    const int o = order(cursor.rangeEndKey, cursor.rangeEndFieldCount);
    if (cursor.rangeEndExclusive ? o >= 0 : o > 0) return 1;
  }
  return 0;
}

}  // namespace

// --- acceptance ----------------------------------------------------------------------------

bool TVRXBaseTableData::AcceptRecord(TVRXTableCursor& cursor, std::span<const uint8_t> record) {
  TVRXTableLock hold(*this);
  if (cursor.HasIndex() && cursor.HasRange() &&
      RangeSide(RecordIndex(cursor.indexID), cursor, record) != 0)
    return false;
  if (TVRXScanExpression* filter = cursor.FilterExpression(); filter && !filter->Accepts(record))
    return false;
  if (TVRXScanExpression* extra = cursor.ExtraFilterExpression(); extra && !extra->Accepts(record))
    return false;
  return !cursor.HasFilterCallback() || cursor.FilterCallbackAccepts(record);
}

// --- GetRecord -----------------------------------------------------------------------------------

namespace {

// One step in the cursor's order with no restriction: along its current
// index (from `cache` when given) or in storage order; the record, when
// `record` is not empty, read into it. A navigation result.
int32_t StepDirect(TVRXBaseTableData& table, TVRXTableCursor& cursor, int32_t mode,
                   const Position& from, std::span<uint8_t> record, TVRXIndexPositionCache* cache,
                   TVRXRecordID& found) {
  const int32_t session = cursor.CursorSessionID();
  if (cursor.HasIndex()) {
    TVRXIndexNavigation request;
    request.Mode = mode;
    request.RecordID = from.id;
    request.BeforeFirst = from.atBOF;
    request.AfterLast = from.atEOF;
    request.Record = record;
    table.RecordIndex(cursor.indexID).GetRecord(session, request, cache);
    found = request.RecordID;
    return request.Result;
  }
  TVRXReadRequest request;
  request.mode = mode;
  request.recordID = from.id;
  request.beforeFirst = from.atBOF;
  request.afterLast = from.atEOF;
  request.record = record;
  table.StepStorageOrder(session, request);
  found = request.recordID;
  return request.result;
}

}  // namespace

bool TVRXBaseTableData::StepWithinRange(TVRXTableCursor& cursor, int32_t mode,
                                        std::span<uint8_t> record, int32_t& result) {
  if (!cursor.HasIndex() || !cursor.HasRange() || cursor.HasFilter() || cursor.HasDistinct() ||
      cursor.atBOF || cursor.atEOF || record.empty())
    return false;
  TVRXBTreeRecordIndex& index = RecordIndex(cursor.indexID);
  TVRXIndexNavigation request;
  request.Mode = mode;
  request.RecordID = cursor.currentRecordID;
  request.Record = record;
  index.GetRecord(cursor.CursorSessionID(), request, &cursor.positionCache);
  if (request.Result == 3) return false;
  const bool forward = mode == TVRXReadRequest::kNext;
  if (request.Result == 0) {
    ++recordsRead_;
    const int side = RangeSide(index, cursor, record);
    // A step that lands before the range's near end came from outside it:
    // the scan finds the range's first record instead.
    if (side == (forward ? -1 : 1)) return false;
    if (side == 0) {
      cursor.currentRecordID = request.RecordID;
      cursor.atBOF = cursor.atEOF = false;
      result = TVRXReadRequest::kFound;
      return true;
    }
  }
  // Past the far end of the range, or of the index.
  cursor.atBOF = !forward;
  cursor.atEOF = forward;
  result = forward ? TVRXReadRequest::kNoneAfter : TVRXReadRequest::kNoneBefore;
  return true;
}

int32_t TVRXBaseTableData::StepByBitmap(TVRXTableCursor& cursor, bool forward,
                                        std::span<uint8_t> record, bool& fallBack) {
  fallBack = false;
  TVRXRecordBitmap& bitmap = ValidBitmap(cursor);
  const Position from = PositionOf(cursor);
  TVRXRecordID found;
  bool have = false;
  if (!cursor.HasIndex()) {
    // Members in storage order: the set bits in record position order.
    have = !from.NothingBeyond(forward) &&
           bitmap.Neighbour(from.AtEdge() ? nullptr : &from.id, forward, found);
  } else {
    const std::vector<TVRXRecordID>& order = BitmapInIndexOrder(cursor);
    const auto size = static_cast<int64_t>(order.size());
    int64_t at = 0;  // the ordinal (from 0) of the position among the members
    if (from.atBOF) {
      at = -1;
    } else if (from.atEOF) {
      at = size;
    } else {
      at = OrdinalInIndexOrder(cursor, from.id);
      if (at < 0) {
        fallBack = true;  // a record that is no member has no place here
        return TVRXReadRequest::kNotFound;
      }
    }
    const int64_t target = forward ? at + 1 : at - 1;
    have = target >= 0 && target < size;
    if (have) found = order[static_cast<size_t>(target)];
  }
  if (!have) {
    cursor.atBOF = !forward;
    cursor.atEOF = forward;
    return forward ? TVRXReadRequest::kNoneAfter : TVRXReadRequest::kNoneBefore;
  }
  ++recordsRead_;
  if (!record.empty() && !FetchRecord(cursor.CursorSessionID(), found, record)) {
    fallBack = true;
    return TVRXReadRequest::kNotFound;
  }
  cursor.currentRecordID = found;
  cursor.atBOF = cursor.atEOF = false;
  return TVRXReadRequest::kFound;
}

int32_t TVRXBaseTableData::GetRecord(TVRXTableCursor& cursor, int32_t mode, bool reloadCounters) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t session = cursor.CursorSessionID();
  if (reloadCounters) ReloadCounters(session);
  if (RecordCount(session) == 0) {
    cursor.atBOF = false;
    cursor.atEOF = true;
    return TVRXReadRequest::kNoneAfter;
  }
  const std::span<uint8_t> record = cursor.CurrentRecordData();
  const Position from = PositionOf(cursor);
  if (mode != TVRXReadRequest::kCurrent && cursor.IsRestricted()) {
    // A cursor restricted by its range alone steps along its index and
    // stops at the range's far end: the scan would find the same record.
    if (int32_t result = 0; StepWithinRange(cursor, mode, record, result)) return result;
    const bool forward = mode == TVRXReadRequest::kNext;
    // A record bitmap that holds the cursor's records already answers a
    // step without a scan.
    if (!cursor.HasDistinct() && BitmapValid(cursor)) {
      bool fallBack = false;
      const int32_t result = StepByBitmap(cursor, forward, record, fallBack);
      if (!fallBack) return result;
    }
    std::vector<uint8_t> distinctKey;
    if (cursor.HasDistinct() && !from.AtEdge()) {
      distinctKey.resize(static_cast<size_t>(recordManager_->MemoryRecordSize()));
      ++recordsRead_;
      if (!FetchRecord(session, from.id, distinctKey)) return TVRXReadRequest::kNotFound;
    }
    TVRXRecordID found;
    TVRXKeyPath path;
    bool havePath = false;
    // One scan from the position; kUseBitmap when the bitmap serves better.
    // Scans never overlap: one scan's detached nodes must not hide
    // conditions from another, so the scan is gone before the bitmap is
    // built.
    constexpr int32_t kUseBitmap = -1;
    const auto scanFrom = [&](bool bitmapAllowed) {
      TVRXNavigationScan scan(*this, cursor, recordsRead_);
      scan.AddCursorRestrictions(forward, distinctKey);
      scan.Prepare();
      // A range on another index than the cursor's order would be walked
      // whole at every step; the record bitmap holds its records once.
      if (bitmapAllowed && !cursor.HasDistinct() && scan.WalksByNearest()) return kUseBitmap;
      if (!scan.Find(from, forward, found, record)) {
        if (scan.Lost()) return static_cast<int32_t>(TVRXReadRequest::kNotFound);
        cursor.atBOF = !forward;
        cursor.atEOF = forward;
        return static_cast<int32_t>(forward ? TVRXReadRequest::kNoneAfter
                                            : TVRXReadRequest::kNoneBefore);
      }
      if (const TVRXKeyPath* at = scan.FoundPathOnCurrentIndex()) {
        path.CopyFrom(*at);
        havePath = true;
      }
      return static_cast<int32_t>(TVRXReadRequest::kFound);
    };
    int32_t result = scanFrom(cursor.recordBitmap != nullptr);
    if (result == kUseBitmap) {
      bool fallBack = false;
      result = StepByBitmap(cursor, forward, record, fallBack);
      if (!fallBack) return result;
      result = scanFrom(false);
    }
    if (result != TVRXReadRequest::kFound) return result;
    if (cursor.HasDistinct() && !forward) {
      // Backwards the walk meets the last record of the group before;
      // distinct navigation stands on each group's first record.
      std::vector<uint8_t> key(static_cast<size_t>(recordManager_->MemoryRecordSize()));
      ++recordsRead_;
      if (FetchRecord(session, found, key)) {
        TVRXNavigationScan group(*this, cursor, recordsRead_);
        group.AddCursorRestrictions(true, {});
        group.AddGroupCondition(key);
        group.Prepare();
        TVRXRecordID first;
        if (group.Find(Position{}, true, first, record)) {
          found = first;
          havePath = group.FoundPathOnCurrentIndex() != nullptr;
          if (havePath) path.CopyFrom(*group.FoundPathOnCurrentIndex());
        }
      }
    }
    cursor.currentRecordID = found;
    cursor.atBOF = cursor.atEOF = false;
    if (havePath) {
      cursor.positionCache.Index = &RecordIndex(cursor.indexID);
      cursor.positionCache.SessionID = session;
      cursor.positionCache.RecordID = found;
      cursor.positionCache.Path.CopyFrom(path);
    }
    return TVRXReadRequest::kFound;
  }
  if (mode == TVRXReadRequest::kCurrent) {
    if (from.atBOF) return TVRXReadRequest::kNoneBefore;
    if (from.atEOF) return TVRXReadRequest::kNoneAfter;
    ++recordsRead_;
    if (record.empty()) return TVRXReadRequest::kNotFound;
    if (!FetchRecord(session, from.id, record)) return TVRXReadRequest::kNotFound;
    if (cursor.IsRestricted() && !AcceptRecord(cursor, record)) return TVRXReadRequest::kNotFound;
    return TVRXReadRequest::kFound;
  }
  if (from.NothingBeyond(mode == TVRXReadRequest::kNext))
    return mode == TVRXReadRequest::kNext ? TVRXReadRequest::kNoneAfter
                                          : TVRXReadRequest::kNoneBefore;
  TVRXRecordID found;
  const int32_t result =
      StepDirect(*this, cursor, mode, from, record, &cursor.positionCache, found);
  if (result == TVRXReadRequest::kFound && !record.empty()) ++recordsRead_;
  switch (result) {
    case TVRXReadRequest::kFound:
      cursor.currentRecordID = found;
      cursor.atBOF = cursor.atEOF = false;
      break;
    case TVRXReadRequest::kNoneBefore:
      cursor.atBOF = true;
      cursor.atEOF = false;
      break;
    case TVRXReadRequest::kNoneAfter:
      cursor.atBOF = false;
      cursor.atEOF = true;
      break;
    default:
      break;
  }
  return result;
}

// --- Locate and FindKey --------------------------------------------------------------------------

namespace {

// Runs `scan` from before the first record; on success the cursor stands
// on the record found and holds it.
bool LocateWith(TVRXNavigationScan& scan, TVRXTableCursor& cursor) {
  scan.AddCursorRestrictions(true, {});
  scan.Prepare();
  TVRXRecordID found;
  // Find writes the record only when it finds one.
  if (!scan.Find(Position{}, true, found, cursor.CurrentRecordData())) return false;
  cursor.currentRecordID = found;
  cursor.atBOF = cursor.atEOF = false;
  return true;
}

}  // namespace

bool TVRXBaseTableData::LocateRecord(TVRXTableCursor& cursor, TVRXScanExpression& expression) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  if (RecordCount(cursor.CursorSessionID()) == 0) return false;
  TVRXNavigationScan scan(*this, cursor, recordsRead_);
  scan.AddExpression(expression);
  return LocateWith(scan, cursor);
}

bool TVRXBaseTableData::FindKeyRecord(TVRXTableCursor& cursor, int32_t comparison) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  TVRXNavigationScan scan(*this, cursor, recordsRead_);
  scan.AddKeyCondition(comparison);
  if (RecordCount(cursor.CursorSessionID()) == 0) return false;
  return LocateWith(scan, cursor);
}

// --- record counts and numbers -------------------------------------------------------------------

namespace {

// A record bitmap as the set ApplyDistinct thins.
class RecordSetView final : public TVRXIndexRecordSet {
 public:
  explicit RecordSetView(TVRXRecordBitmap& bitmap) : bitmap_(bitmap) {}
  bool Contains(const TVRXRecordID& id) const override { return bitmap_.Contains(id); }
  void Remove(const TVRXRecordID& id) override { bitmap_.SetRecord(id, false); }

 private:
  TVRXRecordBitmap& bitmap_;
};

}  // namespace

bool TVRXBaseTableData::BitmapValid(const TVRXTableCursor& cursor) const {
  return cursor.recordBitmap != nullptr && cursor.recordBitmap->Active() &&
         !cursor.recordBitmap->IsStale(ChangeCounter());
}

void TVRXBaseTableData::KeepBitmap(TVRXTableCursor& cursor, const TVRXRecordID& id,
                                   std::span<const uint8_t> record, bool wasValid) {
  TVRXRecordBitmap* bitmap = cursor.recordBitmap;
  if (bitmap == nullptr || !bitmap->Active()) return;
  bitmap->SetRecord(id, !record.empty() && AcceptRecord(cursor, record));
  cursor.bitmapOrderValid = false;
  // A distinct set may lose or gain a group's first record: rebuilt.
  if (wasValid && !cursor.HasDistinct()) bitmap->SetChangeCounter(ChangeCounter());
}

TVRXRecordBitmap& TVRXBaseTableData::ValidBitmap(TVRXTableCursor& cursor) {
  if (cursor.recordBitmap == nullptr) throw EVRXException("Pointer is nil", 30562);
  TVRXRecordBitmap& bitmap = *cursor.recordBitmap;
  if (BitmapValid(cursor)) return bitmap;
  const int32_t counter = ChangeCounter();
  bitmap.Reset();
  cursor.bitmapOrderValid = false;
  {
    TVRXNavigationScan scan(*this, cursor, recordsRead_);
    scan.AddCursorRestrictions(true, {});
    scan.Prepare();
    scan.MarkAll([&](const TVRXRecordID& id) { bitmap.SetRecord(id, true); });
  }
  if (cursor.HasDistinct()) {
    RecordSetView view(bitmap);
    RecordIndex(cursor.indexID)
        .ApplyDistinct(cursor.CursorSessionID(), view, cursor.distinctFieldCount);
  }
  bitmap.Activate(counter);
  return bitmap;
}

const std::vector<TVRXRecordID>& TVRXBaseTableData::BitmapInIndexOrder(TVRXTableCursor& cursor) {
  TVRXRecordBitmap& bitmap = ValidBitmap(cursor);
  if (cursor.bitmapOrderValid) return cursor.bitmapOrder;
  cursor.bitmapOrder.clear();
  cursor.bitmapOrderByPosition.clear();
  TVRXBTreeRecordIndex& index = RecordIndex(cursor.indexID);
  index.Tree().ForEach(cursor.CursorSessionID(), [&](const uint8_t*, const uint8_t* value) {
    const TVRXRecordID id = LoadRecordID(value);
    if (bitmap.Contains(id)) {
      cursor.bitmapOrderByPosition.emplace_back(RecordPosition(id, bitmap.RecordsPerPage()),
                                                static_cast<int64_t>(cursor.bitmapOrder.size()));
      cursor.bitmapOrder.push_back(id);
    }
    return true;
  });
  std::sort(cursor.bitmapOrderByPosition.begin(), cursor.bitmapOrderByPosition.end());
  cursor.bitmapOrderValid = true;
  return cursor.bitmapOrder;
}

int64_t TVRXBaseTableData::OrdinalInIndexOrder(TVRXTableCursor& cursor, const TVRXRecordID& id) {
  BitmapInIndexOrder(cursor);
  const int64_t position = RecordPosition(id, cursor.recordBitmap->RecordsPerPage());
  const auto& positions = cursor.bitmapOrderByPosition;
  const auto it = std::lower_bound(positions.begin(), positions.end(),
                                   std::pair<int64_t, int64_t>{position, 0});
  return it != positions.end() && it->first == position ? it->second : -1;
}

int64_t TVRXBaseTableData::GetRecordCount(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  if (!cursor.IsRestricted()) return RecordCount(cursor.CursorSessionID());
  return ValidBitmap(cursor).Count();
}

int64_t TVRXBaseTableData::GetRecNo(TVRXTableCursor& cursor) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t session = cursor.CursorSessionID();
  if (cursor.atBOF || cursor.atEOF || RecordCount(session) == 0) return -1;
  const TVRXRecordID& id = cursor.currentRecordID;
  if (cursor.IsRestricted()) {
    if (cursor.HasIndex()) {
      const int64_t ordinal = OrdinalInIndexOrder(cursor, id);
      return ordinal < 0 ? -1 : ordinal + 1;
    }
    TVRXRecordBitmap& bitmap = ValidBitmap(cursor);
    return bitmap.Contains(id) ? bitmap.OrdinalOf(id) : -1;
  }
  if (cursor.HasIndex()) {
    std::vector<uint8_t> record(static_cast<size_t>(recordManager_->MemoryRecordSize()));
    ++recordsRead_;
    if (!FetchRecord(session, id, record)) return -1;
    return RecordIndex(cursor.indexID).GetRecordNumber(session, id, record);
  }
  return GetRecordNumber(cursor);
}

void TVRXBaseTableData::SetRecNo(TVRXTableCursor& cursor, int64_t recNo) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  const int32_t session = cursor.CursorSessionID();
  const int64_t count = GetRecordCount(cursor);
  if (count <= 0) return;
  const int64_t n = std::clamp<int64_t>(recNo, 1, count);
  TVRXRecordID id;
  if (cursor.IsRestricted()) {
    if (cursor.HasIndex()) {
      const std::vector<TVRXRecordID>& order = BitmapInIndexOrder(cursor);
      if (order.empty()) return;
      id = order[static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(order.size())) - 1)];
    } else if (!ValidBitmap(cursor).RecordIDOfOrdinal(n, id)) {
      throw EVRXException("Cannot retreive record for index", 30563);
    }
  } else if (cursor.HasIndex()) {
    id = RecordIndex(cursor.indexID).GetRecordIDByNumber(session, n);
  } else {
    id = GetRecordIDByNumber(cursor, n);
  }
  cursor.currentRecordID = id;
  cursor.atBOF = cursor.atEOF = false;
  cursor.positionCache.Invalidate();
}

// --- the neighbour of a deleted record ------------------------------------------------------

bool TVRXBaseTableData::NeighbourInCursorOrder(TVRXTableCursor& cursor, const TVRXRecordID& id,
                                               bool forward, TVRXRecordID& found) {
  const int32_t session = cursor.CursorSessionID();
  Position from;
  from.atBOF = from.atEOF = false;
  from.id = id;
  if (cursor.IsRestricted()) {
    std::vector<uint8_t> distinctKey;
    if (cursor.HasDistinct()) {
      distinctKey.resize(static_cast<size_t>(recordManager_->MemoryRecordSize()));
      if (!FetchRecord(session, id, distinctKey)) distinctKey.clear();
    }
    TVRXNavigationScan scan(*this, cursor, recordsRead_);
    scan.AddCursorRestrictions(forward, distinctKey);
    scan.Prepare();
    return scan.Find(from, forward, found, {});
  }
  const int32_t mode = forward ? TVRXReadRequest::kNext : TVRXReadRequest::kPrior;
  return StepDirect(*this, cursor, mode, from, {}, nullptr, found) == TVRXReadRequest::kFound;
}

}  // namespace vrx
