// Mosaic passes: stripes of bands on the chunk runner's threads, each band read grid by grid.
#include "app/conversion/mosaic_passes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "app/conversion/chunk_runner.h"
#include "app/conversion/pass_runner.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

// Fine cells a band gathers at most (but one coarse row): a few MiB per thread.
constexpr std::int64_t kBandCells = std::int64_t{1} << 19;
// Bands per stripe, per thread: the grids of a stripe's rows are open together.
constexpr std::int64_t kStripeBands = 4;
constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();

[[noreturn]] void RaiseInvalidCell(const MosaicTile& grid) { throw Error(grid.name + ": " + EInvalidOp().what()); }

// Runs work, naming grid in a floating-point fault its cells raise.
template <typename Work>
void NamingGrid(const MosaicTile* grid, Work work) {
  try {
    work();
  } catch (const EMathError& e) {
    if (grid == nullptr) throw;
    throw Error(grid->name + ": " + e.what());
  }
}

// Puts the valid cells of block (rows x cols) where fine (stride cells a row) has none yet.
void Merge(const float* block, std::int64_t rows, std::int64_t cols, CellNoData nodata, const MosaicTile& grid,
           float* fine, std::int64_t stride) {
  for (std::int64_t r = 0; r < rows; ++r) {
    const float* from = block + r * cols;
    float* to = fine + r * stride;
    for (std::int64_t c = 0; c < cols; ++c) {
      if (!std::isnan(to[c]) || nodata.Matches(from[c])) continue;
      if (std::isnan(from[c])) RaiseInvalidCell(grid);
      to[c] = from[c];
    }
  }
}

// The coarse cells of k fine rows (stride cells apart, cols coarse cells across): the mean of each block's
// valid cells, NaN for a block without one.
void Coarsen(const float* fine, std::int64_t stride, std::int64_t k, std::int64_t cols, std::vector<double>& sums,
             std::vector<std::int64_t>& counts, float* coarse) {
  std::fill(sums.begin(), sums.begin() + cols, 0.0);
  std::fill(counts.begin(), counts.begin() + cols, 0);
  for (std::int64_t r = 0; r < k; ++r) {
    const float* row = fine + r * stride;
    for (std::int64_t c = 0; c < cols; ++c) {
      for (std::int64_t i = c * k; i < (c + 1) * k; ++i) {
        if (std::isnan(row[i])) continue;
        sums[static_cast<std::size_t>(c)] += row[i];
        ++counts[static_cast<std::size_t>(c)];
      }
    }
  }
  for (std::int64_t c = 0; c < cols; ++c) {
    const auto n = counts[static_cast<std::size_t>(c)];
    coarse[c] = n == 0 ? kMissing : static_cast<float>(sums[static_cast<std::size_t>(c)] / static_cast<double>(n));
  }
}

template <typename T>
T* Sized(std::vector<T>& buffer, std::int64_t count) {
  if (buffer.size() < static_cast<std::size_t>(count)) buffer.resize(static_cast<std::size_t>(count));
  return buffer.data();
}

}  // namespace

struct MosaicPasses::Worker {
  std::vector<float> block;  // one grid's cells of a band
  std::vector<float> fine;   // a band's gathered fine cells
  std::vector<double> sums;
  std::vector<std::int64_t> counts;
  std::vector<float> coarse;
  std::vector<std::uint8_t> bytes;  // a band's coded bytes
};

MosaicPasses::MosaicPasses(const LatticeRect& extent, std::int64_t k, std::vector<MosaicSource>& sources)
    : extent_(extent), k_(k), fine_(FineCells(extent, k)), sources_(sources) {
  // Rows per band: at most kBandCells fine cells and 1 % of the rows, but one row.
  band_rows_ = std::max<std::int64_t>(1, std::min(kBandCells / (k * k * extent.cols), (extent.rows + 99) / 100));
  bands_ = (extent.rows + band_rows_ - 1) / band_rows_;
}

void MosaicPasses::Walk(const ProgressSink& progress, const PassOptions& options, const BandWork& work,
                        const std::function<void(std::int64_t)>& after) {
  PassProgress steps(progress, static_cast<std::int32_t>(extent_.cols), static_cast<std::int32_t>(extent_.rows));
  const int threads = options.Workers(bands_);
  std::vector<Worker> workers(static_cast<std::size_t>(threads));
  const std::int64_t stripe = kStripeBands * threads;
  for (std::int64_t first = 0; first < bands_; first += stripe) {
    const std::int64_t last = std::min(bands_, first + stripe);
    const std::int64_t top = fine_.row + BandStart(first) * k_, bottom = fine_.row + BandEnd(last - 1) * k_;
    std::vector<MosaicSource*> active;
    for (MosaicSource& source : sources_) {
      const LatticeRect& place = source.Tile().place;
      if (place.row >= bottom || place.RowEnd() <= top) continue;
      source.Open(options);
      active.push_back(&source);
    }
    RunChunks(
        last - first, threads,
        [&](std::int64_t chunk, int worker) { work(first + chunk, workers[static_cast<std::size_t>(worker)], active); },
        [&](std::int64_t chunk) {
          if (after) after(first + chunk);
          steps.Through(BandEnd(first + chunk) * extent_.cols);
        });
    for (MosaicSource* source : active) {
      if (source->Tile().place.RowEnd() <= bottom) source->Close();  // no later stripe reaches it
    }
  }
}

void MosaicPasses::Band(std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& active,
                        const Sink& sink) const {
  const LatticeRect rows{fine_.col, fine_.row + BandStart(band) * k_, fine_.cols,
                         (BandEnd(band) - BandStart(band)) * k_};
  std::vector<MosaicSource*> reaching;
  std::vector<LatticeRect> blocks;  // each grid's cells in the band
  bool overlap = false;
  for (MosaicSource* source : active) {
    const LatticeRect block = Intersection(source->Tile().place, rows);
    if (block.cols == 0) continue;
    for (const LatticeRect& other : blocks) overlap = overlap || Intersection(block, other).cols != 0;
    reaching.push_back(source);
    blocks.push_back(block);
  }
  if (overlap || k_ != 1) {
    Gathered(band, worker, reaching, blocks, sink);
    return;
  }
  for (std::size_t i = 0; i < reaching.size(); ++i) {
    const LatticeRect& b = blocks[i];
    const MosaicTile& grid = reaching[i]->Tile();
    float* cells = Sized(worker.block, b.cols * b.rows);
    reaching[i]->Read(b.row - grid.place.row, b.rows, b.col - grid.place.col, b.cols, cells);
    sink({b.row - fine_.row, b.col - fine_.col, cells, b.cols, b.rows, reaching[i]->NoData(), &grid});
  }
}

void MosaicPasses::Gathered(std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& reaching,
                            const std::vector<LatticeRect>& blocks, const Sink& sink) const {
  const std::int64_t first_row = BandStart(band), rows = BandEnd(band) - first_row;
  const std::int64_t top = fine_.row + first_row * k_, stride = fine_.cols;
  float* fine = Sized(worker.fine, rows * k_ * stride);
  std::fill(fine, fine + rows * k_ * stride, kMissing);
  for (std::size_t i = 0; i < reaching.size(); ++i) {
    const LatticeRect& b = blocks[i];
    const MosaicTile& grid = reaching[i]->Tile();
    float* cells = Sized(worker.block, b.cols * b.rows);
    reaching[i]->Read(b.row - grid.place.row, b.rows, b.col - grid.place.col, b.cols, cells);
    Merge(cells, b.rows, b.cols, reaching[i]->NoData(), grid, fine + (b.row - top) * stride + (b.col - fine_.col),
          stride);
  }
  if (k_ == 1) {
    sink({first_row, 0, fine, stride, rows, CellNoData::NotANumber(), nullptr});
    return;
  }
  Sized(worker.sums, extent_.cols);
  Sized(worker.counts, extent_.cols);
  float* coarse = Sized(worker.coarse, extent_.cols);
  for (std::int64_t r = 0; r < rows; ++r) {
    Coarsen(fine + r * k_ * stride, stride, k_, extent_.cols, worker.sums, worker.counts, coarse);
    sink({first_row + r, 0, coarse, extent_.cols, 1, CellNoData::NotANumber(), nullptr});
  }
}

CellRange MosaicPasses::Scan(const ProgressSink& progress, const PassOptions& options) {
  std::vector<CellRange> parts(static_cast<std::size_t>(bands_));
  CellRange range;
  Walk(
      progress, options,
      [&](std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& active) {
        CellRange& part = parts[static_cast<std::size_t>(band)];
        Band(band, worker, active, [&](const Run& run) {
          NamingGrid(run.grid,
                     [&] { ScanCells(run.cells, static_cast<std::size_t>(run.count * run.rows), run.nodata, part); });
        });
      },
      [&](std::int64_t band) { range.Widen(parts[static_cast<std::size_t>(band)]); });
  return range;
}

template <typename Coding>
void MosaicPasses::CodeWith(ImagePixels& output, const ProgressSink& progress, const PassOptions& options, Coding code,
                            const std::function<void(std::int64_t)>& after) {
  const std::int64_t width = extent_.cols;
  Walk(
      progress, options,
      [&](std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& active) {
        const std::int64_t first_row = BandStart(band), cells = (BandEnd(band) - first_row) * width;
        std::uint8_t* bytes = Sized(worker.bytes, cells);
        std::memset(bytes, kNoDataByte, static_cast<std::size_t>(cells));
        Band(band, worker, active, [&](const Run& run) {
          NamingGrid(run.grid, [&] {
            for (std::int64_t r = 0; r < run.rows; ++r) {
              code(run.cells + r * run.count, static_cast<std::size_t>(run.count), run.nodata,
                   bytes + (run.row - first_row + r) * width + run.col, band);
            }
          });
        });
        output.WriteAt(first_row * width, bytes, static_cast<std::size_t>(cells));
      },
      after);
}

void MosaicPasses::Code(const CellScale& scale, ImagePixels& output, const ProgressSink& progress,
                        const PassOptions& options) {
  CodeWith(output, progress, options,
           [&](const float* cells, std::size_t count, CellNoData nodata, std::uint8_t* out, std::int64_t) {
             CodeCells(cells, count, nodata, scale, out);
           },
           {});
}

OutsideCounts MosaicPasses::Code(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                                 const PassOptions& options) {
  std::vector<OutsideCounts> parts(static_cast<std::size_t>(bands_));
  OutsideCounts total;
  CodeWith(
      output, progress, options,
      [&](const float* cells, std::size_t count, CellNoData nodata, std::uint8_t* out, std::int64_t band) {
        CodeCellsClamped(cells, count, nodata, fixed, out, parts[static_cast<std::size_t>(band)]);
      },
      [&](std::int64_t band) { total += parts[static_cast<std::size_t>(band)]; });
  return total;
}

}  // namespace kavrimo
