// pelvaro-pair: the pairing engine without a window, for organisers who keep
// their rounds in a spreadsheet and for scripts. Reads the pairing grid as
// clipboard text from standard input, seats the next round at tables of four
// and writes the grid with the new round to standard output. The help text
// below (kHelp) is the user's documentation.
//
// Exit status: 0 done; 1 the pairing failed (grid errors, matching program,
// missing results), the message on standard error; 2 wrong options.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/CommandInterpreter.h"
#include "app/core/NumberText.h"
#include "app/core/PairingEngine.h"
#include "app/core/TextLines.h"

namespace {

using namespace pelvaro;

constexpr std::string_view kUsage =
    "usage: pelvaro-pair [--players N] [--byes B] [--ignore-missing] [--fewer-repeats] [--crlf]\n"
    "                    < grid.txt > next.txt\n";

constexpr std::string_view kHelp =
    "Seats the next round of a tournament at tables of four.\n"
    "\n"
    "Reads the pairing grid from standard input (not from a terminal): one row\n"
    "per player, player 1 first, three TAB-separated cells per round played:\n"
    "table, points, score. Rows may end in CR, LF or CR LF; a last row without\n"
    "a line end counts. Writes the grid with the new round's table numbers\n"
    "added (its points and score cells empty) to standard output. Table 0\n"
    "means \"not seated\": when the player count is not a multiple of four, the\n"
    "players left over sit out the round at table 0.\n"
    "\n"
    "Round 1: give no input and --players N.\n"
    "\n"
    "Options:\n"
    "  --players N       the first N rows are the players (4 or more); without\n"
    "                    it, every row read is a player\n"
    "  --byes B          the last B players are BYEs (stand-ins that make the\n"
    "                    count a multiple of four); two BYEs never share a table.\n"
    "                    0 (the default) up to one fewer than the players\n"
    "  --ignore-missing  empty points cells count as 0 instead of stopping\n"
    "  --fewer-repeats   seat the round by searching over whole tables, with as\n"
    "                    few repeat meetings as the round allows and even tables\n"
    "                    in points; needs no matching program\n"
    "  --crlf            end output rows with CR LF. Otherwise rows end with CR\n"
    "                    alone (the clipboard format of the pairing window), or\n"
    "                    with LF when standard output is a terminal\n"
    "  --help            this text\n"
    "\n"
    "Without --fewer-repeats the matching program wmatch seats the players in\n"
    "pairs and then the pairs at tables; it is looked for beside this program,\n"
    "then on PATH, and its files wm.in and wm.out are left in the current\n"
    "directory. Pairs who meet again in the new round are listed on standard\n"
    "error with how often they met before.\n"
    "\n"
    "Exit status: 0 done, 1 the pairing failed, 2 wrong options.\n";

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

struct Options {
  std::optional<std::string> byes;
  std::optional<std::string> players;
  bool ignoreMissing = false;
  bool fewerRepeats = false;
  bool crlf = false;
};

// An option error: the message names the option; exit status 2.
struct OptionError {
  std::string text;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    std::optional<std::string> inlineValue;
    if (equals != std::string_view::npos && name.substr(0, 2) == "--") {
      inlineValue = std::string(arg.substr(equals + 1));
    }
    auto flag = [&](bool& target) {
      if (inlineValue) throw OptionError{std::string(name) + " takes no value"};
      target = true;
    };
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) throw OptionError{std::string(name) + " needs a value"};
      return argv[++i];
    };
    if (name == "--help" || name == "-h") {
      bool help = false;
      flag(help);
      std::cout << kUsage << '\n' << kHelp;
      std::exit(0);
    } else if (name == "--ignore-missing") {
      flag(options.ignoreMissing);
    } else if (name == "--fewer-repeats") {
      flag(options.fewerRepeats);
    } else if (name == "--crlf") {
      flag(options.crlf);
    } else if (name == "--byes") {
      options.byes = value();
    } else if (name == "--players") {
      options.players = value();
    } else {
      throw OptionError{"unknown argument '" + std::string(arg) + "'"};
    }
  }
  return options;
}

// A whole number in [low, high], or nullopt.
std::optional<int> WholeNumber(const std::string& text, int low, int high) {
  try {
    const int value = StrToInt(text);
    if (value >= low && value <= high) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// The players the chosen method can number: one step numbers at most 255
// tables (of two for the matching program's first step, of four otherwise).
int MaxPlayers(bool fewerRepeats) {
  return fewerRepeats ? 4 * PairingEngine::kMaxTables + 3 : 2 * PairingEngine::kMaxTables + 1;
}

bool IsCellCharacter(char c) {
  return c == ' ' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

std::vector<std::string> SplitCells(const std::string& row) {
  std::vector<std::string> cells;
  size_t start = 0;
  while (true) {
    const size_t tab = row.find('\t', start);
    cells.push_back(row.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return cells;
}

// Checks the rows the engine will read and returns the first fault, naming
// row and cell as a spreadsheet counts them; empty when the grid is sound.
// Rounds: cells of the last row, three to a round, as the grid counts them.
std::string FindGridError(const TextLines& rows, int players) {
  if (rows.empty()) return {};
  const int lastCells = static_cast<int>(SplitCells(rows.back()).size());
  const int rounds = rows.back().empty() ? 0 : (lastCells + 2) / 3;
  for (int k = 1; k <= static_cast<int>(rows.size()); ++k) {
    const std::vector<std::string> cells = SplitCells(rows[static_cast<size_t>(k - 1)]);
    const std::string where = "row " + std::to_string(k) + ", cell ";
    for (size_t c = 0; c < cells.size(); ++c) {
      for (const char ch : cells[c]) {
        if (IsCellCharacter(ch)) continue;
        return where + std::to_string(c + 1) + ": '" + cells[c] +
               "' holds a character the grid cannot keep (cells hold digits, '.', blanks and "
               "ASCII letters)";
      }
    }
    if (k > players) continue;  // not read, written back as they are
    for (int r = 1; r <= rounds; ++r) {
      const size_t tableCell = static_cast<size_t>(3 * r - 3);
      const std::string table = tableCell < cells.size() ? cells[tableCell] : std::string();
      if (!WholeNumber(table, 0, 2147483647)) {
        return where + std::to_string(tableCell + 1) + ": the table of round " +
               std::to_string(r) + " is '" + table + "', not a whole number of 0 or more";
      }
      const size_t pointsCell = tableCell + 1;
      if (pointsCell >= cells.size() || cells[pointsCell].empty()) continue;  // missing result
      try {
        StrToFloat(cells[pointsCell], '.');
      } catch (const std::exception&) {
        return where + std::to_string(pointsCell + 1) + ": the points of round " +
               std::to_string(r) + " are '" + cells[pointsCell] + "', not a number";
      }
    }
  }
  return {};
}

// The rows of the input: a last line without a line end is a row, and empty
// lines at the end are dropped (unless every line is empty: rows of players
// before their first round).
TextLines InputRows(const std::string& input) {
  TextLines rows = SplitLines(input);
  bool anyCells = false;
  for (const std::string& row : rows) anyCells = anyCells || !row.empty();
  if (anyCells) {
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
  }
  return rows;
}

std::string WithLineEnds(const std::string& text, std::string_view lineEnd) {
  std::string result;
  result.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    if (c == '\r') {
      result += lineEnd;
    } else {
      result += c;
    }
  }
  return result;
}

int Fail(const std::string& text) {
  std::cerr << "pelvaro-pair: " << text << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const OptionError& error) {
    std::cerr << "pelvaro-pair: " << error.text << '\n' << kUsage;
    return 2;
  }
  const int maxPlayers = MaxPlayers(options.fewerRepeats);
  std::optional<int> players;
  if (options.players) {
    players = WholeNumber(*options.players, 4, maxPlayers);
    if (!players) {
      std::cerr << "pelvaro-pair: --players needs a whole number from 4 to " << maxPlayers
                << ", not '" << *options.players << "'\n";
      return 2;
    }
  }
  if (!options.fewerRepeats && ResolveWmatchProgram().empty()) {
    return Fail(
        "the matching program wmatch is neither beside this program nor on PATH "
        "(or use --fewer-repeats)");
  }

  std::string input;
  if (!isatty(STDIN_FILENO)) {
    input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  const TextLines rows = InputRows(input);
  const int playerCount = players ? *players : static_cast<int>(rows.size());
  if (options.byes) {
    const int most = playerCount > 0 ? playerCount - 1 : 0;
    if (!WholeNumber(*options.byes, 0, most)) {
      std::cerr << "pelvaro-pair: --byes needs a whole number from 0 to " << most
                << " (fewer than the " << playerCount << " players), not '" << *options.byes
                << "'\n";
      return 2;
    }
  }
  const bool anyCells = !rows.empty() && !rows.back().empty();
  if (players && anyCells && *players > static_cast<int>(rows.size())) {
    std::cerr << "pelvaro-pair: --players " << *players << " asks for more players than the "
              << rows.size() << " rows read\n";
    return 2;
  }
  if (!players && playerCount > maxPlayers) {
    return Fail(std::to_string(playerCount) + " players are more than the " +
                std::to_string(maxPlayers) + " one round can seat");
  }
  if (const std::string error = FindGridError(rows, playerCount); !error.empty()) {
    return Fail(error);
  }
  if (playerCount > 0 && playerCount < 4) {
    return Fail(std::to_string(playerCount) + (playerCount == 1 ? " player" : " players") +
                " cannot fill a table of four (for round 1 give --players N and no input)");
  }

  StreamDialogs dialogs(options.ignoreMissing);
  StreamClipboard clipboard(JoinLines(rows, "\r"));
  SilentPairingView view;
  PairingEngine engine(dialogs, clipboard, view);
  try {
    // The player count is the number of rows read: none when nothing was
    // read, not the window's 32 of a new grid.
    engine.SetPlayerCount(0);
    engine.LoadGridFromClipboard();
    if (players) {
      engine.SetPlayerCount(*players);
      engine.LayoutGrid();
    }
    if (options.byes) engine.SetByesText(*options.byes);
    engine.SetFewerRepeats(options.fewerRepeats);
    engine.FullPairing();
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
  if (dialogs.Stopped() || !clipboard.Output()) return 1;
  if (!engine.RepeatMeetings().empty()) {
    for (const std::string& line : engine.RepeatReport()) std::cerr << line << '\n';
  }
  const std::string_view lineEnd = options.crlf ? "\r\n" : isatty(STDOUT_FILENO) ? "\n" : "\r";
  std::cout << WithLineEnds(*clipboard.Output(), lineEnd);
  std::cout.flush();
  return std::cout ? 0 : 1;
}
