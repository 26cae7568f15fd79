#include "engine/storage/records/VRXRecord.h"

#include <cstring>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/values/VRXValueBytes.h"

namespace vrx {

namespace {

void CheckSize(std::span<const uint8_t> record, int32_t wanted) {
  if (record.size() < static_cast<size_t>(wanted))
    throw EVRXException("Invalid record buffer size %d. Should be at least %d",
                        {record.size(), wanted}, 30522);
}

bool FieldFits(const TVRXFieldDef& field, size_t recordSize) {
  return field.MemoryOffset() >= 0 &&
         static_cast<size_t>(field.MemoryOffset()) + static_cast<size_t>(field.MemorySize()) <=
             recordSize;
}

}  // namespace

int32_t FieldBufferSize(const TVRXFieldDef& field) {
  switch (field.StorageType()) {
    case TVRXBaseFieldType::ShortInt:
      return 2;
    case TVRXBaseFieldType::Cardinal:
    case TVRXBaseFieldType::Single:
    case TVRXBaseFieldType::Extended:
      return 8;
    default:
      return field.IsBlob() ? 0 : field.MemorySize();
  }
}

bool GetFieldValue(int32_t fieldNo, const TVRXFieldDefs& fieldDefs, void* outBuffer,
                   std::span<const uint8_t> memoryRecord) {
  if (fieldNo < 0 || fieldNo >= fieldDefs.Count())
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, fieldDefs.Count()}, 10000);
  const TVRXFieldDef& field = fieldDefs.Field(fieldNo);
  if (!FieldFits(field, memoryRecord.size()) ||
      memoryRecord.size() < static_cast<size_t>(fieldDefs.NullBitmapSize()))
    throw EVRXException(
        "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
        {fieldNo, field.MemoryOffset(), field.MemorySize()}, 10002);
  if (FieldIsNull(memoryRecord, fieldNo)) return false;
  if (outBuffer == nullptr || field.IsBlob()) return true;
  const uint8_t* from = memoryRecord.data() + field.MemoryOffset();
  auto* to = static_cast<uint8_t*>(outBuffer);
  switch (field.StorageType()) {
    case TVRXBaseFieldType::ShortInt:
      bytes::StoreI16(to, bytes::LoadI8(from));
      break;
    case TVRXBaseFieldType::Cardinal:
      bytes::StoreI64(to, static_cast<int64_t>(bytes::LoadU32(from)));
      break;
    case TVRXBaseFieldType::Single:
      bytes::StoreDouble(to, static_cast<double>(bytes::LoadSingle(from)));
      break;
    case TVRXBaseFieldType::Extended:
      bytes::StoreDouble(to, static_cast<double>(bytes::LoadExtended(from)));
      break;
    default:
      std::memcpy(to, from, static_cast<size_t>(field.MemorySize()));
  }
  return true;
}

void SetFieldValue(int32_t fieldNo, const TVRXFieldDefs& fieldDefs, const void* inBuffer,
                   std::span<uint8_t> memoryRecord) {
  if (fieldNo < 0 || fieldNo >= fieldDefs.Count())
    throw EVRXException("Invalid field number - FieldNo = %d, FieldCount = %d",
                        {fieldNo, fieldDefs.Count()}, 10004);
  const TVRXFieldDef& field = fieldDefs.Field(fieldNo);
  if (!FieldFits(field, memoryRecord.size()) ||
      memoryRecord.size() < static_cast<size_t>(fieldDefs.NullBitmapSize()))
    throw EVRXException(
        "Error setting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
        {fieldNo, field.MemoryOffset(), field.MemorySize()}, 30521);
  const auto* from = static_cast<const uint8_t*>(inBuffer);
  bool isNull = from == nullptr;
  if (!isNull) {
    const TVRXAdvancedFieldType declared = field.DeclaredType();
    if (IsWideTextAdvancedType(declared))
      isNull = bytes::LoadU16(from) == 0;
    else if (IsTextAdvancedType(declared))
      isNull = from[0] == 0;
  }
  if (isNull) {
    SetFieldNull(memoryRecord, fieldNo, true);
    return;
  }
  uint8_t* to = memoryRecord.data() + field.MemoryOffset();
  switch (field.StorageType()) {
    case TVRXBaseFieldType::ShortInt:
      bytes::StoreU8(to, static_cast<uint8_t>(bytes::LoadU16(from)));
      break;
    case TVRXBaseFieldType::Cardinal:
      bytes::StoreU32(to, static_cast<uint32_t>(bytes::LoadU64(from)));
      break;
    case TVRXBaseFieldType::Single:
      bytes::StoreSingle(to, static_cast<float>(bytes::LoadDouble(from)));
      break;
    case TVRXBaseFieldType::Extended:
      bytes::StoreExtended(to, static_cast<long double>(bytes::LoadDouble(from)));
      break;
    default:
      if (!field.IsBlob()) std::memcpy(to, from, static_cast<size_t>(field.MemorySize()));
  }
  SetFieldNull(memoryRecord, fieldNo, false);
}

bool RecordsEqual(const TVRXFieldDefs& fieldDefs, std::span<const uint8_t> a,
                  std::span<const uint8_t> b) {
  CheckSize(a, fieldDefs.MemoryRecordSize());
  CheckSize(b, fieldDefs.MemoryRecordSize());
  const auto bitmap = static_cast<size_t>(fieldDefs.NullBitmapSize());
  if (std::memcmp(a.data(), b.data(), bitmap) != 0) return false;
  for (int32_t i = 0; i < fieldDefs.Count(); ++i) {
    const TVRXFieldDef& field = fieldDefs.Field(i);
    if (std::memcmp(a.data() + field.MemoryOffset(), b.data() + field.MemoryOffset(),
                    static_cast<size_t>(field.DiskSize())) != 0)
      return false;
  }
  return true;
}

void MemoryToDisk(const TVRXFieldDefs& fieldDefs, std::span<const uint8_t> memoryRecord,
                  std::span<uint8_t> diskRecord) {
  CheckSize(memoryRecord, fieldDefs.MemoryRecordSize());
  CheckSize(diskRecord, fieldDefs.DiskRecordSize());
  std::memset(diskRecord.data(), 0, static_cast<size_t>(fieldDefs.DiskRecordSize()));
  std::memcpy(diskRecord.data(), memoryRecord.data(),
              static_cast<size_t>(fieldDefs.NullBitmapSize()));
  for (int32_t i = 0; i < fieldDefs.Count(); ++i) {
    const TVRXFieldDef& field = fieldDefs.Field(i);
    std::memcpy(diskRecord.data() + field.DiskOffset(), memoryRecord.data() + field.MemoryOffset(),
                static_cast<size_t>(field.DiskSize()));
  }
}

void DiskToMemory(const TVRXFieldDefs& fieldDefs, std::span<const uint8_t> diskRecord,
                  std::span<uint8_t> memoryRecord) {
  CheckSize(diskRecord, fieldDefs.DiskRecordSize());
  CheckSize(memoryRecord, fieldDefs.MemoryRecordSize());
  std::memset(memoryRecord.data(), 0, static_cast<size_t>(fieldDefs.MemoryRecordSize()));
  std::memcpy(memoryRecord.data(), diskRecord.data(),
              static_cast<size_t>(fieldDefs.NullBitmapSize()));
  for (int32_t i = 0; i < fieldDefs.Count(); ++i) {
    const TVRXFieldDef& field = fieldDefs.Field(i);
    std::memcpy(memoryRecord.data() + field.MemoryOffset(), diskRecord.data() + field.DiskOffset(),
                static_cast<size_t>(field.DiskSize()));
  }
}

}  // namespace vrx
