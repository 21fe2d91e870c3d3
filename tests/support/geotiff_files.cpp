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

// Stores value as a sample of the spec's type at at; false for a type written as zeros.
bool PutSample(const TiffImage& spec, double value, unsigned char* at) {
  const int kind = spec.format * 100 + spec.bits;
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

// The samples of the block whose first cell is (row, column), block_width x rows cells of spec's type
// (cells beyond the image zero).
std::vector<unsigned char> BlockBytes(const TiffImage& spec, const std::vector<double>& samples, std::int64_t row,
                                      std::int64_t column, std::int64_t block_width, std::int64_t rows) {
  const std::int64_t row_bytes = (block_width * spec.bits * spec.bands + 7) / 8;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(row_bytes * rows), 0);
  const std::int64_t sample_bytes = spec.bits / 8;
  for (std::int64_t r = 0; r < rows && row + r < spec.nrows; ++r) {
    for (std::int64_t c = 0; c < block_width && column + c < spec.ncols; ++c) {
      for (std::int64_t b = 0; b < spec.bands; ++b) {
        const std::size_t from = static_cast<std::size_t>(((row + r) * spec.ncols + column + c) * spec.bands + b);
        const std::size_t to = static_cast<std::size_t>(r * row_bytes + (c * spec.bands + b) * sample_bytes);
        if (!PutSample(spec, samples.at(from), bytes.data() + to)) return bytes;
      }
    }
  }
  return bytes;
}

void WriteImage(TIFF* tif, const TiffImage& spec, const std::vector<double>& samples, bool swap_first) {
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(spec.ncols)) &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(spec.nrows)) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, spec.bits) &&
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, spec.format) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spec.bands) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.compression);
  if (spec.predictor != PREDICTOR_NONE) ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, spec.predictor);
  const std::uint32_t rows_per_strip =
      spec.rows_per_strip == 0 ? static_cast<std::uint32_t>(spec.nrows) : spec.rows_per_strip;
  if (spec.tile != 0) {
    ok = ok && TIFFSetField(tif, TIFFTAG_TILEWIDTH, spec.tile) && TIFFSetField(tif, TIFFTAG_TILELENGTH, spec.tile);
  } else {
    ok = ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
  }
  if (spec.pixel_scale.size() > 0) {
    ok = ok &&
         TIFFSetField(tif, tiff::kPixelScaleTag, static_cast<int>(spec.pixel_scale.size()), spec.pixel_scale.data());
  }
  if (spec.tiepoints.size() > 0) {
    ok = ok && TIFFSetField(tif, tiff::kTiepointTag, static_cast<int>(spec.tiepoints.size()), spec.tiepoints.data());
  }
  if (spec.transformation.size() > 0) {
    ok = ok && TIFFSetField(tif, tiff::kTransformationTag, static_cast<int>(spec.transformation.size()),
                            spec.transformation.data());
  }
  if (spec.nodata) ok = ok && TIFFSetField(tif, tiff::kNoDataTag, spec.nodata->c_str());
  Require(ok, "a tag was refused");
  GTIF* keys = GTIFNew(tif);
  Require(keys != nullptr, "no GeoKeys");
  for (const auto& [key, value] : spec.short_keys) GTIFKeySet(keys, static_cast<geokey_t>(key), TYPE_SHORT, 1, value);
  for (const auto& [key, value] : spec.double_keys) GTIFKeySet(keys, static_cast<geokey_t>(key), TYPE_DOUBLE, 1, value);
  ok = GTIFWriteKeys(keys);
  GTIFFree(keys);
  Require(ok, "GeoKeys not written");

  if (spec.directory_first) {
    Require(TIFFDeferStrileArrayWriting(tif) && TIFFWriteCheck(tif, spec.tile != 0, "WriteTiff") &&
                TIFFWriteDirectory(tif) && TIFFSetDirectory(tif, 0),
            "the directory cannot go first");
  }
  const auto skipped = [&spec](std::uint32_t block) {
    return std::find(spec.skipped_blocks.begin(), spec.skipped_blocks.end(), block) != spec.skipped_blocks.end();
  };
  if (spec.tile != 0) {
    const std::uint32_t across = (static_cast<std::uint32_t>(spec.ncols) + spec.tile - 1) / spec.tile;
    const std::uint32_t down = (static_cast<std::uint32_t>(spec.nrows) + spec.tile - 1) / spec.tile;
    for (std::uint32_t y = 0; y < down; ++y) {
      for (std::uint32_t x = 0; x < across; ++x) {
        if (skipped(y * across + x)) continue;
        std::vector<unsigned char> bytes =
            BlockBytes(spec, samples, std::int64_t{y} * spec.tile, std::int64_t{x} * spec.tile, spec.tile, spec.tile);
        if (swap_first) SwapEachSample(bytes, spec.bits / 8);
        Require(TIFFWriteEncodedTile(tif, y * across + x, bytes.data(), static_cast<tmsize_t>(bytes.size())) >= 0,
                "a tile was refused");
      }
    }
  } else {
    for (std::uint32_t strip = 0; strip * rows_per_strip < static_cast<std::uint32_t>(spec.nrows); ++strip) {
      if (skipped(strip)) continue;
      const std::int64_t first = std::int64_t{strip} * rows_per_strip;
      const std::int64_t rows = std::min<std::int64_t>(rows_per_strip, spec.nrows - first);
      std::vector<unsigned char> bytes = BlockBytes(spec, samples, first, 0, spec.ncols, rows);
      if (swap_first) SwapEachSample(bytes, spec.bits / 8);
      Require(TIFFWriteEncodedStrip(tif, strip, bytes.data(), static_cast<tmsize_t>(bytes.size())) >= 0,
              "a strip was refused");
    }
  }
  if (spec.directory_first) Require(TIFFForceStrileArrayWriting(tif), "the block offsets were not written");
}

}  // namespace

void WriteTiff(const std::string& path, const TiffImage& spec, const std::vector<double>& samples) {
  tiff::Initialize();  // the no-data tag known to libtiff
  std::string mode = spec.big_endian ? "wb" : "wl";
  if (spec.bigtiff) mode += "8";
  const bool swap_first = spec.big_endian && spec.predictor == PREDICTOR_FLOATINGPOINT &&
                          SwapsBeforeFloatingPointPredictor(path + ".probe");
  TIFF* tif = TIFFOpen(path.c_str(), mode.c_str());
  Require(tif != nullptr, "cannot create " + path);
  WriteImage(tif, spec, samples, swap_first);
  if (spec.overview) {
    // A reduced copy: half the size, other values, as an overview would be.
    Require(TIFFWriteDirectory(tif), "the first directory was not written");
    TiffImage reduced = spec;
    reduced.ncols = (spec.ncols + 1) / 2;
    reduced.nrows = (spec.nrows + 1) / 2;
    reduced.directory_first = false;
    reduced.skipped_blocks.clear();
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    WriteImage(tif, reduced,
               std::vector<double>(static_cast<std::size_t>(reduced.ncols * reduced.nrows * spec.bands), 99),
               swap_first);
  }
  TIFFClose(tif);
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
