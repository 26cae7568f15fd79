// Memory, file and temporary streams, the copying operations and the checked
// stream operations.
#include "engine/base/VRXStream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "tests/support/FaultFileSystem.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

namespace fs = std::filesystem;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> data(size);
  uint32_t x = seed;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

std::vector<uint8_t> ReadAll(TVRXStream& stream) {
  std::vector<uint8_t> data(static_cast<size_t>(stream.GetSize()));
  stream.SetPosition(0);
  if (!data.empty()) {
    EXPECT_EQ(stream.Read(data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(data.size()));
  }
  return data;
}

void WriteAll(TVRXStream& stream, const std::vector<uint8_t>& data) {
  ASSERT_EQ(stream.Write(data.data(), static_cast<int32_t>(data.size())),
            static_cast<int32_t>(data.size()));
}

// ------------------------------------------------------------ memory stream

TEST(MemoryStream, ReadsAndWritesAtThePosition) {
  TVRXMemoryStream s;
  EXPECT_EQ(s.CopyBlockSize(), 102400);
  const auto data = Pattern(1000);
  WriteAll(s, data);
  EXPECT_EQ(s.GetSize(), 1000);
  EXPECT_EQ(s.Position(), 1000);

  uint8_t buffer[600];
  EXPECT_EQ(s.Read(buffer, 10), 0) << "at the end nothing is read";
  s.SetPosition(700);
  EXPECT_EQ(s.Read(buffer, 600), 300) << "a read stops at the end";
  EXPECT_EQ(0, std::memcmp(buffer, data.data() + 700, 300));
  EXPECT_EQ(s.Position(), 1000);
  s.SetPosition(5);
  EXPECT_EQ(s.Read(buffer, 0), 0);
  EXPECT_EQ(s.Read(buffer, -3), 0);
  EXPECT_EQ(s.Write(buffer, 0), 0);
  EXPECT_EQ(s.Position(), 5);

  // Overwriting in the middle keeps the size.
  const uint8_t patch[3] = {7, 8, 9};
  EXPECT_EQ(s.Write(patch, 3), 3);
  EXPECT_EQ(s.GetSize(), 1000);
  auto expected = data;
  std::memcpy(expected.data() + 5, patch, 3);
  EXPECT_EQ(ReadAll(s), expected);
}

TEST(MemoryStream, SeekPastTheEndDoesNotClipAndWriteFillsTheGapWithZeros) {
  TVRXMemoryStream s;
  const auto data = Pattern(100);
  WriteAll(s, data);
  s.SetSize(int64_t{40});  // shrink: the old bytes 40..99 must not come back
  EXPECT_EQ(s.Seek(int64_t{60}, kSeekBeginning), 60);
  uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 1), 0);
  const uint8_t x = 0xAB;
  EXPECT_EQ(s.Write(&x, 1), 1);
  EXPECT_EQ(s.GetSize(), 61);
  const auto all = ReadAll(s);
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + 40, data.begin()));
  for (int i = 40; i < 60; ++i) EXPECT_EQ(all[i], 0) << i;
  EXPECT_EQ(all[60], 0xAB);

  EXPECT_EQ(s.Seek(-10, kSeekEnd), 51);
  EXPECT_EQ(s.Seek(5, kSeekCurrent), 56);
  EXPECT_EQ(s.Seek(int32_t{3}, 7), 56) << "32-bit seek: unknown origin keeps the position";
  EXPECT_EQ(s.Seek(int64_t{3}, 7), 0) << "64-bit seek: unknown origin goes to 0";
  s.SetPosition(-4);
  EXPECT_EQ(s.Read(&b, 1), 0);
  EXPECT_EQ(s.Write(&x, 1), 0) << "a negative position writes nothing";
}

TEST(MemoryStream, SetSizeClipsThePositionZeroFillsGrowthAndZeroFreesTheBuffer) {
  TVRXMemoryStream s;
  WriteAll(s, Pattern(5000));
  s.SetSize(int64_t{100});
  EXPECT_EQ(s.Position(), 100);
  s.SetSize(int32_t{300});
  EXPECT_EQ(s.GetSize(), 300);
  const auto all = ReadAll(s);
  for (size_t i = 100; i < 300; ++i) ASSERT_EQ(all[i], 0) << i;
  EXPECT_EQ(TVRXMemoryManager::Instance().GetMemSize(s.Memory()), 300);
  s.SetSize(int64_t{0});
  EXPECT_EQ(s.Memory(), nullptr);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_THROW(s.SetSize(int64_t{1} << 32), EVRXException);
}

TEST(MemoryStream, TakesOverAMemoryManagerBlock) {
  auto& mm = TVRXMemoryManager::Instance();
  const int64_t before = mm.AllocatedBytes();
  {
    void* block = mm.GetMem(64);
    std::memset(block, 'q', 64);
    TVRXMemoryStream s(block);
    EXPECT_EQ(s.GetSize(), 64);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(ReadAll(s), std::vector<uint8_t>(64, 'q'));
    WriteAll(s, Pattern(10000));
  }
  EXPECT_EQ(mm.AllocatedBytes(), before) << "the stream frees what it took over";
}

// ------------------------------------------------------- checked operations

TEST(CheckedOperations, ShortTransfersAndMissedSeeksRaiseTheCallersNumber) {
  TVRXMemoryStream s;
  WriteAll(s, Pattern(5));
  s.SetPosition(3);
  uint8_t buffer[8];
  EXPECT_EQ(MessageOf([&] { ReadChecked(buffer, 4, s, 12345); }),
            "Cannot read from stream. Position = 3, Stream size = 5, Block size = 4, "
            "Bytes Read = 2 - Native error: 12345");
  s.SetPosition(-1);
  EXPECT_EQ(MessageOf([&] { WriteChecked(buffer, 2, s, 10147); }),
            "Cannot write to stream. Position = -1, Stream size = 5, Block size = 2, "
            "Bytes Write = 0 - Native error: 10147");

  {
    std::ofstream("file.bin") << "abc";
  }
  TVRXFileStream file("file.bin", false, TVRXFileStream::kOpenRead);
  EXPECT_EQ(MessageOf([&] { SeekChecked(file, 10103, -5); }),
            "Cannot set stream position to -5. Position = -1, Size = 3 - Native error: 10103");

  // Successful operations raise nothing and move the position.
  s.SetPosition(0);
  EXPECT_NO_THROW(ReadChecked(buffer, 5, s, 1));
  EXPECT_NO_THROW(SeekChecked(s, 1, 2));
  EXPECT_NO_THROW(WriteChecked(buffer, 8, s, 1));
  EXPECT_EQ(s.GetSize(), 10);
}

// ----------------------------------------------------------- copying

class CopyTest : public testing::Test {
 protected:
  void SetUp() override {
    source_.SetCopyBlockSize(4);
    WriteAll(source_, data_);
    source_.SetPosition(3);
    destination_.SetCopyBlockSize(4);
    WriteAll(destination_, {1, 2});
    source_.SetOnProgress([this](TVRXStream& sender, double percent) {
      EXPECT_EQ(&sender, &source_);
      sourceProgress_.push_back(percent);
    });
    destination_.SetOnProgress([this](TVRXStream&, double percent) {
      destinationProgress_.push_back(percent);
    });
  }

  const std::vector<uint8_t> data_ = Pattern(10);
  TVRXMemoryStream source_;
  TVRXMemoryStream destination_;
  std::vector<double> sourceProgress_;
  std::vector<double> destinationProgress_;
};

TEST_F(CopyTest, SaveToStreamCopiesFromZeroToTheDestinationsPosition) {
  source_.SaveToStream(destination_);
  auto expected = std::vector<uint8_t>{1, 2};
  expected.insert(expected.end(), data_.begin(), data_.end());
  EXPECT_EQ(ReadAll(destination_), expected);
  EXPECT_EQ(sourceProgress_, (std::vector<double>{0, 40, 80, 100, 100}));
}

TEST_F(CopyTest, PositionsAreRestored) {
  destination_.SetPosition(1);
  source_.SaveToStream(destination_);
  EXPECT_EQ(source_.Position(), 3);
  EXPECT_EQ(destination_.Position(), 1);

  destination_.SetPosition(7);
  destination_.LoadFromStream(source_);
  EXPECT_EQ(source_.Position(), 3);
  EXPECT_EQ(destination_.Position(), 7);
}

TEST_F(CopyTest, LoadFromStreamAndCopyFromReplaceTheContent) {
  destination_.LoadFromStream(source_);
  EXPECT_EQ(ReadAll(destination_), data_);
  EXPECT_EQ(destinationProgress_, (std::vector<double>{0, 40, 80, 100, 100}));

  destinationProgress_.clear();
  destination_.CopyFrom(source_, 5, 2);
  EXPECT_EQ(ReadAll(destination_), std::vector<uint8_t>(data_.begin() + 2, data_.begin() + 7));
  EXPECT_EQ(destinationProgress_, (std::vector<double>{0, 80, 100, 100}));

  destination_.CopyFrom(source_, 0, 0);
  EXPECT_EQ(destination_.GetSize(), 0);
}

TEST_F(CopyTest, BlockSizeZeroAndShortSourcesFail) {
  source_.SetCopyBlockSize(0);
  EXPECT_EQ(MessageOf([&] { source_.SaveToStream(destination_); }),
            "Stream block size = 0 is not allowed - Native error: 10418");
  destination_.SetCopyBlockSize(0);
  EXPECT_EQ(MessageOf([&] { destination_.LoadFromStream(source_); }),
            "Stream block size = 0 is not allowed - Native error: 10419");
  EXPECT_EQ(MessageOf([&] { destination_.CopyFrom(source_, 4, 0); }),
            "Stream block size = 0 is not allowed - Native error: 10419");

  destination_.SetCopyBlockSize(4);
  EXPECT_EQ(MessageOf([&] { destination_.CopyFrom(source_, 8, 6); }),
            "Cannot read from stream. Position = 10, Stream size = 10, Block size = 4, "
            "Bytes Read = 0 - Native error: 10148");
  EXPECT_EQ(source_.Position(), 3) << "positions are restored after a failure too";

  TVRXFileStream created("ro.bin", false, TVRXFileStream::kCreateMode);
  TVRXFileStream reopened("ro.bin", false, TVRXFileStream::kOpenRead);
  source_.SetCopyBlockSize(4);
  EXPECT_EQ(MessageOf([&] { source_.SaveToStream(reopened); }),
            "Cannot write to stream. Position = 0, Stream size = 0, Block size = 4, "
            "Bytes Write = 0 - Native error: 10147");
}

// -------------------------------------------------------------- file stream

TEST(FileStream, CreatesReplacesAndReopens) {
  {
    std::ofstream("data.bin") << "old content that is longer";
  }
  const auto data = Pattern(3000);
  {
    TVRXFileStream s("data.bin", false, TVRXFileStream::kCreateMode);
    EXPECT_EQ(s.GetSize(), 0) << "create replaces an existing file";
    EXPECT_EQ(s.CopyBlockSize(), 102400);
    WriteAll(s, data);
    EXPECT_EQ(ReadAll(s), data);
  }
  ASSERT_TRUE(fs::exists("data.bin"));
  TVRXFileStream s("data.bin", false, TVRXFileStream::kOpenRead | 0x20);
  EXPECT_EQ(s.GetSize(), 3000);
  EXPECT_EQ(ReadAll(s), data);
  uint8_t b = 1;
  EXPECT_EQ(s.Write(&b, 1), 0) << "an operating-system failure writes 0 bytes";
  s.SetPosition(3000);
  EXPECT_EQ(s.Read(&b, 1), 0);
}

TEST(FileStream, OpenAndCreateFailuresNameTheFile) {
  EXPECT_EQ(MessageOf([] { TVRXFileStream("missing.bin", false, TVRXFileStream::kOpenReadWrite); }),
            "Cannot open file. FileName = missing.bin, Mode = 2 - Native error: 10105");
  EXPECT_EQ(MessageOf([] { TVRXFileStream("no/such/dir.bin", true, TVRXFileStream::kCreateMode); }),
            "Cannot create file. FileName = no/such/dir.bin - Native error: 10104");
  {
    std::ofstream("x.bin") << "x";
  }
  EXPECT_EQ(MessageOf([] { TVRXFileStream("x.bin", false, 0x3); }),
            "Cannot open file. FileName = x.bin, Mode = 3 - Native error: 10105")
      << "an access mode outside read / write / read-write";
}

TEST(FileStream, DeleteOnCloseRemovesOnlyACreatedFile) {
  { TVRXFileStream s("temp.bin", true, TVRXFileStream::kCreateMode); }
  EXPECT_FALSE(fs::exists("temp.bin"));
  { TVRXFileStream s("keep.bin", false, TVRXFileStream::kCreateMode); }
  EXPECT_TRUE(fs::exists("keep.bin"));
  { TVRXFileStream s("keep.bin", true, TVRXFileStream::kOpenRead); }
  EXPECT_TRUE(fs::exists("keep.bin"));
}

TEST(FileStream, SetSizeEndsTheFileAndKeepsAPositionInsideIt) {
  TVRXFileStream s("size.bin", false, TVRXFileStream::kCreateMode);
  WriteAll(s, Pattern(1000));
  s.SetPosition(100);
  s.SetSize(int64_t{500});
  EXPECT_EQ(s.GetSize(), 500);
  EXPECT_EQ(s.Position(), 100);
  s.SetPosition(400);
  s.SetSize(int64_t{200});
  EXPECT_EQ(s.Position(), 200) << "a position beyond the new end moves to it";
  s.SetSize(int64_t{4096});
  EXPECT_EQ(s.GetSize(), 4096);
  EXPECT_EQ(s.Position(), 200);
  EXPECT_EQ(fs::file_size("size.bin"), 4096u);

  TVRXFileStream ro("size.bin", false, TVRXFileStream::kOpenRead);
  EXPECT_THROW(ro.SetSize(int64_t{10}), EOSError);
  EXPECT_EQ(fs::file_size("size.bin"), 4096u);
}

// --------------------------------------------------------- temporary stream

// Points the temporary directory at the test's own directory, so that the
// spill file can be watched.
class TemporaryStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    hadTmpDir_ = old != nullptr;
    if (hadTmpDir_) oldTmpDir_ = old;
    dir_ = fs::current_path().string();
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadTmpDir_)
      setenv("TMPDIR", oldTmpDir_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  int FilesInDir() const {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++n;
    return n;
  }

  std::string dir_;
  bool hadTmpDir_ = false;
  std::string oldTmpDir_;
};

TEST_F(TemporaryStreamTest, TheByteAfterOneMegabyteMovesTheStreamToAFile) {
  const auto data = Pattern(TVRXTemporaryStream::kMemoryLimit + 1);
  std::string fileName;
  {
    TVRXTemporaryStream s;
    EXPECT_EQ(s.CopyBlockSize(), 102400);
    ASSERT_EQ(s.Write(data.data(), TVRXTemporaryStream::kMemoryLimit),
              TVRXTemporaryStream::kMemoryLimit);
    EXPECT_TRUE(s.InMemory());
    EXPECT_EQ(FilesInDir(), 0);
    ASSERT_EQ(s.Write(data.data() + TVRXTemporaryStream::kMemoryLimit, 1), 1);
    EXPECT_FALSE(s.InMemory());
    fileName = s.FileName();
    EXPECT_EQ(fs::path(fileName).parent_path(), fs::path(dir_));
    EXPECT_EQ(fs::path(fileName).filename().string().rfind("VRX", 0), 0u) << fileName;
    EXPECT_TRUE(fs::exists(fileName));
    EXPECT_EQ(s.Position(), TVRXTemporaryStream::kMemoryLimit + 1);
    EXPECT_EQ(ReadAll(s), data);
    EXPECT_EQ(fs::file_size(fileName), data.size());
  }
  EXPECT_FALSE(fs::exists(fileName)) << "the spill file is removed when the stream is freed";
  EXPECT_EQ(FilesInDir(), 0);
}

TEST_F(TemporaryStreamTest, ASpillKeepsThePositionWhereverItLies) {
  TVRXTemporaryStream s;
  const auto data = Pattern(TVRXTemporaryStream::kMemoryLimit);
  WriteAll(s, data);
  s.SetPosition(20);
  const uint8_t two[2] = {0xEE, 0xFF};
  ASSERT_EQ(s.Write(two, 2), 2) << "size + count passes the limit";
  EXPECT_FALSE(s.InMemory());
  EXPECT_EQ(s.Position(), 22);
  auto expected = data;
  expected[20] = 0xEE;
  expected[21] = 0xFF;
  EXPECT_EQ(ReadAll(s), expected);
}

TEST_F(TemporaryStreamTest, MemoryOnlyNeverCreatesAFile) {
  TVRXTemporaryStream s(true);
  const auto data = Pattern(3 * TVRXTemporaryStream::kMemoryLimit);
  WriteAll(s, data);
  EXPECT_TRUE(s.InMemory());
  EXPECT_TRUE(s.FileName().empty());
  EXPECT_EQ(FilesInDir(), 0);
  EXPECT_EQ(ReadAll(s), data);
}

TEST_F(TemporaryStreamTest, AnUnusableTemporaryDirectoryFailsTheSpillAndKeepsTheData) {
  setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  TVRXTemporaryStream s;
  const auto data = Pattern(TVRXTemporaryStream::kMemoryLimit);
  WriteAll(s, data);
  const uint8_t b = 1;
  EXPECT_EQ(MessageOf([&] { s.Write(&b, 1); }),
            "Cannot create file. FileName = " + dir_ + "/missing/VRX - Native error: 10104");
  EXPECT_TRUE(s.InMemory());
  EXPECT_EQ(ReadAll(s), data);
}

// Spill files go through the file system seam: a write the file system
// fails stops the spill with the copy's error, removes the file and keeps
// every byte in memory.
TEST_F(TemporaryStreamTest, AFailedWriteOfTheSpillFileKeepsTheDataInMemory) {
  test::FaultFileSystem faults;
  TVRXTemporaryStream s(false, faults);
  const auto data = Pattern(TVRXTemporaryStream::kMemoryLimit);
  WriteAll(s, data);
  faults.FailAt(3);  // 1 creates the spill file, 2 empties it, 3 is its first write
  const uint8_t b = 1;
  EXPECT_EQ(MessageOf([&] { s.Write(&b, 1); }).rfind("Cannot write to stream. Position = 0", 0), 0u)
      << "the spill file is written through the seam";
  EXPECT_TRUE(s.InMemory());
  EXPECT_EQ(FilesInDir(), 0) << "the failed spill file is removed";
  EXPECT_EQ(ReadAll(s), data);
  ASSERT_EQ(s.Write(&b, 1), 1) << "the next write spills again, and succeeds";
  EXPECT_FALSE(s.InMemory());
}

}  // namespace
}  // namespace vrx
