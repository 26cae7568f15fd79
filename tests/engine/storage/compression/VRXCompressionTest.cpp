// CRC-32, algorithm names, default block sizes and whole-buffer compression
// of every algorithm and mode.
#include "engine/storage/compression/VRXCompression.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vrx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// English-like text: words drawn from a short list by a fixed generator.
Bytes Text(size_t size, uint32_t seed = 7) {
  static const char* const kWords[] = {
      "the",   "players", "round", "table", "of",     "four",  "score", "points",
      "and",   "seating", "next",  "pairs", "winner", "shared", "place", "tournament",
      "after", "a",       "each",  "game",  "board",  "with",  "their", "organiser"};
  std::string out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1664525u + 1013904223u;
    out += kWords[(x >> 16) % (sizeof kWords / sizeof kWords[0])];
    out += ((x >> 8) % 13 == 0) ? ".\n" : " ";
  }
  out.resize(size);
  return FromText(out);
}

Bytes Random(size_t size, uint32_t seed = 3) {
  Bytes data(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : data) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<uint8_t>(x);
  }
  return data;
}

// Structured binary: little-endian records with counters, flags and floats.
Bytes Binary(size_t size) {
  Bytes data;
  data.reserve(size + 16);
  for (uint32_t i = 0; data.size() < size; ++i) {
    const uint32_t fields[4] = {i, i * 7 % 1000, (i & 3) ? 0u : 0xFFFFFFFFu, i * 2654435761u};
    for (uint32_t f : fields)
      for (int k = 0; k < 4; ++k) data.push_back(static_cast<uint8_t>(f >> (8 * k)));
  }
  data.resize(size);
  return data;
}

Bytes Repetitive(size_t size) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = "abcabcabd"[i % 9];
  return data;
}

// ------------------------------------------------------------------ CRC-32

TEST(CRC32, MatchesTheEnginesValues) {
  EXPECT_EQ(CRC32(0, nullptr, 0), 0u);
  EXPECT_EQ(CRC32(0x12345678, "x", 0), 0x12345678u) << "no data keeps the start value";
  EXPECT_EQ(CRC32(0, "abc", 3), 0xCA6598D0u);
  // No pre- or post-inversion: the common zlib CRC of "abc" is 0x352441C2,
  // which is this routine started from and ended with all ones.
  EXPECT_EQ(CRC32(0xFFFFFFFF, "abc", 3) ^ 0xFFFFFFFFu, 0x352441C2u);
  EXPECT_EQ(CRC32(0xFFFFFFFF, "123456789", 9) ^ 0xFFFFFFFFu, 0xCBF43926u);
}

TEST(CRC32, ChainsAcrossPieces) {
  const Bytes data = Random(10000);
  uint32_t chained = 0;
  for (size_t at = 0; at < data.size(); at += 777)
    chained = CRC32(chained, data.data() + at, std::min<size_t>(777, data.size() - at));
  EXPECT_EQ(chained, CRC32(0, data.data(), data.size()));
}

// ------------------------------------------------------------ names, sizes

TEST(CompressionAlgorithmByName, MatchesInAnyCaseAndUnknownIsNone) {
  const struct {
    const char* name;
    uint8_t code;
  } cases[] = {{"NONE", 0}, {"none", 0}, {"ZLIB", 1}, {"zlib", 1}, {"ZlIb", 1},
               {"BZIP", 2}, {"bZip", 2}, {"PPM", 3},  {"ppm", 3},  {"pPm", 3},
               {"LZMA", 0}, {"", 0},     {"ZLIB ", 0}, {"ZLI", 0}, {"BZIP2", 0}};
  for (const auto& c : cases) EXPECT_EQ(CompressionAlgorithmByName(c.name), c.code) << c.name;
  EXPECT_EQ(CompressionAlgorithmName(2), "BZIP");
  EXPECT_EQ(CompressionAlgorithmName(4), "");
}

TEST(DefaultBlobBlockSize, GrowsWithTheMode) {
  const int32_t expected[10] = {102400,  524288,  524288,  524288,  1048576,
                                1048576, 1048576, 1572864, 1572864, 1572864};
  for (uint8_t mode = 0; mode <= 9; ++mode)
    EXPECT_EQ(DefaultBlobBlockSize(mode), expected[mode]) << int(mode);
}

TEST(PPMParametersForMode, FollowsTheModeTable) {
  const int orders[10] = {0, 2, 3, 4, 5, 7, 8, 10, 13, 16};
  const int memory[10] = {0, 2, 3, 7, 16, 22, 25, 40, 100, 100};
  for (uint8_t mode = 0; mode <= 9; ++mode) {
    EXPECT_EQ(PPMParametersForMode(mode).order, orders[mode]);
    EXPECT_EQ(PPMParametersForMode(mode).memoryMB, memory[mode]);
  }
  EXPECT_EQ(PPMParametersForMode(10).order, 0);
}

// ------------------------------------------------------------ failures

TEST(CompressBuffer, RefusesWhatCannotBeCompressed) {
  const Bytes data = Text(1000);
  Bytes out{1, 2, 3};
  const struct {
    uint8_t algorithm, mode;
    size_t size;
    const char* why;
  } cases[] = {
      {kCompressionNone, 5, 1000, "algorithm 0"},     {7, 5, 1000, "unknown algorithm"},
      {kCompressionZlib, 5, 0, "size 0"},             {kCompressionBzip, 5, 0, "size 0"},
      {kCompressionPPM, 5, 0, "size 0"},              {kCompressionBzip, 0, 1000, "BZIP mode 0"},
      {kCompressionPPM, 0, 1000, "PPM mode 0"},       {kCompressionZlib, 10, 1000, "mode 10"},
      {kCompressionBzip, 10, 1000, "mode 10"},        {kCompressionPPM, 10, 1000, "mode 10"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CompressBuffer(c.algorithm, c.mode, data.data(), c.size, out)) << c.why;
    EXPECT_TRUE(out.empty()) << c.why;
  }
}

TEST(DecompressBuffer, RefusesEmptyUnknownAndTruncatedInput) {
  const Bytes data = Text(50000);
  Bytes out;
  EXPECT_FALSE(DecompressBuffer(kCompressionNone, data.data(), data.size(), 0, out));
  EXPECT_FALSE(DecompressBuffer(kCompressionZlib, data.data(), 0, 0, out));
  for (uint8_t algorithm : {kCompressionZlib, kCompressionBzip, kCompressionPPM}) {
    Bytes packed;
    ASSERT_TRUE(CompressBuffer(algorithm, 3, data.data(), data.size(), packed));
    // Every cut of the compressed bytes fails, with or without the size.
    for (size_t cut : {size_t{1}, size_t{4}, packed.size() / 2, packed.size() - 1}) {
      EXPECT_FALSE(DecompressBuffer(algorithm, packed.data(), cut, data.size(), out))
          << int(algorithm) << " cut " << cut;
      if (algorithm != kCompressionPPM) {
        EXPECT_FALSE(DecompressBuffer(algorithm, packed.data(), cut, 0, out)) << int(algorithm);
      }
    }
    EXPECT_FALSE(DecompressBuffer(algorithm, data.data(), 5000, data.size(), out))
        << int(algorithm) << " plain text is no compressed stream";
  }
}

// ------------------------------------------------------------ round trips

struct Sample {
  const char* name;
  Bytes data;
};

const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = {
      {"one byte", Bytes{0x5A}},
      {"text", Text(40000)},
      {"binary", Binary(40000)},
      {"repetitive", Repetitive(40000)},
      {"random", Random(40000)},
      {"zeros", Bytes(20000, 0)},
  };
  return samples;
}

// The PPM coder's cost per coding grows with its model memory (up to 100 MB
// at modes 8 and 9): at its high modes the samples are coded as one buffer.
const std::vector<Sample>& CombinedSamples() {
  static const std::vector<Sample> samples = [] {
    std::vector<Sample> out = {{"one byte", Bytes{0x5A}}, {"all kinds", Bytes()}};
    for (const auto& s : Samples())
      out[1].data.insert(out[1].data.end(), s.data.begin(), s.data.end());
    return out;
  }();
  return samples;
}

class RoundTrip : public testing::TestWithParam<uint8_t> {};

TEST_P(RoundTrip, EveryModeRestoresEverySample) {
  const uint8_t algorithm = GetParam();
  const uint8_t firstMode = algorithm == kCompressionZlib ? 0 : 1;
  for (uint8_t mode = firstMode; mode <= 9; ++mode) {
    const bool combined = algorithm == kCompressionPPM && mode >= 6;
    for (const auto& sample : combined ? CombinedSamples() : Samples()) {
      SCOPED_TRACE(std::string(sample.name) + " mode " + std::to_string(mode));
      Bytes packed, unpacked;
      ASSERT_TRUE(CompressBuffer(algorithm, mode, sample.data.data(), sample.data.size(), packed));
      ASSERT_FALSE(packed.empty());
      ASSERT_TRUE(DecompressBuffer(algorithm, packed.data(), packed.size(), sample.data.size(),
                                   unpacked));
      ASSERT_EQ(unpacked, sample.data);
      if (std::string(sample.name) == "repetitive" && mode > 0) {
        EXPECT_LT(packed.size(), sample.data.size() / 20);
      }
    }
  }
}

TEST_P(RoundTrip, SeveralMegabytes) {
  const uint8_t algorithm = GetParam();
  // The PPM coder is the slow one under the sanitizers: it gets less.
  const size_t scale = algorithm == kCompressionPPM ? 1 : 2;
  for (const Bytes& data : {Text(scale * 3 << 19, 11), Random(scale << 19, 5)}) {
    Bytes packed, unpacked;
    ASSERT_TRUE(CompressBuffer(algorithm, 2, data.data(), data.size(), packed));
    ASSERT_TRUE(DecompressBuffer(algorithm, packed.data(), packed.size(), data.size(), unpacked));
    ASSERT_EQ(unpacked, data);
  }
}

INSTANTIATE_TEST_SUITE_P(Algorithms, RoundTrip,
                         testing::Values(kCompressionZlib, kCompressionBzip, kCompressionPPM),
                         [](const testing::TestParamInfo<uint8_t>& info) {
                           return std::string(CompressionAlgorithmName(info.param));
                         });

TEST(DecompressBuffer, ZlibAndBzipDoNotNeedTheRightExpectedSize) {
  const Bytes data = Text(200000);
  for (uint8_t algorithm : {kCompressionZlib, kCompressionBzip}) {
    Bytes packed;
    ASSERT_TRUE(CompressBuffer(algorithm, 9, data.data(), data.size(), packed));
    for (size_t expected : {size_t{0}, size_t{1}, size_t{9999}, size_t{10000}, size_t{10001},
                            data.size() - 1, data.size(), data.size() * 3}) {
      Bytes out;
      ASSERT_TRUE(DecompressBuffer(algorithm, packed.data(), packed.size(), expected, out))
          << int(algorithm) << " " << expected;
      EXPECT_EQ(out, data) << int(algorithm) << " " << expected;
    }
  }
}

TEST(CompressBuffer, ProducesTheLibrariesFormats) {
  const Bytes data = Text(5000);
  Bytes packed;
  ASSERT_TRUE(CompressBuffer(kCompressionZlib, 6, data.data(), data.size(), packed));
  EXPECT_EQ(packed[0], 0x78) << "zlib header: deflate, 32K window";
  EXPECT_EQ((packed[0] * 256 + packed[1]) % 31, 0);
  ASSERT_TRUE(CompressBuffer(kCompressionBzip, 4, data.data(), data.size(), packed));
  EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "BZh4");
  ASSERT_TRUE(CompressBuffer(kCompressionPPM, 5, data.data(), data.size(), packed));
  ASSERT_GE(packed.size(), 4u);
  const uint32_t word = packed[0] | packed[1] << 8 | packed[2] << 16 | uint32_t{packed[3]} << 24;
  EXPECT_EQ(word, ((22u - 1) << 4) | (7u - 1) | 0x6000u) << "order 7, 22 MB, variant G";
}

}  // namespace
}  // namespace vrx
