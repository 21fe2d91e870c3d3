// The grids of a mosaic as its passes read them: any block of rows and columns of a grid, on demand.
//
// A float grid's cells and a GeoTIFF's uncompressed 32-bit reals are read where they lie; an ASCII grid
// and any other GeoTIFF are parsed or decoded once, with their own pass 1 on every thread, into a scratch
// file that all the mosaic's grids share. Between its header and the band that reaches it a grid holds
// nothing open, so a mosaic of thousands of grids holds only those the passes are at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/conversion/cell_coding.h"
#include "app/conversion/mosaic_lattice.h"
#include "app/conversion/passes.h"
#include "app/grid/geotiff_grid.h"
#include "app/grid/grid_header.h"
#include "app/grid/grid_stream.h"
#include "runtime/file.h"

namespace kavrimo {

enum class MosaicKind { kFloat, kAscii, kGeoTiffInPlace, kGeoTiffDecoded };

// One grid of a mosaic: its name as given, what it is, its header and where it lies on the lattice.
struct MosaicTile {
  std::string name;
  MosaicKind kind = MosaicKind::kFloat;
  GridHeader header;
  LatticeRect place;  // fine cells

  bool Decoded() const { return kind == MosaicKind::kAscii || kind == MosaicKind::kGeoTiffDecoded; }
  std::int64_t Cells() const { return std::int64_t{header.ncols} * header.nrows; }
};

// Reads the header of the grid named name, as convert reads it, and holds nothing open after.
MosaicTile ReadTileHeader(const std::string& name);

class MosaicSource {
 public:
  // tile's cells; a decoded tile keeps them in scratch from byte scratch_base (4 bytes per cell).
  MosaicSource(const MosaicTile& tile, BinaryFile* scratch, std::int64_t scratch_base)
      : tile_(tile), scratch_(scratch), base_(scratch_base) {}

  const MosaicTile& Tile() const { return tile_; }
  CellNoData NoData() const { return NoDataOf(tile_.header); }
  bool IsOpen() const { return open_; }

  // Makes the cells readable: opens the file, or (the first time only) parses or decodes the grid into
  // the scratch file on options.threads threads. Raises the grid's own errors (a changed grid too).
  void Open(const PassOptions& options);
  void Close();

  // Reads the cells of rows [row, row + rows) and columns [col, col + cols) of the grid into out, row after
  // row. Safe on several threads at once. Raises EInOutError 100 (naming the data file) for a file that
  // ends early, EGeoTiffError for a truncated GeoTIFF, and the system's read errors.
  void Read(std::int64_t row, std::int64_t rows, std::int64_t col, std::int64_t cols, float* out) const;

  // Hands the same cells to visit in runs, row after row (cells[0..count) are the block's cells
  // offset..): a large block of whole rows of a float grid, which lie one after another, where they lie
  // (a short-lived mapping, as a float grid's passes read them; reads through reads where it cannot be
  // mapped), any other block read into block. Raises as Read does, and what visit raises.
  void Visit(std::int64_t row, std::int64_t rows, std::int64_t col, std::int64_t cols, std::vector<float>& block,
             BlockBuffer<float>& reads, const CellVisitor& visit) const;

 private:
  // Visits the float grid's cells [first, first + count) through a mapped window widened to aligned
  // boundaries; false when it cannot (nothing visited) or the file shrank meanwhile.
  bool VisitAligned(std::int64_t first, std::int64_t count, const CellVisitor& visit) const;
  void ReadGrid(const BinaryFile& file, std::int64_t base, std::int64_t row, std::int64_t rows, std::int64_t col,
                std::int64_t cols, float* out) const;
  void ReadBlocks(std::int64_t row, std::int64_t rows, std::int64_t col, std::int64_t cols, float* out) const;
  void Decode(const PassOptions& options);

  MosaicTile tile_;
  BinaryFile* scratch_;
  std::int64_t base_;
  bool open_ = false;
  bool decoded_ = false;
  BinaryFile data_;       // a float grid's .flt, or a GeoTIFF read in place
  GeoTiffLayout layout_;  // a GeoTIFF's blocks
};

}  // namespace kavrimo
