// The record manager of one table: where its records live and how they are
// reached. TVRXBaseRecordManager names the operations every engine's record
// storage offers (database files here; the in-memory and temporary engines
// implement the same); TVRXDiskRecordManager keeps the records of a table
// in a database file, in record pages (VRXRecordPage.h) listed by the
// table's record page index.
//
// The record page index (TVRXBTreeRecordPageIndex) lists the table's
// record pages in page-number order, each with its count of used slots; a
// page has room while its count is below the records per page N. The table
// data object owns it (its root lives in the table's metadata file).
//
// Invariants of TVRXDiskRecordManager (checked in debug builds at the end
// of inserts, updates, deletes and emptying, as far as they are cheap):
//  1. record count >= 0, and equals the sum of the index's counts (checked
//     after emptying, where both are 0; vrxcheck checks it on files);
//  2. every page the index lists has a count between 1 and N, and a record
//     page is listed exactly while it holds a record.
//
// Ownership: the manager uses the page manager, the field definitions and
// the record page index; it owns none of them. Not thread-safe: every call is made under
// the table's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/btree/VRXBTreePageIndex.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXFieldManager.h"
#include "engine/storage/pages/VRXPageManager.h"
#include "engine/storage/records/VRXRecordID.h"

namespace vrx {

class TVRXInternalDBTransactedAccessFile;

// A navigation request of ReadRecord.
struct TVRXReadRequest {
  enum Mode : int32_t { kCurrent = 0, kNext = 1, kPrior = 2 };
  enum Result : int32_t { kFound = 0, kNoneBefore = 1, kNoneAfter = 2, kNotFound = 3 };

  int32_t mode = kCurrent;
  // In: where the cursor stands; out: the record found.
  TVRXRecordID recordID;
  // The memory record to fill; empty = position only.
  std::span<uint8_t> record;
  bool beforeFirst = false;
  bool afterLast = false;
  int32_t result = kNotFound;
};

class TVRXBaseRecordManager {
 public:
  virtual ~TVRXBaseRecordManager() = default;

  virtual void EmptyRecords(int32_t sessionID) = 0;
  // False when the record could not be stored; the error is not raised.
  virtual bool InsertRecord(int32_t sessionID, std::span<const uint8_t> memoryRecord,
                            TVRXRecordID& recordID) = 0;
  // False when the record's slot holds no record.
  virtual bool UpdateRecord(int32_t sessionID, std::span<const uint8_t> memoryRecord,
                            const TVRXRecordID& recordID) = 0;
  virtual bool DeleteRecord(int32_t sessionID, const TVRXRecordID& recordID) = 0;
  virtual void ReadRecord(int32_t sessionID, TVRXReadRequest& request) = 0;
  virtual int CompareRecordIDs(const TVRXRecordID& a, const TVRXRecordID& b) = 0;
  virtual int64_t GetApproximateRecordNo(int32_t sessionID, const TVRXRecordID& recordID) = 0;

  int64_t RecordCount() const { return recordCount_; }
  int32_t ChangeCounter() const { return changeCounter_; }
  int32_t MemoryRecordSize() const { return memoryRecordSize_; }

 protected:
  int64_t recordCount_ = 0;
  int32_t changeCounter_ = 0;
  int32_t memoryRecordSize_ = 0;
};

class TVRXDiskRecordManager : public TVRXBaseRecordManager {
 public:
  // `pageManager`, `fields` and `pageIndex` outlive the manager. Pages read
  // while navigating are tested for validity (modification counter, type,
  // table ID) unless `checkPageValidity` is false (files older than 2.99).
  TVRXDiskRecordManager(TVRXPageManager& pageManager, const TVRXFieldDefs& fields,
                        TVRXBTreeRecordPageIndex& pageIndex, int32_t tableID,
                        bool checkPageValidity = true);

  // Remembers the sizes, computes the records per page and hands it to the
  // record page index; counters := 0. "Cannot create table. Record is too large to
  // fit in current database page. Please increase page size of database
  // file or decrease record size" (20174) when no record fits a page.
  void SetRecordLayout(int32_t memoryRecordSize, int32_t diskRecordSize, int32_t fieldCount);

  void EmptyRecords(int32_t sessionID) override;
  bool InsertRecord(int32_t sessionID, std::span<const uint8_t> memoryRecord,
                    TVRXRecordID& recordID) override;
  // Insert, update and delete answer false (insert swallowing the error)
  // for a page that fails the validity test: a damaged record page index
  // or record ID never leads a change into another table's page. A delete
  // that would take the record count below 0 (damaged counters) raises
  // "Invalid table header data" (30555).
  bool UpdateRecord(int32_t sessionID, std::span<const uint8_t> memoryRecord,
                    const TVRXRecordID& recordID) override;
  bool DeleteRecord(int32_t sessionID, const TVRXRecordID& recordID) override;
  void ReadRecord(int32_t sessionID, TVRXReadRequest& request) override;
  int CompareRecordIDs(const TVRXRecordID& a, const TVRXRecordID& b) override;
  int64_t GetApproximateRecordNo(int32_t sessionID, const TVRXRecordID& recordID) override;

  // 1-based record numbers in storage order. "Cannot set RecNo greater than
  // RecordCount" (20113); "Invalid page number" (20114) for a record whose
  // page the index does not list.
  TVRXRecordID GetRecordIDByNumber(int32_t sessionID, int64_t recNo);
  int64_t GetRecordNumber(int32_t sessionID, const TVRXRecordID& recordID);

  // The most-updated file: int32 n, n int64 autoincrement counters, int32
  // change counter, int32 record count, uncompressed. Writing refuses a
  // content past (n x 8 + 8) x 4 bytes with "Invalid table header data"
  // (20164); reading a content that is short or whose n is not the
  // table's field count raises "Invalid table header data" (30524) and
  // changes nothing.
  void WriteCounters(int32_t sessionID, const TVRXBaseFieldManager& fields,
                     TVRXInternalDBTransactedAccessFile& file);
  void ReadCounters(int32_t sessionID, TVRXBaseFieldManager& fields,
                    TVRXInternalDBTransactedAccessFile& file);

  // The counters as loaded from elsewhere (rollback of a session).
  void SetCounters(int64_t recordCount, int32_t changeCounter);

  int32_t RecordsPerPage() const { return recordsPerPage_; }
  int32_t DiskRecordSize() const { return diskRecordSize_; }
  int32_t TableID() const { return tableID_; }
  TVRXBTreeRecordPageIndex& PageIndex() const { return pageIndex_; }

  // The pages the record page index lists, in its order. A listing that
  // does not ascend (a damaged index whose pages lead back) raises
  // "Invalid page number" (30553) instead of going round for ever.
  std::vector<int32_t> ListedPages(int32_t sessionID);

  // (last record page number + 1) x records per page.
  int64_t GetPositionLimit(int32_t sessionID);

  // Reads the disk record at `recordID` into `memoryRecord`; false when the
  // page is not a valid page of this table or the slot is empty.
  bool FetchRecord(int32_t sessionID, const TVRXRecordID& recordID,
                   std::span<uint8_t> memoryRecord);

 private:
  // The validity test: a record page of this table whose modification
  // counter marks no failed read or freed page (only the type for files
  // older than 2.99).
  bool OwnPage(const TVRXPage& page) const;
  // A record page of the table for navigation: null when the page fails the
  // validity test.
  TVRXPage* GetValidPage(int32_t sessionID, int32_t pageNo);
  // Fills the request's record from the slot; "Record not found" with
  // `nativeError` when the slot cannot be read.
  void Deliver(TVRXPage& page, int32_t slot, TVRXReadRequest& request, int32_t nativeError);
  void CheckInvariants() const;

  TVRXPageManager& pageManager_;
  const TVRXFieldDefs& fields_;
  TVRXBTreeRecordPageIndex& pageIndex_;
  int32_t tableID_;
  bool checkPageValidity_;
  int32_t recordsPerPage_ = 0;
  int32_t diskRecordSize_ = 0;
  int32_t fieldCount_ = 0;
  std::vector<uint8_t> scratch_;
};

}  // namespace vrx
