#include "engine/storage/btree/VRXBTreeChecker.h"

#include <set>
#include <string>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"

namespace vrx {

namespace bp = btree_page;

namespace {

struct PageCopy {
  int32_t PageNo = -1;
  bool Root = false;
  bool Leaf = false;
  int32_t Prev = -1;
  int32_t Next = -1;
  int32_t Count = 0;
  int32_t E = 0;  // entry size: key + value in leaves, key + child page in nodes
  std::vector<uint8_t> Entries;
  // Bounds the parent gives this page's entries (empty: none).
  std::vector<uint8_t> Lower;
  std::vector<uint8_t> Upper;
};

std::string PageText(int32_t pageNo) { return "page " + std::to_string(pageNo) + ": "; }

}  // namespace

TVRXBTreeChecker::TResult TVRXBTreeChecker::Check(TVRXBTree& tree, int32_t sessionID) {
  TResult result;
  TVRXPageManager& pages = tree.Pages();
  const TVRXBTreeKeyRef& keys = tree.Keys();
  const int32_t k = keys.KeySize();
  const int32_t e = keys.EntrySize();
  const int32_t d = pages.DataSize();
  auto problem = [&result](std::string text) { result.Problems.push_back(std::move(text)); };
  if (tree.RootPage() < 0) {
    problem("tree has no root page");
    return result;
  }
  auto keyOrder = [&keys](const uint8_t* a, const uint8_t* b) {
    return keys.CompareKeys(a, b).Order;
  };

  std::set<int32_t> seen;
  std::vector<PageCopy> level;
  {
    PageCopy root;
    root.PageNo = tree.RootPage();
    level.push_back(root);
  }
  bool leafLevel = false;
  while (!level.empty() && !leafLevel) {
    ++result.Depth;
    std::vector<PageCopy> children;
    // Read every page of the level.
    for (PageCopy& page : level) {
      ++result.Pages;
      if (!seen.insert(page.PageNo).second) {
        problem(PageText(page.PageNo) + "reached twice");
        page.Count = -1;
        continue;
      }
      try {
        TVRXPageGuard guard(pages, pages.GetPage(sessionID, page.PageNo, kAnyPageType));
        if (pages.HeaderSize() != 0 && guard->PageType() != ptTableIndex) {
          problem(PageText(page.PageNo) + "type " + std::to_string(guard->PageType()) +
                  ", not an index page");
          page.Count = -1;
          continue;
        }
        const uint8_t* data = guard->Data();
        page.Root = data[bp::kRootFlag] != 0;
        page.Leaf = data[bp::kLeafFlag] != 0;
        page.Prev = bytes::LoadI32(data + bp::kPrevPage);
        page.Next = bytes::LoadI32(data + bp::kNextPage);
        page.Count = bytes::LoadU16(data + bp::kEntryCount);
        const int32_t keySize = bytes::LoadU16(data + bp::kKeySize);
        if (keySize != k)
          problem(PageText(page.PageNo) + "key size " + std::to_string(keySize) + ", expected " +
                  std::to_string(k));
        if (data[bp::kExtraBytes] != 0 || bytes::LoadU16(data + bp::kEntryGap) != 0)
          problem(PageText(page.PageNo) + "entry layout fields are not 0");
        page.E = page.Leaf ? e : k + 4;
        if (page.Count * page.E + bp::kHeaderSize > d) {
          problem(PageText(page.PageNo) + "entry count " + std::to_string(page.Count) +
                  " does not fit the page");
          page.Count = -1;
          continue;
        }
        page.Entries.assign(data + bp::kHeaderSize, data + bp::kHeaderSize + page.Count * page.E);
      } catch (const EVRXException& error) {
        problem(PageText(page.PageNo) + "cannot be read: " + error.what());
        page.Count = -1;
      }
    }
    leafLevel = true;
    for (size_t i = 0; i < level.size(); ++i) {
      const PageCopy& page = level[i];
      if (page.Count < 0) continue;
      const bool isRoot = result.Depth == 1;
      if (page.Root != isRoot)
        problem(PageText(page.PageNo) + (isRoot ? "root without root flag" : "root flag below the root"));
      if (i == 0) leafLevel = page.Leaf;
      if (page.Leaf != leafLevel)
        problem(PageText(page.PageNo) + "leaves and nodes mixed on level " +
                std::to_string(result.Depth - 1));
      if (!isRoot && page.Count == 0) problem(PageText(page.PageNo) + "empty page below the root");
      if (!page.Leaf && page.Count == 0 && isRoot) problem(PageText(page.PageNo) + "empty root node");
      // Links along the level.
      const int32_t wantPrev = i == 0 ? -1 : level[i - 1].PageNo;
      const int32_t wantNext = i + 1 == level.size() ? -1 : level[i + 1].PageNo;
      if (page.Prev != wantPrev)
        problem(PageText(page.PageNo) + "previous link " + std::to_string(page.Prev) +
                ", expected " + std::to_string(wantPrev));
      if (page.Next != wantNext)
        problem(PageText(page.PageNo) + "next link " + std::to_string(page.Next) + ", expected " +
                std::to_string(wantNext));
      // Order within the page (entry 0 of a node is never compared).
      const int32_t from = page.Leaf ? 0 : 1;
      const int32_t pe = page.E;
      for (int32_t j = from + 1; j < page.Count; ++j) {
        const uint8_t* a = page.Entries.data() + (j - 1) * pe;
        const uint8_t* b = page.Entries.data() + j * pe;
        const int order = keyOrder(a, b);
        if (order > 0) {
          problem(PageText(page.PageNo) + "entry " + std::to_string(j) + " below entry " +
                  std::to_string(j - 1));
        } else if (order == 0 && page.Leaf && keys.ValueSize() == kRecordIDSize &&
                   !keys.CompareKeys(a, b).CutTie &&
                   CompareRecordIDs(LoadRecordID(a + k), LoadRecordID(b + k)) >= 0) {
          problem(PageText(page.PageNo) + "equal keys out of record order at entry " +
                  std::to_string(j));
        } else if (order == 0 && keys.ValueSize() != kRecordIDSize) {
          problem(PageText(page.PageNo) + "duplicate key at entry " + std::to_string(j));
        }
      }
      // Bounds from the parent.
      for (int32_t j = from; j < page.Count; ++j) {
        const uint8_t* key = page.Entries.data() + j * pe;
        if (!page.Lower.empty() && keyOrder(key, page.Lower.data()) < 0)
          problem(PageText(page.PageNo) + "entry " + std::to_string(j) +
                  " below its parent's separator");
        if (!page.Upper.empty() && keyOrder(key, page.Upper.data()) > 0)
          problem(PageText(page.PageNo) + "entry " + std::to_string(j) +
                  " above the next separator of its parent");
      }
      // Leaf chain order across pages.
      if (page.Leaf && i > 0 && level[i - 1].Count > 0 && page.Count > 0 &&
          level[i - 1].Leaf) {
        const PageCopy& before = level[i - 1];
        if (keyOrder(before.Entries.data() + (before.Count - 1) * before.E, page.Entries.data()) > 0)
          problem(PageText(page.PageNo) + "first key below the last key of page " +
                  std::to_string(before.PageNo));
      }
      if (page.Leaf) {
        ++result.Leaves;
        result.Entries += page.Count;
        continue;
      }
      for (int32_t j = 0; j < page.Count; ++j) {
        PageCopy child;
        child.PageNo = bytes::LoadI32(page.Entries.data() + j * pe + k);
        if (j > 0)
          child.Lower.assign(page.Entries.data() + j * pe, page.Entries.data() + j * pe + k);
        else
          child.Lower = page.Lower;
        if (j + 1 < page.Count)
          child.Upper.assign(page.Entries.data() + (j + 1) * pe,
                             page.Entries.data() + (j + 1) * pe + k);
        else
          child.Upper = page.Upper;
        children.push_back(std::move(child));
      }
    }
    if (leafLevel && !children.empty())
      problem("leaf level " + std::to_string(result.Depth - 1) + " has children");
    if (!leafLevel) level = std::move(children);
    if (result.Depth > kMaxKeyPathDepth) {
      problem("tree deeper than " + std::to_string(kMaxKeyPathDepth) + " levels");
      break;
    }
  }
  return result;
}

}  // namespace vrx
