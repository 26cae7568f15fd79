// bench_pages [DIR]: the page layer's throughput. Commits 10,000 pages in one
// session, reads them back through a cold and a warm cache, and prints pages
// per second beside the same byte volume written and read with plain
// pwrite/pread. Leaves the database in DIR (default: a new temporary folder)
// as pages.vrx.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "platform/os/TempFiles.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPages = 10000;
constexpr int32_t kSession = 1;
constexpr int kWarmPasses = 20;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Row(const char* what, double pages, double seconds, int pageSize) {
  std::printf("%-34s %10.0f pages/s %9.1f MB/s %8.3f s\n", what, pages / seconds,
              pages * pageSize / seconds / 1e6, seconds);
}

std::string DefaultDirectory() {
  std::string dir = vrx::os::TemporaryDirectory() + "/VRXbenchXXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return dir;
}

int64_t ReadAllPages(vrx::TVRXDiskPageManager& pm, const std::vector<int32_t>& pageNos) {
  int64_t sum = 0;
  for (int32_t pageNo : pageNos) {
    vrx::TVRXPageGuard page(pm, pm.GetPage(kSession, pageNo, vrx::ptTableRecord));
    sum += page->Data()[0];
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : DefaultDirectory();
  const std::string dbName = dir + "/pages.vrx";
  const std::string plainName = dir + "/plain.bin";
  std::vector<int32_t> pageNos;
  int pageSize = 0;
  try {
    std::printf("bench_pages: %d pages in %s\n", kPages, dbName.c_str());
    {
      vrx::TVRXDiskPageManager pm;
      pm.CreateDatabaseFile(dbName, {});
      pageSize = pm.PageSize();
      const auto start = Clock::now();
      for (int i = 0; i < kPages; ++i) {
        vrx::TVRXPageGuard page(pm, pm.AddPage(kSession, vrx::ptTableRecord));
        std::memset(page->Data(), i & 0xFF, static_cast<size_t>(page->DataSize()));
        pageNos.push_back(page->PageNo());
      }
      const double added = Seconds(start);
      pm.ApplyChanges(kSession);
      const double total = Seconds(start);
      Row("add (allocate, fill)", kPages, added, pageSize);
      Row("add + commit, one session", kPages, total, pageSize);
      pm.CloseDatabaseFile();
    }
    {
      vrx::TVRXDiskPageManager pm;
      bool multiUser = false, repairNeeded = false, readOnly = false;
      pm.OpenDatabaseFile(dbName, {}, multiUser, false, repairNeeded, readOnly);
      auto start = Clock::now();
      int64_t sum = ReadAllPages(pm, pageNos);
      Row("read, cold cache", kPages, Seconds(start), pageSize);

      const size_t warmCount =
          std::min<size_t>(pageNos.size(), static_cast<size_t>(pm.CacheCapacity()));
      const std::vector<int32_t> warm(pageNos.end() - static_cast<std::ptrdiff_t>(warmCount),
                                      pageNos.end());
      sum += ReadAllPages(pm, warm);  // now cached
      start = Clock::now();
      for (int pass = 0; pass < kWarmPasses; ++pass) sum += ReadAllPages(pm, warm);
      char label[64];
      std::snprintf(label, sizeof label, "read, warm cache (%zu pages)", warmCount);
      Row(label, static_cast<double>(warmCount) * kWarmPasses, Seconds(start), pageSize);
      if (sum == 42) std::printf(" ");
      pm.CloseDatabaseFile();
    }

    // The same byte volume through the system calls alone.
    std::vector<uint8_t> buffer(static_cast<size_t>(pageSize), 0x5A);
    const int fd = ::open(plainName.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      std::perror("open");
      return 1;
    }
    auto start = Clock::now();
    for (int i = 0; i < kPages; ++i)
      if (::pwrite(fd, buffer.data(), buffer.size(), int64_t{i} * pageSize) < 0)
        std::perror("pwrite");
    Row("plain pwrite", kPages, Seconds(start), pageSize);
    start = Clock::now();
    for (int i = 0; i < kPages; ++i)
      if (::pread(fd, buffer.data(), buffer.size(), int64_t{i} * pageSize) < 0)
        std::perror("pread");
    Row("plain pread", kPages, Seconds(start), pageSize);
    ::close(fd);
    ::unlink(plainName.c_str());
  } catch (const vrx::EVRXException& e) {
    std::fprintf(stderr, "bench_pages: %s\n", e.what());
    return 1;
  }
  return 0;
}
