// The pairing grid: a table of text cells, one row per player after a fixed
// header row, and a fixed first column holding the player numbers. The
// pairing engine reads and writes it; the pairing window shows it through a
// model that listens to its changes (GridObserver).
//
// Invariants: RowCount() >= 1 and ColCount() >= 1 (the fixed row and column
// always exist). Reading a cell outside the grid gives an empty text;
// writing one outside the grid is a contract violation (checked by assert
// and ignored).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelvaro {

// Told of every change of the grid, in grid coordinates (row 0 and column 0
// are the fixed ones). Shape changes come as an "about to" call before and a
// "done" call after the change; cell changes after it.
class GridObserver {
 public:
  virtual ~GridObserver() = default;
  virtual void RowsAboutToBeInserted(int first, int last) = 0;
  virtual void RowsInserted() = 0;
  virtual void RowsAboutToBeRemoved(int first, int last) = 0;
  virtual void RowsRemoved() = 0;
  virtual void ColumnsAboutToBeInserted(int first, int last) = 0;
  virtual void ColumnsInserted() = 0;
  virtual void ColumnsAboutToBeRemoved(int first, int last) = 0;
  virtual void ColumnsRemoved() = 0;
  // Every cell of the rectangle may have changed.
  virtual void CellsChanged(int firstRow, int firstCol, int lastRow, int lastCol) = 0;
};

class PairingGrid {
 public:
  PairingGrid(int rowCount, int colCount);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  int ColCount() const { return colCount_; }
  // Counts below 1 are taken as 1. New cells are empty.
  void SetRowCount(int count);
  void SetColCount(int count);

  const std::string& Cell(int row, int col) const;
  void SetCell(int row, int col, std::string_view text);
  // Empties the cells of the rectangle, clipped to the grid.
  void ClearCells(int firstRow, int firstCol, int lastRow, int lastCol);

  // The cells and shape, to put back with Restore when a step that changed
  // the grid fails. The observer hears of the restored shape and cells.
  struct Contents {
    std::vector<std::vector<std::string>> rows;
    int colCount = 1;
  };
  Contents Save() const { return {rows_, colCount_}; }
  void Restore(const Contents& contents);

  // At most one observer; nullptr removes it. The observer must outlive its
  // registration.
  void SetObserver(GridObserver* observer) { observer_ = observer; }

 private:
  std::vector<std::vector<std::string>> rows_;
  int colCount_;
  GridObserver* observer_ = nullptr;
};

}  // namespace pelvaro
