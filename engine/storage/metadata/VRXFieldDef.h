// Field definitions of a table (TVRXFieldDef) and their list
// (TVRXFieldDefs), with the memory and disk record layout the list computes
// for them, and the null-bitmap helpers over a memory record.
//
// Used by the field manager (autoincrement counters, defaults), the index
// and constraint managers (field lookups), the record manager (layout), the
// dataset layer (field types and sizes) and the catalog (metadata file).
//
// Record layout, in memory and on disk alike: a null bitmap of
// ceil(field count / 8) bytes (bit i mod 8 of byte i div 8 set = field i is
// NULL), then the fields in order, each at its offset. A field's memory size
// is StorageSize(storage type, size); its disk size is the same, except for
// the BLOB storage types (6 on disk, the BLOB reference; 10 in memory).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/storage/metadata/VRXMetaObjectDef.h"
#include "engine/values/VRXTypes.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

inline constexpr int32_t kDefaultBlobBlockSize = 102400;
inline constexpr int32_t kBlobDiskSize = 6;

class TVRXFieldDef : public TVRXMetaObjectDef {
 public:
  TVRXFieldDef() = default;

  void Assign(const TVRXMetaObjectDef& other) override;
  // name; int32 ID; byte storage type; byte declared type; int32 size;
  // for the BLOB storage types only: byte compression algorithm, byte
  // compression mode, int32 block size; int64 increment, initial, minimum
  // and maximum value; byte cycled; the default value (value stream form).
  // Loading recomputes the sizes: an unknown storage type raises "Unknown
  // DataType: '%s'" (30050), a size the type cannot have "Invalid size %d
  // of field '%s'".
  void LoadFromStream(TVRXStream& stream) override;
  void SaveToStream(TVRXStream& stream) const override;
  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXFieldDef"; }

  TVRXBaseFieldType StorageType() const { return storageType_; }
  TVRXAdvancedFieldType DeclaredType() const { return declaredType_; }
  // Sets the declared type and the storage type the type table gives it;
  // a declared type without storage type raises "Unsupported data type
  // '%s'" (30007). The sizes are recomputed.
  void SetDeclaredType(TVRXAdvancedFieldType type);
  // Declared length: characters of text, bytes of BYTES and VARBYTES.
  // A size whose storage size cannot be represented (negative, or past the
  // 32-bit range) raises "Invalid size %d of field '%s'".
  int32_t Size() const { return size_; }
  void SetSize(int32_t size);

  int32_t MemorySize() const { return memorySize_; }
  int32_t DiskSize() const { return diskSize_; }
  int32_t MemoryOffset() const { return memoryOffset_; }
  int32_t DiskOffset() const { return diskOffset_; }

  const TVRXVariant& DefaultValue() const { return defaultValue_; }
  void SetDefaultValue(const TVRXVariant& value) { defaultValue_ = value; }

  uint8_t BlobCompressionAlgorithm() const { return blobCompressionAlgorithm_; }
  void SetBlobCompressionAlgorithm(uint8_t value) { blobCompressionAlgorithm_ = value; }
  uint8_t BlobCompressionMode() const { return blobCompressionMode_; }
  void SetBlobCompressionMode(uint8_t value) { blobCompressionMode_ = value; }
  int32_t BlobBlockSize() const { return blobBlockSize_; }
  void SetBlobBlockSize(int32_t value) { blobBlockSize_ = value; }

  // The autoincrement sequence of the AUTOINC declared types.
  int64_t Increment() const { return increment_; }
  void SetIncrement(int64_t value) { increment_ = value; }
  int64_t InitialValue() const { return initialValue_; }
  void SetInitialValue(int64_t value) { initialValue_ = value; }
  int64_t MinValue() const { return minValue_; }
  void SetMinValue(int64_t value) { minValue_ = value; }
  // 0 means no limit.
  int64_t MaxValue() const { return maxValue_; }
  void SetMaxValue(int64_t value) { maxValue_ = value; }
  // Any nonzero byte: restart at the minimum instead of failing.
  bool Cycled() const { return cycled_ != 0; }
  void SetCycled(bool value) { cycled_ = value ? 1 : 0; }

  bool IsAutoInc() const { return IsAutoIncAdvancedType(declaredType_); }
  bool IsBlob() const { return IsBlobType(storageType_); }

 private:
  friend class TVRXFieldDefs;

  TVRXFieldDef(const TVRXFieldDef&) = default;
  // Memory and disk size from the storage type and size. With `strict`, an
  // unknown storage type raises 30050; otherwise it leaves both sizes 0
  // (a definition whose type is not set yet).
  void ComputeSizes(bool strict);

  TVRXBaseFieldType storageType_ = TVRXBaseFieldType::Unknown;
  TVRXAdvancedFieldType declaredType_ = TVRXAdvancedFieldType::Unknown;
  int32_t size_ = 0;
  int32_t diskSize_ = 0;
  int32_t memorySize_ = 0;
  int32_t diskOffset_ = 0;
  int32_t memoryOffset_ = 0;
  TVRXVariant defaultValue_;
  uint8_t blobCompressionAlgorithm_ = 0;
  uint8_t blobCompressionMode_ = 0;
  int32_t blobBlockSize_ = kDefaultBlobBlockSize;
  int64_t increment_ = 1;
  int64_t initialValue_ = 0;
  int64_t minValue_ = 0;
  int64_t maxValue_ = INT64_MAX;
  uint8_t cycled_ = 0;
};

class TVRXFieldDefs : public TVRXMetaObjectDefs {
 public:
  TVRXMetaObjectDef& InternalAddCreated() override;
  std::string_view ClassName() const override { return "TVRXFieldDefs"; }
  void Swap(TVRXMetaObjectDefs& other) override;

  TVRXFieldDef& Field(int32_t index) const { return static_cast<TVRXFieldDef&>(Item(index)); }
  // Appends a new definition of this name, declared type and size.
  TVRXFieldDef& AddField(std::string_view name, TVRXAdvancedFieldType type, int32_t size = 0);

  // Recomputes every field's sizes (an unknown storage type raises
  // 30050) and lays the fields out after the null bitmap. A record past
  // the 32-bit range raises "Record size %d exceeds the limit of %d bytes".
  virtual void ComputeOffsets();

  // Valid after ComputeOffsets.
  int32_t NullBitmapSize() const { return (Count() + 7) / 8; }
  int32_t MemoryRecordSize() const { return memoryRecordSize_; }
  int32_t DiskRecordSize() const { return diskRecordSize_; }

  // Raises "Invalid record buffer size %d. Should be at least %d" when
  // `record` cannot hold a memory record of this layout.
  void CheckMemoryRecord(std::span<const uint8_t> record) const;

 protected:
  bool Accepts(const TVRXMetaObjectDef& definition) const override;

 private:
  int32_t memoryRecordSize_ = 0;
  int32_t diskRecordSize_ = 0;
};

// The null bit of field `fieldNo` in a record's bitmap; the caller has
// checked that the record holds the bitmap.
inline bool FieldIsNull(std::span<const uint8_t> record, int32_t fieldNo) {
  return (record[static_cast<size_t>(fieldNo / 8)] & (1u << (fieldNo % 8))) != 0;
}
inline void SetFieldNull(std::span<uint8_t> record, int32_t fieldNo, bool isNull) {
  auto& byte = record[static_cast<size_t>(fieldNo / 8)];
  const auto bit = static_cast<uint8_t>(1u << (fieldNo % 8));
  byte = static_cast<uint8_t>(isNull ? (byte | bit) : (byte & ~bit));
}

}  // namespace vrx
