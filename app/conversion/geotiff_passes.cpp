// GeoTIFF passes: bands of blocks shared out to threads, each block's cells read in place from a mapping,
// decoded by the thread's own reader, or read back from the scratch file, and visited row by row so that
// failures are found in cell order.
#include "app/conversion/geotiff_passes.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>

#include "app/conversion/chunk_runner.h"
#include "app/conversion/pass_runner.h"
#include "app/grid/grid_stream.h"
#include "runtime/errors.h"
#include "runtime/mapped_file.h"

namespace kavrimo {
namespace {

// Where blocks are decoded, a band's coded bytes are written at once when they take at most this much; a
// larger band (on a very wide grid) is written row by row.
constexpr std::int64_t kBandBytes = std::int64_t{8} << 20;
// Rows of coded bytes written at once where a band is coded row after row: small enough to stay in cache.
constexpr std::int64_t kSliceBytes = std::int64_t{256} << 10;
// The largest band mapped whole. A slice of rows touches every block of its band, and the system maps a
// block's pages in large pieces, so a band's mapping may become resident all at once: wider bands go
// block by block, each block mapped and let go on its own.
constexpr std::int64_t kMappedBandBytes = std::int64_t{16} << 20;

enum class CellsFrom { kPlace, kDecoding, kScratch };

// The cell after the last of band y.
std::int64_t BandEnd(const GeoTiffLayout& layout, std::int64_t y) {
  return (y * layout.block_height + layout.HeightOf(y)) * layout.ncols;
}

// The bytes one thread of a pass holds for a block, besides a band mapped whole: the block's cells
// (decoded by its reader from the stored bytes, or mapped from the file or the scratch file) and, when the
// pass codes, a block's coded bytes and a band's.
std::int64_t WorkerBytes(GeoTiffSource& source, CellsFrom from, bool codes) {
  const GeoTiffLayout& layout = source.Layout();
  const std::int64_t block_cells = layout.block_width * layout.block_height;
  std::int64_t bytes =
      from == CellsFrom::kDecoding ? source.Info().DecodingBytes() : block_cells * std::int64_t{sizeof(float)};
  if (codes) {
    bytes += block_cells;
    if (layout.block_height * layout.ncols <= kBandBytes) bytes += layout.block_height * layout.ncols;
  }
  return bytes;
}

// The threads of a pass: as many as the block budget holds, at least one and at most one a band; one
// where the pass decodes blocks that are runs of rows one reader must take in order.
int PassWorkers(GeoTiffSource& source, CellsFrom from, bool codes, const PassOptions& options) {
  const GeoTiffLayout& layout = source.Layout();
  if (from == CellsFrom::kDecoding && layout.rows_in_order) return 1;
  const std::int64_t fit = std::max<std::int64_t>(1, kGeoTiffBlockBudget / WorkerBytes(source, from, codes));
  return static_cast<int>(std::min<std::int64_t>(options.Workers(layout.blocks_down), fit));
}

// The largest band a thread of a pass reading in place maps whole: what its share of the block budget
// leaves, and no more than kMappedBandBytes.
std::int64_t BandLimit(GeoTiffSource& source, CellsFrom from, bool codes, int threads) {
  return std::min(kMappedBandBytes, kGeoTiffBlockBudget / threads - WorkerBytes(source, from, codes));
}

// Visits the rows of a block: width cells each, stride cells apart.
using RowsVisitor = std::function<void(const float* cells, std::int64_t stride)>;

// A band's cells mapped at once: those of a file read in place, where its blocks lie one after another
// (as writers lay tiles out). A band then costs one mapping, and is coded a few rows at a time across
// its blocks. (The scratch file's blocks go one at a time: decoding, not coding, sets their pace.)
struct BandWindow {
  std::optional<MappedWindow> window;
  std::int64_t first = 0;  // the file offset of the window's first byte
  std::int64_t end = 0;
  std::vector<std::int64_t> starts;  // each block's first cell's byte, from first

  // The rows of block x from row r on; they lie block_width cells apart.
  const float* Rows(const GeoTiffLayout& layout, std::int64_t x, std::int64_t r) const {
    return reinterpret_cast<const float*>(window->Data() + starts[static_cast<std::size_t>(x)]) +
           r * layout.block_width;
  }

  // Maps band y when it takes at most limit bytes.
  void Map(GeoTiffSource& source, std::int64_t y, std::int64_t limit) {
    window.reset();
    const GeoTiffLayout& layout = source.Layout();
    if (!layout.in_place || !layout.tiled || !BusErrorGuardAvailable()) return;
    const std::int64_t block_bytes = layout.block_width * layout.block_height * std::int64_t{sizeof(float)};
    const auto offset = [&](std::int64_t x) {
      return static_cast<std::int64_t>(layout.block_offsets[static_cast<std::size_t>(y * layout.blocks_across + x)]);
    };
    for (std::int64_t x = 1; x < layout.blocks_across; ++x) {
      if (offset(x) != offset(x - 1) + block_bytes) return;
    }
    first = offset(0);
    end = first + layout.blocks_across * block_bytes;
    if (end - first > limit || source.File().Size() < end) return;
    starts.resize(static_cast<std::size_t>(layout.blocks_across));
    for (std::int64_t x = 0; x < layout.blocks_across; ++x) starts[static_cast<std::size_t>(x)] = offset(x) - first;
    window.emplace(source.File(), first, static_cast<std::size_t>(end - first));
    if (!window->Ok()) window.reset();
  }
};

// The cells of block (x, y), handed to visit from where they are; buffer holds one block.
void WithBlock(GeoTiffSource& source, CellsFrom from, const BinaryFile* scratch, const BandWindow& band, int worker,
               std::int64_t x, std::int64_t y, std::optional<BlockBuffer<float>>& buffer, const RowsVisitor& visit) {
  const GeoTiffLayout& layout = source.Layout();
  const std::int64_t width = layout.WidthOf(x), height = layout.HeightOf(y);
  const auto bytes = static_cast<std::size_t>(width * height) * sizeof(float);
  const auto read_into = [&] {  // a block's cells read rather than mapped
    if (!buffer) buffer.emplace(static_cast<std::size_t>(layout.block_width * layout.block_height));
    return buffer->data();
  };
  if (from == CellsFrom::kDecoding) {
    visit(source.Reader(worker).DecodeBlock(x, y), width);
    return;
  }
  if (from == CellsFrom::kScratch) {
    // The scratch file is ours and has no name: nothing can cut it short, so its pages are visited
    // where they lie, without a copy, as long as the system maps them.
    const std::int64_t at = GeoTiffScratchCell(layout, x, y) * std::int64_t{sizeof(float)};
    const MappedWindow window(*scratch, at, bytes);
    if (window.Ok() && scratch->Size() >= at + static_cast<std::int64_t>(bytes)) {
      visit(reinterpret_cast<const float*>(window.Data()), width);
      return;
    }
    if (scratch->ReadAt(at, read_into(), bytes) != bytes) throw EInOutError(100, scratch->Path());
    visit(buffer->data(), width);
    return;
  }
  // In place: the block's rows lie block_width cells apart from its offset on.
  const BinaryFile& file = source.File();
  const auto offset =
      static_cast<std::int64_t>(layout.block_offsets[static_cast<std::size_t>(y * layout.blocks_across + x)]);
  const std::int64_t span = ((height - 1) * layout.block_width + width) * std::int64_t{sizeof(float)};
  const auto visit_bytes = [&](const char* stored) {
    visit(reinterpret_cast<const float*>(stored), layout.block_width);
  };
  if (band.window && offset >= band.first && offset + span <= band.end) {
    VisitMappedWhole(*band.window, file, source.Path(),
                     [&] { visit_bytes(band.window->Data() + (offset - band.first)); });
    return;
  }
  if (VisitWindowWhole(file, offset, static_cast<std::size_t>(span), source.Path(), visit_bytes)) return;
  for (std::int64_t r = 0; r < height; ++r) {
    const std::int64_t at = offset + r * layout.block_width * std::int64_t{sizeof(float)};
    const auto row = static_cast<std::size_t>(width) * sizeof(float);
    if (file.ReadAt(at, read_into() + r * width, row) != row) {
      throw EGeoTiffError(source.Path() + " is truncated: its data reaches byte " +
                          std::to_string(at + static_cast<std::int64_t>(row)));
    }
  }
  visit(buffer->data(), width);
}

// Runs block(x) for every block of band y, left to right. A failing block does not stop the others: the
// band then fails at its first failing cell in cell order (a block that cannot be read, at its first cell).
void OverBand(const GeoTiffLayout& layout, std::int64_t y, const std::function<void(std::int64_t x)>& block) {
  std::optional<CellFailure> first;
  for (std::int64_t x = 0; x < layout.blocks_across; ++x) {
    try {
      block(x);
    } catch (const CellFailure& failure) {
      KeepFirst(first, failure);
    } catch (...) {
      KeepFirst(first, {y * layout.block_height * layout.ncols + x * layout.block_width, std::current_exception()});
    }
  }
  if (first) throw *first;
}

// Runs run(cells, count, first_row) over rows [first_row, first_row + rows) of block (x, y), their cells one
// after another; an error leaves as a CellFailure naming the grid's index of the first cell of the run that
// fails one_cell (FirstFailingCell).
template <typename Run, typename OneCell>
void OverRun(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y, const float* run_cells,
             std::int64_t first_row, std::int64_t rows, Run run, OneCell one_cell) {
  const std::int64_t width = layout.WidthOf(x);
  const auto count = static_cast<std::size_t>(rows * width);
  try {
    run(run_cells, count, first_row);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    const auto failing = static_cast<std::int64_t>(FirstFailingCell(run_cells, count, one_cell));
    const std::int64_t row = y * layout.block_height + first_row + failing / width;
    throw CellFailure{row * layout.ncols + x * layout.block_width + failing % width, error};
  }
}

// Runs a block's arithmetic over its cells in as few runs as their layout allows: the whole block at once
// where its rows lie one after another, else row by row. run(cells, count, first_row) handles count cells,
// whole rows of the block from first_row on. An error leaves as a CellFailure naming the grid's index of
// the block's first cell in order that fails one_cell (found again one cell at a time, on failure only).
template <typename Run, typename OneCell>
void OverBlock(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y, const float* cells, std::int64_t stride,
               Run run, OneCell one_cell) {
  const std::int64_t width = layout.WidthOf(x), height = layout.HeightOf(y);
  const auto over = [&](const float* run_cells, std::int64_t first_row, std::int64_t rows) {
    OverRun(layout, x, y, run_cells, first_row, rows, run, one_cell);
  };
  if (stride == width) {
    over(cells, 0, height);
    return;
  }
  for (std::int64_t r = 0; r < height; ++r) over(cells + r * stride, r, 1);
}

// OverBlock over the rows [first_row, first_row + rows) of a block, stride cells apart, cells pointing at
// the first of them; run's first_row counts from that row.
template <typename Run, typename OneCell>
void OverBlockRows(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y, std::int64_t first_row,
                   std::int64_t rows, const float* cells, std::int64_t stride, Run run, OneCell one_cell) {
  const auto shifted = [&](const float* run_cells, std::size_t count, std::int64_t r) {
    run(run_cells, count, r - first_row);
  };
  if (layout.WidthOf(x) == stride) {
    OverRun(layout, x, y, cells, first_row, rows, shifted, one_cell);
    return;
  }
  for (std::int64_t r = 0; r < rows; ++r)
    OverRun(layout, x, y, cells + r * stride, first_row + r, 1, shifted, one_cell);
}

// How a pass codes: code(cells, count, out, band) codes a run of cells into bytes, one_cell codes one
// cell the same way (to find a failing run's cell), after(band) runs in band order on the calling thread.
struct BandCoding {
  std::function<void(const float*, std::size_t, std::uint8_t*, std::int64_t)> code;
  std::function<void(float)> one_cell;
  std::function<void(std::int64_t)> after;
};

// What one thread of a coding pass holds.
struct CodingBuffers {
  std::optional<BlockBuffer<float>> cells;
  std::optional<BlockBuffer<std::uint8_t>> block;  // a block's coded bytes
  std::optional<BlockBuffer<std::uint8_t>> rows;   // a band's coded rows, or a slice of them
  BandWindow window;
};

// Codes band y, mapped whole in own.window, a few rows at a time: each block's rows of the slice at once,
// their bytes gathered into rows that stay in the processor's cache until they are written.
void CodeMappedBand(GeoTiffSource& source, std::int64_t y, const BandCoding& coding, CodingBuffers& own,
                    ImagePixels& output) {
  const GeoTiffLayout& layout = source.Layout();
  const std::int64_t first_row = y * layout.block_height, rows = layout.HeightOf(y);
  const std::int64_t slice = std::max<std::int64_t>(1, std::min(layout.block_height, kSliceBytes / layout.ncols));
  if (!own.rows) own.rows.emplace(static_cast<std::size_t>(slice * layout.ncols));
  const BandWindow& band = own.window;
  std::uint8_t* const coded = own.block->data();
  std::uint8_t* const bytes = own.rows->data();
  const auto code_slice = [&](std::int64_t r0, std::int64_t count) {
    std::optional<CellFailure> first;  // the slice's first failing cell in cell order
    for (std::int64_t x = 0; x < layout.blocks_across; ++x) {
      const std::int64_t width = layout.WidthOf(x);
      try {
        OverBlockRows(
            layout, x, y, r0, count, band.Rows(layout, x, r0), layout.block_width,
            [&](const float* run, std::size_t n, std::int64_t r) { coding.code(run, n, coded + r * width, y); },
            coding.one_cell);
      } catch (const CellFailure& failure) {
        KeepFirst(first, failure);
        continue;
      }
      for (std::int64_t r = 0; r < count; ++r) {
        std::memcpy(bytes + r * layout.ncols + x * layout.block_width, coded + r * width,
                    static_cast<std::size_t>(width));
      }
    }
    if (first) throw *first;
    output.WriteAt((first_row + r0) * layout.ncols, bytes, static_cast<std::size_t>(count * layout.ncols));
  };
  VisitMappedWhole(*band.window, source.File(), source.Path(), [&] {
    for (std::int64_t r0 = 0; r0 < rows; r0 += slice) code_slice(r0, std::min(slice, rows - r0));
  });
}

// Codes band y block by block: into a band of bytes written at once, or straight to the image row by row
// where a band would take too much memory.
void CodeBandByBlocks(GeoTiffSource& source, CellsFrom from, const BinaryFile* scratch, int worker, std::int64_t y,
                      const BandCoding& coding, CodingBuffers& own, ImagePixels& output) {
  const GeoTiffLayout& layout = source.Layout();
  const std::int64_t first_row = y * layout.block_height, rows = layout.HeightOf(y);
  const bool whole_band = layout.block_height * layout.ncols <= kBandBytes;
  if (whole_band && !own.rows) own.rows.emplace(static_cast<std::size_t>(layout.block_height * layout.ncols));
  std::uint8_t* const coded = own.block->data();
  OverBand(layout, y, [&](std::int64_t x) {
    const std::int64_t width = layout.WidthOf(x);
    WithBlock(source, from, scratch, own.window, worker, x, y, own.cells, [&](const float* cells, std::int64_t stride) {
      OverBlock(
          layout, x, y, cells, stride,
          [&](const float* run, std::size_t count, std::int64_t r) { coding.code(run, count, coded + r * width, y); },
          coding.one_cell);
    });
    for (std::int64_t r = 0; r < rows; ++r) {
      const std::int64_t place = r * layout.ncols + x * layout.block_width;
      if (whole_band) {
        std::memcpy(own.rows->data() + place, coded + r * width, static_cast<std::size_t>(width));
      } else {
        output.WriteAt(first_row * layout.ncols + place, coded + r * width, static_cast<std::size_t>(width));
      }
    }
  });
  if (whole_band) {
    output.WriteAt(first_row * layout.ncols, own.rows->data(), static_cast<std::size_t>(rows * layout.ncols));
  }
}

// Pass 2 or the one pass over a fixed range: codes every band into the image, each band mapped whole
// where it can be, else block by block.
void CodeBands(GeoTiffSource& source, const GridHeader& header, CellsFrom from, const BinaryFile* scratch,
               ImagePixels& output, const ProgressSink& progress, int threads, const BandCoding& coding) {
  const GeoTiffLayout& layout = source.Layout();
  source.PrepareWorkers(threads);
  if (from == CellsFrom::kPlace) source.File();
  std::vector<CodingBuffers> buffers(static_cast<std::size_t>(threads));
  RunPass(
      header, layout.blocks_down, [&](std::int64_t y) { return BandEnd(layout, y); }, progress, threads,
      [&](std::int64_t y, int worker) {
        CodingBuffers& own = buffers[static_cast<std::size_t>(worker)];
        if (!own.block) own.block.emplace(static_cast<std::size_t>(layout.block_width * layout.block_height));
        if (from == CellsFrom::kPlace) own.window.Map(source, y, BandLimit(source, from, true, threads));
        if (own.window.window) {
          CodeMappedBand(source, y, coding, own, output);
        } else {
          CodeBandByBlocks(source, from, scratch, worker, y, coding, own, output);
        }
      },
      coding.after);
}

}  // namespace

GeoTiffSource::GeoTiffSource(std::string path, std::unique_ptr<GeoTiffDecoder> first)
    : path_(std::move(path)), first_(std::move(first)) {}

void GeoTiffSource::PrepareWorkers(int workers) {
  if (static_cast<int>(others_.size()) < workers - 1) others_.resize(static_cast<std::size_t>(workers - 1));
}

GeoTiffDecoder& GeoTiffSource::Reader(int worker) {
  if (worker == 0) return *first_;
  std::unique_ptr<GeoTiffDecoder>& reader = others_.at(static_cast<std::size_t>(worker - 1));
  if (!reader) reader = OpenGeoTiff(path_);
  return *reader;
}

const BinaryFile& GeoTiffSource::File() {
  if (!file_.IsOpen()) file_ = BinaryFile::OpenExisting(path_, OpenMode::ReadOnly);
  return file_;
}

void GeoTiffSource::FreeDecoding() {
  first_->FreeBuffers();
  others_.clear();
}

void GeoTiffSource::Close() {
  others_.clear();
  file_.Close();
}

std::int64_t GeoTiffScratchCell(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y) {
  return y * layout.block_height * layout.ncols + layout.HeightOf(y) * x * layout.block_width;
}

CellRange ScanGeoTiff(GeoTiffSource& source, const GridHeader& header, BinaryFile* scratch,
                      const ProgressSink& progress, const PassOptions& options, std::int64_t scratch_base) {
  const GeoTiffLayout& layout = source.Layout();
  const CellsFrom from = layout.in_place ? CellsFrom::kPlace : CellsFrom::kDecoding;
  const int threads = PassWorkers(source, from, false, options);
  source.PrepareWorkers(threads);
  if (from == CellsFrom::kPlace) source.File();
  std::vector<std::optional<BlockBuffer<float>>> buffers(static_cast<std::size_t>(threads));
  std::vector<BandWindow> bands(static_cast<std::size_t>(threads));
  std::vector<CellRange> parts(static_cast<std::size_t>(layout.blocks_down));
  const CellNoData nodata = NoDataOf(header);
  CellRange range;
  RunPass(
      header, layout.blocks_down, [&](std::int64_t y) { return BandEnd(layout, y); }, progress, threads,
      [&](std::int64_t y, int worker) {
        auto& buffer = buffers[static_cast<std::size_t>(worker)];
        CellRange& part = parts[static_cast<std::size_t>(y)];
        BandWindow& band = bands[static_cast<std::size_t>(worker)];
        if (from == CellsFrom::kPlace) band.Map(source, y, BandLimit(source, from, false, threads));
        OverBand(layout, y, [&](std::int64_t x) {
          WithBlock(source, from, nullptr, band, worker, x, y, buffer, [&](const float* cells, std::int64_t stride) {
            OverBlock(
                layout, x, y, cells, stride,
                [&](const float* run, std::size_t count, std::int64_t) { ScanCells(run, count, nodata, part); },
                [&](float cell) {
                  CellRange one;
                  ScanCells(&cell, 1, nodata, one, CellPath::Portable);
                });
            if (scratch != nullptr && from == CellsFrom::kDecoding) {
              const auto count = static_cast<std::size_t>(layout.WidthOf(x) * layout.HeightOf(y));
              scratch->WriteExactlyAt(scratch_base + GeoTiffScratchCell(layout, x, y) * std::int64_t{sizeof(float)},
                                      cells, count * sizeof(float));
            }
          });
        });
      },
      [&](std::int64_t y) { range.Widen(parts[static_cast<std::size_t>(y)]); });
  if (from == CellsFrom::kDecoding) source.FreeDecoding();  // pass 2 codes from the scratch file
  return range;
}

void CodeGeoTiff(GeoTiffSource& source, const GridHeader& header, const BinaryFile* scratch, const CellScale& scale,
                 ImagePixels& output, const ProgressSink& progress, const PassOptions& options) {
  const CellsFrom from = scratch != nullptr ? CellsFrom::kScratch : CellsFrom::kPlace;
  const CellNoData nodata = NoDataOf(header);
  const BandCoding coding{
      .code = [&](const float* cells, std::size_t count, std::uint8_t* out,
                  std::int64_t) { CodeCells(cells, count, nodata, scale, out); },
      .one_cell = [&](float cell) { CodeCellReference(cell, nodata, scale); },
      .after = {},
  };
  CodeBands(source, header, from, scratch, output, progress, PassWorkers(source, from, true, options), coding);
}

OutsideCounts CodeGeoTiff(GeoTiffSource& source, const GridHeader& header, const FixedScale& fixed, ImagePixels& output,
                          const ProgressSink& progress, const PassOptions& options) {
  const GeoTiffLayout& layout = source.Layout();
  const CellsFrom from = layout.in_place ? CellsFrom::kPlace : CellsFrom::kDecoding;
  const int threads = PassWorkers(source, from, true, options);
  const CellNoData nodata = NoDataOf(header);
  std::vector<OutsideCounts> parts(static_cast<std::size_t>(layout.blocks_down));
  OutsideCounts total;
  const BandCoding coding{
      .code =
          [&](const float* cells, std::size_t count, std::uint8_t* out, std::int64_t y) {
            CodeCellsClamped(cells, count, nodata, fixed, out, parts[static_cast<std::size_t>(y)]);
          },
      .one_cell = [&](float cell) { CodeCellClampedReference(cell, nodata, fixed); },
      .after = [&](std::int64_t y) { total += parts[static_cast<std::size_t>(y)]; },
  };
  CodeBands(source, header, from, nullptr, output, progress, threads, coding);
  return total;
}

}  // namespace kavrimo
