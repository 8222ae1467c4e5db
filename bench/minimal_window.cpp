// The least Qt Widgets program with a window: one button. The baseline of startup_bench.
#include <QApplication>
#include <QPushButton>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QPushButton button(QStringLiteral("&Open"));
    button.show();
    return QApplication::exec();
}
