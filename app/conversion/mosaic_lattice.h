// Where the grids of a mosaic lie: the lattice the first grid sets, each grid's place on it in whole
// cells, the extent of the image (every grid, or the cells a box overlaps) in cells of the lattice or of
// a coarser one anchored at the first grid's upper-left corner, and the header of the image's grid.
//
// Rows count down from the first grid's top edge and columns right from its left edge; a cell of the
// coarse lattice holds k x k cells of the fine one, coarse cell (0, 0) beginning at fine cell (0, 0).
// Every refusal raises ECommandError naming the grids and what differs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/grid/grid_header.h"

namespace kavrimo {

// A block of whole cells of a lattice.
struct LatticeRect {
  std::int64_t col = 0;
  std::int64_t row = 0;
  std::int64_t cols = 0;
  std::int64_t rows = 0;

  std::int64_t ColEnd() const { return col + cols; }
  std::int64_t RowEnd() const { return row + rows; }
  bool operator==(const LatticeRect&) const = default;
};

// The rows and columns two blocks share (cols or rows 0 when none).
LatticeRect Intersection(const LatticeRect& a, const LatticeRect& b);
// The block of fine cells that a block of coarse cells of k x k fine cells covers.
LatticeRect FineCells(const LatticeRect& coarse, std::int64_t k);

// The box of --bounds, in degrees (west < east, south < north), and the words the user gave for it.
struct MosaicBounds {
  double west = 0;
  double south = 0;
  double east = 0;
  double north = 0;
  std::string text;  // "WEST SOUTH EAST NORTH" as typed
};

class MosaicLattice {
 public:
  // The lattice of the first grid: its cell size (and row height, for cells that are not square) as its
  // header gives them and its left and top edges, worked out in double. Raises for a grid without cells
  // or with a cell size that is not a positive number.
  MosaicLattice(std::string first_name, const GridHeader& first);

  // The fine cells a grid covers. Raises "<name> has cells of <c> where <first> has <c0>" unless its cell
  // size is the lattice's within a relative 1e-6, and "<name> is not on the lattice of <first>: its left
  // (top) edge is <d> cells off" unless its edges lie within a quarter of a cell of lattice lines; a
  // grid on the lattice is placed at the nearest whole cell.
  LatticeRect Place(const std::string& name, const GridHeader& header) const;

  // k for --cell-size size: size = k x the cell size, k >= 1 whole, within a relative 1e-6; else raises
  // "--cell-size <size> is not a whole multiple of <c>, the cell size of <first>".
  std::int64_t CoarseningOf(double size, const std::string& size_text) const;

  // The coarse cells (k x k fine cells) that overlap the box with positive area, a box edge within a
  // thousandth of a cell of a lattice line counting as on it; nothing when the box covers no cell.
  // cell_size: the coarse cells' size as the image states it (the fine size when k is 1).
  std::optional<LatticeRect> CellsOf(const MosaicBounds& bounds, std::int64_t k, double cell_size) const;

  // The header of the image's grid over extent (coarse cells of cell_size, k x k fine cells each): its
  // corner worked out in double from the first grid's corner and rounded to single, its cell size
  // cell_size rounded to single (the row height k times the first grid's, when not square).
  GridHeader HeaderOf(const LatticeRect& extent, std::int64_t k, double cell_size) const;

  double CellWidth() const { return width_; }

 private:
  // The coarse cells' height: cell_size for square cells, else k rows of the first grid.
  double CoarseHeight(std::int64_t k, double cell_size) const;

  std::string first_name_;
  GridHeader first_;
  double width_;  // the fine cells' width and height
  double height_;
  double left_;
  double top_;
};

// The smallest block of coarse cells (k x k fine cells) that covers every block of fine cells.
LatticeRect CoveringCells(const std::vector<LatticeRect>& fine, std::int64_t k);

// Raises "The mosaic would be <cols> x <rows> cells; an image holds at most 32767 x 32767: use --bounds
// or --cell-size" for an extent beyond an image.
void CheckMosaicSize(const LatticeRect& extent);

}  // namespace kavrimo
