// The folder tree of the folder page: "Desktop" on top, with the home folder, "My Computer" (the
// root and the mounted volumes) and "Recycle Bin" below it. A file-system item reports its full
// path as its text, without a trailing "/" except for "/" itself; a virtual item reports its
// display name.
//
// A folder shows an expander only when it has a subfolder to show. That is found out off the
// user-interface thread, so a slow or dead mount never blocks the page; until then a folder shows
// one. "My Computer" follows volumes as they are mounted and unmounted, an expanded folder
// follows its subfolders as they are made, renamed and removed, and a folder shown closed gains
// or loses its expander as its first subfolder comes or its last goes. Folders are watched by
// their bytes, so names that are not UTF-8 are followed too.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTreeWidget>
#include <memory>

class QAction;
class QSocketNotifier;

namespace chronosift {

class FolderTree : public QTreeWidget {
    Q_OBJECT
  public:
    explicit FolderTree(QWidget* parent = nullptr);
    ~FolderTree() override;

    // The text of the selected item: a path as bytes, or a display name; empty with none.
    QByteArray selectedText() const;

    // Selects the item for a folder, expanding the tree down to it. False when the folder is not
    // below one of the tree's file-system items.
    bool selectPath(const QByteArray& path);
    // Selects the top-level virtual item with this display name.
    bool selectVirtual(const QString& name);

    // Folders whose names begin with "." are listed too ("Show Hidden Folders", Ctrl+H).
    bool showHidden() const { return showHidden_; }
    void setShowHidden(bool on);
    QAction* showHiddenAction() const { return showHiddenAction_; }

    // Reads the mount table again and brings "My Computer" up to date.
    void refreshVolumes();

    // The user's desktop folder, for "Desktop".
    static QByteArray desktopPath();

  signals:
    // Raised after the selection has changed.
    void selectionNotification();
    // Raised when the expanders of an item's children are known (for tests).
    void expandersKnown(QTreeWidgetItem* parent);

  private:
    QTreeWidgetItem* makeFolderItem(const QByteArray& path, const QString& label);
    void populate(QTreeWidgetItem* item);
    // Brings a listed item's children in line with its folder now, keeping the items (and what
    // is open and selected below them) of folders that are still there.
    void relist(QTreeWidgetItem* item);
    // Deletes an item; a selection inside it is cleared, not passed on.
    void removeItem(QTreeWidgetItem* item);
    // Watches every file-system item that is shown (and no other), by its path's bytes.
    void syncWatches();
    // Lists open folders that changed again, and checks again the expanders of closed ones.
    void readWatchEvents();
    // Finds out, off this thread, which of the item's children have subfolders.
    void checkExpanders(QTreeWidgetItem* item);
    // The deepest file-system item whose path is `path` or a folder above it.
    QTreeWidgetItem* deepestItemFor(const QByteArray& path) const;

    QTreeWidgetItem* computer_ = nullptr;
    bool showHidden_ = false;
    int hiddenGeneration_ = 0;  // answers given for another setting are dropped
    QAction* showHiddenAction_;
    QSocketNotifier* mountWatch_ = nullptr;
    int mountsFd_ = -1;
    int inotifyFd_ = -1;
    QHash<QByteArray, int> watches_;              // path -> watch
    QHash<int, QList<QByteArray>> watchedPaths_;  // watch -> paths
    // Answers from the background come back only while this lives.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace chronosift
