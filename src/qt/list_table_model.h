// Shows the core list model in Qt's views. The core model changes while a
// listing runs; the view learns of it in batches through sync().
#pragma once

#include <QAbstractTableModel>

#include "listing/list_model.h"

namespace kestrane::qt {

class ListTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ListTableModel(ListModel& model, QObject* parent = nullptr);

    // Brings the view up to date with the core model.
    void sync();
    // The core model's rows were put in a new order (same rows, same
    // columns): the views keep their column widths.
    void reordered();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const ListModel& core() const { return model_; }

private:
    ListModel& model_;
    int rows_ = 0;
    int columns_ = 0;
    unsigned long structureGen_ = 0;
    unsigned long columnGen_ = 0;
};

}  // namespace kestrane::qt
