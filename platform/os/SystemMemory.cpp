#include "platform/os/SystemMemory.h"

#include <sys/sysinfo.h>

namespace vrx::os {

int64_t FreePhysicalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  const auto unit = static_cast<int64_t>(info.mem_unit == 0 ? 1 : info.mem_unit);
  return (static_cast<int64_t>(info.freeram) + static_cast<int64_t>(info.bufferram)) * unit;
}

}  // namespace vrx::os
