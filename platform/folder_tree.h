// The folder tree of the folder page: "Desktop" on top, with the home folder, "My Computer" (the
// root and the mounted volumes) and "Recycle Bin" below it. A file-system item reports its full
// path as its text, without a trailing "/" except for "/" itself; a virtual item reports its
// display name.
#pragma once

#include <QByteArray>
#include <QTreeWidget>

namespace chronosift::platform {

class FolderTree : public QTreeWidget {
    Q_OBJECT
  public:
    explicit FolderTree(QWidget* parent = nullptr);

    // The text of the selected item: a path as bytes, or a display name; empty with none.
    QByteArray selectedText() const;

    // Selects the item for a folder, expanding the tree down to it. False when the folder is not
    // below one of the tree's file-system items.
    bool selectPath(const QByteArray& path);
    // Selects the top-level virtual item with this display name.
    bool selectVirtual(const QString& name);

    // The user's desktop folder, for "Desktop".
    static QByteArray desktopPath();

  signals:
    // Raised after the selection has changed.
    void selectionNotification();

  private:
    QTreeWidgetItem* addFolderItem(QTreeWidgetItem* parent, const QByteArray& path,
                                   const QString& label);
    void populate(QTreeWidgetItem* item);
};

}  // namespace chronosift::platform
