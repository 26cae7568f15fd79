// The pairing window on Qt's offscreen platform: its layout, the buttons and
// the System menu's keys running the engine's steps, the player-count
// up-down, the top-level error handler, and the grid model under
// QAbstractItemModelTester.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/gui/ErrorHandler.h"
#include "app/gui/PairingGridModel.h"
#include "app/gui/QtPairingServices.h"
#include "app/gui/SystemWinUnit.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ConsecutiveMatching;
using testing_support::ReadFile;
using testing_support::ScriptedDialogs;
using testing_support::TextClipboard;
using testing_support::WriteFile;

// One QApplication for the whole executable, gone before main returns.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "pairing_gui_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// What the model tester reports during a test is a failure.
std::vector<QString>& Warnings() {
  static std::vector<QString> warnings;
  return warnings;
}
void CollectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const bool fromTester =
      context.category != nullptr && std::string_view(context.category) == "qt.modeltest";
  if (fromTester && type != QtDebugMsg && type != QtInfoMsg) Warnings().push_back(text);
}

class SystemWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Warnings().clear();
    previousHandler_ = qInstallMessageHandler(CollectWarnings);
    SetErrorHandler([this](const QString& text) { errors.push_back(text); });
    dialogs.onMessage = [this](std::string_view text) {
      if (text.find("wmatch") != std::string_view::npos && !matchings.empty()) {
        WriteFile("wm.out", matchings.front());
        matchings.erase(matchings.begin());
      }
    };
    window = std::make_unique<TSystemWin>(nullptr, &dialogs, &clipboard);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    SetErrorHandler({});
    qInstallMessageHandler(previousHandler_);
    PairingEngine::SetCommandPrefix("cmd ");
    EXPECT_TRUE(Warnings().empty()) << Warnings().front().toStdString();
  }

  template <class T>
  T* Find(const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Click(const char* name) { QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton); }
  // Sends a key to the grid, where the user's focus usually is.
  void Key(Qt::Key key) {
    QTableView* grid = Find<QTableView>("Grid");
    grid->setFocus();
    QTest::keyClick(grid, key);
  }
  QString GridText(int row, int col) {
    const QAbstractItemModel* model = Find<QTableView>("Grid")->model();
    return model->data(model->index(row - 1, col - 1)).toString();
  }
  QString RowHeader(int row) {
    return Find<QTableView>("Grid")->model()->headerData(row - 1, Qt::Vertical).toString();
  }
  PairingEngine& Engine() { return window->Engine(); }

  // Four players after one round at one table.
  static constexpr const char* kOneRound = "1\t8\t30\r\n1\t6\t25\r\n1\t4\t20\r\n1\t2\t15\r\n";

  ScriptedDialogs dialogs;
  TextClipboard clipboard;
  std::vector<std::string> matchings;
  std::vector<QString> errors;
  std::unique_ptr<TSystemWin> window;

 private:
  QtMessageHandler previousHandler_ = nullptr;
};

TEST_F(SystemWinTest, LayoutOfTheWindow) {
  EXPECT_EQ(window->windowTitle(), "Tervo tournament system");

  auto* pages = Find<QTabWidget>("PageControl1");
  EXPECT_EQ(pages->tabPosition(), QTabWidget::South);
  ASSERT_EQ(pages->count(), 2);
  EXPECT_EQ(pages->tabText(0), "Párování");
  EXPECT_EQ(pages->tabText(1), "WM files");

  auto* grid = Find<QTableView>("Grid");
  EXPECT_EQ(grid->model()->rowCount(), 32);     // 33 rows, one fixed
  EXPECT_EQ(grid->model()->columnCount(), 14);  // 15 columns, one fixed
  EXPECT_EQ(RowHeader(1), "1");
  EXPECT_EQ(RowHeader(32), "32");
  EXPECT_EQ(grid->horizontalHeader()->defaultSectionSize(), 20);
  EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 16);
  EXPECT_EQ(grid->selectionMode(), QAbstractItemView::ContiguousSelection);
  EXPECT_TRUE(grid->model()->flags(grid->model()->index(0, 0)) & Qt::ItemIsEditable);

  auto* memo1 = Find<QPlainTextEdit>("Memo1");
  auto* memo2 = Find<QPlainTextEdit>("Memo2");
  EXPECT_EQ(memo1->toPlainText(), "VAHY");
  EXPECT_EQ(memo2->toPlainText(), "PAROVANI");
  for (QPlainTextEdit* memo : {memo1, memo2}) {
    EXPECT_EQ(memo->font().family(), "Courier New");
    EXPECT_EQ(memo->font().pointSize(), 8);
    EXPECT_EQ(memo->font().styleHint(), QFont::TypeWriter);
  }

  auto* panel = Find<QWidget>("Panel1");
  EXPECT_EQ(panel->width(), 129);
  std::vector<QString> texts;
  for (int i = 0; i < panel->layout()->count(); ++i) {
    QWidget* w = panel->layout()->itemAt(i)->widget();
    if (w == nullptr) continue;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) texts.push_back(b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) texts.push_back(l->text());
    if (auto* e = qobject_cast<QLineEdit*>(w)) texts.push_back(e->text());
    if (auto* s = qobject_cast<QSpinBox*>(w)) texts.push_back(s->text());
  }
  EXPECT_EQ(texts, (std::vector<QString>{"1. Načti", "2. Seskup !", "Kolo", "0", "Počet hráčů",
                                         "32", "1. Spocti vahy 2", "2. Seskup 2",
                                         "3. Spocti vahy 4", "4. Seskup 4", "5. Ulož", "NULY",
                                         "BYE's", "0", "command", "OK", "Manual match",
                                         "Méně opakování"}));
  EXPECT_TRUE(Find<QPushButton>("btnPairAll")->font().bold());
  auto* round = Find<QLabel>("StaticText1");
  EXPECT_EQ(round->font().family(), "Arial Black");
  EXPECT_EQ(round->font().pixelSize(), 50);
  auto* upDown = Find<QSpinBox>("UpDown1");
  EXPECT_EQ(upDown->minimum(), 0);
  EXPECT_EQ(upDown->maximum(), 100);
  EXPECT_EQ(upDown->value(), 32);
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "32");
  EXPECT_FALSE(Find<QCheckBox>("CheckBox1")->isChecked());

  QMenu* menu = window->SystemMenu();
  EXPECT_EQ(menu->title(), "System");
  std::vector<QString> items;
  for (QAction* action : menu->actions()) {
    items.push_back(action->isSeparator() ? QString("-")
                                          : action->text() + " " + action->shortcut().toString());
  }
  EXPECT_EQ(items, (std::vector<QString>{"Schránka > @ F1", "Spočti váhy F2", "Seskup 2 F3",
                                         "@ > Schránka F4", "-", "Vycisti tabulku F5"}));
}

TEST_F(SystemWinTest, ButtonsRunTheirSteps) {
  clipboard.text = kOneRound;
  Click("btnLoad");
  EXPECT_EQ(Engine().PlayerCount(), 4);
  EXPECT_EQ(GridText(2, 2), "6");
  EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "1");
  EXPECT_EQ(Find<QSpinBox>("UpDown1")->value(), 4);
  EXPECT_EQ(Find<QTableView>("Grid")->model()->rowCount(), 4);

  QTest::mouseClick(Find<QCheckBox>("CheckBox1"), Qt::LeftButton);
  EXPECT_TRUE(Engine().ManualMatch());

  Click("btnPairWeights");
  EXPECT_TRUE(Find<QPlainTextEdit>("Memo1")->toPlainText().startsWith("4 6 U\n3 1 0 0\n2 "));

  matchings = {"1 3\n2 4\n3 1\n4 2\n"};
  Click("btnMatchPairs");
  EXPECT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "2");
  EXPECT_EQ(Find<QPlainTextEdit>("Memo2")->toPlainText(), "1 3\n2 4\n3 1\n4 2");
  EXPECT_EQ(GridText(3, 4), "1");
  EXPECT_EQ(GridText(4, 4), "2");

  Click("btnFourWeights");
  EXPECT_TRUE(Find<QPlainTextEdit>("Memo1")->toPlainText().startsWith("2 1 U\n1 1 0 0\n2 "));

  matchings = {"1 2\n2 1\n"};
  Click("btnMatchFours");
  EXPECT_EQ(dialogs.messages.size(), 4u);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(GridText(k, 4), "1");

  Click("btnZeros");
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(GridText(k, 6), "0");
  Click("btnSave");
  EXPECT_EQ(clipboard.text,
            "1\t8\t30\t1\t\t0\r1\t6\t25\t1\t\t0\r1\t4\t20\t1\t\t0\r1\t2\t15\t1\t\t0\r");
  EXPECT_TRUE(errors.empty());
}

TEST_F(SystemWinTest, FullPairingButtonSeatsTheRoundAndShowsTheGridPage) {
  clipboard.text = kOneRound;
  Click("btnLoad");
  Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
  QTest::mouseClick(Find<QCheckBox>("CheckBox1"), Qt::LeftButton);
  matchings = {ConsecutiveMatching(4), ConsecutiveMatching(2)};
  Click("btnPairAll");
  EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
  EXPECT_EQ(Engine().RoundCount(), 2);
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentIndex(), 0);
  EXPECT_EQ(clipboard.text.substr(0, 8), "1\t8\t30\t1");
}

TEST_F(SystemWinTest, MenuKeysRunTheirCommands) {
  clipboard.text = kOneRound;
  Key(Qt::Key_F1);
  EXPECT_EQ(Engine().PlayerCount(), 4);
  EXPECT_EQ(Engine().RoundCount(), 1);

  const TextLines weightsBefore = Engine().WeightsLines();
  Key(Qt::Key_F2);  // no action
  EXPECT_EQ(Engine().WeightsLines(), weightsBefore);
  EXPECT_TRUE(dialogs.messages.empty());

  Engine().SetManualMatch(true);
  matchings = {ConsecutiveMatching(4)};
  Key(Qt::Key_F3);
  EXPECT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(Engine().RoundCount(), 2);

  clipboard.text.clear();
  Key(Qt::Key_F4);
  EXPECT_EQ(clipboard.text.substr(0, 10), "1\t8\t30\t1\t\t");

  Key(Qt::Key_F5);
  EXPECT_EQ(Engine().RoundCount(), 0);
  EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "2");  // the display keeps its value
  EXPECT_EQ(GridText(1, 1), "");
  EXPECT_EQ(RowHeader(4), "4");
  EXPECT_TRUE(errors.empty());
}

TEST_F(SystemWinTest, PlayerCountUpDownLaysTheGridOut) {
  auto* upDown = Find<QSpinBox>("UpDown1");
  upDown->setFocus();
  QTest::keyClick(upDown, Qt::Key_Down);
  QTest::keyClick(upDown, Qt::Key_Down);
  EXPECT_EQ(Engine().PlayerCount(), 30);
  auto* model = Find<QTableView>("Grid")->model();
  EXPECT_EQ(model->rowCount(), 32);  // rows 31 and 32 stay, emptied
  EXPECT_EQ(RowHeader(30), "30");
  EXPECT_EQ(RowHeader(31), "");
  EXPECT_EQ(RowHeader(32), "");

  upDown->stepBy(1);
  EXPECT_EQ(Engine().PlayerCount(), 31);
  EXPECT_EQ(RowHeader(31), "31");

  // A typed count counts once the edit is left: the grid is laid out for it.
  Engine().Grid().SetCell(32, 1, "stale");
  QLineEdit* edit = Find<QLineEdit>("Edit1");
  edit->selectAll();
  QTest::keyClicks(edit, "10");
  Find<QTableView>("Grid")->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(Engine().PlayerCount(), 10);
  EXPECT_EQ(RowHeader(11), "");
  EXPECT_EQ(GridText(32, 1), "");
  upDown->stepBy(1);
  EXPECT_EQ(Engine().PlayerCount(), 11);
  EXPECT_TRUE(errors.empty());
}

TEST_F(SystemWinTest, TypedPlayerCountCountsWhenACommandRuns) {
  // The count is typed and a menu key pressed while the edit keeps the focus.
  QLineEdit* edit = Find<QLineEdit>("Edit1");
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, "12");
  Engine().SetManualMatch(true);
  matchings = {ConsecutiveMatching(12)};
  QTest::keyClick(edit, Qt::Key_F3);
  EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
  EXPECT_EQ(Engine().PlayerCount(), 12);
  EXPECT_EQ(Engine().RoundCount(), 1);
  EXPECT_EQ(GridText(12, 1), "6");
  EXPECT_EQ(RowHeader(13), "");
  EXPECT_EQ(GridText(13, 1), "");
}

TEST_F(SystemWinTest, FailedFullPairingLeavesTheWindowAsItWas) {
  clipboard.text = kOneRound;
  Click("btnLoad");
  QTest::mouseClick(Find<QCheckBox>("CheckBox1"), Qt::LeftButton);
  // The pairs step adds round 2, then wm.out of the four step is short.
  matchings = {ConsecutiveMatching(4), "1 2\n"};
  Click("btnPairAll");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "wm.out has 1 lines, expected 2");
  EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "1");
  EXPECT_EQ(Engine().RoundCount(), 1);
  EXPECT_EQ(Find<QTableView>("Grid")->model()->columnCount(), 14);
  EXPECT_EQ(GridText(1, 4), "");
}

TEST_F(SystemWinTest, FewerRepeatsCheckBoxSeatsWithoutTheMatchingProgram) {
  std::string text;
  for (int p = 0; p < 8; ++p) text += std::to_string(p / 4 + 1) + "\t" + std::to_string(8 - 2 * (p % 4)) + "\t0\r";
  clipboard.text = text;
  Click("btnLoad");
  QTest::mouseClick(Find<QCheckBox>("chkFewerRepeats"), Qt::LeftButton);
  EXPECT_TRUE(Engine().FewerRepeats());
  Click("btnPairAll");
  EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "2");
  // Two tables of four from two: two and two from each, four repeats.
  EXPECT_TRUE(Find<QPlainTextEdit>("MemoRepeats")
                  ->toPlainText()
                  .startsWith("Repeat meetings in round 2: 4\n"));
}

TEST_F(SystemWinTest, EditsOfTheWindowReachTheEngine) {
  QLineEdit* byes = Find<QLineEdit>("edByes");
  byes->selectAll();
  QTest::keyClicks(byes, "2");
  EXPECT_EQ(Engine().ByesText(), "2");

  QLineEdit* command = Find<QLineEdit>("Edit2");
  Click("Button8");
  EXPECT_EQ(PairingEngine::CommandPrefix(), "command");
  command->setText("cmd ");
  Click("Button8");
  EXPECT_EQ(PairingEngine::CommandPrefix(), "cmd ");

  // The weights list as the user left it is what the solver step saves.
  Find<QPlainTextEdit>("Memo1")->setPlainText("5 10 U\n4 1 0 0");
  Engine().SetManualMatch(true);
  matchings = {ConsecutiveMatching(32)};
  Click("btnMatchPairs");
  EXPECT_EQ(ReadFile("wm.in"), "5 10 U\r\n4 1 0 0\r\n");

  // Typing into the grid writes the cell.
  auto* grid = Find<QTableView>("Grid");
  const QModelIndex cell = grid->model()->index(0, 1);
  grid->setCurrentIndex(cell);
  grid->edit(cell);
  auto* editor = grid->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "7");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();  // the delegate commits through a queued call
  EXPECT_EQ(Engine().Grid().Cell(1, 2), "7");
}

TEST_F(SystemWinTest, ErrorsReachTheTopLevelHandler) {
  Find<QLineEdit>("edByes")->setText("x");
  Click("btnPairWeights");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "'x' is not a valid integer value");

  // Without a handler of its own the application shows the text in a box.
  SetErrorHandler({});
  QString shown;
  QTimer::singleShot(0, [&shown] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->close();
    }
  });
  Click("btnPairWeights");
  EXPECT_EQ(shown, "'x' is not a valid integer value");
}

TEST_F(SystemWinTest, NoDataMessageOfTheFirstButton) {
  Find<QSpinBox>("UpDown1")->setValue(1);
  Find<QSpinBox>("UpDown1")->stepBy(-1);
  EXPECT_EQ(Engine().PlayerCount(), 0);
  Click("btnPairWeights");
  EXPECT_EQ(dialogs.messages,
            std::vector<std::string>{"Žádná data. Načtěte data a zkuste to znovu."});
}

TEST_F(SystemWinTest, ClosingOnlyMinimizes) {
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isMinimized() || window->windowState() & Qt::WindowMinimized);
  EXPECT_EQ(Engine().PlayerCount(), 32);
}

TEST(QtPairingClipboardTest, LinesEndedByLfAloneKeepTheirRows) {
  QtPairingClipboard clipboard;
  struct Case {
    const char* text;
    const char* read;
  };
  const Case cases[] = {
      {"1\t8\n2\t6\n", "1\t8\r\n2\t6\r\n"},
      {"1\t8\r\n2\t6\r", "1\t8\r\n2\t6\r"},
      {"\nx", "\r\nx"},
  };
  for (const Case& c : cases) {
    clipboard.SetText(c.text);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), c.text);
    EXPECT_EQ(clipboard.GetText(), c.read);
  }
}

TEST_F(SystemWinTest, GridModelPassesTheModelTester) {
  QAbstractItemModelTester tester(&window->GridModel(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  std::string text;
  for (int p = 1; p <= 40; ++p) text += std::to_string(p) + "\t8\t3\t2\t6\t1\t4\r";
  clipboard.text = text;
  Click("btnLoad");  // more rows and columns
  Engine().SetManualMatch(true);
  matchings = {ConsecutiveMatching(40), ConsecutiveMatching(20)};
  Click("btnPairAll");
  Find<QSpinBox>("UpDown1")->stepBy(-1);
  clipboard.text = "1\t2\r";
  Click("btnLoad");  // fewer rows
  Key(Qt::Key_F5);
  window->GridModel().setData(window->GridModel().index(0, 0), "5");
  EXPECT_EQ(Engine().Grid().Cell(1, 1), "5");
  EXPECT_TRUE(errors.empty());
  // Warnings of the tester fail the test in TearDown.
}

}  // namespace
}  // namespace pelvaro
