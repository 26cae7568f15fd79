// The application's top-level error handler: every window runs its commands
// through RunGuarded, so an error of the engine ends the command and its text
// is shown in a message box, and the interrupted command keeps what it had
// already changed. Tests put their own handler in place of the box.
#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace pelvaro {

using ErrorHandler = std::function<void(const QString& text)>;

// Replaces the handler; an empty one brings back the message box.
void SetErrorHandler(ErrorHandler handler);

// Shows `text` as an error: by default a critical message box over the
// active window, titled with the application name.
void ShowError(const QString& text);

template <class Command>
void RunGuarded(Command&& command) {
  try {
    command();
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  }
}

}  // namespace pelvaro
