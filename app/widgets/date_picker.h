// The date picker of the date page: a date editor with a drop-down calendar that takes a date
// typed the way it is shown. Qt moves on to the next part by itself once a part is full; a
// separator typed right after that would move on a second time and put the next part in the
// wrong place, so separators typed right after such a move are taken as already done. A whole
// date pasted (2021-03-15, or the locale's own short or long form) is taken whole.
#pragma once

#include <QDateEdit>

namespace chronosift::widgets {

class DatePicker : public QDateEdit {
    Q_OBJECT
  public:
    explicit DatePicker(QDate date, QWidget* parent = nullptr);

    // Whether the text can be read as a date now (not while a part is half typed).
    bool textIsDate() const { return hasAcceptableInput(); }
    // A whole date in one of the forms a paste takes, or an invalid date.
    QDate parseWholeDate(const QString& text) const;
    // The context menu: the text's Cut, Copy, Paste (of a whole date) and Select All, then the
    // ages "1 month ago" to "5 years ago". The caller owns it.
    QMenu* makeMenu();

  signals:
    // The text left could not be read as a date, so the picker keeps `kept`.
    void refused(const QString& text, QDate kept);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    bool pasteWholeDate();
    // Takes a month name typed in part as the one month it begins; false when it is none or
    // more than one.
    bool completeMonth();
    void setMonth(int month);  // keeps the day where the month has it, else its last
    void nextSection();

    int typedInPart_ = 0;  // keys typed into the current part since it was entered
    QString monthDigits_;  // a month number being typed into a month shown by name
};

}  // namespace chronosift::widgets
