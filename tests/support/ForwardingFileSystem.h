// Test file layers that change one or two calls of the real one: a
// ForwardingFile passes every call to the file it wraps, a
// ForwardingFileSystem passes every call to the POSIX file system and lets
// a subclass wrap each file it opens. Subclasses override only what they
// make fail.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/os/File.h"

namespace pelvaro::test {

class ForwardingFile : public vrx::os::File {
 public:
  explicit ForwardingFile(std::unique_ptr<vrx::os::File> inner) : inner_(std::move(inner)) {}

  int Read(int64_t o, void* b, size_t c, size_t& d) override { return inner_->Read(o, b, c, d); }
  int Write(int64_t o, const void* b, size_t c) override { return inner_->Write(o, b, c); }
  int GetSize(int64_t& s) override { return inner_->GetSize(s); }
  int SetSize(int64_t s) override { return inner_->SetSize(s); }
  int Sync() override { return inner_->Sync(); }
  int Lock(int64_t o, int64_t l) override { return inner_->Lock(o, l); }
  int Unlock(int64_t o, int64_t l) override { return inner_->Unlock(o, l); }
  int Probe(int64_t o, int64_t l, bool& x) override { return inner_->Probe(o, l, x); }
  int Close() override { return inner_->Close(); }
  bool Writable() const override { return inner_->Writable(); }

 private:
  std::unique_ptr<vrx::os::File> inner_;
};

class ForwardingFileSystem : public vrx::os::FileSystem {
 public:
  std::unique_ptr<vrx::os::File> Open(const std::string& p, const vrx::os::OpenOptions& o,
                                      int& e) override {
    auto inner = Posix().Open(p, o, e);
    return inner ? Wrap(std::move(inner)) : nullptr;
  }
  bool Exists(const std::string& p) override { return Posix().Exists(p); }
  int Remove(const std::string& p) override { return Posix().Remove(p); }
  int SyncDirectory(const std::string& d) override { return Posix().SyncDirectory(d); }
  int GetReadOnlyAttribute(const std::string& p, bool& r) override {
    return Posix().GetReadOnlyAttribute(p, r);
  }
  int RewriteAttributes(const std::string& p) override { return Posix().RewriteAttributes(p); }
  int ClearReadOnlyAttribute(const std::string& p) override {
    return Posix().ClearReadOnlyAttribute(p);
  }

 protected:
  // The file handed to the caller for a file just opened; by default the
  // real one itself.
  virtual std::unique_ptr<vrx::os::File> Wrap(std::unique_ptr<vrx::os::File> file) {
    return file;
  }

 private:
  static vrx::os::FileSystem& Posix() { return vrx::os::PosixFileSystem(); }
};

}  // namespace pelvaro::test
