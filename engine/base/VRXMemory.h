// The engine's memory manager: one process-wide object hands out page
// buffers, record buffers and value buffers, counts the bytes handed out and
// enforces an optional limit. Thread-safe: the byte total has its own lock.
//
// Every block is framed: a prefix holding the requested size, the allocation
// method and the tag 0xACCACCAC directly before the caller's bytes, and the
// trailer tag 0xACCEACCE directly after them. The tags catch foreign
// pointers and overruns when the block is freed. The prefix is padded to 16
// bytes so that the caller's bytes are aligned like any heap block.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace vrx {

class TVRXMemoryManager {
 public:
  static constexpr uint32_t kPrefixTag = 0xACCACCAC;
  static constexpr uint32_t kTrailerTag = 0xACCEACCE;
  static constexpr int kPrefixSize = 16;
  static constexpr int kTrailerSize = 4;

  // The process-wide manager.
  static TVRXMemoryManager& Instance();

  TVRXMemoryManager() = default;
  TVRXMemoryManager(const TVRXMemoryManager&) = delete;
  TVRXMemoryManager& operator=(const TVRXMemoryManager&) = delete;

  // A block of `size` bytes (> 0), zero-filled unless told otherwise.
  // Throws "Cannot allocate 0 bytes" (30286), "Memory limit exceeded
  // (Limit = %d bytes)" (30004) or "GetMem error: %s" (30015).
  void* GetMem(int32_t size, bool zeroFill = true);

  // Frees the block and sets the pointer to nullptr; nullptr is ignored.
  // Throws "Invalid pointer" (30001) for a block without the prefix tag (the
  // block is then left alone), "Memory overrun detected" (30137) when the
  // trailer tag was overwritten (the block is freed first).
  void FreeAndNilMem(void*& block);
  template <typename T>
  void FreeAndNil(T*& block) {
    void* p = block;
    block = nullptr;
    FreeAndNilMem(p);
  }

  // Resizes the block to newSize bytes (> 0), keeping min(old, new) bytes;
  // the growth is zero-filled when asked. A nullptr block is allocated.
  // Throws "Invalid pointer" (30002), the limit and GetMem errors, or
  // "ReallocMem error: %s" (30014).
  void ReallocMem(void*& block, int32_t newSize, bool zeroFillGrowth = true);

  // The requested size of a block. Throws "Invalid pointer" (30005).
  int32_t GetMemSize(const void* block) const;

  // Free physical memory, or the limit when one is set and smaller.
  int64_t AvailableMemory() const;

  // Bytes handed out and not yet freed (callers' sizes, without framing).
  int64_t AllocatedBytes() const;

  // 0 = no limit.
  void SetLimit(int64_t limit);
  int64_t Limit() const;

  // For tests of out-of-memory paths: the n-th allocation from now (GetMem
  // or ReallocMem, counted from 1) fails as if the system had no memory
  // left, with the usual "GetMem error" or "ReallocMem error"; the ones
  // after it succeed again. 0 turns the injection off.
  void FailAllocation(int64_t n);
  // Allocations still to come before the injected failure (0 = none armed).
  int64_t AllocationsBeforeFailure() const;

 private:
  void Reserve(int64_t bytes);
  void Release(int64_t bytes);
  // Counts one allocation; true when it is the one that must fail.
  bool TakeInjectedFailure();

  mutable std::mutex mutex_;
  int64_t allocated_ = 0;
  int64_t limit_ = 0;
  int64_t failCountdown_ = 0;
};

// Frees a block of the engine memory manager. An overrun detected when the
// block is freed ends the process: a deleter cannot report it, and the
// memory around the block can no longer be trusted.
struct TVRXMemFree {
  void operator()(void* block) const noexcept;
};

// A buffer from the engine memory manager, owned by whoever holds it.
using TVRXBuffer = std::unique_ptr<void, TVRXMemFree>;

}  // namespace vrx
