#include "tests/support/FaultFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace vrx::test {

namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& content) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  content.resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(content.size()));
  return true;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
}

}  // namespace

// One open file: forwards to the base file and reports every change.
class FaultFileSystem::FaultFile final : public os::File {
 public:
  FaultFile(FaultFileSystem& owner, State& state, std::unique_ptr<os::File> base)
      : owner_(&owner), state_(state), base_(std::move(base)), writable_(base_->Writable()) {
    owner_->open_.push_back(this);
  }
  ~FaultFile() override { Detach(); }

  // The process died: the handle is gone, every later call fails.
  void Kill() {
    if (base_) base_->Close();
    base_.reset();
  }
  void Detach() {
    if (owner_ != nullptr) {
      auto& open = owner_->open_;
      open.erase(std::remove(open.begin(), open.end(), this), open.end());
      owner_ = nullptr;
    }
    Kill();
  }

  int Read(int64_t offset, void* buffer, size_t count, size_t& done) override {
    done = 0;
    if (!Alive()) return EIO;
    return base_->Read(offset, buffer, count, done);
  }

  int Write(int64_t offset, const void* buffer, size_t count) override {
    int error = 0;
    if (!Alive() || !owner_->Event(error)) return error != 0 ? error : EIO;
    ++owner_->writes_;
    error = base_->Write(offset, buffer, count);
    if (error == 0) {
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      state_.changes.push_back({false, offset, std::vector<uint8_t>(bytes, bytes + count)});
    }
    return error;
  }

  int GetSize(int64_t& size) override {
    if (!Alive()) return EIO;
    return base_->GetSize(size);
  }

  int SetSize(int64_t size) override {
    int error = 0;
    if (!Alive() || !owner_->Event(error)) return error != 0 ? error : EIO;
    error = base_->SetSize(size);
    if (error == 0) state_.changes.push_back({true, size, {}});
    return error;
  }

  int Sync() override {
    int error = 0;
    if (!Alive() || !owner_->Event(error)) return error != 0 ? error : EIO;
    ++owner_->syncs_;
    if (owner_->realSyncs_) error = base_->Sync();
    if (error == 0) {
      for (const Change& change : state_.changes) Apply(state_.durable, change);
      state_.changes.clear();
    }
    return error;
  }

  int Lock(int64_t offset, int64_t length) override {
    if (!Alive()) return EIO;
    return base_->Lock(offset, length);
  }
  int Unlock(int64_t offset, int64_t length) override {
    if (!Alive()) return EIO;
    return base_->Unlock(offset, length);
  }
  int Probe(int64_t offset, int64_t length, bool& lockedByOther) override {
    lockedByOther = false;
    if (!Alive()) return EIO;
    return base_->Probe(offset, length, lockedByOther);
  }

  int Close() override {
    const bool wasOpen = base_ != nullptr;
    Detach();
    return wasOpen ? 0 : EBADF;
  }

  bool Writable() const override { return writable_; }

 private:
  bool Alive() const { return owner_ != nullptr && base_ != nullptr && !owner_->stopped_; }

  FaultFileSystem* owner_;
  State& state_;
  std::unique_ptr<os::File> base_;
  bool writable_;
};

FaultFileSystem::FaultFileSystem(os::FileSystem& base) : base_(base) {}

FaultFileSystem::~FaultFileSystem() {
  while (!open_.empty()) open_.back()->Detach();
}

bool FaultFileSystem::Event(int& error) {
  error = 0;
  if (stopped_) {
    error = EIO;
    return false;
  }
  ++events_;
  if (events_ == stopAt_) stopped_ = true;
  if (stopped_ || events_ == failAt_) {
    error = EIO;
    return false;
  }
  return true;
}

FaultFileSystem::State& FaultFileSystem::Track(const std::string& path) {
  auto it = files_.find(path);
  if (it != files_.end()) return it->second;
  State& state = files_[path];
  if (base_.Exists(path) && ReadWholeFile(path, state.durable)) {
    state.exists = true;
    state.durableExists = true;
  }
  return state;
}

void FaultFileSystem::Apply(std::vector<uint8_t>& content, const Change& change) {
  if (change.resize) {
    content.resize(static_cast<size_t>(change.offset), 0);
    return;
  }
  const size_t end = static_cast<size_t>(change.offset) + change.bytes.size();
  if (content.size() < end) content.resize(end, 0);
  std::copy(change.bytes.begin(), change.bytes.end(), content.begin() + change.offset);
}

std::unique_ptr<os::File> FaultFileSystem::Open(const std::string& path,
                                                const os::OpenOptions& options, int& error) {
  error = 0;
  if (stopped_) {
    error = EIO;
    return nullptr;
  }
  State& state = Track(path);
  if (options.create && !Event(error)) return nullptr;
  auto file = base_.Open(path, options, error);
  if (!file) return nullptr;
  if (options.create) {
    state.exists = true;
    state.changes.push_back({true, 0, {}});
  }
  return std::make_unique<FaultFile>(*this, state, std::move(file));
}

bool FaultFileSystem::Exists(const std::string& path) { return base_.Exists(path); }

int FaultFileSystem::Remove(const std::string& path) {
  int error = 0;
  State& state = Track(path);
  if (!Event(error)) return error;
  error = base_.Remove(path);
  if (error == 0) {
    state.exists = false;
    state.changes.clear();
  }
  return error;
}

int FaultFileSystem::SyncDirectory(const std::string& directory) {
  int error = 0;
  if (!Event(error)) return error;
  ++syncs_;
  if (realSyncs_) error = base_.SyncDirectory(directory);
  if (error != 0) return error;
  for (auto& [path, state] : files_) {
    if (os::DirectoryOf(path) != directory) continue;
    state.durableExists = state.exists;
    if (!state.exists) state.durable.clear();
  }
  return 0;
}

int FaultFileSystem::GetReadOnlyAttribute(const std::string& path, bool& readOnly) {
  if (stopped_) return EIO;
  return base_.GetReadOnlyAttribute(path, readOnly);
}
int FaultFileSystem::RewriteAttributes(const std::string& path) {
  if (stopped_) return EIO;
  return base_.RewriteAttributes(path);
}
int FaultFileSystem::ClearReadOnlyAttribute(const std::string& path) {
  if (stopped_) return EIO;
  return base_.ClearReadOnlyAttribute(path);
}

void FaultFileSystem::Crash(CrashMode mode, uint32_t seed) {
  while (!open_.empty()) {
    FaultFile* file = open_.back();
    file->Detach();
  }
  random_.seed(seed);
  for (auto& [path, state] : files_) {
    if (mode == CrashMode::kKeep) {
      state.durableExists = state.exists;
      state.durable.clear();
      if (state.exists) ReadWholeFile(path, state.durable);
      state.changes.clear();
      continue;
    }
    if (!state.durableExists) {
      if (base_.Exists(path)) base_.Remove(path);
      state.exists = false;
      state.durable.clear();
      state.changes.clear();
      continue;
    }
    std::vector<uint8_t> content = state.durable;
    if (mode == CrashMode::kTear && state.exists) {
      for (const Change& change : state.changes) {
        if (change.resize) {
          if (random_() & 1) Apply(content, change);
          continue;
        }
        int64_t pos = change.offset;
        const int64_t end = change.offset + static_cast<int64_t>(change.bytes.size());
        while (pos < end) {
          const int64_t stop = std::min(end, (pos / kSectorSize + 1) * kSectorSize);
          if (random_() & 1) {
            Change piece{false, pos,
                         std::vector<uint8_t>(change.bytes.begin() + (pos - change.offset),
                                              change.bytes.begin() + (stop - change.offset))};
            Apply(content, piece);
          }
          pos = stop;
        }
      }
    }
    WriteWholeFile(path, content);
    state.exists = true;
    state.durable = std::move(content);
    state.changes.clear();
  }
  stopped_ = false;
  failAt_ = stopAt_ = 0;
  ResetCounters();
}

}  // namespace vrx::test
