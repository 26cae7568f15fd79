#include "engine/base/VRXInvariant.h"

#include <cstdio>
#include <cstdlib>

namespace vrx {

void InvariantFailed(const char* unit, const char* what) {
  std::fprintf(stderr, "VRX invariant broken in %s: %s\n", unit, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace vrx
