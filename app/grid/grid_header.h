// Grid readers, the first room of the application: what a conversion reads. An ArcGIS float grid is a
// text header (*.hdr, read here) beside its raw cells (*.flt, streamed by grid_stream.h). The grid
// room uses the runtime layer only.
#pragma once

#include <cstdint>
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
};

// name with its extension replaced by extension (which includes the "."): the last ".", "/", "\" or
// ":" of name decides; only a "." there starts an extension to drop. "dem.flt" -> "dem.hdr",
// "old.grids/dem" -> "old.grids/dem.hdr".
std::string ReplaceExtension(const std::string& name, const std::string& extension);

// Reads the header file named after InputName (extension ".hdr"). Missing keys leave 0; a header that
// places the grid by "xllcenter" / "yllcenter" instead of the corner gets the corner half a cell off.
// Raises EFOpenError "Cannot open file <hdr>", EConvertError for a value that does not convert,
// EOverflow for a real beyond single precision. Expects the decimal separator to be ".".
GridHeader ReadGridHeader(const std::string& InputName);

}  // namespace kavrimo
