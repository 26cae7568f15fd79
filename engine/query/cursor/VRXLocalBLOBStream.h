// TVRXLocalBLOBStream: the stream a cursor hands out for a BLOB field of
// its record buffer. It passes every operation to the compressed stream
// that holds the field's data and refuses writes in read mode. The cursor
// keeps its open streams and frees them when they are closed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "engine/base/VRXStream.h"

namespace vrx {

class TVRXLocalBLOBStream final : public TVRXStream {
 public:
  static constexpr int32_t kWrite = 0;
  static constexpr int32_t kRead = 1;
  static constexpr int32_t kReadWrite = 2;

  TVRXLocalBLOBStream(std::unique_ptr<TVRXStream> data, int32_t mode, int32_t physicalFieldNo,
                      std::span<uint8_t> record);

  using TVRXStream::Seek;
  using TVRXStream::SetSize;
  // "Cannot write to read only stream" in read mode.
  void SetSize(int64_t newSize) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;

  int32_t Mode() const { return mode_; }
  bool Writable() const { return mode_ != kRead; }
  int32_t PhysicalFieldNo() const { return physicalFieldNo_; }
  std::span<uint8_t> Record() const { return record_; }
  TVRXStream& Data() const { return *data_; }

 private:
  void RequireWritable() const;

  std::unique_ptr<TVRXStream> data_;
  int32_t mode_;
  int32_t physicalFieldNo_;
  std::span<uint8_t> record_;
};

}  // namespace vrx
