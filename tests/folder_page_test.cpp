#include "support/pages_fixture.h"

class FolderPageTest : public PagesFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void layoutOfBothPages() {
        auto check = [&](QWidget& page, const auto& table, QSize client, const char* frameName) {
            QCOMPARE(page.size(), client);
            QCOMPARE(page.minimumSize(), client);
            QCOMPARE(page.maximumSize(), client);
            QVERIFY(!(page.windowFlags() & Qt::WindowMaximizeButtonHint));
            QVERIFY(page.windowFlags() & Qt::WindowMinimizeButtonHint);
            QCOMPARE(page.windowTitle(), QStringLiteral("Chronosift"));
            QCOMPARE(page.palette().color(QPalette::Window), QColor(Qt::white));
            QWidget* frame = on(page, frameName);
            QWidget* previous = nullptr;
            for (const Expected& e : table) {
                QWidget* w = on(page, e.name);
                QVERIFY2(QString::fromLatin1(w->metaObject()->className()).endsWith(e.kind),
                         e.name);
                QCOMPARE(captionOf(w), QString::fromLatin1(e.caption));
                QCOMPARE(w->parentWidget(), QString(e.container) == "page" ? &page : frame);
                QCOMPARE(w->geometry(), twipsRect(e.left, e.top, e.width, e.height));
                QCOMPARE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name),
                         QString::fromLatin1(e.accessible != nullptr ? e.accessible : e.caption));
                if (e.fontTenths != 0) {
                    QCOMPARE(w->font().family(), QStringLiteral("Arial"));
                    QVERIFY2(w->font().bold(), e.name);
                    QCOMPARE(qRound(w->font().pointSizeF() * 100), e.fontTenths);
                }
                // Tab order follows the table, frames aside.
                if (w != frame) {
                    if (previous != nullptr) {
                        QWidget* n = previous->nextInFocusChain();
                        while (n != w && (n->focusPolicy() == Qt::NoFocus ||
                                          n->isAncestorOf(previous) || previous->isAncestorOf(n))) {
                            n = n->nextInFocusChain();
                        }
                        QVERIFY2(n == w, e.name);
                    }
                    previous = w;
                }
            }
        };
        check(form1(), kForm1, QSize(570, 428), "Frame1");
        QVERIFY(!button(form1(), "Check4")->isEnabled());
        QCOMPARE(on<QTreeView>(form1(), "ListView1")->model()->headerData(0, Qt::Horizontal),
                 QVariant(QStringLiteral("Folder(s) to Search")));
        QCOMPARE(on<QTreeView>(form1(), "ListView1")->header()->sectionSize(0), 533);
        QCOMPARE(on(form1(), "ListView1")->toolTip(),
                 QStringLiteral("Double-click item to remove it."));
        // Arial resolves to a face with its metrics.
        QCOMPARE(QFontInfo(button(form1(), "Check1")->font()).family(),
                 QStringLiteral("Liberation Sans"));

        makeDir(tmp_->path());
        addRow(tmp_->path());
        // Over a row the list's tip says what a double-click there does, then the row's path.
        QCOMPARE(on<QTreeView>(form1(), "ListView1")->model()->index(0, 0).data(Qt::ToolTipRole),
                 QVariant("Double-click item to remove it.\n" +
                          QString::fromStdString(tmp_->path()) + "/"));
        next();
        QVERIFY(app_->form2() != nullptr);
        check(*app_->form2(), kForm2, QSize(570, 372), "Frame1");
    }

    void centreOfTheScreen() {
        // 1024 × 768 pixels at 15 twips to the pixel, a page of 9000 × 6000 twips.
        QCOMPARE(centeredPosition(QSizeF(15360, 11520), QSizeF(9000, 6000)), QPointF(3180, 2760));
        QCOMPARE(centeredPosition(QSizeF(15361, 11520), QSizeF(9000, 6000)).x(), 3180.5);
    }

    void hoverAndReset() {
        addRow(tmp_->path());
        next();
        press(*app_->form2(), "Check2");
        // Moves in order, and then: the highlighted buttons (by page and name) and the pointer.
        struct Step {
            QWidget* over;
            QStringList lit;
            int pointer;
        };
        Form1& f1 = form1();
        Form2& f2 = *app_->form2();
        auto* f2List = on<QTableView>(f2, "ListView1");
        const Step steps[] = {
            {&f1, {}, kArrowPointer},
            {button(f1, "Check1"), {"Check1"}, kCustomPointer},
            {button(f1, "Check5"), {"Check1", "Check5"}, kCustomPointer},  // both stay lit
            {on(f1, "Frame1"), {"Check1", "Check5"}, kCustomPointer},      // the frame: nothing
            {on<QTreeView>(f1, "FolderTreeview1")->viewport(), {}, kArrowPointer},
            {button(f1, "Check1"), {"Check1"}, kCustomPointer},
            {on<QTreeView>(f1, "ListView1")->viewport(), {}, kArrowPointer},
            {button(f1, "Check1"), {"Check1"}, kCustomPointer},
            {on<QTreeView>(f1, "ListView1")->header(), {}, kArrowPointer},
            {button(f2, "Check1"), {"Check1"}, kCustomPointer},
            {f2List->viewport(), {"Check1"}, kCustomPointer},  // the results list: nothing
            {f2List->horizontalHeader(), {"Check1"}, kCustomPointer},
            {on(f2, "Frame1"), {}, kArrowPointer},
            {button(f2, "Check1"), {"Check1"}, kCustomPointer},
            {on(f2, "Option2"), {}, kArrowPointer},
            {button(f2, "Check1"), {"Check1"}, kCustomPointer},
            {on(f2, "DTPicker3"), {}, kArrowPointer},
            {button(f2, "Check1"), {"Check1"}, kCustomPointer},
            // A picker's text is part of the picker, with the page's pointer, not an I-beam.
            {on(f2, "DTPicker3")->findChild<QLineEdit*>(), {}, kArrowPointer},
            {button(f2, "Check3"), {"Check3"}, kCustomPointer},
            {&f2, {}, kArrowPointer},
        };
        for (const Step& step : steps) {
            Page* page = qobject_cast<Page*>(step.over->window());
            move(step.over);
            QStringList lit;
            for (PushButton* b : page->pushButtons()) {
                if (b->backColor() == PushButton::kHighlight) {
                    lit << b->objectName();
                }
            }
            lit.sort();
            QCOMPARE(lit, step.lit);
            QCOMPARE(page->mousePointer(), step.pointer);
        }
        QVERIFY(!on(f2, "DTPicker3")->findChild<QLineEdit*>()->testAttribute(Qt::WA_SetCursor));

        // While busy, hovering changes nothing and reset keeps the busy pointer.
        move(button(f1, "Check1"));
        f1.setMousePointer(kBusyPointer);
        move(button(f1, "Check5"));
        QCOMPARE(button(f1, "Check5")->backColor(), PushButton::kWhite);
        move(&f1);
        QCOMPARE(button(f1, "Check1")->backColor(), PushButton::kWhite);
        QCOMPARE(f1.mousePointer(), kBusyPointer);
    }

    void listOperationsAndRuleN() {
        PushButton* next = button(form1(), "Check4");
        auto* list = on<QTreeView>(form1(), "ListView1");

        auto* tree = on<FolderTree>(form1(), "FolderTreeview1");
        QVERIFY(tree->selectVirtual(QStringLiteral("Desktop")) &&
                tree->selectPath(QByteArray::fromStdString(tmp_->path())));
        press(form1(), "Check1");
        press(form1(), "Check1");
        const QString row = QString::fromStdString(tmp_->path()) + "/";
        QCOMPARE(rows(), (QStringList{row, row}));
        QVERIFY(next->isEnabled());

        list->clearSelection();
        list->selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
        press(form1(), "Check3");  // no row selected, none with the focus frame: nothing goes
        QCOMPARE(rows().size(), 2);
        // Tabbed into, the list gives a row the focus frame but selects none: that row goes.
        list->selectionModel()->setCurrentIndex(list->model()->index(1, 0),
                                                QItemSelectionModel::NoUpdate);
        QVERIFY(list->selectionModel()->selectedRows().isEmpty());
        press(form1(), "Check3");
        QCOMPARE(rows().size(), 1);
        QVERIFY(next->isEnabled());
        // From the keyboard: Enter presses the focused button, Delete in the list removes.
        QTest::keyClick(button(form1(), "Check1"), Qt::Key_Return);
        QCOMPARE(rows().size(), 2);
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(rows().size(), 1);

        press(form1(), "Check2");
        QVERIFY(rows().isEmpty());
        QVERIFY(!next->isEnabled());
        press(form1(), "Check2");  // clearing an empty list
        QVERIFY(!next->isEnabled());

        // A double-click empties the list but leaves "Next  > >" enabled.
        press(form1(), "Check1");
        const QModelIndex only = list->model()->index(0, 0);
        list->setCurrentIndex(only);
        emit list->doubleClicked(only);
        QVERIFY(rows().isEmpty());
        QVERIFY(next->isEnabled());
        QVERIFY(messages_.isEmpty());
    }

    // Folders dragged from a file manager are added as "Add Folder" adds them, name bytes that
    // are not UTF-8 included; a file and a URI that is not local are refused in one message
    // naming them.
    void foldersDroppedIn() {
        makeDir(tmp_->path() + "/dropped\xFF");
        testsupport::makeFile(tmp_->path() + "/a file.txt");
        const QByteArray at =
            "file://" + QUrl::toPercentEncoding(QByteArray::fromStdString(tmp_->path()), "/");
        QMimeData data;  // as a file manager offers them
        data.setData("text/uri-list", at + "/dropped%FF\r\n" + at +
                                          "/a%20file.txt\r\nhttp://example.org/folder\r\n");
        auto* viewport = on<QTreeView>(form1(), "ListView1")->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QCOMPARE(form1().searchFolders().rows(),
                 std::vector<std::string>{tmp_->path() + "/dropped\xFF/"});
        QVERIFY(button(form1(), "Check4")->isEnabled());
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_[0], "Only folders on this computer can be added; these were not:\n\n" +
                                   QString::fromStdString(tmp_->path()) +
                                   "/a file.txt\nhttp://example.org/folder");
    }

    // "Next  > >" shows the indexing caption with its count and the busy pointer, then the date
    // page at the folder page's place; Back and Next keep both pages as they were left.
    void nextBackNextKeepsBothPages() {
        const std::string a = tmp_->path() + "/a";
        makeDir(a + "/b/c");
        testsupport::makeFile(a + "/f");
        makeDir(tmp_->path() + "/gone");
        addRow(tmp_->path() + "/gone");  // removed after it was added: told, then skipped
        addRow(a + "/b/c");  // nested rows go next, with a message each, from the bottom up
        addRow(a);
        addRow(a + "/b");
        QCOMPARE(::rmdir((tmp_->path() + "/gone").c_str()), 0);
        const QPoint form1At = form1().pos();
        QStringList captions;
        QList<int> pointers;
        connect(&form1(), &Form1::indexProgress, this, [&] {
            captions << form1().windowTitle();
            pointers << form1().mousePointer();
        });
        next();
        for (const QString& c : captions) {
            QVERIFY2(c.startsWith("Chronosift [ Indexing Files ... Please be patient ... ] "),
                     qPrintable(c));
        }
        QCOMPARE(captions.last(),
                 QStringLiteral("Chronosift [ Indexing Files ... Please be patient ... ] 1 file"));
        QVERIFY(pointers.contains(kBusyPointer));
        const QString tail =
            " will be removed because it is a subfolder of another folder that you added.";
        QCOMPARE(messages_, (QStringList{QString::fromStdString(tmp_->path() + "/gone/") +
                                             " no longer exists and will be skipped.",
                                         QString::fromStdString(a + "/b/") + tail,
                                         QString::fromStdString(a + "/b/c/") + tail}));
        QCOMPARE(rows(), QStringList{QString::fromStdString(a + "/")});
        QCOMPARE(form1().windowTitle(), QStringLiteral("Chronosift"));
        QVERIFY(!form1().isVisible());
        QCOMPARE(form1().mousePointer(), kArrowPointer);
        Form2& f2 = *app_->form2();
        QVERIFY(f2.isVisible());
        QCOMPARE(f2.pos(), form1At);
        QVERIFY(on<QRadioButton>(f2, "Option1")->isChecked());
        QVERIFY(on(f2, "DTPicker1")->isEnabled());
        QVERIFY(!on(f2, "DTPicker2")->isEnabled());
        for (const char* name : {"DTPicker1", "DTPicker2", "DTPicker3"}) {
            auto* picker = on<widgets::DatePicker>(f2, name);
            QCOMPARE(picker->date(), QDate(2006, 6, 30));
            QCOMPARE(picker->minimumDate(), QDate(1601, 1, 1));
            QCOMPARE(picker->maximumDate(), QDate(9999, 12, 31));
        }
        on<QRadioButton>(f2, "Option2")->click();
        on<widgets::DatePicker>(f2, "DTPicker2")->setDate(QDate(2001, 2, 3));
        f2.move(f2.pos() + QPoint(40, 30));
        const QPoint form2At = f2.pos();

        // Each move hands the keyboard to the shown page: its first stop in the tab order.
        QTRY_COMPARE(QApplication::focusWidget(), on(f2, "Option1"));

        press(f2, "Check2");
        QVERIFY(!f2.isVisible());
        QVERIFY(form1().isVisible());
        QCOMPARE(form1().pos(), form1At);
        QCOMPARE(rows().size(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), on(form1(), "FolderTreeview1"));

        next();
        QTRY_COMPARE(QApplication::focusWidget(), on(f2, "Option2"));
        QCOMPARE(app_->form2(), &f2);
        QCOMPARE(f2.pos(), form2At);  // it no longer follows the folder page
        QVERIFY(on<QRadioButton>(f2, "Option2")->isChecked());
        QVERIFY(on(f2, "DTPicker2")->isEnabled());
        QVERIFY(!on(f2, "DTPicker1")->isEnabled());
        QCOMPARE(on<widgets::DatePicker>(f2, "DTPicker2")->date(), QDate(2001, 2, 3));
        QCOMPARE(on<widgets::DatePicker>(f2, "DTPicker1")->date(), QDate(2006, 6, 30));
    }

    void closingEitherPageEnds() {
        addRow(tmp_->path());
        next();
        QSignalSpy ending(app_.get(), &Application::ending);
        app_->form2()->close();
        QCOMPARE(ending.count(), 1);

        cleanup();
        init();
        QSignalSpy ending1(app_.get(), &Application::ending);
        form1().close();
        QCOMPARE(ending1.count(), 1);
    }

    // While a build runs: the list's buttons and a second "Next  > >" do nothing, Esc stops it
    // and stays on the folder page, and "Exit" ends the program with it.
    void duringABuild() {
        // Enough files that the build is still running when a key comes in the same turn.
        for (int d = 0; d < 40; ++d) {
            const std::string dir = tmp_->path() + "/d" + std::to_string(d);
            makeDir(dir);
            for (int f = 0; f < 100; ++f) {
                testsupport::makeFile(dir + "/f" + std::to_string(f));
            }
        }
        addRow(tmp_->path());
        form1().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form1()));
        QSignalSpy ready(&form1(), &Form1::indexReady);
        press(form1(), "Check4");
        QVERIFY(form1().indexing());
        press(form1(), "Check2");  // "Clear List"
        auto* list = on<QTreeView>(form1(), "ListView1");
        list->setCurrentIndex(list->model()->index(0, 0));
        emit list->doubleClicked(list->currentIndex());  // a double-click on the row
        press(form1(), "Check4");                        // a second "Next  > >"
        QTest::keyClick(&form1(), Qt::Key_Escape);
        QTRY_COMPARE(form1().windowTitle(), QStringLiteral("Chronosift"));
        QVERIFY(!form1().indexing());
        QCOMPARE(form1().mousePointer(), kArrowPointer);
        QCOMPARE(rows(), QStringList{QString::fromStdString(tmp_->path()) + "/"});
        QCOMPARE(ready.count(), 0);
        QVERIFY(app_->form2() == nullptr || !app_->form2()->isVisible());

        QSignalSpy ending(app_.get(), &Application::ending);
        press(form1(), "Check4");
        QVERIFY(form1().indexing());
        press(form1(), "Check5");
        QCOMPARE(ending.count(), 1);
        app_.reset();  // joins the cancelled build
        QCoreApplication::processEvents();
        QCOMPARE(ready.count(), 0);
    }

    // HAND-M.CUR beside the program is the hand, its hot spot read from the file; a missing or
    // broken one is silent.
    void handCursorIsOptional() {
        const QString path = QCoreApplication::applicationDirPath() + "/HAND-M.CUR";
        const auto put = [&](const QByteArray& bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        QFile::remove(path);
        QVERIFY(!form1().hasCustomPointer());
        put("not a cursor at all");
        QVERIFY(!Form1().hasCustomPointer());
        QImage hand(32, 32, QImage::Format_ARGB32);
        hand.fill(Qt::red);
        QBuffer ico;
        ico.open(QIODevice::WriteOnly);
        QVERIFY(hand.save(&ico, "ICO"));
        QByteArray cur = ico.data();  // made a cursor: type 2, the hot spot at 9,4
        cur[2] = 2, cur[10] = 9, cur[11] = 0, cur[12] = 4, cur[13] = 0;
        put(cur);
        Form1 withHand;
        withHand.setMousePointer(kCustomPointer);
        QCOMPARE(withHand.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(withHand.cursor().hotSpot(), QPoint(9, 4));
        QFile::remove(path);
        QVERIFY(messages_.isEmpty());
    }

    // A screen reader's "press" presses a button (its role and the pages' are read through
    // AT-SPI in the desktop test).
    void screenReaderPress() {
        QVERIFY(
            !QAccessible::queryAccessibleInterface(button(form1(), "Check5"))->state().checkable);
        QAccessible::queryAccessibleInterface(button(form1(), "Check1"))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(messages_, QStringList{"Please select a folder."});

        // Every control a screen reader reaches has a name, message boxes start with their text.
        QCOMPARE(on<FolderTree>(form1(), "FolderTreeview1")->headerItem()->text(0),
                 QStringLiteral("Folders"));
        const auto box = widgets::makeMessageBox(&form1(), "Text", QMessageBox::Ok);
        QCOMPARE(box->accessibleName(), QStringLiteral("Chronosift"));
        QCOMPARE(box->accessibleDescription(), QStringLiteral("Text"));
        const auto dialog = widgets::makeProgressDialog(&form1(), "Moving", 10);
        QCOMPARE(dialog->findChild<QProgressBar*>()->accessibleName(), QStringLiteral("Moving"));
    }
};

QTEST_MAIN(FolderPageTest)
#include "folder_page_test.moc"
