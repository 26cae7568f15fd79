#include "engine/base/VRXMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "platform/os/SystemMemory.h"

namespace vrx {

namespace {

// Prefix layout, counted back from the caller's pointer:
//   -9 int32 requested size, -5 byte method, -4 int32 prefix tag.
constexpr int kSizeOffset = -9;
constexpr int kMethodOffset = -5;
constexpr int kTagOffset = -4;

enum Method : uint8_t { kPlain = 0, kZeroed = 1 };

uint32_t Load32(const unsigned char* p) { return bytes::LoadU32(p); }
void Store32(unsigned char* p, uint32_t v) { bytes::StoreU32(p, v); }

unsigned char* Base(void* block) {
  return static_cast<unsigned char*>(block) - TVRXMemoryManager::kPrefixSize;
}

bool HasPrefixTag(const void* block) {
  return block != nullptr &&
         Load32(static_cast<const unsigned char*>(block) + kTagOffset) ==
             TVRXMemoryManager::kPrefixTag;
}

int32_t StoredSize(const void* block) {
  return static_cast<int32_t>(Load32(static_cast<const unsigned char*>(block) + kSizeOffset));
}

void Frame(unsigned char* user, int32_t size, Method method) {
  Store32(user + kSizeOffset, static_cast<uint32_t>(size));
  user[kMethodOffset] = method;
  Store32(user + kTagOffset, TVRXMemoryManager::kPrefixTag);
  Store32(user + size, TVRXMemoryManager::kTrailerTag);
}

size_t FramedSize(int32_t size) {
  return static_cast<size_t>(size) + TVRXMemoryManager::kPrefixSize +
         TVRXMemoryManager::kTrailerSize;
}

}  // namespace

TVRXMemoryManager& TVRXMemoryManager::Instance() {
  static TVRXMemoryManager manager;
  return manager;
}

void TVRXMemoryManager::Reserve(int64_t bytes) {
  std::lock_guard lock(mutex_);
  if (limit_ > 0 && allocated_ + bytes > limit_)
    throw EVRXException("Memory limit exceeded (Limit = %d bytes)", {limit_}, 30004);
  allocated_ += bytes;
}

void TVRXMemoryManager::Release(int64_t bytes) {
  std::lock_guard lock(mutex_);
  allocated_ -= bytes;
}

void* TVRXMemoryManager::GetMem(int32_t size, bool zeroFill) {
  if (size == 0) throw EVRXException("Cannot allocate 0 bytes", 30286);
  if (size < 0) throw EVRXException("GetMem error: %s", {"negative size"}, 30015);
  Reserve(size);
  void* raw = TakeInjectedFailure()
                  ? nullptr
                  : (zeroFill ? std::calloc(1, FramedSize(size)) : std::malloc(FramedSize(size)));
  if (raw == nullptr) {
    Release(size);
    throw EVRXException("GetMem error: %s", {"Out of memory"}, 30015);
  }
  unsigned char* user = static_cast<unsigned char*>(raw) + kPrefixSize;
  Frame(user, size, zeroFill ? kZeroed : kPlain);
  return user;
}

void TVRXMemoryManager::FreeAndNilMem(void*& block) {
  if (block == nullptr) return;
  if (!HasPrefixTag(block)) throw EVRXException("Invalid pointer", 30001);
  void* p = block;
  block = nullptr;
  const int32_t size = StoredSize(p);
  const bool overrun =
      Load32(static_cast<unsigned char*>(p) + size) != kTrailerTag;
  Store32(static_cast<unsigned char*>(p) + kTagOffset, 0);  // a second free is caught
  std::free(Base(p));
  Release(size);
  if (overrun) throw EVRXException("Memory overrun detected", 30137);
}

void TVRXMemoryManager::ReallocMem(void*& block, int32_t newSize, bool zeroFillGrowth) {
  if (block == nullptr) {
    block = GetMem(newSize, zeroFillGrowth);
    return;
  }
  if (!HasPrefixTag(block)) throw EVRXException("Invalid pointer", 30002);
  if (newSize <= 0) throw EVRXException("ReallocMem error: %s", {"invalid size"}, 30014);
  const int32_t oldSize = StoredSize(block);
  if (Load32(static_cast<unsigned char*>(block) + oldSize) != kTrailerTag)
    throw EVRXException("ReallocMem error: %s", {"Memory overrun detected"}, 30014);
  if (newSize > oldSize) Reserve(newSize - oldSize);
  void* raw = TakeInjectedFailure() ? nullptr : std::realloc(Base(block), FramedSize(newSize));
  if (raw == nullptr) {
    if (newSize > oldSize) Release(newSize - oldSize);
    throw EVRXException("ReallocMem error: %s", {"Out of memory"}, 30014);
  }
  if (newSize < oldSize) Release(oldSize - newSize);
  unsigned char* user = static_cast<unsigned char*>(raw) + kPrefixSize;
  const auto method = static_cast<Method>(user[kMethodOffset]);
  if (newSize > oldSize && zeroFillGrowth)
    std::memset(user + oldSize, 0, static_cast<size_t>(newSize - oldSize));
  Frame(user, newSize, method);
  block = user;
}

int32_t TVRXMemoryManager::GetMemSize(const void* block) const {
  if (!HasPrefixTag(block)) throw EVRXException("Invalid pointer", 30005);
  return StoredSize(block);
}

int64_t TVRXMemoryManager::AvailableMemory() const {
  const int64_t free = os::FreePhysicalMemory();
  std::lock_guard lock(mutex_);
  return (limit_ > 0 && limit_ < free) ? limit_ : free;
}

int64_t TVRXMemoryManager::AllocatedBytes() const {
  std::lock_guard lock(mutex_);
  return allocated_;
}

void TVRXMemoryManager::SetLimit(int64_t limit) {
  std::lock_guard lock(mutex_);
  limit_ = limit < 0 ? 0 : limit;
}

int64_t TVRXMemoryManager::Limit() const {
  std::lock_guard lock(mutex_);
  return limit_;
}

void TVRXMemoryManager::FailAllocation(int64_t n) {
  std::lock_guard lock(mutex_);
  failCountdown_ = n < 0 ? 0 : n;
}

int64_t TVRXMemoryManager::AllocationsBeforeFailure() const {
  std::lock_guard lock(mutex_);
  return failCountdown_;
}

bool TVRXMemoryManager::TakeInjectedFailure() {
  std::lock_guard lock(mutex_);
  if (failCountdown_ == 0) return false;
  return --failCountdown_ == 0;
}

void TVRXMemFree::operator()(void* block) const noexcept {
  TVRXMemoryManager::Instance().FreeAndNilMem(block);
}

}  // namespace vrx
