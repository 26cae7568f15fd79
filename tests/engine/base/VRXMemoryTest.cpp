#include "engine/base/VRXMemory.h"

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "engine/base/VRXExcept.h"

namespace vrx {
namespace {

// Each test uses its own manager, so the counts are exact.
class MemoryManagerTest : public testing::Test {
 protected:
  TVRXMemoryManager mm_;
};

int NativeErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVRXException& e) {
    return e.NativeError();
  }
  return 0;
}

TEST_F(MemoryManagerTest, AllocateZeroFilledCountAndFree) {
  void* p = mm_.GetMem(100);
  EXPECT_EQ(mm_.GetMemSize(p), 100);
  EXPECT_EQ(mm_.AllocatedBytes(), 100);
  const auto* bytes = static_cast<unsigned char*>(p);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(bytes[i], 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  mm_.FreeAndNilMem(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm_.AllocatedBytes(), 0);
}

TEST_F(MemoryManagerTest, ReallocKeepsBytesAndZeroFillsGrowth) {
  void* p = mm_.GetMem(4);
  std::memcpy(p, "abcd", 4);
  mm_.ReallocMem(p, 8);
  EXPECT_EQ(std::memcmp(p, "abcd\0\0\0\0", 8), 0);
  EXPECT_EQ(mm_.AllocatedBytes(), 8);
  mm_.ReallocMem(p, 2);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  EXPECT_EQ(mm_.GetMemSize(p), 2);
  EXPECT_EQ(mm_.AllocatedBytes(), 2);
  mm_.FreeAndNilMem(p);
}

TEST_F(MemoryManagerTest, Errors) {
  EXPECT_EQ(NativeErrorOf([&] { mm_.GetMem(0); }), 30286);

  mm_.SetLimit(64);
  void* p = mm_.GetMem(60);
  try {
    mm_.GetMem(8);
    FAIL();
  } catch (const EVRXException& e) {
    EXPECT_STREQ(e.what(), "Memory limit exceeded (Limit = 64 bytes) - Native error: 30004");
  }
  EXPECT_EQ(mm_.AvailableMemory(), 64);
  EXPECT_EQ(NativeErrorOf([&] { mm_.ReallocMem(p, 100); }), 30004);
  EXPECT_EQ(mm_.GetMemSize(p), 60);  // unchanged after the refused growth
  mm_.SetLimit(0);

  alignas(16) unsigned char foreign[64] = {};
  void* f = foreign + 16;
  EXPECT_EQ(NativeErrorOf([&] { mm_.FreeAndNilMem(f); }), 30001);
  EXPECT_EQ(NativeErrorOf([&] { mm_.ReallocMem(f, 10); }), 30002);
  EXPECT_EQ(NativeErrorOf([&] { mm_.GetMemSize(f); }), 30005);

  // An overrun is reported after the block is freed.
  static_cast<unsigned char*>(p)[60] = 0;
  EXPECT_EQ(NativeErrorOf([&] { mm_.FreeAndNilMem(p); }), 30137);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm_.AllocatedBytes(), 0);
}

}  // namespace
}  // namespace vrx
