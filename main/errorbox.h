// The application's one error path: a handler runs inside guard(), and whatever it throws ends
// the handler and is shown in a modal error box; the program goes on.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

namespace tessarin {

// The text of the error box: the message with "." appended when its last character compares
// greater than "." (on UTF-8 text, by the first byte of the last character). So every Japanese
// message gets the ".", "I/O エラー (32)" does not, and an empty message stays empty.
std::string errortext(const std::string& message);

// Shows the modal error box, captioned with the application's title.
void showerror(QWidget* owner, const QString& caption, const std::string& message);

// Runs a handler. An exception that leaves it is shown with showerror(); a cancelled operation
// ends the handler silently. Nothing ever unwinds into Qt.
void guard(QWidget* owner, const QString& caption, const std::function<void()>& handler) noexcept;

}  // namespace tessarin
