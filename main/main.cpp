// Tessarin: look at and patch the bytes of any file.
#include <QApplication>

#include "main/tform1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    tessarin::TForm1 Form1;
    Form1.show();
    return QApplication::exec();
}
