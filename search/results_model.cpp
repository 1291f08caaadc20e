#include "search/results_model.h"

#include <QItemSelection>
#include <algorithm>

#include "index/calendar.h"
#include "platform/text.h"

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
    const QDate date(static_cast<int>(civil.year), static_cast<int>(civil.month),
                     static_cast<int>(civil.day));
    QString text = locale.toString(date, shortDateFormat(locale));
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
    endResetModel();
}

void ResultsModel::setBit(size_t row, bool on) {
    const uint64_t mask = uint64_t{1} << (row & 63);
    if (on) {
        checks_[row >> 6] |= mask;
    } else {
        checks_[row >> 6] &= ~mask;
    }
}

void ResultsModel::setChecked(int row, bool checked) {
    if (row < 0 || row >= rowCount() || isChecked(row) == checked) {
        return;
    }
    setBit(static_cast<size_t>(row), checked);
    const QModelIndex at = index(row, 0);
    emit dataChanged(at, at, {Qt::CheckStateRole});
}

void ResultsModel::setAllChecked(bool checked) {
    if (ids_.empty()) {
        return;
    }
    std::fill(checks_.begin(), checks_.end(), checked ? ~uint64_t{0} : 0);
    if (checked && ids_.size() % 64 != 0) {
        checks_.back() = (uint64_t{1} << (ids_.size() % 64)) - 1;  // no bits past the last row
    }
    emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

void ResultsModel::setCheckedRows(const QItemSelection& selection, bool checked) {
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            setBit(static_cast<size_t>(row), checked);
        }
        emit dataChanged(index(range.top(), 0), index(range.bottom(), 0), {Qt::CheckStateRole});
    }
}

std::vector<int> ResultsModel::checkedRows() const {
    std::vector<int> rows;
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
}

size_t ResultsModel::bytesUsed() const {
    return ids_.capacity() * sizeof(FileId) + checks_.capacity() * sizeof(uint64_t);
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant ResultsModel::data(const QModelIndex& idx, int role) const {
    if (!checkIndex(idx, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const FileId id = ids_[static_cast<size_t>(idx.row())];
    if (role == Qt::CheckStateRole && idx.column() == 0) {
        return isChecked(idx.row()) ? Qt::Checked : Qt::Unchecked;
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
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    return section == 0 ? QStringLiteral("Entire Filename") : QStringLiteral("Last Modified");
}

}  // namespace chronosift
