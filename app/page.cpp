#include "app/page.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTreeView>

#include <algorithm>

#include "platform/fs.h"

namespace chronosift {

int twips(int value) {
    return qRound(value / 15.0);
}

QRect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

namespace {

QFont arialBold(qreal points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// A page is a window to a screen reader, named by its caption; Qt would call a plain top-level
// widget a client area ("filler").
class PageAccessible : public QAccessibleWidget {
  public:
    explicit PageAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? widget()->windowTitle() : QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String(Page::staticMetaObject.className()) && object != nullptr &&
        object->isWidgetType()) {
        return new PageAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

QIcon blankIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

}  // namespace

QFont buttonFont() {
    return arialBold(11.25);
}
QFont captionFont() {
    return arialBold(9.75);
}
QFont listFont() {
    return arialBold(9);
}

QPointF centeredPosition(QSizeF screenTwips, QSizeF pageTwips) {
    const float left =
        (static_cast<float>(screenTwips.width()) - static_cast<float>(pageTwips.width())) / 2.0f;
    const float top =
        (static_cast<float>(screenTwips.height()) - static_cast<float>(pageTwips.height())) / 2.0f;
    return {left, top};
}

Page::Page(const QString& name, int widthTwips, int heightTwips) {
    QAccessible::installFactory(accessibleFor);
    setObjectName(name);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twips(widthTwips), twips(heightTwips));
    setWindowIcon(blankIcon());
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setMouseTracking(true);
}

void Page::setMousePointer(int value) {
    pointer_ = value;
    switch (value) {
        case kBusyPointer:
            setCursor(Qt::WaitCursor);
            break;
        case kCustomPointer:
            setCursor(custom_ ? *custom_ : QCursor(Qt::PointingHandCursor));
            break;
        default:
            setCursor(Qt::ArrowCursor);
            break;
    }
}

void Page::centerForm() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QSize s = screen->geometry().size();
    const QSize page = frameGeometry().size();
    const QPointF at = centeredPosition(QSizeF(s.width() * 15.0, s.height() * 15.0),
                                        QSizeF(page.width() * 15.0, page.height() * 15.0));
    // The window layer rounds the half twip when it places the window.
    move(qRound(at.x() / 15.0), qRound(at.y() / 15.0));
}

void Page::loadCustomPointer() {
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/HAND-M.CUR");
    if (!platform::fileExists(path.toStdString())) {
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray bytes = file.readAll();
    QPixmap pixmap;
    // A file that is there but is no readable cursor is treated like a missing one.
    if (pixmap.loadFromData(bytes, "ICO") && !pixmap.isNull()) {
        const QPoint hot = cursorHotSpot(bytes);
        custom_ = QCursor(pixmap, std::min(hot.x(), pixmap.width() - 1),
                          std::min(hot.y(), pixmap.height() - 1));
    }
}

QList<widgets::PushButton*> Page::pushButtons() const {
    return findChildren<widgets::PushButton*>();
}

widgets::PushButton* Page::addButton(const QString& name, const QString& caption, QWidget* parent,
                                     QRect geometry) {
    auto* button = new widgets::PushButton(caption, parent);
    button->setObjectName(name);
    button->setFont(buttonFont());
    button->setGeometry(geometry);
    setMoveRole(button, MoveRole::Hover);
    return button;
}

void Page::placeList(QAbstractItemView* list, QRect geometry) {
    list->setObjectName(QStringLiteral("ListView1"));
    list->setFont(listFont());
    list->setGeometry(geometry);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QTreeView* Page::addListView(QRect geometry) {
    auto* list = new QTreeView(this);
    placeList(list, geometry);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setItemsExpandable(false);
    return list;
}

void Page::setMoveRole(QWidget* control, MoveRole role) {
    // Each control handles its own moves, its inner parts' too (a list's header and viewport, a
    // picker's text); none reaches the page behind it.
    auto watch = [&](QWidget* w) {
        w->setMouseTracking(true);
        w->setAttribute(Qt::WA_NoMousePropagation);
        w->installEventFilter(this);
        roles_.insert(w, role);
    };
    watch(control);
    if (qobject_cast<QAbstractScrollArea*>(control) == nullptr &&
        qobject_cast<QComboBox*>(control) == nullptr) {
        return;
    }
    for (QWidget* part : control->findChildren<QWidget*>()) {
        if (!roles_.contains(part)) {
            watch(part);
        }
        // The page's pointer shows over a picker's text as over the rest of the page.
        if (qobject_cast<QLineEdit*>(part) != nullptr) {
            part->unsetCursor();
        }
    }
}

void Page::showWithFocus(QWidget* first) {
    show();
    raise();
    activateWindow();
    if (first != nullptr) {
        first->setFocus(Qt::ActiveWindowFocusReason);
    }
}

QPoint cursorHotSpot(const QByteArray& file) {
    // A .CUR file: a 6-byte header whose type is 2, then 16-byte entries; the first entry's
    // hot spot is at bytes 4 to 7 of the entry, little-endian.
    if (file.size() < 22 || file[0] != 0 || file[1] != 0 || file[2] != 2 || file[3] != 0) {
        return {0, 0};
    }
    const auto u16 = [&](int at) {
        return static_cast<int>(static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1])
                                                                     << 8);
    };
    return {u16(10), u16(12)};
}

bool Page::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        const auto it = roles_.constFind(watched);
        if (it != roles_.constEnd()) {
            if (*it == MoveRole::Hover) {
                hover(qobject_cast<widgets::PushButton*>(watched));
            } else if (*it == MoveRole::Reset) {
                reset();
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Page::mouseMoveEvent(QMouseEvent* event) {
    reset();
    QWidget::mouseMoveEvent(event);
}

void Page::hover(widgets::PushButton* button) {
    if (button == nullptr || pointer_ == kBusyPointer) {
        return;
    }
    if (pointer_ != kCustomPointer) {
        setMousePointer(kCustomPointer);
    }
    if (button->backColor() != widgets::PushButton::kHighlight) {
        button->setBackColor(widgets::PushButton::kHighlight);
    }
}

void Page::reset() {
    if (pointer_ != kBusyPointer) {
        setMousePointer(kArrowPointer);
    }
    for (widgets::PushButton* button : pushButtons()) {
        if (button->backColor() != widgets::PushButton::kWhite) {
            button->setBackColor(widgets::PushButton::kWhite);
        }
    }
}

}  // namespace chronosift
