// Checks of the invariants that engine structures state in their headers.
// Debug builds (and so every test run) check them at the end of each public
// operation of the structure; optimised builds leave them out. A broken
// invariant is a fault of the engine, never of its input: damaged files and
// bad arguments raise engine errors instead, so a structure states as
// invariants only what its own code keeps true.
#pragma once

namespace vrx {

#ifdef NDEBUG
inline constexpr bool kCheckInvariants = false;
#else
inline constexpr bool kCheckInvariants = true;
#endif

// Prints "VRX invariant broken in <unit>: <what>" to standard error and
// aborts the process.
[[noreturn]] void InvariantFailed(const char* unit, const char* what);

inline void CheckInvariant(bool holds, const char* unit, const char* what) {
  if (!holds) InvariantFailed(unit, what);
}

}  // namespace vrx
