// The export of an image to a float grid or a GeoTIFF: the checks of the names and of the image, the
// cells through a table of the 256 byte values, the float grid's three files or the GeoTIFF built
// aside, and all put in place together.
#include "app/export/image_export.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "app/grid/geotiff_library.h"
#include "app/grid/grid_header.h"
#include "image/image_pixels.h"
#include "image/kel_img.h"
#include "projection/dispatcher.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"
#include "runtime/path.h"
#include "runtime/temporary_output.h"

namespace kavrimo {
namespace {

static_assert(std::endian::native == std::endian::little, "the .flt cells are written as the host holds them");

constexpr std::size_t kPixelsPerBlock = std::size_t{1} << 20;

// The cell of each byte value, and why a byte cannot be written: b x Gain + Offset overflows the
// single range, or it equals the no-data value, which would turn the cell into a missing one.
struct CellTable {
  CellTable(const TKelImg& image, std::int32_t nodata) {
    const long double gain = image.Header().Gain.Extended();
    const long double offset = image.Header().Offset.Extended();
    for (int b = 0; b < 256; ++b) {
      const auto i = static_cast<std::size_t>(b);
      cell[i] = static_cast<float>(nodata);
      if (b > image.MaxValue() || b == image.MissingValue()) continue;
      exact[i] = static_cast<double>(b * gain + offset);  // Gain and Offset are Real48: well within a double
      try {
        cell[i] = fp::ToSingle(b * gain + offset);
        refused[i] = cell[i] == static_cast<float>(nodata) ? Refusal::kNoData : Refusal::kNone;
      } catch (const EOverflow&) {
        refused[i] = Refusal::kOverflow;
      }
    }
  }
  enum class Refusal : std::uint8_t { kNone, kNoData, kOverflow };
  std::array<float, 256> cell{};
  std::array<Refusal, 256> refused{};
  std::array<double, 256> exact{};  // b x Gain + Offset before rounding, for the overflow's message
};

// The cells of every pixel, in runs of whole rows: cells(first_row, rows, floats) for each run.
void ForEachRun(const ImagePixels& pixels, const std::string& image_path, const CellTable& table, std::int64_t rows,
                std::int64_t columns, const std::function<void(std::int64_t, std::int64_t, const float*)>& cells) {
  const std::int64_t run_rows = std::max<std::int64_t>(1, static_cast<std::int64_t>(kPixelsPerBlock) / columns);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(run_rows, rows) * columns));
  std::vector<float> floats(bytes.size());
  for (std::int64_t first_row = 0; first_row < rows; first_row += run_rows) {
    const std::int64_t count_rows = std::min(run_rows, rows - first_row);
    const auto count = static_cast<std::size_t>(count_rows * columns);
    const std::size_t got = pixels.ReadAt(first_row * columns, bytes.data(), count);
    if (got < count) throw EInOutError(100, image_path);  // the file shrank since its size was checked
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = bytes[i];
      if (table.refused[b] == CellTable::Refusal::kOverflow) {
        throw Error("Byte " + std::to_string(b) + " of " + image_path + " codes " + ShortestText(table.exact[b]) +
                    " (byte x Gain + Offset), too large for a single");
      }
      if (table.refused[b] == CellTable::Refusal::kNoData) {
        throw Error("Byte " + std::to_string(b) + " of " + image_path + " codes " + ShortestText(table.cell[b]) +
                    ", the no-data value");
      }
      floats[i] = table.cell[b];
    }
    cells(first_row, count_rows, floats.data());
  }
}

// Writes text as the whole content of output's temporary file.
void BuildText(TemporaryOutput& output, const std::string& text) {
  output.Reserve();
  output.Build([&] {
    BinaryFile out = BinaryFile::OpenExisting(output.Path(), OpenMode::WriteOnly);
    out.WriteExactly(text.data(), text.size());
    out.Close();
  });
}

// GRID names the grid, never a folder (it would get the hidden pair .hdr and .flt).
void CheckGridName(const std::string& grid) {
  const std::string grid_name = NameOf(grid);
  if (grid_name.empty() || grid_name == "." || grid_name == ".." || FolderExists(grid)) {
    throw ECommandError(grid + " is not a regular file");
  }
}

// The checks of the image itself: valid, latitude/longitude, square positive cells, some cells.
void CheckImage(const TKelImg& image, const std::string& image_path) {
  if (image.State() != ImageState::ValidImage) throw Error(image_path + " is not a valid Miradel image");
  if (image.Projection() != kGeographic) {
    throw Error(image_path + " has projection " + std::to_string(image.Projection()) +
                "; only latitude/longitude images (projection 3) can be exported");
  }
  if (image.ColumnSpacing() != image.RowSpacing()) {
    throw Error(image_path + " has a column spacing of " + ShortestText(image.ColumnSpacing()) +
                " and a row spacing of " + ShortestText(image.RowSpacing()) +
                "; only images with square cells can be exported");
  }
  if (!(image.ColumnSpacing() > 0) || !std::isfinite(image.ColumnSpacing())) {
    throw Error(image_path + " has a cell size of " + ShortestText(image.ColumnSpacing()) +
                "; only images with a positive cell size can be exported");
  }
  if (image.Rows() < 1 || image.Columns() < 1) throw Error(image_path + " holds no cells to export");
}

// The image being exported, checked, with its pixels open: its size, its edges and the cell of each byte.
struct ExportSource {
  ExportSource(const TKelImg& image, const std::string& path, std::int32_t nodata_value)
      : image_path(path),
        pixels(ImagePixels::OpenForReading(image, path)),
        rows(image.Rows()),
        columns(image.Columns()),
        spacing(image.ColumnSpacing()),
        table(image, nodata_value),
        nodata(nodata_value) {
    const long double cell = image.Header().ColumnSpacing.Extended();
    left = image.Header().RefLongitude.Extended() - image.Header().RefColumn.Extended() * cell;
    top = image.Header().RefLatitude.Extended() + image.Header().RefRow.Extended() * cell;
    bottom = top - static_cast<long double>(rows) * cell;
  }
  // The cells of every pixel, in runs of whole rows (ForEachRun).
  void Runs(const std::function<void(std::int64_t, std::int64_t, const float*)>& cells) const {
    ForEachRun(pixels, image_path, table, rows, columns, cells);
  }

  const std::string& image_path;
  const ImagePixels pixels;
  std::int64_t rows;
  std::int64_t columns;
  double spacing;  // square cells: the column and the row spacing
  CellTable table;
  std::int32_t nodata;
  long double left = 0;  // the west, north and south edges, worked out in extended precision
  long double top = 0;
  long double bottom = 0;
};

// The three files of a float grid, each checked before the image is read.
struct FloatGridOutputs {
  TemporaryOutput cells;   // .flt
  TemporaryOutput header;  // .hdr
  TemporaryOutput prj;     // .prj
};

void WriteFloatGrid(FloatGridOutputs& files, const ExportSource& source, const GeographicSystem& system) {
  BuildText(files.header,
            GridHeaderText({source.columns, source.rows, static_cast<double>(fp::Finite(source.left)),
                            static_cast<double>(fp::Finite(source.bottom)), source.spacing, source.nodata}));
  BuildText(files.prj, system.esri_wkt);
  files.cells.Reserve();
  files.cells.Build([&] {
    BinaryFile out = BinaryFile::OpenExisting(files.cells.Path(), OpenMode::WriteOnly);
    source.Runs([&](std::int64_t, std::int64_t count, const float* cells) {
      out.WriteExactly(cells, static_cast<std::size_t>(count * source.columns) * sizeof(float));
    });
    out.Close();
  });
  // Every file or none: a GIS must never read new cells beside an old header or another datum.
  TemporaryOutput::CommitTogether({&files.cells, &files.header, &files.prj});
}

void WriteGeoTiff(TemporaryOutput& file, const ExportSource& source, const GeographicSystem& system) {
  file.Reserve();
  file.Build([&] {
    const std::unique_ptr<GeoTiffEncoder> writer =
        CreateGeoTiff(file.Path(), {.ncols = source.columns,
                                    .nrows = source.rows,
                                    .left = static_cast<double>(fp::Finite(source.left)),
                                    .top = static_cast<double>(fp::Finite(source.top)),
                                    .column_spacing = source.spacing,
                                    .row_spacing = source.spacing,
                                    .nodata = static_cast<double>(source.nodata),
                                    .epsg_code = system.code});
    source.Runs([&](std::int64_t first_row, std::int64_t count, const float* cells) {
      writer->WriteRows(first_row, count, cells);
    });
    writer->Finish();
  });
  file.Commit();
}

// Attaches the image at image_path to image and checks it (CheckImage).
void OpenImage(TKelImg& image, const std::string& image_path) {
  try {
    image.SetFileName(image_path);
  } catch (const EMathError&) {  // The corners of a valid image may overflow; its fields are attached all the same.
  }
  CheckImage(image, image_path);
}

}  // namespace

bool IsExportableNoData(std::int32_t nodata) {
  return static_cast<double>(static_cast<float>(nodata)) == static_cast<double>(nodata);
}

void ExportImage(const std::string& image_path, const std::string& grid, std::int32_t nodata, int epsg_code,
                 ImageUi& ui) {
  if (!IsExportableNoData(nodata)) {
    throw Error(std::to_string(nodata) + " is no whole number that a single holds exactly");
  }
  CheckGridName(grid);
  const GeographicSystem system = GeographicSystemOf(epsg_code);
  CheckDegreesFromGreenwich(system);  // the image's coordinates are degrees from Greenwich
  // Every output is checked before the image is read: never a special file, never the image itself.
  const std::vector<std::string> reads{image_path};
  TKelImg image(ui);
  if (IsGeoTiffName(grid)) {
    TemporaryOutput file(grid, reads);
    OpenImage(image, image_path);
    WriteGeoTiff(file, ExportSource(image, image_path, nodata), system);
    return;
  }
  FloatGridOutputs files{TemporaryOutput(ReplaceExtension(grid, ".flt"), reads),
                         TemporaryOutput(ReplaceExtension(grid, ".hdr"), reads),
                         TemporaryOutput(ReplaceExtension(grid, ".prj"), reads)};
  OpenImage(image, image_path);
  WriteFloatGrid(files, ExportSource(image, image_path, nodata), system);
}

}  // namespace kavrimo
