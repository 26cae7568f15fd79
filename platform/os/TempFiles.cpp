#include "platform/os/TempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <unistd.h>

namespace vrx::os {

std::string TemporaryDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string CreateTemporaryFile(std::string_view prefix) {
  std::string path = TemporaryDirectory() + "/" + std::string(prefix) + "XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "mkstemp " + path);
  close(fd);
  return path;
}

}  // namespace vrx::os
