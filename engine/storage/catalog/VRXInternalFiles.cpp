#include "engine/storage/catalog/VRXInternalFiles.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "engine/storage/compression/VRXCompression.h"

namespace vrx {

namespace {

// File header fields, offsets in the first page's data area.
constexpr int kHeaderSizeByte = 0;
constexpr int kStoredSizeField = 1;
constexpr int kUncompressedSizeField = 5;
constexpr int kAlgorithmField = 9;
// The direct file's size sits where the transacted file keeps its stored size.
constexpr int kDirectSizeField = 1;

// Errors the engine adds for damaged chains and headers.
constexpr int32_t kTransactedChainDamaged = 30470;
constexpr int32_t kDirectChainDamaged = 30471;
constexpr int32_t kDirectSizeInvalid = 30472;
constexpr int32_t kTransactedSizeInvalid = 30473;

[[noreturn]] void ThrowChainDamaged(int32_t firstPage, int32_t pageNo, int32_t nativeError) {
  throw EVRXException("Internal file page chain is damaged. StartPageNo=%d. PageNo=%d",
                      {firstPage, pageNo}, nativeError);
}

}  // namespace

int32_t InternalFilePagesFor(int64_t size, int32_t dataSize) {
  const int64_t bytes = std::max<int64_t>(size, 0) + kInternalFileHeaderSize;
  return static_cast<int32_t>(std::max<int64_t>(1, (bytes + dataSize - 1) / dataSize));
}

// --- transacted file ----------------------------------------------------------------

TVRXInternalDBTransactedAccessFile::TVRXInternalDBTransactedAccessFile(TVRXPageManager& pageManager,
                                                                       uint16_t pageType,
                                                                       int32_t firstPage)
    : pageManager_(pageManager), pageType_(pageType), firstPage_(firstPage) {}

void TVRXInternalDBTransactedAccessFile::RequireOpen(const char* operation) const {
  if (firstPage_ == -1)
    throw EVRXException("Cannot perform this operation (%s) on closed internal file", {operation},
                        30389);
}

void TVRXInternalDBTransactedAccessFile::Create(int32_t sessionID) {
  if (firstPage_ != -1)
    throw EVRXException("Cannot create Internal file. File already exists. StartPageNo=%d",
                        {firstPage_}, 30383);
  TVRXPageGuard page(pageManager_, pageManager_.AddPage(sessionID, pageType_));
  uint8_t* data = page->Data();
  bytes::StoreU8(data + kHeaderSizeByte, kInternalFileHeaderSize);
  bytes::StoreI32(data + kStoredSizeField, 0);
  bytes::StoreI32(data + kUncompressedSizeField, 0);
  bytes::StoreU8(data + kAlgorithmField, kCompressionNone);
  page->SetDirty(true);
  firstPage_ = page->PageNo();
}

void TVRXInternalDBTransactedAccessFile::Open(int32_t firstPage) {
  if (firstPage != -1) firstPage_ = firstPage;
}

void TVRXInternalDBTransactedAccessFile::Delete(int32_t sessionID) {
  if (firstPage_ == -1) return;
  for (int32_t pageNo : ChainPages(sessionID, -1)) pageManager_.RemovePage(sessionID, pageNo);
  firstPage_ = -1;
}

void TVRXInternalDBTransactedAccessFile::Delete(int32_t sessionID, int32_t firstPage) {
  Open(firstPage);
  Delete(sessionID);
}

std::vector<int32_t> TVRXInternalDBTransactedAccessFile::ChainPages(int32_t sessionID,
                                                                    int32_t limit) {
  std::vector<int32_t> pages;
  std::set<int32_t> seen;
  int32_t pageNo = firstPage_;
  while (pageNo != -1 && (limit < 0 || static_cast<int32_t>(pages.size()) < limit)) {
    if (!seen.insert(pageNo).second) ThrowChainDamaged(firstPage_, pageNo, kTransactedChainDamaged);
    TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, pageNo, pageType_));
    pages.push_back(pageNo);
    pageNo = page->NextPage();
  }
  return pages;
}

TVRXInternalFileSize TVRXInternalDBTransactedAccessFile::GetSize(int32_t sessionID) {
  RequireOpen("GetSize");
  TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, firstPage_, pageType_));
  const uint8_t* data = page->Data();
  TVRXInternalFileSize size;
  size.storedSize = bytes::LoadI32(data + kStoredSizeField);
  size.uncompressedSize = bytes::LoadI32(data + kUncompressedSizeField);
  size.algorithm = bytes::LoadU8(data + kAlgorithmField);
  if (size.storedSize < 0 || size.uncompressedSize < 0)
    throw EVRXException("Invalid internal file size. StartPageNo=%d. Size=%d",
                        {firstPage_, std::min(size.storedSize, size.uncompressedSize)},
                        kTransactedSizeInvalid);
  return size;
}

void TVRXInternalDBTransactedAccessFile::SetSize(int32_t sessionID, int32_t storedSize,
                                                 uint8_t algorithm, int32_t uncompressedSize) {
  RequireOpen("SetSize");
  const int32_t needed = InternalFilePagesFor(storedSize, pageManager_.DataSize());
  std::vector<int32_t> chain = ChainPages(sessionID, -1);
  // The chain is never cut: pages beyond the need stay linked for reuse.
  while (static_cast<int32_t>(chain.size()) < needed) {
    TVRXPageGuard added(pageManager_, pageManager_.AddPage(sessionID, pageType_));
    TVRXPageGuard last(pageManager_, pageManager_.GetPage(sessionID, chain.back(), pageType_));
    last->SetNextPage(added->PageNo());
    last->SetDirty(true);
    chain.push_back(added->PageNo());
  }
  TVRXPageGuard first(pageManager_, pageManager_.GetPage(sessionID, firstPage_, pageType_));
  uint8_t* data = first->Data();
  bytes::StoreU8(data + kHeaderSizeByte, kInternalFileHeaderSize);
  bytes::StoreI32(data + kStoredSizeField, storedSize);
  bytes::StoreI32(data + kUncompressedSizeField, uncompressedSize);
  bytes::StoreU8(data + kAlgorithmField, algorithm);
  first->SetDirty(true);
}

std::vector<uint8_t> TVRXInternalDBTransactedAccessFile::ReadStored(
    int32_t sessionID, const TVRXInternalFileSize& size, int32_t count) {
  // Bytes are gathered page by page, so a damaged size never allocates more
  // than the chain really holds.
  std::vector<uint8_t> stored;
  std::set<int32_t> seen;
  const int32_t dataSize = pageManager_.DataSize();
  int32_t pageNo = firstPage_;
  int32_t offset = kInternalFileHeaderSize;
  while (static_cast<int32_t>(stored.size()) < count) {
    if (pageNo == -1)
      throw EVRXException(
          "Cannot Read %% bytes from internal file. FileSize=%d. ReadSize=%d, Count=%d",
          {size.storedSize, static_cast<int32_t>(stored.size()), count}, 30388);
    if (!seen.insert(pageNo).second) ThrowChainDamaged(firstPage_, pageNo, kTransactedChainDamaged);
    TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, pageNo, pageType_));
    const int32_t take = std::min(dataSize - offset, count - static_cast<int32_t>(stored.size()));
    stored.insert(stored.end(), page->Data() + offset, page->Data() + offset + take);
    offset = 0;
    pageNo = page->NextPage();
  }
  return stored;
}

std::vector<uint8_t> TVRXInternalDBTransactedAccessFile::Decompressed(
    int32_t sessionID, const TVRXInternalFileSize& size) {
  const std::vector<uint8_t> stored = ReadStored(sessionID, size, size.storedSize);
  // A damaged size must not make the decoder reserve more than the machine has.
  std::vector<uint8_t> plain;
  if (size.uncompressedSize > TVRXMemoryManager::Instance().AvailableMemory() ||
      !DecompressBuffer(size.algorithm, stored.data(), stored.size(),
                        static_cast<size_t>(size.uncompressedSize), plain) ||
      plain.size() != static_cast<size_t>(size.uncompressedSize))
    throw EVRXException("Table file decompression error. Probably table is corrupted", 20189);
  return plain;
}

void TVRXInternalDBTransactedAccessFile::ReadFile(int32_t sessionID, void* buffer, int32_t count) {
  RequireOpen("ReadFile");
  const TVRXInternalFileSize size = GetSize(sessionID);
  if (count > size.uncompressedSize)
    throw EVRXException("Cannot Read internal file. FileSize=%d. ReadSize=%d",
                        {size.uncompressedSize, count}, 30387);
  if (count <= 0) return;
  const std::vector<uint8_t> bytes = size.algorithm == kCompressionNone
                                         ? ReadStored(sessionID, size, count)
                                         : Decompressed(sessionID, size);
  std::memcpy(buffer, bytes.data(), static_cast<size_t>(count));
}

std::vector<uint8_t> TVRXInternalDBTransactedAccessFile::ReadAll(int32_t sessionID) {
  RequireOpen("ReadFile");
  const TVRXInternalFileSize size = GetSize(sessionID);
  // Nothing is allocated for a size before the chain has vouched for it.
  if (size.algorithm == kCompressionNone) return ReadStored(sessionID, size, size.uncompressedSize);
  return Decompressed(sessionID, size);
}

void TVRXInternalDBTransactedAccessFile::WriteFile(int32_t sessionID, const void* data,
                                                   uint8_t level, uint8_t algorithm,
                                                   int32_t count) {
  RequireOpen("WriteFile");
  if (count < 0) count = 0;
  std::vector<uint8_t> compressed;
  const uint8_t* stored = static_cast<const uint8_t*>(data);
  int32_t storedSize = count;
  if (algorithm != kCompressionNone) {
    if (!CompressBuffer(algorithm, level, data, static_cast<size_t>(count), compressed) ||
        compressed.size() > static_cast<size_t>(INT32_MAX))
      throw EVRXException("Table file compression error", 20187);
    stored = compressed.data();
    storedSize = static_cast<int32_t>(compressed.size());
  }
  SetSize(sessionID, storedSize, algorithm, count);
  const int32_t dataSize = pageManager_.DataSize();
  int32_t pageNo = firstPage_;
  int32_t offset = kInternalFileHeaderSize;
  int32_t written = 0;
  // SetSize has made the chain long enough; walk exactly the pages needed.
  const int32_t needed = InternalFilePagesFor(storedSize, dataSize);
  for (int32_t i = 0; i < needed; ++i) {
    TVRXPageGuard page(pageManager_, pageManager_.GetPage(sessionID, pageNo, pageType_));
    const int32_t take = std::min(dataSize - offset, storedSize - written);
    if (take > 0) std::memcpy(page->Data() + offset, stored + written, static_cast<size_t>(take));
    written += take;
    page->SetDirty(true);
    offset = 0;
    pageNo = page->NextPage();
  }
}

// --- direct file ----------------------------------------------------------------------

TVRXInternalDBDirectAccessFile::TVRXInternalDBDirectAccessFile(TVRXDiskPageManager& pageManager,
                                                               uint16_t pageType)
    : pageManager_(pageManager), pageType_(pageType) {}

void TVRXInternalDBDirectAccessFile::RequireOpen(const char* operation) const {
  if (firstPage_ == -1)
    throw EVRXException("Cannot perform this operation (%s) on closed internal file", {operation},
                        20156);
}

int32_t TVRXInternalDBDirectAccessFile::Create(int32_t size) {
  if (firstPage_ != -1)
    throw EVRXException("Cannot create Internal file. File already exists. StartPageNo=%d",
                        {firstPage_}, 20157);
  if (size < 0)
    throw EVRXException("Invalid internal file size. StartPageNo=%d. Size=%d", {-1, size},
                        kDirectSizeInvalid);
  const int32_t needed = InternalFilePagesFor(size, pageManager_.DataSize());
  std::vector<int32_t> pages;
  {
    TVRXPageGuard first(pageManager_, pageManager_.AddPage(kSystemSessionID, pageType_));
    first->SetEncryptOnWrite(false);
    bytes::StoreU8(first->Data() + kHeaderSizeByte, kInternalFileHeaderSize);
    bytes::StoreI32(first->Data() + kDirectSizeField, size);
    pages.push_back(first->PageNo());
  }
  while (static_cast<int32_t>(pages.size()) < needed) {
    TVRXPageGuard next(pageManager_, pageManager_.AddPage(kSystemSessionID, pageType_));
    next->SetEncryptOnWrite(false);
    TVRXPageGuard previous(pageManager_,
                           pageManager_.GetPage(kSystemSessionID, pages.back(), pageType_));
    previous->SetNextPage(next->PageNo());
    pages.push_back(next->PageNo());
  }
  firstPage_ = pages.front();
  size_ = size;
  pages_ = std::move(pages);
  const int32_t dataSize = pageManager_.DataSize();
  const int64_t chainBytes =
      int64_t{static_cast<int32_t>(pages_.size())} * dataSize - kInternalFileHeaderSize;
  addressable_ = pages_.size() == 1 ? dataSize - kInternalFileHeaderSize
                                    : static_cast<int32_t>(std::min<int64_t>(size_, chainBytes));
  return firstPage_;
}

void TVRXInternalDBDirectAccessFile::ReadHeaderFromByte1(int32_t pageNo, uint16_t& type,
                                                         int32_t& next) {
  // Byte 0 may be locked by another process: it is never read.
  uint8_t header[kPageHeaderSize] = {};
  pageManager_.ReadPageBytes(header + 1, pageNo, kPageHeaderSize - 1, 1);
  type = bytes::LoadU16(header + page_header::kPageType);
  next = bytes::LoadI32(header + page_header::kNextPage);
}

std::vector<int32_t> TVRXInternalDBDirectAccessFile::WalkChain(int32_t firstPage, int32_t limit) {
  std::vector<int32_t> pages;
  std::set<int32_t> seen;
  int32_t pageNo = firstPage;
  while (pageNo != -1 && (limit < 0 || static_cast<int32_t>(pages.size()) < limit)) {
    if (!seen.insert(pageNo).second) ThrowChainDamaged(firstPage, pageNo, kDirectChainDamaged);
    uint16_t type = 0;
    int32_t next = -1;
    ReadHeaderFromByte1(pageNo, type, next);
    if (type != pageType_)
      throw EVRXException("Invalid PageType found: %d but wanted: %d",
                          {static_cast<int>(type), static_cast<int>(pageType_)}, 20155);
    pages.push_back(pageNo);
    pageNo = next;
  }
  return pages;
}

void TVRXInternalDBDirectAccessFile::Open(int32_t firstPage) {
  uint8_t fileHeader[kInternalFileHeaderSize] = {};
  pageManager_.ReadPageBytes(fileHeader, firstPage, kInternalFileHeaderSize, kPageHeaderSize);
  const int32_t size = bytes::LoadI32(fileHeader + kDirectSizeField);
  if (size < 0)
    throw EVRXException("Invalid internal file size. StartPageNo=%d. Size=%d", {firstPage, size},
                        kDirectSizeInvalid);
  const int32_t dataSize = pageManager_.DataSize();
  std::vector<int32_t> pages = WalkChain(firstPage, InternalFilePagesFor(size, dataSize));
  firstPage_ = firstPage;
  size_ = size;
  pages_ = std::move(pages);
  // Positions can be reached only where the chain has pages for them.
  const int64_t chainBytes =
      int64_t{static_cast<int32_t>(pages_.size())} * dataSize - kInternalFileHeaderSize;
  addressable_ = pages_.size() == 1 ? dataSize - kInternalFileHeaderSize
                                    : static_cast<int32_t>(std::min<int64_t>(size_, chainBytes));
}

void TVRXInternalDBDirectAccessFile::Delete() {
  RequireOpen("Delete");
  for (int32_t pageNo : WalkChain(firstPage_, -1))
    pageManager_.RemovePage(kSystemSessionID, pageNo);
  firstPage_ = -1;
  size_ = 0;
  addressable_ = 0;
  pages_.clear();
}

void TVRXInternalDBDirectAccessFile::Delete(int32_t firstPage) {
  firstPage_ = firstPage;
  Delete();
}

int32_t TVRXInternalDBDirectAccessFile::GetSize() {
  RequireOpen("GetSize");
  uint8_t bytes[4] = {};
  pageManager_.ReadPageBytes(bytes, firstPage_, 4, kPageHeaderSize + kDirectSizeField);
  return bytes::LoadI32(bytes);
}

int32_t TVRXInternalDBDirectAccessFile::PageOf(int32_t position) const {
  return static_cast<int32_t>((int64_t{position} + kInternalFileHeaderSize) /
                              pageManager_.DataSize());
}

int32_t TVRXInternalDBDirectAccessFile::OffsetOf(int32_t position) const {
  return kPageHeaderSize + static_cast<int32_t>((int64_t{position} + kInternalFileHeaderSize) %
                                                pageManager_.DataSize());
}

void TVRXInternalDBDirectAccessFile::CheckPosition(int32_t position) const {
  if (position < 0 || position >= addressable_)
    throw EVRXException("Seek position bigger then file size. FileSize=%d. Position=%d",
                        {size_, position}, 20159);
}

template <typename Part>
bool TVRXInternalDBDirectAccessFile::ForEachPart(int32_t position, int32_t count, Part part) {
  CheckPosition(position);
  CheckPosition(static_cast<int32_t>(std::min<int64_t>(int64_t{position} + count - 1, INT32_MAX)));
  bool all = true;
  int32_t done = 0;
  while (done < count) {
    const int32_t at = position + done;
    const int32_t offset = OffsetOf(at);
    const int32_t take = std::min(pageManager_.PageSize() - offset, count - done);
    if (!part(pages_[static_cast<size_t>(PageOf(at))], offset, done, take)) all = false;
    done += take;
  }
  return all;
}

void TVRXInternalDBDirectAccessFile::DirectReadBuffer(void* buffer, int32_t count,
                                                      int32_t position) {
  RequireOpen("DirectReadBuffer");
  if (count <= 0) return;
  auto* out = static_cast<uint8_t*>(buffer);
  ForEachPart(position, count, [&](int32_t pageNo, int32_t offset, int32_t done, int32_t take) {
    pageManager_.ReadPageBytes(out + done, pageNo, take, offset);
    return true;
  });
}

void TVRXInternalDBDirectAccessFile::DirectWriteBuffer(const void* buffer, int32_t count,
                                                       int32_t position) {
  RequireOpen("DirectWriteBuffer");
  if (count <= 0) return;
  CheckPosition(position);
  if (int64_t{position} + count > size_)
    throw EVRXException("Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                        {size_, position, count}, 20158);
  const auto* in = static_cast<const uint8_t*>(buffer);
  ForEachPart(position, count, [&](int32_t pageNo, int32_t offset, int32_t done, int32_t take) {
    pageManager_.WritePageBytes(in + done, pageNo, take, offset);
    return true;
  });
}

bool TVRXInternalDBDirectAccessFile::LockFile() {
  RequireOpen("LockFile");
  return pageManager_.LockPageByte(firstPage_, 0);
}

bool TVRXInternalDBDirectAccessFile::UnlockFile() {
  RequireOpen("UnlockFile");
  return pageManager_.UnlockPageByte(firstPage_, 0);
}

bool TVRXInternalDBDirectAccessFile::LockByte(int32_t position) {
  RequireOpen("LockByte");
  CheckPosition(position);
  return pageManager_.LockPageByte(pages_[static_cast<size_t>(PageOf(position))],
                                   OffsetOf(position));
}

bool TVRXInternalDBDirectAccessFile::UnlockByte(int32_t position) {
  RequireOpen("UnlockByte");
  CheckPosition(position);
  return pageManager_.UnlockPageByte(pages_[static_cast<size_t>(PageOf(position))],
                                     OffsetOf(position));
}

bool TVRXInternalDBDirectAccessFile::IsByteLocked(int32_t position) {
  RequireOpen("IsByteLocked");
  CheckPosition(position);
  return pageManager_.IsPageByteLocked(pages_[static_cast<size_t>(PageOf(position))],
                                       OffsetOf(position));
}

bool TVRXInternalDBDirectAccessFile::IsRegionLocked(int32_t position, int32_t count) {
  RequireOpen("IsRegionLocked");
  if (count <= 0) return false;
  bool locked = false;
  ForEachPart(position, count, [&](int32_t pageNo, int32_t offset, int32_t, int32_t take) {
    if (!locked && pageManager_.IsPageRegionLocked(pageNo, offset, take)) locked = true;
    return true;
  });
  return locked;
}

bool TVRXInternalDBDirectAccessFile::LockRegion(int32_t position, int32_t count) {
  RequireOpen("LockRegion");
  if (count <= 0) return true;
  TVRXDatabaseFile& file = pageManager_.DatabaseFile();
  return ForEachPart(position, count, [&](int32_t pageNo, int32_t offset, int32_t, int32_t take) {
    return file.LockByte(take, pageManager_.PageOffset(pageNo) + offset);
  });
}

bool TVRXInternalDBDirectAccessFile::UnlockRegion(int32_t position, int32_t count) {
  RequireOpen("UnlockRegion");
  if (count <= 0) return true;
  TVRXDatabaseFile& file = pageManager_.DatabaseFile();
  return ForEachPart(position, count, [&](int32_t pageNo, int32_t offset, int32_t, int32_t take) {
    return file.UnlockByte(take, pageManager_.PageOffset(pageNo) + offset);
  });
}

}  // namespace vrx
