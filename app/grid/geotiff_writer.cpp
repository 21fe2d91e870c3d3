// Writing a GeoTIFF grid: libtiff over client procedures that write a BinaryFile at a tracked offset,
// the cells gathered band by band into 256 x 256 tiles.
#include "app/grid/geotiff_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <vector>

#include "app/grid/geotiff_grid.h"
#include "app/grid/grid_stream.h"
#include "app/grid/tiff_support.h"
#include "runtime/file.h"
#include "runtime/number_text.h"

namespace kavrimo {
namespace {

// Cells beyond this many bytes go into a BigTIFF: the classic format's offsets end at 4 GiB, and Deflate
// never grows the data by more than a small fraction, which the margin covers with the directory.
constexpr std::uint64_t kClassicTiffCellBytes = (std::uint64_t{4} << 30) - (std::uint64_t{64} << 20);

// Where libtiff writes: the file at a tracked offset. Its size counts from an empty file.
struct Sink {
  BinaryFile file;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  std::exception_ptr write_failure;  // what a write raised inside libtiff
  bool abandoned = false;            // an unfinished file being closed: nothing more is written
};

tmsize_t ReadProc(thandle_t, void*, tmsize_t) { return -1; }  // never needed to write a new file

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* sink = static_cast<Sink*>(handle);
  if (sink->abandoned || sink->write_failure) return -1;
  if (size <= 0) return 0;
  try {
    sink->file.WriteExactlyAt(static_cast<std::int64_t>(sink->position), buffer, static_cast<std::size_t>(size));
  } catch (...) {
    sink->write_failure = std::current_exception();
    return -1;
  }
  sink->position += static_cast<std::uint64_t>(size);
  sink->size = std::max(sink->size, sink->position);
  return size;
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }

}  // namespace

struct GeoTiffWriter::State {
  std::string path;
  GeoTiffGridDescription grid;
  Sink sink;
  tiff::Messages messages;
  TIFF* tif = nullptr;
  std::vector<float> band;  // up to 256 rows of the full width
  std::vector<float> tile;
  float fill = 0;  // the cells of the tiles beyond the grid's edges
  std::int64_t next_row = 0;
  std::int64_t band_rows = 0;  // rows of the band held
  std::int64_t bands_written = 0;
  bool finished = false;

  ~State() {
    if (tif == nullptr) return;
    sink.abandoned = true;
    TIFFClose(tif);
  }

  // Raises what made libtiff fail: a write error, or its first error message.
  [[noreturn]] void Fail() const {
    if (sink.write_failure) std::rethrow_exception(sink.write_failure);
    throw EGeoTiffError(path + " cannot be written: " +
                        (messages.first_error.empty() ? std::string("libtiff failed") : messages.first_error));
  }
  void Check(bool ok) const {
    if (!ok || sink.write_failure || !messages.first_error.empty()) Fail();
  }

  void SetTags();
  void WriteBand();
};

void GeoTiffWriter::State::SetTags() {
  const auto width = static_cast<std::uint32_t>(grid.ncols);
  const auto length = static_cast<std::uint32_t>(grid.nrows);
  const auto side = static_cast<std::uint32_t>(kGeoTiffTileSide);
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, length) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
            TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT) &&
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, side) && TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
  const double scale[3] = {grid.column_spacing, grid.row_spacing, 0};
  const double tiepoint[6] = {0, 0, 0, grid.left, grid.top, 0};
  ok = ok && TIFFSetField(tif, tiff::kPixelScaleTag, 3, scale) && TIFFSetField(tif, tiff::kTiepointTag, 6, tiepoint);
  if (grid.nodata) ok = ok && TIFFSetField(tif, tiff::kNoDataTag, ShortestText(*grid.nodata).c_str());
  Check(ok);

  const tiff::GeoKeys keys(GTIFNewEx(tif, tiff::OnGeoKeyError, &messages));
  Check(keys != nullptr);
  ok = GTIFKeySet(keys.get(), GTModelTypeGeoKey, TYPE_SHORT, 1, tiff::kModelTypeGeographic) &&
       GTIFKeySet(keys.get(), GTRasterTypeGeoKey, TYPE_SHORT, 1, tiff::kRasterPixelIsArea) &&
       GTIFKeySet(keys.get(), GeographicTypeGeoKey, TYPE_SHORT, 1, grid.epsg_code) &&
       GTIFKeySet(keys.get(), GeogAngularUnitsGeoKey, TYPE_SHORT, 1, tiff::kUnitDegree) && GTIFWriteKeys(keys.get());
  Check(ok);
}

// Cuts the band held into tiles and writes them, the last band's tiles padded below it.
void GeoTiffWriter::State::WriteBand() {
  const std::int64_t side = kGeoTiffTileSide;
  const std::int64_t across = (grid.ncols + side - 1) / side;
  for (std::int64_t x = 0; x < across; ++x) {
    const std::int64_t first_column = x * side;
    const std::int64_t width = std::min(side, grid.ncols - first_column);
    if (width < side || band_rows < side) std::fill(tile.begin(), tile.end(), fill);
    for (std::int64_t row = 0; row < band_rows; ++row) {
      std::memcpy(tile.data() + row * side, band.data() + row * grid.ncols + first_column,
                  static_cast<std::size_t>(width) * sizeof(float));
    }
    const auto index = static_cast<std::uint32_t>(bands_written * across + x);
    Check(TIFFWriteEncodedTile(tif, index, tile.data(), static_cast<tmsize_t>(tile.size() * sizeof(float))) >= 0);
  }
  ++bands_written;
  band_rows = 0;
}

GeoTiffWriter::GeoTiffWriter(const std::string& path, const GeoTiffGridDescription& grid)
    : state_(std::make_unique<State>()) {
  if (grid.ncols < 1 || grid.ncols > 32767 || grid.nrows < 1 || grid.nrows > 32767) {
    throw std::invalid_argument("GeoTiffWriter: a grid of 1 to 32767 columns and rows");
  }
  if (!(grid.column_spacing > 0) || !(grid.row_spacing > 0) || !std::isfinite(grid.column_spacing) ||
      !std::isfinite(grid.row_spacing)) {
    throw std::invalid_argument("GeoTiffWriter: spacings must be positive");
  }
  if (grid.epsg_code < 1 || grid.epsg_code >= tiff::kUserDefined) {
    throw std::invalid_argument("GeoTiffWriter: an EPSG code of 1 to 32766");
  }
  State& state = *state_;
  state.path = path;
  state.grid = grid;
  state.fill = grid.nodata ? static_cast<float>(*grid.nodata) : 0.0f;
  state.band.resize(static_cast<std::size_t>(std::min(grid.nrows, kGeoTiffTileSide) * grid.ncols));
  state.tile.resize(static_cast<std::size_t>(kGeoTiffTileSide * kGeoTiffTileSide));
  state.sink.file = BinaryFile::Create(path);

  tiff::Initialize();
  const bool big = static_cast<std::uint64_t>(grid.ncols * grid.nrows) * sizeof(float) > kClassicTiffCellBytes;
  const tiff::Options options = tiff::OptionsFor(state.messages);
  state.tif =
      TIFFClientOpenExt(path.c_str(), big ? "w8" : "w", &state.sink, ReadProc, WriteProc, tiff::SeekStream<Sink>,
                        tiff::CloseNothing, tiff::StreamSize<Sink>, MapProc, tiff::UnmapNothing, options.get());
  state.Check(state.tif != nullptr);
  state.SetTags();
}

GeoTiffWriter::~GeoTiffWriter() = default;

void GeoTiffWriter::WriteRows(std::int64_t first_row, std::int64_t count, const float* cells) {
  State& state = *state_;
  if (state.finished || first_row != state.next_row || count < 0 || first_row + count > state.grid.nrows) {
    throw std::logic_error("GeoTiffWriter::WriteRows: rows out of order");
  }
  const std::int64_t ncols = state.grid.ncols;
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t rows = std::min(count - done, kGeoTiffTileSide - state.band_rows);
    std::memcpy(state.band.data() + state.band_rows * ncols, cells + done * ncols,
                static_cast<std::size_t>(rows * ncols) * sizeof(float));
    state.band_rows += rows;
    done += rows;
    state.next_row += rows;
    if (state.band_rows == kGeoTiffTileSide || state.next_row == state.grid.nrows) state.WriteBand();
  }
}

void GeoTiffWriter::Finish() {
  State& state = *state_;
  if (state.finished || state.next_row != state.grid.nrows) {
    throw std::logic_error("GeoTiffWriter::Finish: rows missing");
  }
  state.Check(TIFFFlush(state.tif) == 1);
  TIFF* tif = state.tif;
  state.tif = nullptr;
  TIFFClose(tif);
  state.Check(true);
  state.finished = true;
  state.sink.file.Close();
}

}  // namespace kavrimo
