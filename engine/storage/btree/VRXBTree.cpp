#include "engine/storage/btree/VRXBTree.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXInvariant.h"

namespace vrx {

namespace bp = btree_page;

namespace {

// A page that cannot be a tree page of the index reading it.
constexpr int32_t kDamagedPageError = 20129;

// A view on the data area of one fetched tree page.
struct Node {
  uint8_t* d;
  int32_t k;  // key size
  int32_t v;  // leaf value size; node entries hold an int32 child page

  bool IsRoot() const { return d[bp::kRootFlag] != 0; }
  bool IsLeaf() const { return d[bp::kLeafFlag] != 0; }
  int32_t Prev() const { return bytes::LoadI32(d + bp::kPrevPage); }
  int32_t Next() const { return bytes::LoadI32(d + bp::kNextPage); }
  int32_t Count() const { return bytes::LoadU16(d + bp::kEntryCount); }
  void SetPrev(int32_t v) { bytes::StoreI32(d + bp::kPrevPage, v); }
  void SetNext(int32_t v) { bytes::StoreI32(d + bp::kNextPage, v); }
  void SetCount(int32_t v) { bytes::StoreU16(d + bp::kEntryCount, static_cast<uint16_t>(v)); }
  int32_t E() const { return k + (IsLeaf() ? v : 4); }
  uint8_t* Entry(int32_t i) const { return d + bp::kHeaderSize + i * E(); }
  int32_t Child(int32_t i, int32_t /*keySize*/ = 0) const { return bytes::LoadI32(Entry(i) + k); }
};

void InitPage(uint8_t* d, bool root, bool leaf, bool initialRoot, int32_t keySize) {
  std::memset(d, 0, bp::kHeaderSize);
  d[bp::kRootFlag] = root ? 1 : 0;
  d[bp::kLeafFlag] = leaf ? 1 : 0;
  bytes::StoreI32(d + bp::kPrevPage, -1);
  bytes::StoreI32(d + bp::kNextPage, -1);
  d[bp::kInitialRoot] = initialRoot ? 1 : 0;
  bytes::StoreU16(d + bp::kKeySize, static_cast<uint16_t>(keySize));
}

}  // namespace

TVRXPageGuard FetchTreePage(TVRXPageManager& pages, int32_t sessionID, int32_t pageNo,
                            int32_t keySize, int32_t entrySize) {
  TVRXPageGuard page(pages, pages.GetPage(sessionID, pageNo, ptTableIndex));
  const Node n{page->Data(), keySize, entrySize - keySize};
  const int64_t used = int64_t{n.Count()} * n.E() + bp::kHeaderSize;
  if (n.d[bp::kLeafFlag] > 1 || n.d[bp::kRootFlag] > 1 ||
      bytes::LoadU16(n.d + bp::kKeySize) != keySize || used > pages.DataSize())
    throw EVRXException("Index error: page %d is damaged", {pageNo}, kDamagedPageError);
  return page;
}

// The algorithms, over one call's session.
class TVRXBTree::Impl {
 public:
  Impl(TVRXBTree& tree, int32_t sessionID)
      : t_(tree),
        s_(sessionID),
        k_(tree.keys_.KeySize()),
        v_(tree.keys_.ValueSize()),
        e_(tree.keys_.EntrySize()),
        d_(tree.pages_.DataSize()) {}

  // An existing page of the tree, checked (FetchTreePage).
  TVRXPageGuard Fetch(int32_t pageNo) const {
    return FetchTreePage(t_.pages_, s_, pageNo, k_, e_);
  }
  Node View(const TVRXPageGuard& page) const { return Node{page->Data(), k_, v_}; }
  bool Fits(int32_t count, int32_t e) const { return count * e + bp::kHeaderSize <= d_; }
  bool Underfull(int32_t count, int32_t e) const { return count * e < (d_ - bp::kHeaderSize) / 2; }
  bool FitTogether(int32_t a, int32_t b, int32_t e) const {
    return (a + b) * e + bp::kHeaderSize < d_;
  }

  // --- comparing --------------------------------------------------------

  // The first leaf entry of the subtree under `pageNo` (key and value).
  void FirstOfSubtree(int32_t pageNo, std::vector<uint8_t>& entry) const {
    for (int32_t depth = 0;; ++depth) {
      if (depth >= kMaxKeyPathDepth) throw EVRXException("Invalid index key path", 20051);
      TVRXPageGuard page = Fetch(pageNo);
      Node n = View(page);
      if (n.Count() == 0) throw EVRXException("Index error: page is empty", 20025);
      if (n.IsLeaf()) {
        entry.assign(n.Entry(0), n.Entry(0) + e_);
        return;
      }
      pageNo = n.Child(0, k_);
    }
  }

  // Order of the search against a leaf entry (key, then record ID).
  int CompareLeafEntry(const TVRXSearchRef& search, const uint8_t* entry) const {
    const TVRXKeyCompare c = t_.keys_.CompareKeys(search.Key, entry);
    int order = c.Order;
    if (c.CutTie && t_.resolver_ != nullptr && t_.tieBreak_)
      order = t_.resolver_->ResolveCutTie(s_, search, LoadRecordID(entry + k_));
    if (order != 0 || !t_.tieBreak_ || search.RecordID == nullptr) return order;
    return CompareRecordIDs(*search.RecordID, LoadRecordID(entry + k_));
  }

  // Order of the search against node entry i: its separator key, and on a
  // tie the first entry its subtree actually holds.
  int CompareNodeEntry(const TVRXSearchRef& search, const Node& n, int32_t i) const {
    const TVRXKeyCompare c = t_.keys_.CompareKeys(search.Key, n.Entry(i));
    if (c.Order != 0) return c.Order;
    if (!c.CutTie && (!t_.tieBreak_ || search.RecordID == nullptr)) return 0;
    if (!t_.tieBreak_) return 0;
    std::vector<uint8_t> first;
    FirstOfSubtree(n.Child(i, k_), first);
    return CompareLeafEntry(search, first.data());
  }

  // --- descent ----------------------------------------------------------

  // The child to follow: the last entry ≥ 1 not above the search, else 0.
  int32_t ChildIndex(const TVRXSearchRef& search, const Node& n) const {
    int32_t lo = 1;
    int32_t hi = n.Count() - 1;
    int32_t found = 0;
    while (lo <= hi) {
      const int32_t mid = (lo + hi) / 2;
      if (CompareNodeEntry(search, n, mid) >= 0) {
        found = mid;
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    return found;
  }

  // Fills the path's node levels down to the leaf for `search`; the leaf
  // level gets its page and count, entry index 0. Returns the leaf, still
  // fetched, so the caller searches it without fetching it again.
  TVRXPageGuard Descend(const TVRXSearchRef& search, TVRXKeyPath& path) const {
    path.Clear();
    int32_t pageNo = t_.root_;
    for (;;) {
      if (path.Depth >= kMaxKeyPathDepth) throw EVRXException("Invalid index key path", 20051);
      TVRXPageGuard page = Fetch(pageNo);
      Node n = View(page);
      TVRXKeyPathLevel& level = path.Levels[static_cast<size_t>(path.Depth++)];
      level.PageNo = pageNo;
      level.EntryCount = n.Count();
      level.EntryIndex = 0;
      if (n.IsLeaf()) {
        path.CurrentLevel = path.Depth - 1;
        return page;
      }
      if (n.Count() == 0) throw EVRXException("Index error: page is empty", 20025);
      level.EntryIndex = ChildIndex(search, n);
      pageNo = n.Child(level.EntryIndex, k_);
    }
  }

  // Insert point in the leaf (first entry above the search), and whether
  // an equal entry sits just before it.
  int32_t LeafUpperBound(const TVRXSearchRef& search, const Node& n, bool& equal) const {
    int32_t lo = 0;
    int32_t hi = n.Count();
    equal = false;
    while (lo < hi) {
      const int32_t mid = (lo + hi) / 2;
      const int order = CompareLeafEntry(search, n.Entry(mid));
      if (order >= 0) {
        if (order == 0) equal = true;
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (equal) equal = lo > 0 && CompareLeafEntry(search, n.Entry(lo - 1)) == 0;
    return lo;
  }

  // --- insertion --------------------------------------------------------

  void InsertAt(TVRXKeyPath& path, int32_t level, int32_t pos, const uint8_t* entry) {
    const int32_t pageNo = path.Levels[static_cast<size_t>(level)].PageNo;
    TVRXPageGuard page = Fetch(pageNo);
    Node n = View(page);
    const int32_t count = n.Count();
    const int32_t e = n.E();
    if (Fits(count + 1, e)) {
      std::memmove(n.Entry(pos + 1), n.Entry(pos), static_cast<size_t>((count - pos) * e));
      std::memcpy(n.Entry(pos), entry, static_cast<size_t>(e));
      n.SetCount(count + 1);
      page->SetDirty(true);
      return;
    }
    // Split: the entries with the new one, then halves.
    const int32_t total = count + 1;
    std::vector<uint8_t> all(static_cast<size_t>(total * e));
    std::memcpy(all.data(), n.Entry(0), static_cast<size_t>(pos * e));
    std::memcpy(all.data() + pos * e, entry, static_cast<size_t>(e));
    std::memcpy(all.data() + (pos + 1) * e, n.Entry(pos), static_cast<size_t>((count - pos) * e));
    const bool leaf = n.IsLeaf();
    const int32_t half = total / 2;
    if (level == 0) {
      TVRXPageGuard left(t_.pages_, t_.pages_.AddPage(s_, ptTableIndex));
      TVRXPageGuard right(t_.pages_, t_.pages_.AddPage(s_, ptTableIndex));
      Node l = View(left);
      Node r = View(right);
      InitPage(l.d, false, leaf, false, k_);
      InitPage(r.d, false, leaf, false, k_);
      std::memcpy(l.Entry(0), all.data(), static_cast<size_t>(half * e));
      l.SetCount(half);
      std::memcpy(r.Entry(0), all.data() + half * e, static_cast<size_t>((total - half) * e));
      r.SetCount(total - half);
      l.SetNext(right->PageNo());
      r.SetPrev(left->PageNo());
      InitPage(n.d, true, false, n.d[bp::kInitialRoot] != 0, k_);
      std::memset(n.Entry(0), 0, static_cast<size_t>(2 * (k_ + 4)));
      bytes::StoreI32(n.Entry(0) + k_, left->PageNo());
      std::memcpy(n.Entry(1), r.Entry(0), static_cast<size_t>(k_));
      bytes::StoreI32(n.Entry(1) + k_, right->PageNo());
      n.SetCount(2);
      left->SetDirty(true);
      right->SetDirty(true);
      page->SetDirty(true);
      return;
    }
    TVRXPageGuard fresh(t_.pages_, t_.pages_.AddPage(s_, ptTableIndex));
    Node f = View(fresh);
    InitPage(f.d, false, leaf, false, k_);
    std::memcpy(n.Entry(0), all.data(), static_cast<size_t>(half * e));
    n.SetCount(half);
    std::memcpy(f.Entry(0), all.data() + half * e, static_cast<size_t>((total - half) * e));
    f.SetCount(total - half);
    const int32_t oldNext = n.Next();
    f.SetPrev(pageNo);
    f.SetNext(oldNext);
    n.SetNext(fresh->PageNo());
    if (oldNext != -1) {
      TVRXPageGuard following = Fetch(oldNext);
      View(following).SetPrev(fresh->PageNo());
      following->SetDirty(true);
    }
    std::vector<uint8_t> parentEntry(static_cast<size_t>(k_ + 4));
    std::memcpy(parentEntry.data(), f.Entry(0), static_cast<size_t>(k_));
    bytes::StoreI32(parentEntry.data() + k_, fresh->PageNo());
    page->SetDirty(true);
    fresh->SetDirty(true);
    page.Release();
    fresh.Release();
    InsertAt(path, level - 1, path.Levels[static_cast<size_t>(level - 1)].EntryIndex + 1,
             parentEntry.data());
  }

  // --- deletion ---------------------------------------------------------

  // The path of the next page on `level`, upper levels stepped as needed;
  // false when the page is the last of its level.
  bool SiblingPath(const TVRXKeyPath& path, int32_t level, TVRXKeyPath& sibling) const {
    sibling.CopyFrom(path);
    sibling.Depth = level + 1;
    int32_t l = level - 1;
    while (l >= 0 && sibling.Levels[static_cast<size_t>(l)].EntryIndex >=
                         sibling.Levels[static_cast<size_t>(l)].EntryCount - 1)
      --l;
    if (l < 0) return false;
    ++sibling.Levels[static_cast<size_t>(l)].EntryIndex;
    for (int32_t k = l + 1; k <= level; ++k) {
      TVRXKeyPathLevel& parent = sibling.Levels[static_cast<size_t>(k - 1)];
      TVRXPageGuard page = Fetch(parent.PageNo);
      const int32_t child = View(page).Child(parent.EntryIndex, k_);
      TVRXPageGuard childPage = Fetch(child);
      sibling.Levels[static_cast<size_t>(k)] = {child, 0, View(childPage).Count()};
    }
    return true;
  }

  // Writes `key` into the separator that leads to the node at `level` in
  // the nearest ancestor whose path entry is not 0.
  void RewriteSeparator(const TVRXKeyPath& path, int32_t level, const uint8_t* key) {
    for (int32_t a = level - 1; a >= 0; --a) {
      const TVRXKeyPathLevel& ancestor = path.Levels[static_cast<size_t>(a)];
      if (ancestor.EntryIndex == 0) continue;
      TVRXPageGuard page = Fetch(ancestor.PageNo);
      std::memcpy(View(page).Entry(ancestor.EntryIndex), key, static_cast<size_t>(k_));
      page->SetDirty(true);
      return;
    }
  }

  // Unlinks `pageNo` (its prev and next given) from its level.
  void Unlink(int32_t prev, int32_t next) {
    if (prev != -1) {
      TVRXPageGuard p = Fetch(prev);
      View(p).SetNext(next);
      p->SetDirty(true);
    }
    if (next != -1) {
      TVRXPageGuard p = Fetch(next);
      View(p).SetPrev(prev);
      p->SetDirty(true);
    }
  }

  // Appends the right page's entries to the left page, unlinks the right
  // page and gives it back.
  // In a node the right page's entry 0 carries a key that was never
  // compared and may lie below entries of the left page; once appended it
  // is compared, so it takes the separator that bounded the right page
  // from the left (`rightPath` leads to the right page at `level`).
  void Merge(int32_t leftNo, int32_t rightNo, const TVRXKeyPath& rightPath, int32_t level) {
    TVRXPageGuard left = Fetch(leftNo);
    TVRXPageGuard right = Fetch(rightNo);
    Node l = View(left);
    Node r = View(right);
    const int32_t at = l.Count();
    std::memcpy(l.Entry(at), r.Entry(0), static_cast<size_t>(r.Count() * r.E()));
    l.SetCount(l.Count() + r.Count());
    if (!l.IsLeaf()) {
      for (int32_t a = level - 1; a >= 0; --a) {
        const TVRXKeyPathLevel& ancestor = rightPath.Levels[static_cast<size_t>(a)];
        if (ancestor.EntryIndex == 0) continue;
        TVRXPageGuard page = Fetch(ancestor.PageNo);
        std::memcpy(l.Entry(at), View(page).Entry(ancestor.EntryIndex), static_cast<size_t>(k_));
        break;
      }
    }
    const int32_t next = r.Next();
    l.SetNext(next);
    left->SetDirty(true);
    right.Release();
    left.Release();
    if (next != -1) {
      TVRXPageGuard p = Fetch(next);
      View(p).SetPrev(leftNo);
      p->SetDirty(true);
    }
    t_.pages_.RemovePage(s_, rightNo);
  }

  void RemoveAt(TVRXKeyPath& path, int32_t level, int32_t pos) {
    const TVRXKeyPathLevel here = path.Levels[static_cast<size_t>(level)];
    TVRXPageGuard page = Fetch(here.PageNo);
    Node n = View(page);
    int32_t count = n.Count();
    if (count == 0 || pos >= count) throw EVRXException("Index error: page is empty", 20025);
    if (!n.IsLeaf() && pos == 0 && count > 1 && level > 0)
      RewriteSeparator(path, level, n.Entry(1));
    std::memmove(n.Entry(pos), n.Entry(pos + 1), static_cast<size_t>((count - pos - 1) * n.E()));
    n.SetCount(--count);
    page->SetDirty(true);
    path.Levels[static_cast<size_t>(level)].EntryCount = count;

    if (level == 0) {
      // A root node left with one child takes over the child's content.
      while (!n.IsLeaf() && n.Count() == 1) {
        const int32_t childNo = n.Child(0, k_);
        {
          TVRXPageGuard child = Fetch(childNo);
          Node c = View(child);
          const bool leaf = c.IsLeaf();
          const int32_t childCount = c.Count();
          std::memcpy(n.Entry(0), c.Entry(0), static_cast<size_t>(childCount * c.E()));
          n.d[bp::kLeafFlag] = leaf ? 1 : 0;
          n.SetCount(childCount);
        }
        t_.pages_.RemovePage(s_, childNo);
      }
      return;
    }
    const int32_t prev = n.Prev();
    const int32_t next = n.Next();
    if (count == 0) {
      // An empty page leaves its level and its parent.
      page.Release();
      Unlink(prev, next);
      t_.pages_.RemovePage(s_, here.PageNo);
      RemoveAt(path, level - 1, path.Levels[static_cast<size_t>(level - 1)].EntryIndex);
      return;
    }
    if (!Underfull(count, n.E())) return;
    if (prev != -1) {
      int32_t prevCount = 0;
      {
        TVRXPageGuard p = Fetch(prev);
        prevCount = View(p).Count();
      }
      if (FitTogether(prevCount, count, n.E())) {
        page.Release();
        Merge(prev, here.PageNo, path, level);
        RemoveAt(path, level - 1, path.Levels[static_cast<size_t>(level - 1)].EntryIndex);
        return;
      }
    }
    if (next != -1) {
      int32_t nextCount = 0;
      {
        TVRXPageGuard p = Fetch(next);
        nextCount = View(p).Count();
      }
      if (FitTogether(count, nextCount, n.E())) {
        page.Release();
        TVRXKeyPath sibling;
        if (!SiblingPath(path, level, sibling) ||
            sibling.Levels[static_cast<size_t>(level)].PageNo != next)
          throw EVRXException("Index error: invalid page number", 20070);
        Merge(here.PageNo, next, sibling, level);
        RemoveAt(sibling, level - 1, sibling.Levels[static_cast<size_t>(level - 1)].EntryIndex);
      }
    }
  }

  // --- positioning ------------------------------------------------------

  // First (or last) entry; the path runs along the leftmost (rightmost)
  // edge.
  bool Edge(bool last, TVRXKeyPath& path) const {
    path.Clear();
    int32_t pageNo = t_.root_;
    for (;;) {
      TVRXPageGuard page = Fetch(pageNo);
      Node n = View(page);
      TVRXKeyPathLevel& level = path.Levels[static_cast<size_t>(path.Depth++)];
      level.PageNo = pageNo;
      level.EntryCount = n.Count();
      if (n.Count() == 0) {
        path.Clear();
        return false;
      }
      level.EntryIndex = last ? n.Count() - 1 : 0;
      if (n.IsLeaf()) break;
      pageNo = n.Child(level.EntryIndex, k_);
    }
    path.CurrentLevel = path.Depth - 1;
    return true;
  }

  bool Step(TVRXKeyPath& path, bool forward) const {
    if (path.Depth == 0)
      throw EVRXException("Index error: invalid position", forward ? 20068 : 20069);
    {
      TVRXKeyPathLevel& leaf = path.Leaf();
      TVRXPageGuard page = Fetch(leaf.PageNo);
      leaf.EntryCount = View(page).Count();
    }
    int32_t l = path.Depth - 1;
    for (; l >= 0; --l) {
      const TVRXKeyPathLevel& level = path.Levels[static_cast<size_t>(l)];
      if (forward ? level.EntryIndex < level.EntryCount - 1 : level.EntryIndex > 0) break;
    }
    if (l < 0) return false;
    TVRXKeyPath moved;
    moved.CopyFrom(path);
    moved.Levels[static_cast<size_t>(l)].EntryIndex += forward ? 1 : -1;
    for (int32_t k = l + 1; k < path.Depth; ++k) {
      TVRXKeyPathLevel& level = moved.Levels[static_cast<size_t>(k)];
      int32_t other = -1;
      {
        TVRXPageGuard page = Fetch(level.PageNo);
        other = forward ? View(page).Next() : View(page).Prev();
      }
      if (other == -1)
        throw EVRXException("Index error: invalid page number", forward ? 20070 : 20071);
      TVRXPageGuard page = Fetch(other);
      const int32_t count = View(page).Count();
      level = {other, forward ? 0 : count - 1, count};
    }
    path.CopyFrom(moved);
    return true;
  }

  // First entry whose key is ≥ `key` (or > with `strict`); false when
  // none. Keys only; ties on a truncated part count as equal.
  bool LowerBound(const uint8_t* key, bool strict, TVRXKeyPath& path) const {
    path.Clear();
    int32_t pageNo = t_.root_;
    for (;;) {
      TVRXPageGuard page = Fetch(pageNo);
      Node n = View(page);
      TVRXKeyPathLevel& level = path.Levels[static_cast<size_t>(path.Depth++)];
      level.PageNo = pageNo;
      level.EntryCount = n.Count();
      const int32_t count = n.Count();
      if (n.IsLeaf()) {
        int32_t lo = 0;
        int32_t hi = count;
        while (lo < hi) {
          const int32_t mid = (lo + hi) / 2;
          const int order = t_.keys_.CompareKeys(n.Entry(mid), key).Order;
          if (strict ? order <= 0 : order < 0)
            lo = mid + 1;
          else
            hi = mid;
        }
        path.CurrentLevel = path.Depth - 1;
        if (lo < count) {
          level.EntryIndex = lo;
          return true;
        }
        if (count == 0) {
          path.Clear();
          return false;
        }
        level.EntryIndex = count - 1;
        page.Release();
        return Step(path, true);
      }
      int32_t lo = 1;
      int32_t hi = count - 1;
      int32_t found = 0;
      while (lo <= hi) {
        const int32_t mid = (lo + hi) / 2;
        const int order = t_.keys_.CompareKeys(n.Entry(mid), key).Order;
        if (strict ? order <= 0 : order < 0) {
          found = mid;
          lo = mid + 1;
        } else {
          hi = mid - 1;
        }
      }
      level.EntryIndex = found;
      pageNo = n.Child(found, k_);
    }
  }

  int CompareAt(const TVRXKeyPath& path, const uint8_t* key) const {
    TVRXPageGuard page = Fetch(path.Leaf().PageNo);
    return t_.keys_.CompareKeys(View(page).Entry(path.Leaf().EntryIndex), key).Order;
  }

  // The entry before a bound found by LowerBound (or the last entry when
  // there was none).
  bool BeforeBound(bool found, TVRXKeyPath& path) const {
    if (!found) return Edge(true, path);
    if (!Step(path, false)) {
      path.Clear();
      return false;
    }
    return true;
  }

  TVRXBTree& t_;
  int32_t s_;
  int32_t k_;
  int32_t v_;
  int32_t e_;  // leaf entry size
  int32_t d_;
};

// --------------------------------------------------------------------------

TVRXBTree::TVRXBTree(TVRXPageManager& pages, TVRXBTreeKeyRef& keys, bool recordIDTieBreak,
                     TVRXBTreeTieResolver* resolver)
    : pages_(pages), keys_(keys), tieBreak_(recordIDTieBreak), resolver_(resolver) {}

int32_t TVRXBTree::NodeCapacity() const { return pages_.DataSize() / (keys_.KeySize() + 4); }

int32_t TVRXBTree::Create(int32_t sessionID) {
  TVRXPageGuard page(pages_, pages_.AddPage(sessionID, ptTableIndex));
  InitPage(page->Data(), true, true, true, keys_.KeySize());
  page->SetDirty(true);
  root_ = page->PageNo();
  return root_;
}

namespace {

// Every page of the subtree under `pageNo`, children before parents.
void CollectPages(TVRXPageManager& pages, int32_t sessionID, int32_t pageNo, int32_t keySize,
                  int32_t entrySize, std::vector<int32_t>& out) {
  // Level by level along the leftmost edge and the chains.
  std::unordered_set<int32_t> visited;  // a chain that loops would never end
  int32_t first = pageNo;
  while (first != -1) {
    int32_t nextLevel = -1;
    int32_t current = first;
    while (current != -1) {
      if (!visited.insert(current).second)
        throw EVRXException("Index error: invalid page number", 20070);
      TVRXPageGuard page = FetchTreePage(pages, sessionID, current, keySize, entrySize);
      Node n{page->Data(), keySize, entrySize - keySize};
      if (current == first && !n.IsLeaf() && n.Count() > 0) nextLevel = n.Child(0, keySize);
      out.push_back(current);
      current = n.Next();
    }
    first = nextLevel;
  }
}

}  // namespace

void TVRXBTree::Drop(int32_t sessionID) {
  std::vector<int32_t> all;
  CollectPages(pages_, sessionID, root_, keys_.KeySize(), keys_.EntrySize(), all);
  for (int32_t pageNo : all) pages_.RemovePage(sessionID, pageNo);
  root_ = -1;
}

void TVRXBTree::Empty(int32_t sessionID) {
  std::vector<int32_t> all;
  CollectPages(pages_, sessionID, root_, keys_.KeySize(), keys_.EntrySize(), all);
  for (int32_t pageNo : all)
    if (pageNo != root_) pages_.RemovePage(sessionID, pageNo);
  TVRXPageGuard page = FetchTreePage(pages_, sessionID, root_, keys_.KeySize(), keys_.EntrySize());
  const bool initial = page->Data()[bp::kInitialRoot] != 0;
  InitPage(page->Data(), true, true, initial, keys_.KeySize());
  page->SetDirty(true);
}

void TVRXBTree::Insert(int32_t sessionID, const TVRXSearchRef& search, const uint8_t* value) {
  Impl impl(*this, sessionID);
  TVRXKeyPath path;
  int32_t pos = 0;
  {
    TVRXPageGuard page = impl.Descend(search, path);
    bool equal = false;
    pos = impl.LeafUpperBound(search, impl.View(page), equal);
  }
  std::vector<uint8_t> entry(static_cast<size_t>(keys_.EntrySize()));
  std::memcpy(entry.data(), search.Key, static_cast<size_t>(keys_.KeySize()));
  std::memcpy(entry.data() + keys_.KeySize(), value, static_cast<size_t>(keys_.ValueSize()));
  impl.InsertAt(path, path.Depth - 1, pos, entry.data());
  if constexpr (kCheckInvariants) {
    TVRXPageGuard root = impl.Fetch(root_);
    CheckInvariant(root->Data()[bp::kRootFlag] == 1 && impl.Fits(impl.View(root).Count(), impl.View(root).E()),
                   "TVRXBTree", "the root keeps its flag and fits its page after an insert");
  }
}

bool TVRXBTree::Delete(int32_t sessionID, const TVRXSearchRef& search) {
  Impl impl(*this, sessionID);
  TVRXKeyPath path;
  if (!FindExact(sessionID, search, path)) return false;
  impl.RemoveAt(path, path.Depth - 1, path.Leaf().EntryIndex);
  if constexpr (kCheckInvariants) {
    TVRXPageGuard root = impl.Fetch(root_);
    const Node n = impl.View(root);
    CheckInvariant(root->Data()[bp::kRootFlag] == 1 && (n.IsLeaf() || n.Count() >= 2),
                   "TVRXBTree", "a root node keeps two children after a delete");
  }
  return true;
}

bool TVRXBTree::FindExact(int32_t sessionID, const TVRXSearchRef& search, TVRXKeyPath& path) {
  Impl impl(*this, sessionID);
  TVRXPageGuard page = impl.Descend(search, path);
  bool equal = false;
  const int32_t pos = impl.LeafUpperBound(search, impl.View(page), equal);
  if (equal) {
    path.Leaf().EntryIndex = pos - 1;
    return true;
  }
  // With stale separators an equal entry can open the next leaf only when
  // the search has no tie-break; the descent covers every other case.
  if (pos == impl.View(page).Count() && pos > 0) {
    path.Leaf().EntryIndex = pos - 1;
    page.Release();
    TVRXKeyPath next;
    next.CopyFrom(path);
    if (impl.Step(next, true)) {
      TVRXPageGuard other = impl.Fetch(next.Leaf().PageNo);
      if (impl.CompareLeafEntry(search, impl.View(other).Entry(next.Leaf().EntryIndex)) == 0) {
        path.CopyFrom(next);
        return true;
      }
    }
  }
  path.Clear();
  return false;
}

bool TVRXBTree::First(int32_t sessionID, TVRXKeyPath& path) {
  return Impl(*this, sessionID).Edge(false, path);
}

bool TVRXBTree::Last(int32_t sessionID, TVRXKeyPath& path) {
  return Impl(*this, sessionID).Edge(true, path);
}

bool TVRXBTree::Next(int32_t sessionID, TVRXKeyPath& path) {
  return Impl(*this, sessionID).Step(path, true);
}

bool TVRXBTree::Prior(int32_t sessionID, TVRXKeyPath& path) {
  return Impl(*this, sessionID).Step(path, false);
}

bool TVRXBTree::FindCondition(int32_t sessionID, TVRXConditionKind kind, const uint8_t* key,
                              bool last, TVRXKeyPath& path) {
  Impl impl(*this, sessionID);
  using K = TVRXConditionKind;
  auto fail = [&path] {
    path.Clear();
    return false;
  };
  switch (kind) {
    case K::None:
      return impl.Edge(last, path);
    case K::Equal:
      if (!last) {
        if (!impl.LowerBound(key, false, path) || impl.CompareAt(path, key) != 0) return fail();
        return true;
      } else {
        const bool found = impl.LowerBound(key, true, path);
        if (!impl.BeforeBound(found, path) || impl.CompareAt(path, key) != 0) return fail();
        return true;
      }
    case K::Less:
      if (!last) {
        if (!impl.Edge(false, path) || impl.CompareAt(path, key) >= 0) return fail();
        return true;
      } else {
        const bool found = impl.LowerBound(key, false, path);
        return impl.BeforeBound(found, path);
      }
    case K::Greater:
      if (!last) return impl.LowerBound(key, true, path) || fail();
      if (!impl.Edge(true, path) || impl.CompareAt(path, key) <= 0) return fail();
      return true;
    case K::LessOrEqual:
      if (!last) {
        if (!impl.Edge(false, path) || impl.CompareAt(path, key) > 0) return fail();
        return true;
      } else {
        const bool found = impl.LowerBound(key, true, path);
        return impl.BeforeBound(found, path);
      }
    case K::GreaterOrEqual:
      if (!last) return impl.LowerBound(key, false, path) || fail();
      if (!impl.Edge(true, path) || impl.CompareAt(path, key) < 0) return fail();
      return true;
  }
  return fail();
}

void TVRXBTree::ReadEntry(int32_t sessionID, const TVRXKeyPath& path, uint8_t* key,
                          uint8_t* value) {
  if (path.Depth == 0) throw EVRXException("Index error: invalid position", 20068);
  Impl impl(*this, sessionID);
  TVRXPageGuard page = impl.Fetch(path.Leaf().PageNo);
  const Node n = impl.View(page);
  if (!n.IsLeaf() || path.Leaf().EntryIndex < 0 || path.Leaf().EntryIndex >= n.Count())
    throw EVRXException("Index error: invalid position", 20068);
  const uint8_t* entry = n.Entry(path.Leaf().EntryIndex);
  if (key != nullptr) std::memcpy(key, entry, static_cast<size_t>(keys_.KeySize()));
  if (value != nullptr)
    std::memcpy(value, entry + keys_.KeySize(), static_cast<size_t>(keys_.ValueSize()));
}

void TVRXBTree::WriteValue(int32_t sessionID, const TVRXKeyPath& path, const uint8_t* value) {
  if (path.Depth == 0) throw EVRXException("Index error: invalid position", 20068);
  Impl impl(*this, sessionID);
  TVRXPageGuard page = impl.Fetch(path.Leaf().PageNo);
  const Node n = impl.View(page);
  if (!n.IsLeaf() || path.Leaf().EntryIndex < 0 || path.Leaf().EntryIndex >= n.Count())
    throw EVRXException("Index error: invalid position", 20068);
  std::memcpy(n.Entry(path.Leaf().EntryIndex) + keys_.KeySize(), value,
              static_cast<size_t>(keys_.ValueSize()));
  page->SetDirty(true);
}

bool TVRXBTree::ReadEntryAtPath(int32_t sessionID, TVRXKeyPath& path, uint8_t* key,
                                uint8_t* value) {
  Impl impl(*this, sessionID);
  int32_t pageNo = root_;
  for (int32_t l = 0; l < path.Depth; ++l) {
    TVRXPageGuard page = impl.Fetch(pageNo);
    const Node n = impl.View(page);
    TVRXKeyPathLevel& level = path.Levels[static_cast<size_t>(l)];
    level.PageNo = pageNo;
    level.EntryCount = n.Count();
    if (level.EntryIndex < 0 || level.EntryIndex >= n.Count()) return false;
    if (n.IsLeaf() != (l == path.Depth - 1)) return false;
    if (n.IsLeaf()) {
      const uint8_t* entry = n.Entry(level.EntryIndex);
      if (key != nullptr) std::memcpy(key, entry, static_cast<size_t>(keys_.KeySize()));
      if (value != nullptr)
        std::memcpy(value, entry + keys_.KeySize(), static_cast<size_t>(keys_.ValueSize()));
      return true;
    }
    pageNo = n.Child(level.EntryIndex, keys_.KeySize());
  }
  return false;
}

int64_t TVRXBTree::PositionNumber(const TVRXKeyPath& path) const {
  const int64_t base = static_cast<int64_t>(NodeCapacity()) + 1;
  int64_t number = 0;
  for (int32_t l = 0; l < path.Depth; ++l)
    number = number * base + path.Levels[static_cast<size_t>(l)].EntryIndex + 1;
  return number;
}

void TVRXBTree::PathFromPositionNumber(int64_t number, int32_t depth, TVRXKeyPath& path) const {
  const int64_t base = static_cast<int64_t>(NodeCapacity()) + 1;
  path.Clear();
  path.Depth = depth;
  for (int32_t l = depth - 1; l >= 0; --l) {
    path.Levels[static_cast<size_t>(l)] = {-1, static_cast<int32_t>(number % base) - 1, 0};
    number /= base;
  }
  path.CurrentLevel = depth > 0 ? depth - 1 : 0;
}

int32_t TVRXBTree::Depth(int32_t sessionID) {
  Impl impl(*this, sessionID);
  int32_t depth = 0;
  int32_t pageNo = root_;
  for (;;) {
    TVRXPageGuard page = impl.Fetch(pageNo);
    const Node n = impl.View(page);
    ++depth;
    if (n.IsLeaf() || n.Count() == 0) return depth;
    pageNo = n.Child(0, keys_.KeySize());
  }
}

int64_t TVRXBTree::EntriesBeforeLeaf(int32_t sessionID, const TVRXKeyPath& path) {
  Impl impl(*this, sessionID);
  int64_t total = 0;
  int32_t pageNo = -1;
  {
    TVRXPageGuard page = impl.Fetch(path.Leaf().PageNo);
    pageNo = impl.View(page).Prev();
  }
  while (pageNo != -1) {
    TVRXPageGuard page = impl.Fetch(pageNo);
    total += impl.View(page).Count();
    pageNo = impl.View(page).Prev();
  }
  return total;
}

bool TVRXBTree::SeekOrdinal(int32_t sessionID, int64_t ordinal, TVRXKeyPath& path) {
  Impl impl(*this, sessionID);
  if (ordinal < 0 || !impl.Edge(false, path)) return false;
  int64_t before = 0;
  for (;;) {
    int32_t count = 0;
    int32_t next = -1;
    {
      TVRXPageGuard page = impl.Fetch(path.Leaf().PageNo);
      count = impl.View(page).Count();
      next = impl.View(page).Next();
    }
    if (ordinal < before + count) {
      // Re-walk to this leaf with a proper path: step from the first entry
      // of the leaf is cheap only along the leaf level, so set the leaf
      // index and let the upper levels follow by stepping.
      const int32_t target = static_cast<int32_t>(ordinal - before);
      path.Leaf().EntryIndex = 0;
      path.Leaf().EntryCount = count;
      path.Leaf().EntryIndex = target;
      return true;
    }
    if (next == -1) return false;
    before += count;
    // Move the whole path one leaf on.
    path.Leaf().EntryIndex = count - 1;
    path.Leaf().EntryCount = count;
    if (!impl.Step(path, true)) return false;
  }
}

void TVRXBTree::ForEach(int32_t sessionID,
                        const std::function<bool(const uint8_t*, const uint8_t*)>& visit) {
  Impl impl(*this, sessionID);
  TVRXKeyPath first;
  TVRXKeyPath last;
  if (!impl.Edge(false, first) || !impl.Edge(true, last)) return;
  ForEachBetween(sessionID, first, last, visit);
}

void TVRXBTree::ForEachBetween(
    int32_t sessionID, const TVRXKeyPath& first, const TVRXKeyPath& last,
    const std::function<bool(const uint8_t*, const uint8_t*)>& visit) {
  if (first.Empty() || last.Empty()) return;
  Impl impl(*this, sessionID);
  int32_t pageNo = first.Leaf().PageNo;
  int32_t entry = first.Leaf().EntryIndex;
  const int32_t lastPage = last.Leaf().PageNo;
  std::unordered_set<int32_t> visited;  // a chain that loops would never end
  while (pageNo != -1) {
    if (!visited.insert(pageNo).second)
      throw EVRXException("Index error: invalid page number", 20070);
    TVRXPageGuard page = impl.Fetch(pageNo);
    const Node n = impl.View(page);
    const int32_t end = pageNo == lastPage ? std::min(n.Count(), last.Leaf().EntryIndex + 1) : n.Count();
    for (int32_t i = std::max(entry, 0); i < end; ++i)
      if (!visit(n.Entry(i), n.Entry(i) + keys_.KeySize())) return;
    if (pageNo == lastPage) return;
    pageNo = n.Next();
    entry = 0;
  }
}

int64_t TVRXBTree::Count(int32_t sessionID) {
  int64_t count = 0;
  Impl impl(*this, sessionID);
  TVRXKeyPath path;
  if (!impl.Edge(false, path)) return 0;
  int32_t pageNo = path.Leaf().PageNo;
  std::unordered_set<int32_t> visited;  // a chain that loops would never end
  while (pageNo != -1) {
    if (!visited.insert(pageNo).second)
      throw EVRXException("Index error: invalid page number", 20070);
    TVRXPageGuard page = impl.Fetch(pageNo);
    const Node n = impl.View(page);
    count += n.Count();
    pageNo = n.Next();
  }
  return count;
}

}  // namespace vrx
