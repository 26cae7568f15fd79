// vrxcheck: the integrity check of a database file at the page level. It
// opens the file as the engine would, prints the header fields and the page
// count by page type, and checks every page's signature and type and the
// free-space map against the pages. Used by the vrxcheck program and its
// tests; later checks (tables, indexes) build on it.
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
