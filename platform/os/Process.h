// Child processes: start a program, optionally with standard input read from
// a file and standard output written to a file, and wait for it to end. Used
// by the pairing engine's command interpreter to run the matching program and
// shell lines, and by tests that drive the command-line tools.
//
// Not thread-safe with respect to the current directory: the child inherits
// the caller's current directory and environment at the moment of the call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vrx::os {

struct ProcessOptions {
  // Empty: the child shares the caller's standard input. Otherwise the file
  // is opened for reading and becomes the child's standard input.
  std::string stdinPath;
  // Empty: the child shares the caller's standard output. Otherwise the file
  // is created or truncated (mode 0666 less the umask) and becomes the
  // child's standard output.
  std::string stdoutPath;
  // Like stdoutPath, for standard error.
  std::string stderrPath;
};

struct ProcessResult {
  // False when the program could not be started (or a redirection file could
  // not be opened); `error` then holds the errno value and nothing ran.
  bool started = false;
  int error = 0;
  // Set once the child has ended: `exited` with `exitCode`, or killed by
  // `signal`.
  bool exited = false;
  int exitCode = -1;
  int signal = 0;
};

// Starts `program` (a path, not searched on PATH) with `args` as argv[1..],
// the caller's environment and current directory, and waits for it to end
// without a time limit. Only standard input, output and error are inherited:
// every other descriptor of the caller is closed in the child.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// The path of an executable regular file `name` found in the directories of
// $PATH, in order; empty when there is none. A name holding '/' is checked
// as it stands.
std::string FindProgramOnPath(std::string_view name);

// The directory holding the running executable (from /proc/self/exe); empty
// when it cannot be determined.
std::string ExecutableDirectory();

// True when `path` names an executable regular file.
bool IsExecutableFile(const std::string& path);

}  // namespace vrx::os
