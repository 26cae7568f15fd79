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
// Words may be enclosed in double quotes to hold blanks. A line that cannot
// be started (no shell, no matching program, a redirection file that cannot
// be created) is not reported: the caller reads whatever wm.out holds.
//
// The matching program is, in this order: the program set with
// SetWmatchProgram; "wmatch" in the directory of the running executable;
// "wmatch" on PATH.
#pragma once

#include <string>
#include <string_view>

namespace pelvaro {

// Executes one command line as described above and waits for it. Returns
// true when the line was carried out (a program was started, or the files
// were removed), false when nothing could be started. Exit codes are not
// reported.
bool ExecuteCommandLine(std::string_view line);

// Process-wide path of the matching program; empty (the default) means the
// lookup next to the executable and on PATH.
void SetWmatchProgram(std::string path);
const std::string& WmatchProgram();

// The program ExecuteCommandLine would run for "wmatch"; empty when none is
// found.
std::string ResolveWmatchProgram();

}  // namespace pelvaro
