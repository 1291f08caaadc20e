#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The pages are not built yet: a bare window with the program's caption stands in for them.
    QWidget window;
    window.setWindowTitle(QStringLiteral("Chronosift"));
    window.setFixedSize(570, 428);
    window.show();
    return app.exec();
}
