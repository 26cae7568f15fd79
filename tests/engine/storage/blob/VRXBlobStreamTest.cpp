// The compressed BLOB stream: block layout, which blocks a read or a write
// touches, appending, extending, truncating, the raw algorithm 0, damaged
// data, and the block index.
#include "engine/storage/blob/VRXBlobStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/compression/VRXCompression.h"
#include "engine/base/VRXExcept.h"

namespace vrx {
namespace {

using Bytes = std::vector<uint8_t>;

// Text-like content: compressible, but every block differs.
Bytes Content(size_t size, uint32_t seed = 1) {
  static const char* const kWords[] = {"table ", "round ", "score ", "player ", "points ",
                                       "seat ",  "four ",  "game ",  "next ",   "pair "};
  Bytes out;
  out.reserve(size + 16);
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 10];
    out.insert(out.end(), w, w + std::strlen(w));
    if ((x >> 8) % 7 == 0) {
      const std::string n = std::to_string(x % 100000);
      out.insert(out.end(), n.begin(), n.end());
    }
  }
  out.resize(size);
  return out;
}

Bytes StreamBytes(TVRXMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return p ? Bytes(p, p + s.GetSize()) : Bytes();
}

TVRXBLOBDescriptor Descriptor(uint8_t algorithm, uint8_t mode, int32_t blockSize) {
  TVRXBLOBDescriptor d;
  d.blockSize = blockSize;
  d.compressionAlgorithm = algorithm;
  d.compressionMode = mode;
  return d;
}

Bytes ReadRange(TVRXCompressedBLOBStream& blob, int64_t at, int32_t count) {
  Bytes out(static_cast<size_t>(count));
  blob.SetPosition(at);
  out.resize(static_cast<size_t>(blob.Read(out.data(), count)));
  return out;
}

void Append(TVRXCompressedBLOBStream& blob, const Bytes& data) {
  blob.Seek(int64_t{0}, kSeekEnd);
  ASSERT_EQ(blob.Write(data.data(), static_cast<int32_t>(data.size())),
            static_cast<int32_t>(data.size()));
}

template <typename F>
const EVRXException* Raised(F&& f, std::unique_ptr<EVRXException>& holder) {
  try {
    f();
  } catch (const EVRXException& e) {
    holder = std::make_unique<EVRXException>(e);
  }
  return holder.get();
}

// A 250,000-byte ZLIB value in blocks of 102,400, written once into a memory
// stream; each test reopens it as the BLOB storage would.
class StoredValue : public testing::Test {
 protected:
  static constexpr int32_t kBlock = 102400;
  static constexpr int32_t kSize = 250000;

  void SetUp() override {
    TVRXCompressedBLOBStream blob(stored_, false, true, Descriptor(kCompressionZlib, 6, kBlock));
    Append(blob, value_);
    descriptor_ = blob.Descriptor();
  }

  std::unique_ptr<TVRXCompressedBLOBStream> Reopen(bool tolerate = false) {
    return std::make_unique<TVRXCompressedBLOBStream>(stored_, tolerate, false, descriptor_);
  }

  const Bytes value_ = Content(kSize);
  TVRXMemoryStream stored_;
  TVRXBLOBDescriptor descriptor_;
};

TEST_F(StoredValue, IsThreeBlocksOfTheBlockSizeAndTheRest) {
  EXPECT_EQ(descriptor_.numBlocks, 3);
  EXPECT_EQ(descriptor_.uncompressedSize, kSize);
  auto blob = Reopen();
  ASSERT_EQ(blob->Blocks().Count(), 3);
  const int32_t sizes[3] = {102400, 102400, 45200};
  int64_t compressed = 0;
  int64_t position = 0;
  for (int i = 0; i < 3; ++i) {
    const auto& h = blob->Blocks().Header(i);
    EXPECT_EQ(h.uncompressedSize, sizes[i]);
    EXPECT_EQ(h.nextHeaderDistance, 20 + h.compressedSize);
    EXPECT_EQ(h.crc32, CRC32(0, value_.data() + i * kBlock, static_cast<size_t>(sizes[i])));
    EXPECT_EQ(blob->Blocks().Position(i), position);
    position += h.nextHeaderDistance;
    compressed += h.compressedSize;
  }
  EXPECT_EQ(stored_.GetSize(), position) << "nothing but the blocks is stored";
  EXPECT_EQ(blob->CompressedSize(), compressed);
  EXPECT_DOUBLE_EQ(blob->CompressionRate(), (1.0 - double(compressed) / kSize) * 100.0);
  EXPECT_GT(blob->CompressionRate(), 50.0);
  EXPECT_EQ(blob->GetSize(), kSize);
  EXPECT_EQ(blob->BlocksDecompressed(), 0) << "opening reads headers only";

  // Golden bytes of the first header: C, U, CRC, distance, little-endian.
  const Bytes raw = StreamBytes(stored_);
  const auto& h = blob->Blocks().Header(0);
  const uint8_t* p = raw.data();
  EXPECT_EQ(p[4] | p[5] << 8 | p[6] << 16 | p[7] << 24, 102400);
  EXPECT_EQ(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24, h.compressedSize);
  EXPECT_EQ(uint32_t(p[8] | p[9] << 8 | p[10] << 16) | uint32_t(p[11]) << 24, h.crc32);
  EXPECT_EQ(p[12] | p[13] << 8 | p[14] << 16, 20 + h.compressedSize);
  for (int i = 15; i < 20; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(p[20], 0x78) << "block data is a zlib stream";
}

TEST_F(StoredValue, AReadDecompressesOnlyTheBlocksItTouches) {
  auto blob = Reopen();
  EXPECT_EQ(ReadRange(*blob, 102395, 10), Bytes(value_.begin() + 102395, value_.begin() + 102405));
  EXPECT_EQ(blob->BlocksDecompressed(), 2) << "blocks 0 and 1";
  EXPECT_EQ(blob->Position(), 102405);

  auto other = Reopen();
  EXPECT_EQ(ReadRange(*other, 240000, 100), Bytes(value_.begin() + 240000, value_.begin() + 240100));
  EXPECT_EQ(other->BlocksDecompressed(), 1) << "the third block alone";
  EXPECT_EQ(ReadRange(*other, 249990, 100), Bytes(value_.end() - 10, value_.end()))
      << "a read stops at the end of the value";
  EXPECT_EQ(other->BlocksDecompressed(), 1) << "the block last read is kept";
  uint8_t b;
  EXPECT_EQ(other->Read(&b, 1), 0);
  other->SetPosition(kSize + 50);
  EXPECT_EQ(other->Read(&b, 1), 0);
  other->SetPosition(-1);
  EXPECT_EQ(other->Read(&b, 1), 0);
  EXPECT_EQ(other->BlocksCompressed(), 0);
}

TEST_F(StoredValue, SequentialSmallReadsDecompressEachBlockOnce) {
  auto blob = Reopen();
  Bytes all;
  Bytes chunk(4000);
  int32_t n;
  while ((n = blob->Read(chunk.data(), 4000)) > 0) all.insert(all.end(), chunk.begin(), chunk.begin() + n);
  EXPECT_EQ(all, value_);
  EXPECT_EQ(blob->BlocksDecompressed(), 3);
}

TEST_F(StoredValue, AppendingRecompressesOnlyTheLastBlock) {
  const Bytes before = StreamBytes(stored_);
  auto blob = Reopen();
  const int64_t third = blob->Blocks().Position(2);
  const Bytes extra = Content(100, 99);
  Append(*blob, extra);
  EXPECT_EQ(blob->BlocksCompressed(), 1);
  EXPECT_EQ(blob->BlocksDecompressed(), 1);
  ASSERT_EQ(blob->Blocks().Count(), 3);
  EXPECT_EQ(blob->Blocks().Header(2).uncompressedSize, 45300);
  EXPECT_EQ(blob->Blocks().Position(2), third);
  EXPECT_EQ(blob->GetSize(), kSize + 100);
  EXPECT_EQ(blob->Position(), kSize + 100);
  EXPECT_EQ(blob->Descriptor().uncompressedSize, kSize + 100);
  EXPECT_EQ(blob->Descriptor().numBlocks, 3);
  const Bytes after = StreamBytes(stored_);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + third, after.begin()))
      << "the first two blocks are not rewritten";

  Bytes expected = value_;
  expected.insert(expected.end(), extra.begin(), extra.end());
  TVRXCompressedBLOBStream reread(stored_, false, false, blob->Descriptor());
  EXPECT_EQ(ReadRange(reread, 0, kSize + 1000), expected);
}

TEST_F(StoredValue, AppendingPastTheLastBlockAddsBlocksAfterIt) {
  auto blob = Reopen();
  const Bytes extra = Content(300000, 5);
  Append(*blob, extra);
  // 57,200 bytes fill the third block, the rest makes two full blocks and one
  // of 38,000.
  ASSERT_EQ(blob->Blocks().Count(), 6);
  const int32_t sizes[6] = {102400, 102400, 102400, 102400, 102400, 38000};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(blob->Blocks().Header(i).uncompressedSize, sizes[i]);
  for (int i = 1; i < 6; ++i)
    EXPECT_EQ(blob->Blocks().Position(i),
              blob->Blocks().Position(i - 1) + blob->Blocks().Header(i - 1).nextHeaderDistance);
  EXPECT_EQ(blob->BlocksCompressed(), 4);
  Bytes expected = value_;
  expected.insert(expected.end(), extra.begin(), extra.end());
  TVRXCompressedBLOBStream reread(stored_, false, false, blob->Descriptor());
  EXPECT_EQ(ReadRange(reread, 0, 600000), expected);
}

TEST_F(StoredValue, TruncatingInsideABlockRewritesThatBlock) {
  auto blob = Reopen();
  blob->SetPosition(200000);
  blob->SetSize(int64_t{150000});
  ASSERT_EQ(blob->Blocks().Count(), 2);
  EXPECT_EQ(blob->Blocks().Header(1).uncompressedSize, 47600);
  EXPECT_EQ(blob->GetSize(), 150000);
  EXPECT_EQ(blob->Position(), 150000) << "a position beyond the new size moves to it";
  EXPECT_EQ(blob->Descriptor().numBlocks, 2);
  EXPECT_EQ(blob->Descriptor().uncompressedSize, 150000);
  EXPECT_EQ(blob->BlocksCompressed(), 1);
  EXPECT_EQ(stored_.GetSize(),
            blob->Blocks().Position(1) + blob->Blocks().Header(1).nextHeaderDistance)
      << "the underlying stream ends with the rewritten block";
  EXPECT_EQ(blob->CompressedSize(),
            blob->Blocks().Header(0).compressedSize + blob->Blocks().Header(1).compressedSize);

  TVRXCompressedBLOBStream reread(stored_, false, false, blob->Descriptor());
  EXPECT_EQ(ReadRange(reread, 0, kSize), Bytes(value_.begin(), value_.begin() + 150000));
}

TEST_F(StoredValue, TruncatingOnABlockBoundaryOnlyDropsBlocks) {
  const int64_t storedSize = stored_.GetSize();
  auto blob = Reopen();
  blob->SetSize(int64_t{204800});
  ASSERT_EQ(blob->Blocks().Count(), 2);
  EXPECT_EQ(blob->Blocks().Header(1).uncompressedSize, 102400);
  EXPECT_EQ(blob->BlocksCompressed(), 0);
  EXPECT_EQ(blob->BlocksDecompressed(), 0);
  EXPECT_EQ(stored_.GetSize(), storedSize) << "the underlying stream keeps its length";
  EXPECT_EQ(ReadRange(*blob, 0, kSize), Bytes(value_.begin(), value_.begin() + 204800));

  // Appending after such a cut goes where the dropped block was.
  const Bytes extra = Content(1000, 8);
  Append(*blob, extra);
  ASSERT_EQ(blob->Blocks().Count(), 3);
  EXPECT_EQ(blob->Blocks().Header(2).uncompressedSize, 1000);
  Bytes expected(value_.begin(), value_.begin() + 204800);
  expected.insert(expected.end(), extra.begin(), extra.end());
  TVRXCompressedBLOBStream reread(stored_, false, false, blob->Descriptor());
  EXPECT_EQ(ReadRange(reread, 0, kSize), expected);

  blob->SetSize(int64_t{0});
  EXPECT_EQ(blob->Blocks().Count(), 0);
  EXPECT_EQ(blob->GetSize(), 0);
  EXPECT_DOUBLE_EQ(blob->CompressionRate(), 0.0);
}

TEST_F(StoredValue, AWriteBelowTheSizeChangesNothing) {
  const Bytes before = StreamBytes(stored_);
  auto blob = Reopen();
  blob->SetPosition(1000);
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(blob->Write(data, 5), 0);
  EXPECT_EQ(blob->Position(), 1000);
  EXPECT_EQ(blob->GetSize(), kSize);
  EXPECT_EQ(StreamBytes(stored_), before);
  EXPECT_EQ(blob->BlocksCompressed(), 0);
}

TEST_F(StoredValue, AWriteBeyondTheSizeFillsTheGapWithZeros) {
  auto blob = Reopen();
  blob->SetPosition(kSize + 150000);
  const Bytes tail = Content(10, 3);
  ASSERT_EQ(blob->Write(tail.data(), 10), 10);
  EXPECT_EQ(blob->GetSize(), kSize + 150010);
  EXPECT_EQ(blob->Position(), kSize + 150010);
  ASSERT_EQ(blob->Blocks().Count(), 4);
  const int32_t sizes[4] = {102400, 102400, 102400, 92810};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(blob->Blocks().Header(i).uncompressedSize, sizes[i]);
  // The gap's two chunks end on block boundaries, the write fills the last.
  EXPECT_EQ(blob->BlocksCompressed(), 3);

  Bytes expected = value_;
  expected.resize(kSize + 150000, 0);
  expected.insert(expected.end(), tail.begin(), tail.end());
  TVRXCompressedBLOBStream reread(stored_, false, false, blob->Descriptor());
  EXPECT_EQ(ReadRange(reread, 0, kSize + 200000), expected);
}

TEST_F(StoredValue, SetSizeExtendsWithZerosAndKeepsThePosition) {
  auto blob = Reopen();
  blob->SetPosition(7);
  blob->SetSize(int64_t{400000});
  EXPECT_EQ(blob->Position(), 7);
  EXPECT_EQ(blob->GetSize(), 400000);
  EXPECT_EQ(blob->Blocks().Count(), 4);
  Bytes expected = value_;
  expected.resize(400000, 0);
  EXPECT_EQ(ReadRange(*blob, 0, 500000), expected);
}

TEST_F(StoredValue, SeekingNeverTouchesTheBlocks) {
  auto blob = Reopen();
  EXPECT_EQ(blob->Seek(int64_t{-10}, kSeekEnd), kSize - 10);
  EXPECT_EQ(blob->Seek(int64_t{4}, kSeekCurrent), kSize - 6);
  EXPECT_EQ(blob->Seek(int64_t{123}, kSeekBeginning), 123);
  EXPECT_EQ(blob->Seek(int32_t{1}, kSeekCurrent), 124);
  EXPECT_EQ(blob->BlocksDecompressed(), 0);
}

TEST_F(StoredValue, AChecksumMismatchNamesBothValues) {
  // Replace the stored CRC of block 1 by another value.
  auto* raw = static_cast<uint8_t*>(stored_.Memory());
  const int64_t at = Reopen()->Blocks().Position(1) + 8;
  const uint32_t good = raw[at] | raw[at + 1] << 8 | raw[at + 2] << 16 | uint32_t(raw[at + 3]) << 24;
  const uint32_t bad = good ^ 0x80000001u;
  for (int i = 0; i < 4; ++i) raw[at + i] = static_cast<uint8_t>(bad >> (8 * i));

  auto blob = Reopen();
  EXPECT_EQ(ReadRange(*blob, 0, 100), Bytes(value_.begin(), value_.begin() + 100));
  std::unique_ptr<EVRXException> e;
  ASSERT_NE(Raised([&] { ReadRange(*blob, 102400, 10); }, e), nullptr);
  EXPECT_EQ(e->Message(), FormatText("Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d",
                                     {good, bad}) +
                              " - Native error: 10089");
  EXPECT_EQ(e->NativeError(), 10089);
}

TEST_F(StoredValue, AShortUnderlyingStreamFailsUnlessTolerated) {
  auto probe = Reopen();
  const int64_t thirdHeader = probe->Blocks().Position(2);
  probe.reset();
  stored_.SetSize(thirdHeader + 10);

  std::unique_ptr<EVRXException> e;
  ASSERT_NE(Raised([&] { Reopen(); }, e), nullptr);
  EXPECT_EQ(e->Message(),
            FormatText("Stream size = %d too small. Should be at least = %d",
                       {thirdHeader + 10, thirdHeader + 20}) +
                " - Native error: 10082");

  auto tolerant = Reopen(true);
  EXPECT_EQ(tolerant->Blocks().Count(), 2);
  EXPECT_EQ(tolerant->GetSize(), 204800);
  EXPECT_EQ(tolerant->Descriptor().numBlocks, 2);
  EXPECT_EQ(ReadRange(*tolerant, 0, kSize), Bytes(value_.begin(), value_.begin() + 204800));
}

// ---------------------------------------------------- compression failures

TEST(CompressedBLOBStream, ModeZeroOfBzipAndPPMFailsAndLeavesTheValueEmpty) {
  for (uint8_t algorithm : {kCompressionBzip, kCompressionPPM}) {
    TVRXMemoryStream stored;
    TVRXCompressedBLOBStream blob(stored, false, true, Descriptor(algorithm, 0, 0));
    EXPECT_EQ(blob.BlockSize(), 102400) << "block size 0 takes the mode's default";
    const Bytes data = Content(100);
    std::unique_ptr<EVRXException> e;
    ASSERT_NE(Raised([&] { blob.Write(data.data(), 100); }, e), nullptr);
    EXPECT_EQ(e->Message(),
              FormatText("Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, "
                         "OutSize = %d",
                         {algorithm, 0, 100, 0}) +
                  " - Native error: 10085");
    EXPECT_EQ(blob.GetSize(), 0);
    EXPECT_EQ(blob.Blocks().Count(), 0);
    EXPECT_EQ(blob.Descriptor().numBlocks, 0);
    EXPECT_EQ(stored.GetSize(), 0);
  }
}

TEST(CompressedBLOBStream, NewValuesTakeTheDefaultBlockSizeOfTheirMode) {
  TVRXMemoryStream stored;
  TVRXCompressedBLOBStream blob(stored, false, true, Descriptor(kCompressionZlib, 5, 0));
  EXPECT_EQ(blob.BlockSize(), 1048576);
  EXPECT_EQ(blob.CopyBlockSize(), 1048576);
  EXPECT_EQ(blob.Descriptor().blockSize, 1048576);
}

TEST(CompressedBLOBStream, OpensAtTheStartOffset) {
  TVRXMemoryStream stored;
  const Bytes prefix = Content(37, 4);
  stored.Write(prefix.data(), 37);
  auto d = Descriptor(kCompressionBzip, 1, 1000);
  d.startOffset = 37;
  const Bytes value = Content(2500, 6);
  {
    TVRXCompressedBLOBStream blob(stored, false, true, d);
    Append(blob, value);
    d = blob.Descriptor();
  }
  EXPECT_EQ(d.numBlocks, 3);
  TVRXCompressedBLOBStream blob(stored, false, false, d);
  EXPECT_EQ(blob.Blocks().Position(0), 37);
  EXPECT_EQ(ReadRange(blob, 0, 5000), value);
  const auto* raw = static_cast<const uint8_t*>(stored.Memory());
  EXPECT_EQ(Bytes(raw, raw + 37), prefix);
}

// A memory stream whose writes stop after a budget of bytes, as a full disk
// would.
class FullStream : public TVRXMemoryStream {
 public:
  using TVRXMemoryStream::Write;
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, budget));
    budget -= n;
    return n > 0 ? TVRXMemoryStream::Write(buffer, n) : 0;
  }
  int64_t budget = 0;
};

TEST(CompressedBLOBStream, AFailedWriteKeepsTheBlocksStoredBeforeIt) {
  FullStream stored;
  const Bytes value = Content(10000, 12);
  TVRXCompressedBLOBStream blob(stored, false, true, Descriptor(kCompressionZlib, 6, 4096));
  // Room for the first block and part of the second.
  Bytes first;
  ASSERT_TRUE(CompressBuffer(kCompressionZlib, 6, value.data(), 4096, first));
  stored.budget = 20 + static_cast<int64_t>(first.size()) + 30;
  std::unique_ptr<EVRXException> e;
  ASSERT_NE(Raised([&] { blob.Write(value.data(), 10000); }, e), nullptr);
  EXPECT_EQ(e->NativeError(), 10101) << e->Message();
  EXPECT_EQ(blob.GetSize(), 4096);
  EXPECT_EQ(blob.Position(), 4096);
  EXPECT_EQ(blob.Blocks().Count(), 1);
  EXPECT_EQ(blob.Descriptor().numBlocks, 1);
  EXPECT_EQ(blob.Descriptor().uncompressedSize, 4096);
  EXPECT_EQ(blob.CompressedSize(), static_cast<int64_t>(first.size()));

  // With room again the value goes on where the failure left it.
  stored.budget = 1 << 20;
  Append(blob, Bytes(value.begin() + 4096, value.end()));
  TVRXCompressedBLOBStream reread(stored, false, false, blob.Descriptor());
  EXPECT_EQ(ReadRange(reread, 0, 20000), value);
}

// ------------------------------------------------------------ algorithm 0

TEST(CompressedBLOBStream, AlgorithmZeroStoresTheRawBytes) {
  TVRXMemoryStream stored;
  const Bytes value = Content(5000);
  auto d = Descriptor(kCompressionNone, 0, 0);
  {
    TVRXCompressedBLOBStream blob(stored, false, true, d);
    Append(blob, value);
    EXPECT_EQ(blob.GetSize(), 5000);
    EXPECT_EQ(blob.CompressedSize(), 5000);
    EXPECT_DOUBLE_EQ(blob.CompressionRate(), 0.0);
    d = blob.Descriptor();
  }
  EXPECT_EQ(StreamBytes(stored), value);
  EXPECT_EQ(d.uncompressedSize, 5000);
  EXPECT_EQ(d.numBlocks, 0);

  TVRXCompressedBLOBStream blob(stored, false, false, d);
  EXPECT_EQ(ReadRange(blob, 4990, 100), Bytes(value.end() - 10, value.end()));
  // Raw values may be overwritten in place.
  blob.SetPosition(10);
  const uint8_t patch[2] = {0, 0};
  EXPECT_EQ(blob.Write(patch, 2), 2);
  EXPECT_EQ(blob.Position(), 12);
  blob.SetSize(int64_t{100});
  EXPECT_EQ(stored.GetSize(), 100);
  EXPECT_EQ(blob.GetSize(), 100);
  EXPECT_EQ(blob.Descriptor().uncompressedSize, 100);
  Bytes expected(value.begin(), value.begin() + 100);
  expected[10] = expected[11] = 0;
  EXPECT_EQ(ReadRange(blob, 0, 200), expected);
  EXPECT_EQ(blob.BlocksCompressed() + blob.BlocksDecompressed(), 0);

  d.uncompressedSize = 101;
  std::unique_ptr<EVRXException> e;
  ASSERT_NE(Raised([&] { TVRXCompressedBLOBStream short_(stored, false, false, d); }, e), nullptr);
  EXPECT_EQ(e->Message(),
            "Stream size = 100 too small. Should be at least = 101 - Native error: 10081");
  TVRXCompressedBLOBStream tolerated(stored, true, false, d);
  EXPECT_EQ(tolerated.GetSize(), 101);
}

// -------------------------------------- every algorithm through the stream

class Algorithms : public testing::TestWithParam<uint8_t> {};

TEST_P(Algorithms, ManySmallAppendsThroughATemporaryStream) {
  TVRXTemporaryStream stored;
  const Bytes value = Content(60000, GetParam());
  auto d = Descriptor(GetParam(), 3, 8192);
  {
    TVRXCompressedBLOBStream blob(stored, false, true, d);
    for (size_t at = 0; at < value.size(); at += 1500)
      Append(blob, Bytes(value.begin() + at, value.begin() + std::min(at + 1500, value.size())));
    d = blob.Descriptor();
    // A block is recompressed for every append that lands in it.
    EXPECT_LE(blob.BlocksCompressed(), 40 + 8);
  }
  EXPECT_EQ(d.numBlocks, 8);
  TVRXCompressedBLOBStream blob(stored, false, false, d);
  EXPECT_EQ(ReadRange(blob, 0, 70000), value);
  for (int64_t at : {0, 8191, 8192, 30000, 59999}) {
    const int32_t n = 3000;
    const auto end = std::min<int64_t>(at + n, 60000);
    EXPECT_EQ(ReadRange(blob, at, n), Bytes(value.begin() + at, value.begin() + end)) << at;
  }
}

INSTANTIATE_TEST_SUITE_P(Compressed, Algorithms,
                         testing::Values(kCompressionZlib, kCompressionBzip, kCompressionPPM),
                         [](const testing::TestParamInfo<uint8_t>& info) {
                           return std::string(CompressionAlgorithmName(info.param));
                         });

TEST(CompressedBLOBStream, LargeValueSpillingToAFile) {
  TVRXTemporaryStream stored;
  // Text with noise in every other 64 KB, so that the compressed value
  // passes the temporary stream's memory limit.
  Bytes value = Content(3 << 20, 21);
  uint32_t x = 5;
  for (size_t i = 0; i < value.size(); ++i) {
    if ((i >> 16) % 2 == 0) continue;
    x = x * 1103515245u + 12345u;
    value[i] = static_cast<uint8_t>(x >> 16);
  }
  auto d = Descriptor(kCompressionZlib, 1, 0);
  {
    TVRXCompressedBLOBStream blob(stored, false, true, d);
    EXPECT_EQ(blob.BlockSize(), 524288);
    for (size_t at = 0; at < value.size(); at += 700000)
      Append(blob, Bytes(value.begin() + at, value.begin() + std::min(at + 700000, value.size())));
    d = blob.Descriptor();
  }
  ASSERT_GT(stored.GetSize(), TVRXTemporaryStream::kMemoryLimit) << "the test needs a spilled stream";
  EXPECT_FALSE(stored.InMemory());
  TVRXCompressedBLOBStream blob(stored, false, false, d);
  EXPECT_EQ(blob.GetSize(), 3 << 20);
  EXPECT_EQ(ReadRange(blob, 1100000, 100000),
            Bytes(value.begin() + 1100000, value.begin() + 1200000));
  EXPECT_EQ(blob.BlocksDecompressed(), 1);
}

// ------------------------------------------------------------ damaged data

// Flips bytes all over a stored value (headers and data of every block): each
// full read either fails with one of the stream's own errors or returns the
// value unchanged.
class Corruption : public testing::TestWithParam<uint8_t> {};

TEST_P(Corruption, EveryReadFailsCleanlyOrIsCorrect) {
  const uint8_t algorithm = GetParam();
  const Bytes value = Content(7000, 77);
  TVRXMemoryStream pristine;
  auto d = Descriptor(algorithm, 2, 4096);
  {
    TVRXCompressedBLOBStream blob(pristine, false, true, d);
    Append(blob, value);
    d = blob.Descriptor();
  }
  ASSERT_EQ(d.numBlocks, 2);
  const Bytes good = StreamBytes(pristine);
  int failed = 0, intact = 0;
  // Every byte of the first header and the start of its data, then a
  // stride through the rest.
  const size_t step = std::max<size_t>(1, good.size() / 150);
  for (size_t at = 0; at < good.size(); at += (at < 48 ? 1 : step)) {
    for (uint8_t mask : {uint8_t{0x01}, uint8_t{0xFF}}) {
      Bytes damaged = good;
      damaged[at] ^= mask;
      TVRXMemoryStream stored;
      stored.Write(damaged.data(), static_cast<int32_t>(damaged.size()));
      try {
        TVRXCompressedBLOBStream blob(stored, false, false, d);
        Bytes all(20000);
        all.resize(static_cast<size_t>(blob.Read(all.data(), 20000)));
        ASSERT_EQ(all, value) << "byte " << at << " mask " << int(mask);
        ++intact;
      } catch (const EVRXException& e) {
        EXPECT_GE(e.NativeError(), 10080) << e.Message();
        EXPECT_LE(e.NativeError(), 10103) << e.Message();
        ++failed;
      }
    }
  }
  EXPECT_GT(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Compressed, Corruption,
                         testing::Values(kCompressionZlib, kCompressionBzip, kCompressionPPM),
                         [](const testing::TestParamInfo<uint8_t>& info) {
                           return std::string(CompressionAlgorithmName(info.param));
                         });

// ------------------------------------------------------------ block index

TEST(BlockHeadersArray, GrowsByADoublingStepAndFreesAtZero) {
  TVRXCompressedStreamBlockHeadersArray index;
  TVRXCompressedStreamBlockHeader h;
  for (int i = 0; i < 11; ++i) {
    h.uncompressedSize = i;
    index.Append(h, i * 100);
  }
  EXPECT_EQ(index.Count(), 11);
  EXPECT_EQ(index.Capacity(), 30) << "10, then 10 + 20";
  index.SetCount(31);
  EXPECT_EQ(index.Capacity(), 70) << "then 30 + 40";
  EXPECT_EQ(index.Header(10).uncompressedSize, 10);
  EXPECT_EQ(index.Position(10), 1000);
  EXPECT_EQ(index.Header(20).uncompressedSize, 0) << "entries made visible by growth are empty";
  index.SetCount(500);
  EXPECT_EQ(index.Capacity(), 500) << "at least the count asked for";
  index.SetCount(495);
  EXPECT_EQ(index.Capacity(), 500) << "within the shrink step nothing moves";
  index.SetCount(12);
  EXPECT_EQ(index.Capacity(), 12);
  EXPECT_EQ(index.Header(11).uncompressedSize, 0);
  EXPECT_EQ(index.Header(9).uncompressedSize, 9);
  index.SetCount(0);
  EXPECT_EQ(index.Capacity(), 0);
}

}  // namespace
}  // namespace vrx
