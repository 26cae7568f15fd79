// Integer array growth and shrink, bit array search, ordinals and stream
// form, the pointer list.
#include "engine/base/VRXArrays.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"

namespace vrx {
namespace {

// ---- TVRXIntegerArray ----

TEST(IntegerArray, GrowthDoublesStepUpToMaximum) {
  TVRXIntegerArray array(4, 16);
  EXPECT_EQ(array.Capacity(), 0);
  // Each time the capacity is exceeded the step doubles first: 8, 16, 16...
  struct Step {
    int32_t appendUpTo;
    int32_t capacity;
    int32_t growth;
  };
  const Step steps[] = {{1, 8, 8}, {8, 8, 8}, {9, 24, 16}, {24, 24, 16}, {25, 40, 16}, {41, 56, 16}};
  int32_t next = 0;
  for (const Step& step : steps) {
    while (array.Count() < step.appendUpTo) array.Append(next++ * 3);
    EXPECT_EQ(array.Capacity(), step.capacity) << "count " << array.Count();
    EXPECT_EQ(array.GrowthStep(), step.growth) << "count " << array.Count();
  }
  for (int32_t i = 0; i < array.Count(); ++i) ASSERT_EQ(array[i], i * 3);
}

TEST(IntegerArray, SetCountBeyondStepTakesRequestedCount) {
  TVRXIntegerArray array(4, 64);
  array.SetCount(100);
  EXPECT_EQ(array.Capacity(), 100);
  EXPECT_EQ(array.Count(), 100);
  EXPECT_EQ(array[99], 0);
}

TEST(IntegerArray, ShrinkReleasesRoomOnlyBeyondShrinkStep) {
  TVRXIntegerArray array(4, 16);
  array.SetCount(40);
  ASSERT_EQ(array.Capacity(), 40);
  // Room left 40-36 = 4, not above the shrink step 4: capacity kept.
  array.SetCount(36);
  EXPECT_EQ(array.Capacity(), 40);
  EXPECT_EQ(array.ShrinkStep(), 4);
  // Room 40-30 = 10 > 4: step doubles to 8, capacity becomes the count.
  array.SetCount(30);
  EXPECT_EQ(array.Capacity(), 30);
  EXPECT_EQ(array.ShrinkStep(), 8);
  // Room 8 is not above 8.
  array.SetCount(22);
  EXPECT_EQ(array.Capacity(), 30);
  array.SetCount(5);
  EXPECT_EQ(array.Capacity(), 5);
  EXPECT_EQ(array.ShrinkStep(), 16);
  array.SetCount(0);
  EXPECT_EQ(array.Capacity(), 0);
  EXPECT_EQ(array.Data(), nullptr);
}

TEST(IntegerArray, ElementsComingBackAfterShrinkAreZero) {
  TVRXIntegerArray array(8, 8);
  for (int i = 1; i <= 10; ++i) array.Append(i);
  array.SetCount(8);  // room 16 - 8 is not above the shrink step: capacity kept
  array.SetCount(10);
  EXPECT_EQ(array[8], 0);
  EXPECT_EQ(array[9], 0);
  EXPECT_EQ(array[7], 8);
}

TEST(IntegerArray, DeleteAtShiftsAndContainsScans) {
  TVRXIntegerArray array(2, 8);
  for (int v : {5, 7, 9, 11}) array.Append(v);
  array.DeleteAt(1);
  ASSERT_EQ(array.Count(), 3);
  EXPECT_EQ(array[0], 5);
  EXPECT_EQ(array[1], 9);
  EXPECT_EQ(array[2], 11);
  EXPECT_TRUE(array.Contains(11));
  EXPECT_FALSE(array.Contains(7));
  EXPECT_EQ(array.IndexOf(9), 1);
  array.DeleteAt(2);
  EXPECT_EQ(array.Count(), 2);
  EXPECT_THROW(array.DeleteAt(2), std::out_of_range);
  EXPECT_THROW(array[-1], std::out_of_range);
  EXPECT_THROW(array.SetCount(-1), std::invalid_argument);
}

TEST(IntegerArray, CopyIsIndependent) {
  TVRXIntegerArray array(2, 8);
  array.Append(1);
  array.Append(2);
  TVRXIntegerArray copy = array;
  copy[0] = 10;
  EXPECT_EQ(array[0], 1);
  EXPECT_EQ(copy[1], 2);
  EXPECT_EQ(copy.Capacity(), array.Capacity());
}

// ---- TVRXBitsArray ----

TVRXBitsArray BitsWith(int32_t count, std::initializer_list<int32_t> set) {
  TVRXBitsArray bits;
  bits.SetBitCount(count);
  for (int32_t i : set) bits.SetBit(i, true);
  return bits;
}

TEST(BitsArray, OrdinalsOfTenBitsWithTwoSet) {
  TVRXBitsArray bits = BitsWith(10, {2, 7});
  EXPECT_EQ(bits.CountSetBits(), 2);
  EXPECT_EQ(bits.BitOfOrdinal(0), 2);
  EXPECT_EQ(bits.BitOfOrdinal(1), 7);
  EXPECT_EQ(bits.BitOfOrdinal(2), -1);
  struct Case {
    int32_t bit;
    int32_t ordinal;
  };
  for (Case c : {Case{0, -1}, Case{2, 0}, Case{3, 0}, Case{7, 1}, Case{9, 1}}) {
    EXPECT_EQ(bits.OrdinalOfBit(c.bit), c.ordinal) << c.bit;
  }
}

TEST(BitsArray, OrdinalsAcrossBytesAndWhenAllSet) {
  TVRXBitsArray bits = BitsWith(40, {0, 9, 17, 31, 39});
  EXPECT_EQ(bits.BitOfOrdinal(3), 31);
  EXPECT_EQ(bits.BitOfOrdinal(4), 39);
  EXPECT_EQ(bits.OrdinalOfBit(30), 2);
  EXPECT_EQ(bits.OrdinalOfBit(31), 3);
  bits.SetAll(true);
  EXPECT_EQ(bits.CountSetBits(), 40);
  EXPECT_EQ(bits.BitOfOrdinal(25), 25);
  EXPECT_EQ(bits.OrdinalOfBit(25), 25);
}

TEST(BitsArray, SetCountIsKeptUpToDate) {
  TVRXBitsArray bits;
  bits.SetBitCount(20);
  bits.SetBit(3, true);
  bits.SetBit(3, true);  // already set: no double count
  bits.SetBit(19, true);
  EXPECT_EQ(bits.CountSetBits(), 2);
  bits.SetBit(3, false);
  EXPECT_EQ(bits.CountSetBits(), 1);
  bits.SetAll(true);
  EXPECT_EQ(bits.CountSetBits(), 20);
  // Shrinking recounts; bits cut away do not come back when growing.
  bits.SetBitCount(12);
  EXPECT_EQ(bits.CountSetBits(), 12);
  bits.SetBitCount(20);
  EXPECT_EQ(bits.CountSetBits(), 12);
  EXPECT_FALSE(bits.GetBit(12));
  EXPECT_FALSE(bits.GetBit(19));
  bits.SetAll(false);
  EXPECT_EQ(bits.CountSetBits(), 0);
}

TEST(BitsArray, FindFirstAndNearest) {
  TVRXBitsArray bits = BitsWith(30, {4, 12, 25});
  EXPECT_EQ(bits.FindFirst(true), 4);
  EXPECT_EQ(bits.FindFirst(false), 0);
  struct Case {
    bool fromStart;
    bool forward;
    int32_t start;
    int32_t expected;
  };
  const Case cases[] = {
      {true, true, 99, 4},  {true, false, 0, 25},  {false, true, 4, 12},  {false, true, 12, 25},
      {false, true, 25, -1}, {false, false, 25, 12}, {false, false, 4, -1}, {false, false, 13, 12},
      {false, true, -1, 4}, {false, false, 30, 25},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bits.FindNearest(c.fromStart, c.forward, c.start), c.expected)
        << c.fromStart << c.forward << " " << c.start;
  }
  bits.SetAll(true);
  EXPECT_EQ(bits.FindFirst(false), -1);
  TVRXBitsArray none = BitsWith(9, {});
  EXPECT_EQ(none.FindNearest(true, true, 0), -1);
  EXPECT_EQ(none.FindFirst(true), -1);
}

TEST(BitsArray, IndexOutOfRangeNamesItsPlace) {
  TVRXBitsArray bits = BitsWith(10, {1});
  struct Case {
    std::function<void()> call;
    int32_t nativeError;
    const char* text;
  };
  const Case cases[] = {
      {[&] { bits.GetBit(10); }, 10394, "Invalid bit no = 10, number of bits = 10"},
      {[&] { bits.SetBit(-1, true); }, 10395, "Invalid bit no = -1, number of bits = 10"},
      {[&] { bits.BitOfOrdinal(12); }, 10428, "Invalid bit no = 12, number of bits = 10"},
      {[&] { bits.OrdinalOfBit(10); }, 10429, "Invalid bit no = 10, number of bits = 10"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.NativeError(), c.nativeError);
      EXPECT_EQ(e.Text(), c.text);
    }
  }
}

TEST(BitsArray, StreamFormBytes) {
  TVRXBitsArray bits = BitsWith(10, {2, 7, 9});
  std::vector<uint8_t> out = {0xEE};  // saving appends
  bits.SaveToBuffer(out);
  const std::vector<uint8_t> expected = {0xEE, 10, 0, 0, 0, 3, 0, 0, 0, 0x84, 0x02};
  EXPECT_EQ(out, expected);

  TVRXBitsArray loaded;
  EXPECT_EQ(loaded.LoadFromBuffer(out.data() + 1, out.size() - 1), 10u);
  EXPECT_EQ(loaded.BitCount(), 10);
  EXPECT_EQ(loaded.CountSetBits(), 3);
  EXPECT_EQ(loaded.BitOfOrdinal(2), 9);

  TVRXBitsArray empty;
  std::vector<uint8_t> emptyOut;
  empty.SaveToBuffer(emptyOut);
  EXPECT_EQ(emptyOut, std::vector<uint8_t>(8, 0));
}

TEST(BitsArray, LoadDistrustsStoredCountAndTailBits) {
  // 10 bits, a stored count of 7 that is wrong, and stray bits 10..15 set.
  const std::vector<uint8_t> data = {10, 0, 0, 0, 7, 0, 0, 0, 0x01, 0xFF};
  TVRXBitsArray bits;
  ASSERT_EQ(bits.LoadFromBuffer(data.data(), data.size()), 10u);
  EXPECT_EQ(bits.CountSetBits(), 3);  // bits 0, 8, 9
  std::vector<uint8_t> out;
  bits.SaveToBuffer(out);
  EXPECT_EQ(out, (std::vector<uint8_t>{10, 0, 0, 0, 3, 0, 0, 0, 0x01, 0x03}));
}

TEST(BitsArray, ShortStreamLeavesArrayUnchanged) {
  const std::vector<uint8_t> full = {20, 0, 0, 0, 1, 0, 0, 0, 0x01, 0, 0};
  struct Case {
    size_t size;
    int32_t nativeError;
    const char* text;
  };
  const Case cases[] = {
      {2, 10401, "Cannot read from stream. Position = 0, Stream size = 2, Block size = 4, Bytes Read = 2"},
      {6, 10426, "Cannot read from stream. Position = 4, Stream size = 6, Block size = 4, Bytes Read = 2"},
      {10, 10402, "Cannot read from stream. Position = 8, Stream size = 10, Block size = 3, Bytes Read = 2"},
  };
  for (const Case& c : cases) {
    TVRXBitsArray bits = BitsWith(5, {4});
    try {
      bits.LoadFromBuffer(full.data(), c.size);
      ADD_FAILURE() << "no error for size " << c.size;
    } catch (const EVRXException& e) {
      EXPECT_EQ(e.NativeError(), c.nativeError);
      EXPECT_EQ(e.Text(), c.text);
    }
    EXPECT_EQ(bits.BitCount(), 5);
    EXPECT_TRUE(bits.GetBit(4));
  }
  const std::vector<uint8_t> negative = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  TVRXBitsArray bits;
  try {
    bits.LoadFromBuffer(negative.data(), negative.size());
    ADD_FAILURE() << "negative bit count accepted";
  } catch (const EVRXException& e) {
    EXPECT_EQ(e.NativeError(), 10401);
  }
}

// ---- TVRXSortedStringPtrArray ----

TEST(PointerList, KeepsInsertionOrderAndDoesNotOwn) {
  int a = 1;
  int b = 2;
  int c = 3;
  TVRXSortedStringPtrArray list;
  EXPECT_EQ(list.Add(&a), 0);
  EXPECT_EQ(list.Add(&c), 1);
  list.Insert(1, &b);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], &b);
  EXPECT_EQ(list.IndexOf(&c), 2);
  EXPECT_EQ(list.Remove(&a), 0);
  EXPECT_EQ(list.Remove(&a), -1);
  EXPECT_EQ(list[0], &b);
  EXPECT_THROW(list.Insert(5, &a), std::out_of_range);
  EXPECT_THROW(list.Delete(2), std::out_of_range);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(a + b + c, 6);  // untouched
}

}  // namespace
}  // namespace vrx
