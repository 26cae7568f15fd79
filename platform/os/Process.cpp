#include "platform/os/Process.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vrx::os {
namespace {

// Owns one open descriptor of the parent for the duration of a spawn.
class Descriptor {
 public:
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open(const std::string& path, int flags, mode_t mode = 0) {
    fd_ = open(path.c_str(), flags | O_CLOEXEC, mode);
    return fd_ >= 0;
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  Descriptor input;
  Descriptor output;
  Descriptor errors;
  if (!options.stdinPath.empty() && !input.Open(options.stdinPath, O_RDONLY)) {
    result.error = errno;
    return result;
  }
  if (!options.stdoutPath.empty() &&
      !output.Open(options.stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0666)) {
    result.error = errno;
    return result;
  }
  if (!options.stderrPath.empty() &&
      !errors.Open(options.stderrPath, O_WRONLY | O_CREAT | O_TRUNC, 0666)) {
    result.error = errno;
    return result;
  }

  FileActions actions;
  // dup2 onto 0, 1 and 2 clears close-on-exec for the copies; the originals are
  // close-on-exec and vanish at exec.
  if (input.fd() >= 0) posix_spawn_file_actions_adddup2(actions.get(), input.fd(), STDIN_FILENO);
  if (output.fd() >= 0) {
    posix_spawn_file_actions_adddup2(actions.get(), output.fd(), STDOUT_FILENO);
  }
  if (errors.fd() >= 0) posix_spawn_file_actions_adddup2(actions.get(), errors.fd(), STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors the caller opened without close-on-exec are not the child's.
  posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
#endif

  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (rc != 0) {
    result.error = rc;
    return result;
  }
  result.started = true;

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result.error = errno;
      return result;
    }
  }
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FindProgramOnPath(std::string_view name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string_view::npos) {
    std::string path(name);
    return IsExecutableFile(path) ? path : std::string();
  }
  const char* env = std::getenv("PATH");
  const std::string_view dirs = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string_view::npos) end = dirs.size();
    std::string_view dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";  // an empty entry means the current directory
    std::string candidate;
    candidate.reserve(dir.size() + 1 + name.size());
    candidate.append(dir).append(1, '/').append(name);
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

std::string ExecutableDirectory() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return {};
  buffer.resize(static_cast<size_t>(length));
  const size_t slash = buffer.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

}  // namespace vrx::os
