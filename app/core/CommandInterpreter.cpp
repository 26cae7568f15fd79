#include "app/core/CommandInterpreter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/os/Process.h"
#include "platform/os/TempFiles.h"

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

// The first line of a file, without its end and cut to a readable length.
std::string FirstLine(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  constexpr size_t kMaxShown = 200;
  if (line.size() > kMaxShown) line = line.substr(0, kMaxShown) + "...";
  return line;
}

// Runs a program with its standard error captured in a private temporary
// file, of which the first line is kept.
CommandOutcome Run(const std::string& program, const std::vector<std::string>& args,
                   vrx::os::ProcessOptions options) {
  CommandOutcome outcome;
  std::string errors;
  try {
    errors = vrx::os::CreateTemporaryFile("pelvaro-err");
  } catch (const std::system_error&) {
    errors.clear();  // run without capturing rather than not at all
  }
  options.stderrPath = errors;
  const vrx::os::ProcessResult result = vrx::os::RunProcess(program, args, options);
  outcome.started = result.started;
  if (!result.started) {
    outcome.problem = std::strerror(result.error);
  } else {
    outcome.exited = result.exited;
    outcome.exitCode = result.exitCode;
    outcome.signal = result.signal;
  }
  if (!errors.empty()) {
    outcome.firstErrorLine = FirstLine(errors);
    std::remove(errors.c_str());
  }
  return outcome;
}

CommandOutcome RunShell(std::string_view text) {
  return Run("/bin/sh", {"-c", std::string(text)}, {});
}

CommandOutcome Done() {
  CommandOutcome outcome;
  outcome.started = true;
  outcome.exited = true;
  outcome.exitCode = 0;
  return outcome;
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

bool ExecuteCommandLine(std::string_view line) { return RunCommandLine(line).started; }

std::string DescribeFailedCommand(std::string_view line, const CommandOutcome& outcome) {
  std::string text = "The command \"" + std::string(line) + "\" ";
  if (!outcome.started) return text + "could not be started: " + outcome.problem;
  if (outcome.exited) {
    text += "failed with exit status " + std::to_string(outcome.exitCode);
  } else {
    text += "was stopped by signal " + std::to_string(outcome.signal);
  }
  if (outcome.firstErrorLine.empty()) return text + " (nothing on standard error)";
  return text + ": " + outcome.firstErrorLine;
}

CommandOutcome RunCommandLine(std::string_view line) {
  size_t pos = 0;
  std::string interpreter;
  std::string option;
  if (!NextWord(line, pos, interpreter, false)) {
    CommandOutcome outcome;
    outcome.problem = "the line is empty";
    return outcome;
  }
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
    CommandOutcome outcome = Done();
    for (size_t i = 1; i < command.words.size(); ++i) {
      const std::string& file = command.words[i];
      if (file[0] == '/') continue;  // "/q", "/f": options of del
      // A missing file is no error; one that stays would be read as new.
      if (std::remove(file.c_str()) != 0 && errno != ENOENT && outcome.exitCode == 0) {
        outcome.exitCode = 1;
        outcome.firstErrorLine = "cannot remove " + file + ": " + std::strerror(errno);
      }
    }
    return outcome;
  }
  if (verb == "wmatch" || verb == "wmatch.exe") {
    const std::string program = ResolveWmatchProgram();
    if (program.empty()) {
      CommandOutcome outcome;
      outcome.problem = WmatchSetting().empty()
                            ? "the matching program wmatch is neither beside this program nor "
                              "on PATH"
                            : "the matching program " + WmatchSetting() + " is not an executable file";
      return outcome;
    }
    vrx::os::ProcessOptions options;
    options.stdoutPath = command.output;
    const std::vector<std::string> args(command.words.begin() + 1, command.words.end());
    return Run(program, args, options);
  }
  return RunShell(rest);
}

}  // namespace pelvaro
