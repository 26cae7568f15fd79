// A file system for tests that simulates failures and crashes. It wraps
// another os::FileSystem (the POSIX one by default): every call goes through
// to it, so the files on disk always hold what a running process would see.
// Beside that it keeps, per path, the durable content (as of the file's last
// sync) and the changes made since, which lets Crash() put on disk what the
// file would hold after a process kill or a power cut.
//
// Syncs are recorded but, unless SetRealSyncs(true), not passed on: what is
// durable is this object's model, and tests stay fast.
//
// Events: every Write, SetSize, Sync, SyncDirectory, Remove and every Open
// that creates a file is one numbered event, counted from 1 across all
// files. FailAt(n) makes event n fail with EIO and lets the rest go on (an
// I/O error); StopAt(n) makes event n and every later call fail with EIO
// (the process died there: reads, locks and opens fail too, closes succeed).
//
// Crash modes, for what was not yet synced:
//   kKeep  everything survives (the process was killed, the kernel kept its
//          page cache);
//   kDrop  nothing survives (power cut): each file is back to its durable
//          content, created files whose directory was not synced vanish,
//          removed ones come back;
//   kTear  power cut in the middle of writing back: each unsynced write
//          survives in 512-byte sector pieces (of absolute file offsets),
//          each piece kept or lost at random; size changes likewise.
//
// Paths are compared as given, so a test uses one spelling per file. Not
// thread-safe; one test uses one instance.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/os/File.h"

namespace vrx::test {

enum class CrashMode { kKeep, kDrop, kTear };

class FaultFileSystem final : public os::FileSystem {
 public:
  static constexpr int64_t kSectorSize = 512;

  explicit FaultFileSystem(os::FileSystem& base = os::PosixFileSystem());
  ~FaultFileSystem() override;

  std::unique_ptr<os::File> Open(const std::string& path, const os::OpenOptions& options,
                                 int& error) override;
  bool Exists(const std::string& path) override;
  int Remove(const std::string& path) override;
  int SyncDirectory(const std::string& directory) override;
  int GetReadOnlyAttribute(const std::string& path, bool& readOnly) override;
  int RewriteAttributes(const std::string& path) override;
  int ClearReadOnlyAttribute(const std::string& path) override;

  int64_t Events() const { return events_; }
  int64_t Writes() const { return writes_; }
  int64_t Syncs() const { return syncs_; }
  void ResetCounters() { events_ = writes_ = syncs_ = 0; }

  // Syncs are modelled, not passed on (the test stays fast); true passes
  // them on to the base file system as well.
  void SetRealSyncs(bool on) { realSyncs_ = on; }

  void FailAt(int64_t event) { failAt_ = event; }
  void StopAt(int64_t event) { stopAt_ = event; }
  bool Stopped() const { return stopped_; }

  // Rewrites every file this object has seen as the crash leaves it, then
  // starts afresh: not stopped, no failure armed, counters at zero, the
  // surviving content counted as durable. File objects opened before lose
  // their handles (and locks) and fail every later call. The file system
  // must outlive the files it opened.
  void Crash(CrashMode mode, uint32_t seed = 0);

 private:
  class FaultFile;
  struct Change {
    bool resize;             // true: SetSize(size); false: write of bytes at offset
    int64_t offset;          // write offset, or the new size
    std::vector<uint8_t> bytes;
  };
  struct State {
    bool exists = false;          // as the process sees it
    bool durableExists = false;   // directory entry survives a power cut
    std::vector<uint8_t> durable; // content as of the last sync
    std::vector<Change> changes;  // since the last sync, in order
  };

  // Counts one event; false (and `error` = EIO) when it is to fail.
  bool Event(int& error);
  State& Track(const std::string& path);
  static void Apply(std::vector<uint8_t>& content, const Change& change);
  void WriteBack(const std::string& path, const State& state);

  os::FileSystem& base_;
  std::map<std::string, State> files_;
  std::mt19937 random_;
  int64_t events_ = 0;
  int64_t writes_ = 0;
  int64_t syncs_ = 0;
  int64_t failAt_ = 0;
  int64_t stopAt_ = 0;
  bool stopped_ = false;
  bool realSyncs_ = false;
  std::vector<FaultFile*> open_;  // live files; Crash() kills them
};

}  // namespace vrx::test
