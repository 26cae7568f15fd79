// The value stream form of TVRXVariant (field default values and CHECK
// bounds in table metadata): storage type, NULL flag, then for a value its
// int32 size and its bytes. Only the stream's virtual operations are used,
// so the values library needs no link to the stream implementations.
#include <cstdint>

#include "engine/values/VRXVariant.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXStream.h"

namespace vrx {

namespace {

constexpr int32_t kSaveType = 10179;
constexpr int32_t kSaveNullFlag = 10180;
constexpr int32_t kSaveSize = 10181;
constexpr int32_t kSaveData = 10182;
constexpr int32_t kLoadType = 10183;
constexpr int32_t kLoadNullFlag = 10184;
constexpr int32_t kLoadSize = 10185;
constexpr int32_t kLoadData = 10186;

}  // namespace

void TVRXVariant::SaveToStream(TVRXStream& stream) const {
  const uint8_t type = TypeCode(dataType_);
  WriteChecked(&type, 1, stream, kSaveType);
  const uint8_t flag = IsNull() ? kNullFlag : 0;
  WriteChecked(&flag, 1, stream, kSaveNullFlag);
  if (flag != 0) return;
  unsigned char size[4];
  bytes::StoreU32(size, static_cast<uint32_t>(dataSize_));
  WriteChecked(size, 4, stream, kSaveSize);
  WriteChecked(data_, dataSize_, stream, kSaveData);
}

void TVRXVariant::LoadFromStream(TVRXStream& stream) {
  Clear(TVRXBaseFieldType::Unknown);
  uint8_t type = 0;
  ReadChecked(&type, 1, stream, kLoadType);
  dataType_ = static_cast<TVRXBaseFieldType>(type);
  uint8_t flag = 0;
  ReadChecked(&flag, 1, stream, kLoadNullFlag);
  if (flag != 0) return;
  unsigned char sizeBytes[4];
  ReadChecked(sizeBytes, 4, stream, kLoadSize);
  const int32_t size = bytes::LoadI32(sizeBytes);
  // A stored size is checked before anything is allocated: a corrupt size
  // must neither reserve gigabytes nor yield a buffer shorter than its type.
  const int64_t position = stream.Position();
  const int64_t streamSize = stream.GetSize();
  bool sizeFits = size > 0;
  if (sizeFits) {
    try {
      CheckValueSize(size, dataType_);
    } catch (const EVRXException&) {
      sizeFits = false;
    }
  }
  if (!sizeFits) throw StreamReadError(position, streamSize, size, 0, kLoadSize);
  if (streamSize - position < size)
    throw StreamReadError(position, streamSize, size, 0, kLoadData);
  TVRXConvertedValue buffer{AllocValueBuffer(size), size};
  ReadChecked(buffer.Data.get(), size, stream, kLoadData);
  TakeBuffer(std::move(buffer));
}

}  // namespace vrx
