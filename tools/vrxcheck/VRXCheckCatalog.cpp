#include "tools/vrxcheck/VRXCheckCatalog.h"

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/storage/btree/VRXBTreeChecker.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/btree/VRXBTreePageIndex.h"
#include "engine/storage/catalog/VRXActiveSessions.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/catalog/VRXSystemDirectory.h"
#include "engine/storage/catalog/VRXTableFiles.h"
#include "engine/storage/catalog/VRXTableList.h"
#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "tools/vrxcheck/VRXCheckTables.h"

namespace vrx::check {

namespace {

class CatalogChecker {
 public:
  CatalogChecker(TVRXDiskPageManager& pm, std::ostream& out,
                 const std::function<void(const std::string&)>& problem)
      : pm_(pm), out_(out), problem_(problem) {}

  void Run() {
    const TVRXMainHeader& h = pm_.MainHeader();
    if (h.lastUsedPage < kSystemDirectoryPageNo || !HasCatalogPages()) {
      out_ << "catalog: none\n";
      return;
    }
    // Chains first: a file whose chain is broken is not read any further.
    const bool directoryChain =
        WalkChain("system directory", kSystemDirectoryPageNo, ptFileSystemDirectory);
    TVRXSystemDirectory directory(pm_);
    if (!directoryChain || !Guarded("system directory", kSystemDirectoryPageNo,
                                    [&] { directory.Load(kSystemSessionID); }))
      return;
    out_ << "system directory: " << directory.Entries().size() << " entries\n";
    std::map<int, int> ids;
    for (const TVRXSystemFileEntry& entry : directory.Entries()) {
      if (++ids[entry.id] == 2 ||
          (entry.id != kTableListFileId && entry.id != kActiveSessionsFileId))
        problem_("system directory: page " + std::to_string(kSystemDirectoryPageNo) + ": entry " +
                 std::to_string(entry.id) +
                 (ids[entry.id] == 2 ? " appears twice" : " is unknown"));
    }
    const int32_t slotsPage = directory.FindEntry(kActiveSessionsFileId);
    const int32_t listPage = directory.FindEntry(kTableListFileId);
    const int32_t maxConnections = CheckSessionSlots(slotsPage);
    CheckTables(listPage, maxConnections);
    CheckStrayPages();
    if (tablesWalked_) CheckPageOwners(pm_, owners_, problem_);
  }

 private:
  static std::string At(const std::string& file, int32_t page) {
    return file + ": page " + std::to_string(page) + ": ";
  }

  bool HasCatalogPages() {
    const TVRXMainHeader& h = pm_.MainHeader();
    for (int32_t p = kSystemDirectoryPageNo; p <= h.lastUsedPage && p < h.totalPageCount; ++p) {
      if (pm_.FreeSpace().IsServicePage(p)) continue;
      const uint16_t type = TypeOf(p);
      if (type >= ptFileSystemDirectory && type <= ptTableMostUpdated) return true;
    }
    return false;
  }

  uint16_t TypeOf(int32_t pageNo) {
    uint8_t header[kPageHeaderSize] = {};
    pm_.ReadPageBytes(header + 1, pageNo, kPageHeaderSize - 1, 1);
    return bytes::LoadU16(header + page_header::kPageType);
  }

  // Follows a chain from `first`: every page must be a page of the file,
  // of `type`, met once, and in no other file's chain.
  bool WalkChain(const std::string& file, int32_t first, uint16_t type) {
    const TVRXMainHeader& h = pm_.MainHeader();
    std::set<int32_t> seen;
    int32_t page = first;
    int32_t from = -1;
    while (page != -1) {
      const std::string at = from == -1 ? file + ": first page " + std::to_string(page)
                                        : At(file, from) + "next page " + std::to_string(page);
      if (page < 0 || page >= h.totalPageCount) {
        problem_(at + " is out of range");
        return false;
      }
      if (pm_.FreeSpace().IsServicePage(page)) {
        problem_(at + " is a service page");
        return false;
      }
      if (!seen.insert(page).second) {
        problem_(at + " loops back into the chain");
        return false;
      }
      const auto owner = owners_.find(page);
      if (owner != owners_.end()) {
        problem_(at + " also belongs to " + owner->second);
        return false;
      }
      owners_[page] = file;
      uint8_t header[kPageHeaderSize] = {};
      pm_.ReadPageBytes(header + 1, page, kPageHeaderSize - 1, 1);
      const uint16_t found = bytes::LoadU16(header + page_header::kPageType);
      if (found != type) {
        problem_(At(file, page) + "expected " + std::string(PageTypeName(type)) + ", found " +
                 (found <= kLastPageType ? std::string(PageTypeName(found))
                                         : "page type " + std::to_string(found)));
        return false;
      }
      from = page;
      page = bytes::LoadI32(header + page_header::kNextPage);
    }
    return true;
  }

  // Runs a read of the engine; its error becomes a problem line.
  template <typename Call>
  bool Guarded(const std::string& file, int32_t page, Call call) {
    try {
      call();
      return true;
    } catch (const EVRXException& e) {
      problem_(At(file, page) + e.Message());
      return false;
    }
  }

  int32_t CheckSessionSlots(int32_t first) {
    const std::string file = "session slot file";
    if (first == -1) {
      problem_("system directory: page 2: no entry for the session slot file");
      return 0;
    }
    if (!WalkChain(file, first, ptActiveSessionList)) return 0;
    TVRXActiveSessionsFile slots(pm_);
    if (!Guarded(file, first, [&] { slots.Open(first); })) return 0;
    const TVRXInternalDBDirectAccessFile& direct = slots.File();
    const auto needed = static_cast<size_t>(InternalFilePagesFor(direct.Size(), pm_.DataSize()));
    if (direct.Pages().size() < needed)
      problem_(At(file, first) + "size " + std::to_string(direct.Size()) + " needs " +
               std::to_string(needed) + " pages, the chain has " +
               std::to_string(direct.Pages().size()));
    if (direct.Size() < 1) problem_(At(file, first) + "size " + std::to_string(direct.Size()));
    out_ << "session slots: " << slots.MaxConnections() << "\n";
    return slots.MaxConnections();
  }

  void CheckTables(int32_t first, int32_t maxConnections) {
    const std::string file = "table list";
    if (first == -1) {
      problem_("system directory: page 2: no entry for the table list");
      return;
    }
    if (!WalkChain(file, first, ptTableList)) return;
    TVRXTableListFile list(pm_);
    if (!Guarded(file, first, [&] {
          list.Open(first);
          list.Load(kSystemSessionID);
        }))
      return;
    tablesWalked_ = true;
    out_ << "tables: " << list.Entries().size() << "\n";
    std::map<int32_t, std::string> ids;
    for (size_t i = 0; i < list.Entries().size(); ++i) {
      const TVRXTableEntry& entry = list.Entries()[i];
      const std::string table = "table '" + entry.name + "'";
      for (size_t j = 0; j < i; ++j)
        if (SameTableName(list.Entries()[j].name, entry.name))
          problem_(At(file, first) + table + " is listed twice");
      const auto [it, fresh] = ids.emplace(entry.tableID, entry.name);
      if (!fresh)
        problem_(At(file, first) + table + " has the ID " + std::to_string(entry.tableID) +
                 " of table '" + it->second + "'");
      CheckTable(table, entry, maxConnections);
    }
  }

  void CheckTable(const std::string& table, const TVRXTableEntry& entry, int32_t maxConnections) {
    const std::string metadataFile = table + " metadata file";
    TVRXTableMetadata metadata;
    bool metadataLoaded = false;
    if (WalkChain(metadataFile, entry.metadataPage, ptTableMetaData)) {
      TVRXInternalDBTransactedAccessFile file(pm_, ptTableMetaData, entry.metadataPage);
      if (Guarded(metadataFile, entry.metadataPage,
                  [&] { ReadTableMetadata(file, kSystemSessionID, metadata); })) {
        CheckTrees(table, metadata);
        metadataLoaded = true;
      } else {
        tablesWalked_ = false;
      }
    } else {
      tablesWalked_ = false;
    }
    const std::string mostUpdatedFile = table + " most-updated file";
    const bool mostUpdatedChain =
        WalkChain(mostUpdatedFile, entry.mostUpdatedPage, ptTableMostUpdated);
    if (mostUpdatedChain) {
      TVRXInternalDBTransactedAccessFile file(pm_, ptTableMostUpdated, entry.mostUpdatedPage);
      Guarded(mostUpdatedFile, entry.mostUpdatedPage, [&] { file.ReadAll(kSystemSessionID); });
    }
    const std::string lockFile = table + " lock file";
    if (WalkChain(lockFile, entry.lockFilePage, ptTableLocks)) {
      TVRXInternalDBDirectAccessFile file(pm_, ptTableLocks);
      if (Guarded(lockFile, entry.lockFilePage, [&] { file.Open(entry.lockFilePage); })) {
        const int64_t expected = int64_t{maxConnections} * kTableLockBytesPerSlot;
        if (file.Size() != expected)
          problem_(At(lockFile, entry.lockFilePage) + "size " + std::to_string(file.Size()) +
                   ", expected " + std::to_string(expected) + " (12 bytes per session slot)");
      }
    }
    if (metadataLoaded)
      CheckTableRecords(pm_, table, entry.tableID, mostUpdatedChain ? entry.mostUpdatedPage : -1,
                        metadata, owners_, problem_);
  }

  // Every index of the table and its record and BLOB page directories,
  // walked whole: one line per problem the tree checker finds.
  void CheckTrees(const std::string& table, const TVRXTableMetadata& metadata) {
    auto run = [&](const std::string& what, const std::function<void()>& check) {
      try {
        check();
      } catch (const EVRXException& error) {
        problem_(table + " " + what + ": " + error.what());
      }
    };
    auto report = [&](const std::string& what, TVRXBTree& tree) {
      for (const std::string& line : TVRXBTreeChecker::Check(tree, kSystemSessionID).Problems)
        problem_(table + " " + what + ": " + line);
    };
    for (int32_t i = 0; i < metadata.Indexes().Count(); ++i) {
      const TVRXIndexDef& definition = metadata.Indexes().Index(i);
      if (definition.RootPage() == -1) continue;
      const std::string what = "index '" + definition.Name() + "'";
      run(what, [&] {
        TVRXBTreeRecordIndex index(pm_, metadata.Fields(), nullptr);
        index.OpenIndex(definition);
        report(what, index.Tree());
      });
    }
    if (metadata.Roots().RecordIndexRoot != -1)
      run("record page index", [&] {
        TVRXBTreeRecordPageIndex pages(pm_, metadata.Roots().RecordIndexRoot);
        report("record page index", pages.Tree());
      });
    if (metadata.Roots().BlobIndexRoot != -1)
      run("BLOB page index", [&] {
        TVRXBTreeBlobPageIndex pages(pm_, metadata.Roots().BlobIndexRoot);
        report("BLOB page index", pages.Tree());
      });
  }

  // Catalog pages in use that no file of the catalog reaches.
  void CheckStrayPages() {
    const TVRXMainHeader& h = pm_.MainHeader();
    for (int32_t p = kSystemDirectoryPageNo; p <= h.lastUsedPage && p < h.totalPageCount; ++p) {
      if (pm_.FreeSpace().IsServicePage(p) || owners_.count(p) != 0) continue;
      const uint16_t type = TypeOf(p);
      if (type < ptFileSystemDirectory || type > ptTableMostUpdated) continue;
      bool used = false;
      try {
        used = pm_.FreeSpace().IsPageUsed(p);
      } catch (const EVRXException&) {
        continue;  // reported by the page-level check
      }
      if (used)
        problem_("page " + std::to_string(p) + ": " + std::string(PageTypeName(type)) +
                 " in use but in no file of the catalog");
    }
  }

  TVRXDiskPageManager& pm_;
  std::ostream& out_;
  const std::function<void(const std::string&)>& problem_;
  std::map<int32_t, std::string> owners_;  // page -> the file whose chain holds it
  // Every table's pages were claimed: only then is a page without owner
  // leaked rather than unread.
  bool tablesWalked_ = false;
};

}  // namespace

void CheckCatalog(TVRXDiskPageManager& pageManager, std::ostream& out,
                  const std::function<void(const std::string&)>& problem) {
  CatalogChecker(pageManager, out, problem).Run();
}

}  // namespace vrx::check
