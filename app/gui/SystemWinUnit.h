// TSystemWin, the pairing window: the workbench of the pairing engine. It
// shows the pairing grid and the two matching lists, runs the engine's steps
// from its buttons and its "System" menu, and copies the grid to and from the
// clipboard. A child window of the main window, which fills the grid from the
// tournament database and stores it back through Engine().
//
// The window owns its engine; the engine's grid is shown through a
// PairingGridModel. Errors of a step reach the top-level handler
// (ErrorHandler.h). Closing the window only minimizes it.
#pragma once

#include <QWidget>

#include <memory>

#include "app/core/PairingEngine.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;

namespace pelvaro {

class PairingGridModel;

class TSystemWin : public QWidget, private PairingView {
  Q_OBJECT

 public:
  // `dialogs` and `clipboard` (both optional, they must outlive the window)
  // replace the message boxes and the system clipboard, for tests.
  explicit TSystemWin(QWidget* parent = nullptr, PairingDialogs* dialogs = nullptr,
                      PairingClipboard* clipboard = nullptr);
  ~TSystemWin() override;

  PairingEngine& Engine() { return *engine_; }
  PairingGridModel& GridModel() { return *model_; }
  // The "System" menu, for a frame that merges it into its own menu bar.
  QMenu* SystemMenu() const { return systemMenu_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // PairingView
  void ShowRound(int round) override;
  void ShowPlayerCount(int count) override;
  void ShowPairingPage() override;
  void WeightsChanged() override;
  void MatchingChanged() override;
  void RepeatsChanged() override;

  void BuildPages();
  void BuildPanel();
  void BuildMenu();
  QPushButton* AddButton(const QString& objectName, const QString& text,
                         void (TSystemWin::*step)());
  // Runs one command: the lists' edits go to the engine first, errors to
  // the top-level handler.
  void Run(void (TSystemWin::*step)());
  void SyncListsToEngine();
  // A player count typed into the edit counts once the edit is left or a
  // command runs, as if the arrows had been used to reach it.
  void SyncTypedPlayerCount();
  void SetListText(QPlainTextEdit* list, const TextLines& lines);

  // Commands of the buttons and the menu.
  void LoadFromClipboard();
  void FullPairing();
  void ComputePairWeights();
  void MatchPairs();
  void ComputeFourWeights();
  void MatchTablesOfFour();
  void CopyToClipboard();
  void ZeroScores();
  void SetCommandPrefix();
  void ClearTable();
  void PlayerCountStepped(int position);
  void PlayerCountLeft();

  std::unique_ptr<PairingDialogs> ownDialogs_;
  std::unique_ptr<PairingClipboard> ownClipboard_;
  std::unique_ptr<PairingEngine> engine_;
  PairingGridModel* model_ = nullptr;

  QMenuBar* menuBar_ = nullptr;
  QMenu* systemMenu_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QTableView* grid_ = nullptr;
  QPlainTextEdit* memo1_ = nullptr;  // weights list
  QPlainTextEdit* memo2_ = nullptr;  // matching list
  QPlainTextEdit* repeats_ = nullptr;  // repeat meetings of the newest round
  QLabel* staticText1_ = nullptr;    // round display
  QSpinBox* upDown1_ = nullptr;      // player count, with its edit Edit1
  QLineEdit* edByes_ = nullptr;
  QLineEdit* edit2_ = nullptr;      // command prefix
  QCheckBox* checkBox1_ = nullptr;  // manual match
  QCheckBox* fewerRepeats_ = nullptr;
  bool playerCountTyped_ = false;
  bool listsUpdating_ = false;
  bool weightsEdited_ = false;
  bool matchingEdited_ = false;
};

}  // namespace pelvaro
