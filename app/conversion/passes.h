// The two passes over a grid's data file: the range scan and the coding of every cell into the output.
//
// Both stream the file in windows, so memory does not depend on the grid's size: each thread holds one
// window of cells (mapped, or a block buffer where it reads) and one window of coded bytes. The file is
// split into chunks that the threads take in turn; results, progress and errors come out as the
// one-thread order gives them. Progress follows the outer loop of a pass: step i (1 to ncols) holds
// nrows cells and shows (i * 100) div ncols.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "app/conversion/cell_coding.h"
#include "app/conversion/pass_runner.h"
#include "app/grid/grid_header.h"
#include "image/image_pixels.h"
#include "runtime/file.h"

namespace kavrimo {

// The no-data value of a grid's cells: NODATA_value, the real an ASCII grid or a GeoTIFF gives, or every
// NaN cell where that real is a NaN; none for a GeoTIFF without a no-data tag.
CellNoData NoDataOf(const GridHeader& header);

inline constexpr std::size_t kPassBlockCells = std::size_t{1} << 18;  // one read: 1 MiB of cells
inline constexpr std::size_t kPassChunkCells = std::size_t{1} << 19;  // at most: one window, one share, one write

struct PassOptions {
  int threads = 1;                            // asked for (1: the calling thread only); see Workers
  std::size_t block_cells = kPassBlockCells;  // cells per read, where windows are read
  std::size_t chunk_cells = kPassChunkCells;  // cells per window and share of work (and per write)
  bool map_data = true;                       // false: always read, never map

  // The threads that work on a pass of count chunks: threads, but at least 1 and at most count (a thread
  // with no chunk to take would only cost its tables). Every pass asks this, and sizes its per-thread
  // tables by it, never by threads.
  int Workers(std::int64_t count) const {
    return static_cast<int>(std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(1, count)));
  }
};

// Pass 1: the range of the valid cells of data (ncols x nrows cells from byte 0). Raises
// "Read beyond end of file" for a short file and "Invalid floating point operation" for a NaN cell,
// whichever comes first in cell order, and the system's read errors.
CellRange ScanRange(const BinaryFile& data, const GridHeader& header, const ProgressSink& progress,
                    const PassOptions& options = {});

// Pass 2: codes every cell and writes the bytes to output's pixels. Raises the errors of pass 1
// (and those of CodeCellReference) and "Disk full" for a short write, whichever comes first in cell
// order.
void CodeGrid(const BinaryFile& data, const GridHeader& header, const CellScale& scale, ImagePixels& output,
              const ProgressSink& progress, const PassOptions& options = {});

// Pass 2 over a fixed range, the grid read once: codes every cell by CodeCellsClamped and returns how
// many valid cells lie outside the range. Raises as CodeGrid does.
OutsideCounts CodeGrid(const BinaryFile& data, const GridHeader& header, const FixedScale& fixed, ImagePixels& output,
                       const ProgressSink& progress, const PassOptions& options = {});

// How pass 2 codes: over the scanned range's scale, or over a fixed range, counting the valid cells outside it.
using GridCoding = std::variant<CellScale, FixedScale>;

// Pass 2 as coding says: one of the two above; no cell lies outside a scanned range's scale.
OutsideCounts CodeGrid(const BinaryFile& data, const GridHeader& header, const GridCoding& coding, ImagePixels& output,
                       const ProgressSink& progress, const PassOptions& options = {});

}  // namespace kavrimo
