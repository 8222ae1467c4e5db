// Tessarin: look at and patch the bytes of any file.
#include <QApplication>

#include "main/tform1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    // Wayland compositors find the window's icon through the desktop entry of this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tessarin.Tessarin"));
    tessarin::TForm1 Form1;
    Form1.show();
    return QApplication::exec();
}
