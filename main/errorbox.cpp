// The error box and the guard around every handler.
#include "main/errorbox.h"

#include <QMessageBox>

#include <exception>

#include "binio/binio.h"

namespace tessarin {

std::string errortext(const std::string& message) {
    if (message.empty()) {
        return message;
    }
    // Step back over UTF-8 continuation bytes to the first byte of the last character.
    std::size_t last = message.size() - 1;
    while (last > 0 && (static_cast<unsigned char>(message[last]) & 0xC0) == 0x80) {
        --last;
    }
    if (static_cast<unsigned char>(message[last]) > static_cast<unsigned char>('.')) {
        return message + ".";
    }
    return message;
}

void showerror(QWidget* owner, const QString& caption, const std::string& message) {
    QMessageBox box(QMessageBox::Critical, caption, QString::fromStdString(errortext(message)),
                    QMessageBox::Ok, owner);
    box.exec();
}

void guard(QWidget* owner, const QString& caption, const std::function<void()>& handler) noexcept {
    try {
        try {
            handler();
        } catch (const binio::Cancelled&) {
            // The user stopped the operation; it left everything as it was.
        } catch (const std::exception& e) {
            showerror(owner, caption, e.what());
        } catch (...) {
            showerror(owner, caption, "unexpected error");
        }
    } catch (...) {
        // Showing the box itself failed (out of memory): there is nothing left to tell the user
        // with, and the program goes on.
    }
}

}  // namespace tessarin
