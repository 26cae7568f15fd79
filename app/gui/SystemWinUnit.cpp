#include "app/gui/SystemWinUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <functional>

#include "app/gui/ErrorHandler.h"
#include "app/gui/PairingGridModel.h"
#include "app/gui/QtPairingServices.h"

namespace pelvaro {
namespace {

constexpr int kPanelWidth = 129;
constexpr int kWeightsListWidth = 162;

// The player-count up-down with its edit. A step of the arrows (or the
// arrow keys) changes the player count at once; a typed count when the edit
// is left or the next command runs (TSystemWin::SyncTypedPlayerCount).
class PlayerCountBox : public QSpinBox {
 public:
  using QSpinBox::QSpinBox;
  std::function<void(int)> onStep;
  QLineEdit* Edit() const { return lineEdit(); }
  void stepBy(int steps) override {
    QSpinBox::stepBy(steps);
    if (onStep) onStep(value());
  }
};

QFont ListFont() {
  QFont font(QStringLiteral("Courier New"), 8);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

QString JoinForList(const TextLines& lines) {
  std::string text = JoinLines(lines, "\n");
  if (!text.empty()) text.pop_back();
  return QString::fromStdString(text);
}

}  // namespace

TSystemWin::TSystemWin(QWidget* parent, PairingDialogs* dialogs, PairingClipboard* clipboard)
    : QWidget(parent) {
  if (dialogs == nullptr) {
    ownDialogs_ = std::make_unique<QtPairingDialogs>(this);
    dialogs = ownDialogs_.get();
  }
  if (clipboard == nullptr) {
    ownClipboard_ = std::make_unique<QtPairingClipboard>();
    clipboard = ownClipboard_.get();
  }
  engine_ = std::make_unique<PairingEngine>(*dialogs, *clipboard, static_cast<PairingView&>(*this));
  const QString point = QLocale().decimalPoint();
  if (point.size() == 1 && point[0].unicode() < 0x80) {
    engine_->SetDecimalSeparator(static_cast<char>(point[0].unicode()));
  }

  setWindowTitle(QStringLiteral("Tervo tournament system"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  BuildMenu();
  layout->setMenuBar(menuBar_);
  BuildPages();
  layout->addWidget(pages_, 1);
  BuildPanel();
  resize(640, 560);
}

TSystemWin::~TSystemWin() {
  // Closing the window takes the focus from the player-count edit, whose
  // "editing finished" must not reach a window that is half gone.
  upDown1_->disconnect(this);
  static_cast<PlayerCountBox*>(upDown1_)->Edit()->disconnect(this);
  // The model observes the engine's grid: it goes first.
  delete model_;
  model_ = nullptr;
}

void TSystemWin::BuildPages() {
  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("PageControl1"));
  pages_->setTabPosition(QTabWidget::South);

  model_ = new PairingGridModel(engine_->Grid());
  grid_ = new QTableView;
  grid_->setObjectName(QStringLiteral("Grid"));
  grid_->setModel(model_);
  grid_->horizontalHeader()->setMinimumSectionSize(8);
  grid_->horizontalHeader()->setDefaultSectionSize(20);
  grid_->verticalHeader()->setMinimumSectionSize(8);
  grid_->verticalHeader()->setDefaultSectionSize(16);
  grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
  grid_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  pages_->addTab(grid_, QStringLiteral("Párování"));

  auto* splitter = new QSplitter(Qt::Horizontal);
  memo2_ = new QPlainTextEdit;
  memo2_->setObjectName(QStringLiteral("Memo2"));
  memo1_ = new QPlainTextEdit;
  memo1_->setObjectName(QStringLiteral("Memo1"));
  for (QPlainTextEdit* memo : {memo1_, memo2_}) {
    memo->setFont(ListFont());
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  }
  SetListText(memo1_, engine_->WeightsLines());
  SetListText(memo2_, engine_->MatchingLines());
  connect(memo1_, &QPlainTextEdit::textChanged, this, [this] {
    if (!listsUpdating_) weightsEdited_ = true;
  });
  connect(memo2_, &QPlainTextEdit::textChanged, this, [this] {
    if (!listsUpdating_) matchingEdited_ = true;
  });
  // Under the matching list: the pairs of the newest round who met before.
  repeats_ = new QPlainTextEdit;
  repeats_->setObjectName(QStringLiteral("MemoRepeats"));
  repeats_->setFont(ListFont());
  repeats_->setLineWrapMode(QPlainTextEdit::NoWrap);
  repeats_->setReadOnly(true);
  auto* left = new QSplitter(Qt::Vertical);
  left->addWidget(memo2_);
  left->addWidget(repeats_);
  left->setStretchFactor(0, 3);
  left->setStretchFactor(1, 1);
  splitter->addWidget(left);
  splitter->addWidget(memo1_);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  splitter->setSizes({400, kWeightsListWidth});
  pages_->addTab(splitter, QStringLiteral("WM files"));
}

QPushButton* TSystemWin::AddButton(const QString& objectName, const QString& text,
                                   void (TSystemWin::*step)()) {
  auto* button = new QPushButton(text);
  button->setObjectName(objectName);
  connect(button, &QPushButton::clicked, this, [this, step] { Run(step); });
  return button;
}

void TSystemWin::BuildPanel() {
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFixedWidth(kPanelWidth);
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(4, 4, 4, 4);

  column->addWidget(AddButton(QStringLiteral("btnLoad"), QStringLiteral("1. Načti"),
                              &TSystemWin::LoadFromClipboard));
  QPushButton* pairAll = AddButton(QStringLiteral("btnPairAll"), QStringLiteral("2. Seskup !"),
                                   &TSystemWin::FullPairing);
  QFont bold = pairAll->font();
  bold.setBold(true);
  pairAll->setFont(bold);
  column->addWidget(pairAll);

  column->addWidget(new QLabel(QStringLiteral("Kolo")));
  staticText1_ = new QLabel(QStringLiteral("0"));
  staticText1_->setObjectName(QStringLiteral("StaticText1"));
  QFont large(QStringLiteral("Arial Black"));
  large.setPixelSize(50);
  large.setWeight(QFont::Black);  // where Arial Black is missing, the heaviest face there is
  staticText1_->setFont(large);
  column->addWidget(staticText1_);

  column->addWidget(new QLabel(QStringLiteral("Počet hráčů")));
  auto* upDown = new PlayerCountBox;
  upDown->setObjectName(QStringLiteral("UpDown1"));
  upDown->Edit()->setObjectName(QStringLiteral("Edit1"));
  upDown->setRange(0, 100);
  upDown->setValue(engine_->PlayerCount());
  upDown->onStep = [this](int position) {
    RunGuarded([this, position] { PlayerCountStepped(position); });
  };
  connect(upDown->Edit(), &QLineEdit::textEdited, this, [this] { playerCountTyped_ = true; });
  connect(upDown, &QSpinBox::editingFinished, this, [this] { Run(&TSystemWin::PlayerCountLeft); });
  upDown1_ = upDown;
  column->addWidget(upDown1_);

  column->addWidget(AddButton(QStringLiteral("btnPairWeights"), QStringLiteral("1. Spocti vahy 2"),
                              &TSystemWin::ComputePairWeights));
  column->addWidget(AddButton(QStringLiteral("btnMatchPairs"), QStringLiteral("2. Seskup 2"),
                              &TSystemWin::MatchPairs));
  column->addWidget(AddButton(QStringLiteral("btnFourWeights"), QStringLiteral("3. Spocti vahy 4"),
                              &TSystemWin::ComputeFourWeights));
  column->addWidget(AddButton(QStringLiteral("btnMatchFours"), QStringLiteral("4. Seskup 4"),
                              &TSystemWin::MatchTablesOfFour));
  column->addWidget(AddButton(QStringLiteral("btnSave"), QStringLiteral("5. Ulož"),
                              &TSystemWin::CopyToClipboard));
  column->addWidget(
      AddButton(QStringLiteral("btnZeros"), QStringLiteral("NULY"), &TSystemWin::ZeroScores));

  column->addWidget(new QLabel(QStringLiteral("BYE's")));
  edByes_ = new QLineEdit(QString::fromStdString(engine_->ByesText()));
  edByes_->setObjectName(QStringLiteral("edByes"));
  connect(edByes_, &QLineEdit::textChanged, this,
          [this](const QString& text) { engine_->SetByesText(text.toStdString()); });
  column->addWidget(edByes_);

  edit2_ = new QLineEdit(QStringLiteral("command"));
  edit2_->setObjectName(QStringLiteral("Edit2"));
  column->addWidget(edit2_);
  column->addWidget(
      AddButton(QStringLiteral("Button8"), QStringLiteral("OK"), &TSystemWin::SetCommandPrefix));

  checkBox1_ = new QCheckBox(QStringLiteral("Manual match"));
  checkBox1_->setObjectName(QStringLiteral("CheckBox1"));
  connect(checkBox1_, &QCheckBox::toggled, this, [this](bool on) { engine_->SetManualMatch(on); });
  column->addWidget(checkBox1_);

  fewerRepeats_ = new QCheckBox(QStringLiteral("Méně opakování"));
  fewerRepeats_->setObjectName(QStringLiteral("chkFewerRepeats"));
  connect(fewerRepeats_, &QCheckBox::toggled, this,
          [this](bool on) { engine_->SetFewerRepeats(on); });
  column->addWidget(fewerRepeats_);
  column->addStretch(1);

  layout()->addWidget(panel);
}

void TSystemWin::BuildMenu() {
  menuBar_ = new QMenuBar(this);
  systemMenu_ = menuBar_->addMenu(QStringLiteral("System"));
  auto add = [this](const QString& text, Qt::Key key, void (TSystemWin::*step)()) {
    QAction* action = systemMenu_->addAction(text);
    action->setShortcut(QKeySequence(key));
    // Several pairing windows may be open: each one's keys act on itself.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    if (step != nullptr) connect(action, &QAction::triggered, this, [this, step] { Run(step); });
    return action;
  };
  add(QStringLiteral("Schránka > @"), Qt::Key_F1, &TSystemWin::LoadFromClipboard);
  add(QStringLiteral("Spočti váhy"), Qt::Key_F2, nullptr);
  add(QStringLiteral("Seskup 2"), Qt::Key_F3, &TSystemWin::MatchPairs);
  add(QStringLiteral("@ > Schránka"), Qt::Key_F4, &TSystemWin::CopyToClipboard);
  systemMenu_->addSeparator();
  add(QStringLiteral("Vycisti tabulku"), Qt::Key_F5, &TSystemWin::ClearTable);
}

void TSystemWin::Run(void (TSystemWin::*step)()) {
  RunGuarded([this, step] {
    SyncTypedPlayerCount();
    SyncListsToEngine();
    (this->*step)();
  });
}

void TSystemWin::SyncTypedPlayerCount() {
  if (!playerCountTyped_) return;
  playerCountTyped_ = false;
  upDown1_->interpretText();
  if (upDown1_->value() == engine_->PlayerCount()) return;
  engine_->SetPlayerCount(upDown1_->value());
  engine_->LayoutGrid();
}

void TSystemWin::SyncListsToEngine() {
  if (weightsEdited_) {
    engine_->SetWeightsLines(SplitLines(memo1_->toPlainText().toStdString()));
    weightsEdited_ = false;
  }
  if (matchingEdited_) {
    engine_->SetMatchingLines(SplitLines(memo2_->toPlainText().toStdString()));
    matchingEdited_ = false;
  }
}

void TSystemWin::SetListText(QPlainTextEdit* list, const TextLines& lines) {
  listsUpdating_ = true;
  list->setPlainText(JoinForList(lines));
  listsUpdating_ = false;
  (list == memo1_ ? weightsEdited_ : matchingEdited_) = false;
}

void TSystemWin::closeEvent(QCloseEvent* event) {
  // The grid and the lists survive: the window only goes out of the way.
  event->ignore();
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget())) {
    frame->showMinimized();
  } else if (isWindow()) {
    showMinimized();
  }
}

// --- PairingView ---

void TSystemWin::ShowRound(int round) { staticText1_->setText(QString::number(round)); }

void TSystemWin::ShowPlayerCount(int count) {
  playerCountTyped_ = false;  // the engine's count replaces what was typed
  upDown1_->setValue(count);
}

void TSystemWin::ShowPairingPage() { pages_->setCurrentIndex(0); }

void TSystemWin::WeightsChanged() { SetListText(memo1_, engine_->WeightsLines()); }

void TSystemWin::MatchingChanged() { SetListText(memo2_, engine_->MatchingLines()); }

void TSystemWin::RepeatsChanged() {
  repeats_->setPlainText(JoinForList(engine_->RepeatReport()));
}

// --- commands ---

void TSystemWin::LoadFromClipboard() { engine_->LoadGridFromClipboard(); }
void TSystemWin::FullPairing() { engine_->FullPairing(); }
void TSystemWin::ComputePairWeights() { engine_->ComputePairWeights(); }
void TSystemWin::MatchPairs() { engine_->MatchPairs(); }
void TSystemWin::ComputeFourWeights() { engine_->ComputeFourWeights(); }
void TSystemWin::MatchTablesOfFour() { engine_->MatchTablesOfFour(); }
void TSystemWin::CopyToClipboard() { engine_->CopyGridToClipboard(); }
void TSystemWin::ZeroScores() { engine_->ZeroScores(); }
void TSystemWin::ClearTable() { engine_->ClearTable(); }

void TSystemWin::SetCommandPrefix() {
  PairingEngine::SetCommandPrefix(edit2_->text().toStdString());
}

void TSystemWin::PlayerCountStepped(int position) {
  playerCountTyped_ = false;
  engine_->SetPlayerCount(position);
  engine_->LayoutGrid();
}

// Run has taken a typed count already; the grid is laid out either way.
void TSystemWin::PlayerCountLeft() { engine_->LayoutGrid(); }

}  // namespace pelvaro
