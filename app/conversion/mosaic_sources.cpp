// Reading blocks of a mosaic's grids: whole rows in one read where they lie one after another, else a
// read per row (and per GeoTIFF block).
#include "app/conversion/mosaic_sources.h"

#include <algorithm>
#include <memory>

#include "app/conversion/ascii_passes.h"
#include "app/conversion/geotiff_passes.h"
#include "app/grid/ascii_grid.h"
#include "app/grid/geotiff_library.h"
#include "app/grid/grid_stream.h"
#include "runtime/errors.h"
#include "runtime/mapped_file.h"
#include "runtime/path.h"

namespace kavrimo {
namespace {

// The fewest cells visited through a mapping.
constexpr std::int64_t kMappedCells = std::int64_t{1} << 18;
// Mapped windows reach out to these boundaries of the file (within it): where the system caches a file
// in large blocks, a window of whole aligned 2 MiB is mapped at one fault, a smaller one page by page.
constexpr std::int64_t kWindowAlignment = std::int64_t{2} << 20;

BinaryFile OpenText(const std::string& name) {
  try {
    return BinaryFile::OpenExisting(name, OpenMode::ReadOnly);
  } catch (const EInOutError&) {
    throw EFOpenError(name);
  }
}

[[noreturn]] void RaiseChanged(const std::string& name) {
  throw ECommandError(name + " changed while the mosaic was made");
}

void CheckSame(const MosaicTile& tile, const GridHeader& now) {
  if (now.ncols != tile.header.ncols || now.nrows != tile.header.nrows) RaiseChanged(tile.name);
}

}  // namespace

MosaicTile ReadTileHeader(const std::string& name) {
  MosaicTile tile;
  tile.name = name;
  if (IsAsciiGridName(name)) {
    BinaryFile text = OpenText(name);
    tile.kind = MosaicKind::kAscii;
    tile.header = ReadAsciiGridHeader(text, name).grid;
    text.Close();
  } else if (IsGeoTiffName(name)) {
    const std::unique_ptr<GeoTiffDecoder> reader = OpenGeoTiff(name);
    tile.header = reader->Info().header;
    tile.kind = reader->Info().layout.in_place ? MosaicKind::kGeoTiffInPlace : MosaicKind::kGeoTiffDecoded;
  } else {
    try {
      tile.header = ReadGridHeader(name);
    } catch (const EConvertError& e) {
      throw EConvertError(ReplaceExtension(name, ".hdr") + ": " + e.what());  // a value of the header: name it
    } catch (const EMathError& e) {
      throw EConvertError(ReplaceExtension(name, ".hdr") + ": " + e.what());
    }
  }
  return tile;
}

void MosaicSource::Open(const PassOptions& options) {
  if (open_) return;
  switch (tile_.kind) {
    case MosaicKind::kFloat:
      data_ = BinaryFile::OpenExisting(ReplaceExtension(tile_.name, ".flt"), OpenMode::ReadOnly);
      break;
    case MosaicKind::kGeoTiffInPlace: {
      const std::unique_ptr<GeoTiffDecoder> reader = OpenGeoTiff(tile_.name);
      CheckSame(tile_, reader->Info().header);
      if (!reader->Info().layout.in_place) RaiseChanged(tile_.name);
      layout_ = reader->Info().layout;
      data_ = BinaryFile::OpenExisting(tile_.name, OpenMode::ReadOnly);
      break;
    }
    default:
      if (!decoded_) Decode(options);
  }
  open_ = true;
}

void MosaicSource::Decode(const PassOptions& options) {
  const ProgressSink quiet = [](int) {};
  if (tile_.kind == MosaicKind::kAscii) {
    BinaryFile text = OpenText(tile_.name);
    const AsciiGridHeader header = ReadAsciiGridHeader(text, tile_.name);
    CheckSame(tile_, header.grid);
    const AsciiValues values(text, tile_.name, header);
    ScanAsciiValues(values, header.grid, *scratch_, quiet, options, base_);
    text.Close();
  } else {
    GeoTiffSource source(tile_.name, OpenGeoTiff(tile_.name));
    CheckSame(tile_, source.Info().header);
    if (source.Layout().in_place) RaiseChanged(tile_.name);
    layout_ = source.Layout();
    ScanGeoTiff(source, source.Info().header, scratch_, quiet, options, base_);
    source.Close();
  }
  decoded_ = true;
}

void MosaicSource::Close() {
  if (!open_) return;
  open_ = false;
  if (data_.IsOpen()) data_.Close();
  if (tile_.kind == MosaicKind::kGeoTiffInPlace) layout_ = {};
}

void MosaicSource::Read(std::int64_t row, std::int64_t rows, std::int64_t col, std::int64_t cols, float* out) const {
  switch (tile_.kind) {
    case MosaicKind::kFloat: ReadGrid(data_, 0, row, rows, col, cols, out); break;
    case MosaicKind::kAscii: ReadGrid(*scratch_, base_, row, rows, col, cols, out); break;
    default: ReadBlocks(row, rows, col, cols, out);
  }
}

void MosaicSource::Visit(std::int64_t row, std::int64_t rows, std::int64_t col, std::int64_t cols,
                         std::vector<float>& block, BlockBuffer<float>& reads, const CellVisitor& visit) const {
  const std::int64_t count = rows * cols;
  // A mapping costs a few system calls and faults whatever its size: small blocks are cheaper read.
  if (tile_.kind == MosaicKind::kFloat && cols == tile_.header.ncols && count >= kMappedCells) {
    if (!tile_.header.big_endian && VisitAligned(row * cols, count, visit)) return;
    const GridStream stream(data_, tile_.Cells(), tile_.header.big_endian);
    if (stream.Visit(row * cols, static_cast<std::size_t>(count), reads, visit) < static_cast<std::size_t>(count)) {
      throw EInOutError(100, data_.Path());
    }
    return;
  }
  if (block.size() < static_cast<std::size_t>(count)) block.resize(static_cast<std::size_t>(count));
  Read(row, rows, col, cols, block.data());
  visit(block.data(), static_cast<std::size_t>(count), 0);
}

bool MosaicSource::VisitAligned(std::int64_t first, std::int64_t count, const CellVisitor& visit) const {
  const std::int64_t from = first * std::int64_t{sizeof(float)}, to = (first + count) * std::int64_t{sizeof(float)};
  const std::int64_t start = from / kWindowAlignment * kWindowAlignment;
  const std::int64_t end = std::min(data_.Size(), (to + kWindowAlignment - 1) / kWindowAlignment * kWindowAlignment);
  if (end < to) return false;  // the file ends early: the stream's reads say where
  // A window cut short is visited again by the stream's reads, which tell what the cells were.
  return VisitWindow(data_, start, static_cast<std::size_t>(end - start), [&](const char* bytes) {
           visit(reinterpret_cast<const float*>(bytes + (from - start)), static_cast<std::size_t>(count), 0);
         }) == WindowVisit::kWhole;
}

void MosaicSource::ReadGrid(const BinaryFile& file, std::int64_t base, std::int64_t row, std::int64_t rows,
                            std::int64_t col, std::int64_t cols, float* out) const {
  const std::int64_t ncols = tile_.header.ncols;
  // A float grid's cells come through its stream (big-endian cells swapped); the scratch file's from base.
  const GridStream stream(file, tile_.Cells(), tile_.header.big_endian && base == 0, false);
  const auto read = [&](std::int64_t first, std::int64_t count, float* to) {
    const auto wanted = static_cast<std::size_t>(count);
    const std::size_t got =
        base == 0 ? stream.ReadCells(first, wanted, to)
                  : file.ReadAt(base + first * std::int64_t{sizeof(float)}, to, wanted * sizeof(float)) / sizeof(float);
    if (got < wanted) throw EInOutError(100, file.Path());
  };
  if (cols == ncols) {
    read(row * ncols, rows * cols, out);
    return;
  }
  for (std::int64_t r = 0; r < rows; ++r) read((row + r) * ncols + col, cols, out + r * cols);
}

void MosaicSource::ReadBlocks(std::int64_t row, std::int64_t rows, std::int64_t col, std::int64_t cols,
                              float* out) const {
  const GeoTiffLayout& layout = layout_;
  const bool in_place = tile_.kind == MosaicKind::kGeoTiffInPlace;
  const BinaryFile& file = in_place ? data_ : *scratch_;
  // Block (x, y)'s first cell in file, and the cells between its rows there.
  const auto start = [&](std::int64_t x, std::int64_t y) -> std::int64_t {
    if (in_place) {
      return static_cast<std::int64_t>(layout.block_offsets[static_cast<std::size_t>(y * layout.blocks_across + x)]);
    }
    return base_ + GeoTiffScratchCell(layout, x, y) * std::int64_t{sizeof(float)};
  };
  const auto stride = [&](std::int64_t x) { return in_place ? layout.block_width : layout.WidthOf(x); };
  for (std::int64_t r = row; r < row + rows;) {
    const std::int64_t y = r / layout.block_height, in_block = r % layout.block_height;
    // Whole rows of a block one block wide lie one after another: read them at once.
    const std::int64_t run = layout.blocks_across == 1 && cols == layout.ncols && stride(0) == layout.ncols
                                 ? std::min(row + rows, y * layout.block_height + layout.HeightOf(y)) - r
                                 : 1;
    for (std::int64_t x = col / layout.block_width; x * layout.block_width < col + cols; ++x) {
      const std::int64_t from = std::max(col, x * layout.block_width);
      const std::int64_t to = std::min(col + cols, x * layout.block_width + layout.WidthOf(x));
      const std::int64_t at = start(x, y) + (in_block * stride(x) + from - x * layout.block_width) * 4;
      const auto bytes = static_cast<std::size_t>((to - from) * run) * sizeof(float);
      if (file.ReadAt(at, out + (r - row) * cols + (from - col), bytes) != bytes) {
        if (!in_place) throw EInOutError(100, file.Path());
        throw EGeoTiffError(tile_.name + " is truncated: its data reaches byte " +
                            std::to_string(at + static_cast<std::int64_t>(bytes)));
      }
    }
    r += run;
  }
}

}  // namespace kavrimo
