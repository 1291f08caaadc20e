// The date picker of the date page: a free-text date field with a drop-down calendar. What the
// user types is plain text, however they reached it (a click, a selection, Tab, a paste), and
// it is read as one whole date when they finish: Enter, the keyboard leaving, the calendar
// closing, or the page asking for the date (commit). Text that is not exactly one date is
// refused with a message and the picker goes back to the date it held; no part of a date is
// ever clamped, guessed or taken from another part.
#pragma once

#include <QComboBox>
#include <QDate>

class QCalendarWidget;
class QFrame;
class QMenu;

namespace chronosift::widgets {

class DatePicker : public QComboBox {
    Q_OBJECT
  public:
    explicit DatePicker(QDate date, QWidget* parent = nullptr);

    // The date held: the last one set or read whole from the text, never a half-typed one.
    QDate date() const { return date_; }
    // Shows `date`; a date outside the range is ignored.
    void setDate(QDate date);
    QDate minimumDate() const { return minimum_; }
    QDate maximumDate() const { return maximum_; }
    void setDateRange(QDate minimum, QDate maximum);

    // Escape while typing shows the date held again; Enter reads the text (commit).

    // Reads the text as a whole date and holds it. False when it cannot be read: then the
    // picker shows the date it held again and `refused` has been raised.
    bool commit();

    // How a picker shows dates in `locale`: its long date without the weekday and with the year
    // in full. Text is read in the order of this form or of the locale's short date.
    static QString displayFormat(const QLocale& locale);

    // The context menu: the text's own Cut, Copy, Paste and Select All, then the ages
    // "1 month ago" to "5 years ago". The caller owns it.
    QMenu* makeMenu();

    void showPopup() override;
    void hidePopup() override;

  signals:
    // Typed text could not be read; `message` quotes it exactly, says why and names the date
    // kept.
    void refused(const QString& message);

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // The whole text as a date in the picker's locale, or an invalid date with why in `why`.
    QDate read(const QString& text, QString& why) const;
    QString shown(QDate date) const;

    QDate date_;
    QDate minimum_{1601, 1, 1};
    QDate maximum_{9999, 12, 31};
    QFrame* popup_ = nullptr;  // made when first opened
    QCalendarWidget* calendar_ = nullptr;
    QDate picked_;                // the day chosen in the open calendar
    bool selectOnPress_ = false;  // the click that brought the keyboard selects the whole text
};

}  // namespace chronosift::widgets
