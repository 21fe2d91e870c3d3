// GeoTIFF passes: bands of blocks shared out to threads, each block's cells read in place from a mapping,
// decoded by the thread's own reader, or read back from the scratch file, and visited row by row so that
// failures are found in cell order.
#include "app/conversion/geotiff_passes.h"

#include <functional>
#include <optional>

#include "app/conversion/chunk_runner.h"
#include "app/conversion/pass_runner.h"
#include "app/grid/grid_stream.h"
#include "runtime/errors.h"
#include "runtime/mapped_file.h"

namespace kavrimo {
namespace {

// A band's coded bytes are written at once when they take at most this much; a larger band (tall tiles
// on a very wide grid) is written row by row.
constexpr std::int64_t kBandBytes = std::int64_t{16} << 20;

enum class CellsFrom { kPlace, kDecoding, kScratch };

// The first cell in the scratch file of block (x, y): the bands one after another, and in a band its
// blocks, each block's rows clipped to the grid.
std::int64_t ScratchCell(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y) {
  return y * layout.block_height * layout.ncols + layout.HeightOf(y) * x * layout.block_width;
}

// The cell after the last of band y.
std::int64_t BandEnd(const GeoTiffLayout& layout, std::int64_t y) {
  return (y * layout.block_height + layout.HeightOf(y)) * layout.ncols;
}

// Visits the rows of a block: width cells each, stride cells apart.
using RowsVisitor = std::function<void(const float* cells, std::int64_t stride)>;

// The cells of block (x, y), handed to visit from where they are; buffer holds one block.
void WithBlock(GeoTiffSource& source, CellsFrom from, const BinaryFile* scratch, int worker, std::int64_t x,
               std::int64_t y, BlockBuffer<float>& buffer, const RowsVisitor& visit) {
  const GeoTiffLayout& layout = source.Layout();
  const std::int64_t width = layout.WidthOf(x), height = layout.HeightOf(y);
  const auto bytes = static_cast<std::size_t>(width * height) * sizeof(float);
  if (from == CellsFrom::kDecoding) {
    source.Reader(worker).DecodeBlock(x, y, buffer.data());
    visit(buffer.data(), width);
    return;
  }
  if (from == CellsFrom::kScratch) {
    const std::int64_t at = ScratchCell(layout, x, y) * std::int64_t{sizeof(float)};
    if (scratch->ReadAt(at, buffer.data(), bytes) != bytes) throw EInOutError(100, scratch->Path());
    visit(buffer.data(), width);
    return;
  }
  // In place: the block's rows lie block_width cells apart from its offset on.
  const BinaryFile& file = source.File();
  const auto offset = static_cast<std::int64_t>(layout.block_offsets[static_cast<std::size_t>(y * layout.blocks_across + x)]);
  const std::int64_t span = ((height - 1) * layout.block_width + width) * std::int64_t{sizeof(float)};
  if (file.Size() >= offset + span && BusErrorGuardAvailable()) {
    const MappedWindow window(file, offset, static_cast<std::size_t>(span));
    if (window.Ok()) {
      bool whole = false;
      {
        const BusErrorGuard guard(window);
        visit(reinterpret_cast<const float*>(window.Data()), layout.block_width);
        whole = !guard.CutShort();
      }
      if (!whole || file.Size() < offset + span) throw EGeoTiffError(source.Path() + " changed while it was read");
      return;
    }
  }
  for (std::int64_t r = 0; r < height; ++r) {
    const std::int64_t at = offset + r * layout.block_width * std::int64_t{sizeof(float)};
    const auto row = static_cast<std::size_t>(width) * sizeof(float);
    if (file.ReadAt(at, buffer.data() + r * width, row) != row) {
      throw EGeoTiffError(source.Path() + " is truncated: its data reaches byte " + std::to_string(at + static_cast<std::int64_t>(row)));
    }
  }
  visit(buffer.data(), width);
}

// Runs block(x) for every block of band y, left to right. A failing block does not stop the others: the
// band then fails at its first failing cell in cell order (a block that cannot be read, at its first cell).
void OverBand(const GeoTiffLayout& layout, std::int64_t y, const std::function<void(std::int64_t x)>& block) {
  std::optional<CellFailure> first;
  const auto keep = [&](CellFailure failure) {
    if (!first || failure.cell < first->cell) first = std::move(failure);
  };
  for (std::int64_t x = 0; x < layout.blocks_across; ++x) {
    try {
      block(x);
    } catch (const CellFailure& failure) {
      keep(failure);
    } catch (...) {
      keep({y * layout.block_height * layout.ncols + x * layout.block_width, std::current_exception()});
    }
  }
  if (first) throw *first;
}

// Calls row(cells, count, first) for the rows of block (x, y), first the grid's index of the row's first cell.
template <typename Row>
RowsVisitor EachRow(const GeoTiffLayout& layout, std::int64_t x, std::int64_t y, Row row) {
  return [&layout, x, y, row](const float* cells, std::int64_t stride) {
    const std::int64_t width = layout.WidthOf(x);
    for (std::int64_t r = 0; r < layout.HeightOf(y); ++r) {
      row(cells + r * stride, static_cast<std::size_t>(width),
          (y * layout.block_height + r) * layout.ncols + x * layout.block_width, r);
    }
  };
}

// Pass 2 or the one pass over a fixed range: codes every row with code(cells, count, out, band) into the
// band's bytes and writes them. one_cell codes one cell the same way, to find a failing row's cell.
void CodeBands(GeoTiffSource& source, const GridHeader& header, CellsFrom from, const BinaryFile* scratch,
               ImagePixels& output, const ProgressSink& progress, int threads,
               const std::function<void(const float*, std::size_t, std::uint8_t*, std::int64_t)>& code,
               const std::function<void(float)>& one_cell, const std::function<void(std::int64_t)>& after) {
  const GeoTiffLayout& layout = source.Layout();
  source.PrepareWorkers(threads);
  if (from == CellsFrom::kPlace) source.File();
  struct Buffers {
    std::optional<BlockBuffer<float>> cells;
    std::optional<BlockBuffer<std::uint8_t>> bytes;
  };
  std::vector<Buffers> buffers(static_cast<std::size_t>(threads));
  const std::int64_t band_bytes = layout.block_height * layout.ncols;
  const bool whole_bands = band_bytes <= kBandBytes;
  RunPass(
      header, layout.blocks_down, [&](std::int64_t y) { return BandEnd(layout, y); }, progress, threads,
      [&](std::int64_t y, int worker) {
        Buffers& own = buffers[static_cast<std::size_t>(worker)];
        if (!own.cells) own.cells.emplace(static_cast<std::size_t>(layout.block_width * layout.block_height));
        if (!own.bytes) own.bytes.emplace(static_cast<std::size_t>(whole_bands ? band_bytes : layout.block_width));
        std::uint8_t* const bytes = own.bytes->data();
        OverBand(layout, y, [&](std::int64_t x) {
          WithBlock(source, from, scratch, worker, x, y, *own.cells,
                    EachRow(layout, x, y, [&](const float* cells, std::size_t count, std::int64_t first, std::int64_t r) {
                      std::uint8_t* out = whole_bands ? bytes + r * layout.ncols + x * layout.block_width : bytes;
                      OverCells(first, cells, count, [&] { code(cells, count, out, y); }, one_cell);
                      if (!whole_bands) output.WriteAt(first, out, count);
                    }));
        });
        if (whole_bands) {
          output.WriteAt(y * layout.block_height * layout.ncols, bytes,
                         static_cast<std::size_t>(layout.HeightOf(y) * layout.ncols));
        }
      },
      after);
}

// The threads of a pass that decodes: one, where the blocks are runs of rows one reader must take in order.
int DecodingThreads(const GeoTiffLayout& layout, const PassOptions& options) {
  return layout.rows_in_order ? 1 : WorkerCount(options.threads, layout.blocks_down);
}

}  // namespace

GeoTiffSource::GeoTiffSource(std::string path, std::unique_ptr<GeoTiffReader> first)
    : path_(std::move(path)), first_(std::move(first)) {}

void GeoTiffSource::PrepareWorkers(int workers) {
  if (static_cast<int>(others_.size()) < workers - 1) others_.resize(static_cast<std::size_t>(workers - 1));
}

GeoTiffReader& GeoTiffSource::Reader(int worker) {
  if (worker == 0) return *first_;
  std::unique_ptr<GeoTiffReader>& reader = others_.at(static_cast<std::size_t>(worker - 1));
  if (!reader) reader = std::make_unique<GeoTiffReader>(path_);
  return *reader;
}

const BinaryFile& GeoTiffSource::File() {
  if (!file_.IsOpen()) file_ = BinaryFile::OpenExisting(path_, OpenMode::ReadOnly);
  return file_;
}

void GeoTiffSource::Close() {
  others_.clear();
  file_.Close();
}

CellRange ScanGeoTiff(GeoTiffSource& source, const GridHeader& header, BinaryFile* scratch,
                      const ProgressSink& progress, const PassOptions& options) {
  const GeoTiffLayout& layout = source.Layout();
  const CellsFrom from = layout.in_place ? CellsFrom::kPlace : CellsFrom::kDecoding;
  const int threads = from == CellsFrom::kPlace ? WorkerCount(options.threads, layout.blocks_down)
                                                : DecodingThreads(layout, options);
  source.PrepareWorkers(threads);
  if (from == CellsFrom::kPlace) source.File();
  std::vector<std::optional<BlockBuffer<float>>> buffers(static_cast<std::size_t>(threads));
  std::vector<CellRange> parts(static_cast<std::size_t>(layout.blocks_down));
  const CellNoData nodata = NoDataOf(header);
  CellRange range;
  RunPass(
      header, layout.blocks_down, [&](std::int64_t y) { return BandEnd(layout, y); }, progress, threads,
      [&](std::int64_t y, int worker) {
        auto& buffer = buffers[static_cast<std::size_t>(worker)];
        if (!buffer) buffer.emplace(static_cast<std::size_t>(layout.block_width * layout.block_height));
        CellRange& part = parts[static_cast<std::size_t>(y)];
        OverBand(layout, y, [&](std::int64_t x) {
          WithBlock(source, from, nullptr, worker, x, y, *buffer, [&](const float* cells, std::int64_t stride) {
            EachRow(layout, x, y, [&](const float* row, std::size_t count, std::int64_t first, std::int64_t) {
              OverCells(first, row, count, [&] { ScanCells(row, count, nodata, part); }, [&](float cell) {
                CellRange one;
                ScanCells(&cell, 1, nodata, one, CellPath::Portable);
              });
            })(cells, stride);
            if (scratch != nullptr && from == CellsFrom::kDecoding) {
              const auto count = static_cast<std::size_t>(layout.WidthOf(x) * layout.HeightOf(y));
              scratch->WriteExactlyAt(ScratchCell(layout, x, y) * std::int64_t{sizeof(float)}, cells,
                                      count * sizeof(float));
            }
          });
        });
      },
      [&](std::int64_t y) { range.Widen(parts[static_cast<std::size_t>(y)]); });
  return range;
}

void CodeGeoTiff(GeoTiffSource& source, const GridHeader& header, const BinaryFile* scratch, const CellScale& scale,
                 ImagePixels& output, const ProgressSink& progress, const PassOptions& options) {
  const GeoTiffLayout& layout = source.Layout();
  const CellsFrom from = scratch != nullptr ? CellsFrom::kScratch : CellsFrom::kPlace;
  const CellNoData nodata = NoDataOf(header);
  CodeBands(
      source, header, from, scratch, output, progress, WorkerCount(options.threads, layout.blocks_down),
      [&](const float* cells, std::size_t count, std::uint8_t* out, std::int64_t) {
        CodeCells(cells, count, nodata, scale, out);
      },
      [&](float cell) { CodeCellReference(cell, nodata, scale); }, {});
}

OutsideCounts CodeGeoTiff(GeoTiffSource& source, const GridHeader& header, const FixedScale& fixed,
                          ImagePixels& output, const ProgressSink& progress, const PassOptions& options) {
  const GeoTiffLayout& layout = source.Layout();
  const CellsFrom from = layout.in_place ? CellsFrom::kPlace : CellsFrom::kDecoding;
  const int threads = from == CellsFrom::kPlace ? WorkerCount(options.threads, layout.blocks_down)
                                                : DecodingThreads(layout, options);
  const CellNoData nodata = NoDataOf(header);
  std::vector<OutsideCounts> parts(static_cast<std::size_t>(layout.blocks_down));
  OutsideCounts total;
  CodeBands(
      source, header, from, nullptr, output, progress, threads,
      [&](const float* cells, std::size_t count, std::uint8_t* out, std::int64_t y) {
        CodeCellsClamped(cells, count, nodata, fixed, out, parts[static_cast<std::size_t>(y)]);
      },
      [&](float cell) { CodeCellClampedReference(cell, nodata, fixed); },
      [&](std::int64_t y) { total += parts[static_cast<std::size_t>(y)]; });
  return total;
}

}  // namespace kavrimo
