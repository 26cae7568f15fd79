#include "app/core/CommandInterpreter.h"

#include <cstdio>
#include <vector>

#include "platform/os/Process.h"

namespace pelvaro {
namespace {

std::string& WmatchSetting() {
  static std::string path;
  return path;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// Reads one word from `pos`: blanks before it are skipped; double quotes
// group blanks into the word and are dropped. Stops before an unquoted
// '>' when `stopAtRedirect` is set. Returns false at the end of the text.
bool NextWord(std::string_view text, size_t& pos, std::string& word, bool stopAtRedirect) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos >= text.size() || (stopAtRedirect && text[pos] == '>')) return false;
  word.clear();
  bool quoted = false;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (IsBlank(c) || (stopAtRedirect && c == '>'))) {
      break;
    } else {
      word += c;
    }
    ++pos;
  }
  return true;
}

bool RunShell(std::string_view text) {
  const vrx::os::ProcessResult result = vrx::os::RunProcess("/bin/sh", {"-c", std::string(text)});
  return result.started;
}

// The command after "cmd /c": the program's words and the redirection.
struct Command {
  std::vector<std::string> words;
  std::string output;  // empty: no redirection
  bool badRedirect = false;
};

Command ParseCommand(std::string_view text) {
  Command command;
  size_t pos = 0;
  std::string word;
  while (true) {
    if (NextWord(text, pos, word, true)) {
      command.words.push_back(word);
      continue;
    }
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    // An unquoted '>' : the next word names the output file.
    ++pos;
    if (!NextWord(text, pos, word, true)) {
      command.badRedirect = true;
      break;
    }
    command.output = word;
  }
  return command;
}

}  // namespace

void SetWmatchProgram(std::string path) { WmatchSetting() = std::move(path); }

const std::string& WmatchProgram() { return WmatchSetting(); }

std::string ResolveWmatchProgram() {
  if (!WmatchSetting().empty()) {
    return vrx::os::IsExecutableFile(WmatchSetting()) ? WmatchSetting() : std::string();
  }
  const std::string dir = vrx::os::ExecutableDirectory();
  if (!dir.empty()) {
    std::string beside = dir + "/wmatch";
    if (vrx::os::IsExecutableFile(beside)) return beside;
  }
  return vrx::os::FindProgramOnPath("wmatch");
}

bool ExecuteCommandLine(std::string_view line) {
  size_t pos = 0;
  std::string interpreter;
  std::string option;
  if (!NextWord(line, pos, interpreter, false)) return false;
  const std::string name = Lower(interpreter);
  if ((name != "cmd" && name != "cmd.exe") || !NextWord(line, pos, option, false) ||
      Lower(option) != "/c") {
    return RunShell(line);
  }
  const std::string_view rest = line.substr(pos);
  const Command command = ParseCommand(rest);
  if (command.words.empty() || command.badRedirect) return RunShell(rest);

  const std::string verb = Lower(command.words[0]);
  if (verb == "del" || verb == "erase") {
    if (!command.output.empty()) {
      if (std::FILE* out = std::fopen(command.output.c_str(), "wb")) std::fclose(out);
    }
    for (size_t i = 1; i < command.words.size(); ++i) {
      const std::string& file = command.words[i];
      if (file[0] != '/') std::remove(file.c_str());  // "/q", "/f": options of del
    }
    return true;
  }
  if (verb == "wmatch" || verb == "wmatch.exe") {
    const std::string program = ResolveWmatchProgram();
    if (program.empty()) return false;
    vrx::os::ProcessOptions options;
    options.stdoutPath = command.output;
    const std::vector<std::string> args(command.words.begin() + 1, command.words.end());
    return vrx::os::RunProcess(program, args, options).started;
  }
  return RunShell(rest);
}

}  // namespace pelvaro
