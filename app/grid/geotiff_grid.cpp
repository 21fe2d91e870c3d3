// Reading GeoTIFF grids: libtiff over our own client procedures (a file read at a tracked offset and
// mapped whole, or bytes in memory), the first image's tags checked and turned into a grid header, and
// blocks decoded and converted to singles.
#include "app/grid/geotiff_grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "app/grid/coordinate_system.h"
#include "app/grid/grid_stream.h"
#include "app/grid/tiff_support.h"
#include "runtime/file.h"
#include "runtime/fp.h"
#include "runtime/mapped_file.h"
#include "runtime/number_text.h"
#include "runtime/path.h"

namespace kavrimo {
namespace {

// The mapped bytes decoded between two releases of the mapping's resident pages.
constexpr std::uint64_t kReleaseBytes = std::uint64_t{2} << 20;
// More entries than this in a directory and libtiff takes it for no directory at all.
constexpr std::uint64_t kMaxDirectoryEntries = 4096;

std::size_t SampleBytes(GeoTiffSample sample) {
  switch (sample) {
    case GeoTiffSample::kUnsigned8:
    case GeoTiffSample::kSigned8: return 1;
    case GeoTiffSample::kUnsigned16:
    case GeoTiffSample::kSigned16: return 2;
    case GeoTiffSample::kUnsigned32:
    case GeoTiffSample::kSigned32:
    case GeoTiffSample::kReal32: return 4;
    case GeoTiffSample::kReal64: return 8;
  }
  return 8;
}

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

template <typename T>
void ConvertRow(const unsigned char* samples, std::int64_t count, float* cells) {
  for (std::int64_t i = 0; i < count; ++i) {
    T value;
    std::memcpy(&value, samples + i * static_cast<std::int64_t>(sizeof(T)), sizeof(T));
    cells[i] = static_cast<float>(value);  // exact to 16 bits; nearest single, ties to even, beyond
  }
}

void ConvertSamples(GeoTiffSample sample, const unsigned char* samples, std::int64_t count, float* cells) {
  switch (sample) {
    case GeoTiffSample::kUnsigned8: return ConvertRow<std::uint8_t>(samples, count, cells);
    case GeoTiffSample::kSigned8: return ConvertRow<std::int8_t>(samples, count, cells);
    case GeoTiffSample::kUnsigned16: return ConvertRow<std::uint16_t>(samples, count, cells);
    case GeoTiffSample::kSigned16: return ConvertRow<std::int16_t>(samples, count, cells);
    case GeoTiffSample::kUnsigned32: return ConvertRow<std::uint32_t>(samples, count, cells);
    case GeoTiffSample::kSigned32: return ConvertRow<std::int32_t>(samples, count, cells);
    case GeoTiffSample::kReal32: std::memcpy(cells, samples, static_cast<std::size_t>(count) * sizeof(float)); return;
    case GeoTiffSample::kReal64: return ConvertRow<double>(samples, count, cells);
  }
}

// The values of a GeoTIFF tag of reals (empty when the image has none).
std::span<const double> Reals(TIFF* tif, ttag_t tag) {
  const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
  if (field == nullptr || !TIFFFieldPassCount(field)) return {};
  const double* values = nullptr;
  if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
    std::uint32_t count = 0;
    if (TIFFGetField(tif, tag, &count, &values) != 1 || values == nullptr) return {};
    return {values, count};
  }
  std::uint16_t count = 0;
  if (TIFFGetField(tif, tag, &count, &values) != 1 || values == nullptr) return {};
  return {values, count};
}

// The angular unit (in radians) of an EPSG geographic coordinate system, when PROJ knows the code; asked
// once per code and process.
std::optional<double> UnitOfGeographicCode(int code) {
  static std::mutex mutex;
  static std::map<int, std::optional<double>> known;
  const std::lock_guard lock(mutex);
  if (const auto found = known.find(code); found != known.end()) return found->second;
  std::optional<double> unit;
  try {
    unit = LookUpGeographicSystem(code).unit_radians;
  } catch (const ECoordinateSystemError&) {
    // Not a geographic code PROJ knows: nothing to say about its unit.
  }
  known.emplace(code, unit);
  return unit;
}

std::string WithCode(const std::string& what, std::optional<unsigned short> code) {
  if (!code || *code == 0 || *code == tiff::kUserDefined) return what;
  return what + " EPSG:" + std::to_string(*code);
}

// Where libtiff reads: a file (read at a tracked offset, and mapped whole when it can be) or bytes in
// memory.
struct Source {
  BinaryFile file;
  std::optional<MappedWindow> window;
  bool in_memory = false;
  std::span<const std::uint8_t> memory;
  std::uint64_t size = 0;           // the file's size when it was opened
  std::uint64_t position = 0;       // libtiff's read position
  std::exception_ptr read_failure;  // what a read raised inside libtiff
};

// Reads up to count bytes at offset (fewer at the end of the file) and returns how many came.
std::size_t ReadSource(const Source& source, std::uint64_t offset, void* buffer, std::size_t count) {
  if (offset >= source.size || count == 0) return 0;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, source.size - offset));
  if (!source.in_memory) return source.file.ReadAt(static_cast<std::int64_t>(offset), buffer, count);
  std::memcpy(buffer, source.memory.data() + offset, count);
  return count;
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* source = static_cast<Source*>(handle);
  if (size <= 0 || source->position >= source->size) return 0;
  const auto count = static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size), source->size - source->position));
  std::size_t got = 0;
  if (source->in_memory) {
    std::memcpy(buffer, source->memory.data() + source->position, count);
    got = count;
  } else {
    try {
      got = source->file.ReadAt(static_cast<std::int64_t>(source->position), buffer, count);
    } catch (...) {
      if (!source->read_failure) source->read_failure = std::current_exception();
      return -1;
    }
  }
  source->position += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

// libtiff decodes from the mapping without copying the stored bytes.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* source = static_cast<Source*>(handle);
  const void* data = nullptr;
  if (source->in_memory) {
    data = source->memory.data();
  } else if (source->window && source->window->Ok()) {
    data = source->window->Data();
  }
  if (data == nullptr) return 0;
  *base = const_cast<void*>(data);  // mapped read-only; libtiff only reads through it
  *size = source->size;
  return 1;
}

}  // namespace

struct GeoTiffReader::State {
  std::string name;
  Source source;
  tiff::Messages messages;
  TIFF* tif = nullptr;

  GeoTiffInfo info;
  std::size_t sample_bytes = 4;
  std::int64_t rows_per_strip = 0;
  bool has_empty_blocks = false;                      // blocks without bytes (filled with the no-data value)
  std::optional<BlockBuffer<std::uint64_t>> scratch;  // one block's samples as stored (one row's for runs)
  std::int64_t scratch_strip = -1;                    // the strip whose samples scratch holds
  std::uint64_t decoded_bytes = 0;                    // mapped bytes decoded since the pages were last released
  std::int64_t next_scanline = -1;                    // the row libtiff's scanline reading gives next, -1 none

  ~State() {
    if (tif != nullptr) TIFFClose(tif);
  }

  [[noreturn]] void Fail(const std::string& what) const { throw EGeoTiffError(name + " " + what); }

  // Raises what made libtiff fail: a read error, or its first error message.
  [[noreturn]] void FailFromLibrary() const {
    if (source.read_failure) std::rethrow_exception(source.read_failure);
    Fail("is damaged: " +
         (messages.first_error.empty() ? std::string("libtiff cannot read it") : messages.first_error));
  }

  void CheckLibrary() const {
    if (source.read_failure || !messages.first_error.empty()) FailFromLibrary();
  }

  // Runs call, which may make libtiff touch the mapping, under a guard against the file shrinking.
  template <typename Call>
  void Guarded(Call call) {
    if (!source.window) {
      call();
      return;
    }
    bool cut_short = false;
    {
      const BusErrorGuard guard(*source.window);
      call();
      cut_short = guard.CutShort();
    }
    if (cut_short || static_cast<std::uint64_t>(source.file.Size()) < source.size) Fail("changed while it was read");
  }

  // Counts a block's stored bytes as decoded, giving the mapping's pages back now and then.
  void Decoded(std::uint64_t bytes) {
    decoded_bytes += bytes;
    if (decoded_bytes >= kReleaseBytes && source.window) {
      source.window->Release();
      decoded_bytes = 0;
    }
  }

  unsigned char* Scratch() {
    if (!scratch) {
      const GeoTiffLayout& layout = info.layout;
      const std::int64_t cells = layout.rows_in_order ? layout.ncols : layout.block_width * layout.block_height;
      scratch.emplace((static_cast<std::size_t>(cells) * sample_bytes + 7) / 8);
    }
    return reinterpret_cast<unsigned char*>(scratch->data());
  }

  void CheckDirectoryInside();
  void Open();
  void ReadInfo();
  void ReadLayout();
  void ReadGeoreference();
  void ReadNoData();
  bool FillEmpty(std::uint32_t strile, float* out, std::int64_t cells);
  void ReadStrile(std::uint32_t strile, void* buffer, std::int64_t bytes);
  void DecodeStripToScratch(std::int64_t strip);
  void ReadScanlines(std::int64_t first_row, std::int64_t count, float* out);
};

// Checks that the first directory and every value of its tags lie inside the file. libtiff drops a tag
// whose values it cannot read with no more than a warning, so a file cut short there would lose its
// GeoKeys or its no-data tag unseen.
void GeoTiffReader::State::CheckDirectoryInside() {
  unsigned char head[16] = {};
  const std::size_t head_bytes = ReadSource(source, 0, head, sizeof head);
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
  if (directory > source.size || ReadSource(source, directory, count_field, count_bytes) < count_bytes) {
    truncated(directory + count_bytes);
  }
  const std::uint64_t entries = number(count_field, count_bytes);
  if (entries > kMaxDirectoryEntries) return;  // libtiff refuses such a directory with its own words
  if (entries > (source.size - directory - count_bytes) / entry_bytes) {
    truncated(directory + count_bytes + entries * entry_bytes);
  }
  std::vector<unsigned char> table(static_cast<std::size_t>(entries) * entry_bytes);
  ReadSource(source, directory + count_bytes, table.data(), table.size());
  for (std::uint64_t i = 0; i < entries; ++i) {
    const unsigned char* entry = table.data() + i * entry_bytes;
    static constexpr std::uint64_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    const std::uint64_t type = number(entry + 2, 2);
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

void GeoTiffReader::State::Open() {
  tiff::Initialize();
  CheckDirectoryInside();

  if (!source.in_memory && BusErrorGuardAvailable()) {
    source.window.emplace(source.file, 0, static_cast<std::size_t>(source.size));
    if (!source.window->Ok()) source.window.reset();
  }
  const tiff::Options options = tiff::OptionsFor(messages);
  Guarded([&] {
    tif = TIFFClientOpenExt(name.c_str(), "r", &source, ReadProc, WriteProc, tiff::SeekStream<Source>,
                            tiff::CloseNothing, tiff::StreamSize<Source>, MapProc, tiff::UnmapNothing, options.get());
  });
  if (tif == nullptr) FailFromLibrary();
  // Errors about tags libtiff dropped while it read the directory do not make the grid unreadable; what
  // the grid needs is checked below.
  if (source.read_failure) FailFromLibrary();
  messages.first_error.clear();
  Guarded([&] { ReadInfo(); });
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
  sample_bytes = SampleBytes(*sample);

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
  ReadLayout();
  ReadGeoreference();
  ReadNoData();
  CheckLibrary();
}

void GeoTiffReader::State::ReadLayout() {
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
    if (std::int64_t{tile_width} * tile_height > kGeoTiffMaxTileCells) {
      Fail("has tiles of " + std::to_string(tile_width) + " x " + std::to_string(tile_height) + " cells, more than " +
           std::to_string(kGeoTiffMaxTileCells) + " cells each");
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

  // Every block's bytes inside the file; the cells readable in place when they are stored as they are.
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
}

void GeoTiffReader::State::ReadGeoreference() {
  tiff::GeoKeys keys(GTIFNewEx(tif, tiff::OnGeoKeyError, &messages));
  if (!keys || !messages.first_error.empty()) {
    Fail("is damaged: its GeoKeys cannot be read" +
         (messages.first_error.empty() ? std::string() : " (" + messages.first_error + ")"));
  }
  const auto key = [&keys](geokey_t id) -> std::optional<unsigned short> {
    unsigned short value = 0;
    if (GTIFKeyGetSHORT(keys.get(), id, &value, 0, 1) == 1) return value;
    return std::nullopt;
  };

  const std::optional<unsigned short> model = key(GTModelTypeGeoKey);
  const std::optional<unsigned short> projected = key(ProjectedCSTypeGeoKey);
  const std::optional<unsigned short> geographic = key(GeographicTypeGeoKey);
  const auto refuse = [this](const std::string& what) { Fail("is not in latitude and longitude (" + what + ")"); };
  if (model == tiff::kModelTypeProjected || (!model && projected && *projected != 0)) {
    refuse(WithCode("projected coordinate system", projected));
  }
  if (model == tiff::kModelTypeGeocentric) refuse(WithCode("geocentric coordinate system", geographic));
  if (model && *model != tiff::kModelTypeGeographic) refuse("model type " + std::to_string(*model));
  if (const std::optional<unsigned short> unit = key(GeogAngularUnitsGeoKey)) {
    if (*unit == tiff::kUserDefined) {
      double radians = 0;
      if (GTIFKeyGetDOUBLE(keys.get(), GeogAngularUnitSizeGeoKey, &radians, 0, 1) != 1 || !IsDegree(radians)) {
        refuse("an angular unit of " + ShortestText(radians) + " radians");
      }
    } else if (*unit != tiff::kUnitDegree && *unit != tiff::kUnitDegreeSupplier) {
      refuse("angular unit EPSG:" + std::to_string(*unit));
    }
  } else if (geographic && *geographic != 0 && *geographic != tiff::kUserDefined) {
    if (const std::optional<double> radians = UnitOfGeographicCode(*geographic); radians && !IsDegree(*radians)) {
      refuse(WithCode("geographic coordinate system", geographic) + " in an angular unit other than the degree");
    }
  }

  const std::span<const double> scale = Reals(tif, tiff::kPixelScaleTag);
  const std::span<const double> ties = Reals(tif, tiff::kTiepointTag);
  const std::span<const double> matrix = Reals(tif, tiff::kTransformationTag);
  double left = 0;
  double top = 0;
  double sx = 0;
  double sy = 0;
  if (ties.size() % 6 != 0) {
    Fail("is damaged: its tie points hold " + std::to_string(ties.size()) + " values, not six each");
  }
  if (ties.size() > 6 && (scale.size() >= 2 || matrix.size() < 16)) {
    Fail("is placed by " + std::to_string(ties.size() / 6) +
         " tie points; only one tie point with a cell size can be converted");
  }
  if (scale.size() >= 2 && ties.size() == 6) {
    sx = scale[0];
    sy = scale[1];
    left = ties[3] - ties[0] * sx;
    top = ties[4] + ties[1] * sy;
  } else if (matrix.size() >= 16) {
    // X = a i + b j + d, Y = e i + f j + h: north-up when b and e are 0 (and f negative, below).
    if (matrix[1] != 0 || matrix[4] != 0) Fail("is rotated; only north-up grids can be converted");
    sx = matrix[0];
    sy = -matrix[5];
    left = matrix[3];
    top = matrix[7];
  } else {
    Fail("has no georeference");
  }
  if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(left) || !std::isfinite(top)) {
    Fail("has a georeference that cannot be used (a value that is not a finite number)");
  }
  if (sx == 0 || sy == 0) Fail("has a georeference that cannot be used (a cell size of 0)");
  // A negative spacing mirrors the grid: west to the right or south at the top.
  if (sx < 0 || sy < 0) Fail("is rotated; only north-up grids can be converted");
  if (key(GTRasterTypeGeoKey) == tiff::kRasterPixelIsPoint) {
    // The tie point is a cell's centre: the edges lie half a cell further out.
    left -= sx / 2;
    top += sy / 2;
  }
  const double bottom = top - static_cast<double>(info.header.nrows) * sy;
  info.header.xllcorner = fp::ToSingle(left);
  info.header.yllcorner = fp::ToSingle(bottom);
  info.header.cellsize = fp::ToSingle(sx);
  const float row_spacing = fp::ToSingle(sy);
  if (row_spacing != info.header.cellsize) info.header.cell_height = row_spacing;
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
bool GeoTiffReader::State::FillEmpty(std::uint32_t strile, float* out, std::int64_t cells) {
  if (!has_empty_blocks || TIFFGetStrileByteCount(tif, strile) != 0) return false;
  if (!info.header.nodata_single)
    Fail("is damaged: block " + std::to_string(strile) + " has no data and there is no no-data value");
  std::fill(out, out + cells, *info.header.nodata_single);
  return true;
}

void GeoTiffReader::State::ReadStrile(std::uint32_t strile, void* buffer, std::int64_t bytes) {
  tmsize_t got = -1;
  Guarded([&] {
    got = info.layout.tiled ? TIFFReadEncodedTile(tif, strile, buffer, bytes)
                            : TIFFReadEncodedStrip(tif, strile, buffer, bytes);
  });
  if (got != bytes) FailFromLibrary();
  CheckLibrary();
  Decoded(TIFFGetStrileByteCount(tif, strile));
}

void GeoTiffReader::State::DecodeStripToScratch(std::int64_t strip) {
  if (scratch_strip == strip) return;
  const std::int64_t rows = std::min(rows_per_strip, info.layout.nrows - strip * rows_per_strip);
  scratch_strip = -1;
  ReadStrile(static_cast<std::uint32_t>(strip), Scratch(),
             rows * info.layout.ncols * static_cast<std::int64_t>(sample_bytes));
  scratch_strip = strip;
}

// libtiff decodes a strip's rows only one after another from its first: a row further on is reached by
// decoding the rows before it, and a row above the last one decoded by starting its strip again.
void GeoTiffReader::State::ReadScanlines(std::int64_t first_row, std::int64_t count, float* out) {
  const std::int64_t ncols = info.layout.ncols;
  const bool direct = info.sample == GeoTiffSample::kReal32;
  const auto read = [this](std::int64_t row, void* buffer) {
    int status = -1;
    next_scanline = -1;
    Guarded([&] { status = TIFFReadScanline(tif, buffer, static_cast<std::uint32_t>(row), 0); });
    if (status != 1) FailFromLibrary();
    CheckLibrary();
    next_scanline = row + 1;
  };
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t row = first_row + i;
    float* cells = out + i * ncols;
    if (FillEmpty(static_cast<std::uint32_t>(row / rows_per_strip), cells, ncols)) continue;
    const std::int64_t strip_start = row / rows_per_strip * rows_per_strip;
    for (std::int64_t skipped = next_scanline >= strip_start && next_scanline <= row ? next_scanline : strip_start;
         skipped < row; ++skipped) {
      read(skipped, Scratch());
    }
    void* buffer = direct ? static_cast<void*>(cells) : Scratch();
    read(row, buffer);
    if (!direct) ConvertSamples(info.sample, static_cast<const unsigned char*>(buffer), ncols, cells);
  }
  if (source.window) source.window->Release();
  decoded_bytes = 0;
}

GeoTiffReader::GeoTiffReader(const std::string& path) : GeoTiffReader(path, path) {}

GeoTiffReader::GeoTiffReader(const std::string& path, const std::string& name) : state_(std::make_unique<State>()) {
  state_->name = name;
  state_->source.file = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  state_->source.size = static_cast<std::uint64_t>(state_->source.file.Size());
  state_->Open();
}

GeoTiffReader::GeoTiffReader(std::span<const std::uint8_t> bytes, const std::string& name)
    : state_(std::make_unique<State>()) {
  state_->name = name;
  state_->source.in_memory = true;
  state_->source.memory = bytes;
  state_->source.size = bytes.size();
  state_->Open();
}

GeoTiffReader::~GeoTiffReader() = default;

const GeoTiffInfo& GeoTiffReader::Info() const { return state_->info; }

void GeoTiffReader::DecodeBlock(std::int64_t block_x, std::int64_t block_y, float* out) {
  State& state = *state_;
  const GeoTiffLayout& layout = state.info.layout;
  if (block_x < 0 || block_x >= layout.blocks_across || block_y < 0 || block_y >= layout.blocks_down) {
    throw std::out_of_range("GeoTiffReader::DecodeBlock: no such block");
  }
  if (layout.rows_in_order) {
    state.ReadScanlines(block_y * layout.block_height, layout.HeightOf(block_y), out);
    return;
  }
  const std::int64_t width = layout.WidthOf(block_x);
  const std::int64_t height = layout.HeightOf(block_y);
  const auto strile = static_cast<std::uint32_t>(block_y * layout.blocks_across + block_x);
  if (state.FillEmpty(strile, out, width * height)) return;
  const auto sample_bytes = static_cast<std::int64_t>(state.sample_bytes);
  // Whole blocks of singles in host order are decoded straight into out.
  if (state.info.sample == GeoTiffSample::kReal32 && width == layout.block_width &&
      (!layout.tiled || height == layout.block_height)) {
    state.ReadStrile(strile, out, width * height * sample_bytes);
    return;
  }
  unsigned char* samples = state.Scratch();
  state.scratch_strip = -1;
  state.ReadStrile(strile, samples, layout.block_width * (layout.tiled ? layout.block_height : height) * sample_bytes);
  for (std::int64_t row = 0; row < height; ++row) {
    ConvertSamples(state.info.sample, samples + row * layout.block_width * sample_bytes, width, out + row * width);
  }
}

void GeoTiffReader::DecodeRows(std::int64_t first_row, std::int64_t count, float* out) {
  State& state = *state_;
  const GeoTiffLayout& layout = state.info.layout;
  if (layout.tiled) throw std::logic_error("GeoTiffReader::DecodeRows: the grid is tiled");
  if (first_row < 0 || count < 0 || first_row + count > layout.nrows) {
    throw std::out_of_range("GeoTiffReader::DecodeRows: rows outside the grid");
  }
  if (layout.rows_in_order) {
    state.ReadScanlines(first_row, count, out);
    return;
  }
  const auto sample_bytes = static_cast<std::int64_t>(state.sample_bytes);
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t row = first_row + i;
    const std::int64_t strip = row / state.rows_per_strip;
    float* cells = out + i * layout.ncols;
    if (state.FillEmpty(static_cast<std::uint32_t>(strip), cells, layout.ncols)) continue;
    state.DecodeStripToScratch(strip);
    const std::int64_t at = (row - strip * state.rows_per_strip) * layout.ncols * sample_bytes;
    ConvertSamples(state.info.sample, state.Scratch() + at, layout.ncols, cells);
  }
}

}  // namespace kavrimo
