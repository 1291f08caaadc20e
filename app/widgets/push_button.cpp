#include "app/widgets/push_button.h"

#include <QAccessibleWidget>
#include <QKeyEvent>

namespace chronosift::widgets {

namespace {

// Screen readers hear a push button: its press springs back at once, so the checked state that
// Qt would announce for a checkable button (as a check box) never lasts.
class PushButtonAccessible : public QAccessibleWidget {
  public:
    explicit PushButtonAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Button) {}

    // The arrows drawn in a caption ("Next  > >", "< < Back") are not read out.
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            QString name = widget()->accessibleName().isEmpty()
                               ? static_cast<const PushButton*>(widget())->text()
                               : widget()->accessibleName();
            return name.remove(QLatin1Char('<')).remove(QLatin1Char('>')).simplified();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = false;
        s.checked = false;
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            if (widget()->isEnabled()) {
                static_cast<PushButton*>(widget())->setValue(1);
            }
            return;
        }
        QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String(PushButton::staticMetaObject.className()) && object != nullptr &&
        object->isWidgetType()) {
        return new PushButtonAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

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
    QAccessible::installFactory(accessibleFor);  // once; a second install is ignored
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

}  // namespace chronosift::widgets
