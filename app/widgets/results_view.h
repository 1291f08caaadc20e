// The results list's view: a flat table of whole rows. It keeps only its (hidden) row header's
// few bytes a row, so that a reset, a reordering or a change to millions of rows costs the view
// little beyond the rows in sight. (A tree view keeps an item of tens of bytes for every row and
// walks them all on each of those.)
#pragma once

#include <QTableView>

namespace chronosift::widgets {

class ResultsView : public QTableView {
    Q_OBJECT
  public:
    explicit ResultsView(QWidget* parent = nullptr);

  protected:
    // Keys move as in a list: Home and End go to the first and last row, not column; Left and
    // Right do not move.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    // The row height follows the font.
    void changeEvent(QEvent* event) override;

  private:
    void fitRowHeight();
};

}  // namespace chronosift::widgets
