// TVRXFreeSpaceStore: what the free-space map needs of the file it maps, and
// nothing more: the page geometry, the header lock, the header's two page
// counts, the file's length in pages, and reading and writing whole service
// pages. The disk page manager implements it over its database file; a test
// can implement it over memory and fail any call, so that the map is tested
// on its own.
#pragma once

#include <cstdint>

namespace vrx {

class TVRXPage;

// The header fields the map keeps: the highest used page (-1 for none) and
// the number of pages the file holds.
struct TVRXMapCounts {
  int32_t lastUsedPage = -1;
  int32_t totalPageCount = 0;
};

class TVRXFreeSpaceStore {
 public:
  virtual ~TVRXFreeSpaceStore() = default;

  // Fixed while the file is open.
  virtual int32_t PageSize() const = 0;
  virtual int32_t PageHeaderSize() const = 0;
  virtual int32_t ExtentSize() const = 0;

  // Every operation of the map that reads the counts runs under this lock;
  // it is re-entrant. Raises "Database is locked" with `nativeError` when it
  // cannot be had.
  virtual void LockMap(int32_t nativeError) = 0;
  virtual void UnlockMap() = 0;

  // The counts as the file's header holds them now (read from the file).
  virtual TVRXMapCounts LoadCounts() = 0;
  // The counts of the header image in memory, without a read.
  virtual TVRXMapCounts CachedCounts() const = 0;
  // Makes the file hold exactly `totalPageCount` pages (new pages read back
  // as zero bytes). The header is not written.
  virtual void ResizeFile(int32_t totalPageCount) = 0;
  // Writes both counts to the header.
  virtual void StoreCounts(const TVRXMapCounts& counts) = 0;

  // Fills `page` (its number set, no buffer yet) from the file; bytes that
  // cannot be read stay zero, so that the page's type check fails.
  virtual void ReadPage(TVRXPage& page) = 0;
  virtual void WritePage(TVRXPage& page) = 0;
};

}  // namespace vrx
