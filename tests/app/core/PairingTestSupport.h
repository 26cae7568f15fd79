// Scripted stand-ins for the window around the pairing engine: dialogs that
// record what they were asked and answer from a script, a clipboard that is
// a string, and a view that records what it was told to show.
#pragma once

#include <deque>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/PairingEngine.h"
#include "tests/support/TestSupport.h"

namespace pelvaro::testing_support {

using pelvaro::test::ReadFile;
using pelvaro::test::WriteFile;

class ScriptedDialogs : public PairingDialogs {
 public:
  void ShowMessage(std::string_view text) override {
    messages.emplace_back(text);
    if (onMessage) onMessage(text);
  }
  bool AskWarningYesNo(std::string_view text) override {
    questions.emplace_back(text);
    return answer;
  }

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool answer = true;
  std::function<void(std::string_view)> onMessage;
};

class TextClipboard : public PairingClipboard {
 public:
  std::string GetText() override { return text; }
  void SetText(std::string_view value) override {
    text = value;
    ++sets;
  }
  std::string text;
  int sets = 0;
};

class RecordingView : public PairingView {
 public:
  void ShowRound(int value) override { round = value; }
  void ShowPlayerCount(int value) override { players = value; }
  void ShowPairingPage() override { ++pageShown; }
  void WeightsChanged() override { ++weightsChanged; }
  void MatchingChanged() override { ++matchingChanged; }
  int round = -1;
  int players = -1;
  int pageShown = 0;
  int weightsChanged = 0;
  int matchingChanged = 0;
};

// An engine whose command lines are "run by the user": with manual match on,
// each solver line arrives as a message, and the next scripted wm.out text is
// written when the solve line is shown.
class ScriptedEngine {
 public:
  ScriptedEngine() {
    dialogs.onMessage = [this](std::string_view text) {
      if (text.find("wmatch") != std::string_view::npos && !matchings.empty()) {
        WriteFile("wm.out", matchings.front());
        matchings.pop_front();
      }
    };
  }

  // Lays out `rounds` rounds for the players given by their cells: each
  // entry of `rows` is one player's cells of columns 1..3R.
  void SetRounds(int rounds, const std::vector<std::vector<std::string>>& rows) {
    engine.SetPlayerCount(static_cast<int>(rows.size()));
    engine.SetRoundCount(rounds);
    engine.LayoutGrid();
    for (size_t k = 0; k < rows.size(); ++k) {
      for (size_t c = 0; c < rows[k].size(); ++c) {
        engine.Grid().SetCell(static_cast<int>(k) + 1, static_cast<int>(c) + 1, rows[k][c]);
      }
    }
  }

  std::string TableColumn(int round) const {
    std::string result;
    for (int k = 1; k <= engine.PlayerCount(); ++k) {
      if (k > 1) result += ' ';
      result += engine.Grid().Cell(k, 3 * round - 2);
    }
    return result;
  }

  ScriptedDialogs dialogs;
  TextClipboard clipboard;
  RecordingView view;
  PairingEngine engine{dialogs, clipboard, view};
  std::deque<std::string> matchings;
};

// wm.out text for pairs (1,2), (3,4), ... of `vertices` vertices; an odd last
// vertex is unmatched.
inline std::string ConsecutiveMatching(int vertices) {
  std::string text;
  for (int k = 1; k <= vertices; ++k) {
    int mate = k % 2 == 1 ? k + 1 : k - 1;
    if (mate > vertices) mate = 0;
    text += std::to_string(k) + " " + std::to_string(mate) + "\n";
  }
  return text;
}

}  // namespace pelvaro::testing_support
