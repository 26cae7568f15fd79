// What the table metadata managers need from the layers around them, as
// narrow interfaces those layers implement:
//
//   TVRXObjectIDSource   the database's object-ID counter (GetNextObjectID
//                        of the database data);
//   TVRXMetadataTable    the table the managers describe (its table data
//                        object): name, record count, change counter;
//   TVRXSequenceSession  the session on whose behalf a record is written:
//                        its ID and the last values its sequences produced
//                        (the session's named objects);
//   TVRXIndexObject      one open index (a B-tree), driven by the index
//                        manager;
//   TVRXIndexFactory     opens the index object of a definition, in the
//                        table's page manager or, for a temporary index,
//                        in the table's private temporary page manager.
//
// Records are passed as memory records (engine/storage/metadata/
// VRXFieldDef.h describes their layout) in spans; a record is addressed by
// its TVRXRecordID.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace vrx {

class TVRXIndexDef;

// A stored record: page number and slot (6 bytes wherever stored).
struct TVRXRecordID {
  int32_t PageNo = -1;
  uint16_t Slot = 0;
};

class TVRXObjectIDSource {
 public:
  virtual ~TVRXObjectIDSource() = default;
  // A new object ID, never handed out before in this database.
  virtual int32_t GetNextObjectID() = 0;
};

class TVRXMetadataTable {
 public:
  virtual ~TVRXMetadataTable() = default;
  virtual std::string TableName() const = 0;
  // Records the session sees in the table.
  virtual int64_t RecordCount(int32_t sessionID) = 0;
  // The table's change counter (+1 on every record change).
  virtual int32_t ChangeCounter() const = 0;
  virtual TVRXObjectIDSource& ObjectIDs() = 0;
};

class TVRXSequenceSession {
 public:
  virtual ~TVRXSequenceSession() = default;
  virtual int32_t SessionID() const = 0;
  // Remembers `value` as the last value of the sequence `sequenceID` (the
  // autoincrement field's ID) in this session.
  virtual void SetSequenceLastValue(int32_t sequenceID, int64_t value) = 0;
  // The remembered value; false when the sequence produced none here.
  virtual bool FindSequenceLastValue(int32_t sequenceID, int64_t& value) const = 0;
};

// One open index. Every operation may raise EVRXException; the index
// manager keeps its definitions in step (root page, change counter).
class TVRXIndexObject {
 public:
  virtual ~TVRXIndexObject() = default;
  // Creates the B-tree when it has none and fills it with the keys of the
  // table's records (a rebuild empties it first).
  virtual void Build(int32_t sessionID) = 0;
  // Removes every key; the B-tree itself stays.
  virtual void Empty(int32_t sessionID) = 0;
  // Removes the B-tree and its pages.
  virtual void Drop(int32_t sessionID) = 0;
  virtual void InsertKey(int32_t sessionID, std::span<const uint8_t> record,
                         const TVRXRecordID& recordID) = 0;
  virtual void DeleteKey(int32_t sessionID, std::span<const uint8_t> record,
                         const TVRXRecordID& recordID) = 0;
  // True when the key of `record` is present.
  virtual bool ContainsKey(int32_t sessionID, std::span<const uint8_t> record) = 0;
  // True when both records give the same key.
  virtual bool SameKey(std::span<const uint8_t> left, std::span<const uint8_t> right) = 0;
  // True when both records give byte for byte the same entry key, so that
  // an update leaves the record's entry as it is.
  virtual bool SameEntry(std::span<const uint8_t> left, std::span<const uint8_t> right) = 0;
  // -1 while there is no B-tree.
  virtual int32_t RootPage() const = 0;
};

class TVRXIndexFactory {
 public:
  virtual ~TVRXIndexFactory() = default;
  // The index object of `definition`; it takes what it needs from the
  // definition now and keeps no reference to it.
  virtual std::unique_ptr<TVRXIndexObject> OpenIndex(const TVRXIndexDef& definition) = 0;
};

}  // namespace vrx
