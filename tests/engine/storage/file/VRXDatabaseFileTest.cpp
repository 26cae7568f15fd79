// TVRXDatabaseFile: messages with the system's error, positions, locks and
// the lock fallback, and the search for a database inside a larger file.
#include "engine/storage/file/VRXDatabaseFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "engine/base/VRXExcept.h"
#include "engine/storage/pages/VRXPageLayout.h"
#include "tests/support/ForwardingFileSystem.h"
#include "tests/support/TestSupport.h"

namespace vrx {
namespace {

using pelvaro::test::MessageOf;

// A file layer whose reads and locks fail with chosen errors.
class FailingFile final : public pelvaro::test::ForwardingFile {
 public:
  FailingFile(std::unique_ptr<os::File> inner, int readError, int lockError)
      : ForwardingFile(std::move(inner)), readError_(readError), lockError_(lockError) {}
  int Read(int64_t o, void* b, size_t c, size_t& d) override {
    d = 0;
    return readError_ != 0 ? readError_ : ForwardingFile::Read(o, b, c, d);
  }
  int Lock(int64_t o, int64_t l) override {
    ++lockCalls;
    return lockError_ != 0 ? lockError_ : ForwardingFile::Lock(o, l);
  }
  int Unlock(int64_t o, int64_t l) override {
    return lockError_ != 0 ? lockError_ : ForwardingFile::Unlock(o, l);
  }
  static inline int lockCalls = 0;

 private:
  int readError_;
  int lockError_;
};

class FailingFileSystem final : public pelvaro::test::ForwardingFileSystem {
 public:
  int readError = 0;
  int lockError = 0;

 protected:
  std::unique_ptr<os::File> Wrap(std::unique_ptr<os::File> file) override {
    return std::make_unique<FailingFile>(std::move(file), readError, lockError);
  }
};

TEST(DatabaseFileTest, OpenCloseAndModeErrors) {
  TVRXDatabaseFile file;
  EXPECT_EQ(MessageOf([&] { file.GetSize(); }),
            "Cannot perform this operation (GetSize) on a closed file - Native error: 30376");
  EXPECT_EQ(MessageOf([&] { file.CreateFile(""); }),
            "Cannot create file with blank FileName - Native error: 30374");
  EXPECT_EQ(MessageOf([&] { file.OpenFile("missing.vrx", 0, 1); }),
            "Cannot open file:'missing.vrx' Error code: 2. ErrorMessage: No such file or "
            "directory - Native error: 30364");
  EXPECT_EQ(MessageOf([&] { file.OpenFile("x", 2, 1); }),
            "Unknown Access mode: '2' - Native error: 30366");
  EXPECT_EQ(MessageOf([&] { file.OpenFile("x", 1, 3); }),
            "Unknown Share mode: '3' - Native error: 30367");
  EXPECT_EQ(MessageOf([&] { file.CreateFile("no/such/dir/x.vrx"); }),
            "Cannot create file: 'no/such/dir/x.vrx' Error code: 2. ErrorMessage: No such file "
            "or directory - Native error: 30361");

  file.CreateFile("a.vrx");
  EXPECT_EQ(file.AccessMode(), TVRXDatabaseFile::amReadWrite);
  EXPECT_EQ(file.ShareMode(), TVRXDatabaseFile::smExclusive);
  EXPECT_EQ(MessageOf([&] { file.OpenFile("a.vrx", 0, 1); }),
            "Cannot perform this operation (OpenFile) on a opened file - Native error: 30377");
  file.CloseFile();
  file.CloseFile();  // closing twice is harmless
  EXPECT_FALSE(file.IsOpen());
}

TEST(DatabaseFileTest, CreateReplacesAReadOnlyFile) {
  { std::ofstream("ro.vrx") << "old contents"; }
  ASSERT_EQ(chmod("ro.vrx", 0444), 0);
  TVRXDatabaseFile file;
  file.CreateFile("ro.vrx");
  EXPECT_EQ(file.GetSize(), 0);
}

TEST(DatabaseFileTest, PositionsSizesAndReadsPastTheEnd) {
  TVRXDatabaseFile file;
  file.CreateFile("p.vrx");
  const int64_t far = int64_t{3} << 32;
  file.WriteBuffer("0123456789", 10462, far, 10);
  EXPECT_EQ(file.GetPosition(), far + 10);
  EXPECT_EQ(file.GetSize(), far + 10);

  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(file.ReadBuffer(buffer, 10464, far + 6, 8), 4);
  EXPECT_EQ(std::string(buffer, 8), "6789####");

  EXPECT_TRUE(file.Seek(5));
  EXPECT_FALSE(file.Seek(-1));
  EXPECT_EQ(file.GetPosition(), 5);
  EXPECT_EQ(MessageOf([&] { file.SetPosition(-7, 10471); }),
            "Cannot Set File Position to -7. FileName='p.vrx'. FilePosition = 5, FileSize = " +
                std::to_string(far + 10) + " - Native error: 10471");
  file.SetSize(100);
  EXPECT_EQ(file.GetSize(), 100);
  EXPECT_EQ(MessageOf([&] { file.SetSize(-1); }),
            "Cannot Truncate File 'p.vrx' to -1 bytes. ErrorCode:22. ErrorMessage: Invalid "
            "argument - Native error: 30370");
  EXPECT_NO_THROW(file.FlushFileBuffers());
}

TEST(DatabaseFileTest, ReadAndWriteFailuresCarryTheCallersNumber) {
  FailingFileSystem fs;
  fs.readError = EIO;
  TVRXDatabaseFile file(fs);
  file.CreateFile("r.vrx");
  file.WriteBuffer("abc", 1, 0, 3);
  char buffer[4];
  EXPECT_EQ(MessageOf([&] { file.ReadBuffer(buffer, 10464, 1, 2); }),
            "Cannot Read from file: 'r.vrx' Position = 1, Count = 2, FilePosition = 3, FileSize "
            "= 3, ErrorCode:5. ErrorMessage: Input/output error - Native error: 10464");

  file.CloseFile();  // created exclusively: nobody else may open it meanwhile
  TVRXDatabaseFile reader;
  reader.OpenFile("r.vrx", TVRXDatabaseFile::amRead, TVRXDatabaseFile::smDenyNone);
  EXPECT_EQ(MessageOf([&] { reader.WriteBuffer("x", 10469, 8, 1); }),
            "Cannot Write to file: 'r.vrx' Position = 8, Count = 1, FilePosition = 0, FileSize "
            "= 3, ErrorCode:9. ErrorMessage: Bad file descriptor - Native error: 10469");
}

TEST(DatabaseFileTest, ByteLocksBetweenTwoFileObjects) {
  {
    TVRXDatabaseFile creator;
    creator.CreateFile("l.vrx");
  }
  TVRXDatabaseFile a;
  TVRXDatabaseFile b;
  a.OpenFile("l.vrx", 1, 1);
  b.OpenFile("l.vrx", 1, 1);
  ASSERT_TRUE(a.LockByte(1, 360));
  EXPECT_FALSE(b.LockByte(1, 360));
  EXPECT_TRUE(b.IsByteLocked(360));
  EXPECT_TRUE(b.IsRegionLocked(10, 355));
  EXPECT_FALSE(b.IsRegionLocked(4, 356));
  EXPECT_FALSE(a.IsByteLocked(360)) << "a holds it itself";
  EXPECT_FALSE(b.LocksUnsupported()) << "a conflict is not a missing lock facility";
  EXPECT_TRUE(a.UnlockByte(1, 360));
  EXPECT_TRUE(b.LockByte(1, 360));
  EXPECT_FALSE(a.LockByte(0, 360)) << "empty range";
}

TEST(DatabaseFileTest, LocksUnsupportedByTheFileSystemAlwaysSucceed) {
  for (int error : {ENOLCK, EINVAL, EBADF, EIO, ENOSYS}) {
    SCOPED_TRACE(error);
    FailingFileSystem fs;
    fs.lockError = error;
    TVRXDatabaseFile file(fs);
    file.CreateFile("u.vrx");
    FailingFile::lockCalls = 0;
    EXPECT_TRUE(file.LockByte(1, 10));
    EXPECT_TRUE(file.LocksUnsupported());
    EXPECT_TRUE(file.LockByte(1, 10));
    EXPECT_TRUE(file.UnlockByte(1, 10));
    EXPECT_EQ(FailingFile::lockCalls, 1) << "the answer is remembered";
    file.CloseFile();
  }
  FailingFileSystem fs;
  fs.lockError = os::kLockConflict;
  TVRXDatabaseFile file(fs);
  file.CreateFile("u.vrx");
  EXPECT_FALSE(file.LockByte(1, 10));
  EXPECT_FALSE(file.LocksUnsupported());
}

// A file holding `junk` bytes, then a database main header, then a tail.
void WriteEmbedded(const std::string& name, int64_t junk, bool validHeaderSize = true) {
  std::vector<uint8_t> bytes(static_cast<size_t>(junk) + 500, 'x');
  TVRXMainHeader header = TVRXMainHeader::Fresh(4096, 8);
  if (!validHeaderSize) header.headerSize = 77;
  header.Store(bytes.data() + junk);
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

TEST(DatabaseFileTest, FindDatabaseStartScansInOverlappingWindows) {
  // Window seams lie near multiples of 10,000 - 18.
  for (int64_t start :
       {int64_t{0}, int64_t{1}, int64_t{9981}, int64_t{9982}, int64_t{9983}, int64_t{9984},
        int64_t{9990}, int64_t{9999}, int64_t{10000}, int64_t{19964}, int64_t{25000}}) {
    SCOPED_TRACE(start);
    WriteEmbedded("e.vrx", start);
    TVRXDatabaseFile file;
    file.OpenFile("e.vrx", 0, 1);
    file.Seek(77);
    int64_t found = -1;
    EXPECT_TRUE(file.FindDatabaseStart(found));
    EXPECT_EQ(found, start);
    EXPECT_EQ(file.GetPosition(), 77) << "position restored";
  }
}

TEST(DatabaseFileTest, FindDatabaseStartWithoutADatabase) {
  WriteEmbedded("bad.vrx", 12345, /*validHeaderSize=*/false);
  TVRXDatabaseFile file;
  file.OpenFile("bad.vrx", 0, 1);
  int64_t found = -1;
  EXPECT_FALSE(file.FindDatabaseStart(found));
  EXPECT_EQ(found, 0);

  { std::ofstream("empty.vrx"); }
  TVRXDatabaseFile empty;
  empty.OpenFile("empty.vrx", 0, 1);
  EXPECT_FALSE(empty.FindDatabaseStart(found));
  EXPECT_EQ(found, 0);
}

}  // namespace
}  // namespace vrx
