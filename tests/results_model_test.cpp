// The results list's model, on real index snapshots.
#include <QAbstractItemModelTester>
#include <QItemSelection>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <map>
#include <numeric>
#include <tuple>

#include "index/build.h"
#include "index/calendar.h"
#include "recycle/recycling_bin.h"
#include "search/results_model.h"
#include "support/temp_tree.h"

using namespace chronosift;

class ResultsModelTest : public QObject {
    Q_OBJECT

    testsupport::TempDir tmp_;
    IndexSnapshot index_;

    // An index of `n` files named 0 … n−1 (enumeration order decides their ids).
    IndexSnapshot makeIndex(int n) {
        for (int i = 0; i < n; ++i) {
            testsupport::makeFile(tmp_ / std::to_string(i), 1151668800 + i);
        }
        return buildIndex({tmp_.path() + "/"});
    }

    template <typename T = FileId>
    static std::vector<T> firstIds(size_t n) {
        std::vector<T> ids(n);
        std::iota(ids.begin(), ids.end(), T{0});
        return ids;
    }

  private slots:
    void initTestCase() { index_ = makeIndex(300); }

    // "Check Matching…": a glob on the name alone, case-insensitive or not, and size bounds that
    // take in files of exactly their size change only the matching rows' checks, in one change
    // that spans them all, with the totals following; other rows keep theirs.
    void checkMatchingByRule() {
        testsupport::TempDir dir;
        const std::map<std::string, uint64_t> files = {
            {"a.log", 2000}, {"B.LOG", 10}, {"c.txt", 1000000}, {"d.log~", 3000}, {"e.log", 1500}};
        for (const auto& [name, size] : files) {
            testsupport::makeFile(dir / name, 1000000000, std::string(size, 'x'));
        }
        const IndexSnapshot index = buildIndex({dir.path() + "/"});
        ResultsModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRows(index, firstIds(index->fileCount()));
        QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
        const std::vector<std::pair<CheckRule, std::vector<std::string>>> cases = {
            {{"*.log", false, {}, {}}, {"a.log", "e.log"}},
            {{"*.LOG", true, {}, {}}, {"B.LOG", "a.log", "e.log"}},
            {{"a*", false, {}, {}}, {"a.log"}},
            {{"?.log", true, {}, {}}, {"B.LOG", "a.log", "e.log"}},
            {{"[bc].*", true, {}, {}}, {"B.LOG", "c.txt"}},
            {{"[bc].*", false, {}, {}}, {"c.txt"}},
            {{"*", true, 1000000, {}}, {"c.txt"}},
            {{"*", true, 1500, 3000}, {"a.log", "d.log~", "e.log"}},
            {{"*", true, {}, 1500}, {"B.LOG", "e.log"}}};
        for (const bool check : {true, false}) {
            for (const auto& [rule, expected] : cases) {
                model.setAllChecked(!check);
                changes.clear();
                QCOMPARE(model.setCheckedMatching(rule, check), expected.size());
                std::vector<int> rows;
                std::vector<std::string> names;
                uint64_t bytes = 0;
                for (int row = 0; row < model.rowCount(); ++row) {
                    if (model.isChecked(row) == check) {
                        rows.push_back(row);
                        names.emplace_back(index->name(model.fileAt(row)));
                        bytes += files.at(names.back());
                    }
                }
                std::sort(names.begin(), names.end());
                QCOMPARE(names, expected);
                QCOMPARE(changes.size(), 1);
                QVERIFY(changes[0][0].toModelIndex().row() <= rows.front() &&
                        changes[0][1].toModelIndex().row() >= rows.back());
                QCOMPARE(model.totals().checkedBytes, check ? bytes : 1006510 - bytes);
            }
        }
    }

    void checksUnderTheModelTester() {
        ResultsModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRows(index_, firstIds(200));
        QCOMPARE(model.rowCount(), 200);
        QCOMPARE(model.columnCount(), 3);
        for (const auto& [column, title] : {std::pair{0, "Entire Filename"},
                                            std::pair{1, "Last Modified"}, std::pair{2, "Size"}}) {
            QCOMPARE(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(),
                     QString(title));
        }
        QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable);
        for (const int role : {Qt::DisplayRole, Qt::ToolTipRole}) {  // the tip: a path whole
            QCOMPARE(model.data(model.index(5, 0), role).toString(),
                     QString::fromStdString(index_->path(5)));
        }
        QVERIFY(model.checkedRows().empty());

        QVERIFY(model.setData(model.index(3, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(model.data(model.index(3, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        model.setChecked(130, true);
        QCOMPARE(model.checkedRows(), (std::vector<int>{3, 130}));

        // A new set of rows starts unchecked.
        model.setRows(index_, firstIds(10));
        QVERIFY(model.checkedRows().empty());

        // Check All, and checking a selection, are one ranged change (a range each).
        std::vector<FileId> ids(1000003, 7);  // rows may name the same file; only ids are kept
        model.setRows(index_, std::move(ids));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setAllChecked(true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 0);
        QCOMPARE(changed[0][1].toModelIndex().row(), 1000002);
        QCOMPARE(model.checkedRows().size(), 1000003u);
        QVERIFY(model.bytesUsed() <= 1000003 * 8);
        model.setAllChecked(false);
        QVERIFY(model.checkedRows().empty());

        QItemSelection selection;
        selection.select(model.index(10, 0), model.index(19, 1));
        selection.select(model.index(500000, 0), model.index(500001, 1));
        changed.clear();
        model.setCheckedRows(selection, true);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(model.checkedRows().size(), 12u);
        QCOMPARE(model.checkedRows().back(), 500001);
        // Locked while another thread reads the checks: no way of changing one does anything.
        model.setLocked(true);
        model.setAllChecked(true);
        model.setCheckedRows(selection, false);
        model.setChecked(0, true);
        QVERIFY(!model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(model.setCheckedMatching(CheckRule{}, true), 0u);
        QCOMPARE(model.checkedRows().size(), 12u);
        QCOMPARE(changed.count(), 2);
    }

    // Scattered, contiguous and all rows, worked out before or after checks change: the kept
    // rows keep their files, checks and persistent indexes (a view's selection); indexes of
    // removed rows become invalid; the totals follow.
    void removingAnySetOfRows() {
        // Every other row is many rows, which are found by file id rather than one by one.
        std::vector<int> odd;
        for (int row = 1; row < 200; row += 2) {
            odd.push_back(row);
        }
        const std::vector<std::vector<int>> cases = {{0, 2, 4, 63, 64, 127, 128, 199},
                                                     {10, 11, 12, 13, 14, 15},
                                                     {},
                                                     odd,
                                                     firstIds<int>(200)};
        for (size_t c = 0; c < cases.size(); ++c) {
            const std::vector<int>& removed = cases[c];
            ResultsModel model;
            QAbstractItemModelTester tester(&model,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.setRows(index_, firstIds(200));
            // Worked out before the checks below change, every other case: a stale plan.
            const ResultsModel::Removal early = model.planRemoval(removed);
            std::vector<std::pair<FileId, bool>> expected;
            std::vector<QPersistentModelIndex> held;
            for (int row = 0; row < 200; ++row) {
                model.setChecked(row, row % 3 == 0);
                held.emplace_back(model.index(row, row % 2));
                if (!std::binary_search(removed.begin(), removed.end(), row)) {
                    expected.emplace_back(model.fileAt(row), row % 3 == 0);
                }
            }
            model.removeRows(c % 2 == 0 ? early : model.planRemoval(removed));
            QCOMPARE(model.rowCount(), static_cast<int>(expected.size()));
            for (int row = 0; row < model.rowCount(); ++row) {
                QCOMPARE(model.fileAt(row), expected[row].first);
                QCOMPARE(model.isChecked(row), expected[row].second);
            }
            for (int old = 0; old < 200; ++old) {
                const bool gone = std::binary_search(removed.begin(), removed.end(), old);
                QCOMPARE(held[old].isValid(), !gone);
                if (!gone) {
                    QCOMPARE(model.fileAt(held[old].row()), static_cast<FileId>(old));
                    QCOMPARE(held[old].column(), old % 2);
                }
            }
            const auto checked = static_cast<size_t>(std::count_if(
                expected.begin(), expected.end(), [](const auto& e) { return e.second; }));
            QCOMPARE(model.checkedRows().size(), checked);
            QCOMPARE(model.totals().checked, checked);
            QCOMPARE(model.totals().rows, expected.size());
        }
    }

    // Each column sorts with ties in index order, descending is the exact reverse, and checks,
    // persistent indexes and totals stay with their files.
    void sortingKeepsChecksWithTheirFiles() {
        testsupport::TempDir tmp;
        // name, time, size; "b" and "b c" order the folders differently from their files, and
        // as two search folders given "b" first; a folder's files come before its subfolders',
        // which go A to Z; one time is before 1970.
        const std::vector<std::tuple<std::string, int64_t, int>> files = {
            {"b/z", 1000000300, 5},
            {"b/s/a", 1000000100, 0},
            {"b c/m", 1000000200, 7},
            {"b c/t", 1000000100, 2000},
            {"b/r/y", -31536000, 1}};
        for (const auto& [name, time, size] : files) {
            testsupport::makeDir(tmp / name.substr(0, name.rfind('/')));
            testsupport::makeFile(tmp / name, time, std::string(size, 'x'));
        }
        const auto index = buildIndex({tmp / "b/", tmp / "b c/"});
        ResultsModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRows(index, firstIds(index->fileCount()));
        QCOMPARE(model.totals().bytes, 2013u);
        const auto names = [&] {
            QStringList out;
            for (int r = 0; r < model.rowCount(); ++r) {
                out << QString::fromStdString(index->path(model.fileAt(r)))
                           .mid(static_cast<int>(tmp.path().size()) + 1);
            }
            return out;
        };
        const QStringList inIndexOrder = names();
        int rowOfY = static_cast<int>(inIndexOrder.indexOf("b/r/y"));
        model.setChecked(rowOfY, true);
        QPersistentModelIndex heldY = model.index(rowOfY, 1);

        const std::vector<std::pair<int, QStringList>> cases = {
            {0, {"b c/m", "b c/t", "b/z", "b/r/y", "b/s/a"}},
            {1, {"b/r/y", "b/s/a", "b c/t", "b c/m", "b/z"}},  // a tie, in index order
            {2, {"b/s/a", "b/r/y", "b/z", "b c/m", "b c/t"}},
        };
        for (const auto& [column, expected] : cases) {
            // Each sort starts from the order shown, not index order: ties still take index order.
            model.sort(column, Qt::DescendingOrder);
            QStringList reversed = names();
            std::reverse(reversed.begin(), reversed.end());
            model.sort(column, Qt::AscendingOrder);
            QCOMPARE(names(), expected);
            QCOMPARE(reversed, expected);
            rowOfY = static_cast<int>(names().indexOf("b/r/y"));
            QCOMPARE(model.checkedRows(), (std::vector<int>{rowOfY}));
            QCOMPARE(heldY.row(), rowOfY);
        }
        QCOMPARE(model.totals().checked, 1u);
        QCOMPARE(model.totals().checkedBytes, 1u);
        // A sort cancelled on its thread gives no order to apply.
        const std::atomic<bool> cancel{true};
        QVERIFY(model.orderBy(1, Qt::DescendingOrder, &cancel).empty());
        QCOMPARE(model.orderBy(1, Qt::DescendingOrder).size(), 5u);
        // Rows put back (by Undo) take their places in the order shown, checked, even when
        // another row left after their places were worked out.
        model.sort(2, Qt::DescendingOrder);
        QStringList shown = names();  // b c/t, b c/m, b/z, b/r/y, b/s/a
        const std::vector<FileId> back = {model.fileAt(0), model.fileAt(2)};
        model.removeRowsAt({0, 2});
        const ResultsModel::Insertion early = model.planInsertion(back);
        model.removeRowsAt({2});
        model.insertFiles(early);
        shown.removeOne("b/s/a");
        QCOMPARE(names(), shown);
        QCOMPARE(model.checkedRows(), (std::vector<int>{0, 2, 3}));
        model.sort(-1);
        QStringList left = inIndexOrder;
        left.removeOne("b/s/a");
        QCOMPARE(names(), left);
        // A new search is listed unsorted, and a click on the column sorted last sorts it again.
        model.sort(2);
        model.setRows(index, firstIds(index->fileCount()));
        QCOMPARE(names(), inIndexOrder);
        model.sort(2);
        QCOMPARE(names(), cases[2].second);

        // A folder's files by name, whatever order the disk lists them in: eight made in no
        // order, which neither a hashed folder nor one listed newest first gives sorted.
        testsupport::TempDir eight;
        for (const char* name : {"h", "c", "f", "a", "g", "d", "b", "e"}) {
            testsupport::makeFile(eight / name, 1000000000);
        }
        const auto listed = buildIndex({eight.path() + "/"});
        ResultsModel byPath;
        byPath.setRows(listed, firstIds(listed->fileCount()));
        byPath.sort(0);
        std::string got;
        for (int r = 0; r < byPath.rowCount(); ++r) {
            got += listed->path(byPath.fileAt(r)).back();
        }
        QCOMPARE(got, std::string("abcdefgh"));
    }

    void lastModifiedTexts() {
        testsupport::ScopedTimeZone tz("Europe/Berlin");
        platform::LocalZone zone;
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        const int64_t afternoon = testsupport::localTime(2006, 6, 30, 14, 6, 7);
        const int64_t midnight = testsupport::localTime(2006, 6, 30);
        QCOMPARE(lastModifiedText(afternoon, zone, us), QStringLiteral("6/30/2006 2:06:07 PM"));
        QCOMPARE(lastModifiedText(midnight, zone, us), QStringLiteral("6/30/2006"));
        QCOMPARE(lastModifiedText(midnight + 1, zone, us), QStringLiteral("6/30/2006 12:00:01 AM"));
        QCOMPARE(lastModifiedText(kNoTime, zone, us), QString());
        const QLocale de(QLocale::German, QLocale::Germany);
        QCOMPARE(lastModifiedText(afternoon, zone, de), QStringLiteral("30.06.2006 14:06:07"));
        // Years past what a QDate holds print whole.
        testsupport::ScopedTimeZone utc("UTC");
        platform::LocalZone utcZone;
        for (const int64_t year : {int64_t{10000}, int64_t{3000000000}}) {
            const int64_t at = (dayNumber({year, 2, 29}) - dayNumber({1970, 1, 1})) * 86400 + 5;
            QCOMPARE(lastModifiedText(at, utcZone, us),
                     QStringLiteral("2/29/%1 12:00:05 AM").arg(year));
        }
    }

    // Run with LC_ALL=de_DE.UTF-8: the model follows the user's locale.
    void localeDisplay() {
        if (qgetenv("LC_ALL") != "de_DE.UTF-8") {
            QSKIP("runs as its own test with LC_ALL=de_DE.UTF-8");
        }
        testsupport::ScopedTimeZone tz("UTC");
        testsupport::TempDir tmp;
        testsupport::makeFile(tmp / "midnight", testsupport::utcTime(2006, 6, 30));
        testsupport::makeFile(tmp / "later", testsupport::utcTime(2006, 6, 30, 14, 6, 7));
        const auto index = buildIndex({tmp.path() + "/"});
        ResultsModel model;
        model.setRows(index, firstIds(2));
        QStringList cells;
        for (int row = 0; row < 2; ++row) {
            cells << model.data(model.index(row, 1), Qt::DisplayRole).toString();
        }
        cells.sort();
        QCOMPARE(cells, (QStringList{"30.06.2006", "30.06.2006 14:06:07"}));
        QCOMPARE(QString::fromStdString(confirmationText(252000, 1)),
                 QStringLiteral("Move 252.000 checked files (1 byte) to the trash?"));
    }
};

QTEST_GUILESS_MAIN(ResultsModelTest)
#include "results_model_test.moc"
