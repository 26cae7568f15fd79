// bench_commit: what a safe commit costs, and a crash check usable from
// outside.
//
//   bench_commit [DIR]         commits per second for small commits (one
//                              page) and large ones (1,000 pages), with and
//                              without the journal's syncs, and the syncs per
//                              commit; the database is DIR/commit-bench.vrx
//                              (default: a temporary folder).
//   bench_commit --loop DIR N  runs N commits on DIR/commit.vrx (created when
//                              missing, else continued after its last whole
//                              commit). Commit k adds, changes and frees pages
//                              and stamps k into every page it writes.
//   bench_commit --verify DIR  opens DIR/commit.vrx (recovering it) and exits
//                              0 with "state of commit K" when the file is
//                              exactly the state after commit K; otherwise
//                              prints what is wrong and exits 1.
//
// The loop's database describes itself: page 2, the first page ever handed
// out, is a directory of {logical page, page number, stamp} entries, and the
// whole workload is a function of the commit number, so --verify can replay
// the plan up to K and compare every page, the directory and the free-space
// map against it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "engine/storage/file/VRXJournal.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "platform/os/TempFiles.h"

namespace {

using vrx::TVRXDiskPageManager;
using vrx::TVRXPage;
using vrx::TVRXPageGuard;

constexpr int32_t kSession = 1;
constexpr int32_t kDirectoryPage = 2;
constexpr uint32_t kDirectoryMagic = 0x44544D43;  // "CMTD"
constexpr size_t kMaxLive = 300;                   // fits the directory page

// --- the workload, a pure function of the commit number ---------------------------

struct Model {
  uint32_t nextLogical = 1;
  std::map<uint32_t, uint32_t> stamps;  // logical page -> commit that last wrote it
};

struct Plan {
  std::vector<uint32_t> add, change, release;
};

Plan MakePlan(const Model& model, uint32_t commit) {
  std::mt19937 random(commit * 2654435761u + 17u);
  Plan plan;
  std::vector<uint32_t> live;
  for (const auto& entry : model.stamps) live.push_back(entry.first);
  std::shuffle(live.begin(), live.end(), random);
  size_t releases = 0;
  if (live.size() > 40) releases = 1 + random() % 3;
  else if (live.size() > 10) releases = random() % 2;
  if (live.size() > kMaxLive - 20) releases = 5;
  const size_t changes = std::min<size_t>(live.size() - releases, random() % 4);
  for (size_t i = 0; i < releases; ++i) plan.release.push_back(live[i]);
  for (size_t i = 0; i < changes; ++i) plan.change.push_back(live[releases + i]);
  const uint32_t adds = 1 + random() % 3;
  for (uint32_t i = 0; i < adds; ++i) plan.add.push_back(model.nextLogical + i);
  return plan;
}

void ApplyPlan(Model& model, const Plan& plan, uint32_t commit) {
  for (uint32_t logical : plan.release) model.stamps.erase(logical);
  for (uint32_t logical : plan.change) model.stamps[logical] = commit;
  for (uint32_t logical : plan.add) model.stamps[logical] = commit;
  model.nextLogical += static_cast<uint32_t>(plan.add.size());
}

Model Replay(uint32_t commits) {
  Model model;
  for (uint32_t k = 1; k <= commits; ++k) ApplyPlan(model, MakePlan(model, k), k);
  return model;
}

// --- page contents ----------------------------------------------------------------

uint8_t PatternByte(uint32_t logical, uint32_t stamp, size_t i) {
  return static_cast<uint8_t>(logical * 7 + stamp * 13 + i * 31);
}

void FillPage(TVRXPage& page, uint32_t logical, uint32_t stamp) {
  uint8_t* data = page.Data();
  vrx::bytes::StoreU32(data, logical);
  vrx::bytes::StoreU32(data + 4, stamp);
  for (size_t i = 8; i < static_cast<size_t>(page.DataSize()); ++i)
    data[i] = PatternByte(logical, stamp, i);
}

bool PageHolds(const TVRXPage& page, uint32_t logical, uint32_t stamp) {
  const uint8_t* data = page.Data();
  if (vrx::bytes::LoadU32(data) != logical || vrx::bytes::LoadU32(data + 4) != stamp) return false;
  for (size_t i = 8; i < static_cast<size_t>(page.DataSize()); ++i)
    if (data[i] != PatternByte(logical, stamp, i)) return false;
  return true;
}

struct Entry {
  int32_t pageNo;
  uint32_t stamp;
};

struct Directory {
  uint32_t commit = 0;
  std::map<uint32_t, Entry> entries;  // by logical page
};

bool ReadDirectory(const TVRXPage& page, Directory& directory, std::string& problem) {
  const uint8_t* data = page.Data();
  if (vrx::bytes::LoadU32(data) != kDirectoryMagic) {
    problem = "page 2 is no directory page";
    return false;
  }
  directory.commit = vrx::bytes::LoadU32(data + 4);
  const uint32_t count = vrx::bytes::LoadU32(data + 8);
  if (12 + size_t{count} * 12 > static_cast<size_t>(page.DataSize())) {
    problem = "directory entry count " + std::to_string(count) + " does not fit its page";
    return false;
  }
  directory.entries.clear();
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 12 + i * 12;
    directory.entries[vrx::bytes::LoadU32(e)] = {vrx::bytes::LoadI32(e + 4), vrx::bytes::LoadU32(e + 8)};
  }
  if (directory.entries.size() != count) {
    problem = "directory names a logical page twice";
    return false;
  }
  return true;
}

void WriteDirectory(TVRXPage& page, const Directory& directory) {
  uint8_t* data = page.Data();
  std::memset(data, 0, static_cast<size_t>(page.DataSize()));
  vrx::bytes::StoreU32(data, kDirectoryMagic);
  vrx::bytes::StoreU32(data + 4, directory.commit);
  vrx::bytes::StoreU32(data + 8, static_cast<uint32_t>(directory.entries.size()));
  size_t i = 0;
  for (const auto& [logical, entry] : directory.entries) {
    uint8_t* e = data + 12 + i++ * 12;
    vrx::bytes::StoreU32(e, logical);
    vrx::bytes::StoreI32(e + 4, entry.pageNo);
    vrx::bytes::StoreU32(e + 8, entry.stamp);
  }
}

// --- --loop -----------------------------------------------------------------------

void OpenForWriting(TVRXDiskPageManager& manager, const std::string& path) {
  bool multiUser = false, repairNeeded = false, readOnly = false;
  manager.OpenDatabaseFile(path, {}, multiUser, true, repairNeeded, readOnly);
  if (repairNeeded || readOnly)
    throw vrx::Exception("cannot continue: the database needs repair or is read-only");
}

int Loop(const std::string& dir, uint32_t commits) {
  const std::string path = dir + "/commit.vrx";
  TVRXDiskPageManager manager;
  Directory directory;
  if (!std::filesystem::exists(path)) {
    manager.CreateDatabaseFile(path, {});
    TVRXPageGuard page(manager, manager.AddPage(kSession, vrx::ptTableList));
    if (page->PageNo() != kDirectoryPage) throw vrx::Exception("the directory is not page 2");
    WriteDirectory(*page.Get(), directory);
    page->SetDirty(true);
    page.Release();
    manager.ApplyChanges(kSession);  // commit 0: the empty directory
  } else {
    OpenForWriting(manager, path);
    TVRXPageGuard page(manager, manager.GetPage(kSession, kDirectoryPage, vrx::ptTableList));
    std::string problem;
    if (!ReadDirectory(*page.Get(), directory, problem)) throw vrx::Exception(problem);
  }
  Model model = Replay(directory.commit);
  const uint32_t first = directory.commit + 1;
  for (uint32_t k = first; k < first + commits; ++k) {
    const Plan plan = MakePlan(model, k);
    for (uint32_t logical : plan.release) {
      manager.RemovePage(kSession, directory.entries.at(logical).pageNo);
      directory.entries.erase(logical);
    }
    for (uint32_t logical : plan.change) {
      Entry& entry = directory.entries.at(logical);
      TVRXPageGuard page(manager, manager.GetPage(kSession, entry.pageNo, vrx::ptTableRecord));
      FillPage(*page.Get(), logical, k);
      page->SetDirty(true);
      entry.stamp = k;
    }
    for (uint32_t logical : plan.add) {
      TVRXPageGuard page(manager, manager.AddPage(kSession, vrx::ptTableRecord));
      FillPage(*page.Get(), logical, k);
      directory.entries[logical] = {page->PageNo(), k};
    }
    directory.commit = k;
    {
      TVRXPageGuard page(manager, manager.GetPage(kSession, kDirectoryPage, vrx::ptTableList));
      WriteDirectory(*page.Get(), directory);
      page->SetDirty(true);
    }
    manager.ApplyChanges(kSession);
    ApplyPlan(model, plan, k);
  }
  manager.CloseDatabaseFile();
  std::printf("%u commits, last commit %u\n", commits, directory.commit);
  return 0;
}

// --- --verify ---------------------------------------------------------------------

int Verify(const std::string& dir) {
  const std::string path = dir + "/commit.vrx";
  TVRXDiskPageManager manager;
  bool multiUser = false, repairNeeded = false, readOnly = false;
  manager.OpenDatabaseFile(path, {}, multiUser, true, repairNeeded, readOnly);
  std::vector<std::string> problems;
  const vrx::TVRXMainHeader& header = manager.MainHeader();
  if (repairNeeded) problems.push_back("the database needs repair (header state " +
                                       std::to_string(header.state) + ")");
  Directory directory;
  {
    TVRXPageGuard page(manager, manager.GetPage(kSession, kDirectoryPage, vrx::kAnyPageType));
    std::string problem;
    if (page->PageType() != vrx::ptTableList || !ReadDirectory(*page.Get(), directory, problem)) {
      std::printf("%s\n", problem.empty() ? "page 2 is no directory page" : problem.c_str());
      return 1;
    }
  }
  const uint32_t k = directory.commit;
  if (static_cast<uint32_t>(header.commitCounter) != k + 1)
    problems.push_back("commit counter " + std::to_string(header.commitCounter) +
                       " but the directory is of commit " + std::to_string(k));
  const Model model = Replay(k);
  std::set<int32_t> usedPages{kDirectoryPage};
  for (const auto& [logical, stamp] : model.stamps) {
    auto it = directory.entries.find(logical);
    if (it == directory.entries.end()) {
      problems.push_back("logical page " + std::to_string(logical) + " is missing");
      continue;
    }
    if (it->second.stamp != stamp)
      problems.push_back("logical page " + std::to_string(logical) + " has stamp " +
                         std::to_string(it->second.stamp) + ", expected " + std::to_string(stamp));
    if (!usedPages.insert(it->second.pageNo).second)
      problems.push_back("page " + std::to_string(it->second.pageNo) + " is listed twice");
    try {
      TVRXPageGuard page(manager, manager.GetPage(kSession, it->second.pageNo, vrx::ptTableRecord));
      if (!PageHolds(*page.Get(), logical, stamp))
        problems.push_back("page " + std::to_string(it->second.pageNo) + " (logical " +
                           std::to_string(logical) + ") does not hold commit " +
                           std::to_string(stamp) + "'s content");
    } catch (const vrx::Exception& e) {
      problems.push_back(e.what());
    }
  }
  for (const auto& entry : directory.entries)
    if (model.stamps.count(entry.first) == 0)
      problems.push_back("logical page " + std::to_string(entry.first) + " should be freed");
  // The free-space map must agree exactly: no page free that is in use, no
  // page in use that nothing refers to.
  vrx::TVRXDatabaseFreeSpaceManager& freeSpace = manager.FreeSpace();
  for (int32_t p = 0; p < header.totalPageCount; ++p) {
    const bool expected = freeSpace.IsServicePage(p) || usedPages.count(p) != 0;
    const bool used = freeSpace.IsPageUsed(p);
    if (used != expected)
      problems.push_back("page " + std::to_string(p) + (used ? " is marked used but unreferenced"
                                                             : " is in use but marked free"));
  }
  if (header.lastUsedPage != freeSpace.ComputeLastUsedPage())
    problems.push_back("last used page " + std::to_string(header.lastUsedPage) +
                       " disagrees with the map");
  manager.CloseDatabaseFile();
  if (!problems.empty()) {
    for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
    return 1;
  }
  std::printf("state of commit %u\n", k);
  return 0;
}

// --- throughput ---------------------------------------------------------------------

struct Figure {
  double commitsPerSecond;
  double syncsPerCommit;
};

// `commits` commits, each rewriting every page of `pages`.
Figure Measure(TVRXDiskPageManager& manager, const std::vector<int32_t>& pages, int commits,
               bool syncs) {
  vrx::TVRXJournaledFile* journal = manager.DatabaseFile().Journal();
  journal->SetSyncs(syncs);
  int64_t syncCount = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int c = 0; c < commits; ++c) {
    for (int32_t pageNo : pages) {
      TVRXPageGuard page(manager, manager.GetPage(kSession, pageNo, vrx::ptTableRecord));
      FillPage(*page.Get(), static_cast<uint32_t>(pageNo), static_cast<uint32_t>(c));
      page->SetDirty(true);
    }
    manager.ApplyChanges(kSession);
    syncCount += journal->LastCommit().syncs;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  journal->SetSyncs(true);
  return {commits / seconds, static_cast<double>(syncCount) / commits};
}

int Throughput(const std::string& dir) {
  const std::string path = dir + "/commit-bench.vrx";
  TVRXDiskPageManager manager;
  manager.CreateDatabaseFile(path, {});
  std::vector<int32_t> pages;
  for (int i = 0; i < 1001; ++i) {
    TVRXPageGuard page(manager, manager.AddPage(kSession, vrx::ptTableRecord));
    FillPage(*page.Get(), static_cast<uint32_t>(i), 0);
    pages.push_back(page->PageNo());
  }
  manager.ApplyChanges(kSession);
  const std::vector<int32_t> one{pages.front()};
  const std::vector<int32_t> thousand(pages.begin() + 1, pages.end());

  std::printf("database %s, page size %d\n", path.c_str(), manager.PageSize());
  std::printf("%-28s %14s %14s %10s\n", "commit", "commits/s", "pages/s", "syncs");
  struct Row {
    const char* name;
    const std::vector<int32_t>* pages;
    int commits;
    bool syncs;
  };
  const Row rows[] = {
      {"1 page, synced", &one, 300, true},
      {"1 page, without syncs", &one, 3000, false},
      {"1,000 pages, synced", &thousand, 20, true},
      {"1,000 pages, without syncs", &thousand, 20, false},
  };
  for (const Row& row : rows) {
    const Figure figure = Measure(manager, *row.pages, row.commits, row.syncs);
    std::printf("%-28s %14.1f %14.0f %10.2f\n", row.name, figure.commitsPerSecond,
                figure.commitsPerSecond * static_cast<double>(row.pages->size()),
                figure.syncsPerCommit);
  }
  manager.CloseDatabaseFile();
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_commit [DIR]\n"
               "       bench_commit --loop DIR N\n"
               "       bench_commit --verify DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--loop") == 0) {
      char* end = nullptr;
      const unsigned long n = std::strtoul(argv[3], &end, 10);
      if (*end != '\0') return Usage();
      return Loop(argv[2], static_cast<uint32_t>(n));
    }
    if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return Verify(argv[2]);
    if (argc == 2 && argv[1][0] == '-') return Usage();
    if (argc > 2) return Usage();
    std::string dir;
    if (argc == 2) {
      dir = argv[1];
    } else {
      dir = vrx::os::TemporaryDirectory() + "/bench_commit-" + std::to_string(::getpid());
      std::filesystem::create_directories(dir);
    }
    return Throughput(dir);
  } catch (const std::exception& e) {
    std::printf("%s\n", e.what());
    return 1;
  }
}
