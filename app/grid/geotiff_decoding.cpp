// Decoding a GeoTIFF's blocks: libtiff over our own client procedures (a file read at a tracked offset and
// mapped whole, or bytes in memory), the mapping guarded against a file that shrinks, and each block's
// samples converted to singles.
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/grid/geotiff_reader_state.h"

namespace kavrimo {
namespace {

// The mapped bytes decoded between two releases of the mapping's resident pages.
constexpr std::uint64_t kReleaseBytes = std::uint64_t{2} << 20;

// Each sample is read before its cell is written, so the cells may lie over the samples from their start
// on: a cell never reaches past the samples already read.
template <typename T>
void ConvertRow(const unsigned char* samples, std::int64_t count, float* cells) {
  for (std::int64_t i = 0; i < count; ++i) {
    T value;
    std::memcpy(&value, samples + i * static_cast<std::int64_t>(sizeof(T)), sizeof(T));
    cells[i] = static_cast<float>(value);  // exact to 16 bits; nearest single, ties to even, beyond
  }
}

// Converts count samples to singles; cells may lie over the samples, no later than they start.
void ConvertSamples(GeoTiffSample sample, const unsigned char* samples, std::int64_t count, float* cells) {
  switch (sample) {
    case GeoTiffSample::kUnsigned8: return ConvertRow<std::uint8_t>(samples, count, cells);
    case GeoTiffSample::kSigned8: return ConvertRow<std::int8_t>(samples, count, cells);
    case GeoTiffSample::kUnsigned16: return ConvertRow<std::uint16_t>(samples, count, cells);
    case GeoTiffSample::kSigned16: return ConvertRow<std::int16_t>(samples, count, cells);
    case GeoTiffSample::kUnsigned32: return ConvertRow<std::uint32_t>(samples, count, cells);
    case GeoTiffSample::kSigned32: return ConvertRow<std::int32_t>(samples, count, cells);
    case GeoTiffSample::kReal32: std::memmove(cells, samples, static_cast<std::size_t>(count) * sizeof(float)); return;
    case GeoTiffSample::kReal64: return ConvertRow<double>(samples, count, cells);
  }
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* source = static_cast<GeoTiffSourceBytes*>(handle);
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
  auto* source = static_cast<GeoTiffSourceBytes*>(handle);
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

std::size_t ReadSourceBytes(const GeoTiffSourceBytes& source, std::uint64_t offset, void* buffer, std::size_t count) {
  if (offset >= source.size || count == 0) return 0;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, source.size - offset));
  if (!source.in_memory) return source.file.ReadAt(static_cast<std::int64_t>(offset), buffer, count);
  std::memcpy(buffer, source.memory.data() + offset, count);
  return count;
}

void GeoTiffReader::State::FailFromLibrary() const {
  if (source.read_failure) std::rethrow_exception(source.read_failure);
  Fail("is damaged: " + (messages.first_error.empty() ? std::string("libtiff cannot read it") : messages.first_error));
}

void GeoTiffReader::State::Open() {
  tiff::Initialize();
  CheckDirectoryInside();

  // libtiff decodes straight from a mapping, but copies a whole block out of it to reverse its bits, and
  // a whole strip when it reads its rows one after another. Read instead, it reads the bytes a block
  // needs, and a strip's rows a piece at a time: memory bounded by the block in either fill order.
  const bool mapped = !bits_reversed;
  if (mapped && !source.in_memory && BusErrorGuardAvailable()) {
    source.window.emplace(source.file, 0, static_cast<std::size_t>(source.size));
    if (!source.window->Ok()) source.window.reset();
  }
  const tiff::Options options = tiff::OptionsFor(messages);
  Guarded([&] {
    tif = TIFFClientOpenExt(name.c_str(), mapped ? "r" : "rm", &source, ReadProc, WriteProc,
                            tiff::SeekStream<GeoTiffSourceBytes>, tiff::CloseNothing,
                            tiff::StreamSize<GeoTiffSourceBytes>, MapProc, tiff::UnmapNothing, options.get());
  });
  if (tif == nullptr) FailFromLibrary();
  // Errors about tags libtiff dropped while it read the directory do not make the grid unreadable; what
  // the grid needs is checked below.
  if (source.read_failure) FailFromLibrary();
  messages.first_error.clear();
  Guarded([&] { ReadInfo(); });
}

// Counts a block's stored bytes as decoded, giving the mapping's pages back now and then.
void GeoTiffReader::State::Decoded(std::uint64_t bytes) {
  decoded_bytes += bytes;
  if (decoded_bytes >= kReleaseBytes && source.window) {
    source.window->Release();
    decoded_bytes = 0;
  }
}

float* GeoTiffReader::State::Block() {
  if (!block) block.emplace(static_cast<std::size_t>(info.BlockBufferBytes() + 7) / 8);
  return reinterpret_cast<float*>(block->data());
}

unsigned char* GeoTiffReader::State::Row() {
  if (!row_samples) row_samples.emplace((static_cast<std::size_t>(info.layout.ncols) * sample_bytes + 7) / 8);
  return reinterpret_cast<unsigned char*>(row_samples->data());
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
      read(skipped, Row());
    }
    void* buffer = direct ? static_cast<void*>(cells) : Row();
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

void GeoTiffReader::FreeBuffers() {
  state_->block.reset();
  state_->row_samples.reset();
}

const float* GeoTiffReader::DecodeBlock(std::int64_t block_x, std::int64_t block_y) {
  State& state = *state_;
  const GeoTiffLayout& layout = state.info.layout;
  if (block_x < 0 || block_x >= layout.blocks_across || block_y < 0 || block_y >= layout.blocks_down) {
    throw std::out_of_range("GeoTiffReader::DecodeBlock: no such block");
  }
  float* const cells = state.Block();
  if (layout.rows_in_order) {
    state.ReadScanlines(block_y * layout.block_height, layout.HeightOf(block_y), cells);
    return cells;
  }
  const std::int64_t width = layout.WidthOf(block_x);
  const std::int64_t height = layout.HeightOf(block_y);
  const auto strile = static_cast<std::uint32_t>(block_y * layout.blocks_across + block_x);
  if (state.FillEmpty(strile, cells, width * height)) return cells;
  // The samples go at the end of the buffer and become singles from its start, front to back.
  const auto sample_bytes = static_cast<std::int64_t>(state.sample_bytes);
  unsigned char* const samples = reinterpret_cast<unsigned char*>(cells) + state.info.BlockBufferBytes() -
                                 layout.block_width * layout.block_height * sample_bytes;
  state.ReadStrile(strile, samples, layout.block_width * (layout.tiled ? layout.block_height : height) * sample_bytes);
  if (state.info.sample == GeoTiffSample::kReal32 && width == layout.block_width) return cells;
  for (std::int64_t r = 0; r < height; ++r) {
    ConvertSamples(state.info.sample, samples + r * layout.block_width * sample_bytes, width, cells + r * width);
  }
  return cells;
}

}  // namespace kavrimo
