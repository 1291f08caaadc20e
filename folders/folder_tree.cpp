#include "folders/folder_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileSystemWatcher>
#include <QMenu>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <algorithm>
#include <thread>

#include "platform/fs.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace chronosift {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kPopulatedRole = Qt::UserRole + 1;

QString display(const QByteArray& bytes) {
    return QString::fromStdString(
        platform::displayText(std::string_view(bytes.constData(), bytes.size())));
}

QByteArray childPath(const QByteArray& parent, const std::string& name) {
    QByteArray path = parent;
    if (!path.endsWith('/')) {
        path += '/';
    }
    path += QByteArray::fromStdString(name);
    return path;
}

QByteArray pathOf(const QTreeWidgetItem* item) {
    return item->data(0, kPathRole).toByteArray();
}

QByteArray nameOf(const QTreeWidgetItem* item) {
    const QByteArray path = pathOf(item);
    return path.mid(path.lastIndexOf('/') + 1);
}

}  // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setHeaderLabel(QStringLiteral("Folders"));  // read out even while hidden
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);

    auto* desktop = new QTreeWidgetItem(this, QStringList(QStringLiteral("Desktop")));
    const QByteArray home = QFile::encodeName(QDir::homePath());
    desktop->addChild(makeFolderItem(home, display(home)));
    computer_ = new QTreeWidgetItem(desktop, QStringList(QStringLiteral("My Computer")));
    new QTreeWidgetItem(desktop, QStringList(QStringLiteral("Recycle Bin")));
    refreshVolumes();
    desktop->setExpanded(true);
    computer_->setExpanded(true);
    checkExpanders(desktop);

    // The kernel marks the mount table readable with an exception when a mount comes or goes.
    mountsFd_ = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (mountsFd_ >= 0) {
        mountWatch_ = new QSocketNotifier(mountsFd_, QSocketNotifier::Exception, this);
        connect(mountWatch_, &QSocketNotifier::activated, this, [this] {
            char buffer[4096];
            ::lseek(mountsFd_, 0, SEEK_SET);
            while (::read(mountsFd_, buffer, sizeof buffer) > 0) {
            }
            refreshVolumes();
        });
    }

    showHiddenAction_ = new QAction(QStringLiteral("Show Hidden Folders"), this);
    showHiddenAction_->setCheckable(true);
    showHiddenAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    showHiddenAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(showHiddenAction_);
    connect(showHiddenAction_, &QAction::toggled, this, &FolderTree::setShowHidden);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(showHiddenAction_);
        menu.exec(viewport()->mapToGlobal(at));
    });
    // Shift+F10 opens the menu as the menu key does, at the current folder.
    auto* menuKey = new QAction(this);
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WidgetShortcut);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this,
            [this] { emit customContextMenuRequested(visualRect(currentIndex()).center()); });

    connect(this, &QTreeWidget::itemExpanded, this, &FolderTree::populate);
    watcher_ = new QFileSystemWatcher(this);
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (!pathOf(item).isEmpty()) {
            watcher_->removePath(QFile::decodeName(pathOf(item)));
        }
    });
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this](const QString& changed) {
        const QByteArray path = QFile::encodeName(changed);
        QTreeWidgetItem* item = deepestItemFor(path);
        if (item != nullptr && pathOf(item) == path && item->isExpanded()) {
            relist(item);
        }
    });
    // The selection, not the current item: Qt makes an item current without selecting it (when
    // the tree first takes the focus), and a Ctrl+click can clear the selection but not that.
    connect(this, &QTreeWidget::itemSelectionChanged, this, &FolderTree::selectionNotification);
}

FolderTree::~FolderTree() {
    alive_.reset();
    if (mountsFd_ >= 0) {
        ::close(mountsFd_);
    }
}

QTreeWidgetItem* FolderTree::makeFolderItem(const QByteArray& path, const QString& label) {
    auto* item = new QTreeWidgetItem(QStringList(label));
    item->setData(0, kPathRole, path);
    item->setData(0, kPopulatedRole, false);
    // An expander until the check says there is nothing below: a key pressed before the answer
    // comes still opens the folder.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    item->setToolTip(0, display(path));
    return item;
}

void FolderTree::refreshVolumes() {
    std::vector<QByteArray> wanted{"/"};
    for (const std::string& volume : platform::mountedVolumes()) {
        wanted.push_back(QByteArray::fromStdString(volume));
    }
    for (int i = computer_->childCount(); i-- > 0;) {
        if (std::find(wanted.begin(), wanted.end(), pathOf(computer_->child(i))) == wanted.end()) {
            removeItem(computer_->child(i));
        }
    }
    for (size_t k = 0; k < wanted.size(); ++k) {
        const int at = static_cast<int>(k);
        if (at < computer_->childCount() && pathOf(computer_->child(at)) == wanted[k]) {
            continue;
        }
        QTreeWidgetItem* item = nullptr;
        for (int i = at + 1; i < computer_->childCount() && item == nullptr; ++i) {
            if (pathOf(computer_->child(i)) == wanted[k]) {
                item = computer_->takeChild(i);
            }
        }
        computer_->insertChild(
            at, item != nullptr ? item : makeFolderItem(wanted[k], display(wanted[k])));
    }
    checkExpanders(computer_);
}

void FolderTree::populate(QTreeWidgetItem* item) {
    const QByteArray path = pathOf(item);
    if (path.isEmpty()) {
        return;
    }
    // Listed anew at every expansion, and followed on disk while it stays open.
    item->setData(0, kPopulatedRole, true);
    relist(item);
    watcher_->addPath(QFile::decodeName(path));
}

void FolderTree::removeItem(QTreeWidgetItem* item) {
    // Qt would move the selection to a neighbour that the user never picked.
    for (const QTreeWidgetItem* at = currentItem(); at != nullptr; at = at->parent()) {
        if (at == item) {
            setCurrentItem(nullptr);
            break;
        }
    }
    delete item;
}

void FolderTree::relist(QTreeWidgetItem* item) {
    std::vector<std::string> names =
        platform::listSubfolders(pathOf(item).toStdString(), showHidden_);
    std::sort(names.begin(), names.end());
    // Both lists are sorted by name: walk them side by side.
    int i = 0;
    for (const std::string& name : names) {
        const QByteArray wanted = QByteArray::fromStdString(name);
        while (i < item->childCount() && nameOf(item->child(i)) < wanted) {
            removeItem(item->child(i));
        }
        if (i < item->childCount() && nameOf(item->child(i)) == wanted) {
            ++i;
            continue;
        }
        item->insertChild(i++, makeFolderItem(childPath(pathOf(item), name),
                                              QString::fromStdString(platform::displayText(name))));
    }
    while (i < item->childCount()) {
        removeItem(item->child(i));
    }
    // Listed: its own children decide whether it has an expander.
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    checkExpanders(item);
}

void FolderTree::checkExpanders(QTreeWidgetItem* item) {
    std::vector<std::string> paths;
    for (int i = 0; i < item->childCount(); ++i) {
        const QByteArray path = pathOf(item->child(i));
        if (!path.isEmpty()) {
            paths.push_back(path.toStdString());
        }
    }
    if (paths.empty()) {
        emit expandersKnown(item);
        return;
    }
    // The parent is found again by its path when the answer comes: items may go meanwhile.
    const QByteArray parentPath = pathOf(item);
    const QString parentName = item->text(0);
    std::weak_ptr<int> alive = alive_;
    const bool hidden = showHidden_;
    const int generation = hiddenGeneration_;
    std::thread([this, alive, paths = std::move(paths), parentPath, parentName, hidden,
                 generation] {
        std::vector<QByteArray> withSubfolders;
        for (const std::string& path : paths) {
            if (!platform::listSubfolders(path, hidden, 1).empty()) {
                withSubfolders.push_back(QByteArray::fromStdString(path));
            }
        }
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr || alive.expired()) {
            return;
        }
        QMetaObject::invokeMethod(
            app,
            [this, alive, withSubfolders = std::move(withSubfolders), parentPath, parentName,
             generation] {
                if (alive.expired() || generation != hiddenGeneration_) {
                    return;
                }
                QTreeWidgetItem* parent =
                    parentPath.isEmpty()
                        ? findItems(parentName,
                                    Qt::MatchExactly | Qt::MatchRecursive | Qt::MatchCaseSensitive)
                              .value(0)
                        : deepestItemFor(parentPath);
                if (parent == nullptr || pathOf(parent) != parentPath) {
                    return;
                }
                for (int i = 0; i < parent->childCount(); ++i) {
                    QTreeWidgetItem* child = parent->child(i);
                    const bool has = std::find(withSubfolders.begin(), withSubfolders.end(),
                                               pathOf(child)) != withSubfolders.end();
                    child->setChildIndicatorPolicy(
                        has ? QTreeWidgetItem::ShowIndicator
                            : QTreeWidgetItem::DontShowIndicatorWhenChildless);
                }
                emit expandersKnown(parent);
            },
            Qt::QueuedConnection);
    }).detach();
}

QTreeWidgetItem* FolderTree::deepestItemFor(const QByteArray& path) const {
    QTreeWidgetItem* best = nullptr;
    QList<QTreeWidgetItem*> stack{invisibleRootItem()};
    while (!stack.isEmpty()) {
        QTreeWidgetItem* item = stack.takeLast();
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* child = item->child(i);
            const QByteArray p = pathOf(child);
            const bool above = path == p || path.startsWith(p.endsWith('/') ? p : p + '/');
            if (p.isEmpty() || (above && p != path)) {
                stack.append(child);
            }
            if (!p.isEmpty() && above && (best == nullptr || p.size() > pathOf(best).size())) {
                best = child;
            }
        }
    }
    return best;
}

void FolderTree::setShowHidden(bool on) {
    if (on == showHidden_) {
        return;
    }
    showHidden_ = on;
    ++hiddenGeneration_;
    showHiddenAction_->setChecked(on);
    // Every listed folder again; what is open and selected stays, unless it was hidden.
    QList<QTreeWidgetItem*> stack{invisibleRootItem()};
    while (!stack.isEmpty()) {
        QTreeWidgetItem* item = stack.takeLast();
        if (item->data(0, kPopulatedRole).toBool()) {
            relist(item);
        } else if (item->childCount() > 0 && pathOf(item).isEmpty()) {
            checkExpanders(item);
        }
        for (int i = 0; i < item->childCount(); ++i) {
            stack.append(item->child(i));
        }
    }
}

QByteArray FolderTree::selectedText() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return {};
    }
    const QTreeWidgetItem* item = selected.first();
    const QByteArray path = pathOf(item);
    return path.isEmpty() ? item->text(0).toUtf8() : path;
}

bool FolderTree::selectPath(const QByteArray& path) {
    // From the deepest item on the way, down one name at a time.
    QTreeWidgetItem* best = deepestItemFor(path);
    while (best != nullptr && pathOf(best) != path) {
        populate(best);
        best->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < best->childCount() && next == nullptr; ++i) {
            const QByteArray p = pathOf(best->child(i));
            if (path == p || path.startsWith(p + '/')) {
                next = best->child(i);
            }
        }
        best = next;
    }
    if (best == nullptr) {
        return false;
    }
    setCurrentItem(best);
    return true;
}

bool FolderTree::selectVirtual(const QString& name) {
    const auto found =
        findItems(name, Qt::MatchExactly | Qt::MatchRecursive | Qt::MatchCaseSensitive);
    for (QTreeWidgetItem* item : found) {
        if (pathOf(item).isEmpty()) {
            setCurrentItem(item);
            return true;
        }
    }
    return false;
}

QByteArray FolderTree::desktopPath() {
    return QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

}  // namespace chronosift
