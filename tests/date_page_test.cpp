#include "support/pages_fixture.h"

class DatePageTest : public PagesFixture {
    Q_OBJECT

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void eachOptionSearchesItsDay() {
        testsupport::ScopedTimeZone tz("Europe/Berlin");
        using testsupport::localTime;
        for (const auto& [name, time] : {std::pair{"jun29", localTime(2006, 6, 29, 23, 59, 59)},
                                         std::pair{"jun30", localTime(2006, 6, 30)},
                                         std::pair{"jul01", localTime(2006, 7, 1, 0, 0, 5)}}) {
            testsupport::makeFile(tmp_->path() + "/" + name, time);
        }
        addRow(tmp_->path());
        next();
        Form2& f2 = *app_->form2();
        ResultsModel& results = f2.results();
        new QAbstractItemModelTester(&results,
                                     QAbstractItemModelTester::FailureReportingMode::QtTest, &f2);
        on<widgets::DatePicker>(f2, "DTPicker3")
            ->setDate(QDate(2006, 6, 29));  // only its own picker counts
        for (const auto& [option, expected] :
             {std::pair{"Option1", "jul01"}, std::pair{"Option2", "jun29"},
              std::pair{"Option3", "jun29"}}) {
            on<QRadioButton>(f2, option)->click();
            if (QString(option) == "Option2") {
                on<widgets::DatePicker>(f2, "DTPicker2")->setDate(QDate(2006, 6, 30));
            }
            press(f2, "Check1");
            QCOMPARE(results.rowCount(), 1);
            QCOMPARE(results.snapshot()->name(results.fileAt(0)), std::string_view(expected));
            QCOMPARE(f2.mousePointer(), kArrowPointer);
        }
    }

    void rowsStayUntilTheNextPress() {
        for (int i = 0; i < 6; ++i) {
            testsupport::makeFile(tmp_->path() + "/f" + std::to_string(i), 1000000000 + i);
        }
        Form2& f2 = listBefore(tmp_->path());  // before 2006-06-30: all six
        ResultsModel& results = f2.results();
        const auto ids = [&] {
            std::vector<FileId> out;
            for (int r = 0; r < results.rowCount(); ++r) {
                out.push_back(results.fileAt(r));
            }
            return out;
        };
        const std::vector<FileId> first = ids();
        QVERIFY(first.size() == 6 && std::is_sorted(first.begin(), first.end()));  // index order

        // All three columns in view without scrolling, the path shortened in its middle.
        auto* header = on<QTableView>(f2, "ListView1")->horizontalHeader();
        const int width = on<QTableView>(f2, "ListView1")->viewport()->width();
        QVERIFY(header->sectionSize(0) > width / 3);
        QCOMPARE(header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2), width);
        QCOMPARE(on<QTableView>(f2, "ListView1")->textElideMode(), Qt::ElideMiddle);

        // Space checks the selected rows, or the row with the focus frame: tabbed into, the list
        // gives its first row the frame but no selection. Ctrl+A selects every row.
        auto* list = on<QTableView>(f2, "ListView1");
        f2.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f2));
        button(f2, "Check1")->setFocus();
        QTest::keyClick(button(f2, "Check1"), Qt::Key_Tab);
        QVERIFY(list->selectionModel()->selection().isEmpty());
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(results.checkedRows(), std::vector<int>{list->currentIndex().row()});
        results.setAllChecked(false);
        list->setCurrentIndex(results.index(1, 0));
        list->selectionModel()->select(results.index(4, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(results.checkedRows(), (std::vector<int>{1, 4}));
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 6);
        QTest::keyClick(list, Qt::Key_Right);  // the rows stay selected
        QCOMPARE(list->selectionModel()->selectedRows().size(), 6);
        QTest::keyClick(list, Qt::Key_Space);  // the lead row is checked: all are cleared
        QVERIFY(results.checkedRows().empty());
        // Home and End go to the first and last row, as in any list; Tab leaves the list.
        QTest::keyClick(list, Qt::Key_End);
        QCOMPARE(list->currentIndex().row(), 5);
        QTest::keyClick(list, Qt::Key_Home);
        QCOMPARE(list->currentIndex().row(), 0);
        QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button(f2, "Check3"));
        results.setChecked(1, true);
        results.setChecked(4, true);
        const IndexSnapshot searched = results.snapshot();

        // Back, a file more, Next: a new index, but the rows and checks of the last search stay.
        press(f2, "Check2");
        testsupport::makeFile(tmp_->path() + "/late", 1000000100);
        next();
        QVERIFY(app_->index() != searched);
        QCOMPARE(results.snapshot(), searched);
        QCOMPARE(results.rowCount(), 6);
        QCOMPARE(results.checkedRows(), (std::vector<int>{1, 4}));

        // The next press searches the new index, all rows unchecked; twice gives the same rows.
        press(f2, "Check1");
        const std::vector<FileId> once = ids();
        QVERIFY(once.size() == 7 && std::is_sorted(once.begin(), once.end()));
        QVERIFY(results.checkedRows().empty());
        press(f2, "Check1");
        QCOMPARE(ids(), once);
    }

    // Open, and Copy Path, hand over a file's exact bytes; an opener that fails is reported.
    void openAndCopyHandOverTheBytes() {
        const std::string bin = tmp_->path() + "/bin", log = tmp_->path() + "/opened";
        makeDir(bin);
        testsupport::makeFile(bin + "/xdg-open", 1000000000,
                              "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$OPENER_LOG\"\n"
                              "exit ${OPENER_STATUS:-0}\n");
        chmod((bin + "/xdg-open").c_str(), 0755);
        testsupport::ScopedEnv path("PATH", bin + ":" + getenv("PATH"));
        testsupport::ScopedEnv opened("OPENER_LOG", log);
        makeDir(tmp_->path() + "/files");
        const std::string file = tmp_->path() + "/files/bad\xFF\xFEname\n.txt";
        testsupport::makeFile(file, 1000000000);
        Form2& f2 = listBefore(tmp_->path() + "/files");
        auto* list = on<QTableView>(f2, "ListView1");
        list->setCurrentIndex(f2.results().index(0, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_COMPARE(QString::fromStdString(readAll(log)),
                     QString::fromStdString(platform::fileUri(file) + "\n"));
        QVERIFY(platform::fileUri(file).ends_with("/bad%FF%FEname%0A.txt"));
        QVERIFY(messages_.isEmpty());

        testsupport::ScopedEnv failing("OPENER_STATUS", "4");
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_COMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].startsWith("Cannot open " + QString::fromStdString(tmp_->path())) &&
                     messages_[0].contains("status 4"),
                 qPrintable(messages_[0]));

        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data("text/plain"),
                 QByteArray::fromStdString(file));  // no newline for a terminal to run

        // Save List As: the rows shown with their checks; a file replaced keeps its mode, so a
        // private list stays private; a failed write leaves no file.
        f2.results().setChecked(0, true);
        testsupport::makeFile(tmp_->path() + "/list.txt");
        QCOMPARE(::chmod((tmp_->path() + "/list.txt").c_str(), 0640), 0);
        QVERIFY(f2.saveListTo(tmp_->path() + "/list.txt"));  // as tab-separated as ".tsv"
        QCOMPARE(modeOf(tmp_->path() + "/list.txt"), 0640u);
        const std::string saved = readAll(tmp_->path() + "/list.txt");
        QVERIFY2(saved.starts_with("path\tlast_modified\tsize_bytes\tchecked\n" + tmp_->path() +
                                   "/files/bad%FF%FEname%0A.txt\t2001-09-09T"),
                 saved.c_str());
        QVERIFY(saved.ends_with("\t0\t1\n"));
        messages_.clear();
        QVERIFY(!f2.saveListTo(tmp_->path() + "/missing/list.csv"));
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].startsWith("cannot write in " + QString::fromStdString(tmp_->path()) +
                                         "/missing: No such file or directory"),
                 qPrintable(messages_[0]));
        const size_t names = testsupport::listFolder(tmp_->path()).size();
        QVERIFY(!f2.saveListTo(tmp_->path() + "/files"));               // a folder in its place
        QCOMPARE(testsupport::listFolder(tmp_->path()).size(), names);  // no temporary left
        // Cancelled, the list already there stays as it was, and no temporary is left.
        const std::atomic<bool> cancel{true};
        QVERIFY(!saveList(tmp_->path() + "/list.txt", *f2.results().snapshot(),
                          {f2.results().fileAt(0)}, {}, ListFormat::Csv, {.cancel = &cancel})
                     .empty());
        QCOMPARE(readAll(tmp_->path() + "/list.txt"), saved);
        QCOMPARE(testsupport::listFolder(tmp_->path()).size(), names);
    }

    // Save List As through its dialog: a name typed without an extension takes the chosen
    // filter's, in that format; an extension in any case chooses the format itself. A new file
    // gets 0666 less the umask. Check Matching says when it cannot read a pattern or changes
    // nothing.
    void listActionsDoWhatWasChosen() {
        makeDir(tmp_->path() + "/files");
        testsupport::makeFile(tmp_->path() + "/files/a", 1000000000);
        Form2& f2 = listBefore(tmp_->path() + "/files");
        QCOMPARE(f2.results().rowCount(), 1);
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        const mode_t mask = ::umask(002);
        const struct {
            const char* typed;
            int filter;
            const char* written;
            const char* header;
        } saves[] = {{"plain", 0, "plain.csv", "path,"},
                     {"plain", 1, "plain.tsv", "path\t"},
                     {"UPPER.TSV", 0, "UPPER.TSV", "path\t"},
                     {"upper.Csv", 1, "upper.Csv", "path,"},
                     {"notes.dat", 1, "notes.dat", "path\t"}};
        for (const auto& save : saves) {
            QTimer::singleShot(0, &f2, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                auto* filters = dialog->findChild<QComboBox*>("fileTypeCombo");
                for (int i = 0; i < save.filter; ++i) {
                    QTest::keyClick(filters, Qt::Key_Down);  // as the user picks it
                }
                dialog->findChild<QLineEdit*>("fileNameEdit")
                    ->setText(QString::fromStdString(tmp_->path() + "/") + save.typed);
                QMetaObject::invokeMethod(dialog, "accept");
            });
            f2.saveListAs();
            const std::string path = tmp_->path() + "/" + save.written;
            QVERIFY2(readAll(path).starts_with(save.header), save.written);
            QCOMPARE(modeOf(path), 0664u);
            ::unlink(path.c_str());
        }
        ::umask(mask);
        QVERIFY(messages_.isEmpty());

        const struct {
            CheckRule rule;
            bool check;
            const char* message;
        } rules[] = {
            {{"[", true, {}, {}},
             true,
             "\u201c[\u201d cannot be read as a name pattern: a \u201c[\u201d in it has no "
             "closing \u201c]\u201d. No row was changed."},
            {{"a\\", true, {}, {}},
             true,
             "\u201ca\\\u201d cannot be read as a name pattern: it ends in a \u201c\\\u201d "
             "with nothing after it. No row was changed."},
            {{"*.log", true, {}, {}},
             true,
             "No unchecked row matches \u201c*.log\u201d, so none was checked."},
            {{"[]a]", true, {}, {}}, true, ""},
            {{"A", true, {}, {}},
             true,
             "No unchecked row matches \u201cA\u201d, so none was checked."},
            {{"a", true, 5000, {}},
             false,
             "No checked row matches \u201ca\u201d with the size given, so none was unchecked."},
        };
        for (const auto& [rule, check, message] : rules) {
            messages_.clear();
            f2.checkMatching(rule, check);
            QCOMPARE(messages_.join(""), QString(message));
        }
        QCOMPARE(f2.results().checkedRows(), std::vector<int>{0});
        // Through the list's menu, each entry with its own meaning: "Uncheck Matching..." and
        // its dialog as it opens (every name) uncheck the row.
        QTimer chooser;
        connect(&chooser, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                QAction* uncheck = menu->actions()[5];
                QCOMPARE(uncheck->text(), QStringLiteral("Uncheck Matching..."));
                menu->close();
                QTimer::singleShot(0, [] {  // a timer never runs again inside its own slot
                    qobject_cast<QDialog*>(QApplication::activeModalWidget())->accept();
                });
                uncheck->trigger();
            }
        });
        f2.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f2));
        on(f2, "ListView1")->setFocus();
        chooser.start(0);
        QTest::keyClick(on(f2, "ListView1"), Qt::Key_F10, Qt::ShiftModifier);
        chooser.stop();
        QVERIFY(f2.results().checkedRows().empty());
    }

    // One long step at a time: Check Matching while a header click's sort runs starts nothing
    // (run, it would end the hold on the rows under the sort's worker). Cancel, even once the
    // worker is done, leaves the rows and the header as they were.
    void oneLongStepAtATime() {
        for (int i = 0; i < 2000; ++i) {
            testsupport::makeFile(tmp_->path() + "/f" + std::to_string(i), 1000000000,
                                  std::string(static_cast<size_t>(i % 7), 'x'));
        }
        Form2& f2 = listBefore(tmp_->path());
        bool inside = false;
        QTimer::singleShot(0, &f2, [&] {
            inside = f2.mousePointer() == kBusyPointer;
            f2.checkMatching({"*", true, {}, {}}, true);
            f2.findChild<QProgressDialog*>()->findChild<QPushButton*>()->click();
        });
        QHeaderView* header = on<QTableView>(f2, "ListView1")->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          {header->sectionViewportPosition(2) + 5, header->height() / 2});
        const ResultsModel& results = f2.results();
        QVERIFY(inside && header->sortIndicatorSection() == -1 && results.sortColumn() == -1);
        QVERIFY(results.checkedRows().empty());
    }

    // The rule dialog reads its fields as typed: decimal units, the bound chosen.
    void checkRuleDialogReadsItsFields() {
        CheckRuleDialog dialog(true);
        QCOMPARE(dialog.rule().pattern, std::string("*"));
        QVERIFY(!dialog.rule().atLeast && !dialog.rule().atMost);
        dialog.patternField()->setText("*~.bak");
        dialog.ignoreCaseField()->setChecked(false);
        QCOMPARE(dialog.rule().pattern, std::string("*~.bak"));
        QVERIFY(!dialog.rule().ignoreCase);
        dialog.patternField()->clear();  // an emptied field means every name
        QCOMPARE(dialog.rule().pattern, std::string("*"));
        // Chosen by what the user reads.
        for (const auto& [bound, size, unit, bytes] :
             {std::tuple{"at least", 1.5, "KB", 1500}, std::tuple{"at most", 1.5, "GB", 1500000000},
              std::tuple{"at least", 1.0, "MB", 1000000}}) {
            dialog.sizeBoundField()->setCurrentText(bound);
            dialog.sizeField()->setValue(size);
            dialog.unitField()->setCurrentText(unit);
            const CheckRule rule = dialog.rule();
            const bool least = bound == std::string("at least");
            QCOMPARE(least ? rule.atLeast : rule.atMost, std::optional<uint64_t>(bytes));
            QVERIFY(!(least ? rule.atMost : rule.atLeast));
        }
        // What a screen reader announces: each field by its name, not its value.
        const std::pair<QWidget*, const char*> names[] = {{dialog.patternField(), "Name pattern"},
                                                          {dialog.sizeBoundField(), "Size bound"},
                                                          {dialog.sizeField(), "Size"},
                                                          {dialog.unitField(), "Size unit"}};
        for (const auto& [field, name] : names) {
            QCOMPARE(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name), name);
        }
        QCOMPARE(
            QAccessible::queryAccessibleInterface(dialog.unitField())->text(QAccessible::Value),
            "MB");
        // "&Size:" is a mnemonic: Alt+S goes to the size bound.
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.patternField()->setFocus();
        QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), dialog.sizeBoundField());
    }

    // The trash press and its undo, with sizes, sorting and the caption's totals on the way.
    void trashAndUndo() {
        testsupport::ScopedEnv data("XDG_DATA_HOME", tmp_->path() + "/data");
        const std::string root = tmp_->path() + "/files";
        makeDir(root + "/a");
        const std::vector<std::pair<std::string, int>> files = {
            {"small", 10}, {"big", 3000}, {"mid", 500}, {"keep", 1}, {"a/locked", 2}, {"gone", 3}};
        for (const auto& [name, size] : files) {
            testsupport::makeFile(root + "/" + name, 978307200 + size, std::string(size, 'x'));
        }
        Form2& f2 = listBefore(root);
        ResultsModel& results = f2.results();
        QCOMPARE(f2.windowTitle(), QStringLiteral("Chronosift [ 6 files found, 3.5 KB ]"));
        const auto names = [&] {
            QStringList out;
            for (int r = 0; r < results.rowCount(); ++r) {
                out << QString::fromStdString(results.snapshot()->path(results.fileAt(r)))
                           .mid(static_cast<int>(root.size()) + 1);
            }
            return out;
        };
        const auto check = [&](const QStringList& which) {
            for (const QString& n : which) {
                results.setChecked(static_cast<int>(names().indexOf(n)), true);
            }
        };
        // Nothing checked: no question at all.
        QStringList questions;
        bool answer = false;
        widgets::setQuestionHandler([&](QWidget*, const QString& q) {
            questions << q;
            return answer;
        });
        press(f2, "Check3");
        QVERIFY(questions.isEmpty());

        // A header click sorts by size; a second one reverses, and checks stay with their files.
        QHeaderView* header = on<QTableView>(f2, "ListView1")->horizontalHeader();
        const QPoint sizeHeader(header->sectionViewportPosition(2) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
        QCOMPARE(header->sortIndicatorSection(), 2);
        QCOMPARE(names(), (QStringList{"keep", "a/locked", "gone", "small", "mid", "big"}));
        check({"big", "mid", "small", "a/locked", "gone"});
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(names(), (QStringList{"big", "mid", "small", "gone", "a/locked", "keep"}));
        QCOMPARE(results.checkedRows(), (std::vector<int>{0, 1, 2, 3, 4}));
        // Save List writes the rows in the order shown, each with its own check.
        QVERIFY(f2.saveListTo(tmp_->path() + "/shown.csv"));
        QStringList saved = QString::fromStdString(readAll(tmp_->path() + "/shown.csv"))
                                .split("\r\n", Qt::SkipEmptyParts)
                                .mid(1);
        for (QString& line : saved) {
            line = line.section(',', 0, 0).mid(static_cast<int>(root.size()) + 1) + line.right(1);
        }
        QCOMPARE(saved, (QStringList{"big1", "mid1", "small1", "gone1", "a/locked1", "keep0"}));
        QCOMPARE(f2.windowTitle(),
                 QStringLiteral("Chronosift [ 6 files found, 3.5 KB \u00b7 5 checked, 3.5 KB ]"));
        QTest::keyClick(on(f2, "ListView1"), Qt::Key_Delete);  // as the button does; "No"
        QCOMPARE(questions, QStringList{"Move 5 checked files (3.5 KB) to the trash?"});
        // The question names the checked files' size, not the list's.
        results.setChecked(static_cast<int>(names().indexOf("big")), false);
        QTest::keyClick(on(f2, "ListView1"), Qt::Key_Delete);
        QCOMPARE(questions.last(),
                 QStringLiteral("Move 4 checked files (515 bytes) to the trash?"));
        results.setChecked(static_cast<int>(names().indexOf("big")), true);
        QCOMPARE(results.checkedRows().size(), 5u);

        // Back and Next: a newer index, built before the move, while the rows stay. Then one
        // file cannot move (its folder read-only, and for root, whom permissions do not stop, the
        // file immutable), and one goes outside the program.
        press(f2, "Check2");
        next();
        QVERIFY(app_->index() != results.snapshot());
        ::chmod((root + "/a").c_str(), 0555);
        const bool immutable =
            ::geteuid() == 0 && testsupport::setImmutable(root + "/a/locked", true);
        if (::geteuid() == 0 && !immutable) {
            ::chmod((root + "/a").c_str(), 0755);
            QSKIP("cannot make a file immutable here (root ignores permissions)");
        }
        QCOMPARE(::unlink((root + "/gone").c_str()), 0);
        // Smallest first again, so the checked rows start below an unchecked one: the rows that
        // leave are those of the files that went, not their places among the checked.
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
        QCOMPARE(names(), (QStringList{"keep", "a/locked", "gone", "small", "mid", "big"}));
        answer = true;
        press(f2, "Check3");
        if (immutable) {
            testsupport::setImmutable(root + "/a/locked", false);
        }
        ::chmod((root + "/a").c_str(), 0755);
        QCOMPARE(names(), (QStringList{"keep", "a/locked"}));
        QCOMPARE(results.checkedRows(), std::vector<int>{1});
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].startsWith("2 files were not moved to the trash:"),
                 qPrintable(messages_[0]));
        QVERIFY(messages_[0].contains(QString::fromStdString(root) + "/a/locked: "));
        QVERIFY(
            messages_[0].contains(QString::fromStdString(root) + "/gone: it is no longer there"));
        QCOMPARE(f2.windowTitle(),
                 QStringLiteral("Chronosift [ 2 files found, 3 bytes \u00b7 1 checked, 2 bytes ]"));

        // Another file takes mid's place; Ctrl+Z puts back the other two, checked, in order.
        testsupport::makeFile(root + "/mid", 978307200, "new");
        f2.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f2));
        QTest::keyClick(on(f2, "ListView1"), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(names(), (QStringList{"keep", "a/locked", "small", "big"}));
        QCOMPARE(results.checkedRows(), (std::vector<int>{1, 2, 3}));
        QCOMPARE(f2.windowTitle(),
                 QStringLiteral("Chronosift [ 4 files found, 3.0 KB \u00b7 3 checked, 3.0 KB ]"));
        for (const auto& [name, size] : {std::pair{"big", 3000}, std::pair{"small", 10}}) {
            struct stat st;
            QCOMPARE(::lstat((root + "/" + name).c_str(), &st), 0);
            QVERIFY(st.st_size == size && st.st_mtime == 978307200 + size);
        }
        QCOMPARE(messages_.size(), 2);
        QCOMPARE(messages_[1], "1 file stayed in the trash:\n\n" + QString::fromStdString(root) +
                                   "/mid: its place is taken now");
        QVERIFY(f2.undoAction()->isEnabled());  // mid may still go back
        widgets::setQuestionHandler({});
        if (::access("/usr/bin/trash-list", X_OK) == 0) {
            const auto listed = testsupport::runProgram({"/usr/bin/trash-list"});
            QCOMPARE(QString::fromStdString(listed.out).count('\n'), 1);
            QVERIFY2(listed.out.ends_with(" " + root + "/mid\n"), listed.out.c_str());
        }
        // A new search, of the newer index, lists the put-back files again, unsorted, and never
        // those that went.
        press(f2, "Check1");
        QCOMPARE(results.snapshot(), app_->index());
        QCOMPARE(header->sortIndicatorSection(), -1);
        QStringList now = names();
        now.sort();
        QCOMPARE(now, (QStringList{"a/locked", "big", "keep", "small"}));

        // Undone after another search, the files come back to the disk but not into a list
        // they do not belong to.
        widgets::setQuestionHandler([](QWidget*, const QString&) { return true; });
        check({"keep"});
        press(f2, "Check3");
        widgets::setQuestionHandler({});
        QVERIFY(::access((root + "/keep").c_str(), F_OK) != 0);
        on<QRadioButton>(f2, "Option1")->click();  // after 30 June 2006: none of these
        press(f2, "Check1");
        QCOMPARE(results.rowCount(), 0);
        f2.undoAction()->trigger();
        QCOMPARE(::access((root + "/keep").c_str(), F_OK), 0);
        QCOMPARE(results.rowCount(), 0);
        on<QRadioButton>(f2, "Option2")->click();  // and the same index lists it again
        press(f2, "Check1");
        QVERIFY(names().contains("keep"));
    }

    // Undo agrees with the disk: a damaged journal is said at once; a press that moves nothing
    // leaves the last press's Undo; files that chronosift-find put back are back here too, rows
    // and all, without a word, and later searches list them; so are files it moved before the
    // index was built, once this window puts them back.
    void undoAgreesWithTheDisk() {
        const std::string root = tmp_->path() + "/files", state = tmp_->path() + "/state";
        testsupport::ScopedEnv data("XDG_DATA_HOME", tmp_->path() + "/data");
        const std::vector<std::string> env{"XDG_DATA_HOME=" + tmp_->path() + "/data",
                                           "XDG_STATE_HOME=" + state};
        makeDir(root);
        for (const char* name : {"a", "b", "c"}) {
            testsupport::makeFile(root + "/" + name, 978307200);
        }
        const std::string damaged = state + "/chronosift/press-00000000000000000001-1-0";
        makeDir(state + "/chronosift");
        testsupport::makeFile(damaged, 978307200, "chronosift press journal 2\nbogus\n");
        addRow(root);
        next();
        QTRY_COMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].contains(QString::fromStdString(damaged) + ": it is damaged"),
                 qPrintable(messages_[0]));
        ::unlink(damaged.c_str());
        Form2& f2 = *app_->form2();
        ResultsModel& results = f2.results();
        on<QRadioButton>(f2, "Option2")->click();
        // Once with every file put back by the command, once with b's place taken meanwhile, so
        // that b is left to this window.
        for (const bool partial : {false, true}) {
            press(f2, "Check1");
            QCOMPARE(results.rowCount(), partial ? 2 : 3);  // c is gone from the disk
            widgets::setQuestionHandler([](QWidget*, const QString&) { return true; });
            for (int r = 0; r < results.rowCount(); ++r) {
                results.setChecked(r, !results.snapshot()->path(results.fileAt(r)).ends_with("/c"));
            }
            press(f2, "Check3");
            if (!partial) {
                QCOMPARE(results.rowCount(), 1);
                ::unlink((root + "/c").c_str());  // so the next press moves nothing
                results.setChecked(0, true);
                press(f2, "Check3");
            }
            widgets::setQuestionHandler({});
            QCOMPARE(results.rowCount(), 0);
            messages_.clear();
            if (partial) {
                testsupport::makeFile(root + "/b", 978307200, "taken");
            }
            const auto undone = testsupport::runProgram({CHRONOSIFT_FIND, "--undo-last"}, env);
            QCOMPARE(undone.exitCode, partial ? 1 : 0);
            if (partial) {
                ::unlink((root + "/b").c_str());
            } else {
                // Undone by the command: coming back to the window brings the rows back.
                QWidget elsewhere;
                elsewhere.show();
                elsewhere.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
                f2.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&f2));
                QTRY_COMPARE(results.rowCount(), 2);
            }
            QCOMPARE(f2.undoAction()->isEnabled(), partial);
            f2.undoAction()->trigger();
            QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join("\n")));
            QCOMPARE(results.rowCount(), 2);
            QVERIFY(!f2.undoAction()->isEnabled());
            press(f2, "Check1");
            QCOMPARE(results.rowCount(), 2);
        }
        makeDir(root + "/sub");
        testsupport::makeFile(root + "/sub/d", 978307200);
        QCOMPARE(testsupport::runProgram(
                     {CHRONOSIFT_FIND, "--before", "2010-01-01", "--trash", root + "/sub"}, env)
                     .exitCode,
                 0);
        press(f2, "Check2");
        next();
        press(f2, "Check1");
        results.setChecked(0, true);
        QVERIFY(f2.undoAction()->isEnabled());
        f2.undoAction()->trigger();
        QCOMPARE(results.checkedRows(), (std::vector<int>{0, 2}));
        QVERIFY(results.snapshot()->path(results.fileAt(2)).ends_with("/sub/d"));
        press(f2, "Check1");
        QCOMPARE(results.rowCount(), 3);
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join("\n")));
    }

    // However the text is reached (a click anywhere in it, a triple-click, Ctrl+A, Tab, a
    // paste), what is typed is the text, read whole when the typing ends (Enter, Tab, Find
    // Results): exactly the typed day, or one message quoting the text while the picker keeps
    // the date it held and no search runs. Shift+F10 opens the tree's and the list's menus.
    void pickersReadTheWholeTypedText() {
        using widgets::DatePicker;
        const QLocale c = QLocale::c(), de(QLocale::German, QLocale::Germany),
                      us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(DatePicker::displayFormat(c), QStringLiteral("d MMMM yyyy"));
        QCOMPARE(DatePicker::displayFormat(de), QStringLiteral("d. MMMM yyyy"));
        QCOMPARE(DatePicker::displayFormat(us), QStringLiteral("MMMM d, yyyy"));
        QCOMPARE(DatePicker::displayFormat(QLocale(QLocale::Japanese, QLocale::Japan)),
                 QString::fromUtf8("yyyy年M月d日"));  // weekdays go wherever the locale puts them
        const auto shiftF10Opens = [](QWidget* view) {
            QString first;
            QTimer closer;
            connect(&closer, &QTimer::timeout, [&] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    first = menu->actions().first()->text();
                    menu->close();
                }
            });
            view->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(view->window()));
            view->setFocus();
            closer.start(0);
            QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
            QVERIFY2(!first.isEmpty(), view->objectName().toLatin1());
            view->activateWindow();  // the menu took it
            QVERIFY(QTest::qWaitForWindowActive(view->window()));
        };
        shiftF10Opens(on(form1(), "FolderTreeview1"));
        testsupport::makeFile(tmp_->path() + "/old", 1000000000);
        addRow(tmp_->path());
        next();
        Form2& f2 = *app_->form2();
        shiftF10Opens(on(f2, "ListView1"));
        auto* picker = on<DatePicker>(f2, "DTPicker1");
        QLineEdit* text = picker->lineEdit();
        QSignalSpy searches(&f2.results(), &QAbstractItemModel::modelReset);

        const QDate no, before(2000, 1, 1);
        struct Entry {
            QLocale locale;
            QString typed;
            QDate expected;    // none: refused
            QString why = {};  // part of the refusal
        };
        std::vector<Entry> entries = {
            {c, "15 March 2021", {2021, 3, 15}},
            {c, "14 Mar 2021", {2021, 3, 14}},
            {c, "15/3/2021", {2021, 3, 15}},
            {c, "2021-03-15", {2021, 3, 15}},
            {c, "15 marc 2021", {2021, 3, 15}},
            {c, "15 Se 2021", {2021, 9, 15}},
            {c, "29 February 2020", {2020, 2, 29}},
            {c, "1 January 1601", {1601, 1, 1}},
            {c, "31 December 9999", {9999, 12, 31}},
            {c, "15 Ma 2021", no},
            {c, "15 Ju 2021", no},
            {c, "15 Foo 2021", no},
            {c, "31 April 2021", no},
            {c, "29 February 2021", no},
            {c, "15 March 30000", no},
            {c, "15 March 1600", no},
            {c, "16 March 20", no},
            {c, "garbage", no},
            {c, "2021-02-30", no},
            {c, "15 March 2021 9", no},
            {us, "March 15, 2021", {2021, 3, 15}},
            {us, "Mar 5, 2021", {2021, 3, 5}},
            {us, "3/15/21", {2021, 3, 15}},
            {us, "3/15/45", {1945, 3, 15}},
            {us, "Ap 15, 2021", {2021, 4, 15}},
            {us, "Ma 15, 2021", no},
            {us, "15 March 2021", no, "(its day, month and year are not in the order of \u201C"},
            {de, "15. M\u00e4rz 2021", {2021, 3, 15}},
            {de, "15.03.21", {2021, 3, 15}},
            {de, "1. Okt. 2021", {2021, 10, 1}},
            {de, "15. M\u00e4 2021", {2021, 3, 15}},
            {de, "15. Ma\u0308rz 2021", {2021, 3, 15}},  // "ä" as pasted from decomposed text
            {de, "15. Maerz 2021", no},
            {de, "15. Mrz 2021", no},
            {de, "15. Ju 2021", no},
            {de, "15. M\u00e4rz 1600", no},
            {de, "29.02.2021", no},
            // Numbers alone go by the short form, month first here though the long one is not.
            {QLocale(QLocale::Spanish, QLocale::PuertoRico), "03/04/21", {2021, 3, 4}},
        };
        // Every month as a number, the day past 12 so that no order could swap the two.
        const QLocale byNumber[] = {c, us, de};
        for (int m = 1; m <= 12; ++m) {
            static const char* const kForms[] = {"%1 %2 2021", "%2/%1/2021", "%1.%2.2021"};
            entries.push_back({byNumber[m % 3], QString(kForms[m % 3]).arg(m + 12).arg(m),
                               QDate(2021, m, m + 12)});
        }
        enum Way { ClickStart, ClickMiddle, ClickEnd, TripleClick, SelectAll, TabIn, Paste };
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            const auto way = static_cast<Way>(i % 7);
            picker->setLocale(e.locale);
            picker->setDate(before);
            const QString kept = picker->currentText();
            on(f2, "Option1")->setFocus();
            messages_.clear();
            searches.clear();
            const int x = way == ClickStart ? 2
                          : way == ClickEnd ? text->width() - 2
                                            : text->width() / 2;
            if (way == TabIn) {
                QTest::keyClick(on(f2, "Option1"), Qt::Key_Tab);
            } else if (way == SelectAll) {
                picker->setFocus();
                text->setCursorPosition(3);
                QTest::keyClick(picker, Qt::Key_A, Qt::ControlModifier);
            } else {
                if (way == TripleClick) {
                    QTest::mouseDClick(text, Qt::LeftButton, {}, QPoint(x, text->height() / 2));
                }
                QTest::mouseClick(text, Qt::LeftButton, {}, QPoint(x, text->height() / 2));
            }
            if (way == Paste) {
                QGuiApplication::clipboard()->setText(e.typed);
                QTest::keyClick(picker, Qt::Key_V, Qt::ControlModifier);
            } else {
                type(picker, e.typed);
            }
            const int finish = static_cast<int>(i % 3);  // Enter, Tab, Find Results
            if (finish == 2) {
                QTest::mouseClick(button(f2, "Check1"), Qt::LeftButton);
            } else {
                QTest::keyClick(picker, finish == 0 ? Qt::Key_Return : Qt::Key_Tab);
            }
            const QString what = e.typed + " (way " + QString::number(way) + ", finish " +
                                 QString::number(finish) + "): " + picker->currentText() + " / " +
                                 messages_.join('|');
            QVERIFY2(picker->date() == (e.expected.isValid() ? e.expected : before),
                     qPrintable(what));
            QCOMPARE(searches.size(), finish == 2 && e.expected.isValid() ? 1 : 0);
            if (e.expected.isValid()) {
                QVERIFY2(messages_.isEmpty(), qPrintable(what));
                QCOMPARE(picker->currentText(),
                         e.locale.toString(e.expected, DatePicker::displayFormat(e.locale)));
            } else {
                QVERIFY2(messages_.size() == 1 &&
                             messages_[0].startsWith("\u201C" + e.typed +
                                                     "\u201D cannot be read as a date (") &&
                             messages_[0].contains("so the date stays " + kept + ".") &&
                             messages_[0].contains(e.why),
                         qPrintable(what));
                QCOMPARE(picker->currentText(), kept);
            }
        }

        // The left button on the arrow opens the calendar, whose Enter takes its day. The right
        // button, on the text or on the arrow, opens the menu alone, whose ages set the day
        // that long before today.
        picker->setLocale(c);
        picker->setDate(before);
        const QPoint arrow(picker->width() - 4, picker->height() / 2);
        QTest::mouseClick(picker, Qt::LeftButton, {}, arrow);
        auto* calendar = picker->findChild<QCalendarWidget*>();
        QVERIFY(calendar != nullptr && calendar->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!calendar->isVisible());
        QCOMPARE(picker->date(), before.addDays(1));
        // Closed without a choice, it leaves the typed text to be read.
        messages_.clear();
        text->selectAll();
        type(picker, "garbage");
        QTest::keyClick(picker, Qt::Key_F4);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!calendar->isVisible());
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(picker->date(), before.addDays(1));
        // Escape gives the typing up: the date held is back, with nothing to refuse.
        type(picker, "garbage");
        QTest::keyClick(picker, Qt::Key_Escape);
        QVERIFY(picker->currentText() == "2 January 2000" && picker->commit());
        QCOMPARE(messages_.size(), 1);
        for (QWidget* at : {static_cast<QWidget*>(text), static_cast<QWidget*>(picker)}) {
            // Through the window, which turns a right click into a context menu request.
            QTest::mouseClick(f2.windowHandle(), Qt::RightButton, {},
                              at->mapTo(&f2, at == text ? QPoint(4, 4) : arrow));
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr && !calendar->isVisible());
            QCOMPARE(menu->actions().last()->text(), QStringLiteral("5 years ago"));
            menu->actions()[menu->actions().size() - 6]->trigger();
            QCOMPARE(picker->date(), QDate::currentDate().addMonths(-1));  // Qt's own calendar
            menu->close();
        }
    }
};

QTEST_MAIN(DatePageTest)
#include "date_page_test.moc"
