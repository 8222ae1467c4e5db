// Tessarin: look at and patch the bytes of any file.
#include <QApplication>

#include "main/qttranslations.h"
#include "main/tform1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Before the window, whose dialogs take their texts when they are made.
    const auto qttranslations = tessarin::installqttranslations();
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    // Wayland compositors find the window's icon through the desktop entry of this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tessarin.Tessarin"));
    tessarin::TForm1 Form1;
    Form1.show();
    return QApplication::exec();
}
