#include "platform/folder_tree.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>

#include "platform/fs.h"
#include "platform/text.h"

namespace chronosift::platform {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kPopulatedRole = Qt::UserRole + 1;

QString display(const QByteArray& bytes) {
    return QString::fromStdString(displayText(std::string_view(bytes.constData(), bytes.size())));
}

QByteArray childPath(const QByteArray& parent, const std::string& name) {
    QByteArray path = parent;
    if (!path.endsWith('/')) {
        path += '/';
    }
    path += QByteArray::fromStdString(name);
    return path;
}

}  // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);

    auto* desktop = new QTreeWidgetItem(this, QStringList(QStringLiteral("Desktop")));
    const QByteArray home = QFile::encodeName(QDir::homePath());
    addFolderItem(desktop, home, display(home));
    auto* computer = new QTreeWidgetItem(desktop, QStringList(QStringLiteral("My Computer")));
    addFolderItem(computer, "/", QStringLiteral("/"));
    for (const std::string& volume : mountedVolumes()) {
        const QByteArray path = QByteArray::fromStdString(volume);
        addFolderItem(computer, path, display(path));
    }
    new QTreeWidgetItem(desktop, QStringList(QStringLiteral("Recycle Bin")));
    desktop->setExpanded(true);
    computer->setExpanded(true);

    connect(this, &QTreeWidget::itemExpanded, this, &FolderTree::populate);
    // The selection, not the current item: Qt makes an item current without selecting it (when
    // the tree first takes the focus), and a Ctrl+click can clear the selection but not that.
    connect(this, &QTreeWidget::itemSelectionChanged, this, &FolderTree::selectionNotification);
}

QTreeWidgetItem* FolderTree::addFolderItem(QTreeWidgetItem* parent, const QByteArray& path,
                                           const QString& label) {
    auto* item = new QTreeWidgetItem(parent, QStringList(label));
    item->setData(0, kPathRole, path);
    item->setData(0, kPopulatedRole, false);
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    item->setToolTip(0, display(path));
    return item;
}

void FolderTree::populate(QTreeWidgetItem* item) {
    const QByteArray path = item->data(0, kPathRole).toByteArray();
    if (path.isEmpty() || item->data(0, kPopulatedRole).toBool()) {
        return;
    }
    item->setData(0, kPopulatedRole, true);
    std::vector<std::string> names = listSubfolders(path.toStdString());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        addFolderItem(item, childPath(path, name), QString::fromStdString(displayText(name)));
    }
    if (names.empty()) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
}

QByteArray FolderTree::selectedText() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return {};
    }
    const QTreeWidgetItem* item = selected.first();
    const QByteArray path = item->data(0, kPathRole).toByteArray();
    return path.isEmpty() ? item->text(0).toUtf8() : path;
}

bool FolderTree::selectPath(const QByteArray& path) {
    // The deepest file-system item whose path is the start of `path`, then down one name at a
    // time.
    QTreeWidgetItem* best = nullptr;
    QList<QTreeWidgetItem*> stack{invisibleRootItem()};
    while (!stack.isEmpty()) {
        QTreeWidgetItem* item = stack.takeLast();
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* child = item->child(i);
            const QByteArray p = child->data(0, kPathRole).toByteArray();
            if (p.isEmpty()) {
                stack.append(child);
            } else if ((path == p || path.startsWith(p.endsWith('/') ? p : p + '/')) &&
                       (best == nullptr ||
                        p.size() > best->data(0, kPathRole).toByteArray().size())) {
                best = child;
            }
        }
    }
    while (best != nullptr && best->data(0, kPathRole).toByteArray() != path) {
        populate(best);
        best->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < best->childCount() && next == nullptr; ++i) {
            const QByteArray p = best->child(i)->data(0, kPathRole).toByteArray();
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
        if (item->data(0, kPathRole).toByteArray().isEmpty()) {
            setCurrentItem(item);
            return true;
        }
    }
    return false;
}

QByteArray FolderTree::desktopPath() {
    return QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

}  // namespace chronosift::platform
