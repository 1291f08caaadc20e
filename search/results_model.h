// The results list: the ids of the matching files of one index snapshot, with one check bit a
// row. Rows are never copies of the index; paths, times and sizes are made only for the rows
// shown. Totals of the rows and of the checked rows are kept up to date as rows change, never
// recounted.
#pragma once

#include <QAbstractTableModel>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "index/file_index.h"
#include "platform/local_zone.h"
#include "search/check_rule.h"

class QItemSelection;

namespace chronosift {

// The "Last Modified" text of an index time: the locale's short date (with the year in full), a
// blank and the long time to the second, or the date alone at exactly 00:00:00; empty without a
// time.
QString lastModifiedText(int64_t utcSeconds, platform::LocalZone& zone, const QLocale& locale);

class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit ResultsModel(QObject* parent = nullptr, QLocale locale = QLocale::system());

    // Replaces every row: the files `ids` of `index` (in index order), all unchecked and
    // unsorted. The model keeps the snapshot, so it outlives a newer build. `bytes` is their
    // total size (bytesOf), worked out beforehand on another thread, or here when not given.
    void setRows(IndexSnapshot index, std::vector<FileId> ids,
                 std::optional<uint64_t> bytes = std::nullopt);
    // The total size of the files `ids` (in index order) of `index`.
    static uint64_t bytesOf(const FileIndex* index, const std::vector<FileId>& ids);
    const IndexSnapshot& snapshot() const { return index_; }
    FileId fileAt(int row) const { return ids_[static_cast<size_t>(row)]; }

    bool isChecked(int row) const {
        return (checks_[static_cast<size_t>(row) >> 6] >> (row & 63)) & 1;
    }
    void setChecked(int row, bool checked);
    // Every row, in one change.
    void setAllChecked(bool checked);
    // The rows of a selection, one change a range.
    void setCheckedRows(const QItemSelection& selection, bool checked);
    // Checks (or unchecks) every row whose file matches the rule, in one change; other rows and
    // the rows themselves stay. Returns how many rows changed.
    size_t setCheckedMatching(const CheckRule& rule, bool checked);
    // The same in two steps, so that the long one can run on another thread: which rows would
    // change (reading the rows, their checks and the index only), then changing them. When any
    // row or check changed in between, the second step works the rule out again itself.
    struct CheckPlan {
        CheckRule rule;
        bool checked = true;
        uint64_t version = 0;
        std::vector<uint64_t> rows;  // one bit a row that changes
        size_t count = 0;
        uint64_t bytes = 0;
        int first = -1;
        int last = -1;
    };
    // Set, `cancel` stops the first step within a moment (its plan is then to be dropped).
    CheckPlan planMatching(const CheckRule& rule, bool checked,
                           const std::atomic<bool>* cancel = nullptr) const;
    size_t applyMatching(const CheckPlan& plan);
    // While set, no check changes, from the view or from the calls above (work on another
    // thread is reading them); those calls do nothing meanwhile.
    void setLocked(bool locked) { locked_ = locked; }
    // The checked rows, top to bottom.
    std::vector<int> checkedRows() const;
    // Removes these rows (ascending), keeping the others and their checks.
    void removeRowsAt(const std::vector<int>& rows);
    // The same in two steps, so that the long one can run on another thread: what the rows
    // hold (reading the rows, their checks and the index only), then removing them. When any
    // row or check changed in between, the second step works it out again itself.
    struct Removal {
        std::vector<int> rows;
        uint64_t version = 0;
        uint64_t bytes = 0;
        uint64_t checkedBytes = 0;
        size_t checked = 0;
    };
    Removal planRemoval(std::vector<int> rows) const;
    void removeRows(const Removal& removal);
    // Adds files of this snapshot back as checked rows, each in its place in the current order.
    void insertFiles(const std::vector<FileId>& files);
    // The same in two steps, so that the long one can run on another thread: the rows' order
    // with the files added and their sizes (reading the rows and the index only), then adding
    // them. When any row or check changed in between, the second step works it out again.
    struct Insertion {
        std::vector<FileId> files;
        uint64_t version = 0;
        uint64_t bytes = 0;
        std::vector<uint32_t> from = {};  // new row -> row of the rows followed by the files
    };
    Insertion planInsertion(std::vector<FileId> files) const;
    void insertFiles(const Insertion& insertion);

    struct Totals {
        size_t rows = 0;
        uint64_t bytes = 0;
        size_t checked = 0;
        uint64_t checkedBytes = 0;
    };
    const Totals& totals() const { return totals_; }
    uint64_t sizeAt(int row) const;

    // Orders the rows by a column: 0 by folder, then name (bytes); 1 by time; 2 by size; ties in
    // index order. Descending is the exact reverse. Column -1 is index order. Checks, selection
    // and the current row stay with their files.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Sorting in two steps, so that the long one can run on another thread: whether the column
    // and order differ from the current ones, the rows' new order (reading the rows and the
    // index only; new row -> old row), then putting the rows in it.
    bool sortChanges(int column, Qt::SortOrder order) const;
    std::vector<uint32_t> orderBy(int column, Qt::SortOrder order,
                                  const std::atomic<bool>* cancel = nullptr) const;
    void applyOrder(int column, Qt::SortOrder order, const std::vector<uint32_t>& from);
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }

    // Memory for the rows, beyond the index.
    size_t bytesUsed() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  signals:
    void totalsChanged();

  private:
    void setBit(size_t row, bool on);
    // Sets a row's check and keeps the totals.
    void changeCheck(size_t row, bool on);
    // Puts the rows in the order `from` (new row → old row), moving checks and persistent
    // indexes with them.
    void permute(const std::vector<uint32_t>& from);

    IndexSnapshot index_;
    uint64_t version_ = 0;  // counts the changes of rows and checks
    bool locked_ = false;
    std::vector<FileId> ids_;
    std::vector<uint64_t> checks_;
    Totals totals_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QLocale locale_;
    mutable platform::LocalZone zone_;
};

}  // namespace chronosift
