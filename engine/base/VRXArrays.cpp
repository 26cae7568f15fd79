#include "engine/base/VRXArrays.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXStream.h"

namespace vrx {
namespace {

constexpr const char* kInvalidBit = "Invalid bit no = %d, number of bits = %d";

// Set bits per byte value, built once.
const std::array<uint8_t, 256>& BitsPerByte() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      int n = 0;
      for (int v = i; v != 0; v >>= 1) n += v & 1;
      t[static_cast<size_t>(i)] = static_cast<uint8_t>(n);
    }
    return t;
  }();
  return table;
}

void PutInt32(std::vector<uint8_t>& out, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

// ---- TVRXIntegerArray ----

TVRXIntegerArray::TVRXIntegerArray(int32_t initialGrowth, int32_t maxGrowth)
    : growth_(std::max(1, initialGrowth)),
      shrink_(growth_),
      maxGrowth_(std::max(growth_, maxGrowth)) {}

TVRXIntegerArray::TVRXIntegerArray(const TVRXIntegerArray& other)
    : count_(other.count_),
      capacity_(other.capacity_),
      growth_(other.growth_),
      shrink_(other.shrink_),
      maxGrowth_(other.maxGrowth_) {
  if (capacity_ > 0) {
    items_ = std::make_unique<int32_t[]>(static_cast<size_t>(capacity_));
    std::copy_n(other.items_.get(), count_, items_.get());
  }
}

TVRXIntegerArray& TVRXIntegerArray::operator=(const TVRXIntegerArray& other) {
  if (this != &other) {
    TVRXIntegerArray copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void TVRXIntegerArray::Reallocate(int32_t capacity) {
  std::unique_ptr<int32_t[]> items;
  if (capacity > 0) {
    items = std::make_unique<int32_t[]>(static_cast<size_t>(capacity));  // zeroed
    std::copy_n(items_.get(), std::min(count_, capacity), items.get());
  }
  items_ = std::move(items);
  capacity_ = capacity;
}

void TVRXIntegerArray::SetCount(int32_t count) {
  if (count < 0) throw std::invalid_argument("negative count");
  if (count == 0) {
    items_.reset();
    capacity_ = 0;
    count_ = 0;
    return;
  }
  if (count > capacity_) {
    growth_ = std::min(growth_ * 2, maxGrowth_);
    Reallocate(std::max(capacity_ + growth_, count));
  } else if (count < count_ && capacity_ - count > shrink_) {
    shrink_ = std::min(shrink_ * 2, maxGrowth_);
    Reallocate(count);
  }
  // Elements that come back into use (after a shrink that kept the
  // capacity) start at 0 like fresh ones.
  if (count > count_) std::fill(items_.get() + count_, items_.get() + count, 0);
  count_ = count;
}

void TVRXIntegerArray::Append(int32_t value) {
  SetCount(count_ + 1);
  items_[static_cast<size_t>(count_ - 1)] = value;
}

void TVRXIntegerArray::DeleteAt(int32_t index) {
  CheckIndex(index);
  std::copy(items_.get() + index + 1, items_.get() + count_, items_.get() + index);
  SetCount(count_ - 1);
}

bool TVRXIntegerArray::Contains(int32_t value) const { return IndexOf(value) >= 0; }

int32_t TVRXIntegerArray::IndexOf(int32_t value) const {
  for (int32_t i = 0; i < count_; ++i) {
    if (items_[static_cast<size_t>(i)] == value) return i;
  }
  return -1;
}

int32_t TVRXIntegerArray::operator[](int32_t index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

int32_t& TVRXIntegerArray::operator[](int32_t index) {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TVRXIntegerArray::CheckIndex(int32_t index) const {
  if (index < 0 || index >= count_) throw std::out_of_range("integer array index out of range");
}

// ---- TVRXBitsArray ----

TVRXBitsArray::TVRXBitsArray(const TVRXBitsArray& other)
    : bitCount_(other.bitCount_), setCount_(other.setCount_) {
  const size_t bytes = ByteCount();
  if (bytes > 0) {
    bytes_ = std::make_unique<uint8_t[]>(bytes);
    std::memcpy(bytes_.get(), other.bytes_.get(), bytes);
  }
}

TVRXBitsArray& TVRXBitsArray::operator=(const TVRXBitsArray& other) {
  if (this != &other) {
    TVRXBitsArray copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void TVRXBitsArray::SetBitCount(int32_t bitCount) {
  if (bitCount < 0) throw std::invalid_argument("negative bit count");
  const size_t oldBytes = ByteCount();
  const size_t newBytes = ByteCountFor(bitCount);
  if (newBytes != oldBytes) {
    std::unique_ptr<uint8_t[]> bytes;
    if (newBytes > 0) {
      bytes = std::make_unique<uint8_t[]>(newBytes);  // zeroed
      if (oldBytes > 0) std::memcpy(bytes.get(), bytes_.get(), std::min(oldBytes, newBytes));
    }
    bytes_ = std::move(bytes);
  }
  const bool shrinks = bitCount < bitCount_;
  bitCount_ = bitCount;
  if (shrinks) {
    ClearTail();
    Recount();
  }
}

void TVRXBitsArray::CheckIndex(int32_t index, int32_t nativeError) const {
  if (index < 0 || index >= bitCount_) throw EVRXException(kInvalidBit, {index, bitCount_}, nativeError);
}

bool TVRXBitsArray::GetBit(int32_t index) const {
  CheckIndex(index, 10394);
  return (bytes_[static_cast<size_t>(index) / 8] >> (index % 8) & 1) != 0;
}

void TVRXBitsArray::SetBit(int32_t index, bool value) {
  CheckIndex(index, 10395);
  uint8_t& byte = bytes_[static_cast<size_t>(index) / 8];
  const uint8_t mask = static_cast<uint8_t>(1u << (index % 8));
  if (((byte & mask) != 0) == value) return;
  if (value) {
    byte |= mask;
    ++setCount_;
  } else {
    byte &= static_cast<uint8_t>(~mask);
    --setCount_;
  }
}

void TVRXBitsArray::SetAll(bool value) {
  if (bitCount_ == 0) return;
  std::memset(bytes_.get(), value ? 0xFF : 0, ByteCount());
  ClearTail();
  setCount_ = value ? bitCount_ : 0;
}

void TVRXBitsArray::ClearTail() {
  if (bitCount_ % 8 != 0) bytes_[ByteCount() - 1] &= static_cast<uint8_t>((1u << (bitCount_ % 8)) - 1);
}

void TVRXBitsArray::Recount() {
  const auto& table = BitsPerByte();
  int32_t count = 0;
  for (size_t i = 0; i < ByteCount(); ++i) count += table[bytes_[i]];
  setCount_ = count;
}

int32_t TVRXBitsArray::FindFirst(bool value) const {
  const uint8_t skip = value ? 0x00 : 0xFF;  // bytes that cannot hold the bit looked for
  for (size_t i = 0; i < ByteCount(); ++i) {
    if (bytes_[i] == skip) continue;
    for (int b = 0; b < 8; ++b) {
      const int32_t index = static_cast<int32_t>(i * 8) + b;
      if (index >= bitCount_) return -1;
      if (((bytes_[i] >> b & 1) != 0) == value) return index;
    }
  }
  return -1;
}

int32_t TVRXBitsArray::FindNearest(bool fromStart, bool forward, int32_t startIndex) const {
  if (setCount_ == 0) return -1;
  int32_t index;
  if (fromStart) {
    index = forward ? 0 : bitCount_ - 1;
  } else {
    index = forward ? std::max(startIndex, -1) + 1 : std::min(startIndex, bitCount_) - 1;
  }
  const int32_t step = forward ? 1 : -1;
  while (index >= 0 && index < bitCount_) {
    const uint8_t byte = bytes_[static_cast<size_t>(index) / 8];
    if (byte == 0) {
      // Jump over the whole empty byte.
      index = forward ? (index / 8 + 1) * 8 : (index / 8) * 8 - 1;
      continue;
    }
    if ((byte >> (index % 8) & 1) != 0) return index;
    index += step;
  }
  return -1;
}

int32_t TVRXBitsArray::BitOfOrdinal(int32_t ordinal) const {
  CheckIndex(ordinal, 10428);
  if (setCount_ == bitCount_) return ordinal;
  if (ordinal >= setCount_) return -1;
  const auto& table = BitsPerByte();
  int32_t remaining = ordinal;
  for (size_t i = 0;; ++i) {
    const uint8_t byte = bytes_[i];
    if (remaining >= table[byte]) {
      remaining -= table[byte];
      continue;
    }
    for (int b = 0; b < 8; ++b) {
      if ((byte >> b & 1) != 0 && remaining-- == 0) return static_cast<int32_t>(i * 8) + b;
    }
  }
}

int32_t TVRXBitsArray::OrdinalOfBit(int32_t index) const {
  CheckIndex(index, 10429);
  if (setCount_ == bitCount_) return index;
  const auto& table = BitsPerByte();
  const size_t whole = static_cast<size_t>(index) / 8;
  int32_t count = 0;
  for (size_t i = 0; i < whole; ++i) count += table[bytes_[i]];
  // Bits 0..index%8 of the last byte.
  const uint8_t mask = static_cast<uint8_t>((2u << (index % 8)) - 1);
  count += table[bytes_[whole] & mask];
  return count - 1;
}

void TVRXBitsArray::SaveToBuffer(std::vector<uint8_t>& out) const {
  if (bitCount_ > 0 && !bytes_) throw EVRXException("Nil pointer occured", 10399);
  PutInt32(out, bitCount_);
  PutInt32(out, setCount_);
  out.insert(out.end(), bytes_.get(), bytes_.get() + ByteCount());
}

size_t TVRXBitsArray::LoadFromBuffer(const uint8_t* data, size_t size) {
  auto shortRead = [&](size_t position, size_t block, int32_t nativeError) {
    const size_t available = size > position ? std::min(size - position, block) : 0;
    return StreamReadError(static_cast<int64_t>(position), static_cast<int64_t>(size),
                           static_cast<int64_t>(block), static_cast<int64_t>(available),
                           nativeError);
  };
  if (size < 4) throw shortRead(0, 4, 10401);
  const int32_t bitCount = bytes::LoadI32(data);
  if (bitCount < 0) throw shortRead(0, 4, 10401);
  if (size < 8) throw shortRead(4, 4, 10426);
  const size_t bytes = ByteCountFor(bitCount);
  if (size - 8 < bytes) throw shortRead(8, bytes, 10402);
  LoadBits(bitCount, data + 8);
  return 8 + bytes;
}

void TVRXBitsArray::LoadBits(int32_t bitCount, const uint8_t* bytes) {
  if (bitCount < 0) throw std::invalid_argument("negative bit count");
  const size_t count = ByteCountFor(bitCount);
  std::unique_ptr<uint8_t[]> copy;
  if (count > 0) {
    copy = std::make_unique<uint8_t[]>(count);
    std::memcpy(copy.get(), bytes, count);
  }
  bytes_ = std::move(copy);
  bitCount_ = bitCount;
  ClearTail();
  Recount();
}

// ---- TVRXSortedStringPtrArray ----

int32_t TVRXSortedStringPtrArray::Add(void* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TVRXSortedStringPtrArray::Insert(int32_t index, void* item) {
  if (index < 0 || index > Count()) throw std::out_of_range("pointer list index out of range");
  items_.insert(items_.begin() + index, item);
}

void TVRXSortedStringPtrArray::Delete(int32_t index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("pointer list index out of range");
  items_.erase(items_.begin() + index);
}

int32_t TVRXSortedStringPtrArray::Remove(const void* item) {
  const int32_t index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

int32_t TVRXSortedStringPtrArray::IndexOf(const void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
}

void* TVRXSortedStringPtrArray::operator[](int32_t index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("pointer list index out of range");
  return items_[static_cast<size_t>(index)];
}

void*& TVRXSortedStringPtrArray::operator[](int32_t index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("pointer list index out of range");
  return items_[static_cast<size_t>(index)];
}

}  // namespace vrx
