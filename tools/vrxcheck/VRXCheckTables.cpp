#include "tools/vrxcheck/VRXCheckTables.h"

#include <bit>
#include <set>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/btree/VRXBTree.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/btree/VRXBTreePageIndex.h"
#include "engine/storage/catalog/VRXInternalFiles.h"
#include "engine/storage/metadata/VRXTableMetadata.h"
#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "engine/storage/records/VRXRecord.h"
#include "engine/storage/records/VRXRecordPage.h"

namespace vrx::check {

namespace {

std::string IDText(const TVRXRecordID& id) {
  return "(" + std::to_string(id.PageNo) + ", " + std::to_string(id.Slot) + ")";
}

struct RecordIDLess {
  bool operator()(const TVRXRecordID& a, const TVRXRecordID& b) const {
    return CompareRecordIDs(a, b) < 0;
  }
};

class TableChecker {
 public:
  TableChecker(TVRXDiskPageManager& pm, const std::string& table, int32_t tableID,
               const TVRXTableMetadata& metadata, TPageOwners& owners,
               const std::function<void(const std::string&)>& problem)
      : pm_(pm),
        table_(table),
        tableID_(tableID),
        metadata_(metadata),
        owners_(owners),
        problem_(problem),
        pageSize_(pm.PageSize()) {}

  void Run(int32_t mostUpdatedPage) {
    const TVRXTableRoots& roots = metadata_.Roots();
    if (roots.RecordIndexRoot != -1) ClaimTree(roots.RecordIndexRoot, "record page index");
    if (roots.BlobIndexRoot != -1) {
      ClaimTree(roots.BlobIndexRoot, "BLOB page index");
      Guarded("BLOB page index", [&] {
        TVRXBTreeBlobPageIndex blobs(pm_, roots.BlobIndexRoot);
        blobs.ForEachPage(kSystemSessionID, [&](int32_t pageNo, int32_t) {
          Claim(pageNo, table_ + " BLOB page");
          return true;
        });
      });
    }
    const bool recordsRead = roots.RecordIndexRoot != -1 && ReadRecords(roots.RecordIndexRoot);
    if (recordsRead && mostUpdatedPage != -1) CheckRecordCount(mostUpdatedPage);
    for (int32_t i = 0; i < metadata_.Indexes().Count(); ++i) {
      const TVRXIndexDef& definition = metadata_.Indexes().Index(i);
      if (definition.RootPage() == -1 || definition.Temporary()) continue;
      const std::string what = "index '" + definition.Name() + "'";
      ClaimTree(definition.RootPage(), what);
      if (recordsRead) Guarded(what, [&] { CheckIndex(definition, what); });
    }
  }

 private:
  template <typename Call>
  bool Guarded(const std::string& what, Call call) {
    try {
      call();
      return true;
    } catch (const EVRXException& e) {
      problem_(table_ + " " + what + ": " + e.Message());
      return false;
    }
  }

  std::vector<uint8_t> ReadPage(int32_t pageNo) {
    std::vector<uint8_t> page(static_cast<size_t>(pageSize_), 0);
    pm_.ReadPageBytes(page.data(), pageNo, pageSize_, 0);
    return page;
  }

  bool InRange(int32_t pageNo) const {
    return pageNo >= 0 && pageNo < pm_.MainHeader().totalPageCount &&
           !pm_.FreeSpace().IsServicePage(pageNo);
  }

  // False when the page is out of range or already has an owner (a
  // problem either way).
  bool Claim(int32_t pageNo, const std::string& owner) {
    if (!InRange(pageNo)) {
      problem_(owner + ": page " + std::to_string(pageNo) + " is not a page of the file");
      return false;
    }
    const auto [it, fresh] = owners_.emplace(pageNo, owner);
    if (!fresh) {
      problem_("page " + std::to_string(pageNo) + ": held by " + owner + " and by " + it->second);
      return false;
    }
    return true;
  }

  // Claims every page reachable from the root of a tree. The tree checker
  // judges the structure; here only what the pages point at is followed.
  void ClaimTree(int32_t root, const std::string& what) {
    const std::string owner = table_ + " " + what;
    std::vector<int32_t> pending{root};
    while (!pending.empty()) {
      const int32_t pageNo = pending.back();
      pending.pop_back();
      if (!Claim(pageNo, owner)) continue;
      const std::vector<uint8_t> page = ReadPage(pageNo);
      if (bytes::LoadU16(page.data() + page_header::kPageType) != ptTableIndex) continue;
      const uint8_t* data = page.data() + kPageHeaderSize;
      if (data[btree_page::kLeafFlag] != 0) continue;
      const int32_t keySize = bytes::LoadU16(data + btree_page::kKeySize);
      const int32_t count = bytes::LoadU16(data + btree_page::kEntryCount);
      const int32_t entry = keySize + 4;
      const int32_t dataSize = pageSize_ - kPageHeaderSize;
      for (int32_t i = 0; i < count && btree_page::kHeaderSize + (i + 1) * entry <= dataSize; ++i)
        pending.push_back(bytes::LoadI32(data + btree_page::kHeaderSize + i * entry + keySize));
    }
  }

  // Reads every record of the pages the record page index lists; false
  // when the index cannot be walked.
  bool ReadRecords(int32_t root) {
    const TVRXFieldDefs& fields = metadata_.Fields();
    const int32_t diskSize = fields.DiskRecordSize();
    const int32_t perPage = RecordsPerPage(pageSize_ - kPageHeaderSize, diskSize);
    if (perPage == 0) {
      problem_(table_ + ": a record of " + std::to_string(diskSize) + " bytes does not fit a page");
      return false;
    }
    const int32_t bitmapSize = (perPage + 7) / 8;
    std::vector<std::pair<int32_t, int32_t>> listed;
    bool ascending = true;
    if (!Guarded("record page index", [&] {
          TVRXBTreeRecordPageIndex index(pm_, root, perPage);
          index.ForEachPage(kSystemSessionID, [&](int32_t pageNo, int32_t amount) {
            // Pages listed out of order may lead round in a circle: the
            // walk ends at the first of them.
            ascending = listed.empty() || pageNo > listed.back().first;
            if (ascending) listed.emplace_back(pageNo, amount);
            return ascending;
          });
        }))
      return false;
    if (!ascending) {
      problem_(table_ + " record page index: page " +
               std::to_string(listed.empty() ? -1 : listed.back().first) +
               " is followed by a page not above it");
      return false;
    }
    std::set<int32_t> seen;
    std::vector<uint8_t> memory(static_cast<size_t>(fields.MemoryRecordSize()));
    for (const auto& [pageNo, amount] : listed) {
      const std::string at = table_ + " record page " + std::to_string(pageNo) + ": ";
      if (!seen.insert(pageNo).second) {
        problem_(at + "listed twice in the record page index");
        continue;
      }
      listedTotal_ += amount;
      if (!Claim(pageNo, table_ + " record page")) continue;
      const std::vector<uint8_t> page = ReadPage(pageNo);
      const uint16_t type = bytes::LoadU16(page.data() + page_header::kPageType);
      if (!PageSignatureValid(page.data()) || type != ptTableRecord) {
        problem_(at + "expected " + std::string(PageTypeName(ptTableRecord)) + ", found " +
                 (PageSignatureValid(page.data()) && type <= kLastPageType
                      ? std::string(PageTypeName(type))
                      : "no record page"));
        continue;
      }
      const int32_t owner = bytes::LoadI32(page.data() + kRecordPageTableIDOffset);
      if (owner != tableID_) {
        problem_(at + "carries table ID " + std::to_string(owner) + ", the table's is " +
                 std::to_string(tableID_));
        continue;
      }
      const uint8_t* data = page.data() + kPageHeaderSize;
      int32_t used = 0;
      for (int32_t slot = 0; slot < perPage; ++slot) {
        if ((data[slot / 8] & (1u << (slot % 8))) == 0) continue;
        ++used;
        const uint8_t* disk = data + bitmapSize + int64_t{slot} * diskSize;
        DiskToMemory(fields, {disk, static_cast<size_t>(diskSize)}, memory);
        records_.emplace(TVRXRecordID{pageNo, static_cast<uint16_t>(slot)}, memory);
      }
      if (used != amount)
        problem_(at + "the record page index counts " + std::to_string(amount) +
                 " records, the page holds " + std::to_string(used));
    }
    return true;
  }

  void CheckRecordCount(int32_t mostUpdatedPage) {
    std::vector<uint8_t> content;
    if (!Guarded("most-updated file", [&] {
          TVRXInternalDBTransactedAccessFile file(pm_, ptTableMostUpdated, mostUpdatedPage);
          content = file.ReadAll(kSystemSessionID);
        }))
      return;
    const std::string at = table_ + " most-updated file: ";
    if (content.size() < 4) {
      problem_(at + "holds " + std::to_string(content.size()) + " bytes");
      return;
    }
    const int32_t n = bytes::LoadI32(content.data());
    if (n != metadata_.Fields().Count() || content.size() != 4 + size_t(n) * 8 + 8) {
      problem_(at + "holds " + std::to_string(content.size()) + " bytes for " + std::to_string(n) +
               " counters, the table has " + std::to_string(metadata_.Fields().Count()) +
               " fields");
      return;
    }
    const uint32_t stored = bytes::LoadU32(content.data() + 8 + size_t(n) * 8);
    if (stored != static_cast<uint32_t>(listedTotal_))
      problem_(at + "record count " + std::to_string(stored) + ", the record page index counts " +
               std::to_string(listedTotal_));
  }

  void CheckIndex(const TVRXIndexDef& definition, const std::string& what) {
    TVRXBTreeRecordIndex index(pm_, metadata_.Fields(), nullptr);
    index.OpenIndex(definition);
    const auto keySize = static_cast<size_t>(index.KeyLayout().KeySize());
    const std::string at = table_ + " " + what + ": ";
    std::set<TVRXRecordID, RecordIDLess> entered;
    std::set<TVRXRecordID, RecordIDLess> strays;
    index.Tree().ForEach(kSystemSessionID, [&](const uint8_t* key, const uint8_t* value) {
      const TVRXRecordID id = LoadRecordID(value);
      const auto record = records_.find(id);
      // A record ID seen before ends the walk: the leaves may lead round
      // in a circle.
      if (record == records_.end()) {
        if (!strays.insert(id).second) return false;
        problem_(at + "entry for record " + IDText(id) + ", which does not exist");
      } else if (!entered.insert(id).second) {
        problem_(at + "record " + IDText(id) + " has more than one entry");
        return false;
      } else {
        const std::vector<uint8_t> built = index.BuildKey(record->second);
        if (built.size() != keySize || !std::equal(built.begin(), built.end(), key))
          problem_(at + "the key of record " + IDText(id) + " is not the record's");
      }
      return true;
    });
    for (const auto& [id, record] : records_)
      if (entered.count(id) == 0) problem_(at + "record " + IDText(id) + " has no entry");
  }

  TVRXDiskPageManager& pm_;
  const std::string& table_;
  int32_t tableID_;
  const TVRXTableMetadata& metadata_;
  TPageOwners& owners_;
  const std::function<void(const std::string&)>& problem_;
  int32_t pageSize_;
  int64_t listedTotal_ = 0;
  std::map<TVRXRecordID, std::vector<uint8_t>, RecordIDLess> records_;
};

}  // namespace

void CheckTableRecords(TVRXDiskPageManager& pageManager, const std::string& table, int32_t tableID,
                       int32_t mostUpdatedPage, const TVRXTableMetadata& metadata,
                       TPageOwners& owners,
                       const std::function<void(const std::string&)>& problem) {
  TableChecker(pageManager, table, tableID, metadata, owners, problem).Run(mostUpdatedPage);
}

void CheckPageOwners(TVRXDiskPageManager& pageManager, const TPageOwners& owners,
                     const std::function<void(const std::string&)>& problem) {
  const TVRXMainHeader& h = pageManager.MainHeader();
  TVRXDatabaseFreeSpaceManager& map = pageManager.FreeSpace();
  for (int32_t p = 0; p < h.totalPageCount; ++p) {
    if (map.IsServicePage(p) || owners.count(p) != 0) continue;
    bool used = false;
    try {
      used = map.IsPageUsed(p);
    } catch (const EVRXException&) {
      continue;  // reported by the page-level check
    }
    if (!used) continue;
    uint8_t header[kPageHeaderSize] = {};
    pageManager.ReadPageBytes(header, p, kPageHeaderSize, 0);
    const uint16_t type = bytes::LoadU16(header + page_header::kPageType);
    if (type >= ptFileSystemDirectory && type <= ptTableMostUpdated) continue;
    problem("page " + std::to_string(p) + ": " +
            (PageSignatureValid(header) && type <= kLastPageType ? std::string(PageTypeName(type))
                                                                 : "page") +
            " in use but held by no table or file");
  }
}

}  // namespace vrx::check
