// Internal files: the transacted file's header, chain growth and reuse,
// compression and its failures, messages of misuse and of short chains; the
// direct file's addressing across pages, its limits and its lock bytes seen
// from a second handle.
#include "engine/storage/catalog/VRXInternalFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/compression/VRXCompression.h"
#include "tests/engine/storage/catalog/CatalogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;
using pelvaro::test::ReadAll;
using pelvaro::test::WriteAll;
using test::DataAt;
using test::PageAt;

constexpr int32_t kSession = 1;

class InternalFileTest : public ::testing::Test {
 protected:
  void SetUp() override { pm_.CreateDatabaseFile("f.vrx", {}); }

  void Reopen(TVRXDiskPageManager& pm, bool multiUser = false) {
    bool repair = false;
    bool readOnly = false;
    pm.OpenDatabaseFile("f.vrx", {}, multiUser, false, repair, readOnly);
  }

  std::vector<uint8_t> Text(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>("catalog "[i % 8] + i / 4096);
    return bytes;
  }

  TVRXDiskPageManager pm_;
};

TEST_F(InternalFileTest, TransactedHeaderAndContentBytes) {
  TVRXInternalDBTransactedAccessFile file(pm_, ptTableMetaData);
  file.Create(kSession);
  EXPECT_EQ(file.FirstPage(), 2);
  file.WriteFile(kSession, "abc", 0, kCompressionNone, 3);
  pm_.ApplyChanges(kSession);
  pm_.CloseDatabaseFile();
  const auto bytes = ReadAll("f.vrx");
  const std::vector<uint8_t> expected = {10, 3, 0, 0, 0, 3, 0, 0, 0, 0, 'a', 'b', 'c', 0};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + DataAt(2), bytes.begin() + DataAt(2) + 14),
            expected);
  EXPECT_EQ(bytes[PageAt(2) + 8], ptTableMetaData);
  EXPECT_EQ(bytes::LoadI32(&bytes[PageAt(2) + 10]), -1);
}

TEST_F(InternalFileTest, RoundTripWithEveryAlgorithm) {
  const struct {
    uint8_t algorithm;
    uint8_t level;
    size_t size;
  } cases[] = {{kCompressionNone, 0, 0},    {kCompressionNone, 0, 4046},
               {kCompressionNone, 0, 4047}, {kCompressionNone, 0, 20000},
               {kCompressionZlib, 1, 9000}, {kCompressionBzip, 9, 9000},
               {kCompressionPPM, 1, 9000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.algorithm) + "/" + std::to_string(c.size));
    TVRXInternalDBTransactedAccessFile file(pm_, ptTableMetaData);
    file.Create(kSession);
    const auto content = Text(c.size);
    file.WriteFile(kSession, content.data(), c.level, c.algorithm, static_cast<int32_t>(c.size));
    pm_.ApplyChanges(kSession);
    const TVRXInternalFileSize size = file.GetSize(kSession);
    EXPECT_EQ(size.algorithm, c.algorithm);
    EXPECT_EQ(size.uncompressedSize, static_cast<int32_t>(c.size));
    if (c.algorithm != kCompressionNone) {
      EXPECT_LT(size.storedSize, size.uncompressedSize);
    }
    EXPECT_EQ(file.ReadAll(kSession), content);
    // A prefix is the prefix of the uncompressed content.
    if (c.size >= 10) {
      std::vector<uint8_t> prefix(10);
      file.ReadFile(kSession, prefix.data(), 10);
      EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), content.begin()));
    }
  }
}

TEST_F(InternalFileTest, ShrunkFileKeepsItsSecondPageAndReusesIt) {
  TVRXInternalDBTransactedAccessFile file(pm_, ptTableMetaData);
  file.Create(kSession);
  file.WriteFile(kSession, Text(5000).data(), 0, kCompressionNone, 5000);
  pm_.ApplyChanges(kSession);
  const int32_t lastUsed = pm_.MainHeader().lastUsedPage;
  EXPECT_EQ(lastUsed, 3);

  file.WriteFile(kSession, Text(100).data(), 0, kCompressionNone, 100);
  pm_.ApplyChanges(kSession);
  {
    TVRXPageGuard first(pm_, pm_.GetPage(kSession, 2, ptTableMetaData));
    EXPECT_EQ(first->NextPage(), 3);
  }
  EXPECT_EQ(file.GetSize(kSession).storedSize, 100);
  EXPECT_EQ(file.ReadAll(kSession), Text(100));

  file.WriteFile(kSession, Text(5000).data(), 0, kCompressionNone, 5000);
  pm_.ApplyChanges(kSession);
  EXPECT_EQ(pm_.MainHeader().lastUsedPage, lastUsed);
  EXPECT_EQ(file.ReadAll(kSession), Text(5000));
}

TEST_F(InternalFileTest, MisuseAndShortChainsAreRefused) {
  TVRXInternalDBTransactedAccessFile closed(pm_, ptTableMetaData);
  std::vector<uint8_t> buffer(10);
  const struct {
    const char* operation;
    std::function<void()> call;
  } calls[] = {
      {"SetSize", [&] { closed.SetSize(kSession, 1, 0, 1); }},
      {"GetSize", [&] { closed.GetSize(kSession); }},
      {"ReadFile", [&] { closed.ReadFile(kSession, buffer.data(), 1); }},
      {"WriteFile", [&] { closed.WriteFile(kSession, "x", 0, 0, 1); }},
  };
  for (const auto& c : calls)
    EXPECT_EQ(MessageOf(c.call), std::string("Cannot perform this operation (") + c.operation +
                                     ") on closed internal file - Native error: 30389");

  TVRXInternalDBTransactedAccessFile file(pm_, ptTableMetaData);
  file.Create(kSession);
  EXPECT_EQ(
      MessageOf([&] { file.Create(kSession); }),
      "Cannot create Internal file. File already exists. StartPageNo=2 - Native error: 30383");
  file.WriteFile(kSession, Text(5000).data(), 0, kCompressionNone, 5000);
  EXPECT_EQ(MessageOf([&] { file.ReadFile(kSession, buffer.data(), 5001); }),
            "Cannot Read internal file. FileSize=5000. ReadSize=5001 - Native error: 30387");
  // The chain ends after its first page although the header promises 5000.
  {
    TVRXPageGuard first(pm_, pm_.GetPage(kSession, 2, ptTableMetaData));
    first->SetNextPage(-1);
  }
  EXPECT_EQ(MessageOf([&] { file.ReadAll(kSession); }),
            "Cannot Read % bytes from internal file. FileSize=5000. ReadSize=4046, Count=5000 - "
            "Native error: 30388");
  // A chain that comes back to its first page.
  {
    TVRXPageGuard first(pm_, pm_.GetPage(kSession, 2, ptTableMetaData));
    first->SetNextPage(2);
  }
  EXPECT_EQ(MessageOf([&] { file.ReadAll(kSession); }),
            "Internal file page chain is damaged. StartPageNo=2. PageNo=2 - Native error: 30470");
  pm_.CancelChanges(kSession);
}

TEST_F(InternalFileTest, CompressionFailuresLeaveTheFileAsItWas) {
  TVRXInternalDBTransactedAccessFile file(pm_, ptTableMetaData);
  file.Create(kSession);
  file.WriteFile(kSession, "abc", 0, kCompressionNone, 3);
  pm_.ApplyChanges(kSession);
  // bzip2 cannot compress at mode 0.
  EXPECT_EQ(MessageOf([&] { file.WriteFile(kSession, "xyz", 0, kCompressionBzip, 3); }),
            "Table file compression error - Native error: 20187");
  EXPECT_FALSE(pm_.HasChanges(kSession));

  file.WriteFile(kSession, Text(3000).data(), 6, kCompressionZlib, 3000);
  pm_.ApplyChanges(kSession);
  {
    TVRXPageGuard first(pm_, pm_.GetPage(kSession, 2, ptTableMetaData));
    first->Data()[12] ^= 0x55;  // a byte of the deflate stream
  }
  EXPECT_EQ(MessageOf([&] { file.ReadAll(kSession); }),
            "Table file decompression error. Probably table is corrupted - Native error: 20189");
  pm_.CancelChanges(kSession);
}

TEST_F(InternalFileTest, DirectFileSpansPagesAtPositions4045And4046) {
  TVRXInternalDBDirectAccessFile file(pm_, ptTableLocks);
  const int32_t first = file.Create(6000);
  pm_.ApplyChanges(kSystemSessionID);
  EXPECT_EQ(file.Pages(), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(first, 2);
  const uint8_t last = 0xA1;
  const uint8_t next = 0xB2;
  file.DirectWriteBuffer(&last, 1, 4045);
  file.DirectWriteBuffer(&next, 1, 4046);
  uint8_t span[2] = {};
  file.DirectReadBuffer(span, 2, 4045);
  EXPECT_EQ(span[0], last);
  EXPECT_EQ(span[1], next);

  // Reopened from the file: the size, the chain, and the bytes where they lie.
  TVRXInternalDBDirectAccessFile opened(pm_, ptTableLocks);
  opened.Open(first);
  EXPECT_EQ(opened.Size(), 6000);
  EXPECT_EQ(opened.GetSize(), 6000);
  EXPECT_EQ(opened.AddressableSize(), 6000);
  EXPECT_EQ(opened.Pages(), (std::vector<int32_t>{2, 3}));
  pm_.CloseDatabaseFile();
  const auto bytes = ReadAll("f.vrx");
  EXPECT_EQ(bytes[PageAt(2) + 4095], last);
  EXPECT_EQ(bytes[DataAt(3)], next);
  const std::vector<uint8_t> header = {10, 0x70, 0x17, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + DataAt(2), bytes.begin() + DataAt(2) + 10),
            header);
  EXPECT_EQ(bytes::LoadI32(&bytes[PageAt(2) + 10]), 3);
  EXPECT_EQ(bytes::LoadI32(&bytes[PageAt(3) + 10]), -1);
}

TEST_F(InternalFileTest, DirectFileLimits) {
  TVRXInternalDBDirectAccessFile file(pm_, ptTableLocks);
  file.Create(6000);
  TVRXInternalDBDirectAccessFile small(pm_, ptTableLocks);
  small.Create(100);
  pm_.ApplyChanges(kSystemSessionID);
  uint8_t bytes[8] = {};
  EXPECT_EQ(MessageOf([&] { file.DirectWriteBuffer(bytes, 2, 5999); }),
            "Cannot write after end of file. FileSize=6000. Position=5999, Count=2 - Native "
            "error: 20158");
  EXPECT_EQ(MessageOf([&] { file.DirectReadBuffer(bytes, 1, 6000); }),
            "Seek position bigger then file size. FileSize=6000. Position=6000 - Native error: "
            "20159");
  EXPECT_EQ(MessageOf([&] { file.DirectReadBuffer(bytes, 1, -1); }),
            "Seek position bigger then file size. FileSize=6000. Position=-1 - Native error: "
            "20159");
  // A one-page file can be read over its whole page, written only up to its size.
  EXPECT_EQ(small.AddressableSize(), 4046);
  EXPECT_EQ(MessageOf([&] { small.DirectReadBuffer(bytes, 1, 4045); }), "no exception");
  EXPECT_EQ(MessageOf([&] { small.DirectWriteBuffer(bytes, 1, 100); }),
            "Cannot write after end of file. FileSize=100. Position=100, Count=1 - Native error: "
            "20158");

  TVRXInternalDBDirectAccessFile closed(pm_, ptTableLocks);
  EXPECT_EQ(MessageOf([&] { closed.LockByte(0); }),
            "Cannot perform this operation (LockByte) on closed internal file - Native error: "
            "20156");
  EXPECT_EQ(MessageOf([&] { file.Create(1); }),
            "Cannot create Internal file. File already exists. StartPageNo=2 - Native error: "
            "20157");
  TVRXInternalDBDirectAccessFile wrongType(pm_, ptActiveSessionList);
  EXPECT_EQ(MessageOf([&] { wrongType.Open(2); }),
            "Invalid PageType found: 7 but wanted: 5 - Native error: 20155");
}

TEST_F(InternalFileTest, DirectFileLocksAreSeenByASecondHandle) {
  TVRXInternalDBDirectAccessFile file(pm_, ptTableLocks);
  const int32_t first = file.Create(6000);
  pm_.ApplyChanges(kSystemSessionID);
  pm_.CloseDatabaseFile();

  TVRXDiskPageManager a;
  TVRXDiskPageManager b;
  Reopen(a, true);
  Reopen(b, true);
  TVRXInternalDBDirectAccessFile fa(a, ptTableLocks);
  TVRXInternalDBDirectAccessFile fb(b, ptTableLocks);
  fa.Open(first);
  fb.Open(first);
  ASSERT_TRUE(fa.LockByte(4046));
  EXPECT_TRUE(fb.IsByteLocked(4046));
  EXPECT_FALSE(fb.IsByteLocked(4045));
  EXPECT_FALSE(fb.LockByte(4046));
  EXPECT_TRUE(fb.IsRegionLocked(4040, 10));
  EXPECT_FALSE(fb.IsRegionLocked(4047, 100));
  EXPECT_FALSE(fb.IsRegionLocked(4046, 0));
  EXPECT_TRUE(fa.UnlockByte(4046));
  EXPECT_TRUE(fb.LockByte(4046));

  ASSERT_TRUE(fa.LockFile());
  EXPECT_FALSE(fb.LockFile());
  // The guard byte is byte 0 of the first page; the chain is still readable.
  TVRXInternalDBDirectAccessFile again(b, ptTableLocks);
  again.Open(first);
  EXPECT_EQ(again.Size(), 6000);
  EXPECT_TRUE(fa.UnlockFile());
  EXPECT_TRUE(fb.LockFile());
}

}  // namespace
}  // namespace vrx
