#include "tools/vrxcheck/VRXCheck.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/pages/VRXDiskEngine.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXFreeSpace.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "tools/vrxcheck/VRXCheckCatalog.h"

namespace vrx::check {

namespace {

class Checker {
 public:
  Checker(TVRXDiskPageManager& pm, std::ostream& out) : pm_(pm), out_(out) {}

  void Problem(const std::string& text) {
    out_ << text << "\n";
    ++problems_;
  }
  int Problems() const { return problems_; }

  void PrintHeader(int32_t objectIdCounter) {
    const TVRXMainHeader& h = pm_.MainHeader();
    out_ << "start offset: " << pm_.StartOffset() << "\n"
         << "signature: " << h.SignatureText() << "\n"
         << "version: " << h.version << "\n"
         << "page size: " << h.pageSize << "\n"
         << "extent size: " << h.extentSize << "\n"
         << "total page count: " << h.totalPageCount << "\n"
         << "last used page: " << h.lastUsedPage << "\n"
         << "commit counter: " << h.commitCounter << "\n"
         << "state: " << static_cast<int>(h.state) << "\n"
         << "encrypted: " << static_cast<int>(h.encrypted) << "\n"
         << "object ID counter: " << objectIdCounter << "\n";
  }

  void CheckPages() {
    const TVRXMainHeader& h = pm_.MainHeader();
    TVRXDatabaseFreeSpaceManager& map = pm_.FreeSpace();
    const int64_t size = pm_.DatabaseFile().GetSize();
    const int64_t end =
        pm_.StartOffset() + kFirstPageOffset + int64_t{h.totalPageCount} * h.pageSize;
    if (size < end)
      Problem("file is truncated: " + std::to_string(size) + " bytes, the pages need " +
              std::to_string(end));

    std::vector<uint8_t> page(h.pageSize);
    std::vector<bool> used(static_cast<size_t>(h.totalPageCount), false);
    std::map<std::string, int> byType;
    for (int32_t p = 0; p < h.totalPageCount; ++p) {
      std::fill(page.begin(), page.end(), 0);
      pm_.ReadPageBytes(page.data(), p, h.pageSize, 0);
      const uint16_t type = bytes::LoadU16(page.data() + page_header::kPageType);
      if (map.IsServicePage(p)) {
        if (p > h.lastUsedPage) continue;  // not written yet
        const uint16_t wanted = p % map.PagesPerPfsPage() == 0 ? ptPFS : ptEAM;
        used[static_cast<size_t>(p)] = true;
        if (!PageSignatureValid(page.data()) || type != wanted) {
          Problem("page " + std::to_string(p) + ": expected " + std::string(PageTypeName(wanted)) +
                  ", found " + TypeText(page.data()));
          continue;
        }
        if (!map.IsPageUsed(p)) Problem("page " + std::to_string(p) + ": service page marked free");
        ++byType[std::string(PageTypeName(wanted))];
        continue;
      }
      if (!Guarded([&] { used[static_cast<size_t>(p)] = map.IsPageUsed(p); })) continue;
      if (!used[static_cast<size_t>(p)]) {
        ++byType["free"];
        continue;
      }
      const std::string at = "page " + std::to_string(p) + ": ";
      if (p > h.lastUsedPage)
        Problem(at + "in use beyond the last used page " + std::to_string(h.lastUsedPage));
      if (!PageSignatureValid(page.data())) {
        Problem(at + "in use but has no page signature");
        continue;
      }
      if (type < ptEmpty || type > kLastPageType) {
        Problem(at + "in use but has page type " + std::to_string(type));
        continue;
      }
      if (bytes::LoadI32(page.data() + page_header::kModCounter) == kInvalidModCounter)
        Problem(at + "in use but marked as freed");
      ++byType[std::string(PageTypeName(type))];
    }
    // Chains: a page in use never leads to a free one.
    for (int32_t p = 0; p < h.totalPageCount; ++p) {
      if (!used[static_cast<size_t>(p)] || map.IsServicePage(p)) continue;
      uint8_t next[4];
      pm_.ReadPageBytes(next, p, 4, page_header::kNextPage);
      const int32_t to = bytes::LoadI32(next);
      if (to == -1) continue;
      const std::string at = "page " + std::to_string(p) + ": next page " + std::to_string(to);
      if (to < 0 || to >= h.totalPageCount)
        Problem(at + " is out of range");
      else if (map.IsServicePage(to))
        Problem(at + " is a service page");
      else if (!used[static_cast<size_t>(to)])
        Problem(at + " is free");
    }

    out_ << "pages by type:\n";
    for (const auto& [name, count] : byType) out_ << "  " << name << ": " << count << "\n";

    // Extent states against the bits.
    const int32_t e = map.ExtentSize();
    for (int64_t x = 0; x * e < h.totalPageCount; ++x) {
      if (map.EamPageNo(x / map.ExtentsPerEamPage()) > h.lastUsedPage) break;
      bool full = true;
      for (int64_t p = x * e; p < (x + 1) * e; ++p)
        if (p >= h.totalPageCount || !used[static_cast<size_t>(p)]) full = false;
      int state = 0;
      if (!Guarded([&] { state = map.ExtentState(x); })) break;
      if ((state == TVRXDatabaseFreeSpaceManager::kExtentFull) != full || state == 2)
        Problem("extent " + std::to_string(x) + ": map says state " + std::to_string(state) +
                ", but its pages are " + (full ? "all used" : "not all used"));
    }
    int32_t highest = -1;
    for (int32_t p = 0; p < h.totalPageCount; ++p)
      if (used[static_cast<size_t>(p)] && !map.IsServicePage(p)) highest = p;
    if (highest != h.lastUsedPage)
      Problem("last used page is " + std::to_string(h.lastUsedPage) +
              ", but the highest page in use is " + std::to_string(highest));
  }

  // Runs a map query; an engine error becomes a problem line.
  template <typename Call>
  bool Guarded(Call call) {
    try {
      call();
      return true;
    } catch (const EVRXException& e) {
      Problem(e.Message());
      return false;
    }
  }

 private:
  static std::string TypeText(const uint8_t* page) {
    if (!PageSignatureValid(page)) return "no page signature";
    const uint16_t type = bytes::LoadU16(page + page_header::kPageType);
    if (type > kLastPageType) return "page type " + std::to_string(type);
    return std::string(PageTypeName(type));
  }

  TVRXDiskPageManager& pm_;
  std::ostream& out_;
  int problems_ = 0;
};

}  // namespace

int CheckDatabaseFile(const std::string& fileName, std::ostream& out) {
  TVRXDiskPageManager pm;
  bool multiUser = false;
  bool repairNeeded = false;
  bool readOnly = false;
  out << "file: " << fileName << "\n";
  try {
    pm.OpenDatabaseFile(fileName, {}, multiUser, false, repairNeeded, readOnly);
  } catch (const EVRXException& e) {
    out << "cannot open: " << e.Message() << "\n";
    return kCannotCheck;
  }
  Checker checker(pm, out);
  try {
    uint8_t counter[4] = {};
    pm.DatabaseFile().ReadBuffer(counter, 30400, pm.ObjectIdOffset(), 4);
    checker.PrintHeader(bytes::LoadI32(counter));
    if (pm.MainHeader().state != kStateConsistent)
      checker.Problem("header state is " + std::to_string(pm.MainHeader().state) +
                      ": a commit was interrupted, repair needed");
    if (pm.MainHeader().version < kOldestSoundVersion)
      checker.Problem("file format version " + std::to_string(pm.MainHeader().version) +
                      " is too old, repair needed");
    checker.CheckPages();
    CheckCatalog(pm, out, [&checker](const std::string& line) { checker.Problem(line); });
  } catch (const EVRXException& e) {
    checker.Problem(e.Message());
  }
  if (checker.Problems() == 0) {
    out << "ok\n";
    return kSound;
  }
  out << checker.Problems() << (checker.Problems() == 1 ? " problem\n" : " problems\n");
  return kProblems;
}

}  // namespace vrx::check
