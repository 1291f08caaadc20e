#include "search/results_model.h"

#include <QItemSelection>
#include <algorithm>
#include <unordered_map>

#include "index/calendar.h"
#include "platform/text.h"
#include "search/order.h"

namespace chronosift {

namespace {

QString shortDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::ShortFormat);
    // Two-digit years are ambiguous for files spread over decades.
    if (!format.contains(QStringLiteral("yyyy"))) {
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    }
    return format;
}

QString longTimeFormat(const QLocale& locale) {
    // The long time without its zone name: the offset in force is already applied.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

}  // namespace

QString lastModifiedText(int64_t utcSeconds, platform::LocalZone& zone, const QLocale& locale) {
    if (utcSeconds == kNoTime) {
        return {};
    }
    const int64_t local = zone.localSeconds(utcSeconds);
    const int64_t day = dayNumberOfSeconds(local);
    const int64_t secondOfDay = local - (day - dayNumber({1970, 1, 1})) * 86400;
    const CivilDate civil = civilDate(day);
    QString text;
    if (civil.year >= 1 && civil.year <= 9999) {
        const QDate date(static_cast<int>(civil.year), static_cast<int>(civil.month),
                         static_cast<int>(civil.day));
        text = locale.toString(date, shortDateFormat(locale));
    } else {
        // QDate holds an int year: the same day in 2000 (a leap year, so 29 February exists)
        // gives the locale's layout, and the real year takes the place of "2000".
        const QDate stand(2000, static_cast<int>(civil.month), static_cast<int>(civil.day));
        text = locale.toString(stand, shortDateFormat(locale));
        text.replace(locale.toString(stand, QStringLiteral("yyyy")),
                     QString::number(static_cast<qlonglong>(civil.year)));
    }
    if (secondOfDay != 0) {
        const QTime time(static_cast<int>(secondOfDay / 3600),
                         static_cast<int>(secondOfDay / 60 % 60),
                         static_cast<int>(secondOfDay % 60));
        text += QLatin1Char(' ');
        text += locale.toString(time, longTimeFormat(locale));
    }
    return text;
}

ResultsModel::ResultsModel(QObject* parent, QLocale locale)
    : QAbstractTableModel(parent), locale_(std::move(locale)) {}

void ResultsModel::setRows(IndexSnapshot index, std::vector<FileId> ids,
                           std::optional<uint64_t> bytes) {
    const uint64_t total = bytes ? *bytes : bytesOf(index.get(), ids);
    beginResetModel();
    ++version_;
    index_ = std::move(index);
    ids_ = std::move(ids);
    ids_.shrink_to_fit();
    checks_.assign((ids_.size() + 63) / 64, 0);
    sortColumn_ = -1;
    sortOrder_ = Qt::AscendingOrder;
    totals_ = {ids_.size(), total, 0, 0};
    endResetModel();
    emit totalsChanged();
}

uint64_t ResultsModel::bytesOf(const FileIndex* index, const std::vector<FileId>& ids) {
    uint64_t bytes = 0;
    if (index != nullptr) {
        // The ids come in index order, so the folders are walked once, in step with them.
        FolderId folder = 0;
        for (const FileId id : ids) {
            folder = index->folderFrom(folder, id);
            const FileIndex::Folder& f = index->folder(folder);
            bytes += f.fileSize(id - f.firstFile);
        }
    }
    return bytes;
}

uint64_t ResultsModel::sizeAt(int row) const {
    return index_ == nullptr ? 0 : index_->size(ids_[static_cast<size_t>(row)]);
}

void ResultsModel::setBit(size_t row, bool on) {
    const uint64_t mask = uint64_t{1} << (row & 63);
    if (on) {
        checks_[row >> 6] |= mask;
    } else {
        checks_[row >> 6] &= ~mask;
    }
}

void ResultsModel::changeCheck(size_t row, bool on) {
    if (isChecked(static_cast<int>(row)) == on) {
        return;
    }
    setBit(row, on);
    ++version_;
    const uint64_t size = sizeAt(static_cast<int>(row));
    if (on) {
        ++totals_.checked;
        totals_.checkedBytes += size;
    } else {
        --totals_.checked;
        totals_.checkedBytes -= size;
    }
}

void ResultsModel::setChecked(int row, bool checked) {
    if (locked_ || row < 0 || row >= rowCount() || isChecked(row) == checked) {
        return;
    }
    changeCheck(static_cast<size_t>(row), checked);
    const QModelIndex at = index(row, 0);
    emit dataChanged(at, at, {Qt::CheckStateRole});
    emit totalsChanged();
}

void ResultsModel::setAllChecked(bool checked) {
    if (locked_ || ids_.empty()) {
        return;
    }
    ++version_;
    std::fill(checks_.begin(), checks_.end(), checked ? ~uint64_t{0} : 0);
    if (checked && ids_.size() % 64 != 0) {
        checks_.back() = (uint64_t{1} << (ids_.size() % 64)) - 1;  // no bits past the last row
    }
    totals_.checked = checked ? totals_.rows : 0;
    totals_.checkedBytes = checked ? totals_.bytes : 0;
    emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
    emit totalsChanged();
}

void ResultsModel::setCheckedRows(const QItemSelection& selection, bool checked) {
    if (locked_) {
        return;
    }
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            changeCheck(static_cast<size_t>(row), checked);
        }
        emit dataChanged(index(range.top(), 0), index(range.bottom(), 0), {Qt::CheckStateRole});
    }
    emit totalsChanged();
}

size_t ResultsModel::setCheckedMatching(const CheckRule& rule, bool checked) {
    return applyMatching(planMatching(rule, checked));
}

ResultsModel::CheckPlan ResultsModel::planMatching(const CheckRule& rule, bool checked,
                                                   const std::atomic<bool>* cancel) const {
    CheckPlan plan{rule, checked, version_, std::vector<uint64_t>(checks_.size(), 0)};
    if (index_ == nullptr) {
        return plan;
    }
    // In file id order, so that each folder is found once, not looked up for every row.
    FolderId folder = 0;
    size_t seen = 0;
    for (const auto& [id, row] : rowsById(ids_)) {
        if ((++seen & 0xFFFF) == 0 && cancel != nullptr && *cancel) {
            break;
        }
        if (isChecked(static_cast<int>(row)) == checked) {
            continue;
        }
        folder = index_->folderFrom(folder, id);
        const FileIndex::Folder& f = index_->folder(folder);
        const uint64_t size = f.fileSize(id - f.firstFile);
        if (rule.matches(f.fileName(id - f.firstFile), size)) {
            plan.rows[row >> 6] |= uint64_t{1} << (row & 63);
            ++plan.count;
            plan.bytes += size;
            const auto r = static_cast<int>(row);
            plan.first = plan.first < 0 ? r : std::min(plan.first, r);
            plan.last = std::max(plan.last, r);
        }
    }
    return plan;
}

size_t ResultsModel::applyMatching(const CheckPlan& plan) {
    if (locked_) {
        return 0;
    }
    if (plan.version != version_) {
        return applyMatching(planMatching(plan.rule, plan.checked));
    }
    if (plan.count == 0) {
        return 0;
    }
    ++version_;
    // The plan holds only rows whose check differs, so each is flipped.
    for (size_t w = 0; w < checks_.size(); ++w) {
        checks_[w] ^= plan.rows[w];
    }
    if (plan.checked) {
        totals_.checked += plan.count;
        totals_.checkedBytes += plan.bytes;
    } else {
        totals_.checked -= plan.count;
        totals_.checkedBytes -= plan.bytes;
    }
    emit dataChanged(index(plan.first, 0), index(plan.last, 0), {Qt::CheckStateRole});
    emit totalsChanged();
    return plan.count;
}

std::vector<int> ResultsModel::checkedRows() const {
    std::vector<int> rows;
    rows.reserve(totals_.checked);
    for (size_t w = 0; w < checks_.size(); ++w) {
        for (uint64_t bits = checks_[w]; bits != 0; bits &= bits - 1) {
            rows.push_back(static_cast<int>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits))));
        }
    }
    return rows;
}

void ResultsModel::removeRowsAt(const std::vector<int>& rows) {
    removeRows(planRemoval(rows));
}

ResultsModel::Removal ResultsModel::planRemoval(std::vector<int> rows) const {
    Removal plan{std::move(rows), version_};
    const auto add = [&](int row, uint64_t size) {
        plan.bytes += size;
        if (isChecked(row)) {
            ++plan.checked;
            plan.checkedBytes += size;
        }
    };
    if (index_ == nullptr || plan.rows.size() * 32 < index_->fileCount()) {
        for (const int row : plan.rows) {
            add(row, sizeAt(row));  // a lookup a row: fine for a few
        }
        return plan;
    }
    // Many rows: taken in file id order, so that every folder is passed once, in step, rather
    // than searched for each row.
    std::vector<FileId> gone(plan.rows.size());
    for (size_t k = 0; k < plan.rows.size(); ++k) {
        gone[k] = ids_[static_cast<size_t>(plan.rows[k])];
    }
    FolderId folder = 0;
    for (const auto& [id, k] : rowsById(gone)) {
        folder = index_->folderFrom(folder, id);
        const FileIndex::Folder& f = index_->folder(folder);
        add(plan.rows[k], f.fileSize(id - f.firstFile));
    }
    return plan;
}

void ResultsModel::removeRows(const Removal& plan) {
    if (plan.version != version_) {
        removeRows(planRemoval(plan.rows));
        return;
    }
    const std::vector<int>& rows = plan.rows;
    if (rows.empty()) {
        return;
    }
    // One layout change for any set of rows: removing run by run would shift every row below
    // once per run. Persistent indexes (the view's selection and current row) move with their
    // rows, or become invalid with a removed row.
    emit layoutAboutToBeChanged();
    const auto newRow = [&](int row) {
        const auto at = std::lower_bound(rows.begin(), rows.end(), row);
        return at != rows.end() && *at == row ? -1 : row - static_cast<int>(at - rows.begin());
    };
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        const int row = newRow(old.row());
        after.append(row < 0 ? QModelIndex() : createIndex(row, old.column()));
    }
    ++version_;
    totals_.rows -= rows.size();
    totals_.bytes -= plan.bytes;
    totals_.checked -= plan.checked;
    totals_.checkedBytes -= plan.checkedBytes;
    size_t kept = 0;
    size_t next = 0;  // into rows
    for (size_t r = 0; r < ids_.size(); ++r) {
        if (next < rows.size() && static_cast<size_t>(rows[next]) == r) {
            ++next;
            continue;
        }
        ids_[kept] = ids_[r];
        setBit(kept, (checks_[r >> 6] >> (r & 63)) & 1);
        ++kept;
    }
    ids_.resize(kept);
    checks_.resize((kept + 63) / 64);
    if (kept % 64 != 0) {
        checks_.back() &= (uint64_t{1} << (kept % 64)) - 1;
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
    emit totalsChanged();
}

void ResultsModel::insertFiles(const std::vector<FileId>& files) {
    insertFiles(planInsertion(files));
}

ResultsModel::Insertion ResultsModel::planInsertion(std::vector<FileId> files) const {
    Insertion plan{std::move(files), version_};
    if (plan.files.empty()) {
        return plan;
    }
    for (const FileId id : plan.files) {
        plan.bytes += index_ == nullptr ? 0 : index_->size(id);
    }
    std::vector<FileId> all;
    all.reserve(ids_.size() + plan.files.size());
    all.insert(all.end(), ids_.begin(), ids_.end());
    all.insert(all.end(), plan.files.begin(), plan.files.end());
    plan.from = sortedOrder(index_.get(), all, sortColumn_, sortOrder_ == Qt::DescendingOrder);
    return plan;
}

void ResultsModel::insertFiles(const Insertion& plan) {
    if (plan.version != version_) {
        insertFiles(planInsertion(plan.files));
        return;
    }
    if (plan.files.empty()) {
        return;
    }
    const size_t first = ids_.size();
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + plan.files.size()) - 1);
    ++version_;
    ids_.insert(ids_.end(), plan.files.begin(), plan.files.end());
    checks_.resize((ids_.size() + 63) / 64, 0);
    for (size_t row = first; row < ids_.size(); ++row) {
        setBit(row, true);
    }
    totals_.rows = ids_.size();
    totals_.bytes += plan.bytes;
    totals_.checked += plan.files.size();
    totals_.checkedBytes += plan.bytes;
    endInsertRows();
    permute(plan.from);
    emit totalsChanged();
}

bool ResultsModel::sortChanges(int column, Qt::SortOrder order) const {
    column = column >= 0 && column <= 2 ? column : -1;
    return column != sortColumn_ || (column >= 0 && order != sortOrder_);
}

std::vector<uint32_t> ResultsModel::orderBy(int column, Qt::SortOrder order,
                                            const std::atomic<bool>* cancel) const {
    return sortedOrder(index_.get(), ids_, column, order == Qt::DescendingOrder, cancel);
}

void ResultsModel::applyOrder(int column, Qt::SortOrder order, const std::vector<uint32_t>& from) {
    column = column >= 0 && column <= 2 ? column : -1;
    sortColumn_ = column;
    sortOrder_ = column < 0 ? Qt::AscendingOrder : order;
    permute(from);
}

void ResultsModel::sort(int column, Qt::SortOrder order) {
    if (sortChanges(column, order)) {
        applyOrder(column, order, orderBy(column, order));
    }
}

void ResultsModel::permute(const std::vector<uint32_t>& from) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    ++version_;
    std::vector<FileId> ids(ids_.size());
    std::vector<uint64_t> checks(checks_.size(), 0);
    for (size_t r = 0; r < from.size(); ++r) {
        const uint32_t old = from[r];
        ids[r] = ids_[old];
        checks[r >> 6] |= ((checks_[old >> 6] >> (old & 63)) & 1) << (r & 63);
    }
    ids_ = std::move(ids);
    checks_ = std::move(checks);
    const QModelIndexList before = persistentIndexList();
    if (!before.empty()) {
        // Only the rows the view holds on to (its selection and current row) need their new
        // places, found in one pass rather than by a full inverse of the order.
        std::vector<uint64_t> held(checks_.size(), 0);
        for (const QModelIndex& old : before) {
            const auto row = static_cast<size_t>(old.row());
            held[row >> 6] |= uint64_t{1} << (row & 63);
        }
        std::unordered_map<uint32_t, int> to;
        for (size_t r = 0; r < from.size(); ++r) {
            if ((held[from[r] >> 6] >> (from[r] & 63)) & 1) {
                to[from[r]] = static_cast<int>(r);
            }
        }
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& old : before) {
            after.append(createIndex(to[static_cast<uint32_t>(old.row())], old.column()));
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

size_t ResultsModel::bytesUsed() const {
    return ids_.capacity() * sizeof(FileId) + checks_.capacity() * sizeof(uint64_t);
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant ResultsModel::data(const QModelIndex& idx, int role) const {
    if (!checkIndex(idx, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const FileId id = ids_[static_cast<size_t>(idx.row())];
    if (role == Qt::CheckStateRole && idx.column() == 0) {
        return isChecked(idx.row()) ? Qt::Checked : Qt::Unchecked;
    }
    if (idx.column() == 2) {
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        }
        const uint64_t size = index_->size(id);
        if (role == Qt::DisplayRole) {
            return QString::fromStdString(platform::sizeText(size));
        }
        if (role == Qt::ToolTipRole) {
            return locale_.toString(static_cast<qulonglong>(size)) + QStringLiteral(" bytes");
        }
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    if (idx.column() == 0) {
        return QString::fromStdString(platform::displayText(index_->path(id)));
    }
    return lastModifiedText(index_->time(id), zone_, locale_);
}

bool ResultsModel::setData(const QModelIndex& idx, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || idx.column() != 0 || locked_ ||
        !checkIndex(idx, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return false;
    }
    setChecked(idx.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& idx) const {
    if (!idx.isValid()) {
        return Qt::NoItemFlags;
    }
    // A flat list: saying so spares a tree view asking each row for children when it lays out
    // or refreshes millions of them.
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (idx.column() == 0) {
        f |= Qt::ItemIsUserCheckable;
    }
    return f;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(section == 2 ? Qt::AlignRight | Qt::AlignVCenter
                                                : Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role == Qt::InitialSortOrderRole) {
        return Qt::AscendingOrder;
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    static const char* const kTitles[] = {"Entire Filename", "Last Modified", "Size"};
    return section >= 0 && section < 3 ? QString::fromLatin1(kTitles[section]) : QString();
}

}  // namespace chronosift
