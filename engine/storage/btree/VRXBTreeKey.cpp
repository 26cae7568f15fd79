#include "engine/storage/btree/VRXBTreeKey.h"

#include <cstring>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXFieldDef.h"
#include "engine/storage/metadata/VRXIndexDef.h"
#include "engine/values/VRXTypesRoutines.h"

namespace vrx {

void StoreRecordID(uint8_t* target, const TVRXRecordID& id) {
  bytes::StoreI32(target, id.PageNo);
  bytes::StoreU16(target + 4, id.Slot);
}

TVRXRecordID LoadRecordID(const uint8_t* source) {
  return {bytes::LoadI32(source), bytes::LoadU16(source + 4)};
}

int CompareRecordIDs(const TVRXRecordID& left, const TVRXRecordID& right) {
  if (left.PageNo != right.PageNo) return left.PageNo < right.PageNo ? -1 : 1;
  if (left.Slot != right.Slot) return left.Slot < right.Slot ? -1 : 1;
  return 0;
}

namespace {

// Whether the stored text of a truncated part may continue past the cut.
// A cut that would split a character zeroes its bytes, so a text ending up
// to one character short of the cut may also have been cut; deciding such
// a tie on the full values costs a record read and is never wrong.
bool ReachesCut(const uint8_t* data, int32_t storedSize, TVRXBaseFieldType type) {
  if (IsWideTextType(type)) {
    int32_t units = 0;
    while (units * 2 + 1 < storedSize && bytes::LoadU16(data + units * 2) != 0) ++units;
    return units * 2 >= storedSize - 2;
  }
  const void* zero = std::memchr(data, 0, static_cast<size_t>(storedSize));
  const int32_t length =
      zero ? static_cast<int32_t>(static_cast<const uint8_t*>(zero) - data) : storedSize;
  return length >= storedSize - 3;
}

// Zeroes the bytes of a character the cut at `size` splits.
void CutAtCharacter(uint8_t* data, int32_t size, TVRXBaseFieldType type) {
  if (size <= 0) return;
  if (IsWideTextType(type)) {
    if (size >= 2) {
      const uint16_t last = bytes::LoadU16(data + size - 2);
      if (last >= 0xD800 && last <= 0xDBFF) bytes::StoreU16(data + size - 2, 0);
    }
    return;
  }
  if (std::memchr(data, 0, static_cast<size_t>(size)) != nullptr) return;
  int32_t lead = size - 1;
  while (lead > 0 && lead > size - 4 && (data[lead] & 0xC0) == 0x80) --lead;
  const uint8_t b = data[lead];
  int32_t length = 1;
  if ((b & 0xE0) == 0xC0)
    length = 2;
  else if ((b & 0xF0) == 0xE0)
    length = 3;
  else if ((b & 0xF8) == 0xF0)
    length = 4;
  if (lead + length > size) std::memset(data + lead, 0, static_cast<size_t>(size - lead));
}

}  // namespace

void TVRXBTreeKeyRef::FinishLayout(int32_t valueSize) {
  keySize_ = 0;
  fullKeySize_ = 0;
  hasTruncated_ = false;
  for (TVRXKeyPart& part : parts_) {
    part.Offset = keySize_;
    part.FullOffset = fullKeySize_;
    keySize_ += part.Size;
    fullKeySize_ += part.FullSize;
    if (part.TruncSize != 0) hasTruncated_ = true;
  }
  valueSize_ = valueSize;
  partsInUse_ = PartCount();
}

int TVRXBTreeKeyRef::CompareParts(const uint8_t* left, const uint8_t* right, bool full,
                                  bool& cutTie) const {
  cutTie = false;
  const int32_t used = partsInUse_ <= 0 || partsInUse_ > PartCount() ? PartCount() : partsInUse_;
  for (int32_t i = 0; i < used; ++i) {
    const TVRXKeyPart& part = parts_[static_cast<size_t>(i)];
    const int32_t offset = full ? part.FullOffset : part.Offset;
    const uint8_t* l = left + offset;
    const uint8_t* r = right + offset;
    int order = 0;
    int32_t dataSize = (full ? part.FullSize : part.Size) - 1;
    if (part.HasNullFlag) {
      const bool lNull = l[0] != 0;
      const bool rNull = r[0] != 0;
      ++l;
      ++r;
      if (lNull || rNull) {
        order = lNull == rNull ? 0 : (lNull ? -1 : 1);
        if (part.Descending) order = -order;
        if (order != 0) return order;
        continue;
      }
    } else {
      dataSize += 1;
    }
    order = vrx::CompareKeys(TVRXRawValue{l, dataSize, part.Type, false},
                             TVRXRawValue{r, dataSize, part.Type, false},
                             TVRXCompareOptions{part.CaseInsensitive, -1});
    if (part.Descending) order = -order;
    if (order != 0) return order;
    if (!full && part.TruncSize != 0) {
      const int32_t stored = dataSize - part.TruncSize;
      if (ReachesCut(l, stored, part.Type) && ReachesCut(r, stored, part.Type)) {
        cutTie = true;
        return 0;
      }
    }
  }
  return 0;
}

TVRXKeyCompare TVRXBTreeKeyRef::CompareKeys(const uint8_t* left, const uint8_t* right) const {
  TVRXKeyCompare result;
  result.Order = CompareParts(left, right, false, result.CutTie);
  return result;
}

int TVRXBTreeKeyRef::CompareFullKeys(const uint8_t* left, const uint8_t* right) const {
  bool cutTie = false;
  return CompareParts(left, right, true, cutTie);
}

TVRXPartsInUseScope::TVRXPartsInUseScope(TVRXBTreeKeyRef& keys, int32_t count)
    : keys_(keys), saved_(keys.PartsInUse()) {
  keys_.SetPartsInUse(count <= 0 || count > keys.PartCount() ? keys.PartCount() : count);
}

TVRXPartsInUseScope::~TVRXPartsInUseScope() { keys_.SetPartsInUse(saved_); }

TVRXRecordKeyRef::TVRXRecordKeyRef(const TVRXIndexDef& definition, const TVRXFieldDefs& fields) {
  recordSize_ = fields.MemoryRecordSize();
  nullBitmapSize_ = fields.NullBitmapSize();
  for (const TVRXIndexColumn& column : definition.Columns()) {
    const int32_t fieldNo = fields.IndexOfName(column.FieldName);
    if (fieldNo < 0)
      throw EVRXException("Cannot find index field '%s'", {column.FieldName}, 20043);
    const TVRXFieldDef& field = fields.Field(fieldNo);
    TVRXKeyPart part;
    part.FieldNo = fieldNo;
    part.FieldOffset = field.MemoryOffset();
    part.Type = field.StorageType();
    part.Descending = column.IsDescending();
    part.CaseInsensitive = column.IsCaseInsensitive();
    part.FullSize = 1 + field.MemorySize();
    const int32_t limit = column.MaxIndexedSize;
    if (IsTextType(part.Type) && limit > 0 && field.MemorySize() > limit) {
      // Wide text is cut at a whole code unit.
      const int32_t stored = IsWideTextType(part.Type) ? (limit & ~1) : limit;
      part.TruncSize = 2;
      part.Size = 1 + stored + 2;
    } else {
      part.Size = part.FullSize;
    }
    parts_.push_back(part);
  }
  FinishLayout(kRecordIDSize);
}

void TVRXRecordKeyRef::BuildKey(std::span<const uint8_t> record, uint8_t* key) const {
  for (const TVRXKeyPart& part : parts_) {
    uint8_t* target = key + part.Offset;
    const int32_t dataSize = part.Size - 1;
    std::memset(target + 1, 0, static_cast<size_t>(dataSize));
    if (FieldIsNull(record, part.FieldNo)) {
      target[0] = 1;
      continue;
    }
    target[0] = 0;
    const int32_t stored = dataSize - part.TruncSize;
    std::memcpy(target + 1, record.data() + part.FieldOffset, static_cast<size_t>(stored));
    if (part.TruncSize != 0) CutAtCharacter(target + 1, stored, part.Type);
  }
}

void TVRXRecordKeyRef::BuildFullKey(std::span<const uint8_t> record, uint8_t* fullKey) const {
  for (const TVRXKeyPart& part : parts_) {
    uint8_t* target = fullKey + part.FullOffset;
    const int32_t dataSize = part.FullSize - 1;
    if (FieldIsNull(record, part.FieldNo)) {
      target[0] = 1;
      std::memset(target + 1, 0, static_cast<size_t>(dataSize));
      continue;
    }
    target[0] = 0;
    std::memcpy(target + 1, record.data() + part.FieldOffset, static_cast<size_t>(dataSize));
  }
}

int TVRXRecordKeyRef::CompareRecords(std::span<const uint8_t> left,
                                     std::span<const uint8_t> right) const {
  // Scratch keys of this thread: comparing allocates nothing once warm.
  thread_local std::vector<uint8_t> l;
  thread_local std::vector<uint8_t> r;
  l.resize(static_cast<size_t>(fullKeySize_));
  r.resize(static_cast<size_t>(fullKeySize_));
  BuildFullKey(left, l.data());
  BuildFullKey(right, r.data());
  return CompareFullKeys(l.data(), r.data());
}

TVRXPageKeyRef::TVRXPageKeyRef() {
  TVRXKeyPart part;
  part.Size = kPageKeySize;
  part.FullSize = kPageKeySize;
  part.Type = TVRXBaseFieldType::Integer;
  part.HasNullFlag = false;
  parts_.push_back(part);
  FinishLayout(kPageAmountSize);
}

TVRXKeyCompare TVRXPageKeyRef::CompareKeys(const uint8_t* left, const uint8_t* right) const {
  return {CompareFullKeys(left, right), false};
}

int TVRXPageKeyRef::CompareFullKeys(const uint8_t* left, const uint8_t* right) const {
  const int32_t l = bytes::LoadI32(left);
  const int32_t r = bytes::LoadI32(right);
  return l < r ? -1 : (l > r ? 1 : 0);
}

void TVRXKeyPath::CopyFrom(const TVRXKeyPath& other) {
  Depth = other.Depth;
  CurrentLevel = other.CurrentLevel;
  for (int32_t i = 0; i < other.Depth; ++i)
    Levels[static_cast<size_t>(i)] = other.Levels[static_cast<size_t>(i)];
}

double TVRXKeyPath::RelativePosition() const {
  int64_t numerator = 0;
  int64_t denominator = 1;
  for (int32_t l = Depth - 1; l >= 0; --l) {
    const TVRXKeyPathLevel& level = Levels[static_cast<size_t>(l)];
    numerator += static_cast<int64_t>(level.EntryIndex) * denominator;
    denominator *= level.EntryCount > 0 ? level.EntryCount : 1;
  }
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

int CompareKeyPaths(const TVRXKeyPath& left, const TVRXKeyPath& right) {
  if (left.Depth != right.Depth) throw EVRXException("Invalid index key path", 20051);
  for (int32_t l = 0; l < left.Depth; ++l) {
    const TVRXKeyPathLevel& a = left.Levels[static_cast<size_t>(l)];
    const TVRXKeyPathLevel& b = right.Levels[static_cast<size_t>(l)];
    if (a.PageNo != b.PageNo) throw EVRXException("Invalid index key path", 20052);
    if (a.EntryIndex != b.EntryIndex) return a.EntryIndex < b.EntryIndex ? -1 : 1;
  }
  return 0;
}

}  // namespace vrx
