#include "app/widgets/date_picker.h"

#include <QAccessibleWidget>
#include <QCalendarWidget>
#include <QContextMenuEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "index/calendar.h"

namespace chronosift::widgets {

namespace {

// How a date format writes a date: the order of its day, month and year ("dMy", "Mdy"), and the
// words it puts around them ("de" in "d 'de' MMMM 'de' yyyy"), which typed text may repeat.
struct Form {
    QString order;
    QStringList words;
};

Form formOf(const QString& format) {
    Form form;
    QString word;
    const auto endWord = [&] {
        if (!word.isEmpty()) {
            form.words << std::exchange(word, QString());
        }
    };
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && (c == 'd' || c == 'M' || c == 'y')) {
            endWord();
            qsizetype run = 1;
            while (i + run < format.size() && format[i + run] == c) {
                ++run;
            }
            i += run - 1;
            if (!(c == 'd' && run >= 3) && !form.order.contains(c)) {  // "ddd" is the weekday
                form.order += c;
            }
        } else if (c.isLetter()) {
            word += c;
        } else {
            endWord();
        }
    }
    endWord();
    return form;
}

struct Token {
    QString text;
    bool number;
};

// The runs of digits and of letters; whatever lies between them separates them.
QList<Token> tokensOf(const QString& text) {
    QList<Token> tokens;
    for (qsizetype i = 0; i < text.size();) {
        const bool number = text[i].isDigit();
        if (!number && !text[i].isLetter()) {
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < text.size() && (number ? text[end].isDigit() : text[end].isLetter())) {
            ++end;
        }
        tokens.append({text.mid(i, end - i), number});
        i = end;
    }
    return tokens;
}

int valueOf(const QString& digits) {
    int value = 0;
    for (const QChar c : digits) {
        value = std::min(value * 10 + c.digitValue(), 1000000);  // far beyond any year
    }
    return value;
}

QString lettersOf(const QString& name) {
    QString out;
    for (const QChar c : name) {
        if (c.isLetter()) {
            out += c;
        }
    }
    return out;
}

// The month a name, or the start of one, names in `locale`: 0 when none does; the months it
// could be in `candidates`.
int monthNamed(const QLocale& locale, const QString& word, QStringList& candidates) {
    int found = 0;
    for (int m = 1; m <= 12; ++m) {
        bool exact = false, prefix = false;
        for (const auto format : {QLocale::LongFormat, QLocale::ShortFormat}) {
            for (const QString& name :
                 {locale.monthName(m, format), locale.standaloneMonthName(m, format)}) {
                const QString letters = lettersOf(name);
                exact = exact || letters.compare(word, Qt::CaseInsensitive) == 0;
                prefix = prefix || letters.startsWith(word, Qt::CaseInsensitive);
            }
        }
        if (exact) {  // "Mar" is March, though it begins "March" too
            candidates = {locale.monthName(m)};
            return m;
        }
        if (prefix) {
            candidates << locale.monthName(m);
            found = m;
        }
    }
    return candidates.size() == 1 ? found : 0;
}

// A picker is named by its accessible name, as every control here is; Qt's own combo box on
// Linux would give its text as its name. Its value is the text, and the text has the keyboard.
class PickerAccessible : public QAccessibleWidget {
  public:
    explicit PickerAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? picker()->currentText() : QAccessibleWidget::text(t);
    }
    QAccessibleInterface* focusChild() const override {
        return QAccessible::queryAccessibleInterface(picker()->lineEdit());
    }

  private:
    DatePicker* picker() const { return static_cast<DatePicker*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String(DatePicker::staticMetaObject.className()) && object != nullptr &&
        object->isWidgetType()) {
        return new PickerAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

}  // namespace

DatePicker::DatePicker(QDate date, QWidget* parent) : QComboBox(parent) {
    static const bool named = (QAccessible::installFactory(accessibleFor), true);
    Q_UNUSED(named);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    lineEdit()->installEventFilter(this);
    setDate(date);
}

QString DatePicker::displayFormat(const QLocale& locale) {
    // A weekday name would contradict a typed day; a two-digit year would be a guess.
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("(?<!d)d{3,4}(?!d)[\\s,.;:-]*"));
    format.remove(weekday);
    static const QRegularExpression edges(QStringLiteral("^[\\s,.;:-]+|[\\s,;:-]+$"));
    format.remove(edges);
    if (!format.contains(QStringLiteral("yyyy"))) {
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    }
    return format;
}

QString DatePicker::shown(QDate date) const {
    return locale().toString(date, displayFormat(locale()));
}

void DatePicker::setDate(QDate date) {
    if (date.isValid() && date >= minimum_ && date <= maximum_) {
        date_ = date;
        setEditText(shown(date));
    }
}

void DatePicker::setDateRange(QDate minimum, QDate maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    setDate(std::clamp(date_, minimum, maximum));
}

QDate DatePicker::read(const QString& typed, QString& why) const {
    // Text pasted from elsewhere may write "ä" as "a" and a combining mark, which is no letter.
    const QString text = typed.normalized(QString::NormalizationForm_C);
    const QLocale locale = this->locale();
    int day = 0, month = 0, year = 0;
    static const QRegularExpression iso(QStringLiteral("^\\s*(\\d{4})-(\\d{2})-(\\d{2})\\s*$"));
    if (const QRegularExpressionMatch m = iso.match(text); m.hasMatch()) {
        year = valueOf(m.captured(1));
        month = valueOf(m.captured(2));
        day = valueOf(m.captured(3));
    } else {
        const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
        const Form forms[] = {formOf(displayFormat(locale)), formOf(shortFormat)};
        QList<Token> tokens = tokensOf(text);
        tokens.removeIf([&](const Token& t) {
            return !t.number && std::any_of(std::begin(forms), std::end(forms), [&](const Form& f) {
                return f.words.contains(t.text, Qt::CaseInsensitive);
            });
        });
        // The first of the locale's orders whose day and year fall on numbers reads the text:
        // a month name shows where the month is, and numbers alone go by the short form.
        // (Some locales write the long form day first and the short one month first.)
        const bool numbers =
            std::all_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.number; });
        const Form* form = nullptr;
        for (const Form* f : {&forms[numbers ? 1 : 0], &forms[numbers ? 0 : 1]}) {
            if (form == nullptr && tokens.size() == 3 && f->order.size() == 3 &&
                tokens[f->order.indexOf('d')].number && tokens[f->order.indexOf('y')].number) {
                form = f;
            }
        }
        if (form == nullptr) {
            why = tokens.size() == 3
                      ? QStringLiteral(
                            "its day, month and year are not in the order of \u201C%1\u201D")
                            .arg(shown(date_))
                      : QStringLiteral("it is not a day, a month and a year");
            return {};
        }
        const Token& monthToken = tokens[form->order.indexOf('M')];
        const Token& yearToken = tokens[form->order.indexOf('y')];
        day = valueOf(tokens[form->order.indexOf('d')].text);
        year = valueOf(yearToken.text);
        if (yearToken.text.size() == 2 && shortFormat.count(QLatin1Char('y')) == 2) {
            year += year < 30 ? 2000 : 1900;  // as the short form writes it: "3/15/21" is 2021
        }
        if (monthToken.number) {
            month = valueOf(monthToken.text);
        } else {
            QStringList candidates;
            month = monthNamed(locale, monthToken.text, candidates);
            if (candidates.size() > 1) {
                const QString last = candidates.takeLast();
                why = QStringLiteral("\u201C%1\u201D could be %2 or %3")
                          .arg(monthToken.text, candidates.join(QStringLiteral(", ")), last);
                return {};
            }
            if (month == 0) {
                why = QStringLiteral("no month is called \u201C%1\u201D").arg(monthToken.text);
                return {};
            }
        }
    }
    const QString range =
        QStringLiteral("the dates go from %1 to %2").arg(shown(minimum_), shown(maximum_));
    if (month < 1 || month > 12) {
        why = QStringLiteral("there is no month %1").arg(month);
        return {};
    }
    if (year < minimum_.year() || year > maximum_.year()) {
        why = range;
        return {};
    }
    const int days = QDate(year, month, 1).daysInMonth();
    if (day < 1 || day > days) {
        why = QStringLiteral("%1 %2 has %3 days").arg(locale.monthName(month)).arg(year).arg(days);
        return {};
    }
    const QDate date(year, month, day);
    if (date < minimum_ || date > maximum_) {
        why = range;
        return {};
    }
    return date;
}

bool DatePicker::commit() {
    const QString typed = lineEdit()->text();
    if (typed == shown(date_)) {
        return true;
    }
    QString why;
    const QDate date = read(typed, why);
    if (date.isValid()) {
        setDate(date);
        return true;
    }
    // Back to the date held before the message, so that nothing reads the refused text.
    setEditText(shown(date_));
    emit refused(QStringLiteral("\u201C%1\u201D cannot be read as a date (%2), so the date stays "
                                "%3. Type it as the date is shown, or pick it from the calendar.")
                     .arg(typed, why, shown(date_)));
    return false;
}

void DatePicker::showPopup() {
    if (popup_ == nullptr) {
        popup_ = new QFrame(this, Qt::Popup);
        popup_->setFrameShape(QFrame::StyledPanel);
        auto* layout = new QVBoxLayout(popup_);
        layout->setContentsMargins(0, 0, 0, 0);
        calendar_ = new QCalendarWidget(popup_);
        layout->addWidget(calendar_);
        for (const auto chosen : {&QCalendarWidget::clicked, &QCalendarWidget::activated}) {
            connect(calendar_, chosen, this, [this](QDate day) {
                picked_ = day;
                hidePopup();
            });
        }
        popup_->installEventFilter(this);
    }
    selectOnPress_ = false;
    picked_ = QDate();
    QString why;
    const QDate typed = read(lineEdit()->text(), why);
    calendar_->setLocale(locale());
    calendar_->setDateRange(minimum_, maximum_);
    calendar_->setSelectedDate(typed.isValid() ? typed : date_);
    // Below the picker, or above it where the screen ends.
    const QSize size = popup_->sizeHint();
    const QRect screen = this->screen()->availableGeometry();
    QPoint at = mapToGlobal(QPoint(0, height()));
    if (at.y() + size.height() > screen.bottom()) {
        at.setY(mapToGlobal(QPoint(0, 0)).y() - size.height());
    }
    at.setX(
        std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() - size.width())));
    popup_->move(at);
    popup_->show();
    calendar_->setFocus(Qt::PopupFocusReason);
}

void DatePicker::hidePopup() {
    if (popup_ != nullptr) {
        popup_->hide();
    }
}

bool DatePicker::event(QEvent* event) {
    if (event->type() == QEvent::LocaleChange) {
        setEditText(shown(date_));
    } else if (event->type() == QEvent::FocusIn) {
        // A click that brings the keyboard selects the whole text, as Tab does, so what is typed
        // next is the text.
        selectOnPress_ = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
    }
    return QComboBox::event(event);
}

bool DatePicker::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::ContextMenu) {
        // The text's own menu is this one (the page keeps its events from reaching the picker).
        contextMenuEvent(static_cast<QContextMenuEvent*>(event));
        return true;
    }
    if (watched == lineEdit() && event->type() == QEvent::MouseButtonPress &&
        std::exchange(selectOnPress_, false) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        lineEdit()->event(event);
        lineEdit()->selectAll();
        return true;
    }
    if (watched == popup_ && event->type() == QEvent::MouseButtonPress) {
        // A click on the picker closes the calendar without opening it again.
        const QPoint at =
            mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        popup_->setAttribute(Qt::WA_NoMouseReplay, rect().contains(at));
    }
    if (watched == popup_ && event->type() == QEvent::Hide) {
        const QDate picked = std::exchange(picked_, QDate());
        if (picked.isValid()) {
            setDate(picked);
        } else {
            commit();  // closed without a choice: the text is what the user typed
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void DatePicker::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        commit();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && lineEdit()->text() != shown(date_)) {
        // Gives up the typing: the date held is shown again, nothing is read or refused.
        setEditText(shown(date_));
        lineEdit()->selectAll();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        // As the menu key does: the context menu, at the text cursor.
        const QPoint at = lineEdit()->mapTo(
            this, lineEdit()->inputMethodQuery(Qt::ImCursorRectangle).toRect().center());
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, mapToGlobal(at));
        contextMenuEvent(&menu);
        return;
    }
    QComboBox::keyPressEvent(event);
}

void DatePicker::mousePressEvent(QMouseEvent* event) {
    // Only the left button opens the calendar; the right one has the context menu alone.
    selectOnPress_ = false;
    if (event->button() == Qt::LeftButton) {
        showPopup();
    }
    event->accept();
}

void DatePicker::focusOutEvent(QFocusEvent* event) {
    selectOnPress_ = false;
    QComboBox::focusOutEvent(event);
    // The calendar and the context menu take the keyboard while the text is still being edited,
    // and another window (a message box, too) takes it only for a while.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason) {
        commit();
    }
}

QMenu* DatePicker::makeMenu() {
    QMenu* menu = lineEdit()->createStandardContextMenu();
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
