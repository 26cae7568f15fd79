#include "engine/storage/btree/VRXBTreePageIndex.h"

#include <array>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"

namespace vrx {

namespace {

std::array<uint8_t, kPageKeySize> PageKey(int32_t pageNo) {
  std::array<uint8_t, kPageKeySize> key{};
  bytes::StoreI32(key.data(), pageNo);
  return key;
}

std::array<uint8_t, kPageAmountSize> AmountBytes(int32_t amount) {
  std::array<uint8_t, kPageAmountSize> value{};
  bytes::StoreU16(value.data(), static_cast<uint16_t>(amount));
  return value;
}

}  // namespace

TVRXBTreePageIndex::TVRXBTreePageIndex(TVRXPageManager& pages, int32_t rootPage)
    : tree_(std::make_unique<TVRXBTree>(pages, keys_, false, nullptr)) {
  tree_->SetRootPage(rootPage);
}

TVRXBTreePageIndex::~TVRXBTreePageIndex() = default;

int32_t TVRXBTreePageIndex::RootPage() const { return tree_->RootPage(); }
void TVRXBTreePageIndex::SetRootPage(int32_t rootPage) { tree_->SetRootPage(rootPage); }
TVRXPageManager& TVRXBTreePageIndex::Pages() const { return tree_->Pages(); }

void TVRXBTreePageIndex::CheckRoot(int32_t nativeError) const {
  if (tree_->RootPage() == -1) throw EVRXException("Invalid page number", nativeError);
}

int32_t TVRXBTreePageIndex::CreateIndex(int32_t sessionID) { return tree_->Create(sessionID); }

void TVRXBTreePageIndex::DropIndex(int32_t sessionID) {
  CheckRoot(20119);
  tree_->Drop(sessionID);
}

void TVRXBTreePageIndex::EmptyIndex(int32_t sessionID) {
  CheckRoot(20120);
  tree_->Empty(sessionID);
}

void TVRXBTreePageIndex::AddAmount(int32_t sessionID, int32_t pageNo, int32_t amount) {
  CheckRoot(20121);
  const auto key = PageKey(pageNo);
  TVRXKeyPath path;
  if (tree_->FindExact(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, path)) {
    std::array<uint8_t, kPageAmountSize> value{};
    tree_->ReadEntry(sessionID, path, nullptr, value.data());
    const int32_t current = bytes::LoadU16(value.data());
    if (!HasRoom(current, amount) || current + amount > 0xFFFF)
      throw EVRXException("Cannot add data item to page. Page is full", 20106);
    const auto updated = AmountBytes(current + amount);
    tree_->WriteValue(sessionID, path, updated.data());
    return;
  }
  if (amount <= 0) return;
  const auto value = AmountBytes(amount);
  tree_->Insert(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, value.data());
}

void TVRXBTreePageIndex::SubtractAmount(int32_t sessionID, int32_t pageNo, int32_t amount) {
  CheckRoot(20121);
  const auto key = PageKey(pageNo);
  TVRXKeyPath path;
  if (!tree_->FindExact(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, path))
    throw EVRXException("Invalid page number", 20110);
  std::array<uint8_t, kPageAmountSize> value{};
  tree_->ReadEntry(sessionID, path, nullptr, value.data());
  const int32_t current = bytes::LoadU16(value.data());
  if (current == 0) throw EVRXException("Index error: page is empty", 20112);
  if (current - amount <= 0) {
    if (!tree_->Delete(sessionID, TVRXSearchRef{key.data(), nullptr, {}}))
      throw EVRXException("Invalid page number", 20111);
    return;
  }
  const auto updated = AmountBytes(current - amount);
  tree_->WriteValue(sessionID, path, updated.data());
}

void TVRXBTreePageIndex::SetAmount(int32_t sessionID, int32_t pageNo, int32_t amount) {
  CheckRoot(20121);
  const auto key = PageKey(pageNo);
  TVRXKeyPath path;
  const bool found = tree_->FindExact(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, path);
  if (amount <= 0) {
    if (found) tree_->Delete(sessionID, TVRXSearchRef{key.data(), nullptr, {}});
    return;
  }
  const auto value = AmountBytes(amount);
  if (found)
    tree_->WriteValue(sessionID, path, value.data());
  else
    tree_->Insert(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, value.data());
}

int32_t TVRXBTreePageIndex::FindPageWithRoom(int32_t sessionID, int32_t requested) {
  CheckRoot(20121);
  TVRXPageManager& pages = tree_->Pages();
  const int32_t entrySize = keys_.EntrySize();
  auto tryLeaf = [&](int32_t leafNo, bool backwards) -> int32_t {
    TVRXPageGuard page = FetchTreePage(pages, sessionID, leafNo, keys_.KeySize(), entrySize);
    const uint8_t* d = page->Data();
    const int32_t count = bytes::LoadU16(d + btree_page::kEntryCount);
    for (int32_t n = 0; n < count; ++n) {
      const int32_t i = backwards ? count - 1 - n : n;
      const uint8_t* entry = d + btree_page::kHeaderSize + i * entrySize;
      if (HasRoom(bytes::LoadU16(entry + kPageKeySize), requested))
        return bytes::LoadI32(entry);
    }
    return -1;
  };
  TVRXKeyPath path;
  if (!tree_->Last(sessionID, path)) return -1;
  const int32_t lastLeaf = path.Leaf().PageNo;
  const int32_t found = tryLeaf(lastLeaf, true);
  if (found != -1) return found;
  tree_->First(sessionID, path);
  if (path.Leaf().PageNo == lastLeaf) return -1;
  return tryLeaf(path.Leaf().PageNo, false);
}

int32_t TVRXBTreePageIndex::FirstPage(int32_t sessionID) {
  CheckRoot(20121);
  TVRXKeyPath path;
  if (!tree_->First(sessionID, path)) return -1;
  std::array<uint8_t, kPageKeySize> key{};
  tree_->ReadEntry(sessionID, path, key.data(), nullptr);
  return bytes::LoadI32(key.data());
}

int32_t TVRXBTreePageIndex::LastPage(int32_t sessionID) {
  CheckRoot(20121);
  TVRXKeyPath path;
  if (!tree_->Last(sessionID, path)) return -1;
  std::array<uint8_t, kPageKeySize> key{};
  tree_->ReadEntry(sessionID, path, key.data(), nullptr);
  return bytes::LoadI32(key.data());
}

int32_t TVRXBTreePageIndex::NextPage(int32_t sessionID, int32_t pageNo) {
  CheckRoot(20121);
  const auto key = PageKey(pageNo);
  TVRXKeyPath path;
  if (!tree_->FindExact(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, path))
    throw EVRXException("Invalid page number", 20104);
  if (!tree_->Next(sessionID, path)) return -1;
  std::array<uint8_t, kPageKeySize> found{};
  tree_->ReadEntry(sessionID, path, found.data(), nullptr);
  return bytes::LoadI32(found.data());
}

int32_t TVRXBTreePageIndex::PriorPage(int32_t sessionID, int32_t pageNo) {
  CheckRoot(20121);
  const auto key = PageKey(pageNo);
  TVRXKeyPath path;
  if (!tree_->FindExact(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, path))
    throw EVRXException("Invalid page number", 20105);
  if (!tree_->Prior(sessionID, path)) return -1;
  std::array<uint8_t, kPageKeySize> found{};
  tree_->ReadEntry(sessionID, path, found.data(), nullptr);
  return bytes::LoadI32(found.data());
}

int32_t TVRXBTreePageIndex::Amount(int32_t sessionID, int32_t pageNo) {
  CheckRoot(20121);
  const auto key = PageKey(pageNo);
  TVRXKeyPath path;
  if (!tree_->FindExact(sessionID, TVRXSearchRef{key.data(), nullptr, {}}, path)) return -1;
  std::array<uint8_t, kPageAmountSize> value{};
  tree_->ReadEntry(sessionID, path, nullptr, value.data());
  return bytes::LoadU16(value.data());
}

bool TVRXBTreePageIndex::AmountBefore(int32_t sessionID, int32_t pageNo, int64_t& before) {
  CheckRoot(20121);
  before = 0;
  bool found = false;
  tree_->ForEach(sessionID, [&](const uint8_t* key, const uint8_t* value) {
    if (bytes::LoadI32(key) >= pageNo) {
      found = bytes::LoadI32(key) == pageNo;
      return false;
    }
    before += bytes::LoadU16(value);
    return true;
  });
  return found;
}

bool TVRXBTreePageIndex::PageOfOrdinal(int32_t sessionID, int64_t ordinal, int32_t& pageNo,
                                       int64_t& before) {
  CheckRoot(20121);
  before = 0;
  pageNo = -1;
  if (ordinal < 0) return false;
  tree_->ForEach(sessionID, [&](const uint8_t* key, const uint8_t* value) {
    const int32_t amount = bytes::LoadU16(value);
    if (ordinal < before + amount) {
      pageNo = bytes::LoadI32(key);
      return false;
    }
    before += amount;
    return true;
  });
  return pageNo != -1;
}

void TVRXBTreePageIndex::ForEachPage(int32_t sessionID,
                                     const std::function<bool(int32_t, int32_t)>& visit) {
  CheckRoot(20121);
  tree_->ForEach(sessionID, [&](const uint8_t* key, const uint8_t* value) {
    return visit(bytes::LoadI32(key), bytes::LoadU16(value));
  });
}

int64_t TVRXBTreePageIndex::PageCount(int32_t sessionID) {
  CheckRoot(20121);
  return tree_->Count(sessionID);
}

int64_t TVRXBTreePageIndex::TotalAmount(int32_t sessionID) {
  int64_t total = 0;
  ForEachPage(sessionID, [&](int32_t, int32_t amount) {
    total += amount;
    return true;
  });
  return total;
}

TVRXBTreeRecordPageIndex::TVRXBTreeRecordPageIndex(TVRXPageManager& pages, int32_t rootPage,
                                                   int32_t recordsPerPage)
    : TVRXBTreePageIndex(pages, rootPage), recordsPerPage_(recordsPerPage) {}

bool TVRXBTreeRecordPageIndex::HasRoom(int32_t amount, int32_t /*requested*/) const {
  return amount < recordsPerPage_;
}

TVRXBTreeBlobPageIndex::TVRXBTreeBlobPageIndex(TVRXPageManager& pages, int32_t rootPage)
    : TVRXBTreePageIndex(pages, rootPage) {}

bool TVRXBTreeBlobPageIndex::HasRoom(int32_t amount, int32_t requested) const {
  return amount + requested < Pages().DataSize() - 2;
}

}  // namespace vrx
