// Test entry point shared by every test executable. Each test runs with a
// fresh temporary directory as its current directory, removed when the test
// ends, so tests never see each other's files nor the caller's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

class TempDirPerTest : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override {
    original_ = std::filesystem::current_path();
    std::string base = std::filesystem::temp_directory_path().string() + "/pelvaro-test-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = base;
    std::filesystem::current_path(dir_);
  }
  void OnTestEnd(const testing::TestInfo&) override {
    std::filesystem::current_path(original_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::filesystem::path original_;
  std::filesystem::path dir_;
};

}  // namespace

// The sanitizers' options travel with every test executable, so that a test
// run by hand behaves as under CTest: known leaks of the GUI libraries are
// suppressed (none of ours), and undefined behaviour stops the test with a
// stack trace.
extern "C" const char* __lsan_default_options() {
  return "suppressions=" PELVARO_LSAN_SUPPRESSIONS;
}
extern "C" const char* __ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1";
}

int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new TempDirPerTest);
  return RUN_ALL_TESTS();
}
