// The crash simulation itself: what survives each kind of crash, and that a
// failure or a stop hits exactly the numbered event.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/FaultFileSystem.h"

namespace {

using vrx::test::CrashMode;
using vrx::test::FaultFileSystem;

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

std::unique_ptr<vrx::os::File> OpenRw(FaultFileSystem& fs, const std::string& path,
                                      bool create) {
  vrx::os::OpenOptions options;
  options.write = true;
  options.create = create;
  int error = 0;
  auto file = fs.Open(path, options, error);
  EXPECT_NE(file, nullptr) << error;
  return file;
}

// A file with 1024 synced bytes of 'a', then an unsynced write of 1024 bytes
// of 'b' at offset 512 (so the last 512 bytes grow the file).
struct Scenario {
  FaultFileSystem fs;
  std::unique_ptr<vrx::os::File> file;
  Scenario() {
    file = OpenRw(fs, "f", true);
    const std::vector<uint8_t> a(1024, 'a'), b(1024, 'b');
    EXPECT_EQ(file->Write(0, a.data(), a.size()), 0);
    EXPECT_EQ(file->Sync(), 0);
    EXPECT_EQ(fs.SyncDirectory("."), 0);
    EXPECT_EQ(file->Write(512, b.data(), b.size()), 0);
  }
};

TEST(FaultFileSystem, KeepLeavesWhatTheProcessWrote) {
  Scenario s;
  s.fs.Crash(CrashMode::kKeep);
  std::vector<uint8_t> expected(1536, 'b');
  std::fill_n(expected.begin(), 512, 'a');
  EXPECT_EQ(Bytes("f"), expected);
}

TEST(FaultFileSystem, DropLeavesTheSyncedContent) {
  Scenario s;
  s.fs.Crash(CrashMode::kDrop);
  EXPECT_EQ(Bytes("f"), std::vector<uint8_t>(1024, 'a'));
}

TEST(FaultFileSystem, TearKeepsWholeSectorsOfEitherVersion) {
  bool sawMixed = false;
  for (uint32_t seed = 0; seed < 16; ++seed) {
    Scenario s;
    s.fs.Crash(CrashMode::kTear, seed);
    const auto bytes = Bytes("f");
    ASSERT_GE(bytes.size(), 1024u);
    for (size_t i = 0; i < 512; ++i) ASSERT_EQ(bytes[i], 'a');
    // Each sector of the unsynced write is wholly old or wholly new.
    for (size_t sector = 512; sector < bytes.size(); sector += 512) {
      const uint8_t first = bytes[sector];
      for (size_t i = sector; i < std::min(bytes.size(), sector + 512); ++i)
        ASSERT_EQ(bytes[i], first) << "seed " << seed << " offset " << i;
    }
    const bool firstNew = bytes[512] == 'b';
    const bool secondNew = bytes.size() == 1536;
    if (firstNew != secondNew) sawMixed = true;
  }
  EXPECT_TRUE(sawMixed) << "no seed tore the write";
}

TEST(FaultFileSystem, UnsyncedCreateVanishesAndUnsyncedRemoveComesBack) {
  FaultFileSystem fs;
  {
    auto kept = OpenRw(fs, "kept", true);
    const char text[] = "durable";
    ASSERT_EQ(kept->Write(0, text, 7), 0);
    ASSERT_EQ(kept->Sync(), 0);
  }
  ASSERT_EQ(fs.SyncDirectory("."), 0);
  {
    auto fresh = OpenRw(fs, "fresh", true);
    ASSERT_EQ(fresh->Write(0, "x", 1), 0);
    ASSERT_EQ(fresh->Sync(), 0);  // content synced, directory entry not
  }
  ASSERT_EQ(fs.Remove("kept"), 0);
  fs.Crash(CrashMode::kDrop);
  EXPECT_FALSE(fs.Exists("fresh"));
  EXPECT_EQ(Bytes("kept"), std::vector<uint8_t>({'d', 'u', 'r', 'a', 'b', 'l', 'e'}));
}

TEST(FaultFileSystem, FailAtHitsOneEventStopAtEveryLaterCall) {
  FaultFileSystem fs;
  auto file = OpenRw(fs, "f", true);  // event 1
  fs.FailAt(3);
  EXPECT_EQ(file->Write(0, "a", 1), 0);       // 2
  EXPECT_EQ(file->Write(1, "b", 1), EIO);     // 3 fails
  EXPECT_EQ(file->Sync(), 0);                 // 4 goes on
  fs.StopAt(6);
  EXPECT_EQ(file->Write(2, "c", 1), 0);       // 5
  EXPECT_EQ(file->Sync(), EIO);               // 6 stops
  EXPECT_TRUE(fs.Stopped());
  char c = 0;
  size_t done = 0;
  EXPECT_EQ(file->Read(0, &c, 1, done), EIO);
  EXPECT_EQ(file->Write(0, "z", 1), EIO);
  EXPECT_EQ(fs.Events(), 6);
  EXPECT_EQ(fs.Writes(), 2);  // writes that reached the file
  fs.Crash(CrashMode::kDrop);
  EXPECT_FALSE(fs.Stopped());
  EXPECT_EQ(fs.Events(), 0);
  // Synced at event 4: only "a"; the entry itself was never directory-synced.
  EXPECT_FALSE(fs.Exists("f"));
}

}  // namespace
