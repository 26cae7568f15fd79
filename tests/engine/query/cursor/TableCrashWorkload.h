// A workload of table commits for the crash tests: table T (K INTEGER with a
// unique index, G INTEGER with a plain index, V STRING(30)) takes inserts,
// updates and deletes, and table Stan holds the number of the last commit,
// both changed in the same transaction. Commit k is a function of the
// records after commit k - 1, so the records after any commit are replayed
// without the file.
//
// Used by the crash loop program (--loop DIR N, --verify DIR) and by the
// fault-injecting crash test.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "engine/query/cursor/VRXSession.h"

namespace vrx::test {

// K -> (G, V).
using TTableState = std::map<int32_t, std::pair<int32_t, std::string>>;

// The records after commit `k` of the workload.
TTableState ReplayTableWorkload(int32_t k);

// Creates T and Stan (Stan with its one record, commit 0) in the session's
// database when missing.
void PrepareTableWorkload(TVRXLocalSession& session);
// Runs commits from the last one stored + 1 to `last`.
void RunTableWorkload(TVRXLocalSession& session, int32_t last);
// The stored commit number and T's records, read through cursors.
int32_t ReadTableWorkload(TVRXLocalSession& session, TTableState& records);

}  // namespace vrx::test
