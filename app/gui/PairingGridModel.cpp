#include "app/gui/PairingGridModel.h"

#include <algorithm>

namespace pelvaro {

PairingGridModel::PairingGridModel(PairingGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {
  grid_.SetObserver(this);
}

PairingGridModel::~PairingGridModel() { grid_.SetObserver(nullptr); }

int PairingGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : grid_.RowCount() - 1;
}

int PairingGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : grid_.ColCount() - 1;
}

QVariant PairingGridModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  return QString::fromStdString(grid_.Cell(index.row() + 1, index.column() + 1));
}

bool PairingGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::EditRole) return false;
  // The grid tells the model, which emits dataChanged.
  grid_.SetCell(index.row() + 1, index.column() + 1, value.toString().toStdString());
  return true;
}

QVariant PairingGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= columnCount()) return {};
    return QString::fromStdString(grid_.Cell(0, section + 1));
  }
  if (section < 0 || section >= rowCount()) return {};
  return QString::fromStdString(grid_.Cell(section + 1, 0));
}

Qt::ItemFlags PairingGridModel::flags(const QModelIndex& index) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

// Grid row g and column g are model row and column g - 1; the fixed row and
// column are never inserted or removed.

void PairingGridModel::RowsAboutToBeInserted(int first, int last) {
  beginInsertRows(QModelIndex(), first - 1, last - 1);
}
void PairingGridModel::RowsInserted() { endInsertRows(); }
void PairingGridModel::RowsAboutToBeRemoved(int first, int last) {
  beginRemoveRows(QModelIndex(), first - 1, last - 1);
}
void PairingGridModel::RowsRemoved() { endRemoveRows(); }
void PairingGridModel::ColumnsAboutToBeInserted(int first, int last) {
  beginInsertColumns(QModelIndex(), first - 1, last - 1);
}
void PairingGridModel::ColumnsInserted() { endInsertColumns(); }
void PairingGridModel::ColumnsAboutToBeRemoved(int first, int last) {
  beginRemoveColumns(QModelIndex(), first - 1, last - 1);
}
void PairingGridModel::ColumnsRemoved() { endRemoveColumns(); }

void PairingGridModel::CellsChanged(int firstRow, int firstCol, int lastRow, int lastCol) {
  if (firstRow == 0) {
    const int first = std::max(firstCol, 1) - 1;
    if (lastCol >= 1) emit headerDataChanged(Qt::Horizontal, first, lastCol - 1);
  }
  if (firstCol == 0) {
    const int first = std::max(firstRow, 1) - 1;
    if (lastRow >= 1) emit headerDataChanged(Qt::Vertical, first, lastRow - 1);
  }
  const int top = std::max(firstRow, 1);
  const int left = std::max(firstCol, 1);
  if (top <= lastRow && left <= lastCol) {
    emit dataChanged(index(top - 1, left - 1), index(lastRow - 1, lastCol - 1),
                     {Qt::DisplayRole, Qt::EditRole});
  }
}

}  // namespace pelvaro
