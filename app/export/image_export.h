// Exporting an image back to a grid, so that any GIS can show it next to its source: the reverse of the
// Convert command, for latitude/longitude images (projection 3) with square cells. The grid is an ArcGIS
// float grid with the coordinate system beside it (.hdr, .flt and .prj), or a GeoTIFF.
//
// A library of its own (kavrimo_export, linked by the command line only) over the grid formats and the
// image component. It keeps the conversion's output rules: every file is built under a temporary name
// (TemporaryOutput) and all are put in place together only when all are complete, so a failed export
// writes nothing and leaves earlier files as they were.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_ui.h"

namespace kavrimo {

inline constexpr std::int32_t kDefaultExportNoData = -9999;
// WGS 84: the image holds no datum, and most geographic grids are on it.
inline constexpr int kDefaultExportCode = 4326;

// True when a single holds nodata exactly, so that the grid's cells can equal its header's value.
bool IsExportableNoData(std::int32_t nodata);

// Writes the grid from the image at image_path: a GeoTIFF when grid ends in ".tif" or ".tiff" (any letter
// case), otherwise grid's .hdr, .flt and .prj (named by ReplaceExtension). The coordinate system is the
// geographic one of EPSG code epsg_code (LookUpGeographicSystem): the GeoTIFF's GeoKeys, or the .prj's
// one-line ESRI well-known text.
//
// Float grid header, one key and value a line: ncols Columns, nrows Rows, xllcorner RefLongitude - RefColumn x
// ColumnSpacing, yllcorner RefLatitude + RefRow x RowSpacing - Rows x RowSpacing, cellsize
// ColumnSpacing, NODATA_value nodata, byteorder LSBFIRST; reals worked out in extended precision and
// written as the shortest text that reads back as the same double. Cells, row after row, little-endian
// singles: a byte b with b <= MaxValue and b != MissingValue becomes b x Gain + Offset, worked out in
// extended precision and rounded to single; any other byte becomes nodata. A GeoTIFF holds the same cells
// (GeoTiffWriter: float32 tiles, Deflate with the floating-point predictor, the tie point on the upper-left
// corner, the no-data tag holding nodata).
//
// Raises, before anything is written: ECoordinateSystemError for a code that names no geographic 2D
// coordinate system in degrees from Greenwich (CheckDegreesFromGreenwich); "<grid> is not a regular file" for a GRID
// that names a folder (empty last name, ".", "..", an existing folder); the image's open error; "<image> is not a valid
// Miradel image"; "<image> has projection <p>; only latitude/longitude images (projection 3) can be
// exported"; "<image> has a column spacing of <x> and a row spacing of <y>; only images with square
// cells can be exported"; "<image> has a cell size of <x>; only images with a positive cell size can be
// exported"; "<image> holds no cells to export"; "<image> holds <n> pixels; its header promises
// <r x c>"; "Cannot write over <image>, which this command reads" when an output is the image itself
// (compared by device and inode); "<nodata> is no whole number that a single holds exactly"; and while
// the cells are written, "Byte <b> of <image> codes <value>, the no-data value" for a pixel whose value
// is nodata, "Byte <b> of <image> codes <value> (byte x Gain + Offset), too large for a single", and the
// system's read and write errors. The files are put in place together (CommitTogether): all or none.
void ExportImage(const std::string& image_path, const std::string& grid, std::int32_t nodata, int epsg_code,
                 ImageUi& ui);

}  // namespace kavrimo
