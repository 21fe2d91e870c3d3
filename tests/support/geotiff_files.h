// Test support: GeoTIFF files written with libtiff and libgeotiff directly, not through the system's own
// writer, in any layout, compression, predictor, sample type and byte order, with any georeference,
// GeoKeys and no-data tag.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kavrimo::testing_support {

struct TiffImage {
  std::int32_t ncols = 4;
  std::int32_t nrows = 3;
  std::uint16_t bits = 32;
  std::uint16_t format = 3;  // SampleFormat: 1 unsigned, 2 signed, 3 IEEE real, 6 complex real
  std::uint16_t bands = 1;
  std::uint16_t compression = 1;     // libtiff's COMPRESSION_* codes
  std::uint16_t predictor = 1;       // 1 none, 2 horizontal, 3 floating-point
  std::uint32_t tile = 0;            // square tiles of this side (a multiple of 16); 0: strips
  std::uint32_t rows_per_strip = 0;  // 0: the whole image in one strip
  bool big_endian = false;
  bool bits_reversed = false;  // FillOrder 2
  bool bigtiff = false;
  bool directory_first = false;  // the directory before the cells (cut short, the cells go missing)
  std::vector<double> pixel_scale = {0.5, 0.25, 0};
  std::vector<double> tiepoints = {0, 0, 0, 10, 50, 0};
  std::vector<double> transformation;  // 16 values, none by default
  // GeoKeys by number: GTModelTypeGeoKey 1024 geographic (2), GeographicTypeGeoKey 2048 WGS 84.
  std::vector<std::pair<int, int>> short_keys = {{1024, 2}, {2048, 4326}};
  std::vector<std::pair<int, double>> double_keys;
  std::uint16_t key_directory_type = 3;       // the GeoKey directory's stored TIFF type (3, SHORT, is right)
  std::optional<std::string> nodata;          // the no-data tag's text
  std::vector<std::uint32_t> skipped_blocks;  // blocks given no bytes at all (a sparse file)
  bool overview = false;                      // a second, smaller image after the first
};

// Writes image at path. samples: ncols x nrows x bands values, row after row, each converted to
// the sample type as static_cast does (choose values the type holds). Samples of a type the system
// does not read (1 bit, 16-bit reals, complex) are written as zeros of the right size. Big-endian files
// with the floating-point predictor come out right whether or not this libtiff swaps their bytes before
// the predictor (libtiff 4.5.0 does, and then reads back swapped cells). Raises std::runtime_error when
// libtiff refuses.
void WriteTiff(const std::string& path, const TiffImage& image, const std::vector<double>& samples);

// Rewrites the entry of tag in the first directory of the TIFF file at path: its type, and its value when
// given (for an entry of one value, held in the entry itself).
void PatchTiffEntry(const std::string& path, int tag, std::uint16_t type, std::optional<std::uint32_t> value);

// The no-data tag's text and the GeoKeys of the first image of the GeoTIFF at path, read with libtiff
// and libgeotiff; a key missing is absent from the list.
struct TiffTags {
  std::uint16_t compression = 0, predictor = 0, bits = 0, format = 0;
  std::uint32_t tile_width = 0, tile_height = 0;
  std::vector<double> pixel_scale, tiepoints;
  std::optional<std::string> nodata;
  std::vector<std::pair<int, int>> short_keys;  // GTModelType, GTRasterType, GeographicType, GeogAngularUnits
};
TiffTags ReadTiffTags(const std::string& path);

}  // namespace kavrimo::testing_support
