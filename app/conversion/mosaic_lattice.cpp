// The lattice arithmetic of a mosaic, in double precision, rounding to whole cells only where a grid is
// placed or a box is cut.
#include "app/conversion/mosaic_lattice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

// A real as short as %g makes it with precision digits.
std::string Text(double value, int precision) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", precision, value);
  return text;
}

// Two reals with three significant digits, or as many more as tell them apart.
std::pair<std::string, std::string> TwoTexts(double a, double b) {
  int precision = 3;
  while (precision < 17 && Text(a, precision) == Text(b, precision)) ++precision;
  return {Text(a, precision), Text(b, precision)};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

// A position in cells; one within a thousandth of a cell of a whole number lies on that line.
double OnLine(double cells) {
  const double line = std::nearbyint(cells);
  return std::fabs(cells - line) <= 1e-3 ? line : cells;
}

bool SameSize(double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(std::fabs(a), std::fabs(b)); }

}  // namespace

LatticeRect Intersection(const LatticeRect& a, const LatticeRect& b) {
  const std::int64_t col = std::max(a.col, b.col), row = std::max(a.row, b.row);
  const std::int64_t cols = std::min(a.ColEnd(), b.ColEnd()) - col, rows = std::min(a.RowEnd(), b.RowEnd()) - row;
  if (cols <= 0 || rows <= 0) return {col, row, 0, 0};
  return {col, row, cols, rows};
}

LatticeRect FineCells(const LatticeRect& coarse, std::int64_t k) {
  return {coarse.col * k, coarse.row * k, coarse.cols * k, coarse.rows * k};
}

MosaicLattice::MosaicLattice(std::string first_name, const GridHeader& first)
    : first_name_(std::move(first_name)),
      first_(first),
      width_(first.cellsize),
      height_(first.RowSpacing()),
      left_(first.xllcorner),
      top_(static_cast<double>(first.yllcorner) + static_cast<double>(first.nrows) * height_) {
  if (first.ncols < 1 || first.nrows < 1) {
    throw ECommandError(first_name_ + " has no cells (" + std::to_string(first.ncols) + " x " +
                        std::to_string(first.nrows) + ")");
  }
  if (!(width_ > 0 && height_ > 0) || !std::isfinite(width_) || !std::isfinite(height_)) {
    throw ECommandError(first_name_ + " has cells of " + Text(width_, 6) + "; a mosaic needs cells of a positive size");
  }
}

LatticeRect MosaicLattice::Place(const std::string& name, const GridHeader& header) const {
  if (header.ncols < 1 || header.nrows < 1) {
    throw ECommandError(name + " has no cells (" + std::to_string(header.ncols) + " x " + std::to_string(header.nrows) +
                        ")");
  }
  const double width = header.cellsize, height = header.RowSpacing();
  if (!SameSize(width, width_) || !SameSize(height, height_)) {
    const bool wide = !SameSize(width, width_);
    const auto [own, lattice] = TwoTexts(wide ? width : height, wide ? width_ : height_);
    throw ECommandError(name + " has " + (wide ? "cells of " : "rows of ") + own + " where " + first_name_ + " has " +
                        lattice);
  }
  const double across = (static_cast<double>(header.xllcorner) - left_) / width_;
  const double top = static_cast<double>(header.yllcorner) + static_cast<double>(header.nrows) * height;
  const double down = (top_ - top) / height_;
  for (const auto& [cells, edge] : {std::pair{across, "left"}, std::pair{down, "top"}}) {
    const double off = std::fabs(cells - std::nearbyint(cells));
    if (!(off <= 0.25)) {
      throw ECommandError(name + " is not on the lattice of " + first_name_ + ": its " + edge + " edge " +
                          (std::isfinite(off) ? "is " + Text(off, 2) + " cells off" : std::string("is too far off")));
    }
  }
  return {static_cast<std::int64_t>(std::nearbyint(across)), static_cast<std::int64_t>(std::nearbyint(down)),
          header.ncols, header.nrows};
}

std::int64_t MosaicLattice::CoarseningOf(double size, const std::string& size_text) const {
  const double ratio = size / width_;
  const double k = std::nearbyint(ratio);
  if (!(k >= 1 && k <= 1e9 && std::fabs(size - k * width_) <= 1e-6 * size)) {
    throw ECommandError("--cell-size " + size_text + " is not a whole multiple of " + Text(width_, 6) +
                        ", the cell size of " + first_name_);
  }
  return static_cast<std::int64_t>(k);
}

std::optional<LatticeRect> MosaicLattice::CellsOf(const MosaicBounds& bounds, std::int64_t k, double cell_size) const {
  const double width = cell_size, height = CoarseHeight(k, cell_size);
  const double west = OnLine((bounds.west - left_) / width), east = OnLine((bounds.east - left_) / width);
  const double north = OnLine((top_ - bounds.north) / height), south = OnLine((top_ - bounds.south) / height);
  const double limit = 4e18;  // beyond any grid: no cell there
  if (!(std::fabs(west) < limit && std::fabs(east) < limit && std::fabs(north) < limit && std::fabs(south) < limit)) {
    return std::nullopt;
  }
  const auto col = static_cast<std::int64_t>(std::floor(west)), col_end = static_cast<std::int64_t>(std::ceil(east));
  const auto row = static_cast<std::int64_t>(std::floor(north)), row_end = static_cast<std::int64_t>(std::ceil(south));
  if (col_end <= col || row_end <= row) return std::nullopt;
  return LatticeRect{col, row, col_end - col, row_end - row};
}

GridHeader MosaicLattice::HeaderOf(const LatticeRect& extent, std::int64_t k, double cell_size) const {
  const double height = CoarseHeight(k, cell_size);
  GridHeader header;
  header.ncols = static_cast<std::int32_t>(extent.cols);
  header.nrows = static_cast<std::int32_t>(extent.rows);
  header.xllcorner = static_cast<float>(left_ + static_cast<double>(extent.col) * cell_size);
  // From the first grid's lower-left corner, so that an extent ending where that grid ends keeps its
  // corner exactly.
  const double below = static_cast<double>(first_.nrows) * height_ - static_cast<double>(extent.RowEnd()) * height;
  header.yllcorner = static_cast<float>(static_cast<double>(first_.yllcorner) + below);
  header.cellsize = static_cast<float>(cell_size);
  if (first_.cell_height) header.cell_height = static_cast<float>(height);
  return header;
}

double MosaicLattice::CoarseHeight(std::int64_t k, double cell_size) const {
  return first_.cell_height ? height_ * static_cast<double>(k) : cell_size;
}

LatticeRect CoveringCells(const std::vector<LatticeRect>& fine, std::int64_t k) {
  std::int64_t col = fine.front().col, row = fine.front().row;
  std::int64_t col_end = fine.front().ColEnd(), row_end = fine.front().RowEnd();
  for (const LatticeRect& r : fine) {
    col = std::min(col, r.col);
    row = std::min(row, r.row);
    col_end = std::max(col_end, r.ColEnd());
    row_end = std::max(row_end, r.RowEnd());
  }
  const std::int64_t c0 = FloorDiv(col, k), r0 = FloorDiv(row, k);
  return {c0, r0, CeilDiv(col_end, k) - c0, CeilDiv(row_end, k) - r0};
}

void CheckMosaicSize(const LatticeRect& extent) {
  if (extent.cols <= 32767 && extent.rows <= 32767) return;
  throw ECommandError("The mosaic would be " + std::to_string(extent.cols) + " x " + std::to_string(extent.rows) +
                      " cells; an image holds at most 32767 x 32767: use --bounds or --cell-size");
}

}  // namespace kavrimo
