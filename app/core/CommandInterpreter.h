// The command interpreter of the pairing steps. The steps hand over command
// lines written for the "cmd /c" interpreter ("cmd  /c del wm.out",
// "cmd /c wmatch wm.in > wm.out"); this unit gives them the same effect here.
// Used by PairingEngine::RunCommand.
//
// How a line is executed, always in the caller's current directory and
// environment, waiting for it to end:
//
//  * "<cmd> /c del F ..." (also "erase"): removes the files F; a missing file
//    is not an error. <cmd> is the word "cmd" or "cmd.exe", in any case, and
//    "/c" may be written "/C"; any number of blanks separate the words.
//  * "<cmd> /c wmatch A ... [> B]": runs the matching program with the
//    arguments A ... and, with "> B" (blanks around ">" optional), its
//    standard output written to B (created or truncated).
//  * "<cmd> /c <anything else>": the text after "/c" goes to /bin/sh -c.
//  * A line that does not start with the interpreter word cmd (the command
//    prefix was set to something else) goes unchanged to /bin/sh -c. So a
//    prefix naming another program runs that program with "/c ..." through
//    the shell; the usual outcome is that nothing removes wm.out and nothing
//    writes it, and the step then fails reading it, just as a prefix naming
//    a missing interpreter did where "cmd" exists.
//
// Words may be enclosed in double quotes to hold blanks. RunCommandLine
// tells how a line ended: not started (no shell, no matching program, a
// redirection file that cannot be created), its exit status or signal, and
// the first line it wrote on standard error (which is captured for that and
// not passed on).
//
// The matching program is, in this order: the program set with
// SetWmatchProgram; "wmatch" in the directory of the running executable;
// "wmatch" on PATH.
#pragma once

#include <string>
#include <string_view>

namespace pelvaro {

// How one command line ended.
struct CommandOutcome {
  bool started = false;  // false: nothing ran; `problem` says why
  std::string problem;
  bool exited = false;  // ended by itself with exitCode; else by `signal`
  int exitCode = -1;
  int signal = 0;
  std::string firstErrorLine;  // first line on standard error, without its end

  bool Succeeded() const { return started && exited && exitCode == 0; }
};

// Executes one command line as described above and waits for it.
CommandOutcome RunCommandLine(std::string_view line);

// RunCommandLine(line).started: true when the line was carried out (a
// program was started, or the files were removed).
bool ExecuteCommandLine(std::string_view line);

// The text that names a failed command for the user: the line, then why it
// could not start, or its exit status or signal and the first line it wrote
// on standard error. Requires !outcome.Succeeded().
std::string DescribeFailedCommand(std::string_view line, const CommandOutcome& outcome);

// Process-wide path of the matching program; empty (the default) means the
// lookup next to the executable and on PATH.
void SetWmatchProgram(std::string path);
const std::string& WmatchProgram();

// The program ExecuteCommandLine would run for "wmatch"; empty when none is
// found.
std::string ResolveWmatchProgram();

}  // namespace pelvaro
