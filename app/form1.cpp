#include "app/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeData>
#include <QShortcut>
#include <QTreeView>
#include <QUrl>

#include "app/widgets/message_box.h"
#include "folders/folder_tree.h"
#include "folders/selection.h"
#include "index/prune.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace chronosift {

Form1::Form1() : Page(QStringLiteral("Form1"), 8550, 6420), folders_(this), job_(this) {
    frame_ = new QGroupBox(QStringLiteral("Select and Add Folders to Search"), this);
    frame_->setObjectName(QStringLiteral("Frame1"));
    frame_->setFont(captionFont());
    frame_->setGeometry(twipsRect(120, 120, 8295, 3495));

    tree_ = new FolderTree(frame_);
    tree_->setObjectName(QStringLiteral("FolderTreeview1"));
    // The tree keeps the control's own font rather than the frame's.
    QFont treeFont = QApplication::font(tree_);
    treeFont.setFamily(treeFont.family());
    treeFont.setPointSizeF(treeFont.pointSizeF());
    treeFont.setWeight(treeFont.weight());
    tree_->setFont(treeFont);
    tree_->setGeometry(twipsRect(240, 360, 7815, 2460));

    addButton_ = addButton(QStringLiteral("Check1"), QStringLiteral("Add Folder"), frame_,
                           twipsRect(240, 2880, 7815, 400));

    list_ = addListView(twipsRect(120, 3720, 8295, 1575));
    list_->setToolTip(QStringLiteral("Double-click item to remove it."));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setModel(&folders_);

    removeButton_ = addButton(QStringLiteral("Check3"), QStringLiteral("Remove From List"), this,
                              twipsRect(120, 5400, 4095, 400));
    clearButton_ = addButton(QStringLiteral("Check2"), QStringLiteral("Clear List"), this,
                             twipsRect(4320, 5400, 4095, 400));
    exitButton_ = addButton(QStringLiteral("Check5"), QStringLiteral("Exit"), this,
                            twipsRect(120, 5880, 4095, 400));
    nextButton_ = addButton(QStringLiteral("Check4"), QStringLiteral("Next  > >"), this,
                            twipsRect(4320, 5880, 4095, 400));

    setTabOrder(tree_, addButton_);
    setTabOrder(addButton_, list_);
    setTabOrder(list_, removeButton_);
    setTabOrder(removeButton_, clearButton_);
    setTabOrder(clearButton_, exitButton_);
    setTabOrder(exitButton_, nextButton_);

    tree_->setAccessibleName(QStringLiteral("Folder tree"));
    list_->setAccessibleName(QStringLiteral("Folders to search"));
    list_->installEventFilter(this);
    list_->setAcceptDrops(true);
    list_->viewport()->setAcceptDrops(true);
    list_->viewport()->installEventFilter(this);
    for (widgets::PushButton* b : pushButtons()) {
        b->setAccessibleName(b->text());
    }
    frame_->setAccessibleName(frame_->title());

    setMoveRole(list_, MoveRole::Reset);
    setMoveRole(tree_, MoveRole::Reset);
    setMoveRole(frame_, MoveRole::None);

    connect(tree_, &FolderTree::selectionNotification, this, &Form1::onTreeSelection);
    widgets::onPress(addButton_, this, [this] { addFolder(); });
    widgets::onPress(removeButton_, this, [this] { removeFromList(); });
    widgets::onPress(clearButton_, this, [this] { clearList(); });
    widgets::onPress(exitButton_, this, [this] { emit exitRequested(); });
    widgets::onPress(nextButton_, this, [this] { next(); });
    connect(list_, &QTreeView::doubleClicked, this, &Form1::doubleClicked);
    connect(&job_, &IndexJob::progress, this, [this](quint64 files) {
        if (indexing_) {
            setWindowTitle(indexingCaption(files));
        }
    });
    connect(&job_, &IndexJob::progress, this, &Form1::indexProgress);
    connect(&job_, &IndexJob::cancelled, this, [this] {
        // Esc: back to choosing folders, the list as it stands.
        indexing_ = false;
        setWindowTitle(kCaption);
        setMousePointer(kArrowPointer);
    });
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(cancel, &QShortcut::activated, this, [this] {
        if (indexing()) {
            job_.cancel();
        }
    });
    connect(&job_, &IndexJob::finished, this, [this](IndexSnapshot index) {
        indexing_ = false;
        emit indexReady(std::move(index));
    });

    // Start-up.
    centerForm();
    loadCustomPointer();
    setWindowTitle(kCaption);
    list_->header()->setStretchLastSection(false);
    list_->header()->resizeSection(0, twips(8000));
    nextButton_->setEnabled(false);
}

int Form1::dropFolders(const QMimeData& data) {
    if (indexing_) {
        return 0;
    }
    int added = 0;
    QStringList refused;
    for (const QUrl& url : data.urls()) {
        // The path's bytes from the address's own %XX, as a name that is not UTF-8 would be
        // lost through QString.
        const bool local =
            url.isLocalFile() && (url.host().isEmpty() || url.host() == QLatin1String("localhost"));
        const std::string path =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
        const auto row = local && platform::isFolder(path) ? rowForSelection(path) : std::nullopt;
        if (row) {
            folders_.append(*row);
            ++added;
        } else {
            refused << (local ? QString::fromStdString(platform::displayText(path))
                              : url.toDisplayString());
        }
    }
    applyRuleN();
    if (!refused.isEmpty()) {
        widgets::showMessage(this, QStringLiteral("Only folders on this computer can be added; "
                                                  "these were not:\n\n") +
                                       refused.join(QLatin1Char('\n')));
    }
    return added;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData()->hasUrls() && !indexing_) {
            drag->acceptProposedAction();
        }
        return true;
    }
    if (watched == list_->viewport() && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        dropFolders(*drop->mimeData());
        drop->acceptProposedAction();
        return true;
    }
    // Delete in the list does what "Remove From List" does.
    if (watched == list_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        removeButton_->setValue(1);
        return true;
    }
    return Page::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

QString Form1::indexingCaption(quint64 files) {
    return kIndexingCaption + QLatin1Char(' ') +
           QString::fromStdString(platform::groupedNumber(files)) +
           (files == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

QWidget* Form1::firstFocus() const {
    return tree_;
}

void Form1::onTreeSelection() {
    selectedFolder_ = tree_->selectedText();
    addButton_->setEnabled(addFolderEnabled(selectedFolder_.toStdString()));
}

int Form1::selectedRow() const {
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    // Nothing selected: the row with the focus frame, which Qt makes current without selecting
    // it when the list takes the keyboard.
    return !rows.isEmpty() ? rows.first().row() : list_->currentIndex().row();
}

void Form1::addFolder() {
    if (indexing_) {
        return;
    }
    if (selectedFolder_ == kDesktopItem.data()) {
        selectedFolder_ = FolderTree::desktopPath();
    }
    if (const auto row = rowForSelection(selectedFolder_.toStdString())) {
        folders_.append(*row);
    } else {
        widgets::showMessage(this, QStringLiteral("Please select a folder."));
    }
    applyRuleN();
}

void Form1::removeFromList() {
    if (indexing_) {
        return;
    }
    folders_.removeAt(selectedRow());
    applyRuleN();
}

void Form1::clearList() {
    if (indexing_) {
        return;
    }
    folders_.clear();
    applyRuleN();
}

void Form1::doubleClicked() {
    // Leaves "Next  > >" as it is, even when the last row goes.
    if (!indexing_) {
        folders_.removeAt(selectedRow());
    }
}

void Form1::applyRuleN() {
    nextButton_->setEnabled(folders_.rowCount() > 0);
}

void Form1::next() {
    if (indexing_) {
        return;
    }
    indexing_ = true;
    emit indexingStarted();
    setMousePointer(kBusyPointer);
    for (int row = folders_.rowCount(); row-- > 0;) {
        const std::string& folder = folders_.rows()[static_cast<size_t>(row)];
        if (!platform::isFolder(folder)) {
            widgets::showMessage(this, QString::fromStdString(platform::displayText(folder) +
                                                              " no longer exists and will be "
                                                              "skipped."));
            folders_.removeAt(row);
        }
    }
    for (const PruneMark& mark : pruneNestedRows(folders_.rows())) {
        widgets::showMessage(this, QString::fromStdString(platform::displayText(mark.message)));
        folders_.removeAt(static_cast<int>(mark.row));
    }
    setWindowTitle(indexingCaption(0));
    job_.start(folders_.rows());
}

}  // namespace chronosift
