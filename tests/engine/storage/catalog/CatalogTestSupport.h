// Helpers of the catalog tests: byte offsets of pages in a database file of
// the standard layout, and running a piece of a test in a child process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "tests/support/TestSupport.h"

namespace vrx::test {

constexpr int32_t kPage = 4096;
constexpr int32_t kData = kPage - 40;

inline int64_t PageAt(int32_t pageNo) { return 380 + int64_t{pageNo} * kPage; }
inline int64_t DataAt(int32_t pageNo) { return PageAt(pageNo) + 40; }

// Runs `body` in a forked child and returns its exit status; an exception
// in the child writes its message to `messageFile` (when given) and exits 99.
inline int RunInChild(const std::function<int()>& body, const std::string& messageFile = "") {
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 98;
    try {
      code = body();
    } catch (const std::exception& e) {
      if (!messageFile.empty()) pelvaro::test::WriteFile(messageFile, e.what());
      code = 99;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vrx::test
