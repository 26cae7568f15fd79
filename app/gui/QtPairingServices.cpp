#include "app/gui/QtPairingServices.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>

#include "app/core/TextLines.h"

namespace pelvaro {
namespace {
QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

void QtPairingDialogs::ShowMessage(std::string_view text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), ToQString(text),
                  QMessageBox::Ok, parent_);
  box.exec();
}

bool QtPairingDialogs::AskWarningYesNo(std::string_view text) {
  return QMessageBox::warning(parent_, QStringLiteral("Warning"), ToQString(text),
                              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::string QtPairingClipboard::GetText() {
  return LineFeedsToCrLf(QGuiApplication::clipboard()->text().toStdString());
}

void QtPairingClipboard::SetText(std::string_view text) {
  QGuiApplication::clipboard()->setText(ToQString(text));
}

}  // namespace pelvaro
