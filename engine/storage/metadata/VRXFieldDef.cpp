#include "engine/storage/metadata/VRXFieldDef.h"

#include <limits>
#include <utility>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXMetadataIO.h"

namespace vrx {

namespace {

// The largest declared size whose storage size still fits 32 bits for
// every storage type (wide text takes two bytes per character and a
// terminator).
constexpr int32_t kMaxFieldSize = std::numeric_limits<int32_t>::max() / 2 - 1;

}  // namespace

// ---- TVRXFieldDef ----

void TVRXFieldDef::Assign(const TVRXMetaObjectDef& other) {
  const auto& field = SameClass<TVRXFieldDef>(other);
  if (&field == this) return;
  TVRXMetaObjectDef::Assign(other);
  storageType_ = field.storageType_;
  declaredType_ = field.declaredType_;
  size_ = field.size_;
  diskSize_ = field.diskSize_;
  memorySize_ = field.memorySize_;
  diskOffset_ = field.diskOffset_;
  memoryOffset_ = field.memoryOffset_;
  defaultValue_ = field.defaultValue_;
  blobCompressionAlgorithm_ = field.blobCompressionAlgorithm_;
  blobCompressionMode_ = field.blobCompressionMode_;
  blobBlockSize_ = field.blobBlockSize_;
  increment_ = field.increment_;
  initialValue_ = field.initialValue_;
  minValue_ = field.minValue_;
  maxValue_ = field.maxValue_;
  cycled_ = field.cycled_;
}

std::unique_ptr<TVRXMetaObjectDef> TVRXFieldDef::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXFieldDef(*this));
}

void TVRXFieldDef::SaveToStream(TVRXStream& stream) const {
  using namespace metaio;
  TVRXMetaObjectDef::SaveToStream(stream);
  WriteU8(stream, TypeCode(storageType_), kWriteStorageType);
  WriteU8(stream, TypeCode(declaredType_), kWriteDeclaredType);
  WriteI32(stream, size_, kWriteSize);
  if (IsBlob()) {
    WriteU8(stream, blobCompressionAlgorithm_, kWriteCompressionAlgorithm);
    WriteU8(stream, blobCompressionMode_, kWriteCompressionMode);
    WriteI32(stream, blobBlockSize_, kWriteBlockSize);
  }
  WriteI64(stream, increment_, kWriteIncrement);
  WriteI64(stream, initialValue_, kWriteInitialValue);
  WriteI64(stream, minValue_, kWriteMinValue);
  WriteI64(stream, maxValue_, kWriteMaxValue);
  WriteU8(stream, cycled_, kWriteCycled);
  defaultValue_.SaveToStream(stream);
}

void TVRXFieldDef::LoadFromStream(TVRXStream& stream) {
  using namespace metaio;
  TVRXMetaObjectDef::LoadFromStream(stream);
  storageType_ = static_cast<TVRXBaseFieldType>(ReadU8(stream, kReadStorageType));
  declaredType_ = static_cast<TVRXAdvancedFieldType>(ReadU8(stream, kReadDeclaredType));
  size_ = ReadI32(stream, kReadSize);
  if (IsBlob()) {
    blobCompressionAlgorithm_ = ReadU8(stream, kReadCompressionAlgorithm);
    blobCompressionMode_ = ReadU8(stream, kReadCompressionMode);
    blobBlockSize_ = ReadI32(stream, kReadBlockSize);
  }
  increment_ = ReadI64(stream, kReadIncrement);
  initialValue_ = ReadI64(stream, kReadInitialValue);
  minValue_ = ReadI64(stream, kReadMinValue);
  maxValue_ = ReadI64(stream, kReadMaxValue);
  cycled_ = ReadU8(stream, kReadCycled);
  defaultValue_.LoadFromStream(stream);
  ComputeSizes(true);
}

void TVRXFieldDef::SetDeclaredType(TVRXAdvancedFieldType type) {
  const TVRXBaseFieldType storage = BaseTypeOf(type);
  if (storage == TVRXBaseFieldType::Unknown)
    throw EVRXException("Unsupported data type '%s'", {AdvancedTypeName(type)}, 30007);
  declaredType_ = type;
  storageType_ = storage;
  ComputeSizes(false);
}

void TVRXFieldDef::SetSize(int32_t size) {
  const int32_t previous = size_;
  size_ = size;
  try {
    ComputeSizes(false);
  } catch (...) {
    size_ = previous;
    throw;
  }
}

void TVRXFieldDef::ComputeSizes(bool strict) {
  if (storageType_ == TVRXBaseFieldType::Unknown && !strict) {
    memorySize_ = diskSize_ = 0;
    return;
  }
  // The size only matters to the types that have a length; for those it
  // must give a storage size that 32 bits can hold and that is not
  // negative, or record offsets would run backwards.
  const bool sized = IsTextType(storageType_) || storageType_ == TVRXBaseFieldType::Bytes ||
                     storageType_ == TVRXBaseFieldType::VarBytes;
  if (sized && (size_ < 0 || size_ > kMaxFieldSize))
    throw EVRXException("Invalid size %d of field '%s'", {size_, Name()},
                        metaio::kInvalidFieldSize);
  memorySize_ = StorageSize(storageType_, size_);
  diskSize_ = IsBlob() ? kBlobDiskSize : memorySize_;
}

// ---- TVRXFieldDefs ----

TVRXMetaObjectDef& TVRXFieldDefs::InternalAddCreated() {
  items_.push_back(std::make_unique<TVRXFieldDef>());
  return *items_.back();
}

TVRXFieldDef& TVRXFieldDefs::AddField(std::string_view name, TVRXAdvancedFieldType type,
                                      int32_t size) {
  auto field = std::make_unique<TVRXFieldDef>();
  field->SetName(name);
  field->SetDeclaredType(type);
  field->SetSize(size);
  items_.push_back(std::move(field));
  return Field(Count() - 1);
}

bool TVRXFieldDefs::Accepts(const TVRXMetaObjectDef& definition) const {
  return dynamic_cast<const TVRXFieldDef*>(&definition) != nullptr;
}

void TVRXFieldDefs::Swap(TVRXMetaObjectDefs& other) {
  TVRXMetaObjectDefs::Swap(other);
  auto& fields = static_cast<TVRXFieldDefs&>(other);
  std::swap(memoryRecordSize_, fields.memoryRecordSize_);
  std::swap(diskRecordSize_, fields.diskRecordSize_);
}

void TVRXFieldDefs::ComputeOffsets() {
  const int64_t bitmap = NullBitmapSize();
  int64_t memoryOffset = bitmap;
  int64_t diskOffset = bitmap;
  constexpr int64_t kLimit = std::numeric_limits<int32_t>::max();
  for (int32_t i = 0; i < Count(); ++i) {
    TVRXFieldDef& field = Field(i);
    field.ComputeSizes(true);
    field.memoryOffset_ = static_cast<int32_t>(memoryOffset);
    field.diskOffset_ = static_cast<int32_t>(diskOffset);
    memoryOffset += field.memorySize_;
    diskOffset += field.diskSize_;
    if (memoryOffset > kLimit)
      throw EVRXException("Record size %d exceeds the limit of %d bytes", {memoryOffset, kLimit},
                          metaio::kRecordTooLarge);
  }
  memoryRecordSize_ = static_cast<int32_t>(memoryOffset);
  diskRecordSize_ = static_cast<int32_t>(diskOffset);
}

void TVRXFieldDefs::CheckMemoryRecord(std::span<const uint8_t> record) const {
  if (record.size() < static_cast<size_t>(memoryRecordSize_))
    throw EVRXException("Invalid record buffer size %d. Should be at least %d",
                        {record.size(), memoryRecordSize_}, metaio::kRecordBufferTooSmall);
}

}  // namespace vrx
