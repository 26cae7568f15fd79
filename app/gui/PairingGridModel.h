// Adapts the pairing grid of the core to Qt's item views. The grid's fixed
// header row becomes the horizontal header and its fixed first column (the
// player numbers) the vertical header; every other cell is an editable model
// item holding the cell's text. Changes the engine makes to the grid reach
// the view through the grid's observer interface.
#pragma once

#include <QAbstractTableModel>

#include "app/core/PairingGrid.h"

namespace pelvaro {

class PairingGridModel : public QAbstractTableModel, private GridObserver {
  Q_OBJECT

 public:
  // The grid must outlive the model; the model registers as its observer
  // until it is destroyed.
  explicit PairingGridModel(PairingGrid& grid, QObject* parent = nullptr);
  ~PairingGridModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void RowsAboutToBeInserted(int first, int last) override;
  void RowsInserted() override;
  void RowsAboutToBeRemoved(int first, int last) override;
  void RowsRemoved() override;
  void ColumnsAboutToBeInserted(int first, int last) override;
  void ColumnsInserted() override;
  void ColumnsAboutToBeRemoved(int first, int last) override;
  void ColumnsRemoved() override;
  void CellsChanged(int firstRow, int firstCol, int lastRow, int lastCol) override;

  PairingGrid& grid_;
};

}  // namespace pelvaro
