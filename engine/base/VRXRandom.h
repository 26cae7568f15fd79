// The process's pseudo-random numbers and the temporary names built from
// them: random suffixes for temporary tables and indexes, and new empty
// files in the temporary directory for spill files and temporary tables.
//
// Thread-safety: the generator is process-wide and guarded by a mutex.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vrx {

// A pseudo-random number in 0 .. range-1 from the process's generator
// (0 when range is 0). The generator is seeded from the system's entropy at
// first use.
uint32_t VRXRandom(uint32_t range);
// Restarts the generator at a fixed seed (tests, reproducible runs).
void VRXRandomSeed(uint64_t seed);

// `name` followed by the decimal form of a pseudo-random number below
// 1,000,000 ("TEMPORARY_TABLE_" -> "TEMPORARY_TABLE_48213"). Uniqueness is
// the caller's business.
std::string RandomSuffixName(std::string_view name);

// A new, empty, uniquely named file in the temporary directory ($TMPDIR,
// else /tmp) whose name starts with "VRX"; returns its path. The caller
// deletes it. Raises EVRXException "Cannot create file. FileName = %s"
// (10104) when it cannot be created.
std::string TemporaryFileName();

}  // namespace vrx
