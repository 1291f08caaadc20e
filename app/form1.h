// The folder page: pick folders in the tree, collect them in the list, and press "Next  > >".
#pragma once

#include <QByteArray>

#include "app/index_job.h"
#include "app/page.h"
#include "folders/search_folder_model.h"

class QGroupBox;
class QMimeData;
class QTreeView;

namespace chronosift {

class FolderTree;

class Form1 : public Page {
    Q_OBJECT
  public:
    static inline const QString kCaption = QStringLiteral("Chronosift");
    static inline const QString kIndexingCaption =
        QStringLiteral("Chronosift [ Indexing Files ... Please be patient ... ]");

    // The caption while indexing: the one above and the files indexed so far.
    static QString indexingCaption(quint64 files);

    Form1();

    const QByteArray& selectedFolder() const { return selectedFolder_; }
    SearchFolderModel& searchFolders() { return folders_; }
    // First in the tab order: the folder tree.
    QWidget* firstFocus() const;
    bool indexing() const { return job_.running() && indexing_; }
    // Stops a running build; the program is ending.
    void cancelIndexing() { job_.cancel(); }
    // Folders dropped on the list (text/uri-list) are added as "Add Folder" would add them; files
    // and URIs that are not local are refused in one message that names them. Returns how many
    // folders were added.
    int dropFolders(const QMimeData& data);

  signals:
    // "Next  > >" has begun: the old index is no longer the current one.
    void indexingStarted();
    void indexProgress(quint64 files);
    // The build is done; the caller moves on to the date page.
    void indexReady(chronosift::IndexSnapshot index);
    void exitRequested();
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void onTreeSelection();
    void addFolder();
    void removeFromList();
    void clearList();
    void doubleClicked();
    void next();
    void applyRuleN();
    int selectedRow() const;

    FolderTree* tree_;
    QTreeView* list_;
    QGroupBox* frame_;
    widgets::PushButton* addButton_;
    widgets::PushButton* clearButton_;
    widgets::PushButton* removeButton_;
    widgets::PushButton* exitButton_;
    widgets::PushButton* nextButton_;
    SearchFolderModel folders_;
    QByteArray selectedFolder_;
    IndexJob job_;
    bool indexing_ = false;
};

}  // namespace chronosift
