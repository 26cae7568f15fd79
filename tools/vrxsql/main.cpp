// vrxsql FILE [COMMAND...]: the engine's shell. Opens the database file,
// creating it when it does not exist, and executes the commands given as
// arguments or, without any, the lines of standard input (with a prompt
// when standard input is a terminal). Errors are single lines on standard
// error; the exit status is 1 when a command failed, 2 for wrong usage or a
// database that cannot be opened.
#include <unistd.h>

#include <iostream>
#include <string>

#include "tools/vrxsql/VRXShell.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: vrxsql FILE [COMMAND...]\n";
    return 2;
  }
  vrx::shell::TVRXShell shell(std::cout, std::cerr);
  if (!shell.Open(argv[1])) return 2;
  if (argc > 2) {
    for (int i = 2; i < argc && !shell.QuitRequested(); ++i) shell.Execute(argv[i]);
  } else {
    shell.Run(std::cin, isatty(STDIN_FILENO) ? "vrxsql> " : "");
  }
  return shell.AnyFailed() ? 1 : 0;
}
