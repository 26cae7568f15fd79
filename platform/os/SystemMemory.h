// Memory figures of the operating system, for the engine's cache sizing and
// the memory manager's "available memory".
#pragma once

#include <cstdint>

namespace vrx::os {

// Free physical memory in bytes (sysinfo: free RAM plus buffer RAM).
int64_t FreePhysicalMemory();

}  // namespace vrx::os
