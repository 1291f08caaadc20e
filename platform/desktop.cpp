#include "platform/desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>

#include "platform/text.h"

namespace chronosift::platform {

bool showInFileManager(const std::string& filePath) {
    const QString uri = QStringLiteral("file://") + QString::fromStdString(uriEscapePath(filePath));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return true;
    }
    const size_t slash = filePath.rfind('/');
    return openWithDefaultApplication(slash == 0 ? "/" : filePath.substr(0, slash));
}

bool openWithDefaultApplication(const std::string& filePath) {
    // Decoded as the file system encodes names, so that QProcess hands over the same bytes.
    return QProcess::startDetached(QStringLiteral("xdg-open"),
                                   {QFile::decodeName(QByteArray::fromStdString(filePath))});
}

}  // namespace chronosift::platform
