// vrxcheck: the integrity check of a database file. It opens the file as
// the engine would, prints the header fields and the page count by page
// type, checks every page's signature and type and the free-space map
// against the pages, then the catalog (VRXCheckCatalog.h). Used by the
// vrxcheck program, the engine's shell (.check) and their tests.
#pragma once

#include <ostream>
#include <string>

namespace vrx::check {

// Exit codes of the program.
inline constexpr int kSound = 0;
inline constexpr int kProblems = 1;
inline constexpr int kCannotCheck = 2;

// Writes the report to `out`: header fields, page counts, one line per
// problem, then "ok" when sound. Returns kSound, kProblems or kCannotCheck
// (the file cannot be opened as a database).
int CheckDatabaseFile(const std::string& fileName, std::ostream& out);

}  // namespace vrx::check
