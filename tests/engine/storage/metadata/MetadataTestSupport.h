// Stand-ins for what the metadata managers get from the layers above them
// (a table with its database's object-ID counter, a session, B-tree index
// objects), memory records built field by field, and the bytes of a
// memory stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXStream.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/storage/metadata/VRXMetadataServices.h"
#include "engine/values/VRXValueBytes.h"

namespace vrx::test {

using Bytes = std::vector<uint8_t>;

inline Bytes StreamBytes(TVRXMemoryStream& stream) {
  const auto* p = static_cast<const uint8_t*>(stream.Memory());
  return p ? Bytes(p, p + stream.GetSize()) : Bytes();
}

inline void SetBytes(TVRXMemoryStream& stream, const Bytes& bytes) {
  stream.SetSize(int64_t{0});
  if (!bytes.empty()) stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.SetPosition(0);
}

class FakeIDs : public TVRXObjectIDSource {
 public:
  int32_t GetNextObjectID() override { return next_++; }
  int32_t next_ = 100;
};

class FakeTable : public TVRXMetadataTable {
 public:
  std::string TableName() const override { return name; }
  int64_t RecordCount(int32_t) override { return recordCount; }
  int32_t ChangeCounter() const override { return changeCounter; }
  TVRXObjectIDSource& ObjectIDs() override { return ids; }

  std::string name = "Hraci";
  int64_t recordCount = 0;
  int32_t changeCounter = 0;
  FakeIDs ids;
};

class FakeSession : public TVRXSequenceSession {
 public:
  explicit FakeSession(int32_t id = 1) : id_(id) {}
  int32_t SessionID() const override { return id_; }
  void SetSequenceLastValue(int32_t sequenceID, int64_t value) override {
    values[sequenceID] = value;
  }
  bool FindSequenceLastValue(int32_t sequenceID, int64_t& value) const override {
    auto found = values.find(sequenceID);
    if (found == values.end()) return false;
    value = found->second;
    return true;
  }

  std::map<int32_t, int64_t> values;

 private:
  int32_t id_;
};

// An index that keeps its keys as the records' bytes of one INTEGER field
// and writes down what it was asked to do.
class FakeIndex : public TVRXIndexObject {
 public:
  FakeIndex(std::vector<std::string>& log, const TVRXIndexDef& definition, int32_t keyOffset,
            bool failBuild)
      : log_(log), name_(definition.Name()), keyOffset_(keyOffset), failBuild_(failBuild) {}

  void Build(int32_t) override {
    log_.push_back("build " + name_);
    if (failBuild_) throw EVRXException("build failed", 1);
    root_ = 50;
  }
  void Empty(int32_t) override {
    log_.push_back("empty " + name_);
    keys_.clear();
  }
  void Drop(int32_t) override {
    log_.push_back("drop " + name_);
    root_ = -1;
  }
  void InsertKey(int32_t, std::span<const uint8_t> record, const TVRXRecordID&) override {
    log_.push_back("insert " + name_);
    keys_.insert(Key(record));
    ++root_;  // every change moves the root, as a split would
  }
  void DeleteKey(int32_t, std::span<const uint8_t> record, const TVRXRecordID&) override {
    log_.push_back("delete " + name_);
    keys_.erase(Key(record));
  }
  bool ContainsKey(int32_t, std::span<const uint8_t> record) override {
    return keys_.count(Key(record)) != 0;
  }
  bool SameKey(std::span<const uint8_t> left, std::span<const uint8_t> right) override {
    return Key(left) == Key(right);
  }
  bool SameEntry(std::span<const uint8_t> left, std::span<const uint8_t> right) override {
    return Key(left) == Key(right);
  }
  int32_t RootPage() const override { return root_; }

 private:
  int32_t Key(std::span<const uint8_t> record) const {
    return bytes::LoadI32(record.data() + keyOffset_);
  }

  std::vector<std::string>& log_;
  std::string name_;
  int32_t keyOffset_;
  bool failBuild_;
  std::set<int32_t> keys_;
  int32_t root_ = -1;
};

class FakeIndexFactory : public TVRXIndexFactory {
 public:
  std::unique_ptr<TVRXIndexObject> OpenIndex(const TVRXIndexDef& definition) override {
    log.push_back("open " + definition.Name());
    return std::make_unique<FakeIndex>(log, definition, keyOffset,
                                       definition.Name() == failingName);
  }

  std::vector<std::string> log;
  int32_t keyOffset = 1;
  std::string failingName;
};

// A memory record of `fields` with every field NULL.
inline Bytes NullRecord(const TVRXFieldDefs& fields) {
  Bytes record(static_cast<size_t>(fields.MemoryRecordSize()), 0);
  for (int32_t i = 0; i < fields.Count(); ++i) SetFieldNull(record, i, true);
  return record;
}

// Stores `value` in an integer field of the record (its storage size) and
// clears the field's null bit.
inline void SetInteger(Bytes& record, const TVRXFieldDefs& fields, int32_t fieldNo, int64_t value) {
  const TVRXFieldDef& field = fields.Field(fieldNo);
  unsigned char encoded[8];
  bytes::StoreI64(encoded, value);
  std::memcpy(record.data() + field.MemoryOffset(), encoded,
              static_cast<size_t>(field.MemorySize()));
  SetFieldNull(record, fieldNo, false);
}

inline int64_t GetInteger(const Bytes& record, const TVRXFieldDefs& fields, int32_t fieldNo) {
  const TVRXFieldDef& field = fields.Field(fieldNo);
  return bytes::LoadIntegerOf(field.StorageType(), record.data() + field.MemoryOffset());
}

}  // namespace vrx::test
