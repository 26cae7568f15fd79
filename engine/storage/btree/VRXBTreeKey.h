// Keys of the B-tree indexes: the key layout (TVRXBTreeKeyRef) with its two
// kinds, the record key built from index columns (TVRXRecordKeyRef) and the
// page-number key of the page directories (TVRXPageKeyRef), and the key path
// (TVRXKeyPath) that addresses one entry of a tree. Used by the tree itself
// (VRXBTree.h), the record index, the page indexes and the tree checker.
//
// Record key: one part per index column, in column order:
//   byte   NULL flag (1 = NULL, the data bytes that follow are not set)
//   S      the first S bytes of the field in its memory-record form
//   0|2    two zero bytes, only in a truncated part
// S is the field's memory size when that is not above the column's maximum
// indexed size, else the maximum indexed size (the part is truncated). A cut
// never splits a UTF-8 sequence or a UTF-16 surrogate pair: the bytes of a
// sequence the cut would split are zeroed. The full key has the same parts,
// none truncated (1 + memory size each).
//
// Page key: the page number as a little-endian int32, no NULL flag,
// compared as a signed number; the value is a uint16 amount.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/metadata/VRXMetadataServices.h"
#include "engine/values/VRXTypes.h"

namespace vrx {

class TVRXFieldDefs;
class TVRXIndexDef;

// Size of a record ID wherever a tree stores it: int32 page, uint16 slot.
inline constexpr int32_t kRecordIDSize = 6;
inline constexpr int32_t kPageKeySize = 4;
inline constexpr int32_t kPageAmountSize = 2;

void StoreRecordID(uint8_t* target, const TVRXRecordID& id);
TVRXRecordID LoadRecordID(const uint8_t* source);
// Signed page number, then unsigned slot: the tie-break of equal keys.
int CompareRecordIDs(const TVRXRecordID& left, const TVRXRecordID& right);
inline bool operator==(const TVRXRecordID& l, const TVRXRecordID& r) {
  return l.PageNo == r.PageNo && l.Slot == r.Slot;
}

// One part of a key layout.
struct TVRXKeyPart {
  int32_t Offset = 0;        // in the key
  int32_t FullOffset = 0;    // in the full key
  int32_t FieldOffset = 0;   // the field's offset in a memory record
  int32_t FieldNo = 0;       // the field's position (its null bit)
  int32_t Size = 0;          // 1 + S, or 1 + S + 2 when truncated
  int32_t FullSize = 0;      // 1 + memory size
  int32_t TruncSize = 0;     // 0 or 2
  TVRXBaseFieldType Type = TVRXBaseFieldType::Unknown;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool HasNullFlag = true;   // false only for page keys
};

// Outcome of comparing two keys on their stored bytes.
struct TVRXKeyCompare {
  int Order = 0;  // -1, 0, +1
  // Set when the first part that did not decide was a truncated text part
  // whose stored text on both sides reaches the cut: the order of the full
  // values is unknown. Order is then 0 and later parts were not compared.
  bool CutTie = false;
};

// The layout of one tree's keys and the order they compare in. Not
// thread-safe (PartsInUse changes for the duration of a call).
class TVRXBTreeKeyRef {
 public:
  virtual ~TVRXBTreeKeyRef() = default;

  // Compares two keys over the parts in use.
  virtual TVRXKeyCompare CompareKeys(const uint8_t* left, const uint8_t* right) const;
  // Compares two full keys over the parts in use; never a cut tie.
  virtual int CompareFullKeys(const uint8_t* left, const uint8_t* right) const;

  int32_t KeySize() const { return keySize_; }
  int32_t FullKeySize() const { return fullKeySize_; }
  int32_t ValueSize() const { return valueSize_; }
  int32_t EntrySize() const { return keySize_ + valueSize_; }
  const std::vector<TVRXKeyPart>& Parts() const { return parts_; }
  int32_t PartCount() const { return static_cast<int32_t>(parts_.size()); }
  // Parts compared: normally all; a search over leading fields lowers it
  // for one call (TVRXPartsInUseScope restores it).
  int32_t PartsInUse() const { return partsInUse_; }
  void SetPartsInUse(int32_t count) { partsInUse_ = count; }
  bool HasTruncatedParts() const { return hasTruncated_; }

 protected:
  // Computes the offsets and sizes from parts_ (Size, FullSize set).
  void FinishLayout(int32_t valueSize);

  std::vector<TVRXKeyPart> parts_;
  int32_t keySize_ = 0;
  int32_t fullKeySize_ = 0;
  int32_t valueSize_ = 0;
  int32_t partsInUse_ = 0;
  bool hasTruncated_ = false;

 private:
  int CompareParts(const uint8_t* left, const uint8_t* right, bool full, bool& cutTie) const;
};

// Sets the parts in use for a scope; 0 or a count above the parts keeps
// all parts.
class TVRXPartsInUseScope {
 public:
  TVRXPartsInUseScope(TVRXBTreeKeyRef& keys, int32_t count);
  ~TVRXPartsInUseScope();
  TVRXPartsInUseScope(const TVRXPartsInUseScope&) = delete;
  TVRXPartsInUseScope& operator=(const TVRXPartsInUseScope&) = delete;

 private:
  TVRXBTreeKeyRef& keys_;
  int32_t saved_;
};

// The key of an index definition over a table's fields. Value size 6 (the
// record ID).
class TVRXRecordKeyRef : public TVRXBTreeKeyRef {
 public:
  // "Cannot find index field '%s'" (20043) for a column naming no field.
  // The definition's fields must have their offsets computed.
  TVRXRecordKeyRef(const TVRXIndexDef& definition, const TVRXFieldDefs& fields);

  // Key and full key of a memory record (KeySize / FullKeySize bytes).
  void BuildKey(std::span<const uint8_t> record, uint8_t* key) const;
  void BuildFullKey(std::span<const uint8_t> record, uint8_t* fullKey) const;
  // Full-key comparison of two records over the parts in use.
  int CompareRecords(std::span<const uint8_t> left, std::span<const uint8_t> right) const;
  int32_t RecordSize() const { return recordSize_; }

 private:
  int32_t recordSize_ = 0;
  int32_t nullBitmapSize_ = 0;
};

// The page-number key of the page indexes. Value size 2 (the amount).
class TVRXPageKeyRef : public TVRXBTreeKeyRef {
 public:
  TVRXPageKeyRef();
  TVRXKeyCompare CompareKeys(const uint8_t* left, const uint8_t* right) const override;
  int CompareFullKeys(const uint8_t* left, const uint8_t* right) const override;
};

// The position of one entry: per level from the root (0) to the leaf, the
// page, the entry index on it and that page's entry count.
inline constexpr int32_t kMaxKeyPathDepth = 32;

struct TVRXKeyPathLevel {
  int32_t PageNo = -1;
  int32_t EntryIndex = 0;
  int32_t EntryCount = 0;
};

class TVRXKeyPath {
 public:
  void Clear() { Depth = 0; CurrentLevel = 0; }
  bool Empty() const { return Depth == 0; }
  void CopyFrom(const TVRXKeyPath& other);
  TVRXKeyPathLevel& Leaf() { return Levels[static_cast<size_t>(Depth - 1)]; }
  const TVRXKeyPathLevel& Leaf() const { return Levels[static_cast<size_t>(Depth - 1)]; }

  // Σ eₗ / (c₀ × … × cₗ), in [0, 1).
  double RelativePosition() const;

  std::array<TVRXKeyPathLevel, kMaxKeyPathDepth> Levels{};
  int32_t Depth = 0;
  int32_t CurrentLevel = 0;
};

// Order of two entries by their paths: level by level on the entry
// indexes. Different depths raise "Invalid index key path" (20051); a
// different page where every level above agreed raises it with 20052.
int CompareKeyPaths(const TVRXKeyPath& left, const TVRXKeyPath& right);

}  // namespace vrx
