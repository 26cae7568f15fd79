#include "tools/vrxsql/VRXShell.h"

#include <filesystem>
#include <sstream>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/storage/catalog/VRXDatabaseRegistry.h"
#include "tools/vrxcheck/VRXCheck.h"

namespace vrx::shell {

namespace {

constexpr const char* kHelp =
    ".check    check the integrity of the database file\n"
    ".help     show this list\n"
    ".quit     exit the shell\n"
    ".tables   list the tables in the order they were created\n";

std::string Trimmed(const std::string& line) {
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

}  // namespace

TVRXShell::TVRXShell(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

TVRXShell::~TVRXShell() {
  if (database_ == nullptr) return;
  try {
    TVRXDatabaseRegistry::Instance().Disconnect(*database_, session_);
  } catch (const std::exception& e) {
    err_ << "Error: " << e.what() << "\n";
  }
}

void TVRXShell::Fail(const std::string& message) {
  // One line, whatever the message holds.
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  err_ << "Error: " << line << "\n";
  anyFailed_ = true;
}

bool TVRXShell::Open(const std::string& fileName) {
  fileName_ = fileName;
  TVRXDiskDatabaseOptions options;
  options.fileName = fileName;
  try {
    if (!std::filesystem::exists(fileName)) TVRXDiskDatabaseData(options).CreateDatabase();
    database_ = &TVRXDatabaseRegistry::Instance().ConnectDisk(options, session_);
  } catch (const std::exception& e) {
    Fail(e.what());
    return false;
  }
  return true;
}

bool TVRXShell::Execute(const std::string& line) {
  const std::string command = Trimmed(line);
  if (command.empty()) return true;
  try {
    if (command == ".quit") {
      quit_ = true;
    } else if (command == ".help") {
      out_ << kHelp;
    } else if (command == ".tables") {
      std::vector<std::string> names;
      database_->GetTablesList(names);
      for (const std::string& name : names) out_ << name << "\n";
    } else if (command == ".check") {
      if (check::CheckDatabaseFile(fileName_, out_) != check::kSound) {
        Fail("the integrity check found problems");
        return false;
      }
    } else if (command[0] == '.') {
      Fail("unknown command: \"" + command + "\". Enter \".help\" for the commands");
      return false;
    } else {
      Fail("SQL statements are not supported yet: \"" + command + "\"");
      return false;
    }
  } catch (const std::exception& e) {
    Fail(e.what());
    return false;
  }
  out_.flush();
  return true;
}

void TVRXShell::Run(std::istream& in, const std::string& prompt) {
  std::string line;
  while (!quit_) {
    if (!prompt.empty()) out_ << prompt << std::flush;
    if (!std::getline(in, line)) break;
    Execute(line);
  }
  if (!prompt.empty() && !quit_) out_ << "\n";
}

}  // namespace vrx::shell
