// Small containers of the engine: a growable integer array (column number
// lists of the query executor), a bit array (record bitmaps of cursors and
// table data, with its stream form) and a plain pointer list (the session
// objects of the cursor layer).
//
// None of them locks: each is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vrx {

// ---- TVRXIntegerArray ----
//
// Count, capacity and two step sizes: growth and shrink both start at the
// initial growth and double (capped at the maximum growth) each time they
// are used. Growing past the capacity doubles the growth step, then sets the
// capacity to old capacity + step, or to the requested count if larger.
// Shrinking, when the room left over (capacity - new count) exceeds the
// shrink step, doubles the shrink step and sets the capacity to the new
// count. A count of 0 frees the storage. New elements are 0.
//
// Indexes outside 0..Count()-1 throw std::out_of_range.
class TVRXIntegerArray {
 public:
  // initialGrowth >= 1, maxGrowth >= initialGrowth (smaller values are
  // raised to these minimums).
  explicit TVRXIntegerArray(int32_t initialGrowth = 16, int32_t maxGrowth = 4096);

  TVRXIntegerArray(const TVRXIntegerArray& other);
  TVRXIntegerArray& operator=(const TVRXIntegerArray& other);
  TVRXIntegerArray(TVRXIntegerArray&&) noexcept = default;
  TVRXIntegerArray& operator=(TVRXIntegerArray&&) noexcept = default;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  int32_t GrowthStep() const { return growth_; }
  int32_t ShrinkStep() const { return shrink_; }

  // Throws std::invalid_argument for a negative count.
  void SetCount(int32_t count);
  void Append(int32_t value);
  // Removes the element at `index`, shifting the rest down.
  void DeleteAt(int32_t index);
  bool Contains(int32_t value) const;
  // Position of the first element equal to `value`, or -1.
  int32_t IndexOf(int32_t value) const;
  void Clear() { SetCount(0); }

  int32_t operator[](int32_t index) const;
  int32_t& operator[](int32_t index);

  // The elements (nullptr when the capacity is 0).
  const int32_t* Data() const { return items_.get(); }

 private:
  void Reallocate(int32_t capacity);
  void CheckIndex(int32_t index) const;

  std::unique_ptr<int32_t[]> items_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
  int32_t growth_;
  int32_t shrink_;
  int32_t maxGrowth_;
};

// ---- TVRXBitsArray ----
//
// Bit i is bit (i mod 8), least significant first, of byte i / 8. The
// number of set bits is kept up to date by SetBit and SetAll and recomputed
// when the array shrinks. Bits beyond the bit count are always 0.
//
// An index at or beyond the bit count (or negative) raises EVRXException
// "Invalid bit no = %d, number of bits = %d": 10394 in GetBit, 10395 in
// SetBit, 10428 in BitOfOrdinal, 10429 in OrdinalOfBit.
//
// Stream form (little-endian): bit count int32, set-bit count int32, then
// the ceil(bits / 8) bytes.
class TVRXBitsArray {
 public:
  TVRXBitsArray() = default;
  TVRXBitsArray(const TVRXBitsArray& other);
  TVRXBitsArray& operator=(const TVRXBitsArray& other);
  TVRXBitsArray(TVRXBitsArray&&) noexcept = default;
  TVRXBitsArray& operator=(TVRXBitsArray&&) noexcept = default;

  int32_t BitCount() const { return bitCount_; }
  // Bits added are 0. Throws std::invalid_argument for a negative count.
  void SetBitCount(int32_t bitCount);

  bool GetBit(int32_t index) const;
  void SetBit(int32_t index, bool value);
  void SetAll(bool value);
  int32_t CountSetBits() const { return setCount_; }

  // The first bit equal to `value`, or -1.
  int32_t FindFirst(bool value) const;
  // The next set bit after `startIndex` walking forward (or backward); with
  // fromStart the first (forward) or last (backward) set bit. -1 when there
  // is none. A startIndex outside the array is clipped (so -1 forward or
  // BitCount() backward also means "from the end").
  int32_t FindNearest(bool fromStart, bool forward, int32_t startIndex) const;

  // The index of the set bit with the given ordinal (0 = the first set bit);
  // -1 when fewer bits are set. The identity when all bits are set.
  int32_t BitOfOrdinal(int32_t ordinal) const;
  // How many set bits precede or include bit `index`, minus one. The
  // identity when all bits are set.
  int32_t OrdinalOfBit(int32_t index) const;

  // The ceil(bits / 8) bytes (nullptr when there are no bits).
  const uint8_t* Bytes() const { return bytes_.get(); }
  size_t ByteCount() const { return ByteCountFor(bitCount_); }
  static size_t ByteCountFor(int32_t bitCount) { return (static_cast<size_t>(bitCount) + 7) / 8; }

  // Appends the stream form to `out`.
  void SaveToBuffer(std::vector<uint8_t>& out) const;
  // Replaces the content with the stream form at data[0..size); returns the
  // bytes consumed. Short data raises "Cannot read from stream. Position =
  // %d, Stream size = %d, Block size = %d, Bytes Read = %d" with 10401 (bit
  // count, also for a negative bit count), 10426 (set-bit count) or 10402
  // (bytes); the array is then unchanged. The set-bit count is recomputed
  // from the bytes (a stored count that disagrees is not trusted) and bits
  // beyond the bit count are cleared.
  size_t LoadFromBuffer(const uint8_t* data, size_t size);
  // For stream readers that read the parts themselves: takes bitCount bits
  // from `bytes` (ByteCountFor(bitCount) bytes) and recomputes the set-bit
  // count. Throws std::invalid_argument for a negative count.
  void LoadBits(int32_t bitCount, const uint8_t* bytes);

 private:
  void CheckIndex(int32_t index, int32_t nativeError) const;
  void Recount();
  void ClearTail();

  std::unique_ptr<uint8_t[]> bytes_;
  int32_t bitCount_ = 0;
  int32_t setCount_ = 0;
};

// ---- TVRXSortedStringPtrArray ----
//
// A plain list of pointers the list does not own (the cursor layer keeps
// its session objects in one). Order is insertion order; indexes outside
// the list throw std::out_of_range.
class TVRXSortedStringPtrArray {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  int32_t Add(void* item);  // returns its index
  void Insert(int32_t index, void* item);  // 0..Count()
  void Delete(int32_t index);
  // Removes the first occurrence; returns its former index or -1.
  int32_t Remove(const void* item);
  int32_t IndexOf(const void* item) const;
  void Clear() { items_.clear(); }
  void* operator[](int32_t index) const;
  void*& operator[](int32_t index);

 private:
  std::vector<void*> items_;
};

}  // namespace vrx
