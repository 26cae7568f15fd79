// The catalog part of vrxcheck: the system directory at page 2 and its
// entries, the session slot file and its size, the table list, and for each
// table the chains of its metadata, most-updated and lock files (the right
// page type on every page, no cycle, no page in two chains) and whether its
// metadata loads, then every index tree and page directory of the table
// through the B-tree checker. Every problem is one line naming the file (or table) and
// the page. Used by CheckDatabaseFile after the page-level checks.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace vrx {
class TVRXDiskPageManager;
}

namespace vrx::check {

// Writes the catalog's summary lines to `out` and reports each problem
// through `problem`. A file without any catalog page (built from pages
// alone) gets the line "catalog: none" and no problem.
void CheckCatalog(TVRXDiskPageManager& pageManager, std::ostream& out,
                  const std::function<void(const std::string&)>& problem);

}  // namespace vrx::check
