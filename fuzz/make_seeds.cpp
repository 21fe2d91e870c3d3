// make_seeds: writes the seed corpus and the dictionary of every fuzz target.
//
// Usage: make_seeds DIR. Creates DIR/<target>/seed-<n> files and DIR/<target>.dict for the targets
// parse_integer, parse_real, grid_header, ascii_grid, image_attach, conversion and geotiff_reader. The
// seeds are the cases the tests know by heart: the number texts of the conventions, typical and odd
// grid headers, ASCII grids of every header form with good and bad values, valid images of every type
// and projection, small grids with their worked examples, and small GeoTIFFs of every layout.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <geotiff.h>
#include <tiffio.h>

#include "app/grid/geotiff_writer.h"
#include "app/grid/tiff_support.h"
#include "image/header_format.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace {

namespace fs = std::filesystem;

void WriteSeeds(const fs::path& dir, const std::vector<std::string>& seeds) {
  fs::create_directories(dir);
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    std::ofstream(dir / ("seed-" + std::to_string(i)), std::ios::binary) << seeds[i];
  }
}

// A libFuzzer dictionary: one quoted entry per line, bytes outside printable ASCII as \xNN.
void WriteDictionary(const fs::path& path, const std::vector<std::string>& words) {
  std::ofstream out(path);
  for (const std::string& word : words) {
    out << '"';
    for (const unsigned char c : word) {
      if (c >= 32 && c < 127 && c != '"' && c != '\\') {
        out << c;
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        out << escaped;
      }
    }
    out << "\"\n";
  }
}

std::vector<std::string> IntegerSeeds() {
  return {"  4000", "+12",        "-0",         "0",           "007",         "$1F",    "x1F",     "0x1F",
          "-$1F",   "2147483647", "2147483648", "-2147483648", "12 ",         "12.0",   "1e3",     "",
          "   ",    "\t12",       "FFFFFFFF",   "$FFFFFFFF",   "0x100000000", " -9999", "   4000 "};
}

std::vector<std::string> RealSeeds() {
  // clang-format off
  return {" -12.5 ", "1e3", "1E+3", "1E", ".", "1,5", "1E4000", "1E5000", "INF", "NAN", "30", "0.1",
          "1234.5678", "0.00012", "1.5E-5", "1E16", "3.40282346638529E38", "-0", "5.", ".5", "1E-4950",
          "123456789012345678901234567890", "0.000000000000000000000000000001", "1E499", "-.e", "1e-"};
  // clang-format on
}

std::vector<std::string> HeaderSeeds() {
  return {
      "ncols 4\nnrows 3\nxllcorner 500000.123\nyllcorner 4123456.78\ncellsize 30\nNODATA_value -9999\nbyteorder "
      "LSBFIRST\n",
      "NCOLS 100\r\nNROWS 2\r\nXLLCORNER -180\r\nYLLCORNER -90\r\nCELLSIZE 0.5\r\nNODATA_VALUE -1\r\n",
      "ncols         97\nnrows         89\nxllcenter     0.25\nyllcenter     10.25\ncellsize      0.5\n",
      // clang-format off
      " ncols 100\n", "ncols\t100\n", "ncols 100 \n", "xllcorner 12.5 \n", "NODATA_value -9999.0\n",
      "NODATA_value 1e3\n", "ncols 1\nncols 2\n", "ncols x\nncols 2\n", "byteorder MSBFIRST\r", "",
      "ncols " + std::string(120, ' ') + "5\n", "cellsize 1E39\n", std::string("ncols 3\0nrows 4\n", 16),
      // clang-format on
      "ncolsnrowsxllcorner 5\n"};
}

// A 512-byte image header with the given codes and fields; bytes the format does not use stay 0.
std::string ImageSeed(std::uint8_t type, std::uint8_t projection, std::int16_t rows, std::int16_t columns,
                      double ref_latitude, double ref_longitude, double spacing, double param1, double param2,
                      double gain) {
  using namespace kavrimo;
  TImageHeader header;
  header.ImageType = type;
  header.Projection = projection;
  header.Rows = rows;
  header.Columns = columns;
  header.RefLatitude = Real48::Round(ref_latitude);
  header.RefLongitude = Real48::Round(ref_longitude);
  header.RefColumn = Real48::Round(columns / 2.0);
  header.RefRow = Real48::Round(rows / 2.0);
  header.ColumnSpacing = Real48::Round(spacing);
  header.RowSpacing = Real48::Round(spacing);
  header.ProjParam1 = Real48::Round(param1);
  header.ProjParam2 = Real48::Round(param2);
  header.Gain = Real48::Round(gain);
  header.Decimals = 2;
  const std::string path = (fs::temp_directory_path() / "kavrimo-make-seeds.IMG").string();
  {
    BinaryFile file = BinaryFile::Create(path);
    const std::string zeros(header_format::kHeaderSize, '\0');
    file.WriteExactly(zeros.data(), zeros.size());
    for (const header_format::FieldLayout& field : header_format::kFields) {
      header_format::WriteField(file, header, field);
    }
    file.Close();
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  fs::remove(path);
  return bytes;
}

std::vector<std::string> ImageSeeds() {
  std::vector<std::string> seeds;
  const std::uint8_t projections[] = {0, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::uint8_t types[] = {1, 6, 10, 100, 200};
  for (const std::uint8_t projection : projections) {
    seeds.push_back(ImageSeed(200, projection, 10, 20, 40, 30, projection == 3 ? 0.5 : 4, 30, 60, 0.5));
  }
  for (const std::uint8_t type : types) seeds.push_back(ImageSeed(type, 3, 3, 5, 40, 30, 0.5, 0, 0, 1));
  seeds.push_back(ImageSeed(200, 3, 0, 0, 0, 0, 0, 0, 0, 0));            // no cells
  seeds.push_back(ImageSeed(200, 5, 1000, 1000, 0, 0, 3, 35786, 0, 1));  // a satellite view
  seeds.push_back(ImageSeed(7, 3, 3, 5, 40, 30, 0.5, 0, 0, 1));          // not an image type
  seeds.push_back(ImageSeed(200, 1, 3, 5, 40, 30, 0.5, 0, 0, 1));        // not a projection
  seeds.push_back(std::string(100, '\0'));                               // too short
  std::string with_pixels = ImageSeed(200, 3, 3, 5, 40, 30, 0.5, 0, 0, 1) + std::string(15, '\xFE');
  seeds.push_back(with_pixels);
  return seeds;
}

// Options byte, header length, header, cells (little-endian unless big_endian).
std::string ConversionSeed(const std::string& header, const std::vector<float>& cells, bool two_threads = false,
                           bool big_endian = false) {
  std::string seed;
  seed += static_cast<char>(two_threads ? 1 : 0);
  seed += static_cast<char>(header.size() & 0xFF);
  seed += static_cast<char>(header.size() >> 8);
  seed += header;
  for (const float v : cells) {
    std::uint32_t word;
    std::memcpy(&word, &v, 4);
    if (big_endian) word = __builtin_bswap32(word);
    seed.append(reinterpret_cast<const char*>(&word), 4);
  }
  return seed;
}

std::string GridText(int ncols, int nrows, const std::string& extra = "NODATA_value -9999\n") {
  return "ncols " + std::to_string(ncols) + "\nnrows " + std::to_string(nrows) +
         "\nxllcorner 10\nyllcorner 40\ncellsize 0.5\n" + extra;
}

std::vector<std::string> ConversionSeeds() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> ramp(64);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) * 3.25f - 50;
  return {
      ConversionSeed(GridText(3, 1), {100, 1000, 2000}),
      ConversionSeed(GridText(3, 1), {-50, -30, -10}),
      ConversionSeed(GridText(2, 2), {5, 5, 5, 5}, true),
      ConversionSeed(GridText(3, 1), {-9999.0f, -9999.5f, 0}),
      ConversionSeed(GridText(3, 1, ""), {0, 10, 0}),
      ConversionSeed(GridText(2, 1), {-9999, -9999}),
      ConversionSeed(GridText(3, 1), {0, 0, -9999}),
      ConversionSeed(GridText(1, 1), {0.1265f}),
      ConversionSeed(GridText(3, 2), {1, 2, 3, 4, 5, 6}, true),
      ConversionSeed(GridText(5, 1, "NODATA_value -9999\nbyteorder MSBFIRST\n"), {-3.5f, 0.25f, 1e6f, -9999, 42}, false,
                     true),
      ConversionSeed(GridText(8, 8), ramp, true),
      ConversionSeed(GridText(3, 1), {1, nan, 2}),
      ConversionSeed(GridText(2, 1), {1, inf}),
      ConversionSeed(GridText(2, 1), {1, -inf}),
      ConversionSeed(GridText(4, 4), std::vector<float>(15, 1.0f)),
      ConversionSeed(GridText(2, 1), {1e-40f, 3e-45f}),
      ConversionSeed(GridText(2, 1), {3e38f, -3e38f}),
      ConversionSeed("nrows 2\n", {}),
      ConversionSeed(GridText(40000, 1), {1}),
  };
}

// Options byte (bit 0: two threads; bits 1 to 3: the piece size), then the file.
std::string AsciiSeed(const std::string& file, int options = 0) { return static_cast<char>(options) + file; }

std::vector<std::string> AsciiGridSeeds() {
  const std::string header = "ncols 3\nnrows 2\nxllcorner 10\nyllcorner 40\ncellsize 0.5\nnodata_value -9999\n";
  return {
      AsciiSeed(header + "1 2 3\n4 -9999 6\n"),
      AsciiSeed(header + "1.5 -2e3 +.25\n4. 1e-50 6E+2\n", 1 | 2 << 1),
      AsciiSeed("NCOLS 3\r\nNROWS 2\r\nXLLCENTER 10\r\nYLLCENTER 40\r\nCELLSIZE 0.5\r\n1 2 3 4 5 6\r\n", 3),
      AsciiSeed("ncols 2\rnrows 2\rxllcorner 0\ryllcorner 0\rdx 2\rdy 0.5\r1\r2\r3\r4\r", 5),
      AsciiSeed(" ncols\t3\n\tnrows 2\nxllcorner 1\nyllcorner 1\ncellsize 1\nNODATA_value 1e-3\n1 2 3 4 5 6", 6),
      AsciiSeed(header + "1 2 3\n4 x 6\n", 1),
      AsciiSeed(header + "1 2 3\n4 5\n"),
      AsciiSeed(header + "1 2 3\n4 5 6 7\n", 9),
      AsciiSeed(header + "1 2 3 4 5 1e39\n"),
      AsciiSeed(header + "1 2 3 4 5 " + std::string(300, '7') + "\n", 11),
      AsciiSeed("ncols 3\nncols 3\n"),
      AsciiSeed("ncols 3\nnrows 2\nxllcorner 1\nxllcenter 1\n"),
      AsciiSeed("ncols 3\nnrows 2\nsize 1\n"),
      AsciiSeed("ncols 40000\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n"),
      AsciiSeed(""),
  };
}

std::string ReadAndRemove(const fs::path& path) {
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  fs::remove(path);
  return bytes;
}

// A small GeoTIFF written with libtiff: ncols x nrows cells of a ramp in the given sample type, strips of
// rows_per_strip rows or square tiles of tile cells, placed by a cell size and a tie point (or by a
// transformation, as cell centres).
struct TiffSeed {
  std::uint32_t ncols, nrows;
  std::uint16_t bits, format, compression, predictor;
  std::uint32_t rows_per_strip, tile;
  const char* mode;  // libtiff's: "wl", "wb", "wl8", ...
  bool transformation;
};

std::string GeoTiffSeed(const TiffSeed& seed) {
  kavrimo::tiff::Initialize();
  const fs::path path = fs::temp_directory_path() / "kavrimo-make-seeds.tif";
  TIFF* tif = TIFFOpen(path.c_str(), seed.mode);
  if (tif == nullptr) throw std::runtime_error("libtiff cannot write " + path.string());
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, seed.ncols);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, seed.nrows);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, seed.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, seed.format);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, seed.compression);
  if (seed.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, seed.predictor);
  if (seed.tile != 0) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, seed.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, seed.tile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, seed.rows_per_strip);
  }
  const double scale[3] = {0.5, 0.25, 0};
  const double tiepoint[6] = {0, 0, 0, 10, 50, 0};
  const double matrix[16] = {0.5, 0, 0, 10.25, 0, -0.25, 0, 49.875, 0, 0, 0, 0, 0, 0, 0, 1};
  if (seed.transformation) {
    TIFFSetField(tif, kavrimo::tiff::kTransformationTag, 16, matrix);
  } else {
    TIFFSetField(tif, kavrimo::tiff::kPixelScaleTag, 3, scale);
    TIFFSetField(tif, kavrimo::tiff::kTiepointTag, 6, tiepoint);
  }
  TIFFSetField(tif, kavrimo::tiff::kNoDataTag, "-9999");
  GTIF* keys = GTIFNew(tif);
  GTIFKeySet(keys, GTModelTypeGeoKey, TYPE_SHORT, 1, 2);
  GTIFKeySet(keys, GTRasterTypeGeoKey, TYPE_SHORT, 1, seed.transformation ? 2 : 1);
  GTIFKeySet(keys, GeographicTypeGeoKey, TYPE_SHORT, 1, 4326);
  GTIFWriteKeys(keys);
  GTIFFree(keys);

  const std::uint32_t block_width = seed.tile != 0 ? seed.tile : seed.ncols;
  const std::uint32_t block_height = seed.tile != 0 ? seed.tile : seed.rows_per_strip;
  const std::uint32_t across = (seed.ncols + block_width - 1) / block_width;
  const std::uint32_t down = (seed.nrows + block_height - 1) / block_height;
  const std::size_t sample_bytes = seed.bits / 8;
  std::vector<unsigned char> block(block_width * block_height * sample_bytes);
  for (std::uint32_t b = 0; b < across * down; ++b) {
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<unsigned char>((i / sample_bytes * 7 + b) & 0x3F);
    const std::uint32_t rows = seed.tile != 0 ? block_height : std::min(block_height, seed.nrows - b * block_height);
    const auto bytes = static_cast<tmsize_t>(block_width * rows * sample_bytes);
    if (seed.tile != 0) {
      TIFFWriteEncodedTile(tif, b, block.data(), bytes);
    } else {
      TIFFWriteEncodedStrip(tif, b, block.data(), bytes);
    }
  }
  TIFFClose(tif);
  return ReadAndRemove(path);
}

std::vector<std::string> GeoTiffSeeds() {
  std::vector<std::string> seeds = {
      GeoTiffSeed({8, 6, 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_NONE, PREDICTOR_NONE, 6, 0, "wl", false}),
      GeoTiffSeed({8, 6, 16, SAMPLEFORMAT_INT, COMPRESSION_LZW, PREDICTOR_HORIZONTAL, 2, 0, "wb", false}),
      GeoTiffSeed(
          {20, 20, 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_FLOATINGPOINT, 0, 16, "wl8", false}),
      GeoTiffSeed({9, 7, 8, SAMPLEFORMAT_UINT, COMPRESSION_PACKBITS, PREDICTOR_NONE, 3, 0, "wl", true}),
      GeoTiffSeed({5, 5, 64, SAMPLEFORMAT_IEEEFP, COMPRESSION_ZSTD, PREDICTOR_NONE, 5, 0, "wl", false}),
      GeoTiffSeed({6, 4, 32, SAMPLEFORMAT_UINT, COMPRESSION_LZMA, PREDICTOR_HORIZONTAL, 1, 0, "wb", false}),
      GeoTiffSeed({17, 3, 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_NONE, PREDICTOR_NONE, 0, 16, "wl", false}),
  };
  // The export's own file: a 256-cell tile, mostly padding.
  const fs::path path = fs::temp_directory_path() / "kavrimo-make-seeds-export.tif";
  kavrimo::GeoTiffGridDescription grid;
  grid.ncols = 20;
  grid.nrows = 10;
  grid.left = -180;
  grid.top = 90;
  grid.column_spacing = grid.row_spacing = 0.5;
  grid.nodata = -9999;
  std::vector<float> cells(200);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<float>(i) * 1.5f - 20;
  kavrimo::GeoTiffWriter writer(path.string(), grid);
  writer.WriteRows(0, 10, cells.data());
  writer.Finish();
  seeds.push_back(ReadAndRemove(path));
  return seeds;
}

const std::vector<std::string> kHeaderWords = {
    "ncols ",   "nrows ",     "xllcorner ", "yllcorner ", "cellsize ", "NODATA_value ", "byteorder ", "MSBFIRST",
    "LSBFIRST", "xllcenter ", "yllcenter ", "\r\n",       "\n",        "-9999",         "1E38",       "32767"};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seeds DIR\n";
    return 2;
  }
  const fs::path dir = argv[1];
  try {
    WriteSeeds(dir / "parse_integer", IntegerSeeds());
    WriteDictionary(dir / "parse_integer.dict", {"$", "0x", "X", "-", "+", " ", "2147483647", "FFFFFFFF"});
    WriteSeeds(dir / "parse_real", RealSeeds());
    WriteDictionary(dir / "parse_real.dict", {"E", "e+", "E-", "-", "+", ".", " ", "E499", "E4932", "9999999999"});
    WriteSeeds(dir / "grid_header", HeaderSeeds());
    WriteDictionary(dir / "grid_header.dict", kHeaderWords);
    WriteSeeds(dir / "ascii_grid", AsciiGridSeeds());
    WriteDictionary(dir / "ascii_grid.dict",
                    {"ncols ", "nrows ", "xllcorner ",    "xllcenter ", "yllcorner ", "yllcenter ", "cellsize ",
                     "dx ",    "dy ",    "nodata_value ", "\r\n",       "\r",         "\t",         "e-",
                     "E+",     ".",      "-9999",         "1e39",       "1e-50",      "inf",        "nan",
                     "0x1",    "+",      "16777217",      "32767"});
    WriteSeeds(dir / "image_attach", ImageSeeds());
    WriteDictionary(dir / "image_attach.dict",
                    {std::string("\xC8\x03", 2), std::string("\x00\x00\x00\x00\x00\x80", 6)});
    WriteSeeds(dir / "conversion", ConversionSeeds());
    WriteDictionary(dir / "conversion.dict", kHeaderWords);
    WriteSeeds(dir / "geotiff_reader", GeoTiffSeeds());
    // Magic numbers, the GeoTIFF tags (little-endian), the no-data tag and its texts.
    WriteDictionary(dir / "geotiff_reader.dict",
                    {std::string("II*\0", 4), std::string("MM\0*", 4), std::string("II+\0\x08\0\0\0", 8), "\x0E\x83",
                     "\x82\x84", "\xD8\x85", "\xAF\x87", "\x81\xA4", "nan", "-9999", "1e308"});
  } catch (const std::exception& e) {
    std::cerr << "make_seeds: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
