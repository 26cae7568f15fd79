// Record layout, field access with its conversions, record pages and the
// record bitmap, on real page buffers.
#include <gtest/gtest.h>

#include <optional>

#include <cstring>
#include <vector>

#include "engine/base/VRXBytes.h"
#include "engine/storage/records/VRXRecord.h"
#include "engine/storage/records/VRXRecordBitmap.h"
#include "engine/storage/records/VRXRecordPage.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

void Fields(TVRXFieldDefs& defs, int count) {
  for (int i = 0; i < count; ++i)
    defs.AddField("F" + std::to_string(i), TVRXAdvancedFieldType::Integer);
  defs.ComputeOffsets();
}

TEST(RecordLayout, NullBitmapAndFieldSizes) {
  struct Case {
    int fields;
    int bitmap;
  } cases[] = {{3, 1}, {8, 1}, {9, 2}};
  for (const Case& c : cases) {
    TVRXFieldDefs defs;
    Fields(defs, c.fields);
    EXPECT_EQ(defs.NullBitmapSize(), c.bitmap) << c.fields;
    EXPECT_EQ(defs.Field(0).MemoryOffset(), c.bitmap) << c.fields;
  }
  TVRXFieldDefs mixed;
  mixed.AddField("S", TVRXAdvancedFieldType::String, 20);
  mixed.AddField("B", TVRXAdvancedFieldType::Blob);
  mixed.ComputeOffsets();
  EXPECT_EQ(mixed.Field(0).MemorySize(), 21);
  EXPECT_EQ(mixed.Field(0).DiskSize(), 21);
  EXPECT_EQ(mixed.Field(1).MemorySize(), 10);
  EXPECT_EQ(mixed.Field(1).DiskSize(), 6);
  EXPECT_EQ(mixed.MemoryRecordSize(), 1 + 21 + 10);
  EXPECT_EQ(mixed.DiskRecordSize(), 1 + 21 + 6);
}

TEST(RecordLayout, MemoryAndDiskRecordsRoundTrip) {
  TVRXFieldDefs defs;
  defs.AddField("A", TVRXAdvancedFieldType::Integer);
  defs.AddField("B", TVRXAdvancedFieldType::Blob);
  defs.AddField("C", TVRXAdvancedFieldType::SmallInt);
  defs.ComputeOffsets();
  std::vector<uint8_t> memory(static_cast<size_t>(defs.MemoryRecordSize()), 0xAB);
  memory[0] = 0x02;  // B is NULL
  std::vector<uint8_t> disk(static_cast<size_t>(defs.DiskRecordSize()));
  MemoryToDisk(defs, memory, disk);
  EXPECT_EQ(disk[0], 0x02);
  std::vector<uint8_t> back(memory.size());
  DiskToMemory(defs, disk, back);
  EXPECT_TRUE(RecordsEqual(defs, memory, back));
  // The 4 working bytes of the BLOB reference stay in memory only.
  const int32_t tail = defs.Field(1).MemoryOffset() + 6;
  EXPECT_EQ(back[static_cast<size_t>(tail)], 0);
  std::vector<uint8_t> shortRecord(2);
  EXPECT_NE(
      MessageOf([&] { MemoryToDisk(defs, shortRecord, disk); }).find("Invalid record buffer size"),
      std::string::npos);
}

TEST(FieldAccess, ConversionsAndNulls) {
  TVRXFieldDefs defs;
  defs.AddField("S", TVRXAdvancedFieldType::ShortInt);
  defs.AddField("C", TVRXAdvancedFieldType::Cardinal);
  defs.AddField("T", TVRXAdvancedFieldType::String, 20);
  defs.AddField("W", TVRXAdvancedFieldType::WideString, 5);
  defs.AddField("E", TVRXAdvancedFieldType::Extended);
  defs.AddField("G", TVRXAdvancedFieldType::Single);
  defs.ComputeOffsets();
  std::vector<uint8_t> record(static_cast<size_t>(defs.MemoryRecordSize()), 0);

  uint8_t in[8] = {};
  uint8_t out[32] = {};
  bytes::StoreI16(in, -5);
  SetFieldValue(0, defs, in, record);
  ASSERT_TRUE(GetFieldValue(0, defs, out, record));
  EXPECT_EQ(bytes::LoadI16(out), -5);

  bytes::StoreI64(in, 4000000000LL);
  SetFieldValue(1, defs, in, record);
  ASSERT_TRUE(GetFieldValue(1, defs, out, record));
  EXPECT_EQ(bytes::LoadI64(out), 4000000000LL);

  bytes::StoreDouble(in, 2.5);
  SetFieldValue(4, defs, in, record);
  SetFieldValue(5, defs, in, record);
  ASSERT_TRUE(GetFieldValue(4, defs, out, record));
  EXPECT_EQ(bytes::LoadDouble(out), 2.5);
  ASSERT_TRUE(GetFieldValue(5, defs, out, record));
  EXPECT_EQ(bytes::LoadDouble(out), 2.5);

  // An empty text is NULL; a wide text starting with U+0100 (a zero low
  // byte) is a value.
  uint8_t text[21] = {};
  SetFieldValue(2, defs, text, record);
  EXPECT_FALSE(GetFieldValue(2, defs, nullptr, record));
  std::memcpy(text, "abc", 4);
  SetFieldValue(2, defs, text, record);
  ASSERT_TRUE(GetFieldValue(2, defs, out, record));
  EXPECT_STREQ(reinterpret_cast<const char*>(out), "abc");
  uint8_t wide[12] = {};
  bytes::StoreU16(wide, 0x0100);
  SetFieldValue(3, defs, wide, record);
  ASSERT_TRUE(GetFieldValue(3, defs, out, record));
  EXPECT_EQ(bytes::LoadU16(out), 0x0100);
  SetFieldValue(3, defs, nullptr, record);
  EXPECT_FALSE(GetFieldValue(3, defs, out, record));

  EXPECT_EQ(MessageOf([&] { GetFieldValue(6, defs, out, record); }),
            "Invalid field number - FieldNo = 6, FieldCount = 6 - Native error: 10000");
  EXPECT_EQ(MessageOf([&] { SetFieldValue(6, defs, in, record); }),
            "Invalid field number - FieldNo = 6, FieldCount = 6 - Native error: 10004");
  std::vector<uint8_t> tooShort(3);
  EXPECT_NE(
      MessageOf([&] { GetFieldValue(2, defs, out, tooShort); }).find("Error getting field data"),
      std::string::npos);
}

// A page buffer of the standard size, outside any page manager.
struct PageFixture {
  TVRXPage page{nullptr, 4096, 40};
  PageFixture() { page.AllocateFreshBuffer(); }
};

TEST(RecordPage, RecordsPerPage) {
  EXPECT_EQ(RecordsPerPage(4056, 100), 40);
  // trunc((D - 1) / (R + 0.125)): one record needs R + 1.125 bytes.
  EXPECT_EQ(RecordsPerPage(4056, 4054), 1);
  EXPECT_EQ(RecordsPerPage(4056, 4055), 0);
  EXPECT_EQ(RecordsPerPage(4056, 0), 0);
}

TEST(RecordPage, SlotsAndBitmap) {
  PageFixture fixture;
  TVRXSmallRecordPage view(fixture.page, 40, 100);
  std::vector<uint8_t> record(100, 7);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(view.AddRecord(record), i);
  EXPECT_EQ(view.FirstFreeSlot(), -1);
  EXPECT_EQ(MessageOf([&] { view.AddRecord(record); }),
            "Cannot add record to page. Page is full - Native error: 20141");
  EXPECT_TRUE(view.ClearRecord(3));
  EXPECT_FALSE(view.ClearRecord(3));
  EXPECT_FALSE(view.WriteRecord(3, record));
  EXPECT_EQ(view.UsedSlotCount(), 39);
  EXPECT_EQ(view.NextUsedSlot(2), 4);
  EXPECT_EQ(view.PriorUsedSlot(4), 2);
  EXPECT_EQ(view.UsedSlotsBefore(5), 4);
  EXPECT_EQ(view.UsedSlotAt(3), 4);
  EXPECT_EQ(MessageOf([&] { view.UsedSlotAt(39); }), "Record not found - Native error: 20146");
  EXPECT_EQ(view.FirstFreeSlot(), 3);
  EXPECT_TRUE(fixture.page.Dirty());
  // Bitmap of 5 bytes, then the slots: slot 4 starts at 5 + 4 * 100.
  EXPECT_EQ(fixture.page.Data()[5 + 4 * 100], 7);
  EXPECT_EQ(fixture.page.Data()[0], 0xF7);

  for (int s = 0; s < 40; ++s) view.ClearRecord(s);
  EXPECT_EQ(MessageOf([&] { view.FirstUsedSlot(); }), "Record not found - Native error: 20143");
  EXPECT_EQ(MessageOf([&] { view.LastUsedSlot(); }), "Record not found - Native error: 20144");
  EXPECT_EQ(MessageOf([&] { TVRXSmallRecordPage(fixture.page, 41, 100); }),
            "Invalid number of records on page - Native error: 20140");
}

TEST(RecordBitmap, OrdinalsAndRecordIDs) {
  TVRXRecordBitmap bitmap(40);
  bitmap.Activate(7);
  const TVRXRecordID ids[] = {{3, 5}, {3, 39}, {9, 0}};
  for (const TVRXRecordID& id : ids) bitmap.SetRecord(id, true);
  EXPECT_EQ(bitmap.Count(), 3);
  EXPECT_EQ(bitmap.OrdinalOf({3, 39}), 2);
  EXPECT_EQ(bitmap.OrdinalOf({4, 0}), 3);
  TVRXRecordID found;
  ASSERT_TRUE(bitmap.RecordIDOfOrdinal(3, found));
  EXPECT_EQ(found.PageNo, 9);
  EXPECT_EQ(found.Slot, 0);
  EXPECT_FALSE(bitmap.RecordIDOfOrdinal(4, found));
  EXPECT_TRUE(bitmap.IsStale(8));
  bitmap.SetRecord({3, 5}, false);
  EXPECT_FALSE(bitmap.Contains({3, 5}));
  bitmap.Reset();
  EXPECT_FALSE(bitmap.Active());
  EXPECT_EQ(bitmap.Count(), 0);
}

TEST(RecordBitmap, NeighboursInRecordPositionOrder) {
  TVRXRecordBitmap bitmap(40);
  for (const TVRXRecordID& id : {TVRXRecordID{3, 5}, {3, 39}, {9, 0}}) bitmap.SetRecord(id, true);
  struct Case {
    std::optional<TVRXRecordID> from;  // none: from the edge
    bool forward;
    std::optional<TVRXRecordID> expected;
  };
  const Case cases[] = {
      {std::nullopt, true, TVRXRecordID{3, 5}},
      {std::nullopt, false, TVRXRecordID{9, 0}},
      {TVRXRecordID{3, 5}, true, TVRXRecordID{3, 39}},
      {TVRXRecordID{3, 39}, true, TVRXRecordID{9, 0}},
      {TVRXRecordID{9, 0}, true, std::nullopt},
      {TVRXRecordID{3, 5}, false, std::nullopt},
      {TVRXRecordID{5, 1}, false, TVRXRecordID{3, 39}},  // a position that is no member
      {TVRXRecordID{0, 0}, true, TVRXRecordID{3, 5}},
      {TVRXRecordID{500, 0}, false, TVRXRecordID{9, 0}},  // past the bits
      {TVRXRecordID{500, 0}, true, std::nullopt},
  };
  for (const Case& c : cases) {
    TVRXRecordID found;
    const bool have = bitmap.Neighbour(c.from ? &*c.from : nullptr, c.forward, found);
    ASSERT_EQ(have, c.expected.has_value());
    if (have) {
      EXPECT_EQ(found.PageNo, c.expected->PageNo);
      EXPECT_EQ(found.Slot, c.expected->Slot);
    }
  }
  TVRXRecordBitmap empty(40);
  TVRXRecordID found;
  EXPECT_FALSE(empty.Neighbour(nullptr, true, found));
}

TEST(RecordID, OrderAndPositions) {
  EXPECT_EQ(CompareRecordIDs({1, 5}, {2, 0}), -1);
  EXPECT_EQ(CompareRecordIDs({2, 1}, {2, 0}), 1);
  EXPECT_EQ(CompareRecordIDs({2, 1}, {2, 1}), 0);
  uint8_t stored[6];
  StoreRecordID(stored, {0x01020304, 0x0506});
  const uint8_t expected[6] = {4, 3, 2, 1, 6, 5};
  EXPECT_EQ(std::memcmp(stored, expected, 6), 0);
  EXPECT_EQ(RecordPosition({3, 7}, 40), 127);
  const TVRXRecordID back = RecordIDAtPosition(127, 40);
  EXPECT_EQ(back.PageNo, 3);
  EXPECT_EQ(back.Slot, 7);
}

}  // namespace
}  // namespace vrx
