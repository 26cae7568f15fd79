// The POSIX file layer: reads and writes at 64-bit offsets, share modes and
// open-file-description locks between two File objects of one process.
#include "platform/os/File.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <sys/stat.h>

namespace vrx::os {
namespace {

std::unique_ptr<File> OpenOrFail(const std::string& path, OpenOptions options) {
  int error = 0;
  auto file = PosixFileSystem().Open(path, options, error);
  EXPECT_TRUE(file) << "error " << error << ": " << ErrorText(error);
  return file;
}

OpenOptions Create() {
  OpenOptions o;
  o.write = true;
  o.create = true;
  return o;
}

TEST(PosixFileTest, ReadWriteAtLargeOffsetsAndShortReadAtEnd) {
  auto file = OpenOrFail("f", Create());
  ASSERT_TRUE(file);
  const int64_t far = int64_t{5} << 32;  // beyond 32-bit offsets
  ASSERT_EQ(file->Write(far, "abcd", 4), 0);
  int64_t size = 0;
  ASSERT_EQ(file->GetSize(size), 0);
  EXPECT_EQ(size, far + 4);

  char buffer[8] = "xxxxxxx";
  size_t done = 99;
  ASSERT_EQ(file->Read(far + 2, buffer, 6, done), 0);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(std::string(buffer, 7), "cdxxxxx");  // the rest keeps its contents

  ASSERT_EQ(file->SetSize(10), 0);
  ASSERT_EQ(file->GetSize(size), 0);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(file->Sync(), 0);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(file->Read(0, buffer, 1, done), EBADF);
}

TEST(PosixFileTest, MissingFileReportsErrno) {
  int error = 0;
  EXPECT_FALSE(PosixFileSystem().Open("missing", OpenOptions{}, error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
}

TEST(PosixFileTest, LocksConflictBetweenTwoFilesOfOneProcess) {
  auto a = OpenOrFail("f", Create());
  OpenOptions rw;
  rw.write = true;
  auto b = OpenOrFail("f", rw);
  ASSERT_TRUE(a && b);

  ASSERT_EQ(a->Lock(360, 1), 0);
  EXPECT_EQ(a->Lock(360, 1), 0) << "re-taking one's own lock succeeds";
  EXPECT_EQ(b->Lock(360, 1), kLockConflict);
  EXPECT_EQ(b->Lock(359, 3), kLockConflict) << "overlapping range";
  EXPECT_EQ(b->Lock(359, 1), 0) << "neighbouring byte is free";

  bool locked = false;
  ASSERT_EQ(b->Probe(360, 1, locked), 0);
  EXPECT_TRUE(locked);
  ASSERT_EQ(a->Probe(360, 1, locked), 0);
  EXPECT_FALSE(locked) << "own locks are not someone else's";

  ASSERT_EQ(a->Unlock(360, 1), 0);
  EXPECT_EQ(b->Lock(360, 1), 0);
  ASSERT_EQ(b->Close(), 0);  // closing releases every lock of b
  EXPECT_EQ(a->Lock(359, 2), 0);
}

TEST(PosixFileTest, ReadOnlyFileTakesSharedLocks) {
  { ASSERT_TRUE(OpenOrFail("f", Create())); }
  auto reader1 = OpenOrFail("f", OpenOptions{});
  auto reader2 = OpenOrFail("f", OpenOptions{});
  OpenOptions rw;
  rw.write = true;
  auto writer = OpenOrFail("f", rw);
  ASSERT_TRUE(reader1 && reader2 && writer);
  EXPECT_EQ(reader1->Lock(10, 1), 0);
  EXPECT_EQ(reader2->Lock(10, 1), 0) << "two readers share";
  EXPECT_EQ(writer->Lock(10, 1), kLockConflict);
  ASSERT_EQ(writer->Lock(20, 1), 0);
  EXPECT_EQ(reader1->Lock(20, 1), kLockConflict);
}

struct ShareCase {
  const char* name;
  OpenOptions first;
  OpenOptions second;
  bool secondOpens;
};

OpenOptions Opts(bool write, bool denyRead, bool denyWrite) {
  OpenOptions o;
  o.write = write;
  o.denyRead = denyRead;
  o.denyWrite = denyWrite;
  return o;
}

TEST(PosixFileTest, ShareModesBetweenOpeners) {
  const ShareCase cases[] = {
      {"deny none, deny none", Opts(true, false, false), Opts(true, false, false), true},
      {"exclusive holder refuses a reader", Opts(true, true, true), Opts(false, false, false),
       false},
      {"reader refuses an exclusive opener", Opts(false, false, false), Opts(true, true, true),
       false},
      {"deny-write holder admits a reader", Opts(false, false, true), Opts(false, false, false),
       true},
      {"deny-write holder refuses a writer", Opts(false, false, true), Opts(true, false, false),
       false},
      {"writer refuses a deny-write opener", Opts(true, false, false), Opts(false, false, true),
       false},
      {"deny-read opener refused by a reader", Opts(false, false, false), Opts(true, true, false),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    { ASSERT_TRUE(OpenOrFail("s", Create())); }
    int error = 0;
    auto first = PosixFileSystem().Open("s", c.first, error);
    ASSERT_TRUE(first) << error;
    auto second = PosixFileSystem().Open("s", c.second, error);
    EXPECT_EQ(second != nullptr, c.secondOpens);
    if (!c.secondOpens) {
      EXPECT_EQ(error, kSharingViolation);
    }
    second.reset();
    first.reset();
    // Once both are closed anyone may open again.
    EXPECT_TRUE(OpenOrFail("s", Opts(true, true, true)));
  }
}

TEST(PosixFileTest, CreateOverAFileHeldOpenLeavesItAlone) {
  auto holder = OpenOrFail("f", Create());
  ASSERT_TRUE(holder);
  ASSERT_EQ(holder->Write(0, "data", 4), 0);
  OpenOptions exclusiveCreate = Create();
  exclusiveCreate.denyRead = exclusiveCreate.denyWrite = true;
  int error = 0;
  EXPECT_FALSE(PosixFileSystem().Open("f", exclusiveCreate, error));
  EXPECT_EQ(error, kSharingViolation);
  int64_t size = 0;
  ASSERT_EQ(holder->GetSize(size), 0);
  EXPECT_EQ(size, 4);
}

TEST(PosixFileTest, AttributesAndDirectoryOperations) {
  { ASSERT_TRUE(OpenOrFail("f", Create())); }
  FileSystem& fs = PosixFileSystem();
  bool readOnly = true;
  ASSERT_EQ(fs.GetReadOnlyAttribute("f", readOnly), 0);
  EXPECT_FALSE(readOnly);
  ASSERT_EQ(chmod("f", 0444), 0);
  ASSERT_EQ(fs.GetReadOnlyAttribute("f", readOnly), 0);
  EXPECT_TRUE(readOnly);
  EXPECT_EQ(fs.RewriteAttributes("f"), 0);
  ASSERT_EQ(fs.ClearReadOnlyAttribute("f"), 0);
  ASSERT_EQ(fs.GetReadOnlyAttribute("f", readOnly), 0);
  EXPECT_FALSE(readOnly);
  EXPECT_EQ(fs.SyncDirectory("."), 0);
  EXPECT_TRUE(fs.Exists("f"));
  EXPECT_EQ(fs.Remove("f"), 0);
  EXPECT_FALSE(fs.Exists("f"));
  EXPECT_EQ(fs.Remove("f"), ENOENT);
  EXPECT_EQ(DirectoryOf("a/b/c.vrx"), "a/b");
  EXPECT_EQ(DirectoryOf("c.vrx"), ".");
  EXPECT_EQ(DirectoryOf("/c.vrx"), "/");
}

}  // namespace
}  // namespace vrx::os
