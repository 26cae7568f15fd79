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

[[noreturn]] void ThrowRead(int64_t position, int64_t size, int32_t count, int32_t read,
                            int32_t code) {
  throw EVRXException(
      "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
      {position, size, count, read}, code);
}

void Write(TVRXStream& stream, const void* buffer, int32_t count, int32_t code) {
  const int64_t position = stream.Position();
  const int32_t written = stream.Write(buffer, count);
  if (written != count)
    throw EVRXException(
        "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = "
        "%d",
        {position, stream.GetSize(), count, written}, code);
}

void Read(TVRXStream& stream, void* buffer, int32_t count, int32_t code) {
  const int64_t position = stream.Position();
  const int32_t read = stream.Read(buffer, count);
  if (read != count) ThrowRead(position, stream.GetSize(), count, read, code);
}

}  // namespace

void TVRXVariant::SaveToStream(TVRXStream& stream) const {
  const uint8_t type = TypeCode(dataType_);
  Write(stream, &type, 1, kSaveType);
  const uint8_t flag = IsNull() ? kNullFlag : 0;
  Write(stream, &flag, 1, kSaveNullFlag);
  if (flag != 0) return;
  unsigned char size[4];
  bytes::StoreU32(size, static_cast<uint32_t>(dataSize_));
  Write(stream, size, 4, kSaveSize);
  Write(stream, data_, dataSize_, kSaveData);
}

void TVRXVariant::LoadFromStream(TVRXStream& stream) {
  Clear(TVRXBaseFieldType::Unknown);
  uint8_t type = 0;
  Read(stream, &type, 1, kLoadType);
  dataType_ = static_cast<TVRXBaseFieldType>(type);
  uint8_t flag = 0;
  Read(stream, &flag, 1, kLoadNullFlag);
  if (flag != 0) return;
  unsigned char sizeBytes[4];
  Read(stream, sizeBytes, 4, kLoadSize);
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
  if (!sizeFits) ThrowRead(position, streamSize, size, 0, kLoadSize);
  if (streamSize - position < size) ThrowRead(position, streamSize, size, 0, kLoadData);
  TVRXConvertedValue buffer{AllocValueBuffer(size), size};
  Read(stream, buffer.Data.get(), size, kLoadData);
  TakeBuffer(std::move(buffer));
}

}  // namespace vrx
