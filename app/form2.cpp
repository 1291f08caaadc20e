#include "app/form2.h"

#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <thread>
#include <unordered_set>

#include "app/widgets/date_picker.h"
#include "app/widgets/message_box.h"
#include "app/widgets/results_view.h"
#include "index/build.h"
#include "index/calendar.h"
#include "platform/text.h"
#include "search/find.h"

namespace chronosift {

Form2::Form2() : Page(QStringLiteral("Form2"), 8550, 5580), model_(this) {
    frame_ = new QGroupBox(QStringLiteral("Select Cutoff Date"), this);
    frame_->setObjectName(QStringLiteral("Frame1"));
    frame_->setFont(captionFont());
    frame_->setGeometry(twipsRect(120, 120, 8295, 1695));

    static const char* const kCaptions[] = {
        "After this date:", "Before this date:", "On this date:"};
    for (int i = 0; i < 3; ++i) {
        const int top = 240 + 480 * i;
        options_[i] = new QRadioButton(QString::fromLatin1(kCaptions[i]), frame_);
        options_[i]->setObjectName(QStringLiteral("Option%1").arg(i + 1));
        options_[i]->setFont(captionFont());
        options_[i]->setGeometry(twipsRect(240, top, 1935, 375));
        pickers_[i] = new widgets::DatePicker(QDate(2006, 6, 30), frame_);
        pickers_[i]->setObjectName(QStringLiteral("DTPicker%1").arg(i + 1));
        pickers_[i]->setFont(captionFont());
        pickers_[i]->setGeometry(twipsRect(2280, top, 5775, 375));
        pickers_[i]->setDateRange(QDate(1601, 1, 1), QDate(9999, 12, 31));
        setMoveRole(options_[i], MoveRole::Reset);
        setMoveRole(pickers_[i], MoveRole::Reset);
        connect(pickers_[i], &widgets::DatePicker::refused, this,
                [this](const QString& message) { widgets::showMessage(this, message); });
        connect(options_[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                optionClicked(i);
            }
        });
    }

    backButton_ = addButton(QStringLiteral("Check2"), QStringLiteral("< < Back"), this,
                            twipsRect(120, 1920, 4095, 400));
    findButton_ = addButton(QStringLiteral("Check1"), QStringLiteral("Find Results"), this,
                            twipsRect(4320, 1920, 4095, 400));
    // A click on Find Results leaves the keyboard in the picker, so the search itself reads the
    // typed text and a refused date stops it (the keyboard leaving would read it first, refuse
    // it and let the search run with the date kept).
    findButton_->setFocusPolicy(Qt::TabFocus);

    list_ = new widgets::ResultsView(this);
    placeList(list_, twipsRect(120, 2400, 8295, 2535));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setModel(&model_);
    list_->installEventFilter(this);
    connect(list_, &QWidget::customContextMenuRequested, this, &Form2::showListMenu);
    // Shift+F10 opens the menu as the menu key does, at the row with the focus frame.
    auto* menuKey = new QAction(list_);
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WidgetShortcut);
    list_->addAction(menuKey);
    connect(menuKey, &QAction::triggered, this,
            [this] { showListMenu(list_->visualRect(list_->currentIndex()).center()); });

    trashButton_ =
        addButton(QStringLiteral("Check3"), QStringLiteral("Send Checked Items to Recycling Bin"),
                  this, twipsRect(120, 5040, 8295, 400));

    QWidget* order[] = {options_[0], options_[1], options_[2], pickers_[0], pickers_[1],
                        pickers_[2], backButton_, findButton_, list_,       trashButton_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    static const char* const kPickerNames[] = {"After this date", "Before this date",
                                               "On this date"};
    for (int i = 0; i < 3; ++i) {
        options_[i]->setAccessibleName(options_[i]->text());
        pickers_[i]->setAccessibleName(QString::fromLatin1(kPickerNames[i]));
    }
    for (widgets::PushButton* b : pushButtons()) {
        b->setAccessibleName(b->text());
    }
    list_->setAccessibleName(QStringLiteral("Results"));
    frame_->setAccessibleName(frame_->title());

    setMoveRole(frame_, MoveRole::Reset);
    setMoveRole(list_, MoveRole::None);

    widgets::onPress(backButton_, this, [this] {
        if (!busy_) {
            emit backRequested();
        }
    });
    widgets::onPress(findButton_, this, [this] { findResults(); });
    widgets::onPress(trashButton_, this, [this] { sendToTrash(); });

    undoAction_ = new QAction(QStringLiteral("Undo Move to Trash"), this);
    undoAction_->setShortcut(QKeySequence::Undo);
    undoAction_->setShortcutContext(Qt::WindowShortcut);
    undoAction_->setEnabled(false);
    addAction(undoAction_);
    connect(undoAction_, &QAction::triggered, this, &Form2::undoTrash);
    // A press of an earlier run, or of another window, can still be undone.
    updateUndo();
    copyAction_ = new QAction(QStringLiteral("Copy Path"), this);
    copyAction_->setShortcut(QKeySequence::Copy);
    copyAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list_->addAction(copyAction_);
    connect(copyAction_, &QAction::triggered, this, &Form2::copyPaths);
    saveAction_ = new QAction(QStringLiteral("Save List As..."), this);
    saveAction_->setShortcut(QKeySequence::Save);
    saveAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(saveAction_);
    connect(saveAction_, &QAction::triggered, this, &Form2::saveListAs);
    connect(&model_, &ResultsModel::totalsChanged, this, &Form2::updateCaption);
    connect(list_->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) { sortList(column, order); });
}

QWidget* Form2::firstFocus() const {
    for (QRadioButton* option : options_) {
        if (option->isChecked()) {
            return option;
        }
    }
    return options_[0];
}

void Form2::updateCaption() {
    if (!searched_) {
        setWindowTitle(QStringLiteral("Chronosift"));
        return;
    }
    const ResultsModel::Totals& t = model_.totals();
    setWindowTitle(
        QString::fromStdString(resultsCaption(t.rows, t.bytes, t.checked, t.checkedBytes)));
}

void Form2::load(const QWidget& form1) {
    move(pos().x(), form1.pos().y());
    move(form1.pos().x(), pos().y());
    options_[0]->setChecked(true);
    loadCustomPointer();
    QHeaderView* header = list_->horizontalHeader();
    // The path takes what the time and the size leave, so all three are in view (the view
    // shortens a long path in its middle, keeping the file name; its tooltip gives it whole).
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(twips(600));
    header->resizeSection(1, twips(2300));
    header->resizeSection(2, twips(1300));
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    // A click sorts by the column, a second one reverses; the header shows which.
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    setWindowTitle(QStringLiteral("Chronosift"));
    // A journal that cannot be used is said once, not left to disable Undo without a word.
    std::vector<std::string> problems;
    std::unique_ptr<TrashPress> none;
    TrashPress::latest(problems, none);
    QTimer::singleShot(0, this, [this, problems] { showUndoProblems(problems); });  // once shown
}

void Form2::updateUndo() {
    undoAction_->setEnabled(lastPress_ != nullptr || anyPressJournal());
}

void Form2::showUndoProblems(const std::vector<std::string>& problems) {
    if (problems.empty()) {
        return;
    }
    std::string text = "Undo Move to Trash cannot use what it kept of an earlier move:\n";
    for (const std::string& p : problems) {
        text.append("\n").append(platform::displayText(p));
    }
    widgets::showMessage(this, QString::fromStdString(text));
}

void Form2::settleOwnPress() {
    if (lastPress_ != nullptr && !lastPress_->undoable()) {
        lastPress_->findBack();
        listBack(lastPress_->settleUndo(trashed_, index_, search_, model_.snapshot()));
        lastPress_.reset();
    }
}

void Form2::listBack(std::vector<FileId> files) {
    if (files.empty()) {
        return;
    }
    // Their places in the order shown, found off this thread: among millions of rows that is a
    // sort. The files are back whatever happens, so their rows come back too: no Cancel.
    ResultsModel::Insertion insertion;
    runWithProgress(
        QStringLiteral("Listing the files put back..."), 0,
        [&](const auto&, auto&) { insertion = model_.planInsertion(std::move(files)); }, false);
    model_.insertFiles(insertion);
}

void Form2::changeEvent(QEvent* event) {
    // Another window or a script may have moved files or put them back meanwhile: looked at
    // once the activation is through, as one more step that holds the page.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        updateUndo();
        QTimer::singleShot(0, this, [this] {
            if (busy_ || !isActiveWindow()) {
                return;
            }
            busy_ = true;
            settleOwnPress();
            busy_ = false;
            updateUndo();
        });
    }
    Page::changeEvent(event);
}

void Form2::findResults() {
    if (busy_) {
        return;
    }
    Criterion criterion = criterion_;
    int64_t cutoff = cutoff_;
    for (int i = 0; i < 3; ++i) {
        if (options_[i]->isChecked()) {
            if (!pickers_[i]->commit()) {
                return;  // the picker said why and shows the date it kept; no search with another
            }
            static constexpr Criterion kCriteria[] = {Criterion::After, Criterion::Before,
                                                      Criterion::On};
            const QDate d = pickers_[i]->date();
            criterion = kCriteria[i];
            cutoff = dayNumber(
                {d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day())});
        }
    }
    // Ten million files take a moment: searched off this thread, the page still drawn.
    std::vector<FileId> ids;
    uint64_t bytes = 0;
    bool cancelled = false;
    const IndexSnapshot index = index_;  // the worker's, whatever happens to index_ meanwhile
    if (index != nullptr) {
        const std::vector<bool>* skip = trashed_.skipFor(index);
        cancelled = !runOffThread(QStringLiteral("Searching..."), [&](const auto& cancel, auto&) {
            ids = findMatches(*index, criterion, cutoff, {.cancel = &cancel, .skip = skip});
            bytes = ResultsModel::bytesOf(index.get(), ids);
            ids.shrink_to_fit();  // here, not where the model takes the rows
        });
    }
    if (cancelled) {
        return;  // the list, and the search it shows, stay as they were
    }
    criterion_ = criterion;
    cutoff_ = cutoff;
    setMousePointer(kBusyPointer);
    ++search_;
    searched_ = true;
    // A new search lists in index order again.
    const QSignalBlocker quiet(list_->horizontalHeader());
    list_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    model_.setRows(index, std::move(ids), bytes);
    setMousePointer(kArrowPointer);
}

std::vector<FileId> Form2::matches(const IndexSnapshot& index) const {
    if (index == nullptr) {
        return {};
    }
    return findMatches(*index, criterion_, cutoff_, {.skip = trashed_.skipFor(index)});
}

void Form2::sendToTrash() {
    const std::vector<int> rows = model_.checkedRows();
    if (busy_ || rows.empty()) {
        return;
    }
    const QString question =
        QString::fromStdString(confirmationText(rows.size(), model_.totals().checkedBytes));
    if (!widgets::askYesNo(this, question)) {
        return;
    }
    busy_ = true;
    setMousePointer(kBusyPointer);
    std::vector<FileId> files;
    files.reserve(rows.size());
    for (int row : rows) {
        files.push_back(model_.fileAt(row));
    }
    auto press = std::make_unique<TrashPress>(model_.snapshot(), search_, rows, std::move(files));
    ResultsModel::Removal removal;
    runWithProgress(QStringLiteral("Moving the checked files to the trash..."), press->size(),
                    [&](const std::atomic<bool>& cancel, std::atomic<size_t>& done) {
                        press->run({.cancel = &cancel, .progress = [&](size_t n) { done = n; }});
                        // What the leaving rows hold, read here rather than on the page's
                        // thread: millions of them take a while.
                        removal = model_.planRemoval(press->leavingRows());
                    });
    press->settle(trashed_, index_);
    const std::vector<int>& removed = removal.rows;
    // The first row still listed at or below the top of the view stays at the top.
    int top = list_->indexAt(QPoint(0, 0)).row();
    auto at = std::lower_bound(removed.begin(), removed.end(), top);
    for (; top >= 0 && at != removed.end() && *at == top; ++at) {
        ++top;
    }
    top -= static_cast<int>(at - removed.begin());
    model_.removeRows(removal);
    if (top >= 0 && top < model_.rowCount()) {
        list_->scrollTo(model_.index(top, 0), QAbstractItemView::PositionAtTop);
    }
    setMousePointer(kArrowPointer);
    busy_ = false;
    std::string failures = press->failures();
    if (const std::string kept = press->keep(); !kept.empty()) {
        failures +=
            (failures.empty() ? "" : "\n\n") +
            std::string("Undo Move to Trash will not be possible once Chronosift closes: ") + kept;
    }
    // A press that moved nothing leaves the last one, and its Undo, as they were.
    if (press->anyMoved()) {
        lastPress_ = std::move(press);
    }
    updateUndo();
    if (!failures.empty()) {
        widgets::showMessage(this, QString::fromStdString(failures));
    }
}

void Form2::undoTrash() {
    if (busy_) {
        return;
    }
    busy_ = true;
    setMousePointer(kBusyPointer);
    settleOwnPress();
    std::vector<std::string> problems;
    std::unique_ptr<TrashPress> press = TrashPress::latest(problems, lastPress_);
    std::string message;
    if (press != nullptr) {
        runWithProgress(
            QStringLiteral("Putting the files back..."), press->size(),
            [&](const std::atomic<bool>& cancel, std::atomic<size_t>& done) {
                press->undo({.cancel = &cancel, .progress = [&](size_t n) { done = n; }});
            });
        // The rows come back, checked, while the list still shows the search they were
        // trashed from.
        std::vector<std::string> unlisted;
        listBack(press->settleUndo(trashed_, index_, search_, model_.snapshot(), &unlisted));
        message = press->undoFailures();
        if (!unlisted.empty()) {
            const std::string why = listPutBack(unlisted);
            message += (message.empty() || why.empty() ? "" : "\n\n") + why;
        }
        if (const std::string kept = press->keep(); !kept.empty()) {
            message += (message.empty() ? "" : "\n\n") + std::string("The undo journal: ") + kept;
        }
        if (lastPress_ == nullptr && press->anyLeft()) {
            lastPress_ = std::move(press);  // this window's own, kept in a new journal
        }
    }
    if (lastPress_ != nullptr && !lastPress_->undoable()) {
        lastPress_.reset();
    }
    setMousePointer(kArrowPointer);
    busy_ = false;
    updateUndo();
    if (!message.empty()) {
        widgets::showMessage(this, QString::fromStdString(message));
    }
    showUndoProblems(problems);
}

std::string Form2::listPutBack(const std::vector<std::string>& files) {
    // A new build of the same rows, not an index patched with the files: patching would
    // renumber the files after them, and every list and mark keyed on those numbers, while a
    // build is what "Next" makes and is searched as any other. It runs as the Undo did, on
    // another thread while the page waits (busy, so Find Results, Back, the trash and Undo do
    // nothing; the progress dialog is modal), and the list's checks and order are read only once
    // it is done, so nothing changes under it.
    std::vector<std::string> rows;
    for (const FileIndex::Row& row : index_->rows()) {
        rows.push_back(row.text);
    }
    IndexSnapshot fresh;
    setWindowTitle(QStringLiteral("Chronosift [ Indexing again to list the files put back ]"));
    runWithProgress(QStringLiteral("Indexing again to list the files put back..."),
                    index_->fileCount(),
                    [&](const std::atomic<bool>& cancel, std::atomic<size_t>& done) {
                        BuildOptions options;
                        options.cancel = &cancel;
                        options.progress = [&](uint64_t n) { done = n; };
                        fresh = buildIndex(rows, options);
                    });
    updateCaption();
    if (fresh == nullptr) {
        return "The files are back in place, but indexing again to list them was cancelled, so "
               "the list stays as it was. Back, then Next, lists them.";
    }
    index_ = fresh;
    emit indexRebuilt(index_);
    if (!searched_) {
        return {};
    }
    std::unordered_set<std::string> checked(files.begin(), files.end());
    for (const int row : model_.checkedRows()) {
        checked.insert(model_.snapshot()->path(model_.fileAt(row)));
    }
    ++search_;
    model_.setRows(index_, matches(index_));
    for (int row = 0; row < model_.rowCount(); ++row) {
        if (checked.contains(index_->path(model_.fileAt(row)))) {
            model_.setChecked(row, true);
        }
    }
    model_.sort(list_->horizontalHeader()->sortIndicatorSection(),
                list_->horizontalHeader()->sortIndicatorOrder());
    return {};
}

bool Form2::runWithProgress(
    const QString& text, size_t count,
    const std::function<void(const std::atomic<bool>&, std::atomic<size_t>&)>& work,
    bool cancellable) {
    // The worker may read the rows and their checks: no key or click changes them meanwhile
    // (the progress dialog, modal, shows only after a while).
    model_.setLocked(true);
    std::atomic<bool> cancel{false};
    std::atomic<size_t> done{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work(cancel, done);
        finished = true;
    });
    const auto progress = widgets::makeProgressDialog(this, text, static_cast<int>(count));
    QProgressDialog& dialog = *progress;
    if (!cancellable) {
        dialog.setCancelButton(nullptr);
    }
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    connect(&dialog, &QProgressDialog::canceled, this, [&] { cancel = true; });
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (finished) {
            loop.quit();
            return;
        }
        dialog.setValue(static_cast<int>(done.load()));
    });
    poll.start(30);
    if (!finished) {
        loop.exec();
    }
    worker.join();
    model_.setLocked(false);
    return !cancel;
}

void Form2::optionClicked(int option) {
    for (int i = 0; i < 3; ++i) {
        pickers_[i]->setEnabled(i == option);
    }
}

void Form2::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

}  // namespace chronosift
