// Mosaic passes: stripes of bands on the chunk runner's threads, each band read grid by grid.
#include "app/conversion/mosaic_passes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "app/conversion/chunk_runner.h"
#include "app/conversion/mosaic_coarsening.h"
#include "app/conversion/pass_runner.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

// Fine cells a band gathers at most (but one coarse row): a few MiB per thread. Bands are tall, so that
// each grid's part of a band is read at once.
constexpr std::int64_t kBandCells = std::int64_t{1} << 21;
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

// Copies n cells to to, each missing one as NaN; true when a cell is a NaN that is not missing.
bool CopyMarkedRun(const float* from, std::int64_t n, float* to, CellNoData nodata) {
  if (nodata.nan) {  // the NaN cells are the missing ones, and no other
    std::copy(from, from + n, to);
    return false;
  }
  int invalid = 0;
  const float value = nodata.value;
  if (nodata.possible) {
    for (std::int64_t i = 0; i < n; ++i) {
      const float v = from[i];
      invalid |= static_cast<int>(v != v);
      to[i] = v == value ? kMissing : v;
    }
  } else {
    for (std::int64_t i = 0; i < n; ++i) {
      const float v = from[i];
      invalid |= static_cast<int>(v != v);
      to[i] = v;
    }
  }
  return invalid != 0;
}

// Copies count cells of a block cols cells wide, from its cell first on, to their places in fine (stride
// cells a row, at the block's first cell), each missing one as NaN.
void CopyMarked(const float* cells, std::int64_t count, std::int64_t first, std::int64_t cols, float* fine,
                std::int64_t stride, CellNoData nodata, const MosaicTile& grid) {
  for (std::int64_t at = first; at < first + count;) {
    const std::int64_t r = at / cols, c = at % cols, n = std::min(cols - c, first + count - at);
    if (CopyMarkedRun(cells + (at - first), n, fine + r * stride + c, nodata)) RaiseInvalidCell(grid);
    at += n;
  }
}

// Whether every block's edges lie on the lines of area's blocks of k x k cells.
bool OnCoarseLines(const std::vector<LatticeRect>& blocks, const LatticeRect& area, std::int64_t k) {
  return std::all_of(blocks.begin(), blocks.end(), [&](const LatticeRect& b) {
    return (b.col - area.col) % k == 0 && b.cols % k == 0 && (b.row - area.row) % k == 0 && b.rows % k == 0;
  });
}

// The grids of active that reach area, each with its cells there (blocks); true when two of them overlap.
bool Reaching(const LatticeRect& area, const std::vector<MosaicSource*>& active, std::vector<MosaicSource*>& reaching,
              std::vector<LatticeRect>& blocks) {
  bool overlap = false;
  for (MosaicSource* source : active) {
    const LatticeRect block = Intersection(source->Tile().place, area);
    if (block.cols == 0) continue;
    for (const LatticeRect& other : blocks) overlap = overlap || Intersection(block, other).cols != 0;
    reaching.push_back(source);
    blocks.push_back(block);
  }
  return overlap;
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
  std::vector<float> coarse;
  std::vector<double> sums;  // one coarse row's sums and counts of valid cells
  std::vector<std::int64_t> counts;
  std::vector<std::uint8_t> bytes;  // a band's coded bytes
  std::optional<BlockBuffer<float>> reads;
};

MosaicPasses::MosaicPasses(const LatticeRect& extent, std::int64_t k, std::vector<MosaicSource>& sources)
    : extent_(extent), k_(k), fine_(FineCells(extent, k)), sources_(sources) {
  // Rows per band: at most kBandCells fine cells and a 32nd of the rows, but one row.
  const double fine_row = static_cast<double>(k) * static_cast<double>(k) * static_cast<double>(extent.cols);
  band_rows_ = std::max<std::int64_t>(
      1, std::min(static_cast<std::int64_t>(static_cast<double>(kBandCells) / fine_row), (extent.rows + 31) / 32));
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
  const std::int64_t fine_rows = (BandEnd(band) - BandStart(band)) * k_;
  // Coarse cells go in strips of columns, so that a band's fine cells stay within kBandCells however
  // large k is (but one coarse cell).
  const std::int64_t strip =
      k_ == 1 ? extent_.cols : std::clamp<std::int64_t>(kBandCells / (fine_rows * k_), 1, extent_.cols);
  for (std::int64_t first_col = 0; first_col < extent_.cols; first_col += strip) {
    const LatticeRect area{fine_.col + first_col * k_, fine_.row + BandStart(band) * k_,
                           std::min(strip, extent_.cols - first_col) * k_, fine_rows};
    std::vector<MosaicSource*> reaching;
    std::vector<LatticeRect> blocks;  // each grid's cells in the area
    const bool overlap = Reaching(area, active, reaching, blocks);
    if (overlap || k_ != 1) {
      Gathered(band, area, worker, reaching, blocks, overlap, sink);
    } else {
      Direct(worker, reaching, blocks, sink);
    }
  }
}

bool MosaicPasses::Whole(std::int64_t band, const std::vector<MosaicSource*>& active) const {
  if (k_ != 1) return true;  // coarse cells are handed on whole
  const LatticeRect area{fine_.col, fine_.row + BandStart(band), fine_.cols, BandEnd(band) - BandStart(band)};
  std::vector<MosaicSource*> reaching;
  std::vector<LatticeRect> blocks;
  if (Reaching(area, active, reaching, blocks)) return true;  // gathered: whole, missing cells as NaN
  std::int64_t covered = 0;
  for (const LatticeRect& b : blocks) covered += b.cols * b.rows;
  return covered == area.cols * area.rows;
}

void MosaicPasses::Direct(Worker& worker, const std::vector<MosaicSource*>& reaching,
                          const std::vector<LatticeRect>& blocks, const Sink& sink) const {
  if (!worker.reads) worker.reads.emplace(kPassBlockCells);
  for (std::size_t i = 0; i < reaching.size(); ++i) {
    const LatticeRect& b = blocks[i];
    const MosaicTile& grid = reaching[i]->Tile();
    const CellNoData nodata = reaching[i]->NoData();
    reaching[i]->Visit(b.row - grid.place.row, b.rows, b.col - grid.place.col, b.cols, worker.block, *worker.reads,
                       [&](const float* cells, std::size_t count, std::size_t offset) {
                         sink({b.row - fine_.row, b.col - fine_.col, b.cols, static_cast<std::int64_t>(offset), cells,
                               static_cast<std::int64_t>(count), nodata, &grid});
                       });
  }
}

void MosaicPasses::Gathered(std::int64_t band, const LatticeRect& area, Worker& worker,
                            const std::vector<MosaicSource*>& reaching, const std::vector<LatticeRect>& blocks,
                            bool overlap, const Sink& sink) const {
  if (!overlap && k_ > 1 && OnCoarseLines(blocks, area, k_)) {
    Fused(band, area, worker, reaching, blocks, sink);
    return;
  }
  const std::int64_t stride = area.cols, cells = area.rows * stride;
  float* fine = Sized(worker.fine, cells);
  std::int64_t covered = 0;
  for (const LatticeRect& b : blocks) covered += b.cols * b.rows;
  if (overlap || covered != cells) std::fill(fine, fine + cells, kMissing);
  for (std::size_t i = 0; i < reaching.size(); ++i) {
    const LatticeRect& b = blocks[i];
    const MosaicSource& source = *reaching[i];
    const MosaicTile& grid = source.Tile();
    float* at = fine + (b.row - area.row) * stride + (b.col - area.col);
    if (overlap) {
      float* block = Sized(worker.block, b.cols * b.rows);
      source.Read(b.row - grid.place.row, b.rows, b.col - grid.place.col, b.cols, block);
      Merge(block, b.rows, b.cols, source.NoData(), grid, at, stride);
      continue;
    }
    // No other grid here: the cells go where they belong, missing ones as NaN.
    if (!worker.reads) worker.reads.emplace(kPassBlockCells);
    source.Visit(b.row - grid.place.row, b.rows, b.col - grid.place.col, b.cols, worker.block, *worker.reads,
                 [&](const float* from, std::size_t count, std::size_t offset) {
                   CopyMarked(from, static_cast<std::int64_t>(count), static_cast<std::int64_t>(offset), b.cols, at,
                              stride, source.NoData(), grid);
                 });
  }
  const std::int64_t first_row = BandStart(band), first_col = (area.col - fine_.col) / k_;
  if (k_ == 1) {
    sink({first_row, first_col, stride, 0, fine, cells, CellNoData::NotANumber(), nullptr});
    return;
  }
  const std::int64_t cols = stride / k_;
  float* coarse = Sized(worker.coarse, cols);
  for (std::int64_t r = 0; r < area.rows / k_; ++r) {
    CoarsenRows(fine + r * k_ * stride, stride, k_, cols, coarse);
    sink({first_row + r, first_col, cols, 0, coarse, cols, CellNoData::NotANumber(), nullptr});
  }
}

void MosaicPasses::Fused(std::int64_t band, const LatticeRect& area, Worker& worker,
                         const std::vector<MosaicSource*>& reaching, const std::vector<LatticeRect>& blocks,
                         const Sink& sink) const {
  const std::int64_t cols = area.cols / k_, rows = area.rows / k_;
  float* coarse = Sized(worker.coarse, rows * cols);  // the area's coarse cells, row after row
  std::int64_t covered = 0;
  for (const LatticeRect& b : blocks) covered += b.cols * b.rows;
  if (covered != area.cols * area.rows) std::fill(coarse, coarse + rows * cols, kMissing);
  if (!worker.reads) worker.reads.emplace(kPassBlockCells);
  for (std::size_t i = 0; i < reaching.size(); ++i) {
    const LatticeRect& b = blocks[i];
    const MosaicSource& source = *reaching[i];
    const MosaicTile& grid = source.Tile();
    // One coarse row of the block at a time: its sums start at its first fine row and become means at
    // its last. A window read again from its first cell starts again, and its means replace the first.
    const std::int64_t across = b.cols / k_;
    double* sums = Sized(worker.sums, across);
    std::int64_t* counts = Sized(worker.counts, across);
    float* const means = coarse + (b.row - area.row) / k_ * cols + (b.col - area.col) / k_;
    source.Visit(b.row - grid.place.row, b.rows, b.col - grid.place.col, b.cols, worker.block, *worker.reads,
                 [&](const float* from, std::size_t count, std::size_t offset) {
                   const auto first = static_cast<std::int64_t>(offset), end = first + static_cast<std::int64_t>(count);
                   for (std::int64_t at = first; at < end;) {
                     const std::int64_t r = at / b.cols, c = at % b.cols, n = std::min(b.cols - c, end - at);
                     if (c == 0 && r % k_ == 0) {
                       std::fill(sums, sums + across, 0.0);
                       std::fill(counts, counts + across, 0);
                     }
                     if (AccumulateCoarse(from + (at - first), n, c, k_, source.NoData(), sums, counts)) {
                       RaiseInvalidCell(grid);
                     }
                     at += n;
                     if (c + n == b.cols && r % k_ == k_ - 1) CoarseMeans(sums, counts, across, means + r / k_ * cols);
                   }
                 });
  }
  // The band's coarse rows in one run where they lie one after another in the image (a strip as wide as
  // the image), so that pass 1 keeps them in one write; else row by row.
  const std::int64_t first_col = (area.col - fine_.col) / k_;
  const std::int64_t together = cols == extent_.cols ? rows : 1;
  for (std::int64_t r = 0; r < rows; r += together) {
    sink({BandStart(band) + r, first_col, cols, 0, coarse + r * cols, together * cols, CellNoData::NotANumber(),
          nullptr});
  }
}

CellRange MosaicPasses::Scan(const ProgressSink& progress, const PassOptions& options, BinaryFile* keep) {
  std::vector<CellRange> parts(static_cast<std::size_t>(bands_));
  CellRange range;
  Walk(
      progress, options,
      [&](std::int64_t band, Worker& worker, const std::vector<MosaicSource*>& active) {
        CellRange& part = parts[static_cast<std::size_t>(band)];
        Band(band, worker, active, [&](const Run& run) {
          NamingGrid(run.grid, [&] { ScanCells(run.cells, static_cast<std::size_t>(run.count), run.nodata, part); });
          if (keep != nullptr) {  // coarse rows as wide as the image, or a part of one row
            keep->WriteExactlyAt((run.row * extent_.cols + run.col) * std::int64_t{sizeof(float)}, run.cells,
                                 static_cast<std::size_t>(run.count) * sizeof(float));
          }
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
        if (!Whole(band, active)) std::memset(bytes, kNoDataByte, static_cast<std::size_t>(cells));
        Band(band, worker, active, [&](const Run& run) {
          NamingGrid(run.grid, [&] {
            // The run's pieces of each row go to their places in the band's rows.
            for (std::int64_t at = run.first; at < run.first + run.count;) {
              const std::int64_t r = at / run.cols, c = at % run.cols;
              const std::int64_t count = std::min(run.cols - c, run.first + run.count - at);
              code(run.cells + (at - run.first), static_cast<std::size_t>(count), run.nodata,
                   bytes + (run.row - first_row + r) * width + run.col + c, band);
              at += count;
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
