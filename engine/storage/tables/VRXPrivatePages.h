// TVRXPrivatePageManager: pages that live in this process's memory only, for
// the temporary indexes of a table (sort indexes of one session). Nothing
// reaches the database file; the pages vanish with the manager, so a
// temporary index never leaves pages behind in the file.
//
// The in-memory and temporary engines of the engine bring their own page
// managers; this one is the least a table needs until then. Not
// thread-safe: used under the table's lock.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "engine/storage/pages/VRXPageManager.h"

namespace vrx {

class TVRXPrivatePageManager final : public TVRXPageManager {
 public:
  explicit TVRXPrivatePageManager(int32_t pageSize);
  ~TVRXPrivatePageManager() override;

  int32_t GetTotalPageCount() override { return nextPage_; }
  void InternalAddPage(TVRXPage& page) override;
  void InternalFreePage(int32_t pageNo) override;
  bool InternalReadPage(TVRXPage& page) override;
  void InternalWritePage(TVRXPage& page) override;

 private:
  std::map<int32_t, std::vector<uint8_t>> stored_;
  std::vector<int32_t> freed_;
  int32_t nextPage_ = 0;
};

}  // namespace vrx
