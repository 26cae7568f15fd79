// pelvaro-pair: the pairing engine without a window, for organisers who keep
// their rounds in a spreadsheet and for scripts. Reads the pairing grid as
// clipboard text from standard input (cells separated by TAB, rows ended by
// CR, as the pairing window pastes them), seats the next round at tables of
// four with the matching program (wmatch, next to this program or on PATH)
// in the current directory, leaving wm.in and wm.out there, and writes the
// grid as clipboard text to standard output.
//
//   pelvaro-pair [--byes N] [--players N] [--ignore-missing] < rounds.txt > next.txt
//
// Errors go to standard error with exit code 1; wrong options exit with 2.
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/CommandInterpreter.h"
#include "app/core/NumberText.h"
#include "app/core/PairingEngine.h"
#include "app/core/TextLines.h"

namespace {

using namespace pelvaro;

constexpr std::string_view kUsage =
    "usage: pelvaro-pair [--byes N] [--players N] [--ignore-missing] < grid > grid\n";

// Messages and questions of the engine: a message means the run stopped
// (the only one of a full pairing is "no data"); the missing-results
// question is answered from the command line.
class StreamDialogs : public PairingDialogs {
 public:
  explicit StreamDialogs(bool ignoreMissing) : ignoreMissing_(ignoreMissing) {}
  void ShowMessage(std::string_view text) override {
    std::cerr << text << '\n';
    stopped_ = true;
  }
  bool AskWarningYesNo(std::string_view) override { return ignoreMissing_; }
  bool Stopped() const { return stopped_; }

 private:
  bool ignoreMissing_;
  bool stopped_ = false;
};

class StreamClipboard : public PairingClipboard {
 public:
  explicit StreamClipboard(std::string input) : input_(std::move(input)) {}
  std::string GetText() override { return input_; }
  void SetText(std::string_view text) override { output_ = text; }
  const std::optional<std::string>& Output() const { return output_; }

 private:
  std::string input_;
  std::optional<std::string> output_;
};

class SilentView : public PairingView {
 public:
  void ShowRound(int) override {}
  void ShowPlayerCount(int) override {}
  void ShowPairingPage() override {}
  void WeightsChanged() override {}
  void MatchingChanged() override {}
};

struct Options {
  std::optional<std::string> byes;
  std::optional<int> players;
  bool ignoreMissing = false;
};

// Returns false (after a message) when the arguments are wrong.
bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string value;
    auto takeValue = [&](std::string_view name) {
      if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
          arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
        return true;
      }
      if (arg == name && i + 1 < argc) {
        value = argv[++i];
        return true;
      }
      return false;
    };
    if (arg == "--ignore-missing") {
      options.ignoreMissing = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (takeValue("--byes")) {
      options.byes = value;
    } else if (takeValue("--players")) {
      try {
        const int players = StrToInt(value);
        if (players < 0) throw std::exception();
        options.players = players;
      } catch (const std::exception&) {
        std::cerr << "pelvaro-pair: --players needs a count of 0 or more, not '" << value << "'\n";
        return false;
      }
    } else {
      std::cerr << "pelvaro-pair: unknown argument '" << arg << "'\n" << kUsage;
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  if (ResolveWmatchProgram().empty()) {
    std::cerr << "pelvaro-pair: the matching program wmatch is neither next to this program "
                 "nor on PATH\n";
    return 1;
  }
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());

  StreamDialogs dialogs(options.ignoreMissing);
  StreamClipboard clipboard(LineFeedsToCrLf(input));
  SilentView view;
  try {
    PairingEngine engine(dialogs, clipboard, view);
    // The player count is the number of lines read: none when nothing was
    // read, not the window's 32 of a new grid.
    engine.SetPlayerCount(0);
    engine.LoadGridFromClipboard();
    if (options.players) {
      engine.SetPlayerCount(*options.players);
      engine.LayoutGrid();
    }
    if (options.byes) engine.SetByesText(*options.byes);
    engine.FullPairing();
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
  if (dialogs.Stopped() || !clipboard.Output()) return 1;
  std::cout << *clipboard.Output();
  std::cout.flush();
  return std::cout ? 0 : 1;
}
