#include "engine/storage/metadata/VRXMetadataIO.h"

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"

namespace vrx::metaio {

void WriteU8(TVRXStream& stream, uint8_t value, int32_t code) {
  WriteChecked(&value, 1, stream, code);
}

void WriteI32(TVRXStream& stream, int32_t value, int32_t code) {
  unsigned char buffer[4];
  bytes::StoreI32(buffer, value);
  WriteChecked(buffer, 4, stream, code);
}

void WriteI64(TVRXStream& stream, int64_t value, int32_t code) {
  unsigned char buffer[8];
  bytes::StoreI64(buffer, value);
  WriteChecked(buffer, 8, stream, code);
}

uint8_t ReadU8(TVRXStream& stream, int32_t code) {
  uint8_t value = 0;
  ReadChecked(&value, 1, stream, code);
  return value;
}

int32_t ReadI32(TVRXStream& stream, int32_t code) {
  unsigned char buffer[4];
  ReadChecked(buffer, 4, stream, code);
  return bytes::LoadI32(buffer);
}

int64_t ReadI64(TVRXStream& stream, int32_t code) {
  unsigned char buffer[8];
  ReadChecked(buffer, 8, stream, code);
  return bytes::LoadI64(buffer);
}

void WriteName(TVRXStream& stream, std::string_view name, int32_t code) {
  const auto length = static_cast<uint8_t>(name.size());
  WriteChecked(&length, 1, stream, code);
  if (length > 0) WriteChecked(name.data(), length, stream, code);
}

std::string ReadName(TVRXStream& stream, int32_t code) {
  const uint8_t length = ReadU8(stream, code);
  std::string name(length, '\0');
  if (length > 0) ReadChecked(name.data(), length, stream, code);
  return name;
}

void WriteSizedText(TVRXStream& stream, std::string_view text, bool wideSize, int32_t code) {
  const auto length = static_cast<uint8_t>(text.size());
  if (wideSize)
    WriteI32(stream, int32_t{length} + 1, code);
  else
    WriteU8(stream, static_cast<uint8_t>(length + 1), code);
  WriteName(stream, text, code);
}

std::string ReadSizedText(TVRXStream& stream, bool wideSize, int32_t code) {
  const int64_t position = stream.Position();
  const int32_t size = wideSize ? ReadI32(stream, code) : ReadU8(stream, code);
  const uint8_t length = ReadU8(stream, code);
  // The size must describe the length byte and the characters that follow;
  // a one-byte size of 0 is what a 255-character text leaves behind.
  const int32_t expected = wideSize ? length + 1 : static_cast<uint8_t>(length + 1);
  if (size != expected) ThrowBadStoredValue(stream, position, size, code);
  std::string text(length, '\0');
  if (length > 0) ReadChecked(text.data(), length, stream, code);
  return text;
}

int32_t ReadCount(TVRXStream& stream, int32_t minItemBytes, int32_t code) {
  const int64_t position = stream.Position();
  const int32_t count = ReadI32(stream, code);
  const int64_t left = stream.GetSize() - stream.Position();
  if (count < 0 || static_cast<int64_t>(count) * minItemBytes > left)
    ThrowBadStoredValue(stream, position, count, code);
  return count;
}

void ThrowBadStoredValue(TVRXStream& stream, int64_t position, int64_t value, int32_t code) {
  throw EVRXException(
      "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
      {position, stream.GetSize(), value, 0}, code);
}

}  // namespace vrx::metaio
