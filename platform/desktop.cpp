#include "platform/desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>

#include "platform/text.h"

namespace chronosift::platform {

std::string fileUri(const std::string& path) {
    return "file://" + uriEscapePath(path);
}

namespace {

void openUri(const std::string& uri, DesktopDone done) {
    auto* process = new QProcess;
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // The URI is ASCII, so no decoding can change a byte of the path on its way.
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({QString::fromLatin1(uri)});
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, done](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             done("no program to open it with could be started (xdg-open: " +
                                  process->errorString().toStdString() + ")");
                             process->deleteLater();
                         }
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, done](int code, QProcess::ExitStatus status) {
                         done(status == QProcess::NormalExit && code == 0
                                  ? std::string()
                                  : "no application could open it (xdg-open ended with status " +
                                        std::to_string(code) + ")");
                         process->deleteLater();
                     });
    process->start();
}

}  // namespace

void openWithDefaultApplication(const std::string& filePath, DesktopDone done) {
    openUri(fileUri(filePath), std::move(done));
}

void showInFileManager(const std::string& filePath, DesktopDone done) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(fileUri(filePath))} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        done({});
        return;
    }
    const size_t slash = filePath.rfind('/');
    openUri(fileUri(slash == 0 ? "/" : filePath.substr(0, slash)), std::move(done));
}

}  // namespace chronosift::platform
