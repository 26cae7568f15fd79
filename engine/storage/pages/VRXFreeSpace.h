// TVRXDatabaseFreeSpaceManager: the free-space map inside a database file.
// PFS pages hold one bit per page (set = used); EAM pages hold two bits per
// extent (3 = every page of the extent used, 1 = at least one free). The
// disk page manager asks it for a page number on AddPage and hands numbers
// back when pages are freed; it grows the file when no page is free and cuts
// whole growth steps of free pages off the end. It reaches the file only
// through TVRXFreeSpaceStore (VRXFreeSpaceStore.h).
//
// With D = page size - 40 and E = pages per extent:
//   PFS page i sits at page i*8D and covers pages i*8D .. i*8D + 8D - 1;
//   EAM page j sits at page j*4DE (one page up when that is a PFS page) and
//   covers extents j*4D .. j*4D + 4D - 1.
// Service pages (PFS and EAM) are never handed out and never cached between
// operations.
//
// Every operation runs under the store's lock and reloads the last used page
// and the total page count from the file first. It works on copies of the
// service pages it needs and writes nothing until it has everything it
// needs: then the file's new length, the changed service pages and the
// header go out together. An operation that fails before (no memory, a
// damaged page) leaves the file as it was. Allocation and freeing belong to
// no session's transaction: the file is journaled (VRXJournal.h), so those
// writes are pending until the next commit of any session makes them part of
// the file together with its pages; a multi-user manager commits them before
// it lets the header lock go. A torn PFS or EAM page therefore never reaches
// the disk, and a page is never free in the map while a committed page still
// refers to it.
//
// Invariants between operations (CheckInvariants, run by debug builds at
// the end of every public operation):
//  1. no service page is held: the working copies live for one operation;
//  2. the counts the map works with are the ones it last loaded or stored.
//
// Not thread-safe (the database lock serialises).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>

#include "engine/storage/pages/VRXFreeSpaceStore.h"

namespace vrx {

class TVRXPage;

class TVRXDatabaseFreeSpaceManager {
 public:
  // Extent state values of an EAM entry.
  static constexpr int kExtentHasFree = 1;
  static constexpr int kExtentFull = 3;

  // `store` must outlive the map; its counts are taken as they are now.
  explicit TVRXDatabaseFreeSpaceManager(TVRXFreeSpaceStore& store);
  ~TVRXDatabaseFreeSpaceManager();

  // A free page number, marked used. Throws "Database is locked" (20231).
  int32_t AllocatePage();
  // Aborts with a message when an invariant above does not hold.
  void CheckInvariants() const;
  // Marks the page free and cuts the free tail. "Database is locked" (20232),
  // "Page: %d already free" (30427).
  void FreePage(int32_t pageNo);
  bool IsServicePage(int64_t pageNo) const;
  // "Cannot delete PFS or EAM page. PageNo=%d" (30434) for a service page.
  void CheckNotServicePage(int32_t pageNo) const;

  int32_t ExtentSize() const { return extentSize_; }
  int64_t PagesPerPfsPage() const { return pagesPerPfs_; }
  int64_t ExtentsPerEamPage() const { return extentsPerEam_; }
  int64_t PagesPerEamPage() const { return pagesPerEam_; }
  int64_t PfsPageNo(int64_t index) const { return index * pagesPerPfs_; }
  int64_t EamPageNo(int64_t index) const;
  // 6 for an empty file, else max(total div 10, E).
  int32_t GrowthStep(int32_t totalPageCount) const;

  // Read-only inspection of the map as the file holds it now (used by
  // integrity checks); no header lock is taken. Service pages past the last
  // used page do not exist yet: their pages count as free, extents as 0.
  bool IsPageUsed(int32_t pageNo);
  int ExtentState(int64_t extent);
  // The highest used page that is not a service page, -1 for none, by the
  // PFS pages up to the header's last used page.
  int32_t ComputeLastUsedPage();

 private:
  class Operation;

  // The working copy of a service page for the current operation: read on
  // first use (its type checked, else `nativeError`), or created by
  // NewServicePage. Changes to it are kept by SetChanged.
  TVRXPage& ServicePage(int64_t pageNo, uint16_t pageType, int32_t nativeError);
  TVRXPage& NewServicePage(int64_t pageNo, uint16_t pageType);
  void SetChanged(TVRXPage& page);
  // Writes the operation's outcome: the file's new length, the changed
  // service pages in ascending order, the header's counts.
  void WriteOperation();
  // Forgets the working copies and takes the counts back to the loaded
  // ones (an operation that did not get through).
  void DropOperation();
  void Reload();

  int32_t FindFreePage();
  int32_t SearchEamRange(int64_t eamIndex);
  int32_t ExtendAndAllocate();
  // Sets or clears the page's bit, then recomputes its extent's state.
  // `allowSame` accepts a bit that already has the wanted value.
  void MarkPage(int32_t pageNo, bool used, bool allowSame = false);
  void UpdateExtentState(int64_t extent);
  // Page bit by the PFS pages as they are; pages whose PFS page lies beyond
  // the last used page, or outside the file, count as free.
  bool BitOf(int64_t pageNo, int32_t nativeError);
  int32_t ScanLastUsedPage();
  // Takes the counts of the header image in memory (inspection).
  void TakeCachedCounts();

  TVRXFreeSpaceStore& store_;
  int32_t extentSize_;
  int32_t dataSize_;
  int64_t pagesPerPfs_;
  int64_t extentsPerEam_;
  int64_t pagesPerEam_;
  int32_t lastUsedPage_ = -1;
  int32_t totalPageCount_ = 0;
  int32_t loadedLastUsed_ = -1;
  int32_t loadedTotal_ = 0;
  std::map<int64_t, std::unique_ptr<TVRXPage>> pages_;  // working copies, by page number
  std::mt19937 random_;
};

}  // namespace vrx
