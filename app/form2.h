// The date page: the cutoff criterion and date, the results list and the trash button.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "app/page.h"
#include "index/file_index.h"
#include "recycle/press.h"
#include "recycle/recycling_bin.h"
#include "search/day_rule.h"
#include "search/export.h"
#include "search/results_model.h"
#include "trash/trash.h"

class QAction;
namespace chronosift::widgets {
class DatePicker;
class ResultsView;
}  // namespace chronosift::widgets
class QGroupBox;
class QRadioButton;

namespace chronosift {

class Form2 : public Page {
    Q_OBJECT
  public:
    Form2();

    // The index that "Find Results" searches from now on.
    void setIndex(IndexSnapshot index) { index_ = std::move(index); }

    // Load-time set-up, run once when the page is first shown: at `form1`'s place.
    void load(const QWidget& form1);

    ResultsModel& results() { return model_; }
    // Where the keyboard goes when the page is shown: the selected option, the first stop of
    // the tab order that takes it.
    QWidget* firstFocus() const;
    QAction* undoAction() const { return undoAction_; }
    // "Save List As…" to a path: the rows shown, in their order, in the format the name's
    // extension asks for, or else `chosen`; a message says why when it fails. True when written.
    bool saveListTo(const std::string& path, ListFormat chosen = ListFormat::Csv);
    // Asks for the file with the two formats as filters: a name typed without an extension
    // gets the chosen filter's, and the dialog asks before a file is replaced.
    void saveListAs();
    // "Check Matching…" and "Uncheck Matching…" once the dialog is closed: a pattern that
    // cannot be read, or that changes no row, is told in a message.
    void checkMatching(const CheckRule& rule, bool check);

  signals:
    void backRequested();
    void closed();
    // The page built its index again (see listPutBack); the page flow keeps this one.
    void indexRebuilt(chronosift::IndexSnapshot index);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void optionClicked(int option);
    void findResults();
    // The files of `index` the last "Find Results" asked for, those moved to the trash left out.
    std::vector<FileId> matches(const IndexSnapshot& index) const;
    // After an Undo put back `files`, which lie below the rows but which the index does not hold:
    // builds the index again and, while a list is shown, runs its search again, the put-back
    // files' rows checked and the other rows keeping their checks. Returns "", or why the index
    // and the list stay as they were.
    std::string listPutBack(const std::vector<std::string>& files);
    void sendToTrash();
    // Puts back the files of the newest press, of any window or script, that are not back yet.
    void undoTrash();
    // This window's last press, once another window or a script has undone it: the files that
    // are back in place return, rows and all.
    void settleOwnPress();
    // Files put back: their rows return, checked, each in its place in the order shown.
    void listBack(std::vector<FileId> files);
    // Offers Undo while a press of this window or one kept on disk may still go back.
    void updateUndo();
    // One message for the journals Undo cannot use, if any.
    void showUndoProblems(const std::vector<std::string>& problems);
    // Runs `work` on another thread, with a progress dialog while more than a moment's work is
    // left, and no check changed meanwhile. `work` gets a cancel flag and a count of files done.
    // False when Cancel was pressed, even once `work` had ended. Work that must finish has no
    // Cancel button (`cancellable` false).
    bool runWithProgress(
        const QString& text, size_t count,
        const std::function<void(const std::atomic<bool>&, std::atomic<size_t>&)>& work,
        bool cancellable = true);
    // Runs `work` on another thread with the rows held still (no check or row changes, no other
    // long step) and the page answering meanwhile. `work` gets a cancel flag and a count of
    // `count` things done (0: no count to show). False when another step runs (nothing is run)
    // or Cancel was pressed: the caller then changes nothing.
    bool runOffThread(
        const QString& text,
        const std::function<void(const std::atomic<bool>&, std::atomic<size_t>&)>& work,
        size_t count = 0);
    // A header click: the order worked out off this thread, then the rows put in it.
    void sortList(int column, Qt::SortOrder order);
    void toggleSelected();
    void showListMenu(const QPoint& at);
    // Opens the row's file, or shows it in its folder; a message says why when neither works.
    void openRow(const QModelIndex& row, bool containingFolder = false);
    // "Copy Path": the selected rows' paths (or the focus row's), one a line, with no newline
    // after the last.
    void copyPaths();
    void updateCaption();

    QGroupBox* frame_;
    QRadioButton* options_[3];
    widgets::DatePicker* pickers_[3];
    widgets::PushButton* findButton_;
    widgets::PushButton* backButton_;
    widgets::PushButton* trashButton_;
    widgets::ResultsView* list_;
    ResultsModel model_;
    IndexSnapshot index_;
    TrashedFiles trashed_;
    bool busy_ = false;      // a long step (search, sort, trash, undo...) is under way
    bool searched_ = false;  // "Find Results" was pressed
    uint64_t search_ = 0;    // counts the presses of "Find Results"
    // What the last "Find Results" asked for.
    Criterion criterion_ = Criterion::After;
    int64_t cutoff_ = 0;
    QAction* undoAction_;
    QAction* copyAction_;
    QAction* saveAction_;
    // This window's last press that moved a file, whose rows may come back.
    std::unique_ptr<TrashPress> lastPress_;
};

}  // namespace chronosift
