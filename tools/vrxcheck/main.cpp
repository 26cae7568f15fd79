// vrxcheck FILE: checks a database file at the page level and prints what
// it found. Exit 0 and "ok" when sound, 1 with one line per problem, 2 when
// the file cannot be opened as a database.
#include <iostream>

#include "tools/vrxcheck/VRXCheck.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: vrxcheck FILE\n";
    return vrx::check::kCannotCheck;
  }
  return vrx::check::CheckDatabaseFile(argv[1], std::cout);
}
