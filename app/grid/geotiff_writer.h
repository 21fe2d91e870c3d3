// Writing a grid as a GeoTIFF: 32-bit reals, tiles of 256 x 256 cells compressed with Deflate after the
// floating-point predictor, placed in latitude and longitude by ModelPixelScale and one ModelTiepoint
// (cell areas, the tie point on the grid's upper-left corner), with GeoKeys naming a geographic
// coordinate system by its EPSG code and the no-data tag holding the no-data value as text.
//
// The cells come band by band, in rows of the full width; the writer holds at most one band of 256 rows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kavrimo {

inline constexpr std::int64_t kGeoTiffTileSide = 256;

struct GeoTiffGridDescription {
  std::int64_t ncols = 0;  // 1 to 32767 each
  std::int64_t nrows = 0;
  double left = 0;               // the west edge
  double top = 0;                // the north edge
  double column_spacing = 0;     // positive
  double row_spacing = 0;        // positive
  std::optional<double> nodata;  // written as the shortest text that reads back as the same double
  int epsg_code = 4326;          // a geographic 2D coordinate system (1 to 32766)
};

class GeoTiffWriter {
 public:
  // Starts the GeoTIFF in the existing regular file path, replacing what it holds (the caller creates a
  // temporary file beside the target and renames it when Finish returns). Files whose cells take more than
  // 4 GiB less 64 MiB are written as BigTIFF. Raises std::invalid_argument for a size outside 1 to 32767,
  // a spacing that is not positive or a code outside 1 to 32766, and EInOutError naming path when the
  // file cannot be opened.
  GeoTiffWriter(const std::string& path, const GeoTiffGridDescription& grid);
  ~GeoTiffWriter();  // abandons an unfinished file without raising
  GeoTiffWriter(const GeoTiffWriter&) = delete;
  GeoTiffWriter& operator=(const GeoTiffWriter&) = delete;

  // Takes count rows of ncols cells each, from first_row on: rows come in order, each once
  // (std::logic_error otherwise). Each band of 256 rows is written when complete. Raises EInOutError 101
  // "Disk full" (naming the path) when the disk or the file-size limit stops a write, the system's other
  // write errors, and EGeoTiffError for an error of libtiff's.
  void WriteRows(std::int64_t first_row, std::int64_t count, const float* cells);

  // Writes the last band and the image's directory and closes the file (checked). Every row must have
  // come (std::logic_error otherwise). Errors as WriteRows.
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kavrimo
