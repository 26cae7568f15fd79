// The scan of record navigation: gathering, merging and choosing
// conditions, and walking the chosen path (VRXNavigationScan.h).
#include "engine/storage/tables/VRXNavigationScan.h"

#include <algorithm>
#include <cstring>

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
    case K::Equal:
      return order == 0;
    case K::Less:
      return order < 0;
    case K::Greater:
      return order > 0;
    case K::LessOrEqual:
      return order <= 0;
    case K::GreaterOrEqual:
      return order >= 0;
    default:
      return true;
  }
}

using Position = TVRXNavigationPosition;

}  // namespace

TVRXNavigationScan::TVRXNavigationScan(TVRXBaseTableData& table, TVRXTableCursor& cursor,
                                       int64_t& recordsRead)
    : table_(table),
      cursor_(cursor),
      session_(cursor.CursorSessionID()),
      recordSize_(table.RecordManager()->MemoryRecordSize()),
      recordsRead_(recordsRead),
      scratch_(static_cast<size_t>(recordSize_)) {}

TVRXNavigationScan::~TVRXNavigationScan() { AttachAll(); }

void TVRXNavigationScan::AddKeyCondition(int32_t comparison) {
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

void TVRXNavigationScan::AddGroupCondition(std::span<const uint8_t> record) {
  AddIndexCondition(K::Equal, record, cursor_.distinctFieldCount);
}

void TVRXNavigationScan::AddCursorRestrictions(bool forward, std::span<const uint8_t> distinctKey) {
  if (TVRXScanExpression* filter = cursor_.FilterExpression()) AddExpression(*filter);
  if (TVRXScanExpression* extra = cursor_.ExtraFilterExpression()) AddExpression(*extra);
  if (cursor_.HasIndex()) {
    if (!cursor_.rangeStartKey.empty())
      AddIndexCondition(cursor_.rangeStartExclusive ? K::Greater : K::GreaterOrEqual,
                        cursor_.rangeStartKey, cursor_.rangeStartFieldCount);
    if (!cursor_.rangeEndKey.empty())
      AddIndexCondition(cursor_.rangeEndExclusive ? K::Less : K::LessOrEqual, cursor_.rangeEndKey,
                        cursor_.rangeEndFieldCount);
    if (cursor_.HasDistinct() && !distinctKey.empty())
      AddIndexCondition(forward ? K::Greater : K::Less, distinctKey, cursor_.distinctFieldCount);
  }
  hasCallback_ = cursor_.HasFilterCallback();
}

void TVRXNavigationScan::Prepare() {
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

bool TVRXNavigationScan::Find(const Position& from, bool forward, TVRXRecordID& found,
                              std::span<uint8_t> record) {
  if (empty_ || from.NothingBeyond(forward)) return false;
  bool hit = false;
  if (path_ == nullptr) {
    hit = FullScan(from, forward, found);
  } else if (WalksCurrentIndex()) {
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

bool TVRXNavigationScan::WalksCurrentIndex() const {
  return path_ != nullptr && cursor_.HasIndex() && path_ == &table_.RecordIndex(cursor_.indexID);
}

bool TVRXNavigationScan::WalksByNearest() const {
  return path_ != nullptr && !empty_ && !WalksCurrentIndex();
}

const TVRXKeyPath* TVRXNavigationScan::FoundPathOnCurrentIndex() const {
  return foundOnCurrent_ ? &lastPath_ : nullptr;
}

void TVRXNavigationScan::MarkAll(const std::function<void(const TVRXRecordID&)>& mark) {
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

TVRXBTreeRecordIndex& TVRXNavigationScan::IndexOf(const Condition& c) {
  for (const auto& [id, index] : indexes_)
    if (id == c.IndexID) return *index;
  TVRXBTreeRecordIndex& index = table_.RecordIndex(c.IndexID);
  indexes_.emplace_back(c.IndexID, &index);
  return index;
}

void TVRXNavigationScan::AddIndexCondition(K kind, std::span<const uint8_t> key,
                                           int32_t fieldCount) {
  auto c = std::make_unique<Condition>();
  c->Kind = kind;
  c->Key.assign(key.begin(), key.end());
  c->KeyFieldCount = fieldCount;
  c->IndexID = cursor_.indexID;
  conditions_.Add(std::move(c));
}

void TVRXNavigationScan::Normalise(Condition& c) {
  if (c.Key.size() < static_cast<size_t>(recordSize_))
    c.Key.resize(static_cast<size_t>(recordSize_), 0);
  const int32_t columns = IndexOf(c).Definition().ColumnCount();
  if (c.KeyFieldCount <= 0 || c.KeyFieldCount > columns) c.KeyFieldCount = columns;
}

TVRXNavigationScan::Merge TVRXNavigationScan::MergePair(const Condition& a, const Condition& b) {
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
  if (order == 0 && sameCount && (IsExclusive(a.Kind) || IsExclusive(b.Kind))) return Merge::Empty;
  return Merge::KeepBoth;
}

void TVRXNavigationScan::MergeConditions() {
  bool changed = true;
  while (changed) {
    changed = false;
    for (int32_t i = 0; i < conditions_.Count() && !changed; ++i) {
      if (!conditions_[i].IsIndexCondition()) continue;
      for (int32_t j = i + 1; j < conditions_.Count() && !changed; ++j) {
        if (!conditions_[j].IsIndexCondition() || conditions_[j].IndexID != conditions_[i].IndexID)
          continue;
        switch (MergePair(conditions_[i], conditions_[j])) {
          case Merge::KeepBoth:
            break;
          case Merge::DropFirst:
            conditions_.Delete(i);
            changed = true;
            break;
          case Merge::DropSecond:
            conditions_.Delete(j);
            changed = true;
            break;
          case Merge::Empty:
            empty_ = true;
            return;
        }
      }
    }
  }
}

void TVRXNavigationScan::OrderConditions() {
  std::vector<int32_t> indexes;
  for (int32_t i = 0; i < conditions_.Count(); ++i)
    if (conditions_[i].IsIndexCondition() &&
        std::find(indexes.begin(), indexes.end(), conditions_[i].IndexID) == indexes.end())
      indexes.push_back(conditions_[i].IndexID);
  auto rank = [&](const Condition& c) {
    if (!c.IsIndexCondition()) return static_cast<ptrdiff_t>(indexes.size());
    return std::find(indexes.begin(), indexes.end(), c.IndexID) - indexes.begin();
  };
  conditions_.StableSort([&](const Condition& a, const Condition& b) { return rank(a) < rank(b); });
}

bool TVRXNavigationScan::UniqueSingleField(const Condition& c) {
  const TVRXIndexDef& def = IndexOf(c).Definition();
  if (def.ColumnCount() != 1) return false;
  if (def.Unique() || def.Primary()) return true;
  const int32_t field = IndexOf(c).KeyLayout().Parts()[0].FieldNo;
  return table_.FieldManager()->FieldDefs().Field(field).IsAutoInc();
}

void TVRXNavigationScan::Take(Condition* first, Condition* second) {
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

TVRXIndexCondition TVRXNavigationScan::IndexCondition(const Condition* c) {
  TVRXIndexCondition result;
  if (c == nullptr) return result;
  result.Kind = c->Kind;
  result.Key = IndexOf(*c).BuildKey(c->Key);
  result.KeyFieldCount = c->KeyFieldCount;
  return result;
}

bool TVRXNavigationScan::NeedsRecords(const Condition* a, const Condition* b) {
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

namespace {

// Two bounds on opposite sides: together a closed range.
bool FormsRange(const Condition& a, const Condition& b) {
  return a.Kind != K::Equal && b.Kind != K::Equal && IsLower(a.Kind) != IsLower(b.Kind);
}

}  // namespace

void TVRXNavigationScan::Choose() {
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
      !candidates[1]->Removable && FormsRange(*candidates[0], *candidates[1]))
    return Take(candidates[0], candidates[1]);

  const int64_t total = table_.RecordCount(session_);
  const double pageData = table_.PageManager().DataSize();
  const double recordSize = recordSize_;
  // Pages that `count` items of `size` bytes fill (the count itself when
  // pages have no size).
  const auto pages = [&](double count, double size) {
    return pageData > 0 ? count * size / pageData : count;
  };
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
    double cost = pages(n, entry);
    if (NeedsRecords(a, b)) cost += pages(n, recordSize);
    if (otherIndex) cost += pages(n, entry);
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
          FormsRange(*candidates[i], *candidates[j]))
        consider(candidates[i], candidates[j]);
  }
  if (bestFirst == nullptr) return;
  if (pageData > 0) {
    const double full = cursor_.HasIndex() ? static_cast<double>(total) : pages(total, recordSize);
    if (full < bestCost) return;
  }
  Take(bestFirst, bestSecond);
}

void TVRXNavigationScan::DropUnchosenRemovable() {
  for (int32_t i = conditions_.Count() - 1; i >= 0; --i) {
    const Condition& c = conditions_[i];
    if (c.IsIndexCondition() && c.Removable && &c != lower_ && &c != upper_) {
      // Deleting moves later items: the chosen pointers stay valid, the
      // array holds owned objects.
      conditions_.Delete(i);
    }
  }
}

void TVRXNavigationScan::AttachAll() {
  for (TVRXScanExpression* e : detached_) e->AttachNodes();
  detached_.clear();
}

bool TVRXNavigationScan::Test() {
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

bool TVRXNavigationScan::FetchScratch(const TVRXRecordID& id) {
  if (haveScratch_ && SameRecordID(scratchID_, id)) return true;
  haveScratch_ = false;
  ++recordsRead_;
  if (!table_.FetchRecord(session_, id, scratch_)) return false;
  haveScratch_ = true;
  scratchID_ = id;
  return true;
}

bool TVRXNavigationScan::RecordSatisfies(const Condition& c) {
  return Satisfies(IndexOf(c).CompareRecordKeys(scratch_, c.Key, c.KeyFieldCount), c.Kind);
}

bool TVRXNavigationScan::Accept(const TVRXRecordID& id) { return !needRecord_ || AcceptRead(id); }

bool TVRXNavigationScan::AcceptRead(const TVRXRecordID& id) { return FetchScratch(id) && Test(); }

void TVRXNavigationScan::Deliver(const TVRXRecordID& id, std::span<uint8_t> record) {
  if (haveScratch_ && SameRecordID(scratchID_, id)) {
    std::memcpy(record.data(), scratch_.data(), std::min(record.size(), scratch_.size()));
    return;
  }
  ++recordsRead_;
  if (!table_.FetchRecord(session_, id, record.first(std::min(record.size(), scratch_.size()))))
    throw EVRXException("Record not found", 30561);
}

std::unique_ptr<TVRXKeyPath> TVRXNavigationScan::CurrentIndexPath(const TVRXRecordID& id,
                                                                  bool useCache) {
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

bool TVRXNavigationScan::WalkRange(bool forward, const TVRXKeyPath* start, bool byRecords,
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
          const int order = IndexOf(*farBound).CompareRecordKeys(scratch_, farBound->Key,
                                                                 farBound->KeyFieldCount);
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
    if (forward ? CompareKeyPaths(path, last) > 0 : CompareKeyPaths(path, first) < 0) return false;
    const TVRXRecordID id = index.RecordIDAt(session_, path);
    if (visit(id)) {
      lastPath_.CopyFrom(path);
      return true;
    }
    if (!step(path)) return false;
  }
}

bool TVRXNavigationScan::RangeEdges(TVRXKeyPath& first, TVRXKeyPath& last) {
  return path_->FindCondition(session_, IndexCondition(lower_), false, first) &&
         path_->FindCondition(session_, IndexCondition(upper_), true, last) &&
         CompareKeyPaths(first, last) <= 0;
}

bool TVRXNavigationScan::NearestByRecordID(const Position& from, bool forward,
                                           TVRXRecordID& found) {
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

bool TVRXNavigationScan::NearestInCurrentIndex(const Position& from, bool forward,
                                               TVRXRecordID& found) {
  TVRXBTreeRecordIndex& current = table_.RecordIndex(cursor_.indexID);
  std::unique_ptr<TVRXKeyPath> origin;
  if (!from.AtEdge()) {
    origin = CurrentIndexPath(from.id, true);
    if (!origin) return false;
  }
  TVRXKeyPath best;
  bool have = false;
  // The record's position in the current index needs the record.
  WalkRange(true, nullptr, true, [&](const TVRXRecordID& id) {
    if (!AcceptRead(id)) return false;
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
  return have;
}

bool TVRXNavigationScan::FullScan(const Position& from, bool forward, TVRXRecordID& found) {
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
    if (!(forward ? index.StepNext(session_, path) : index.StepPrior(session_, path))) return false;
  }
  for (;;) {
    const TVRXRecordID id = index.RecordIDAt(session_, path);
    if (AcceptRead(id)) {
      found = id;
      lastPath_.CopyFrom(path);
      foundOnCurrent_ = true;
      return true;
    }
    if (!(forward ? index.StepNext(session_, path) : index.StepPrior(session_, path))) return false;
  }
}

}  // namespace vrx
