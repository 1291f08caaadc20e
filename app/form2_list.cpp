// The date page's results list: its keys, its context menu, and what they do with the rows
// (open, show in the folder, copy the paths, save the list, check by rule).
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>

#include "app/check_rule_dialog.h"
#include "app/form2.h"
#include "app/widgets/message_box.h"
#include "app/widgets/results_view.h"
#include "platform/desktop.h"
#include "platform/text.h"
#include "search/export.h"

namespace chronosift {

void Form2::toggleSelected() {
    QItemSelection selection = list_->selectionModel()->selection();
    const QModelIndex current = list_->currentIndex();
    if (selection.isEmpty()) {
        // Nothing selected: the row with the focus frame, which Qt makes current without
        // selecting it when the list takes the keyboard.
        if (!current.isValid()) {
            return;
        }
        selection.select(model_.index(current.row(), 0),
                         model_.index(current.row(), model_.columnCount() - 1));
    }
    const int lead = current.isValid() && list_->selectionModel()->isRowSelected(current.row())
                         ? current.row()
                         : selection.first().top();
    model_.setCheckedRows(selection, !model_.isChecked(lead));
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space) {
            toggleSelected();
            return true;
        }
        // Delete does what "Send Checked Items to Recycling Bin" does, question included.
        if (key == Qt::Key_Delete) {
            trashButton_->setValue(1);
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openRow(list_->currentIndex());
            return true;
        }
        // The view would copy the shown text of one cell; Copy Path copies the real bytes.
        if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
            copyPaths();
            return true;
        }
    }
    return Page::eventFilter(watched, event);
}

void Form2::showListMenu(const QPoint& at) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Check All"), this, [this] { model_.setAllChecked(true); });
    menu.addAction(QStringLiteral("Uncheck All"), this, [this] { model_.setAllChecked(false); });
    const QItemSelection selection = list_->selectionModel()->selection();
    menu.addAction(QStringLiteral("Check Selected"), this,
                   [this, selection] { model_.setCheckedRows(selection, true); })
        ->setEnabled(!selection.isEmpty());
    menu.addAction(QStringLiteral("Uncheck Selected"), this,
                   [this, selection] { model_.setCheckedRows(selection, false); })
        ->setEnabled(!selection.isEmpty());
    // While a long step holds the rows, nothing here may change a check or start another step.
    const bool idle = !busy_;
    for (QAction* entry : menu.actions()) {
        entry->setEnabled(idle && entry->isEnabled());
    }
    for (const bool check : {true, false}) {
        menu.addAction(
                check ? QStringLiteral("Check Matching...") : QStringLiteral("Uncheck Matching..."),
                this,
                [this, check] {
                    CheckRuleDialog dialog(check, this);
                    if (dialog.exec() == QDialog::Accepted) {
                        checkMatching(dialog.rule(), check);
                    }
                })
            ->setEnabled(idle && model_.rowCount() > 0);
    }
    menu.addSeparator();
    const QModelIndex row =
        list_->indexAt(at).isValid() ? list_->indexAt(at) : list_->currentIndex();
    menu.addAction(QStringLiteral("Open"), this, [this, row] { openRow(row); })
        ->setEnabled(row.isValid());
    menu.addAction(QStringLiteral("Open Containing Folder"), this,
                   [this, row] { openRow(row, true); })
        ->setEnabled(row.isValid());
    menu.addAction(copyAction_);
    menu.addAction(saveAction_);
    menu.addSeparator();
    menu.addAction(undoAction_);
    menu.exec(list_->viewport()->mapToGlobal(at));
}

void Form2::checkMatching(const CheckRule& rule, bool check) {
    const std::string quoted = "\u201c" + platform::displayText(rule.pattern) + "\u201d";
    if (const std::string problem = rule.patternProblem(); !problem.empty()) {
        widgets::showMessage(
            this, QString::fromStdString(quoted + " cannot be read as a name pattern: " + problem +
                                         ". No row was changed."));
        return;
    }
    ResultsModel::CheckPlan plan;
    if (!runOffThread(
            QStringLiteral("Checking the matching rows..."),
            [&](const auto& cancel, auto&) { plan = model_.planMatching(rule, check, &cancel); })) {
        return;
    }
    const size_t changed = model_.applyMatching(plan);
    if (changed == 0) {
        const bool sized = rule.atLeast || rule.atMost;
        widgets::showMessage(
            this,
            QString::fromStdString(std::string(check ? "No unchecked row" : "No checked row") +
                                   " matches " + quoted + (sized ? " with the size given" : "") +
                                   ", so none was " + (check ? "checked." : "unchecked.")));
    }
}

bool Form2::runOffThread(
    const QString& text,
    const std::function<void(const std::atomic<bool>&, std::atomic<size_t>&)>& work, size_t count) {
    if (busy_) {
        return false;  // one long step at a time: the first one's worker still reads the rows
    }
    busy_ = true;
    setMousePointer(kBusyPointer);
    const bool whole = runWithProgress(text, count, work);
    setMousePointer(kArrowPointer);
    busy_ = false;
    return whole;
}

void Form2::sortList(int column, Qt::SortOrder order) {
    std::vector<uint32_t> from;
    // Another long step holding the rows (a sort included) refuses this one.
    if (model_.sortChanges(column, order) &&
        runOffThread(QStringLiteral("Sorting..."), [&](const auto& cancel, auto&) {
            from = model_.orderBy(column, order, &cancel);
        })) {
        setMousePointer(kBusyPointer);
        model_.applyOrder(column, order, from);
        setMousePointer(kArrowPointer);
    }
    // The header shows the order the rows have, whatever a click meanwhile made it show.
    const QSignalBlocker quiet(list_->horizontalHeader());
    list_->horizontalHeader()->setSortIndicator(model_.sortColumn(), model_.sortOrder());
}

void Form2::openRow(const QModelIndex& row, bool containingFolder) {
    if (!row.isValid() || row.row() >= model_.rowCount()) {
        return;
    }
    const std::string path = model_.snapshot()->path(model_.fileAt(row.row()));
    auto done = [this, path, containingFolder](const std::string& failure) {
        if (!failure.empty()) {
            widgets::showMessage(
                this, QString::fromStdString((containingFolder ? "Cannot show " : "Cannot open ") +
                                             platform::displayText(path) + ": " + failure + "."));
        }
    };
    if (containingFolder) {
        platform::showInFileManager(path, done);
    } else {
        platform::openWithDefaultApplication(path, done);
    }
}

void Form2::saveListAs() {
    if (busy_) {
        return;  // a long step holds the rows; its dialog is up or about to be
    }
    const QStringList filters{QStringLiteral("Comma-separated values (*.csv)"),
                              QStringLiteral("Tab-separated text (*.tsv *.txt)")};
    QFileDialog dialog(this, QStringLiteral("Save List As"),
                       QDir::homePath() + QStringLiteral("/chronosift-list.csv"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    // The suffix is added by the dialog, before it asks whether to replace that file.
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &filters](const QString& f) {
        dialog.setDefaultSuffix(f == filters[1] ? QStringLiteral("tsv") : QStringLiteral("csv"));
    });
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        saveListTo(QFile::encodeName(dialog.selectedFiles().first()).toStdString(),
                   dialog.selectedNameFilter() == filters[1] ? ListFormat::Tsv : ListFormat::Csv);
    }
}

bool Form2::saveListTo(const std::string& path, ListFormat chosen) {
    if (model_.snapshot() == nullptr) {
        return false;
    }
    // Ten million rows take seconds to write: written off this thread, with a progress bar.
    std::string failure;
    const bool whole = runOffThread(
        QStringLiteral("Saving the list..."),
        [&](const std::atomic<bool>& cancel, std::atomic<size_t>& done) {
            std::vector<FileId> ids(static_cast<size_t>(model_.rowCount()));
            for (size_t row = 0; row < ids.size(); ++row) {
                ids[row] = model_.fileAt(static_cast<int>(row));
            }
            failure =
                saveList(path, *model_.snapshot(), ids,
                         [this](size_t row) { return model_.isChecked(static_cast<int>(row)); },
                         listFormatForName(path, chosen), {.cancel = &cancel, .done = &done});
        },
        static_cast<size_t>(model_.rowCount()));
    if (!whole) {
        return false;  // cancelled (the file stays as it was), or another step holds the rows
    }
    if (!failure.empty()) {
        widgets::showMessage(this, QString::fromStdString(failure) + QStringLiteral("."));
    }
    return failure.empty();
}

void Form2::copyPaths() {
    QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty() && list_->currentIndex().isValid()) {
        rows.append(list_->currentIndex());
    }
    std::sort(rows.begin(), rows.end());
    QByteArray bytes;
    QList<QUrl> urls;
    for (const QModelIndex& row : rows) {
        const std::string path = model_.snapshot()->path(model_.fileAt(row.row()));
        if (!urls.isEmpty()) {
            bytes.append('\n');
        }
        bytes.append(path.data(), static_cast<qsizetype>(path.size()));
        urls.append(QUrl(QString::fromLatin1(platform::fileUri(path))));
    }
    if (urls.isEmpty()) {
        return;
    }
    // The paths' own bytes, one a line, so that a name that is not UTF-8 is pasted as it is;
    // no newline after the last, which a terminal would take as Enter.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), bytes);
    data->setUrls(urls);
    QGuiApplication::clipboard()->setMimeData(data);
}

}  // namespace chronosift
