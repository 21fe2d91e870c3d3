#include "tests/support/geotiff_files.h"

#include <geotiff.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "app/grid/tiff_support.h"

namespace kavrimo::testing_support {
namespace {

template <typename T>
void Put(double value, unsigned char* at) {
  const T converted = static_cast<T>(value);
  std::memcpy(at, &converted, sizeof converted);
}

// Stores value as a sample of the image's type at at; false for a type written as zeros.
bool PutSample(const TiffImage& image, double value, unsigned char* at) {
  const int kind = image.format * 100 + image.bits;
  switch (kind) {
    case 108: Put<std::uint8_t>(value, at); return true;
    case 116: Put<std::uint16_t>(value, at); return true;
    case 132: Put<std::uint32_t>(value, at); return true;
    case 208: Put<std::int8_t>(value, at); return true;
    case 216: Put<std::int16_t>(value, at); return true;
    case 232: Put<std::int32_t>(value, at); return true;
    case 332: Put<float>(value, at); return true;
    case 364: Put<double>(value, at); return true;
    default: return false;
  }
}

void Require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("WriteTiff: " + what);
}

// Whether this libtiff byte-swaps the cells of a big-endian file before its floating-point predictor
// instead of after (the predictor's bytes must not depend on the byte order), so that its reader, which
// follows the predictor's definition, reads back swapped cells. A writer that does needs its cells
// swapped beforehand to produce a correct file.
bool SwapsBeforeFloatingPointPredictor(const std::string& scratch_path) {
  static const bool swaps = [&scratch_path] {
    const float written = -300.0f;
    TIFF* tif = TIFFOpen(scratch_path.c_str(), "wb");
    Require(tif != nullptr, "cannot create " + scratch_path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    float cell = written;
    TIFFWriteEncodedStrip(tif, 0, &cell, sizeof cell);
    TIFFClose(tif);
    tif = TIFFOpen(scratch_path.c_str(), "r");
    Require(tif != nullptr, "cannot read " + scratch_path);
    float read = 0;
    TIFFReadEncodedStrip(tif, 0, &read, sizeof read);
    TIFFClose(tif);
    std::remove(scratch_path.c_str());
    return read != written;
  }();
  return swaps;
}

void SwapEachSample(std::vector<unsigned char>& bytes, std::size_t sample_bytes) {
  for (std::size_t at = 0; at + sample_bytes <= bytes.size(); at += sample_bytes) {
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + sample_bytes));
  }
}

// The samples of the block whose first cell is (row, column), block_width x rows cells of image's type
// (cells beyond the image zero).
std::vector<unsigned char> BlockBytes(const TiffImage& image, const std::vector<double>& samples, std::int64_t row,
                                      std::int64_t column, std::int64_t block_width, std::int64_t rows) {
  const std::int64_t row_bytes = (block_width * image.bits * image.bands + 7) / 8;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(row_bytes * rows), 0);
  const std::int64_t sample_bytes = image.bits / 8;
  for (std::int64_t r = 0; r < rows && row + r < image.nrows; ++r) {
    for (std::int64_t c = 0; c < block_width && column + c < image.ncols; ++c) {
      for (std::int64_t b = 0; b < image.bands; ++b) {
        const std::size_t from = static_cast<std::size_t>(((row + r) * image.ncols + column + c) * image.bands + b);
        const std::size_t to = static_cast<std::size_t>(r * row_bytes + (c * image.bands + b) * sample_bytes);
        if (!PutSample(image, samples.at(from), bytes.data() + to)) return bytes;
      }
    }
  }
  return bytes;
}

void WriteImage(TIFF* tif, const TiffImage& image, const std::vector<double>& samples, bool swap_first) {
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.ncols)) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.nrows)) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, image.bits) &&
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, image.format) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, image.bands) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, image.compression);
  if (image.predictor != PREDICTOR_NONE) ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, image.predictor);
  if (image.bits_reversed) ok = ok && TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  const std::uint32_t rows_per_strip =
      image.rows_per_strip == 0 ? static_cast<std::uint32_t>(image.nrows) : image.rows_per_strip;
  if (image.tile != 0) {
    ok = ok && TIFFSetField(tif, TIFFTAG_TILEWIDTH, image.tile) && TIFFSetField(tif, TIFFTAG_TILELENGTH, image.tile);
  } else {
    ok = ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
  }
  if (image.pixel_scale.size() > 0) {
    ok = ok &&
         TIFFSetField(tif, tiff::kPixelScaleTag, static_cast<int>(image.pixel_scale.size()), image.pixel_scale.data());
  }
  if (image.tiepoints.size() > 0) {
    ok = ok && TIFFSetField(tif, tiff::kTiepointTag, static_cast<int>(image.tiepoints.size()), image.tiepoints.data());
  }
  if (image.transformation.size() > 0) {
    ok = ok && TIFFSetField(tif, tiff::kTransformationTag, static_cast<int>(image.transformation.size()),
                            image.transformation.data());
  }
  if (image.nodata) ok = ok && TIFFSetField(tif, tiff::kNoDataTag, image.nodata->c_str());
  Require(ok, "a tag was refused");
  GTIF* keys = GTIFNew(tif);
  Require(keys != nullptr, "no GeoKeys");
  for (const auto& [key, value] : image.short_keys) GTIFKeySet(keys, static_cast<geokey_t>(key), TYPE_SHORT, 1, value);
  for (const auto& [key, value] : image.double_keys)
    GTIFKeySet(keys, static_cast<geokey_t>(key), TYPE_DOUBLE, 1, value);
  ok = GTIFWriteKeys(keys);
  GTIFFree(keys);
  Require(ok, "GeoKeys not written");

  if (image.directory_first) {
    Require(TIFFDeferStrileArrayWriting(tif) && TIFFWriteCheck(tif, image.tile != 0, "WriteTiff") &&
                TIFFWriteDirectory(tif) && TIFFSetDirectory(tif, 0),
            "the directory cannot go first");
  }
  const auto skipped = [&image](std::uint32_t block) {
    return std::find(image.skipped_blocks.begin(), image.skipped_blocks.end(), block) != image.skipped_blocks.end();
  };
  if (image.tile != 0) {
    const std::uint32_t across = (static_cast<std::uint32_t>(image.ncols) + image.tile - 1) / image.tile;
    const std::uint32_t down = (static_cast<std::uint32_t>(image.nrows) + image.tile - 1) / image.tile;
    for (std::uint32_t y = 0; y < down; ++y) {
      for (std::uint32_t x = 0; x < across; ++x) {
        if (skipped(y * across + x)) continue;
        std::vector<unsigned char> bytes = BlockBytes(image, samples, std::int64_t{y} * image.tile,
                                                      std::int64_t{x} * image.tile, image.tile, image.tile);
        if (swap_first) SwapEachSample(bytes, image.bits / 8);
        Require(TIFFWriteEncodedTile(tif, y * across + x, bytes.data(), static_cast<tmsize_t>(bytes.size())) >= 0,
                "a tile was refused");
      }
    }
  } else {
    for (std::uint32_t strip = 0; strip * rows_per_strip < static_cast<std::uint32_t>(image.nrows); ++strip) {
      if (skipped(strip)) continue;
      const std::int64_t first = std::int64_t{strip} * rows_per_strip;
      const std::int64_t rows = std::min<std::int64_t>(rows_per_strip, image.nrows - first);
      std::vector<unsigned char> bytes = BlockBytes(image, samples, first, 0, image.ncols, rows);
      if (swap_first) SwapEachSample(bytes, image.bits / 8);
      Require(TIFFWriteEncodedStrip(tif, strip, bytes.data(), static_cast<tmsize_t>(bytes.size())) >= 0,
              "a strip was refused");
    }
  }
  if (image.directory_first) Require(TIFFForceStrileArrayWriting(tif), "the block offsets were not written");
}

}  // namespace

void WriteTiff(const std::string& path, const TiffImage& image, const std::vector<double>& samples) {
  tiff::Initialize();  // the no-data tag known to libtiff
  std::string mode = image.big_endian ? "wb" : "wl";
  if (image.bigtiff) mode += "8";
  const bool swap_first = image.big_endian && image.predictor == PREDICTOR_FLOATINGPOINT &&
                          SwapsBeforeFloatingPointPredictor(path + ".probe");
  TIFF* tif = TIFFOpen(path.c_str(), mode.c_str());
  Require(tif != nullptr, "cannot create " + path);
  WriteImage(tif, image, samples, swap_first);
  if (image.overview) {
    // A reduced copy: half the size, other values, as an overview would be.
    Require(TIFFWriteDirectory(tif), "the first directory was not written");
    TiffImage reduced = image;
    reduced.ncols = (image.ncols + 1) / 2;
    reduced.nrows = (image.nrows + 1) / 2;
    reduced.directory_first = false;
    reduced.skipped_blocks.clear();
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    WriteImage(tif, reduced,
               std::vector<double>(static_cast<std::size_t>(reduced.ncols * reduced.nrows * image.bands), 99),
               swap_first);
  }
  TIFFClose(tif);
  if (image.key_directory_type != TIFF_SHORT) {
    PatchTiffEntry(path, tiff::kGeoKeyDirectoryTag, image.key_directory_type, std::nullopt);
  }
}

void PatchTiffEntry(const std::string& path, int tag, std::uint16_t type, std::optional<std::uint32_t> value) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  Require(file != nullptr, "cannot reopen " + path);
  std::vector<unsigned char> bytes;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes.push_back(static_cast<unsigned char>(c));
  const bool big = bytes.at(0) == 'M';
  const auto number = [&](std::size_t at, std::size_t count) {
    std::uint64_t read = 0;
    for (std::size_t i = 0; i < count; ++i) read |= std::uint64_t{bytes.at(at + (big ? count - 1 - i : i))} << (8 * i);
    return static_cast<std::size_t>(read);
  };
  const auto put = [&](std::size_t at, std::uint64_t number_to_put, std::size_t count) {
    unsigned char stored[8] = {};
    for (std::size_t i = 0; i < count; ++i) {
      stored[big ? count - 1 - i : i] = static_cast<unsigned char>(number_to_put >> (8 * i));
    }
    std::fseek(file, static_cast<long>(at), SEEK_SET);
    std::fwrite(stored, 1, count, file);
  };
  const bool bigtiff = number(2, 2) == 43;
  const std::size_t directory = bigtiff ? number(8, 8) : number(4, 4);
  const std::size_t count_bytes = bigtiff ? 8 : 2, entry_bytes = bigtiff ? 20 : 12, field_bytes = bigtiff ? 8 : 4;
  for (std::size_t i = 0; i < number(directory, count_bytes); ++i) {
    const std::size_t entry = directory + count_bytes + i * entry_bytes;
    if (number(entry, 2) != static_cast<std::size_t>(tag)) continue;
    put(entry + 2, type, 2);
    if (value) put(entry + 4 + field_bytes, *value, field_bytes);
  }
  std::fclose(file);
}

TiffTags ReadTiffTags(const std::string& path) {
  tiff::Initialize();
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) throw std::runtime_error("ReadTiffTags: cannot open " + path);
  TiffTags tags;
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetField(tif, TIFFTAG_PREDICTOR, &tags.predictor);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &tags.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &tags.format);
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tags.tile_width);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tags.tile_height);
  std::uint16_t count = 0;
  double* values = nullptr;
  if (TIFFGetField(tif, tiff::kPixelScaleTag, &count, &values)) tags.pixel_scale.assign(values, values + count);
  if (TIFFGetField(tif, tiff::kTiepointTag, &count, &values)) tags.tiepoints.assign(values, values + count);
  const char* nodata = nullptr;
  if (TIFFGetField(tif, tiff::kNoDataTag, &nodata) && nodata != nullptr) tags.nodata = nodata;
  GTIF* keys = GTIFNew(tif);
  for (const int key : {GTModelTypeGeoKey, GTRasterTypeGeoKey, GeographicTypeGeoKey, GeogAngularUnitsGeoKey}) {
    unsigned short value = 0;
    if (GTIFKeyGetSHORT(keys, static_cast<geokey_t>(key), &value, 0, 1) == 1) tags.short_keys.emplace_back(key, value);
  }
  GTIFFree(keys);
  TIFFClose(tif);
  return tags;
}

}  // namespace kavrimo::testing_support
