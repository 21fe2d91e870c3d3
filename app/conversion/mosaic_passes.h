// The two passes over a mosaic: the image's rows walked in bands, each band's cells gathered from the
// grids that reach it, coarsened where the image's cells are k x k cells of the grids, then scanned or
// coded as a grid's cells are.
//
// A band where no two grids overlap and cells are not coarsened is read grid by grid and each block is
// scanned or coded with its grid's own no-data value, straight from where it was read. Elsewhere the
// band's fine cells are gathered first, each taking the first grid in order whose cell there is valid,
// and a coarse cell is the mean of the valid fine cells of its block: their sum in double precision in
// row order, divided by their number, rounded to single. Where no two grids overlap and every grid's
// edges lie on the coarse cells' lines, each block's cells come from one grid, in row order as it is
// read: they are summed straight from where they were read, without being gathered.
//
// Bands are shared out to threads in stripes of a few bands; before a stripe the grids it reaches are
// opened (an ASCII grid or a compressed GeoTIFF is parsed or decoded once, on every thread) and after it
// those it was the last to reach are closed, so the grids open at once are those of a stripe. Results,
// progress (the image's rows) and errors come in the order one thread would give them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/conversion/cell_coding.h"
#include "app/conversion/mosaic_lattice.h"
#include "app/conversion/mosaic_sources.h"
#include "app/conversion/passes.h"
#include "image/image_pixels.h"

namespace kavrimo {

class MosaicPasses {
 public:
  // The image of extent (coarse cells of k x k fine cells) from sources, the grids it touches in the
  // order given, each placed in fine cells.
  MosaicPasses(const LatticeRect& extent, std::int64_t k, std::vector<MosaicSource>& sources);

  // Pass 1: the range of the image's valid cells. A valid NaN cell of a grid raises "<grid>: Invalid
  // floating point operation"; a grid's read errors leave as they are.
  // keep (coarse cells only, k > 1): where the image's cells go as they are found, laid out as a float
  // grid's data (host order, NaN where missing), so that pass 2 need not gather them again; or null.
  CellRange Scan(const ProgressSink& progress, const PassOptions& options, BinaryFile* keep = nullptr);
  // Pass 2: codes every cell of the image into output's pixels (cells no grid covers: 255).
  void Code(const CellScale& scale, ImagePixels& output, const ProgressSink& progress, const PassOptions& options);
  OutsideCounts Code(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                     const PassOptions& options);

  struct Worker;
  // Cells of the image: count cells of a block of rows of cols cells each whose first cell lies at image
  // row row and column col, from the block's cell first on; missing where nodata matches; grid: the grid
  // they come from, or null for gathered cells.
  struct Run {
    std::int64_t row;
    std::int64_t col;
    std::int64_t cols;
    std::int64_t first;
    const float* cells;
    std::int64_t count;
    CellNoData nodata;
    const MosaicTile* grid;
  };

 private:
  using Sink = std::function<void(const Run&)>;
  using BandWork = std::function<void(std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& active)>;

  std::int64_t BandStart(std::int64_t band) const { return band * band_rows_; }
  std::int64_t BandEnd(std::int64_t band) const { return std::min(extent_.rows, (band + 1) * band_rows_); }
  void Walk(const ProgressSink& progress, const PassOptions& options, const BandWork& work,
            const std::function<void(std::int64_t)>& after);
  void Band(std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& active, const Sink& sink) const;
  // Whether Band hands every cell of band to its sink: else the cells no grid covers are left out.
  bool Whole(std::int64_t band, const std::vector<MosaicSource*>& active) const;
  // The cells of area (fine cells of a band) read grid by grid, each scanned or coded with its own no-data.
  void Direct(Worker& worker, const std::vector<MosaicSource*>& reaching, const std::vector<LatticeRect>& blocks,
              const Sink& sink) const;
  // The cells of area gathered first, then coarsened.
  void Gathered(std::int64_t band, const LatticeRect& area, Worker& worker, const std::vector<MosaicSource*>& reaching,
                const std::vector<LatticeRect>& blocks, bool overlap, const Sink& sink) const;
  // The coarse cells of area where each block of k x k fine cells lies within one grid or none: each
  // grid's cells added straight to their blocks' sums as they are read.
  void Fused(std::int64_t band, const LatticeRect& area, Worker& worker, const std::vector<MosaicSource*>& reaching,
             const std::vector<LatticeRect>& blocks, const Sink& sink) const;
  template <typename Coding>
  void CodeWith(ImagePixels& output, const ProgressSink& progress, const PassOptions& options, Coding code,
                const std::function<void(std::int64_t)>& after);

  LatticeRect extent_;
  std::int64_t k_;
  LatticeRect fine_;  // the extent in fine cells
  std::vector<MosaicSource>& sources_;
  std::int64_t band_rows_;
  std::int64_t bands_;
};

}  // namespace kavrimo
