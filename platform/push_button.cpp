#include "platform/push_button.h"

#include <QKeyEvent>

namespace chronosift::platform {

namespace {

QString styleFor(uint32_t bgr) {
    const QColor color(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
    return QStringLiteral(
               "QPushButton { background-color: %1; border: 1px solid #7a7a7a; "
               "border-radius: 2px; padding: 2px; }"
               "QPushButton:checked, QPushButton:pressed { border: 2px inset #5a5a5a; }"
               "QPushButton:disabled { color: #a0a0a0; }"
               "QPushButton:focus { border: 2px solid #3c78c8; }")
        .arg(color.name());
}

}  // namespace

PushButton::PushButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setCheckable(true);
    setStyleSheet(styleFor(backColor_));
    connect(this, &QAbstractButton::toggled, this, &PushButton::clickNotification);
}

void PushButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isEnabled()) {
        event->accept();
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void PushButton::setBackColor(uint32_t bgr) {
    if (bgr == backColor_) {
        return;
    }
    backColor_ = bgr;
    setStyleSheet(styleFor(bgr));
}

}  // namespace chronosift::platform
