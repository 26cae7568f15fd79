// pelvaro: the desktop program. Until the main window with its database
// exists, the frame hosts one pairing window, working in the current
// directory (wm.in and wm.out are written there).
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>

#include "app/gui/SystemWinUnit.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pelvaro"));

  QMainWindow frame;
  frame.setWindowTitle(QStringLiteral("Pelvaro"));
  auto* area = new QMdiArea;
  frame.setCentralWidget(area);
  auto* pairing = new pelvaro::TSystemWin;
  QMdiSubWindow* sub = area->addSubWindow(pairing);
  sub->setAttribute(Qt::WA_DeleteOnClose, false);
  frame.resize(900, 700);
  frame.show();
  sub->showMaximized();
  return app.exec();
}
