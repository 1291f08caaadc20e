// What both pages share: a fixed white window laid out in twips, the page pointer, the push
// buttons and their hover feedback.
#pragma once

#include <QCursor>
#include <QFont>
#include <QHash>
#include <QWidget>

class QAbstractItemView;
class QTreeView;
#include <optional>

#include "app/widgets/push_button.h"

namespace chronosift {

// Page pointer values.
inline constexpr int kArrowPointer = 1;
inline constexpr int kBusyPointer = 11;
inline constexpr int kCustomPointer = 99;

// Twips to device-independent pixels (15 twips to a pixel).
int twips(int value);
QRect twipsRect(int left, int top, int width, int height);

// The three fonts of the pages: Arial bold at 11.25, 9.75 and 9 points.
QFont buttonFont();
QFont captionFont();
QFont listFont();

// Where a page of `page` twips stands centred on a screen of `screen` twips: the halves are
// computed in single precision and not rounded.
QPointF centeredPosition(QSizeF screenTwips, QSizeF pageTwips);

// The hot spot that a .CUR file stores for its first image; 0,0 for anything else.
QPoint cursorHotSpot(const QByteArray& file);

class Page : public QWidget {
    Q_OBJECT
  public:
    // What a control's mouse-move does.
    enum class MoveRole { Hover, Reset, None };

    Page(const QString& name, int widthTwips, int heightTwips);

    int mousePointer() const { return pointer_; }
    void setMousePointer(int value);

    // Places the page in the middle of its screen.
    void centerForm();
    // Loads HAND-M.CUR from the program's folder as the custom pointer; silent without it.
    void loadCustomPointer();
    bool hasCustomPointer() const { return custom_.has_value(); }

    // Shows the page on top, active, with the keyboard focus on `first`.
    void showWithFocus(QWidget* first);

    // Every push button of the page, frames' included.
    QList<widgets::PushButton*> pushButtons() const;

  protected:
    widgets::PushButton* addButton(const QString& name, const QString& caption, QWidget* parent,
                                   QRect geometry);
    // The page's list, "ListView1": report view, rows in the order given, no editing.
    QTreeView* addListView(QRect geometry);
    // Names a list "ListView1" and gives it the lists' font and its place.
    void placeList(QAbstractItemView* list, QRect geometry);
    // Gives a control (and the inner parts of lists, trees and pickers) its mouse-move role.
    void setMoveRole(QWidget* control, MoveRole role);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void hover(widgets::PushButton* button);
    void reset();

    int pointer_ = kArrowPointer;
    std::optional<QCursor> custom_;
    QHash<QObject*, MoveRole> roles_;
};

}  // namespace chronosift
