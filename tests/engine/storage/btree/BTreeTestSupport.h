// What the B-tree tests share: a page manager over a map with small pages
// that knows which page numbers it has handed out and taken back, and a
// table of memory records that the record index reads from.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/storage/btree/VRXBTreeIndex.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/pages/VRXPageManager.h"

namespace vrx::test {

// Pages in memory with the 40-byte page header of database files.
class MapPages final : public TVRXPageManager {
 public:
  explicit MapPages(int32_t pageSize) : TVRXPageManager(pageSize, 40, 64) {}
  ~MapPages() override { DiscardAllPages(); }

  void InternalAddPage(TVRXPage& page) override {
    int32_t pageNo = nextPageNo_;
    if (!free_.empty()) {
      pageNo = *free_.begin();
      free_.erase(free_.begin());
    } else {
      ++nextPageNo_;
    }
    page.SetPageNo(pageNo);
    page.AllocateFreshBuffer();
    used_.insert(pageNo);
  }
  void InternalFreePage(int32_t pageNo) override {
    store_.erase(pageNo);
    used_.erase(pageNo);
    free_.insert(pageNo);
  }
  bool InternalReadPage(TVRXPage& page) override {
    page.AllocateFreshBuffer();
    auto it = store_.find(page.PageNo());
    if (it == store_.end()) return false;
    std::memcpy(page.Buffer(), it->second.data(), it->second.size());
    return true;
  }
  void InternalWritePage(TVRXPage& page) override {
    store_[page.PageNo()].assign(page.Buffer(), page.Buffer() + PageSize());
  }

  // Pages handed out and not given back (committed view).
  const std::set<int32_t>& UsedPages() const { return used_; }

 private:
  std::map<int32_t, std::vector<uint8_t>> store_;
  std::set<int32_t> used_;
  std::set<int32_t> free_;
  int32_t nextPageNo_ = 0;
};

// Memory records by record ID.
class RecordTable final : public TVRXIndexRecordSource {
 public:
  bool ReadRecord(int32_t, const TVRXRecordID& id, std::span<uint8_t> record) override {
    auto it = rows.find(Key(id));
    if (it == rows.end()) return false;
    std::memcpy(record.data(), it->second.data(), std::min(record.size(), it->second.size()));
    return true;
  }
  void ForEachRecord(
      int32_t,
      const std::function<void(const TVRXRecordID&, std::span<const uint8_t>)>& visit) override {
    for (const auto& [key, row] : rows) visit(FromKey(key), row);
  }

  static int64_t Key(const TVRXRecordID& id) {
    return (static_cast<int64_t>(id.PageNo) << 16) | id.Slot;
  }
  static TVRXRecordID FromKey(int64_t key) {
    return {static_cast<int32_t>(key >> 16), static_cast<uint16_t>(key & 0xFFFF)};
  }

  std::map<int64_t, std::vector<uint8_t>> rows;
};

// Memory-record writer over a field list.
class RecordBuilder {
 public:
  explicit RecordBuilder(const TVRXFieldDefs& fields)
      : fields_(fields), record_(static_cast<size_t>(fields.MemoryRecordSize()), 0) {}
  RecordBuilder& Null(int32_t fieldNo) {
    SetFieldNull(record_, fieldNo, true);
    return *this;
  }
  RecordBuilder& Int(int32_t fieldNo, int32_t value) {
    SetFieldNull(record_, fieldNo, false);
    bytes::StoreI32(record_.data() + fields_.Field(fieldNo).MemoryOffset(), value);
    return *this;
  }
  RecordBuilder& Text(int32_t fieldNo, const std::string& value) {
    SetFieldNull(record_, fieldNo, false);
    const TVRXFieldDef& field = fields_.Field(fieldNo);
    uint8_t* target = record_.data() + field.MemoryOffset();
    std::memset(target, 0, static_cast<size_t>(field.MemorySize()));
    std::memcpy(target, value.data(),
                std::min(value.size(), static_cast<size_t>(field.MemorySize() - 1)));
    return *this;
  }
  std::vector<uint8_t> Done() const { return record_; }

 private:
  const TVRXFieldDefs& fields_;
  std::vector<uint8_t> record_;
};

}  // namespace vrx::test
