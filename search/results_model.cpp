#include "search/results_model.h"

#include <QItemSelection>
#include <algorithm>
#include "search/order.h"

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

void ResultsModel::setRows(IndexSnapshot index, std::vector<FileId> ids) {
    beginResetModel();
    index_ = std::move(index);
    ids_ = std::move(ids);
    ids_.shrink_to_fit();
    checks_.assign((ids_.size() + 63) / 64, 0);
    sortColumn_ = -1;
    sortOrder_ = Qt::AscendingOrder;
    totals_ = {ids_.size(), 0, 0, 0};
    if (index_ != nullptr) {
        // The ids come in index order, so the folders are walked once, in step with them.
        FolderId folder = 0;
        for (const FileId id : ids_) {
            folder = index_->folderFrom(folder, id);
            const FileIndex::Folder& f = index_->folder(folder);
            totals_.bytes += f.fileSize(id - f.firstFile);
        }
    }
    endResetModel();
    emit totalsChanged();
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
    if (row < 0 || row >= rowCount() || isChecked(row) == checked) {
        return;
    }
    changeCheck(static_cast<size_t>(row), checked);
    const QModelIndex at = index(row, 0);
    emit dataChanged(at, at, {Qt::CheckStateRole});
    emit totalsChanged();
}

void ResultsModel::setAllChecked(bool checked) {
    if (ids_.empty()) {
        return;
    }
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
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            changeCheck(static_cast<size_t>(row), checked);
        }
        emit dataChanged(index(range.top(), 0), index(range.bottom(), 0), {Qt::CheckStateRole});
    }
    emit totalsChanged();
}

size_t ResultsModel::setCheckedMatching(const CheckRule& rule, bool checked) {
    if (index_ == nullptr) {
        return 0;
    }
    size_t changed = 0;
    int first = -1, last = -1;
    for (size_t row = 0; row < ids_.size(); ++row) {
        const auto r = static_cast<int>(row);
        if (isChecked(r) == checked) {
            continue;
        }
        const FileId id = ids_[row];
        if (rule.matches(index_->name(id), index_->size(id))) {
            changeCheck(row, checked);
            first = first < 0 ? r : first;
            last = r;
            ++changed;
        }
    }
    if (changed > 0) {
        emit dataChanged(index(first, 0), index(last, 0), {Qt::CheckStateRole});
        emit totalsChanged();
    }
    return changed;
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
    for (const int row : rows) {
        changeCheck(static_cast<size_t>(row), false);
        totals_.bytes -= sizeAt(row);
    }
    totals_.rows -= rows.size();
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
    if (files.empty()) {
        return;
    }
    const auto first = static_cast<int>(ids_.size());
    beginInsertRows({}, first, first + static_cast<int>(files.size()) - 1);
    ids_.insert(ids_.end(), files.begin(), files.end());
    checks_.resize((ids_.size() + 63) / 64, 0);
    totals_.rows = ids_.size();
    for (size_t row = static_cast<size_t>(first); row < ids_.size(); ++row) {
        totals_.bytes += sizeAt(static_cast<int>(row));
        changeCheck(row, true);
    }
    endInsertRows();
    permute(sortedOrder(index_.get(), ids_, sortColumn_, sortOrder_ == Qt::DescendingOrder));
    emit totalsChanged();
}

void ResultsModel::sort(int column, Qt::SortOrder order) {
    column = column >= 0 && column <= 2 ? column : -1;
    if (column == sortColumn_ && (column < 0 || order == sortOrder_)) {
        return;
    }
    sortColumn_ = column;
    sortOrder_ = column < 0 ? Qt::AscendingOrder : order;
    permute(sortedOrder(index_.get(), ids_, column, sortOrder_ == Qt::DescendingOrder));
}

void ResultsModel::permute(const std::vector<uint32_t>& from) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<FileId> ids(ids_.size());
    std::vector<uint64_t> checks(checks_.size(), 0);
    std::vector<int> to(ids_.size());
    for (size_t r = 0; r < from.size(); ++r) {
        const uint32_t old = from[r];
        ids[r] = ids_[old];
        checks[r >> 6] |= ((checks_[old >> 6] >> (old & 63)) & 1) << (r & 63);
        to[old] = static_cast<int>(r);
    }
    ids_ = std::move(ids);
    checks_ = std::move(checks);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        after.append(createIndex(to[static_cast<size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(before, after);
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
    if (role != Qt::CheckStateRole || idx.column() != 0 ||
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
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
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
