#include "platform/message_box.h"

#include <QMessageBox>

namespace chronosift::platform {

namespace {

MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

}  // namespace

void showMessage(QWidget* parent, const QString& text) {
    if (handler()) {
        handler()(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Chronosift"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void setMessageHandler(MessageHandler h) {
    handler() = std::move(h);
}

}  // namespace chronosift::platform
