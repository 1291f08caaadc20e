#include "app/widgets/date_picker.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include "index/calendar.h"

namespace chronosift::widgets {

namespace {

bool isSeparator(const QString& text) {
    return text.size() == 1 && !text[0].isLetterOrNumber() && text[0].isPrint();
}

}  // namespace

DatePicker::DatePicker(QDate date, QWidget* parent) : QDateEdit(date, parent) {}

QDate DatePicker::parseWholeDate(const QString& typed) const {
    const QString text = typed.trimmed();
    QDate date = QDate::fromString(text, Qt::ISODate);
    for (const QString& format : {displayFormat(), locale().dateFormat(QLocale::ShortFormat),
                                  locale().dateFormat(QLocale::LongFormat)}) {
        if (!date.isValid()) {
            date = locale().toDate(text, format);
        }
    }
    if (date.isValid() && locale().dateFormat(QLocale::ShortFormat).count(QLatin1Char('y')) == 2 &&
        date.year() < 1930 && !text.contains(QString::number(date.year()))) {
        date = date.addYears(100);  // "3/15/21" is 2021
    }
    return date.isValid() && date >= minimumDate() && date <= maximumDate() ? date : QDate();
}

bool DatePicker::completeMonth() {
    const QString typed = sectionText(MonthSection).trimmed();
    if (typed.isEmpty() || typed[0].isDigit()) {
        return false;
    }
    int found = 0;
    for (int m = 1; m <= 12; ++m) {
        for (const auto format : {QLocale::LongFormat, QLocale::ShortFormat}) {
            if (locale().monthName(m, format).startsWith(typed, Qt::CaseInsensitive)) {
                if (found != 0 && found != m) {
                    return false;  // "Ma": March or May
                }
                found = m;
            }
        }
    }
    if (found == 0) {
        return false;
    }
    setMonth(found);
    nextSection();
    return true;
}

void DatePicker::setMonth(int month) {
    const QDate now = date();
    const int index = currentSectionIndex();
    setDate(
        QDate(now.year(), month, std::min(now.day(), QDate(now.year(), month, 1).daysInMonth())));
    setCurrentSectionIndex(index);
}

void DatePicker::nextSection() {
    monthDigits_.clear();
    typedInPart_ = 0;
    setCurrentSectionIndex(std::min(currentSectionIndex() + 1, sectionCount() - 1));
    setSelectedSection(currentSection());
}

bool DatePicker::pasteWholeDate() {
    const QDate date = parseWholeDate(QApplication::clipboard()->text());
    if (date.isValid()) {
        setDate(date);
    }
    return date.isValid();
}

void DatePicker::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste) && pasteWholeDate()) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        // As the menu key does: the context menu, at the picker.
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, rect().center(),
                               mapToGlobal(rect().center()));
        contextMenuEvent(&menu);
        return;
    }
    const QString text = event->text();
    const bool digit = text.size() == 1 && text[0].isDigit();
    if (digit && currentSection() == MonthSection &&
        displayFormat().contains(QStringLiteral("MMM"))) {
        // A month shown by name may be typed as its number: "3" is March, "1" then "2" December.
        monthDigits_ += text;
        if (monthDigits_.toInt() > 12) {
            monthDigits_ = text;
        }
        const int month = monthDigits_.toInt();
        if (month >= 1) {
            setMonth(month);
            ++typedInPart_;
        }
        if (month > 1 || monthDigits_.size() == 2) {
            nextSection();
        }
        event->accept();
        return;
    }
    monthDigits_.clear();
    if (isSeparator(text)) {
        // Nothing typed in this part yet: the part before moved on by itself, or this is the
        // second character of a separator such as ", ". Either way it is already done.
        if (typedInPart_ == 0 || (currentSection() == MonthSection && completeMonth())) {
            event->accept();
            return;
        }
    }
    const Section before = currentSection();
    QDateEdit::keyPressEvent(event);
    if (currentSection() != before) {
        typedInPart_ = 0;
    } else if (!text.isEmpty() && text[0].isLetterOrNumber()) {
        ++typedInPart_;
    }
}

void DatePicker::focusOutEvent(QFocusEvent* event) {
    const QDate kept = date();
    const QString text = this->text();
    const bool readable = hasAcceptableInput();
    typedInPart_ = 0;
    QDateEdit::focusOutEvent(event);
    if (!readable) {
        emit refused(text, kept);
    }
}

QMenu* DatePicker::makeMenu() {
    QMenu* menu = lineEdit()->createStandardContextMenu();
    // The line edit's own Paste would take the text part by part; take a whole date instead.
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QStringLiteral("edit-paste")) {
            disconnect(action, nullptr, nullptr, nullptr);
            connect(action, &QAction::triggered, this, [this] { pasteWholeDate(); });
        }
    }
    // Ages: the calendar day that long before today, shown in the picker as it is.
    menu->addSeparator();
    static const struct {
        const char* text;
        Age age;
    } kAges[] = {{"1 month ago", {1, 'm'}}, {"3 months ago", {3, 'm'}}, {"6 months ago", {6, 'm'}},
                 {"1 year ago", {1, 'y'}},  {"2 years ago", {2, 'y'}},  {"5 years ago", {5, 'y'}}};
    for (const auto& a : kAges) {
        const Age age = a.age;
        menu->addAction(QString::fromLatin1(a.text), this, [this, age] {
            const QDate now = QDate::currentDate();
            const auto day = dayBefore(
                {now.year(), static_cast<unsigned>(now.month()), static_cast<unsigned>(now.day())},
                age);
            if (day) {
                setDate(QDate(static_cast<int>(day->year), static_cast<int>(day->month),
                              static_cast<int>(day->day)));
            }
        });
    }
    return menu;
}

void DatePicker::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

}  // namespace chronosift::widgets
