#include "app/gui/ErrorHandler.h"

#include <QApplication>
#include <QMessageBox>

namespace pelvaro {
namespace {

ErrorHandler& Handler() {
  static ErrorHandler handler;
  return handler;
}

}  // namespace

void SetErrorHandler(ErrorHandler handler) { Handler() = std::move(handler); }

void ShowError(const QString& text) {
  if (Handler()) {
    Handler()(text);
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(), text);
}

}  // namespace pelvaro
