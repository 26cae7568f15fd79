#include "engine/storage/metadata/VRXFieldManager.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXMetadataIO.h"
#include "engine/values/VRXConverts.h"
#include "engine/values/VRXValueBytes.h"

namespace vrx {

namespace {

// The largest value a field of this storage type can hold, so that a
// counter is never stored cut to a smaller (and already used) value.
int64_t StorageLimit(TVRXBaseFieldType type) {
  switch (type) {
    case TVRXBaseFieldType::ShortInt:
      return std::numeric_limits<int8_t>::max();
    case TVRXBaseFieldType::SmallInt:
      return std::numeric_limits<int16_t>::max();
    case TVRXBaseFieldType::Integer:
      return std::numeric_limits<int32_t>::max();
    case TVRXBaseFieldType::Byte:
      return std::numeric_limits<uint8_t>::max();
    case TVRXBaseFieldType::Word:
      return std::numeric_limits<uint16_t>::max();
    case TVRXBaseFieldType::Cardinal:
      return std::numeric_limits<uint32_t>::max();
    default:
      return std::numeric_limits<int64_t>::max();
  }
}

}  // namespace

const TVRXFieldDef& TVRXBaseFieldManager::CheckedField(int32_t fieldNo, int32_t nativeError) const {
  if (fieldNo < 0 || fieldNo >= fields_.Count())
    throw EVRXException("Field #%d not found", {fieldNo}, nativeError);
  return fields_.Field(fieldNo);
}

int64_t TVRXBaseFieldManager::GetNextAutoincValue(int32_t fieldNo) {
  const TVRXFieldDef& field = CheckedField(fieldNo, 30402);
  if (static_cast<size_t>(fieldNo) >= counters_.size())
    throw EVRXException("Field #%d not found", {fieldNo}, 30403);
  const int64_t increment = field.Increment() != 0 ? field.Increment() : 1;
  const int64_t typeLimit = StorageLimit(field.StorageType());
  const int64_t maximum = field.MaxValue() != 0 ? std::min(field.MaxValue(), typeLimit) : typeLimit;
  int64_t next = 0;
  const bool overflow = __builtin_add_overflow(counters_[fieldNo], increment, &next);
  if (overflow || next > maximum) {
    if (!field.Cycled())
      throw EVRXException("Autoinc max value exceeded for field '%s'", {field.Name()}, 20160);
    next = field.MinValue();
  }
  counters_[fieldNo] = next;
  return next;
}

void TVRXBaseFieldManager::ApplyDefaults(std::span<uint8_t> memoryRecord) {
  fields_.CheckMemoryRecord(memoryRecord);
  for (int32_t i = 0; i < fields_.Count(); ++i) {
    const TVRXFieldDef& field = fields_.Field(i);
    const TVRXVariant& value = field.DefaultValue();
    // A BLOB field's record bytes are its BLOB reference, which only the
    // BLOB storage writes; a default there would be taken for one.
    if (value.IsNull() || field.IsBlob()) continue;
    const TVRXConvertedValue converted = ConvertValueToLength(
        value.Data(), value.DataSize(), value.DataType(), field.StorageType(), field.Size());
    uint8_t* target = memoryRecord.data() + field.MemoryOffset();
    const auto size = static_cast<size_t>(field.MemorySize());
    const size_t copied = std::min(size, static_cast<size_t>(converted.Size));
    if (copied > 0) std::memcpy(target, converted.Data.get(), copied);
    std::memset(target + copied, 0, size - copied);
    SetFieldNull(memoryRecord, i, false);
  }
}

void TVRXBaseFieldManager::ApplyAutoincValues(TVRXSequenceSession& session,
                                              std::span<uint8_t> memoryRecord) {
  fields_.CheckMemoryRecord(memoryRecord);
  for (int32_t i = 0; i < fields_.Count(); ++i) {
    const TVRXFieldDef& field = fields_.Field(i);
    if (!field.IsAutoInc()) continue;
    uint8_t* bytesAt = memoryRecord.data() + field.MemoryOffset();
    const auto size = static_cast<size_t>(std::min(field.MemorySize(), 8));
    if (FieldIsNull(memoryRecord, i)) {
      unsigned char encoded[8];
      bytes::StoreI64(encoded, NextAutoincForSession(session, i));
      std::memcpy(bytesAt, encoded, size);
      SetFieldNull(memoryRecord, i, false);
    } else {
      // Read with the sign of the field's type: a negative value given to
      // a signed field must not pass for a huge counter.
      const int64_t given = bytes::LoadIntegerOf(field.StorageType(), bytesAt);
      if (static_cast<size_t>(i) < counters_.size() && given > counters_[i]) {
        counters_[i] = given;
        session.SetSequenceLastValue(field.ID(), given);
      }
    }
  }
}

int64_t TVRXBaseFieldManager::NextAutoincForSession(TVRXSequenceSession& session, int32_t fieldNo) {
  const int64_t value = GetNextAutoincValue(fieldNo);
  session.SetSequenceLastValue(fields_.Field(fieldNo).ID(), value);
  return value;
}

int64_t TVRXBaseFieldManager::GetSequenceLastValue(const TVRXSequenceSession& session,
                                                   int32_t fieldNo) {
  const TVRXFieldDef& field = CheckedField(fieldNo, 30402);
  int64_t value = 0;
  if (!session.FindSequenceLastValue(field.ID(), value))
    throw EVRXException("No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
                        {field.Name()}, 30012);
  return value;
}

void TVRXBaseFieldManager::LoadFromStream(TVRXStream& stream) {
  TVRXFieldDefs loaded;
  loaded.LoadFromStream(stream);
  loaded.ComputeOffsets();
  fields_.Swap(loaded);
  ResetCounters();
}

void TVRXBaseFieldManager::SaveToStream(TVRXStream& stream) const { fields_.SaveToStream(stream); }

void TVRXBaseFieldManager::SetFieldDefs(TVRXFieldDefs& fields) {
  for (int32_t i = 0; i < fields.Count(); ++i)
    fields.Item(i).SetID(table_.ObjectIDs().GetNextObjectID());
  TVRXFieldDefs copy;
  copy.Assign(fields);
  copy.ComputeOffsets();
  fields_.Swap(copy);
  ResetCounters();
}

void TVRXBaseFieldManager::ResetCounters() {
  counters_.assign(static_cast<size_t>(fields_.Count()), 0);
  for (int32_t i = 0; i < fields_.Count(); ++i)
    if (fields_.Field(i).IsAutoInc()) counters_[i] = fields_.Field(i).InitialValue();
}

void TVRXBaseFieldManager::WriteCounters(TVRXStream& stream) const {
  metaio::WriteI32(stream, static_cast<int32_t>(counters_.size()), metaio::kWriteCounterCount);
  for (int64_t counter : counters_) metaio::WriteI64(stream, counter, metaio::kWriteCounter);
}

void TVRXBaseFieldManager::ReadCounters(TVRXStream& stream) {
  const int32_t count = metaio::ReadCount(stream, 8, metaio::kReadCounterCount);
  std::vector<int64_t> counters(static_cast<size_t>(count));
  for (int64_t& counter : counters) counter = metaio::ReadI64(stream, metaio::kReadCounter);
  counters_ = std::move(counters);
}

bool TVRXBaseFieldManager::CheckBlobSettings() const {
  for (int32_t i = 0; i < fields_.Count(); ++i) {
    const TVRXFieldDef& field = fields_.Field(i);
    if (!field.IsBlob()) continue;
    if (field.BlobBlockSize() <= 0)
      throw EVRXException("BLOB block size should be > 0 for field %s", {field.Name()}, 10421);
    return true;
  }
  return false;
}

}  // namespace vrx
