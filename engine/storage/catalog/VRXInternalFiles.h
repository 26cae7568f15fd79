// Internal files: variable-length data inside a database file that is not a
// table record, kept in a chain of pages of one page type linked through the
// page header's next-page field (-1 ends the chain). The first page number
// identifies the file. The first 10 bytes of the first page's data area are
// the file header; the data follows and goes on at the start of the data
// area of every further page, so n bytes need ceil((n + 10) / D) pages (at
// least one), D being the page data size.
//
// Two kinds:
//  - TVRXInternalDBTransactedAccessFile reaches every page through a
//    session's GetPage/AddPage/PutPage, so its changes belong to that
//    session's change set and reach the file at the session's commit. Used
//    by the system directory, the table list and a table's metadata and
//    most-updated files.
//  - TVRXInternalDBDirectAccessFile is created through the system session and
//    afterwards read and written straight in the file, never through the
//    cache; its bytes serve as lock bytes between processes (session slots,
//    table locks). Byte 0 of its first page is the file's own lock byte, so
//    its page headers are read from byte 1 on.
//
// Both refuse to walk a damaged chain (a cycle, or a chain shorter than its
// header promises) with an engine error instead of reading past it.
//
// Not thread-safe: the open database's lock serialises calls.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {

inline constexpr int32_t kInternalFileHeaderSize = 10;

// Pages a file of `size` bytes needs with data size `dataSize`: at least one.
int32_t InternalFilePagesFor(int64_t size, int32_t dataSize);

// The three fields of a transacted file's header.
struct TVRXInternalFileSize {
  int32_t storedSize = 0;        // bytes in the chain, possibly compressed
  uint8_t algorithm = 0;         // compression algorithm code
  int32_t uncompressedSize = 0;  // bytes before compression
};

class TVRXInternalDBTransactedAccessFile {
 public:
  // `pageManager` must outlive the object. firstPage -1 = no file yet.
  TVRXInternalDBTransactedAccessFile(TVRXPageManager& pageManager, uint16_t pageType,
                                     int32_t firstPage = -1);

  int32_t FirstPage() const { return firstPage_; }
  uint16_t PageType() const { return pageType_; }

  // Adds the first page in the session: header size byte 10, stored size 0,
  // algorithm 0. "Cannot create Internal file. File already exists.
  // StartPageNo=%d" (30383) when the object already has a first page.
  void Create(int32_t sessionID);
  // Takes the first page number; -1 leaves it unchanged.
  void Open(int32_t firstPage);
  // Removes every page of the chain in the session (freed at its commit);
  // the object is closed afterwards. The second form deletes the file that
  // starts at `firstPage`.
  void Delete(int32_t sessionID);
  void Delete(int32_t sessionID, int32_t firstPage);

  TVRXInternalFileSize GetSize(int32_t sessionID);
  // Adds pages at the end when the stored size needs more than the chain
  // has; a chain longer than needed keeps its pages for later growth. Then
  // writes the three header fields.
  void SetSize(int32_t sessionID, int32_t storedSize, uint8_t algorithm, int32_t uncompressedSize);
  // Copies `count` bytes (at most the uncompressed size) of the file's
  // content into `buffer`, decompressing first when the file is compressed.
  void ReadFile(int32_t sessionID, void* buffer, int32_t count);
  // The whole uncompressed content.
  std::vector<uint8_t> ReadAll(int32_t sessionID);
  // Stores `count` bytes: as they are with algorithm 0, else compressed with
  // the algorithm at `level`. A compression failure leaves the change set
  // untouched.
  void WriteFile(int32_t sessionID, const void* data, uint8_t level, uint8_t algorithm,
                 int32_t count);

 private:
  void RequireOpen(const char* operation) const;
  // The chain's page numbers, at most `limit` of them (-1 = all), walked in
  // the session; a cycle raises an engine error.
  std::vector<int32_t> ChainPages(int32_t sessionID, int32_t limit);
  // The stored bytes of the chain, checked against the pages that hold them.
  std::vector<uint8_t> ReadStored(int32_t sessionID, const TVRXInternalFileSize& size,
                                  int32_t count);
  // The decompressed content of a compressed file; "Table file decompression
  // error. Probably table is corrupted" (20189) on any failure.
  std::vector<uint8_t> Decompressed(int32_t sessionID, const TVRXInternalFileSize& size);

  TVRXPageManager& pageManager_;
  uint16_t pageType_;
  int32_t firstPage_;
};

class TVRXInternalDBDirectAccessFile {
 public:
  // `pageManager` must outlive the object.
  TVRXInternalDBDirectAccessFile(TVRXDiskPageManager& pageManager, uint16_t pageType);

  int32_t FirstPage() const { return firstPage_; }
  int32_t Size() const { return size_; }
  // The positions that can be read: the size, but the whole first page when
  // the chain has no second page, and never more than the chain's pages.
  int32_t AddressableSize() const { return addressable_; }
  const std::vector<int32_t>& Pages() const { return pages_; }

  // Creates the chain in the system session -2 with encrypt-on-write off and
  // returns its first page. "Cannot create Internal file. File already
  // exists. StartPageNo=%d" (20157) when the object has a first page. The
  // caller commits session -2 before using the file's bytes.
  int32_t Create(int32_t size);
  // Reads the size from the first page and walks the chain straight in the
  // file, verifying each page's type ("Invalid PageType found: %d but
  // wanted: %d", 20155).
  void Open(int32_t firstPage);
  // Removes every page of the chain in session -2 (the caller commits it).
  void Delete();
  void Delete(int32_t firstPage);
  // The size stored in the file header, read straight from the file.
  int32_t GetSize();

  // Copy bytes between `buffer` and positions position .. position+count-1.
  // "Seek position bigger then file size. FileSize=%d. Position=%d" (20159)
  // beyond the addressable size; "Cannot write after end of file.
  // FileSize=%d. Position=%d, Count=%d" (20158) for a write past the size.
  void DirectReadBuffer(void* buffer, int32_t count, int32_t position);
  void DirectWriteBuffer(const void* buffer, int32_t count, int32_t position);

  // Byte 0 of the first page: the guard of the whole file.
  bool LockFile();
  bool UnlockFile();
  // The lock byte of one position.
  bool LockByte(int32_t position);
  bool UnlockByte(int32_t position);
  // True when another holder has locked the position's byte.
  bool IsByteLocked(int32_t position);
  // False for count <= 0; else true when another holder has locked any byte
  // of the region.
  bool IsRegionLocked(int32_t position, int32_t count);
  // Lock or unlock every byte of a region, page by page; false when any page's
  // part could not be locked (parts already locked stay locked).
  bool LockRegion(int32_t position, int32_t count);
  bool UnlockRegion(int32_t position, int32_t count);

 private:
  void RequireOpen(const char* operation) const;
  void CheckPosition(int32_t position) const;
  // Page index and offset in that page of a position.
  int32_t PageOf(int32_t position) const;
  int32_t OffsetOf(int32_t position) const;
  // Page type and next page of `pageNo`, read from header byte 1 on.
  void ReadHeaderFromByte1(int32_t pageNo, uint16_t& type, int32_t& next);
  // Walks a chain from `firstPage` straight in the file, at most `limit`
  // pages (-1 = all).
  std::vector<int32_t> WalkChain(int32_t firstPage, int32_t limit);
  // Calls `part` for each page's share of [position, position + count).
  template <typename Part>
  bool ForEachPart(int32_t position, int32_t count, Part part);

  TVRXDiskPageManager& pageManager_;
  uint16_t pageType_;
  int32_t firstPage_ = -1;
  int32_t size_ = 0;
  int32_t addressable_ = 0;
  std::vector<int32_t> pages_;
};

}  // namespace vrx
