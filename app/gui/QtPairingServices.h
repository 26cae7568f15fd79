// The pairing engine's dialogs and clipboard on Qt: message boxes over a
// parent window and the system clipboard's text. Used by TSystemWin unless a
// test hands it scripted ones.
#pragma once

#include "app/core/PairingInterfaces.h"

class QWidget;

namespace pelvaro {

class QtPairingDialogs : public PairingDialogs {
 public:
  // `parent` (may be null) must outlive the object.
  explicit QtPairingDialogs(QWidget* parent) : parent_(parent) {}
  void ShowMessage(std::string_view text) override;
  bool AskWarningYesNo(std::string_view text) override;

 private:
  QWidget* parent_;
};

// Reads a lone LF as CR LF (see GetText); writes the text as it is.
class QtPairingClipboard : public PairingClipboard {
 public:
  std::string GetText() override;
  void SetText(std::string_view text) override;
};

}  // namespace pelvaro
