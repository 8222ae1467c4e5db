// Tessarin: look at and patch the bytes of any file.
#include <QApplication>

#include "main/qttranslations.h"
#include "main/tform1.h"
#ifndef Q_OS_WIN
#include "main/endsignals.h"
#endif

int main(int argc, char* argv[]) {
#ifdef Q_OS_WIN
    // With mingw-w64's run-time, a Qt thread that ends can free its regular expressions' JIT stack
    // after the thread's storage is gone, and crash. Nothing here needs the JIT's speed.
    if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT")) {
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
    }
#endif
    QApplication app(argc, argv);
    // Before the window, whose dialogs take their texts when they are made.
    const auto qttranslations = tessarin::installqttranslations();
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    // Wayland compositors find the window's icon through the desktop entry of this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tessarin.Tessarin"));
    tessarin::TForm1 Form1;
#ifndef Q_OS_WIN
    const tessarin::EndSignals endsignals(&Form1);
#endif
    Form1.show();
    const int status = QApplication::exec();
    Form1.removeafterend();
    return status;
}
