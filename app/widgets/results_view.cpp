#include "app/widgets/results_view.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <algorithm>

namespace chronosift::widgets {

ResultsView::ResultsView(QWidget* parent) : QTableView(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // Tab leaves the list, as it leaves any other control of the page.
    setTabKeyNavigation(false);
    setTextElideMode(Qt::ElideMiddle);
    QHeaderView* rows = verticalHeader();
    rows->hide();
    // Every row one height, never measured from its contents.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    QHeaderView* columns = horizontalHeader();
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    fitRowHeight();
}

void ResultsView::fitRowHeight() {
    // The text, or the check box when it is taller, and a little air.
    const int box = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height(), box) + 4);
}

void ResultsView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        fitRowHeight();
    }
    QTableView::changeEvent(event);
}

QModelIndex ResultsView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    if (action == MoveHome || action == MoveEnd) {
        modifiers |= Qt::ControlModifier;
    }
    // Left and Right stay on the row: moving the focus frame to another cell of it would also
    // drop the selection of every other row, as any move of the current index does.
    if (action == MoveLeft || action == MoveRight) {
        return currentIndex();
    }
    return QTableView::moveCursor(action, modifiers);
}

}  // namespace chronosift::widgets
