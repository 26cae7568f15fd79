// Small helpers shared by the tests: whole-file reads and writes, and the
// message of the exception a call raises.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/VRXExcept.h"

namespace pelvaro::test {

// The bytes of a file, read in one call (a byte-wise read is slow under the
// sanitizers, and the crash tests read files thousands of times); empty when
// it cannot be read.
template <typename Container>
Container ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Container bytes(static_cast<size_t>(in.tellg()), 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  return ReadWhole<std::vector<uint8_t>>(path);
}

// Replaces the file's content with `bytes`.
inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) { return ReadWhole<std::string>(path); }

inline void WriteFile(const std::string& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

// The message of the engine exception `call` raises, or "no exception".
inline std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const vrx::Exception& e) {
    return e.Message();
  }
  return "no exception";
}

}  // namespace pelvaro::test
