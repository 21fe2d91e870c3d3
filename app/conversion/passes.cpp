// The two passes: chunks of the data file, each visited as one window (mapped, or read block by block),
// handed to threads by RunChunks.
#include "app/conversion/passes.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <vector>

#include "app/conversion/chunk_runner.h"
#include "app/conversion/pass_runner.h"
#include "app/grid/grid_stream.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

// The smallest share of work, so that tiny grids do not pay for many.
constexpr std::int64_t kMinChunkCells = 4096;

// How a pass cuts the grid's cells into chunks: each chunk is one window (and one share of the work),
// read in blocks where it is not mapped. Progress is reported after every chunk, so a chunk holds at
// most 1 % of the cells (but kMinChunkCells): the bar moves at least every 1 % of the steps.
struct ChunkPlan {
  ChunkPlan(const GridHeader& header, const PassOptions& options)
      : cells(header.ncols > 0 && header.nrows > 0 ? std::int64_t{header.ncols} * header.nrows : 0),
        wanted(std::min(static_cast<std::int64_t>(std::max<std::size_t>(options.chunk_cells, 1)),
                        std::max(kMinChunkCells, cells / 100))),
        block(std::min(wanted, static_cast<std::int64_t>(std::max<std::size_t>(options.block_cells, 1)))),
        chunk(std::max(block, wanted / block * block)),
        chunks((cells + chunk - 1) / chunk) {}
  std::int64_t First(std::int64_t c) const { return c * chunk; }
  std::int64_t End(std::int64_t c) const { return std::min(cells, (c + 1) * chunk); }
  std::size_t Size(std::int64_t c) const { return static_cast<std::size_t>(End(c) - First(c)); }
  std::size_t BufferCells() const {
    return static_cast<std::size_t>(std::min(block, std::max<std::int64_t>(cells, 1)));
  }
  std::size_t ChunkBytes() const { return static_cast<std::size_t>(std::min(chunk, std::max<std::int64_t>(cells, 1))); }

  std::int64_t cells;
  std::int64_t wanted;  // cells per chunk before rounding to blocks
  std::int64_t block;   // cells per read
  std::int64_t chunk;   // cells per window and share of work, a whole number of blocks
  std::int64_t chunks;
};

[[noreturn]] void RaiseShortFile(const BinaryFile& data, std::int64_t first_missing) {
  throw CellFailure{first_missing, std::make_exception_ptr(EInOutError(100, data.Path()))};
}

}  // namespace

CellNoData NoDataOf(const GridHeader& header) {
  if (header.no_nodata) return CellNoData::None();
  if (header.nodata_single && std::isnan(*header.nodata_single)) return CellNoData::NotANumber();
  return header.nodata_single ? CellNoData::Single(*header.nodata_single) : CellNoData(header.NODATA_value);
}

CellRange ScanRange(const BinaryFile& data, const GridHeader& header, const ProgressSink& progress,
                    const PassOptions& options) {
  const ChunkPlan plan(header, options);
  const GridStream grid(data, plan.cells, header.big_endian, options.map_data);
  grid.AdviseSequential();
  const int threads = options.Workers(plan.chunks);
  std::vector<std::optional<BlockBuffer<float>>> blocks(static_cast<std::size_t>(threads));
  std::vector<CellRange> ranges(static_cast<std::size_t>(plan.chunks));
  const CellNoData nodata = NoDataOf(header);
  CellRange range;
  RunPass(
      header, plan.chunks, [&](std::int64_t chunk) { return plan.End(chunk); }, progress, threads,
      [&](std::int64_t chunk, int worker) {
        auto& block = blocks[static_cast<std::size_t>(worker)];
        if (!block) block.emplace(plan.BufferCells());
        CellRange part;
        const std::size_t wanted = plan.Size(chunk);
        const std::size_t got = grid.Visit(plan.First(chunk), wanted, *block,
                                           [&](const float* cells, std::size_t count, std::size_t offset) {
                                             OverCells(
                                                 plan.First(chunk) + static_cast<std::int64_t>(offset), cells, count,
                                                 [&] { ScanCells(cells, count, nodata, part); },
                                                 [&](float cell) {
                                                   CellRange one;
                                                   ScanCells(&cell, 1, nodata, one, CellPath::Portable);
                                                 });
                                           });
        if (got < wanted) RaiseShortFile(data, plan.First(chunk) + static_cast<std::int64_t>(got));
        ranges[static_cast<std::size_t>(chunk)] = part;
      },
      [&](std::int64_t chunk) { range.Widen(ranges[static_cast<std::size_t>(chunk)]); });
  return range;
}

namespace {

// Codes the cells of one run of a chunk into out: run(cells, count, out, chunk, offset of the run in the
// chunk); one_cell(v) codes one cell the same way, to find which cell of a failing run raised. A chunk
// may be visited again from offset 0 (see GridStream::Visit).
struct RunCoder {
  std::function<void(const float*, std::size_t, std::uint8_t*, std::int64_t, std::size_t)> run;
  std::function<void(float)> one_cell;
};

void CodeGridWith(const BinaryFile& data, const GridHeader& header, ImagePixels& output, const ProgressSink& progress,
                  const PassOptions& options, const RunCoder& code, const std::function<void(std::int64_t)>& after) {
  const ChunkPlan plan(header, options);
  const GridStream grid(data, plan.cells, header.big_endian, options.map_data);
  grid.AdviseSequential();
  const int threads = options.Workers(plan.chunks);
  struct Buffers {
    explicit Buffers(const ChunkPlan& plan) : cells(plan.BufferCells()), bytes(plan.ChunkBytes()) {}
    BlockBuffer<float> cells;
    BlockBuffer<std::uint8_t> bytes;
  };
  std::vector<std::optional<Buffers>> buffers(static_cast<std::size_t>(threads));
  RunPass(
      header, plan.chunks, [&](std::int64_t chunk) { return plan.End(chunk); }, progress, threads,
      [&](std::int64_t chunk, int worker) {
        auto& own = buffers[static_cast<std::size_t>(worker)];
        if (!own) own.emplace(plan);
        const std::size_t wanted = plan.Size(chunk);
        const std::size_t got = grid.Visit(
            plan.First(chunk), wanted, own->cells, [&](const float* cells, std::size_t count, std::size_t offset) {
              OverCells(
                  plan.First(chunk) + static_cast<std::int64_t>(offset), cells, count,
                  [&] { code.run(cells, count, own->bytes.data() + offset, chunk, offset); }, code.one_cell);
            });
        // The bytes before a short read are written first, so a full disk there is the error a user sees.
        output.WriteAt(plan.First(chunk), own->bytes.data(), got);
        if (got < wanted) RaiseShortFile(data, plan.First(chunk) + static_cast<std::int64_t>(got));
      },
      after);
}

}  // namespace

void CodeGrid(const BinaryFile& data, const GridHeader& header, const CellScale& scale, ImagePixels& output,
              const ProgressSink& progress, const PassOptions& options) {
  const CellNoData nodata = NoDataOf(header);
  CodeGridWith(data, header, output, progress, options,
               {[&](const float* cells, std::size_t count, std::uint8_t* out, std::int64_t, std::size_t) {
                  CodeCells(cells, count, nodata, scale, out);
                },
                [&](float cell) { CodeCellReference(cell, nodata, scale); }},
               {});
}

OutsideCounts CodeGrid(const BinaryFile& data, const GridHeader& header, const FixedScale& fixed, ImagePixels& output,
                       const ProgressSink& progress, const PassOptions& options) {
  const CellNoData nodata = NoDataOf(header);
  std::vector<OutsideCounts> parts(static_cast<std::size_t>(ChunkPlan(header, options).chunks));
  OutsideCounts total;
  CodeGridWith(data, header, output, progress, options,
               {[&](const float* cells, std::size_t count, std::uint8_t* out, std::int64_t chunk, std::size_t offset) {
                  OutsideCounts& part = parts[static_cast<std::size_t>(chunk)];
                  if (offset == 0) part = {};  // a window visited again counts afresh
                  CodeCellsClamped(cells, count, nodata, fixed, out, part);
                },
                [&](float cell) { CodeCellClampedReference(cell, nodata, fixed); }},
               [&](std::int64_t chunk) { total += parts[static_cast<std::size_t>(chunk)]; });
  return total;
}

OutsideCounts CodeGrid(const BinaryFile& data, const GridHeader& header, const GridCoding& coding, ImagePixels& output,
                       const ProgressSink& progress, const PassOptions& options) {
  if (const auto* fixed = std::get_if<FixedScale>(&coding)) {
    return CodeGrid(data, header, *fixed, output, progress, options);
  }
  CodeGrid(data, header, std::get<CellScale>(coding), output, progress, options);
  return {};
}

}  // namespace kavrimo
