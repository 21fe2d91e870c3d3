// What the Convert command reads: a grid of any kind behind one interface, so that the command's steps
// are the same for each. Each kind is a class of its own (float_grid_input.h, ascii_grid_input.h,
// geotiff_grid_input.h); grid_input_factory.h picks one by the input's name.
#pragma once

#include "app/conversion/cell_coding.h"
#include "app/conversion/passes.h"
#include "app/grid/grid_header.h"
#include "image/image_pixels.h"

namespace kavrimo {

class GridInput {
 public:
  virtual ~GridInput() = default;

  const GridHeader& Header() const { return header_; }
  // Opens the cells once the header has been accepted (a float grid's data file); most inputs have
  // nothing to open.
  virtual void OpenData() {}
  // Pass 1: the range of the valid cells (ScanRange).
  virtual CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) = 0;
  // Pass 2: codes every cell into output's pixels (CodeGrid) as coding says; returns the valid cells
  // outside a fixed range (none over the scanned range's scale).
  virtual OutsideCounts CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                                 const PassOptions& options) = 0;
  // Closes the input's files, checked.
  virtual void Close() = 0;

 protected:
  GridHeader header_;
};

}  // namespace kavrimo
