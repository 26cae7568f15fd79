// The table part of vrxcheck: the records of each table against its record
// page index, its stored record count and its indexes, and the owner of
// every page of the file. Used by the catalog checks (VRXCheckCatalog.h),
// which hand over each table whose metadata loads and, at the end, the
// pages their file chains hold.
//
// Checks, one line per problem:
//  - every page the record page index lists is a record page (type 10)
//    carrying the table's ID, listed once, with its count of used slots;
//  - the record count of the most-updated file equals the sum of the counts;
//  - every index holds exactly one entry per record, whose key is the key
//    built from that record;
//  - every page in use in the free-space map has exactly one owner: the
//    chain of a system or table file, a table's record page, or a page of
//    one of its trees (indexes, record and BLOB page directories).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace vrx {
class TVRXDiskPageManager;
class TVRXTableMetadata;
}  // namespace vrx

namespace vrx::check {

// Page number -> what holds it, as a problem line names it.
using TPageOwners = std::map<int32_t, std::string>;

// Checks the records and indexes of the table `table` (its name as the
// lines name it) and claims its record pages and tree pages in `owners`.
// A page claimed twice is a problem naming both owners. `mostUpdatedPage`
// -1 skips the record count (the file's chain is broken).
void CheckTableRecords(TVRXDiskPageManager& pageManager, const std::string& table, int32_t tableID,
                       int32_t mostUpdatedPage, const TVRXTableMetadata& metadata,
                       TPageOwners& owners, const std::function<void(const std::string&)>& problem);

// Every page in use that no owner claimed is a problem, except pages of
// the catalog's types (system and table files), which the catalog's own
// stray page check reports.
void CheckPageOwners(TVRXDiskPageManager& pageManager, const TPageOwners& owners,
                     const std::function<void(const std::string&)>& problem);

}  // namespace vrx::check
