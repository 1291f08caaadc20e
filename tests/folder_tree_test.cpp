#include "support/pages_fixture.h"

// The folder tree of the folder page: what it offers, what it hides, and how it follows the disk
// and the mounts.
class FolderTreeTest : public PagesFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void treeSelectionRules() {
        auto* tree = on<FolderTree>(form1(), "FolderTreeview1");
        PushButton* add = button(form1(), "Check1");
        QVERIFY(add->isEnabled());
        const std::pair<const char*, bool> cases[] = {
            {"My Computer", false}, {"Desktop", true}, {"Recycle Bin", false}};
        for (const auto& [name, enabled] : cases) {
            QVERIFY(tree->selectVirtual(QString::fromLatin1(name)));
            QCOMPARE(form1().selectedFolder(), QByteArray(name));
            QCOMPARE(add->isEnabled(), enabled);
        }
        QVERIFY(tree->selectPath("/"));
        QCOMPARE(form1().selectedFolder(), QByteArray("/"));
        QVERIFY(add->isEnabled());
        press(form1(), "Check1");
        QCOMPARE(rows(), QStringList{"/"});

        // What "Add Folder" takes is the selected item, never a current one that is not selected
        // (as Qt makes "Desktop" when the tree first gets the focus, or a Ctrl+click leaves).
        tree->clearSelection();
        tree->setCurrentItem(tree->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        QCOMPARE(form1().selectedFolder(), QByteArray());
        press(form1(), "Check1");
        QCOMPARE(messages_, QStringList{"Please select a folder."});
        QVERIFY(tree->selectPath("/"));
        const QRect at = tree->visualItemRect(tree->currentItem());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, at.center());
        QVERIFY(tree->selectedItems().isEmpty());
        press(form1(), "Check1");
        QCOMPARE(rows(), QStringList{"/"});
        QCOMPARE(messages_.size(), 2);
        // "Desktop" becomes the desktop folder's path, which a second press adds again.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(tmp_->path()));
        QVERIFY(tree->selectVirtual(QStringLiteral("Desktop")));
        press(form1(), "Check1");
        QCOMPARE(form1().selectedFolder(), FolderTree::desktopPath());
        press(form1(), "Check1");
        const QString desktop = QString::fromUtf8(FolderTree::desktopPath()) + "/";
        QCOMPARE(rows(), (QStringList{"/", desktop, desktop}));
        QCOMPARE(messages_.size(), 2);
    }

    // Hidden folders come with Ctrl+H; expanders show only where there is a subfolder to show.
    void hiddenFoldersAndExpanders() {
        auto* tree = on<FolderTree>(form1(), "FolderTreeview1");
        const std::string root = tmp_->path();
        for (const char* dir : {"/deep/inner", "/flat", "/.cache/x", "/onlyhidden/.git"}) {
            makeDir(root + dir);
        }
        QVERIFY(tree->selectPath(QByteArray::fromStdString(root)));
        QTreeWidgetItem* item = tree->currentItem();
        item->setExpanded(true);
        // Each child's name, with "+" where it shows an expander.
        const auto children = [&] {
            QStringList out;
            for (int i = 0; i < item->childCount(); ++i) {
                const bool expander =
                    item->child(i)->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
                out << item->child(i)->text(0) + (expander ? "+" : "");
            }
            return out;
        };
        QTRY_COMPARE(children(), (QStringList{"deep+", "flat", "onlyhidden"}));
        form1().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form1()));
        QTest::keyClick(tree, Qt::Key_H, Qt::ControlModifier);
        QVERIFY(tree->showHidden());
        QCOMPARE(tree->selectedText(), QByteArray::fromStdString(root));  // still selected
        QTRY_COMPARE(children(), (QStringList{".cache+", "deep+", "flat", "onlyhidden+"}));
        QVERIFY(tree->selectPath(QByteArray::fromStdString(root + "/.cache")));
        tree->showHiddenAction()->trigger();  // and off again: the hidden item goes, unselected
        QVERIFY(tree->selectedItems().isEmpty());
        QTRY_COMPARE(children(), (QStringList{"deep+", "flat", "onlyhidden"}));

        // An expanded folder follows the disk: made, renamed and removed subfolders, and the
        // expander of one that gains or loses its first subfolder; names not UTF-8 too.
        const std::string made = root + "/made\xFF";
        makeDir(made);
        QTRY_COMPARE(children(), (QStringList{"deep+", "flat", "made\uFFFD", "onlyhidden"}));
        makeDir(made + "/sub");
        QTRY_COMPARE(children(), (QStringList{"deep+", "flat", "made\uFFFD+", "onlyhidden"}));
        QVERIFY(tree->selectPath(QByteArray::fromStdString(made)));
        tree->currentItem()->setExpanded(true);
        makeDir(made + "/sub\xFE");
        QTRY_COMPARE(tree->currentItem()->childCount(), 2);
        QCOMPARE(tree->currentItem()->child(1)->text(0), QString("sub\uFFFD"));
        QCOMPARE(::rename((root + "/flat").c_str(), (root + "/renamed").c_str()), 0);
        for (const char* gone : {"/sub", "/sub\xFE", ""}) {
            QCOMPARE(::rmdir((made + gone).c_str()), 0);
        }
        QTRY_COMPARE(children(), (QStringList{"deep+", "onlyhidden", "renamed"}));
        // Collapsed, it is not followed; expanded again, it is listed anew.
        item->setExpanded(false);
        makeDir(root + "/later");
        item->setExpanded(true);
        QTRY_COMPARE(children(), (QStringList{"deep+", "later", "onlyhidden", "renamed"}));
    }

    // "My Computer" follows a volume mounted and unmounted below the home folder.
    void volumesFollowMounts() {
        if (::geteuid() != 0) {
            QSKIP("mounting needs root");
        }
        testsupport::ScopedEnv home("HOME", tmp_->path());
        const std::string point = tmp_->path() + "/My Disk";  // the mount table escapes the blank
        makeDir(point);
        if (::mount("tmpfs", point.c_str(), "tmpfs", 0, "size=1m") != 0) {
            QSKIP("cannot mount a tmpfs here");
        }
        auto* tree = on<FolderTree>(form1(), "FolderTreeview1");
        const auto shown = [&] {
            return !tree->findItems(QString::fromStdString(point), Qt::MatchRecursive).isEmpty();
        };
        QTRY_VERIFY(shown());
        ::umount2(point.c_str(), MNT_DETACH);
        QTRY_VERIFY(!shown());
    }
};

QTEST_MAIN(FolderTreeTest)
#include "folder_tree_test.moc"
