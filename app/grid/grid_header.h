// The header every grid is read into (GridHeader), and the float grid's own text header: an ArcGIS float
// grid is a text header (*.hdr, read and written here) beside its raw cells (*.flt, streamed by
// grid_stream.h). The grid library's other formats, the ESRI ASCII grid (ascii_grid.h) and the GeoTIFF
// (geotiff_grid.h, geotiff_writer.h), fill the same GridHeader; the library uses the runtime layer only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kavrimo {

struct GridHeader {
  std::int32_t ncols = 0;
  std::int32_t nrows = 0;
  float xllcorner = 0;
  float yllcorner = 0;
  float cellsize = 0;
  std::int32_t NODATA_value = 0;
  bool big_endian = false;  // "byteorder" MSBFIRST (or M): cells are big-endian

  // What float grids do not have and ASCII grids may. A no-data value given as a real, rounded to
  // single: set, it replaces NODATA_value, and a cell is missing when it equals this single.
  std::optional<float> nodata_single = std::nullopt;
  // No cell is missing, whatever its value (a GeoTIFF without a no-data tag); NODATA_value is then unused.
  bool no_nodata = false;
  // The height of a cell that is not square (an ASCII grid's "dy"; cellsize then holds "dx").
  std::optional<float> cell_height = std::nullopt;
  float RowSpacing() const { return cell_height.value_or(cellsize); }
};

// Raises ECommandError "Grid of <ncols> columns and <nrows> rows cannot be converted: a Miradel image
// holds 1 to 32767 of each" unless both lie in 1 to 32767.
void CheckConvertibleSize(std::int64_t ncols, std::int64_t nrows);

// The values of a float grid's header as a writer gives them (an export of an image).
struct GridHeaderValues {
  std::int64_t ncols = 0;
  std::int64_t nrows = 0;
  double xllcorner = 0;
  double yllcorner = 0;
  double cellsize = 0;
  std::int32_t nodata = 0;
};

// The text of a float grid's header, one key and value a line, the key padded to 14 columns: ncols,
// nrows, xllcorner, yllcorner, cellsize, NODATA_value, byteorder LSBFIRST; reals as the shortest text
// that reads back as the same double. ReadGridHeader reads it back.
std::string GridHeaderText(const GridHeaderValues& values);

// Reads the header file named after InputName (extension ".hdr"). Missing keys leave 0; a header that
// places the grid by "xllcenter" / "yllcenter" instead of the corner gets the corner half a cell off.
// Raises EFOpenError "Cannot open file <hdr>", EConvertError for a value that does not convert,
// EOverflow for a real beyond single precision. Expects the decimal separator to be ".".
GridHeader ReadGridHeader(const std::string& InputName);

}  // namespace kavrimo
