#include "app/core/PairingGrid.h"

#include <algorithm>
#include <cassert>

namespace pelvaro {
namespace {
const std::string kEmpty;
}

PairingGrid::PairingGrid(int rowCount, int colCount)
    : rows_(static_cast<size_t>(std::max(rowCount, 1)),
            std::vector<std::string>(static_cast<size_t>(std::max(colCount, 1)))),
      colCount_(std::max(colCount, 1)) {}

void PairingGrid::SetRowCount(int count) {
  count = std::max(count, 1);
  const int old = RowCount();
  if (count == old) return;
  if (count > old) {
    if (observer_) observer_->RowsAboutToBeInserted(old, count - 1);
    rows_.resize(static_cast<size_t>(count),
                 std::vector<std::string>(static_cast<size_t>(colCount_)));
    if (observer_) observer_->RowsInserted();
  } else {
    if (observer_) observer_->RowsAboutToBeRemoved(count, old - 1);
    rows_.resize(static_cast<size_t>(count));
    if (observer_) observer_->RowsRemoved();
  }
}

void PairingGrid::SetColCount(int count) {
  count = std::max(count, 1);
  const int old = colCount_;
  if (count == old) return;
  if (count > old) {
    if (observer_) observer_->ColumnsAboutToBeInserted(old, count - 1);
  } else {
    if (observer_) observer_->ColumnsAboutToBeRemoved(count, old - 1);
  }
  for (auto& row : rows_) row.resize(static_cast<size_t>(count));
  colCount_ = count;
  if (observer_) {
    if (count > old) {
      observer_->ColumnsInserted();
    } else {
      observer_->ColumnsRemoved();
    }
  }
}

const std::string& PairingGrid::Cell(int row, int col) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_) return kEmpty;
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void PairingGrid::SetCell(int row, int col, std::string_view text) {
  assert(row >= 0 && row < RowCount() && col >= 0 && col < colCount_);
  if (row < 0 || row >= RowCount() || col < 0 || col >= colCount_) return;
  std::string& cell = rows_[static_cast<size_t>(row)][static_cast<size_t>(col)];
  if (cell == text) return;
  cell.assign(text);
  if (observer_) observer_->CellsChanged(row, col, row, col);
}

void PairingGrid::ClearCells(int firstRow, int firstCol, int lastRow, int lastCol) {
  firstRow = std::max(firstRow, 0);
  firstCol = std::max(firstCol, 0);
  lastRow = std::min(lastRow, RowCount() - 1);
  lastCol = std::min(lastCol, colCount_ - 1);
  if (firstRow > lastRow || firstCol > lastCol) return;
  for (int r = firstRow; r <= lastRow; ++r) {
    auto& row = rows_[static_cast<size_t>(r)];
    for (int c = firstCol; c <= lastCol; ++c) row[static_cast<size_t>(c)].clear();
  }
  if (observer_) observer_->CellsChanged(firstRow, firstCol, lastRow, lastCol);
}

void PairingGrid::Restore(const Contents& contents) {
  SetRowCount(static_cast<int>(contents.rows.size()));
  SetColCount(contents.colCount);
  rows_ = contents.rows;
  if (observer_) observer_->CellsChanged(0, 0, RowCount() - 1, colCount_ - 1);
}

}  // namespace pelvaro
