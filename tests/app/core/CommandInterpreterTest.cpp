// The interpreter of the pairing steps' command lines, and the process
// spawning it rests on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/core/CommandInterpreter.h"
#include "platform/os/Process.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

std::string Cwd() { return std::filesystem::current_path().string(); }

void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

// Restores an environment variable when the test ends.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    had_ = value != nullptr;
    if (had_) value_ = value;
  }
  ~EnvGuard() {
    if (had_) {
      setenv(name_, value_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string value_;
};

class CommandInterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A stand-in matching program that echoes its arguments and the file it
    // was given.
    fake_ = Cwd() + "/fake-wmatch";
    WriteScript(fake_, "echo \"args: $*\"\ncat \"$1\"\n");
    SetWmatchProgram(fake_);
  }
  void TearDown() override { SetWmatchProgram(""); }
  std::string fake_;
};

TEST_F(CommandInterpreterTest, DelRemovesTheFile) {
  for (const char* line : {"cmd  /c del wm.out", "cmd /c del wm.out", "CMD /C DEL wm.out",
                           "cmd.exe /c erase /q wm.out"}) {
    WriteFile("wm.out", "old");
    EXPECT_TRUE(ExecuteCommandLine(line)) << line;
    EXPECT_FALSE(std::filesystem::exists("wm.out")) << line;
  }
  EXPECT_TRUE(ExecuteCommandLine("cmd /c del wm.out"));  // missing: no error
}

TEST_F(CommandInterpreterTest, WmatchRunsWithItsOutputInTheFile) {
  for (const char* line : {"cmd  /c wmatch wm.in > wm.out", "cmd /c wmatch wm.in>wm.out",
                           "cmd /c WMATCH \"wm.in\" >   wm.out"}) {
    WriteFile("wm.in", "2 1 U\r\n");
    std::filesystem::remove("wm.out");
    EXPECT_TRUE(ExecuteCommandLine(line)) << line;
    // The call returns after the program has ended and written everything.
    EXPECT_EQ(ReadFile("wm.out"), "args: wm.in\n2 1 U\r\n") << line;
  }
}

TEST_F(CommandInterpreterTest, MissingMatchingProgramRunsNothing) {
  SetWmatchProgram(Cwd() + "/no-such-program");
  EXPECT_FALSE(ExecuteCommandLine("cmd /c wmatch wm.in > wm.out"));
  EXPECT_FALSE(std::filesystem::exists("wm.out"));
  EXPECT_EQ(ResolveWmatchProgram(), "");
}

TEST_F(CommandInterpreterTest, OtherLinesGoToTheShell) {
  EXPECT_TRUE(ExecuteCommandLine("cmd /c echo hello > greeting"));
  EXPECT_EQ(ReadFile("greeting"), "hello\n");
  EXPECT_TRUE(ExecuteCommandLine("printf '%s' whole > line"));
  EXPECT_EQ(ReadFile("line"), "whole");
  // Another interpreter word: the line goes to the shell as it stands, which
  // knows no "/c"; wm.out stays as it was.
  WriteFile("wm.out", "old");
  EXPECT_TRUE(ExecuteCommandLine("command /c del wm.out"));
  EXPECT_EQ(ReadFile("wm.out"), "old");
}

TEST_F(CommandInterpreterTest, MatchingProgramLookup) {
  EXPECT_EQ(ResolveWmatchProgram(), fake_);
  SetWmatchProgram("");
  EnvGuard path("PATH");
  const std::string bin = Cwd() + "/bin";
  std::filesystem::create_directory(bin);
  WriteScript(bin + "/wmatch", "echo from-path\n");
  setenv("PATH", ("/nonexistent:" + bin + ":/bin:/usr/bin").c_str(), 1);
  EXPECT_EQ(ResolveWmatchProgram(), bin + "/wmatch");
  EXPECT_TRUE(ExecuteCommandLine("cmd /c wmatch wm.in > wm.out"));
  EXPECT_EQ(ReadFile("wm.out"), "from-path\n");
  // A file that is not executable is passed over.
  chmod((bin + "/wmatch").c_str(), 0644);
  EXPECT_EQ(ResolveWmatchProgram(), "");
}

TEST(ProcessTest, ExitStatusAndSignal) {
  vrx::os::ProcessResult result = vrx::os::RunProcess("/bin/sh", {"-c", "exit 3"});
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 3);
  result = vrx::os::RunProcess("/bin/sh", {"-c", "kill -9 $$"});
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(result.signal, SIGKILL);
}

TEST(ProcessTest, ProgramThatCannotStart) {
  vrx::os::ProcessResult result = vrx::os::RunProcess("/no/such/program", {});
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.error, ENOENT);
  vrx::os::ProcessOptions options;
  options.stdinPath = "missing-input";
  result = vrx::os::RunProcess("/bin/cat", {}, options);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.error, ENOENT);
  options = {};
  options.stdoutPath = "no-dir/out";
  EXPECT_FALSE(vrx::os::RunProcess("/bin/cat", {}, options).started);
}

TEST(ProcessTest, RedirectsInputAndOutput) {
  WriteFile("in", "line one\nline two\n");
  WriteFile("out", "previous content that is longer than the new one\n");
  vrx::os::ProcessOptions options;
  options.stdinPath = "in";
  options.stdoutPath = "out";
  const vrx::os::ProcessResult result = vrx::os::RunProcess("/bin/cat", {}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadFile("out"), "line one\nline two\n");
}

TEST(ProcessTest, ArgumentsArePassedAsTheyStand) {
  vrx::os::ProcessOptions options;
  options.stdoutPath = "out";
  vrx::os::RunProcess("/bin/sh", {"-c", "printf '[%s]' \"$@\"", "sh", "a b", "", "$HOME"}, options);
  EXPECT_EQ(ReadFile("out"), "[a b][][$HOME]");
}

TEST(ProcessTest, DescriptorsOfTheCallerAreNotInherited) {
  const int fd = open("held", O_WRONLY | O_CREAT, 0600);  // deliberately not close-on-exec
  ASSERT_GE(fd, 3);
  const std::string check = "[ -e /proc/self/fd/" + std::to_string(fd) + " ] && exit 7; exit 0";
  const vrx::os::ProcessResult result = vrx::os::RunProcess("/bin/sh", {"-c", check});
  close(fd);
  EXPECT_EQ(result.exitCode, 0);
}

TEST(ProcessTest, FindsProgramsOnPath) {
  EXPECT_EQ(vrx::os::FindProgramOnPath("/bin/sh"), "/bin/sh");
  EXPECT_NE(vrx::os::FindProgramOnPath("sh"), "");
  EXPECT_EQ(vrx::os::FindProgramOnPath("no-such-program-anywhere"), "");
  EXPECT_EQ(vrx::os::FindProgramOnPath(""), "");
  EXPECT_FALSE(vrx::os::ExecutableDirectory().empty());
}

}  // namespace
}  // namespace pelvaro
