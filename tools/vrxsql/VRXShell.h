// TVRXShell: the engine's command-line shell behind the vrxsql program. It
// holds one database file open through a single-user session for its whole
// run (creating the file when it does not exist) and executes commands one
// line at a time:
//   .tables   the table list in creation order, one name a line
//   .schema, .dump, .import, .indexes, .count, .range, .filter   the
//             table commands (VRXShellTables.h)
//   .check    the integrity check of vrxcheck, its report on the output
//   .help     the commands
//   .quit     stop reading commands
// Arguments of a command are separated by blanks; an argument holding
// blanks is written in double quotes. The expression of .filter is the
// rest of the line, taken as typed.
// Every failure is one line "Error: ..." on the error stream; the shell
// remembers that a command failed, for the program's exit status.
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>

#include "engine/query/cursor/VRXSession.h"

namespace vrx::shell {

class TVRXShell {
 public:
  TVRXShell(std::ostream& out, std::ostream& err);
  ~TVRXShell();
  TVRXShell(const TVRXShell&) = delete;
  TVRXShell& operator=(const TVRXShell&) = delete;

  // Opens (or creates) the database; false after reporting the error.
  bool Open(const std::string& fileName);
  // Executes one command line; false when it failed. Empty lines do nothing.
  bool Execute(const std::string& line);
  // Executes the lines of `in` until its end or .quit, writing `prompt`
  // before each line when it is not empty.
  void Run(std::istream& in, const std::string& prompt);

  bool QuitRequested() const { return quit_; }
  bool AnyFailed() const { return anyFailed_; }

 private:
  void Fail(const std::string& message);

  std::ostream& out_;
  std::ostream& err_;
  std::string fileName_;
  TVRXLocalSession session_;
  bool quit_ = false;
  bool anyFailed_ = false;
};

}  // namespace vrx::shell
