#include "qt/list_table_model.h"

#include <QFont>

#include "qt/icons.h"

namespace kestrane::qt {

ListTableModel::ListTableModel(ListModel& model, QObject* parent)
    : QAbstractTableModel(parent), model_(model) {
    sync();
}

void ListTableModel::sync() {
    const int rows = static_cast<int>(model_.rowCount());
    const int cols = static_cast<int>(std::max<std::size_t>(model_.columns().size(), 1));
    const bool structural = model_.structureGeneration() != structureGen_ || rows < rows_ ||
                            model_.firstChangedRow() < static_cast<std::size_t>(rows_);
    if (structural || model_.columnGeneration() != columnGen_) {
        beginResetModel();
        rows_ = rows;
        columns_ = cols;
        structureGen_ = model_.structureGeneration();
        columnGen_ = model_.columnGeneration();
        model_.resetChangeMark();
        endResetModel();
        return;
    }
    if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    }
    model_.resetChangeMark();
}

void ListTableModel::reordered() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    structureGen_ = model_.structureGeneration();
    model_.resetChangeMark();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ListTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int ListTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant ListTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    const ListRow& r = model_.row(static_cast<std::size_t>(index.row()));
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (col == 0) return QString::fromStdString(r.text);
        if (static_cast<std::size_t>(col) <= r.sub.size()) return QString::fromStdString(r.sub[col - 1]);
        return {};
    case Qt::DecorationRole:
        if (col == 0 && !r.icon.empty()) return IconForKey(QString::fromStdString(r.icon));
        return {};
    case Qt::FontRole:
        if ((col == 0 && r.bold) || (col == 1 && r.subBold)) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::UserRole:
        return QString::fromStdString(r.key);
    default:
        return {};
    }
}

QVariant ListTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const auto& cols = model_.columns();
    if (section < 0 || static_cast<std::size_t>(section) >= cols.size()) return {};
    return QString::fromStdString(cols[static_cast<std::size_t>(section)].caption);
}

}  // namespace kestrane::qt
