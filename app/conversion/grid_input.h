// What the Convert command reads: a grid of any kind behind one interface, so that the command's steps
// are the same for each. A name that ends in ".asc" (any letter case) is an ESRI ASCII grid, one that ends
// in ".tif" or ".tiff" a GeoTIFF; any other name is a float grid, its header and data named after it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/conversion/cell_coding.h"
#include "app/conversion/passes.h"
#include "app/grid/grid_header.h"
#include "image/image_pixels.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

class GridInput {
 public:
  virtual ~GridInput() = default;

  const GridHeader& Header() const { return header_; }
  // Opens the cells once the header has been accepted (a float grid's data file).
  virtual void OpenData() = 0;
  // Pass 1: the range of the valid cells (ScanRange).
  virtual CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) = 0;
  // Pass 2: codes every cell into output's pixels (CodeGrid), over the scanned range's scale or over a
  // fixed range; the second returns the valid cells outside the fixed range.
  virtual void CodeGrid(const CellScale& scale, ImagePixels& output, const ProgressSink& progress,
                        const PassOptions& options) = 0;
  virtual OutsideCounts CodeGrid(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                                 const PassOptions& options) = 0;
  // Closes the input's files, checked.
  virtual void Close() = 0;

 protected:
  GridHeader header_;
};

// The files a conversion of input reads, as named from it: the header and data of a float grid, or the
// ASCII grid or GeoTIFF itself.
std::vector<std::string> GridInputFiles(const std::string& input);

// Reads the header of the grid named input (ReadGridHeader, ReadAsciiGridHeader for an ASCII grid, whose
// file is opened here: "Cannot open file <input>" when it cannot be, or a GeoTiffReader's tags). An ASCII
// grid, and a GeoTIFF whose cells must be decoded, keeps its cells between the passes in a scratch file
// beside output, with no name, gone when the input closes;
// swept: a batch's record of the folders swept for leftovers, or null.
std::unique_ptr<GridInput> ReadGridInput(const std::string& input, const std::string& output,
                                         SweptFolders* swept = nullptr);

}  // namespace kavrimo
