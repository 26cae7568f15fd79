#include "tools/vrxsql/VRXShell.h"

#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

#include "engine/base/VRXExcept.h"
#include "engine/storage/catalog/VRXDiskDatabaseData.h"
#include "engine/storage/tables/VRXDiskTableData.h"
#include "tools/vrxcheck/VRXCheck.h"
#include "tools/vrxsql/VRXShellTables.h"

namespace vrx::shell {

namespace {

constexpr const char* kHelp =
    ".check                      check the integrity of the database file\n"
    ".count TABLE                the number of records of TABLE\n"
    ".dump [TABLE]               the records, one line each, fields separated by TAB, NULL as \\N\n"
    ".filter TABLE EXPRESSION    the records of TABLE for which the SQL expression is true\n"
    ".help                       show this list\n"
    ".import CSVFILE TABLE       append the records of a CSV file to TABLE (created when missing)\n"
    ".indexes TABLE              the indexes of TABLE\n"
    ".quit                       exit the shell\n"
    ".range TABLE INDEX FROM TO  the records whose first INDEX field lies in [FROM, TO], in index "
    "order; - for an open bound\n"
    ".schema [TABLE]             the fields and indexes of the tables (or of TABLE)\n"
    ".tables                     list the tables in the order they were created\n";

std::string Trimmed(const std::string& line) {
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

// The next word of a command line from `i` on into `word`; the position
// after it, or npos when only blanks are left. Words are separated by
// blanks; a word in double quotes may hold blanks (a doubled quote inside
// stands for one).
size_t NextWord(const std::string& line, size_t i, std::string& word) {
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i >= line.size()) return std::string::npos;
  word.clear();
  if (line[i] != '"') {
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
    return i;
  }
  ++i;
  for (;;) {
    if (i >= line.size()) throw std::runtime_error("unterminated quote in: " + line);
    if (line[i] == '"') {
      if (i + 1 < line.size() && line[i + 1] == '"') {
        word += '"';
        i += 2;
        continue;
      }
      return i + 1;
    }
    word += line[i++];
  }
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (size_t i = NextWord(line, 0, word); i != std::string::npos; i = NextWord(line, i, word))
    words.push_back(word);
  return words;
}

// The first `count` words of a command line and, as the last element, the
// rest of the line as it was typed (trimmed; empty when nothing follows).
std::vector<std::string> WordsAndRest(const std::string& line, size_t count) {
  std::vector<std::string> words;
  std::string word;
  size_t i = 0;
  while (words.size() < count && (i = NextWord(line, i, word)) != std::string::npos)
    words.push_back(word);
  words.push_back(i == std::string::npos ? "" : Trimmed(line.substr(i)));
  return words;
}

}  // namespace

TVRXShell::TVRXShell(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

TVRXShell::~TVRXShell() {
  try {
    session_.SetConnected(false);
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
    TVRXDiskTableData::Register();
    session_.databaseFileName = fileName;
    session_.SetConnected(true);
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
    const std::vector<std::string> words = Words(command);
    const std::string& name = words.front();
    const auto arguments = [&](size_t least, size_t most, const char* usage) {
      if (words.size() - 1 < least || words.size() - 1 > most)
        throw std::runtime_error(std::string("usage: ") + usage);
    };
    if (command == ".quit") {
      quit_ = true;
    } else if (command == ".help") {
      out_ << kHelp;
    } else if (command == ".tables") {
      std::vector<std::string> names;
      session_.GetTableNames(names);
      for (const std::string& table : names) out_ << table << "\n";
    } else if (name == ".schema") {
      arguments(0, 1, ".schema [TABLE]");
      PrintSchema(session_, words.size() > 1 ? words[1] : "", out_);
    } else if (name == ".dump") {
      arguments(0, 1, ".dump [TABLE]");
      DumpRecords(session_, words.size() > 1 ? words[1] : "", out_);
    } else if (name == ".import") {
      arguments(2, 2, ".import CSVFILE TABLE");
      ImportCsv(session_, words[1], words[2]);
    } else if (name == ".indexes") {
      arguments(1, 1, ".indexes TABLE");
      PrintIndexes(session_, words[1], out_);
    } else if (name == ".count") {
      arguments(1, 1, ".count TABLE");
      PrintCount(session_, words[1], out_);
    } else if (name == ".range") {
      arguments(4, 4, ".range TABLE INDEX FROM TO");
      const auto bound = [](const std::string& word) {
        return word == "-" ? std::nullopt : std::optional<std::string>(word);
      };
      DumpRange(session_, words[1], words[2], bound(words[3]), bound(words[4]), out_);
    } else if (name == ".filter") {
      // The expression is the rest of the line as typed: its quotes are
      // SQL's, and the engine's line and column point into it.
      const std::vector<std::string> parts = WordsAndRest(command, 2);
      if (parts.size() < 3 || parts[2].empty())
        throw std::runtime_error("usage: .filter TABLE EXPRESSION");
      DumpFiltered(session_, parts[1], parts[2], out_);
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
