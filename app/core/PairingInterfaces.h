// What the pairing engine needs from the window that hosts it: message and
// question boxes, the clipboard's text, and the few displays the engine
// updates. The pairing window implements them with Qt; tests and the
// command-line tool implement them with scripts and streams.
#pragma once

#include <string>
#include <string_view>

namespace pelvaro {

class PairingDialogs {
 public:
  virtual ~PairingDialogs() = default;
  // An information box; returns when the user has closed it.
  virtual void ShowMessage(std::string_view text) = 0;
  // A warning with the buttons Yes and No; true for Yes.
  virtual bool AskWarningYesNo(std::string_view text) = 0;
};

class PairingClipboard {
 public:
  virtual ~PairingClipboard() = default;
  // UTF-8 text; empty when the clipboard holds no text.
  virtual std::string GetText() = 0;
  virtual void SetText(std::string_view text) = 0;
};

class PairingView {
 public:
  virtual ~PairingView() = default;
  // The large round display.
  virtual void ShowRound(int round) = 0;
  // The position of the player-count up-down control.
  virtual void ShowPlayerCount(int count) = 0;
  // Brings the page with the grid to the front.
  virtual void ShowPairingPage() = 0;
  // The engine replaced the weights list or the matching list.
  virtual void WeightsChanged() = 0;
  virtual void MatchingChanged() = 0;
  // The report of repeat meetings of the newest round was replaced.
  virtual void RepeatsChanged() {}
};

// For hosts without a window (the command-line tool, benchmarks): a view
// that shows nothing and a clipboard held in a string.
class SilentPairingView : public PairingView {
 public:
  void ShowRound(int) override {}
  void ShowPlayerCount(int) override {}
  void ShowPairingPage() override {}
  void WeightsChanged() override {}
  void MatchingChanged() override {}
};

class StringPairingClipboard : public PairingClipboard {
 public:
  std::string GetText() override { return text; }
  void SetText(std::string_view value) override { text = value; }
  std::string text;
};

}  // namespace pelvaro
