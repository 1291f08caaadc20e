#include <QApplication>
#include <QGuiApplication>

#include "app/application.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    qt.setApplicationName(QStringLiteral("Chronosift"));
    qt.setDesktopFileName(QStringLiteral("org.chronosift.Chronosift"));
    qt.setQuitOnLastWindowClosed(false);  // the page flow decides when the program ends
    chronosift::Application app;
    QObject::connect(&app, &chronosift::Application::ending, &qt, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    app.start();
    return qt.exec();
}
