#include "engine/storage/pages/VRXPage.h"

#include <cstring>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"

namespace vrx {

TVRXPage::TVRXPage(TVRXPageManager* manager, int32_t pageSize, int32_t headerSize)
    : manager_(manager), pageSize_(pageSize), headerSize_(headerSize) {}

TVRXPage::~TVRXPage() { FreeBuffer(); }

void TVRXPage::FreeBuffer() noexcept {
  if (buffer_ != nullptr && ownsBuffer_) {
    try {
      TVRXMemoryManager::Instance().FreeAndNil(buffer_);
    } catch (...) {
      // A damaged frame cannot be reported from a destructor; the memory
      // manager has already released the block.
    }
  }
  buffer_ = nullptr;
}

void TVRXPage::AllocateFreshBuffer() {
  if (buffer_ == nullptr) {
    buffer_ = static_cast<uint8_t*>(TVRXMemoryManager::Instance().GetMem(pageSize_, true));
    ownsBuffer_ = true;
  } else {
    std::memset(buffer_, 0, static_cast<size_t>(pageSize_));
  }
  if (headerSize_ >= kPageHeaderSize) InitPageHeader(buffer_);
}

void TVRXPage::AllocateBufferForRead() {
  if (buffer_ != nullptr) return;
  buffer_ = static_cast<uint8_t*>(TVRXMemoryManager::Instance().GetMem(pageSize_, false));
  ownsBuffer_ = true;
}

void TVRXPage::SetBuffer(uint8_t* buffer, bool ownsBuffer) {
  if (buffer == buffer_) {
    ownsBuffer_ = ownsBuffer;
    return;
  }
  FreeBuffer();
  buffer_ = buffer;
  ownsBuffer_ = ownsBuffer;
}

void TVRXPage::GrowBuffer(int32_t newSize) {
  if (buffer_ == nullptr) throw EVRXException("Invalid page buffer. Buffer is Nil", 20038);
  if (newSize < pageSize_) throw EVRXException("Invalid page modification", 20039);
  if (!ownsBuffer_) {
    // A borrowed buffer cannot be resized in place: copy it into one of our own.
    auto* own = static_cast<uint8_t*>(TVRXMemoryManager::Instance().GetMem(newSize, true));
    std::memcpy(own, buffer_, static_cast<size_t>(pageSize_));
    buffer_ = own;
    ownsBuffer_ = true;
    return;
  }
  void* block = buffer_;
  TVRXMemoryManager::Instance().ReallocMem(block, newSize, true);
  buffer_ = static_cast<uint8_t*>(block);
}

}  // namespace vrx
