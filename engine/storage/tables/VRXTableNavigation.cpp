// Record navigation of a table data object on behalf of one cursor: the
// conditions a cursor's key search, range, distinct setting and filters
// become, their merging, the choice of the access path (an index range or
// a full scan), the walk along it, record acceptance, the record bitmap
// behind counts and record numbers, Locate and FindKey.
//
// Every operation runs under the table's lock; condition arrays, scratch
// records and key paths are private to the call. Expression nodes that a
// chosen index range enforces are detached from their expressions for the
// scan and attached again when it ends, also when it fails.
#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/base/VRXExcept.h"
#include "engine/storage/tables/VRXTableData.h"

namespace vrx {

namespace {

constexpr int32_t kErrNoKeyIndex = 30558;
constexpr int32_t kErrNoIndexPosition = 30559;
constexpr int32_t kErrInvalidCondition = 30560;

using K = TVRXConditionKind;
using Condition = TVRXScanSearchCondition;

bool IsLower(K kind) { return kind == K::Greater || kind == K::GreaterOrEqual; }
bool IsUpper(K kind) { return kind == K::Less || kind == K::LessOrEqual; }
bool IsExclusive(K kind) { return kind == K::Greater || kind == K::Less; }

// `order` is the comparison of a record's key with a condition's key.
bool Satisfies(int order, K kind) {
  switch (kind) {
    case K::Equal: return order == 0;
    case K::Less: return order < 0;
    case K::Greater: return order > 0;
    case K::LessOrEqual: return order <= 0;
    case K::GreaterOrEqual: return order >= 0;
    default: return true;
  }
}

struct Position {
  bool atBOF = true;
  bool atEOF = false;
  TVRXRecordID id;
  bool AtEdge() const { return atBOF || atEOF; }
};

Position PositionOf(const TVRXTableCursor& cursor) {
  return {cursor.atBOF, cursor.atEOF, cursor.currentRecordID};
}

// What merging two conditions on one index decides.
enum class Merge { KeepBoth, DropFirst, DropSecond, Empty };

// One navigation scan: its conditions, the path chosen for them and the
// walk. Detached nodes are attached again when the scan goes.
class Scan {
 public:
  Scan(TVRXBaseTableData& table, TVRXTableCursor& cursor, int64_t& recordsRead)
      : table_(table),
        cursor_(cursor),
        session_(cursor.CursorSessionID()),
        recordSize_(table.RecordManager()->MemoryRecordSize()),
        recordsRead_(recordsRead),
        scratch_(static_cast<size_t>(recordSize_)) {}
  ~Scan() { AttachAll(); }
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  // The key search of FindKey on the current index.
  void AddKeyCondition(int32_t comparison) {
    if (!cursor_.HasIndex())
      throw EVRXException(
          "No active index is set for Key search. Set Table.IndexName to the index on search "
          "fields.",
          kErrNoKeyIndex);
    if (comparison < 1 || comparison > 5)
      throw EVRXException("Invalid condition number = %d, count = %d", {comparison, 5},
                          kErrInvalidCondition);
    AddIndexCondition(static_cast<K>(comparison), cursor_.keyBuffer, cursor_.keyFieldCount);
  }

  void AddExpression(TVRXScanExpression& expression) { conditions_.AddExpression(expression); }

  // The records whose leading distinct key fields equal those of `record`.
  void AddGroupCondition(std::span<const uint8_t> record) {
    AddIndexCondition(K::Equal, record, cursor_.distinctFieldCount);
  }

  // The cursor's filters, range and, away from either end, the distinct
  // key of `distinctKey` for the direction.
  void AddCursorRestrictions(bool forward, std::span<const uint8_t> distinctKey) {
    if (TVRXScanExpression* filter = cursor_.FilterExpression()) AddExpression(*filter);
    if (TVRXScanExpression* extra = cursor_.ExtraFilterExpression()) AddExpression(*extra);
    if (cursor_.HasIndex()) {
      if (!cursor_.rangeStartKey.empty())
        AddIndexCondition(cursor_.rangeStartExclusive ? K::Greater : K::GreaterOrEqual,
                          cursor_.rangeStartKey, cursor_.rangeStartFieldCount);
      if (!cursor_.rangeEndKey.empty())
        AddIndexCondition(cursor_.rangeEndExclusive ? K::Less : K::LessOrEqual,
                          cursor_.rangeEndKey, cursor_.rangeEndFieldCount);
      if (cursor_.HasDistinct() && !distinctKey.empty())
        AddIndexCondition(forward ? K::Greater : K::Less, distinctKey,
                          cursor_.distinctFieldCount);
    }
    hasCallback_ = cursor_.HasFilterCallback();
  }

  // Index conditions from the expressions, merged; the path chosen; the
  // nodes the chosen conditions enforce detached.
  void Prepare() {
    const int32_t gathered = conditions_.Count();
    for (int32_t i = 0; i < gathered; ++i)
      if (conditions_[i].IsExpression())
        conditions_[i].Expression->DeriveIndexConditions(conditions_, session_);
    for (int32_t i = 0; i < conditions_.Count(); ++i)
      if (conditions_[i].IsIndexCondition()) Normalise(conditions_[i]);
    MergeConditions();
    if (empty_) return;
    OrderConditions();
    Choose();
    DropUnchosenRemovable();
    for (const Condition* chosen : {lower_, upper_}) {
      if (chosen == nullptr || !chosen->Removable) continue;
      for (size_t k = 0; k < chosen->SourceNodes.size(); ++k) {
        chosen->SourceExpressions[k]->DetachNode(chosen->SourceNodes[k]);
        detached_.push_back(chosen->SourceExpressions[k]);
      }
    }
    needRecord_ = hasCallback_;
    for (int32_t i = 0; i < conditions_.Count(); ++i) {
      const Condition& c = conditions_[i];
      if (c.IsExpression() ? !c.Expression->IsEmpty() : (&c != lower_ && &c != upper_))
        needRecord_ = true;
    }
    if (path_ != nullptr && path_->KeyLayout().HasTruncatedParts()) needRecord_ = true;
  }

  // Merging proved that no record can pass.
  bool Empty() const { return empty_; }

  // The first accepted record from `from` in the direction; its ID, and
  // its data in `record` (when not empty).
  bool Find(const Position& from, bool forward, TVRXRecordID& found, std::span<uint8_t> record) {
    // Nothing lies before the first record or after the last.
    if (empty_ || (forward && from.atEOF) || (!forward && from.atBOF)) return false;
    bool hit = false;
    if (path_ == nullptr) {
      hit = FullScan(from, forward, found);
    } else if (cursor_.HasIndex() && path_ == &table_.RecordIndex(cursor_.indexID)) {
      std::unique_ptr<TVRXKeyPath> start;
      if (!from.AtEdge()) {
        start = CurrentIndexPath(from.id, true);
        if (!start) return false;
      }
      hit = WalkRange(forward, start.get(), true, [&](const TVRXRecordID& id) {
        if (!Accept(id)) return false;
        found = id;
        return true;
      });
      foundOnCurrent_ = hit;
    } else if (!cursor_.HasIndex()) {
      hit = NearestByRecordID(from, forward, found);
    } else {
      hit = NearestInCurrentIndex(from, forward, found);
    }
    if (hit && !record.empty()) Deliver(found, record);
    return hit;
  }

  // The current record was gone when Find started from it.
  bool Lost() const { return lost_; }
  // After a Find along the cursor's current index: the found entry's path.
  const TVRXKeyPath* FoundPathOnCurrentIndex() const {
    return foundOnCurrent_ ? &lastPath_ : nullptr;
  }

  // Every accepted record, in no particular order.
  void MarkAll(const std::function<void(const TVRXRecordID&)>& mark) {
    if (empty_) return;
    if (path_ == nullptr) {
      TVRXReadRequest request;
      request.mode = TVRXReadRequest::kNext;
      request.beforeFirst = true;
      request.record = scratch_;
      for (;;) {
        table_.StepStorageOrder(session_, request);
        if (request.result != TVRXReadRequest::kFound) return;
        ++recordsRead_;
        request.beforeFirst = false;
        if (Test()) mark(request.recordID);
      }
    }
    if (!needRecord_) {
      // Nothing to test on the records: the entries of the range are the
      // answer, read leaf by leaf.
      TVRXKeyPath first;
      TVRXKeyPath last;
      if (!RangeEdges(first, last)) return;
      path_->Tree().ForEachBetween(session_, first, last, [&](const uint8_t*, const uint8_t* value) {
        mark(LoadRecordID(value));
        return true;
      });
      return;
    }
    WalkRange(true, nullptr, true, [&](const TVRXRecordID& id) {
      if (Accept(id)) mark(id);
      return false;
    });
  }

 private:
  TVRXBTreeRecordIndex& IndexOf(const Condition& c) {
    for (const auto& [id, index] : indexes_)
      if (id == c.IndexID) return *index;
    TVRXBTreeRecordIndex& index = table_.RecordIndex(c.IndexID);
    indexes_.emplace_back(c.IndexID, &index);
    return index;
  }

  void AddIndexCondition(K kind, std::span<const uint8_t> key, int32_t fieldCount) {
    auto c = std::make_unique<Condition>();
    c->Kind = kind;
    c->Key.assign(key.begin(), key.end());
    c->KeyFieldCount = fieldCount;
    c->IndexID = cursor_.indexID;
    conditions_.Add(std::move(c));
  }

  // Keys as long as a memory record; field counts within the index.
  void Normalise(Condition& c) {
    if (c.Key.size() < static_cast<size_t>(recordSize_))
      c.Key.resize(static_cast<size_t>(recordSize_), 0);
    const int32_t columns = IndexOf(c).Definition().ColumnCount();
    if (c.KeyFieldCount <= 0 || c.KeyFieldCount > columns) c.KeyFieldCount = columns;
  }

  // Decides two conditions on one index. A condition is dropped only when
  // the one kept implies it; a pair that cannot both hold empties the
  // scan; what the prefix comparison cannot settle is kept.
  Merge MergePair(const Condition& a, const Condition& b) {
    const int32_t n = std::min(a.KeyFieldCount, b.KeyFieldCount);
    const int c = IndexOf(a).CompareRecordKeys(a.Key, b.Key, n);
    const bool sameCount = a.KeyFieldCount == b.KeyFieldCount;
    if (a.Kind == K::Equal && b.Kind == K::Equal) {
      if (c != 0) return Merge::Empty;
      // The longer equality implies the shorter one.
      if (sameCount) return b.Removable || !a.Removable ? Merge::DropSecond : Merge::DropFirst;
      return a.KeyFieldCount > b.KeyFieldCount ? Merge::DropSecond : Merge::DropFirst;
    }
    if (a.Kind == K::Equal || b.Kind == K::Equal) {
      const bool equalFirst = a.Kind == K::Equal;
      const Condition& equal = equalFirst ? a : b;
      const Condition& bound = equalFirst ? b : a;
      const int order = equalFirst ? c : -c;
      const Merge dropBound = equalFirst ? Merge::DropSecond : Merge::DropFirst;
      if (order != 0) return (IsLower(bound.Kind) ? order > 0 : order < 0) ? dropBound : Merge::Empty;
      if (equal.KeyFieldCount < bound.KeyFieldCount) return Merge::KeepBoth;
      return IsExclusive(bound.Kind) ? Merge::Empty : dropBound;
    }
    if (IsLower(a.Kind) == IsLower(b.Kind)) {
      if (c != 0) {
        const bool aTighter = IsLower(a.Kind) ? c > 0 : c < 0;
        return aTighter ? Merge::DropSecond : Merge::DropFirst;
      }
      if (!sameCount) return Merge::KeepBoth;
      return IsExclusive(a.Kind) || !IsExclusive(b.Kind) ? Merge::DropSecond : Merge::DropFirst;
    }
    const int order = IsLower(a.Kind) ? c : -c;  // lower key against upper key
    if (order > 0) return Merge::Empty;
    if (order == 0 && sameCount && (IsExclusive(a.Kind) || IsExclusive(b.Kind)))
      return Merge::Empty;
    return Merge::KeepBoth;
  }

  void MergeConditions() {
    bool changed = true;
    while (changed) {
      changed = false;
      for (int32_t i = 0; i < conditions_.Count() && !changed; ++i) {
        if (!conditions_[i].IsIndexCondition()) continue;
        for (int32_t j = i + 1; j < conditions_.Count() && !changed; ++j) {
          if (!conditions_[j].IsIndexCondition() ||
              conditions_[j].IndexID != conditions_[i].IndexID)
            continue;
          switch (MergePair(conditions_[i], conditions_[j])) {
            case Merge::KeepBoth: break;
            case Merge::DropFirst: conditions_.Delete(i); changed = true; break;
            case Merge::DropSecond: conditions_.Delete(j); changed = true; break;
            case Merge::Empty: empty_ = true; return;
          }
        }
      }
    }
  }

  // Index conditions first, grouped by index in the order each index
  // first appears, then the expressions.
  void OrderConditions() {
    std::vector<int32_t> indexes;
    for (int32_t i = 0; i < conditions_.Count(); ++i)
      if (conditions_[i].IsIndexCondition() &&
          std::find(indexes.begin(), indexes.end(), conditions_[i].IndexID) == indexes.end())
        indexes.push_back(conditions_[i].IndexID);
    auto rank = [&](const Condition& c) {
      if (!c.IsIndexCondition()) return static_cast<ptrdiff_t>(indexes.size());
      return std::find(indexes.begin(), indexes.end(), c.IndexID) - indexes.begin();
    };
    conditions_.StableSort(
        [&](const Condition& a, const Condition& b) { return rank(a) < rank(b); });
  }

  bool UniqueSingleField(const Condition& c) {
    const TVRXIndexDef& def = IndexOf(c).Definition();
    if (def.ColumnCount() != 1) return false;
    if (def.Unique() || def.Primary()) return true;
    const int32_t field = IndexOf(c).KeyLayout().Parts()[0].FieldNo;
    return table_.FieldManager()->FieldDefs().Field(field).IsAutoInc();
  }

  void Take(Condition* first, Condition* second) {
    if (second != nullptr && IsUpper(first->Kind)) std::swap(first, second);
    path_ = &IndexOf(*first);
    if (first->Kind == K::Equal) {
      lower_ = upper_ = first;
    } else if (IsLower(first->Kind)) {
      lower_ = first;
      upper_ = second;
    } else {
      lower_ = nullptr;
      upper_ = first;
    }
    // A unique key holds one record, unless it is NULL.
    uniqueEquality_ = first->Kind == K::Equal && UniqueSingleField(*first);
    if (uniqueEquality_)
      uniqueEquality_ = !FieldIsNull(first->Key, path_->KeyLayout().Parts()[0].FieldNo);
  }

  TVRXIndexCondition IndexCondition(const Condition* c) {
    TVRXIndexCondition result;
    if (c == nullptr) return result;
    result.Kind = c->Kind;
    result.Key = IndexOf(*c).BuildKey(c->Key);
    result.KeyFieldCount = c->KeyFieldCount;
    return result;
  }

  // Would records have to be read if `a` (and `b`) drove the scan?
  bool NeedsRecords(const Condition* a, const Condition* b) {
    if (hasCallback_) return true;
    if (cursor_.HasIndex() && cursor_.indexID != a->IndexID) return true;
    std::vector<TVRXScanExpression*> touched;
    for (const Condition* c : {a, b}) {
      if (c == nullptr || !c->Removable) continue;
      for (size_t k = 0; k < c->SourceNodes.size(); ++k) {
        c->SourceExpressions[k]->DetachNode(c->SourceNodes[k]);
        touched.push_back(c->SourceExpressions[k]);
      }
    }
    bool need = false;
    for (int32_t i = 0; i < conditions_.Count() && !need; ++i) {
      const Condition& c = conditions_[i];
      if (&c == a || &c == b) continue;
      need = c.IsExpression() ? !c.Expression->IsEmpty() : !c.Removable;
    }
    for (TVRXScanExpression* e : touched) e->AttachNodes();
    return need;
  }

  void Choose() {
    std::vector<Condition*> candidates;
    for (int32_t i = 0; i < conditions_.Count(); ++i)
      if (conditions_[i].IsIndexCondition()) candidates.push_back(&conditions_[i]);
    if (candidates.empty()) return;
    for (Condition* c : candidates)
      if (c->Kind == K::Equal && UniqueSingleField(*c)) return Take(c, nullptr);
    if (candidates.size() == 1 && candidates[0]->IndexID == cursor_.indexID)
      return Take(candidates[0], nullptr);
    // The cursor's own range (or key) on its current index, with nothing
    // on any other index: that range is the walk, whatever the estimates.
    if (candidates.size() == 2 && candidates[0]->IndexID == cursor_.indexID &&
        candidates[1]->IndexID == cursor_.indexID && !candidates[0]->Removable &&
        !candidates[1]->Removable && IsLower(candidates[0]->Kind) != IsLower(candidates[1]->Kind) &&
        candidates[0]->Kind != K::Equal && candidates[1]->Kind != K::Equal)
      return Take(candidates[0], candidates[1]);

    const int64_t total = table_.RecordCount(session_);
    const double pageData = table_.PageManager().DataSize();
    const double recordSize = recordSize_;
    double bestCost = static_cast<double>(total);
    Condition* bestFirst = nullptr;
    Condition* bestSecond = nullptr;
    auto consider = [&](Condition* a, Condition* b) {
      TVRXBTreeRecordIndex& index = IndexOf(*a);
      const TVRXIndexCondition first = IndexCondition(a);
      const TVRXIndexCondition second = b != nullptr ? IndexCondition(b) : first;
      const double n = static_cast<double>(index.EstimateRangeCount(session_, first, second, total));
      const double entry = index.KeyLayout().KeySize() + kRecordIDSize;
      const bool otherIndex = cursor_.HasIndex() && cursor_.indexID != a->IndexID;
      double cost = pageData > 0 ? n * entry / pageData : n;
      if (NeedsRecords(a, b)) cost += pageData > 0 ? n * recordSize / pageData : n;
      if (otherIndex) cost += pageData > 0 ? n * entry / pageData : n;
      if (cost < bestCost) {
        bestCost = cost;
        bestFirst = a;
        bestSecond = b;
      }
    };
    for (size_t i = 0; i < candidates.size(); ++i) {
      consider(candidates[i], nullptr);
      for (size_t j = i + 1; j < candidates.size(); ++j)
        if (candidates[j]->IndexID == candidates[i]->IndexID &&
            IsLower(candidates[i]->Kind) != IsLower(candidates[j]->Kind) &&
            candidates[i]->Kind != K::Equal && candidates[j]->Kind != K::Equal)
          consider(candidates[i], candidates[j]);
    }
    if (bestFirst == nullptr) return;
    if (pageData > 0) {
      const double full = cursor_.HasIndex() ? static_cast<double>(total)
                                             : static_cast<double>(total) * recordSize / pageData;
      if (full < bestCost) return;
    }
    Take(bestFirst, bestSecond);
  }

  void DropUnchosenRemovable() {
    for (int32_t i = conditions_.Count() - 1; i >= 0; --i) {
      const Condition& c = conditions_[i];
      if (c.IsIndexCondition() && c.Removable && &c != lower_ && &c != upper_) {
        // Deleting moves later items: the chosen pointers stay valid, the
        // array holds owned objects.
        conditions_.Delete(i);
      }
    }
  }

  void AttachAll() {
    for (TVRXScanExpression* e : detached_) e->AttachNodes();
    detached_.clear();
  }

  // Tests the record in scratch_ against every condition and the callback.
  bool Test() {
    for (int32_t i = 0; i < conditions_.Count(); ++i) {
      Condition& c = conditions_[i];
      if (c.IsExpression()) {
        if (!c.Expression->Accepts(scratch_)) return false;
      } else if (c.IsIndexCondition()) {
        if (!RecordSatisfies(c)) return false;
      }
    }
    return !hasCallback_ || cursor_.FilterCallbackAccepts(scratch_);
  }

  // Reads the record into scratch_ unless it is there already; false when
  // it is gone.
  bool FetchScratch(const TVRXRecordID& id) {
    if (haveScratch_ && SameRecordID(scratchID_, id)) return true;
    haveScratch_ = false;
    ++recordsRead_;
    if (!table_.FetchRecord(session_, id, scratch_)) return false;
    haveScratch_ = true;
    scratchID_ = id;
    return true;
  }

  bool RecordSatisfies(const Condition& c) {
    return Satisfies(IndexOf(c).CompareRecordKeys(scratch_, c.Key, c.KeyFieldCount), c.Kind);
  }

  // Reads the record when a test needs it; false when it does not pass.
  bool Accept(const TVRXRecordID& id) {
    if (!needRecord_) return true;
    return FetchScratch(id) && Test();
  }

  void Deliver(const TVRXRecordID& id, std::span<uint8_t> record) {
    if (haveScratch_ && SameRecordID(scratchID_, id)) {
      std::memcpy(record.data(), scratch_.data(), std::min(record.size(), scratch_.size()));
      return;
    }
    ++recordsRead_;
    if (!table_.FetchRecord(session_, id, record.first(std::min(record.size(), scratch_.size()))))
      throw EVRXException("Record not found", 30561);
  }

  // The path of the current record in the cursor's current index, from
  // the cursor's position cache when it still holds; null (and Lost())
  // when the record is gone. Raises "Cannot find record position in index
  // %d, RecordID = %d %d" when the record has no entry.
  std::unique_ptr<TVRXKeyPath> CurrentIndexPath(const TVRXRecordID& id, bool useCache) {
    TVRXBTreeRecordIndex& index = table_.RecordIndex(cursor_.indexID);
    auto path = std::make_unique<TVRXKeyPath>();
    const TVRXIndexPositionCache& cache = cursor_.positionCache;
    if (useCache && cache.Index == &index && cache.SessionID == session_ &&
        SameRecordID(cache.RecordID, id) && !cache.Path.Empty()) {
      path->CopyFrom(cache.Path);
      TVRXRecordID atPath;
      try {
        if (index.ReadEntryAtPath(session_, *path, atPath) && SameRecordID(atPath, id)) return path;
      } catch (const EVRXException&) {
      }
    }
    std::vector<uint8_t> record(static_cast<size_t>(recordSize_));
    ++recordsRead_;
    if (!table_.FetchRecord(session_, id, record)) {
      lost_ = true;
      return nullptr;
    }
    if (!index.FindRecordPosition(session_, id, *path, record))
      throw EVRXException("Cannot find record position in index %d, RecordID = %d %d",
                          {cursor_.indexID, id.PageNo, static_cast<int32_t>(id.Slot)},
                          kErrNoIndexPosition);
    return path;
  }

  // Walks the chosen range of path_ in the direction, from just after
  // `start` (or from the range's near edge), until `visit` answers true.
  // With `byRecords` the walk reads each entry's record (the visitor needs
  // it anyway) and tests the range's bounds on it: entries come in key
  // order, so the first one past the far bound ends the range, and only
  // the near edge is searched in the tree. Without, both edges are
  // searched and the walk reads no record.
  bool WalkRange(bool forward, const TVRXKeyPath* start, bool byRecords,
                 const std::function<bool(const TVRXRecordID&)>& visit) {
    TVRXBTreeRecordIndex& index = *path_;
    auto step = [&](TVRXKeyPath& path) {
      return forward ? index.StepNext(session_, path) : index.StepPrior(session_, path);
    };
    const Condition* nearBound = forward ? lower_ : upper_;
    const Condition* farBound = forward ? upper_ : lower_;
    auto nearEdge = [&](TVRXKeyPath& path) {
      return index.FindCondition(session_, IndexCondition(nearBound), !forward, path);
    };
    TVRXKeyPath path;
    if (byRecords) {
      bool inside = start == nullptr;  // the near edge satisfies the near bound
      if (start == nullptr) {
        if (!nearEdge(path)) return false;
      } else {
        path.CopyFrom(*start);
        if (!step(path)) return false;
      }
      for (;;) {
        const TVRXRecordID id = index.RecordIDAt(session_, path);
        if (FetchScratch(id)) {
          if (farBound != nullptr) {
            // Failing the far bound on the far side of its key: past it.
            const int order =
                IndexOf(*farBound).CompareRecordKeys(scratch_, farBound->Key, farBound->KeyFieldCount);
            if (!Satisfies(order, farBound->Kind) && (forward ? order >= 0 : order <= 0))
              return false;
          }
          if (!inside && nearBound != nullptr && !RecordSatisfies(*nearBound)) {
            // The walk began before the range: on to its near edge, unless
            // that lies behind (an empty range).
            TVRXKeyPath edge;
            if (!nearEdge(edge)) return false;
            const int order = CompareKeyPaths(edge, path);
            if (forward ? order < 0 : order > 0) return false;
            path.CopyFrom(edge);
            inside = true;
            continue;
          }
          inside = true;
          if (visit(id)) {
            lastPath_.CopyFrom(path);
            return true;
          }
        }
        if (!step(path)) return false;
      }
    }
    TVRXKeyPath first;
    TVRXKeyPath last;
    if (!RangeEdges(first, last)) return false;
    if (start == nullptr) {
      path.CopyFrom(forward ? first : last);
    } else {
      path.CopyFrom(*start);
      if (!step(path)) return false;
      if (forward && CompareKeyPaths(path, first) < 0) path.CopyFrom(first);
      if (!forward && CompareKeyPaths(path, last) > 0) path.CopyFrom(last);
    }
    for (;;) {
      if (forward ? CompareKeyPaths(path, last) > 0 : CompareKeyPaths(path, first) < 0)
        return false;
      const TVRXRecordID id = index.RecordIDAt(session_, path);
      if (visit(id)) {
        lastPath_.CopyFrom(path);
        return true;
      }
      if (!step(path)) return false;
    }
  }

  // The range's edges of path_; false when the range is empty.
  bool RangeEdges(TVRXKeyPath& first, TVRXKeyPath& last) {
    return path_->FindCondition(session_, IndexCondition(lower_), false, first) &&
           path_->FindCondition(session_, IndexCondition(upper_), true, last) &&
           CompareKeyPaths(first, last) <= 0;
  }

  // The cursor navigates in storage order: among the accepted records of
  // the range, the one nearest after (before) the current record ID.
  bool NearestByRecordID(const Position& from, bool forward, TVRXRecordID& found) {
    if ((forward && from.atEOF) || (!forward && from.atBOF)) return false;
    bool have = false;
    WalkRange(true, nullptr, needRecord_, [&](const TVRXRecordID& id) {
      if (!from.AtEdge()) {
        const int order = CompareRecordIDs(id, from.id);
        if (forward ? order <= 0 : order >= 0) return false;
      }
      if (have) {
        const int order = CompareRecordIDs(id, found);
        if (forward ? order >= 0 : order <= 0) return false;
      }
      if (!Accept(id)) return false;
      found = id;
      have = true;
      return uniqueEquality_;
    });
    return have;
  }

  // The range lies on another index than the cursor's: among its accepted
  // records, the one whose position in the current index is nearest after
  // (before) the current one.
  bool NearestInCurrentIndex(const Position& from, bool forward, TVRXRecordID& found) {
    if ((forward && from.atEOF) || (!forward && from.atBOF)) return false;
    TVRXBTreeRecordIndex& current = table_.RecordIndex(cursor_.indexID);
    std::unique_ptr<TVRXKeyPath> origin;
    if (!from.AtEdge()) {
      origin = CurrentIndexPath(from.id, true);
      if (!origin) return false;
    }
    TVRXKeyPath best;
    bool have = false;
    const bool savedNeed = needRecord_;
    needRecord_ = true;  // the record's position needs its key
    WalkRange(true, nullptr, true, [&](const TVRXRecordID& id) {
      if (!Accept(id)) return false;
      TVRXKeyPath position;
      if (!current.FindRecordPosition(session_, id, position, scratch_))
        throw EVRXException("Cannot find record position in index %d, RecordID = %d %d",
                            {cursor_.indexID, id.PageNo, static_cast<int32_t>(id.Slot)},
                            kErrNoIndexPosition);
      if (origin) {
        const int order = CompareKeyPaths(position, *origin);
        if (forward ? order <= 0 : order >= 0) return false;
      }
      if (have) {
        const int order = CompareKeyPaths(position, best);
        if (forward ? order >= 0 : order <= 0) return false;
      }
      best.CopyFrom(position);
      found = id;
      have = true;
      return uniqueEquality_;
    });
    needRecord_ = savedNeed;
    haveScratch_ = false;
    return have;
  }

  // No index condition: the records in the cursor's order one by one.
  bool FullScan(const Position& from, bool forward, TVRXRecordID& found) {
    if ((forward && from.atEOF) || (!forward && from.atBOF)) return false;
    if (!cursor_.HasIndex()) {
      TVRXReadRequest request;
      request.mode = forward ? TVRXReadRequest::kNext : TVRXReadRequest::kPrior;
      request.recordID = from.id;
      request.beforeFirst = from.atBOF;
      request.afterLast = from.atEOF;
      request.record = scratch_;
      for (;;) {
        table_.StepStorageOrder(session_, request);
        if (request.result != TVRXReadRequest::kFound) return false;
        ++recordsRead_;
        request.beforeFirst = request.afterLast = false;
        haveScratch_ = true;
        scratchID_ = request.recordID;
        if (Test()) {
          found = request.recordID;
          return true;
        }
      }
    }
    TVRXBTreeRecordIndex& index = table_.RecordIndex(cursor_.indexID);
    TVRXKeyPath path;
    if (from.AtEdge()) {
      if (!index.FindCondition(session_, TVRXIndexCondition{}, !forward, path)) return false;
    } else {
      const std::unique_ptr<TVRXKeyPath> current = CurrentIndexPath(from.id, true);
      if (!current) return false;
      path.CopyFrom(*current);
      if (!(forward ? index.StepNext(session_, path) : index.StepPrior(session_, path)))
        return false;
    }
    const bool savedNeed = needRecord_;
    needRecord_ = true;
    for (;;) {
      const TVRXRecordID id = index.RecordIDAt(session_, path);
      if (Accept(id)) {
        needRecord_ = savedNeed;
        found = id;
        lastPath_.CopyFrom(path);
        foundOnCurrent_ = true;
        return true;
      }
      if (!(forward ? index.StepNext(session_, path) : index.StepPrior(session_, path))) {
        needRecord_ = savedNeed;
        return false;
      }
    }
  }

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
  const Condition* lower_ = nullptr;
  const Condition* upper_ = nullptr;
  TVRXKeyPath lastPath_;
  // The record indexes met so far, by ID.
  std::vector<std::pair<int32_t, TVRXBTreeRecordIndex*>> indexes_;
  bool foundOnCurrent_ = false;
  bool lost_ = false;
};

}  // namespace

// --- acceptance ----------------------------------------------------------------------------

bool TVRXBaseTableData::AcceptRecord(TVRXTableCursor& cursor, std::span<const uint8_t> record) {
  TVRXTableLock hold(*this);
  if (cursor.HasIndex()) {
    TVRXBTreeRecordIndex& index = RecordIndex(cursor.indexID);
    const int32_t columns = index.Definition().ColumnCount();
    auto within = [&](const std::vector<uint8_t>& key, int32_t count) {
      std::vector<uint8_t> full(key);
      if (full.size() < record.size()) full.resize(record.size(), 0);
      return index.CompareRecordKeys(record, full, count <= 0 || count > columns ? columns : count);
    };
    if (!cursor.rangeStartKey.empty()) {
      const int order = within(cursor.rangeStartKey, cursor.rangeStartFieldCount);
      if (cursor.rangeStartExclusive ? order <= 0 : order < 0) return false;
    }
    if (!cursor.rangeEndKey.empty()) {
      const int order = within(cursor.rangeEndKey, cursor.rangeEndFieldCount);
      if (cursor.rangeEndExclusive ? order >= 0 : order > 0) return false;
    }
  }
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
    std::vector<uint8_t> distinctKey;
    if (cursor.HasDistinct() && !from.AtEdge()) {
      distinctKey.resize(static_cast<size_t>(recordManager_->MemoryRecordSize()));
      ++recordsRead_;
      if (!FetchRecord(session, from.id, distinctKey)) return TVRXReadRequest::kNotFound;
    }
    const bool forward = mode == TVRXReadRequest::kNext;
    Scan scan(*this, cursor, recordsRead_);
    scan.AddCursorRestrictions(forward, distinctKey);
    scan.Prepare();
    TVRXRecordID found;
    if (!scan.Find(from, forward, found, record)) {
      if (scan.Lost()) return TVRXReadRequest::kNotFound;
      cursor.atBOF = !forward;
      cursor.atEOF = forward;
      return forward ? TVRXReadRequest::kNoneAfter : TVRXReadRequest::kNoneBefore;
    }
    const TVRXKeyPath* path = scan.FoundPathOnCurrentIndex();
    std::unique_ptr<Scan> group;
    if (cursor.HasDistinct() && !forward) {
      // Backwards the walk meets the last record of the group before;
      // distinct navigation stands on each group's first record.
      std::vector<uint8_t> key(static_cast<size_t>(recordManager_->MemoryRecordSize()));
      ++recordsRead_;
      if (FetchRecord(session, found, key)) {
        group = std::make_unique<Scan>(*this, cursor, recordsRead_);
        group->AddCursorRestrictions(true, {});
        group->AddGroupCondition(key);
        group->Prepare();
        TVRXRecordID first;
        if (group->Find(Position{}, true, first, record)) {
          found = first;
          path = group->FoundPathOnCurrentIndex();
        }
      }
    }
    cursor.currentRecordID = found;
    cursor.atBOF = cursor.atEOF = false;
    if (path != nullptr) {
      cursor.positionCache.Index = &RecordIndex(cursor.indexID);
      cursor.positionCache.SessionID = session;
      cursor.positionCache.RecordID = found;
      cursor.positionCache.Path.CopyFrom(*path);
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
  // Nothing lies before the first record or after the last.
  if (mode == TVRXReadRequest::kPrior && from.atBOF) return TVRXReadRequest::kNoneBefore;
  if (mode == TVRXReadRequest::kNext && from.atEOF) return TVRXReadRequest::kNoneAfter;
  TVRXRecordID found;
  const int32_t result = StepDirect(*this, cursor, mode, from, record, &cursor.positionCache, found);
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
bool LocateWith(Scan& scan, TVRXTableCursor& cursor) {
  scan.AddCursorRestrictions(true, {});
  scan.Prepare();
  TVRXRecordID found;
  std::vector<uint8_t> scratch(cursor.CurrentRecordData().size());
  if (!scan.Find(Position{}, true, found, scratch)) return false;
  const std::span<uint8_t> record = cursor.CurrentRecordData();
  std::copy(scratch.begin(), scratch.end(), record.begin());
  cursor.currentRecordID = found;
  cursor.atBOF = cursor.atEOF = false;
  return true;
}

}  // namespace

bool TVRXBaseTableData::LocateRecord(TVRXTableCursor& cursor, TVRXScanExpression& expression) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  if (RecordCount(cursor.CursorSessionID()) == 0) return false;
  Scan scan(*this, cursor, recordsRead_);
  scan.AddExpression(expression);
  return LocateWith(scan, cursor);
}

bool TVRXBaseTableData::FindKeyRecord(TVRXTableCursor& cursor, int32_t comparison) {
  TVRXTableLock hold(*this);
  RequireOpen(30527);
  Scan scan(*this, cursor, recordsRead_);
  scan.AddKeyCondition(comparison);
  if (RecordCount(cursor.CursorSessionID()) == 0) return false;
  return LocateWith(scan, cursor);
}

// --- record counts and numbers -------------------------------------------------------------------

namespace {

// The record bitmap of a restricted cursor, rebuilt when it is not valid:
// a full conditional scan marks every accepted record; with distinct
// navigation the current index then keeps one record per key.
class RecordSetView final : public TVRXIndexRecordSet {
 public:
  explicit RecordSetView(TVRXRecordBitmap& bitmap) : bitmap_(bitmap) {}
  bool Contains(const TVRXRecordID& id) const override { return bitmap_.Contains(id); }
  void Remove(const TVRXRecordID& id) override { bitmap_.SetRecord(id, false); }

 private:
  TVRXRecordBitmap& bitmap_;
};

}  // namespace

TVRXRecordBitmap& TVRXBaseTableData::ValidBitmap(TVRXTableCursor& cursor) {
  if (cursor.recordBitmap == nullptr)
    throw EVRXException("Pointer is nil", 30562);
  TVRXRecordBitmap& bitmap = *cursor.recordBitmap;
  const int32_t counter = ChangeCounter();
  if (bitmap.Active() && !bitmap.IsStale(counter)) return bitmap;
  bitmap.Reset();
  cursor.bitmapOrder.clear();
  cursor.bitmapOrderValid = false;
  {
    Scan scan(*this, cursor, recordsRead_);
    scan.AddCursorRestrictions(true, {});
    scan.Prepare();
    scan.MarkAll([&](const TVRXRecordID& id) { bitmap.SetRecord(id, true); });
  }
  if (cursor.HasDistinct()) {
    RecordSetView view(bitmap);
    RecordIndex(cursor.indexID).ApplyDistinct(cursor.CursorSessionID(), view,
                                              cursor.distinctFieldCount);
  }
  bitmap.Activate(counter);
  return bitmap;
}

const std::vector<TVRXRecordID>& TVRXBaseTableData::BitmapInIndexOrder(TVRXTableCursor& cursor) {
  TVRXRecordBitmap& bitmap = ValidBitmap(cursor);
  if (cursor.bitmapOrderValid) return cursor.bitmapOrder;
  cursor.bitmapOrder.clear();
  TVRXBTreeRecordIndex& index = RecordIndex(cursor.indexID);
  const int32_t session = cursor.CursorSessionID();
  TVRXKeyPath path;
  if (index.FindCondition(session, TVRXIndexCondition{}, false, path)) {
    do {
      const TVRXRecordID id = index.RecordIDAt(session, path);
      if (bitmap.Contains(id)) cursor.bitmapOrder.push_back(id);
    } while (index.StepNext(session, path));
  }
  cursor.bitmapOrderValid = true;
  return cursor.bitmapOrder;
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
      const std::vector<TVRXRecordID>& order = BitmapInIndexOrder(cursor);
      for (size_t i = 0; i < order.size(); ++i)
        if (SameRecordID(order[i], id)) return static_cast<int64_t>(i) + 1;
      return -1;
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

// --- the neighbour of a deleted record ------------------------------------------------------------

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
    Scan scan(*this, cursor, recordsRead_);
    scan.AddCursorRestrictions(forward, distinctKey);
    scan.Prepare();
    return scan.Find(from, forward, found, {});
  }
  const int32_t mode = forward ? TVRXReadRequest::kNext : TVRXReadRequest::kPrior;
  return StepDirect(*this, cursor, mode, from, {}, nullptr, found) == TVRXReadRequest::kFound;
}

}  // namespace vrx
