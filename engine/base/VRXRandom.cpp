#include "engine/base/VRXRandom.h"

#include <mutex>
#include <random>
#include <system_error>

#include "engine/base/VRXExcept.h"
#include "platform/os/TempFiles.h"

namespace vrx {

namespace {

std::mutex gRandomMutex;
std::mt19937_64& Generator() {  // callers hold gRandomMutex
  static std::mt19937_64 generator{std::random_device{}()};
  return generator;
}

}  // namespace

uint32_t VRXRandom(uint32_t range) {
  if (range == 0) return 0;
  std::lock_guard lock(gRandomMutex);
  return std::uniform_int_distribution<uint32_t>(0, range - 1)(Generator());
}

void VRXRandomSeed(uint64_t seed) {
  std::lock_guard lock(gRandomMutex);
  Generator().seed(seed);
}

std::string RandomSuffixName(std::string_view name) {
  std::string out(name);
  out += std::to_string(VRXRandom(1'000'000));
  return out;
}

std::string TemporaryFileName() {
  try {
    return os::CreateTemporaryFile("VRX");
  } catch (const std::system_error&) {
    throw EVRXException("Cannot create file. FileName = %s",
                        {os::TemporaryDirectory() + "/VRX"}, 10104);
  }
}

}  // namespace vrx
