// TVRXPage: one page in memory, as the page managers hand it out: its number,
// a page-size buffer from the engine's memory manager, and the bookkeeping of
// the cache (dirty flag, use count, the list it sits in, the session using
// it). Every page fetched with GetPage or AddPage is put back exactly once
// with PutPage; TVRXPageGuard does that on scope exit.
//
// Ownership: a page object belongs to the list it sits in (the shared cache
// or one session's change set) or, outside any list, to whoever created it
// (the free-space map's private service pages).
#pragma once

#include <cstdint>

#include "engine/storage/pages/VRXPageLayout.h"

namespace vrx {

class TVRXPageManager;
class TVRXSortedPageList;

class TVRXPage {
 public:
  // A page without a number (-1) and without a buffer yet. `headerSize` is
  // 40 for database files; the in-memory engines may use 0.
  TVRXPage(TVRXPageManager* manager, int32_t pageSize, int32_t headerSize);
  ~TVRXPage();  // frees the buffer when owned
  TVRXPage(const TVRXPage&) = delete;
  TVRXPage& operator=(const TVRXPage&) = delete;

  TVRXPageManager* Manager() const { return manager_; }
  int32_t PageNo() const { return pageNo_; }
  void SetPageNo(int32_t pageNo) { pageNo_ = pageNo; }
  int32_t PageSize() const { return pageSize_; }
  int32_t HeaderSize() const { return headerSize_; }

  // The buffer: null until AllocateFreshBuffer or SetBuffer.
  uint8_t* Buffer() const { return buffer_; }
  // Zero-fills the buffer (allocating it when missing) and writes the
  // initial page header when the page has one.
  void AllocateFreshBuffer();
  // Allocates the buffer when missing, without filling it: for a page whose
  // every byte is about to be read.
  void AllocateBufferForRead();
  // Takes `buffer` (page-size bytes at least); owned buffers come from the
  // memory manager and are freed with the page.
  void SetBuffer(uint8_t* buffer, bool ownsBuffer);
  bool OwnsBuffer() const { return ownsBuffer_; }
  // Grows the owned buffer to `newSize` bytes keeping its contents; throws
  // "Invalid page modification" (20039) below the page size and "Invalid page
  // buffer. Buffer is Nil" (20038) without a buffer.
  void GrowBuffer(int32_t newSize);

  uint8_t* Header() const { return buffer_; }
  uint8_t* Data() const { return buffer_ + headerSize_; }
  int32_t DataSize() const { return pageSize_ - headerSize_; }

  // Page header fields (pages with a header only).
  uint16_t PageType() const { return bytes::LoadU16(buffer_ + page_header::kPageType); }
  void SetPageType(uint16_t type) { bytes::StoreU16(buffer_ + page_header::kPageType, type); }
  int32_t ModCounter() const { return bytes::LoadI32(buffer_ + page_header::kModCounter); }
  void SetModCounter(int32_t value) { bytes::StoreI32(buffer_ + page_header::kModCounter, value); }
  int32_t NextPage() const { return bytes::LoadI32(buffer_ + page_header::kNextPage); }
  void SetNextPage(int32_t pageNo) { bytes::StoreI32(buffer_ + page_header::kNextPage, pageNo); }

  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) { dirty_ = dirty; }
  int32_t UseCount() const { return useCount_; }
  void SetUseCount(int32_t count) { useCount_ = count; }
  int32_t SessionID() const { return sessionID_; }
  void SetSessionID(int32_t sessionID) { sessionID_ = sessionID; }
  bool EncryptOnWrite() const { return encryptOnWrite_; }
  void SetEncryptOnWrite(bool value) { encryptOnWrite_ = value; }

  // The list holding this page; maintained by TVRXSortedPageList.
  TVRXSortedPageList* List() const { return list_; }
  void SetList(TVRXSortedPageList* list) { list_ = list; }

  // A cached copy that no longer matches the file (its read failed, the page
  // was freed, or a newer copy was committed while this one was in use):
  // dropped from the cache as soon as nobody uses it.
  bool Stale() const { return stale_; }
  void SetStale(bool stale) { stale_ = stale; }

 private:
  void FreeBuffer() noexcept;

  TVRXPageManager* manager_;
  int32_t pageNo_ = -1;
  int32_t pageSize_;
  int32_t headerSize_;
  uint8_t* buffer_ = nullptr;
  bool ownsBuffer_ = true;
  bool dirty_ = false;
  int32_t useCount_ = 0;
  TVRXSortedPageList* list_ = nullptr;
  // Neighbours in the holding list's order of use, least recent first;
  // maintained by that list alone.
  TVRXPage* usedBefore_ = nullptr;
  TVRXPage* usedAfter_ = nullptr;
  friend class TVRXSortedPageList;
  int32_t sessionID_ = -1;
  bool encryptOnWrite_ = true;
  bool stale_ = false;
};

}  // namespace vrx
