// The passes over a GeoTIFF's cells. A pass goes band by band (a row of blocks, the grid's full width),
// the bands shared out to threads, each thread decoding its blocks with a reader of its own. Cells stored
// plainly (uncompressed 32-bit reals in host order) are read in place from short-lived mappings, as a
// float grid's are; other files are decoded once, in pass 1, into a scratch file that pass 2 codes, or
// decoded and coded in one pass over a fixed range. Each thread holds one block of cells and one band of
// coded bytes, so memory does not depend on the grid's size.
//
// The threads of a pass hold their blocks within one budget, kGeoTiffBlockBudget, whatever their number:
// no more threads are started than it holds, and one when a single block takes more (a tile of 2048 x
// 2048 64-bit reals, say).
//
// Results, progress and errors come out as the one-thread order over the cells gives them: a band that
// fails reports the first failing cell in cell order (row after row), and a block that cannot be decoded
// fails at its first cell.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/conversion/cell_coding.h"
#include "app/conversion/passes.h"
#include "app/grid/geotiff_library.h"
#include "image/image_pixels.h"
#include "runtime/file.h"

namespace kavrimo {

// The bytes the threads of a GeoTIFF pass hold for their blocks together, at most (or one thread's, when
// one block takes more): blocks decoded with the bytes they are decoded from, blocks mapped or read, and
// their coded bytes.
inline constexpr std::int64_t kGeoTiffBlockBudget = std::int64_t{64} << 20;

// A GeoTIFF open for its passes: the first reader (opened with the input, for its header) and the
// readers of further threads, opened on first use; and the file itself, for cells read in place.
class GeoTiffSource {
 public:
  // Takes the reader that read the header of the file at path.
  GeoTiffSource(std::string path, std::unique_ptr<GeoTiffDecoder> first);

  const GeoTiffInfo& Info() const { return first_->Info(); }
  const GeoTiffLayout& Layout() const { return first_->Info().layout; }
  const std::string& Path() const { return path_; }
  // Makes places for workers readers; call before a pass, on the calling thread.
  void PrepareWorkers(int workers);
  // The reader of worker (0 to workers - 1), opened on first use on that worker's thread.
  GeoTiffDecoder& Reader(int worker);
  // The file, opened read-only on first use (for cells read in place), on the calling thread.
  const BinaryFile& File();
  // Gives back what the readers hold for decoding (after the pass that decodes, before one that does not).
  void FreeDecoding();
  void Close();

 private:
  std::string path_;
  std::unique_ptr<GeoTiffDecoder> first_;
  std::vector<std::unique_ptr<GeoTiffDecoder>> others_;  // index worker - 1
  BinaryFile file_;
};

// Pass 1: the range of the valid cells (no-data: header's). Cells are read in place when the layout
// allows it; otherwise they are decoded and written to scratch, band after band and block after block
// in each band, each block's rows clipped to the grid, so that pass 2 codes them from there. Raises the
// first cell's error in cell order, a block's decoding error, and the system's read and write errors.
// scratch_base: the byte of scratch where the grid's cells begin.
CellRange ScanGeoTiff(GeoTiffSource& source, const GridHeader& header, BinaryFile* scratch,
                      const ProgressSink& progress, const PassOptions& options = {}, std::int64_t scratch_base = 0);

// The first cell in a scratch file of block (x, y): the bands one after another, and in a band its
// blocks, each block's rows clipped to the grid (so a block's rows lie WidthOf(x) cells apart).
std::int64_t GeoTiffScratchCell(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y);

// Pass 2: codes every cell into output's pixels, the cells read in place or from the scratch file that
// pass 1 filled. Raises as CodeGrid does.
void CodeGeoTiff(GeoTiffSource& source, const GridHeader& header, const BinaryFile* scratch, const CellScale& scale,
                 ImagePixels& output, const ProgressSink& progress, const PassOptions& options = {});

// The one pass over a fixed range: reads (in place) or decodes every cell, codes it by CodeCellsClamped and
// returns the valid cells outside the range. Raises as ScanGeoTiff does.
OutsideCounts CodeGeoTiff(GeoTiffSource& source, const GridHeader& header, const FixedScale& fixed, ImagePixels& output,
                          const ProgressSink& progress, const PassOptions& options = {});

}  // namespace kavrimo
