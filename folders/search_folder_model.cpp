#include "folders/search_folder_model.h"

#include "platform/text.h"

namespace chronosift {

int SearchFolderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant SearchFolderModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromStdString(platform::displayText(rows_[index.row()]));
    }
    // The list's own tip, over rows too, where the double-click it names works; then the path.
    if (role == Qt::ToolTipRole) {
        return QStringLiteral("Double-click item to remove it.\n") +
               QString::fromStdString(platform::displayText(rows_[index.row()]));
    }
    return {};
}

QVariant SearchFolderModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole) {
        return QStringLiteral("Folder(s) to Search");
    }
    return {};
}

void SearchFolderModel::append(const std::string& row) {
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at);
    rows_.push_back(row);
    endInsertRows();
}

void SearchFolderModel::removeAt(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
        return;
    }
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void SearchFolderModel::clear() {
    if (rows_.empty()) {
        return;
    }
    beginResetModel();
    rows_.clear();
    endResetModel();
}

}  // namespace chronosift
