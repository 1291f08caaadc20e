// The search-folder list: rows of folder paths (bytes, each ending in "/") in the order added.
// Duplicates and nested folders may stand in it until "Next  > >" prunes them.
#pragma once

#include <QAbstractListModel>
#include <string>
#include <vector>

namespace chronosift {

class SearchFolderModel : public QAbstractListModel {
    Q_OBJECT
  public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const std::vector<std::string>& rows() const { return rows_; }
    void append(const std::string& row);
    void removeAt(int row);
    void clear();

  private:
    std::vector<std::string> rows_;
};

}  // namespace chronosift
