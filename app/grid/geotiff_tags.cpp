// Reading a GeoTIFF's tags: the first directory checked against the file's size, the samples, size,
// compression and layout of its blocks, and its no-data tag.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/grid/geotiff_reader_state.h"

namespace kavrimo {
namespace {

// More entries than this in a directory and libtiff takes it for no directory at all.
constexpr std::uint64_t kMaxDirectoryEntries = 4096;

std::optional<GeoTiffSample> SampleOf(std::uint16_t bits, std::uint16_t format) {
  if (format == SAMPLEFORMAT_UINT) {
    if (bits == 8) return GeoTiffSample::kUnsigned8;
    if (bits == 16) return GeoTiffSample::kUnsigned16;
    if (bits == 32) return GeoTiffSample::kUnsigned32;
  } else if (format == SAMPLEFORMAT_INT) {
    if (bits == 8) return GeoTiffSample::kSigned8;
    if (bits == 16) return GeoTiffSample::kSigned16;
    if (bits == 32) return GeoTiffSample::kSigned32;
  } else if (format == SAMPLEFORMAT_IEEEFP) {
    if (bits == 32) return GeoTiffSample::kReal32;
    if (bits == 64) return GeoTiffSample::kReal64;
  }
  return std::nullopt;
}

// "16-bit floating-point", "1-bit unsigned integer", ...
std::string DescribeSamples(std::uint16_t bits, std::uint16_t format) {
  std::string kind;
  switch (format) {
    case SAMPLEFORMAT_UINT: kind = "unsigned integer"; break;
    case SAMPLEFORMAT_INT: kind = "signed integer"; break;
    case SAMPLEFORMAT_IEEEFP: kind = "floating-point"; break;
    case SAMPLEFORMAT_VOID: kind = "untyped"; break;
    case SAMPLEFORMAT_COMPLEXINT: kind = "complex integer"; break;
    case SAMPLEFORMAT_COMPLEXIEEEFP: kind = "complex floating-point"; break;
    default: kind = "sample format " + std::to_string(format);
  }
  return std::to_string(bits) + "-bit " + kind;
}

}  // namespace

// Checks that the first directory and every value of its tags lie inside the file. libtiff drops a tag
// whose values it cannot read with no more than a warning, so a file cut short there would lose its
// GeoKeys or its no-data tag unseen.
void GeoTiffReader::State::CheckDirectoryInside() {
  unsigned char head[16] = {};
  const std::size_t head_bytes = ReadSourceBytes(source, 0, head, sizeof head);
  const bool little =
      head_bytes >= 8 && head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0;
  const bool big =
      head_bytes >= 8 && head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
  if (!little && !big) Fail("is not a TIFF file");
  const bool bigtiff = (little ? head[2] : head[3]) == 43;
  const auto number = [big](const unsigned char* bytes, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      value |= std::uint64_t{bytes[big ? count - 1 - i : i]} << (8 * i);
    }
    return value;
  };
  const auto truncated = [this](std::uint64_t end) {
    Fail("is truncated: its directory reaches byte " + std::to_string(end) + " of a file of " +
         std::to_string(source.size) + " bytes");
  };
  if (bigtiff && head_bytes < 16) truncated(16);
  const std::uint64_t directory = bigtiff ? number(head + 8, 8) : number(head + 4, 4);
  const std::size_t count_bytes = bigtiff ? 8 : 2;
  const std::size_t entry_bytes = bigtiff ? 20 : 12;
  const std::size_t field_bytes = bigtiff ? 8 : 4;
  unsigned char count_field[8] = {};
  if (directory > source.size || ReadSourceBytes(source, directory, count_field, count_bytes) < count_bytes) {
    truncated(directory + count_bytes);
  }
  const std::uint64_t entries = number(count_field, count_bytes);
  if (entries > kMaxDirectoryEntries) return;  // libtiff refuses such a directory with its own words
  if (entries > (source.size - directory - count_bytes) / entry_bytes) {
    truncated(directory + count_bytes + entries * entry_bytes);
  }
  std::vector<unsigned char> table(static_cast<std::size_t>(entries) * entry_bytes);
  ReadSourceBytes(source, directory + count_bytes, table.data(), table.size());
  for (std::uint64_t i = 0; i < entries; ++i) {
    const unsigned char* entry = table.data() + i * entry_bytes;
    static constexpr std::uint64_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    const std::uint64_t type = number(entry + 2, 2);
    const std::uint64_t tag = number(entry, 2);
    if (tag == tiff::kGeoKeyDirectoryTag) key_directory_type = static_cast<std::uint16_t>(type);
    if (tag == TIFFTAG_FILLORDER && type == TIFF_SHORT) {
      bits_reversed = number(entry + 4 + field_bytes, 2) == FILLORDER_LSB2MSB;
    }
    const std::uint64_t type_bytes = type < std::size(kTypeBytes) ? kTypeBytes[type] : 0;
    const std::uint64_t values = number(entry + 4, field_bytes);
    if (type_bytes == 0) continue;  // a type libtiff ignores
    if (values > source.size / type_bytes) {
      Fail("is damaged: tag " + std::to_string(number(entry, 2)) + " has more values than the file has bytes");
    }
    if (values * type_bytes <= field_bytes) continue;  // the values are in the entry itself
    const std::uint64_t at = number(entry + 4 + field_bytes, field_bytes);
    if (at > source.size || values * type_bytes > source.size - at) truncated(at + values * type_bytes);
  }
}

void GeoTiffReader::State::ReadInfo() {
  std::uint16_t bands = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &bands);
  if (bands != 1) Fail("has " + std::to_string(bands) + " bands; only single-band grids can be converted");
  std::uint16_t bits = 1;
  std::uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  const std::optional<GeoTiffSample> sample = SampleOf(bits, format);
  if (!sample) Fail("holds " + DescribeSamples(bits, format) + " samples, which cannot be converted");
  info.sample = *sample;
  sample_bytes = static_cast<std::size_t>(info.SampleBytes());

  std::uint32_t width = 0;
  std::uint32_t length = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
  CheckConvertibleSize(width, length);
  info.header.ncols = static_cast<std::int32_t>(width);
  info.header.nrows = static_cast<std::int32_t>(length);

  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!TIFFIsCODECConfigured(compression)) {
    Fail("is compressed by method " + std::to_string(compression) + ", which this system cannot decode");
  }
  CheckBlocksInside(ReadBlockShape());
  ReadGeoreference();
  ReadNoData();
  CheckLibrary();
}

// The blocks' shape: tiles, strips, or runs of rows of strips too large to decode whole. Returns how many
// blocks the file must store for its size.
std::uint64_t GeoTiffReader::State::ReadBlockShape() {
  GeoTiffLayout& layout = info.layout;
  layout.ncols = info.header.ncols;
  layout.nrows = info.header.nrows;
  layout.tiled = TIFFIsTiled(tif) != 0;
  std::uint64_t striles = 0;
  if (layout.tiled) {
    std::uint32_t tile_width = 0;
    std::uint32_t tile_height = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_height);
    if (tile_width == 0 || tile_height == 0) Fail("is damaged: its tiles have no size");
    if (std::int64_t{tile_width} * tile_height * static_cast<std::int64_t>(std::max<std::size_t>(sample_bytes, 4)) >
        kGeoTiffMaxTileBytes) {
      Fail("has tiles of " + std::to_string(tile_width) + " x " + std::to_string(tile_height) +
           " cells, too large to decode (more than " + std::to_string(kGeoTiffMaxTileBytes) +
           " bytes each); write it again in smaller tiles (512 x 512 cells, say) or in strips");
    }
    layout.block_width = tile_width;
    layout.block_height = tile_height;
    striles = TIFFNumberOfTiles(tif);
  } else {
    std::uint32_t rows = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    if (rows == 0) Fail("is damaged: its strips have no rows");
    rows_per_strip = std::min<std::int64_t>(rows, layout.nrows);
    layout.block_width = layout.ncols;
    layout.block_height = rows_per_strip;
    if (rows_per_strip * layout.ncols > kGeoTiffMaxBlockCells) {
      layout.rows_in_order = true;
      layout.block_height = std::max<std::int64_t>(1, kGeoTiffMaxBlockCells / layout.ncols);
    }
    striles = TIFFNumberOfStrips(tif);
  }
  layout.blocks_across = (layout.ncols + layout.block_width - 1) / layout.block_width;
  layout.blocks_down = (layout.nrows + layout.block_height - 1) / layout.block_height;
  const std::uint64_t needed = layout.tiled
                                   ? static_cast<std::uint64_t>(layout.Blocks())
                                   : static_cast<std::uint64_t>((layout.nrows + rows_per_strip - 1) / rows_per_strip);
  if (striles < needed) Fail("is damaged: it has fewer blocks than its size needs");
  return needed;
}

// Every block's bytes inside the file; the cells readable in place when they are stored as they are.
void GeoTiffReader::State::CheckBlocksInside(std::uint64_t needed) {
  GeoTiffLayout& layout = info.layout;
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint16_t fill_order = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill_order);
  bool in_place = compression == COMPRESSION_NONE && info.sample == GeoTiffSample::kReal32 && !TIFFIsByteSwapped(tif) &&
                  fill_order == FILLORDER_MSB2LSB && !layout.rows_in_order;
  std::vector<std::uint64_t> offsets;
  if (in_place) offsets.reserve(static_cast<std::size_t>(needed));
  for (std::uint64_t strile = 0; strile < needed; ++strile) {
    int failed = 0;
    const auto index = static_cast<std::uint32_t>(strile);
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, index, &failed);
    const std::uint64_t bytes = failed ? 0 : TIFFGetStrileByteCountWithErr(tif, index, &failed);
    if (failed) FailFromLibrary();
    if (bytes == 0) {
      has_empty_blocks = true;
      in_place = false;
      continue;
    }
    layout.largest_stored_block = std::max(layout.largest_stored_block, bytes);
    if (offset > source.size || bytes > source.size - offset) {
      Fail("is truncated: its data reaches byte " + std::to_string(offset + bytes) + " of a file of " +
           std::to_string(source.size) + " bytes");
    }
    if (in_place) {
      const std::int64_t rows =
          layout.tiled ? layout.block_height
                       : std::min<std::int64_t>(rows_per_strip,
                                                layout.nrows - static_cast<std::int64_t>(strile) * rows_per_strip);
      in_place = bytes >= static_cast<std::uint64_t>(rows * layout.block_width) * sizeof(float);
      offsets.push_back(offset);
    }
  }
  layout.in_place = in_place;
  if (in_place) layout.block_offsets = std::move(offsets);
  // libtiff reverses a block's bits in a copy of the whole block as stored (a compressed strip is not read
  // a piece at a time then).
  if (bits_reversed && compression != COMPRESSION_NONE &&
      layout.largest_stored_block > static_cast<std::uint64_t>(kGeoTiffMaxTileBytes)) {
    Fail("stores its bits in reverse order (FillOrder 2) in blocks of up to " +
         std::to_string(layout.largest_stored_block) + " bytes, which are read whole: more than " +
         std::to_string(kGeoTiffMaxTileBytes) + "; write it again in the usual fill order or in smaller strips");
  }
}

void GeoTiffReader::State::ReadNoData() {
  const char* tag = nullptr;
  if (TIFFGetField(tif, tiff::kNoDataTag, &tag) != 1 || tag == nullptr) {
    info.header.no_nodata = true;
    return;
  }
  std::string_view text = tag;
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  std::string_view number = text;
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
    Fail("has a no-data tag that is not a number ('" + std::string(text.substr(0, 40)) + "')");
  }
  // Rounded as the cells are, so that a 64-bit cell equals the tag when the writer gave both the same value.
  info.header.nodata_single = static_cast<float>(value);
  info.nan_is_nodata = std::isnan(value);
}

// A block the file holds no bytes for (a sparse file) is all no-data; false when it has bytes.
}  // namespace kavrimo
