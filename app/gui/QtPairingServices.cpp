#include "app/gui/QtPairingServices.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>

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
  // Programs of a Linux desktop end lines with LF alone; the grid's text
  // ends rows with CR (CR LF, as clipboard text always had). A lone LF is
  // read as CR LF, so a pasted spreadsheet keeps its rows.
  const QString text = QGuiApplication::clipboard()->text();
  QString rows;
  rows.reserve(text.size() + text.size() / 8);
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) rows += u'\r';
    rows += text[i];
  }
  return rows.toStdString();
}

void QtPairingClipboard::SetText(std::string_view text) {
  QGuiApplication::clipboard()->setText(ToQString(text));
}

}  // namespace pelvaro
