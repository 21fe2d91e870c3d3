// The export of an image to a float grid: checks on the image, the header text, the cells through a
// table of the 256 byte values, both files built aside and renamed into place.
#include "app/conversion/image_export.h"

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

}  // namespace

bool IsExportableNoData(std::int32_t nodata) {
  return static_cast<double>(static_cast<float>(nodata)) == static_cast<double>(nodata);
}

void ExportImage(const std::string& image_path, const std::string& grid, std::int32_t nodata, int epsg_code,
                 ImageUi& ui) {
  if (!IsExportableNoData(nodata)) {
    throw Error(std::to_string(nodata) + " is no whole number that a single holds exactly");
  }
  // GRID names the grid, never a folder (it would get the hidden pair .hdr and .flt).
  const std::string grid_name = NameOf(grid);
  if (grid_name.empty() || grid_name == "." || grid_name == ".." || FolderExists(grid)) {
    throw ECommandError(grid + " is not a regular file");
  }
  const GeographicSystem system = GeographicSystemOf(epsg_code);
  CheckDegreesFromGreenwich(system);  // the image's coordinates are degrees from Greenwich
  // Every output is checked before the image is read: never a special file, never the image itself.
  const bool geotiff = IsGeoTiffName(grid);
  std::vector<std::unique_ptr<TemporaryOutput>> outputs;
  for (const char* extension :
       geotiff ? std::vector<const char*>{} : std::vector<const char*>{".flt", ".hdr", ".prj"}) {
    outputs.push_back(
        std::make_unique<TemporaryOutput>(ReplaceExtension(grid, extension), std::vector<std::string>{image_path}));
  }
  if (geotiff) outputs.push_back(std::make_unique<TemporaryOutput>(grid, std::vector<std::string>{image_path}));
  TKelImg image(ui);
  try {
    image.SetFileName(image_path);
  } catch (const EMathError&) {  // The corners of a valid image may overflow; its fields are attached all the same.
  }
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
  const std::int64_t rows = image.Rows(), columns = image.Columns();
  if (rows < 1 || columns < 1) throw Error(image_path + " holds no cells to export");

  const ImagePixels pixels = ImagePixels::OpenForReading(image, image_path);
  const long double spacing = image.Header().ColumnSpacing.Extended();
  const long double left = image.Header().RefLongitude.Extended() - image.Header().RefColumn.Extended() * spacing;
  const long double top = image.Header().RefLatitude.Extended() + image.Header().RefRow.Extended() * spacing;
  const long double yll = top - static_cast<long double>(rows) * spacing;
  const CellTable table(image, nodata);
  std::vector<TemporaryOutput*> together(outputs.size());
  std::transform(outputs.begin(), outputs.end(), together.begin(), [](const auto& output) { return output.get(); });

  if (geotiff) {
    TemporaryOutput& file = *outputs.front();
    file.Reserve();
    file.Build([&] {
      const std::unique_ptr<GeoTiffEncoder> writer =
          CreateGeoTiff(file.Path(), {.ncols = columns,
                                      .nrows = rows,
                                      .left = static_cast<double>(fp::Finite(left)),
                                      .top = static_cast<double>(fp::Finite(top)),
                                      .column_spacing = image.ColumnSpacing(),
                                      .row_spacing = image.RowSpacing(),
                                      .nodata = static_cast<double>(nodata),
                                      .epsg_code = system.code});
      ForEachRun(pixels, image_path, table, rows, columns,
                 [&](std::int64_t first_row, std::int64_t count, const float* cells) {
                   writer->WriteRows(first_row, count, cells);
                 });
      writer->Finish();
    });
    TemporaryOutput::CommitTogether(together);
    return;
  }
  TemporaryOutput& data_file = *outputs[0];
  BuildText(*outputs[1], GridHeaderText({columns, rows, static_cast<double>(fp::Finite(left)),
                                         static_cast<double>(fp::Finite(yll)), image.ColumnSpacing(), nodata}));
  BuildText(*outputs[2], system.esri_wkt);
  data_file.Reserve();
  data_file.Build([&] {
    BinaryFile out = BinaryFile::OpenExisting(data_file.Path(), OpenMode::WriteOnly);
    ForEachRun(pixels, image_path, table, rows, columns, [&](std::int64_t, std::int64_t count, const float* cells) {
      out.WriteExactly(cells, static_cast<std::size_t>(count * columns) * sizeof(float));
    });
    out.Close();
  });
  // Every file or none: a GIS must never read new cells beside an old header or another datum.
  TemporaryOutput::CommitTogether(together);
}

}  // namespace kavrimo
