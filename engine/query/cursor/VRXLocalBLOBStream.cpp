#include "engine/query/cursor/VRXLocalBLOBStream.h"

#include "engine/base/VRXExcept.h"

namespace vrx {

TVRXLocalBLOBStream::TVRXLocalBLOBStream(std::unique_ptr<TVRXStream> data, int32_t mode,
                                         int32_t physicalFieldNo, std::span<uint8_t> record)
    : data_(std::move(data)), mode_(mode), physicalFieldNo_(physicalFieldNo), record_(record) {
  if (data_ == nullptr) throw EVRXException("Pointer is nil", 30543);
}

void TVRXLocalBLOBStream::RequireWritable() const {
  if (mode_ == kRead) throw EVRXException("Cannot write to read only stream", 30544);
}

void TVRXLocalBLOBStream::SetSize(int64_t newSize) {
  RequireWritable();
  data_->SetSize(newSize);
}

int32_t TVRXLocalBLOBStream::Read(void* buffer, int32_t count) { return data_->Read(buffer, count); }

int32_t TVRXLocalBLOBStream::Write(const void* buffer, int32_t count) {
  RequireWritable();
  return data_->Write(buffer, count);
}

int64_t TVRXLocalBLOBStream::Seek(int64_t offset, int origin) { return data_->Seek(offset, origin); }

}  // namespace vrx
