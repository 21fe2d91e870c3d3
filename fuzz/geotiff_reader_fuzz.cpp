// Fuzz target: the GeoTIFF reader over bytes in memory, through libtiff's client procedures, its blocks
// decoded as a conversion's passes decode them. Input: the file's bytes.
//
// Checks: opening either gives a grid of 1 to 32767 columns and rows with positive spacings and a
// layout whose blocks cover it exactly, or raises one of the system's errors (never anything else).
// For a grid of at most 2^18 cells, every block decodes or raises one of the system's errors; when all
// decode, the first block decoded again after the others gives the same cells (a run of rows read
// above the last one starts its strip again), and a grid readable in place holds every block inside the file
// with exactly the decoded cells at its offset.
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "app/grid/geotiff_grid.h"
#include "fuzz/fuzz_support.h"
#include "runtime/errors.h"

namespace {

using namespace kavrimo;

constexpr std::int64_t kMaxCells = std::int64_t{1} << 18;

void CheckLayout(const GeoTiffInfo& info, std::size_t size) {
  const GridHeader& header = info.header;
  const GeoTiffLayout& layout = info.layout;
  fuzz::Check(header.ncols >= 1 && header.ncols <= 32767 && header.nrows >= 1 && header.nrows <= 32767,
              "a grid of a size that cannot be converted");
  fuzz::Check(header.cellsize >= 0 && header.RowSpacing() >= 0, "a negative spacing");
  fuzz::Check(layout.ncols == header.ncols && layout.nrows == header.nrows, "a layout of another size");
  fuzz::Check(layout.block_width >= 1 && layout.block_height >= 1, "a block without cells");
  fuzz::Check((layout.blocks_across - 1) * layout.block_width < layout.ncols &&
                  layout.blocks_across * layout.block_width >= layout.ncols &&
                  (layout.blocks_down - 1) * layout.block_height < layout.nrows &&
                  layout.blocks_down * layout.block_height >= layout.nrows,
              "blocks that do not cover the grid exactly");
  fuzz::Check(layout.tiled || (layout.blocks_across == 1 && layout.block_width == layout.ncols),
              "strips narrower than the grid");
  fuzz::Check(layout.tiled || layout.rows_in_order || layout.block_width * layout.block_height <= kGeoTiffMaxBlockCells,
              "a strip too large to decode whole");
  fuzz::Check(!layout.in_place || layout.block_offsets.size() == static_cast<std::size_t>(layout.Blocks()),
              "in place without an offset for every block");
  for (std::int64_t b = 0; layout.in_place && b < layout.Blocks(); ++b) {
    const std::int64_t last_row = layout.HeightOf(b / layout.blocks_across) - 1;
    const std::uint64_t end =
        layout.block_offsets[static_cast<std::size_t>(b)] +
        4 * static_cast<std::uint64_t>(last_row * layout.block_width + layout.WidthOf(b % layout.blocks_across));
    fuzz::Check(end <= size, "a block read in place reaches past the end of the file");
  }
}

// Every cell, block by block; false when a block raised one of the system's errors.
bool DecodeAll(GeoTiffReader& reader, std::vector<float>& grid) {
  const GeoTiffLayout& layout = reader.Info().layout;
  grid.assign(static_cast<std::size_t>(layout.ncols * layout.nrows), 0);
  std::vector<float> block;
  bool all = true;
  for (std::int64_t y = 0; y < layout.blocks_down; ++y) {
    for (std::int64_t x = 0; x < layout.blocks_across; ++x) {
      const std::int64_t width = layout.WidthOf(x);
      const std::int64_t height = layout.HeightOf(y);
      try {
        const float* cells = reader.DecodeBlock(x, y);
        block.assign(cells, cells + width * height);
      } catch (const Error&) {
        all = false;
        continue;
      }
      for (std::int64_t r = 0; r < height; ++r) {
        std::memcpy(grid.data() + (y * layout.block_height + r) * layout.ncols + x * layout.block_width,
                    block.data() + r * width, static_cast<std::size_t>(width) * sizeof(float));
      }
    }
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    GeoTiffReader reader(std::span<const std::uint8_t>(data, size), "fuzz.tif");
    const GeoTiffInfo& info = reader.Info();
    CheckLayout(info, size);
    const GeoTiffLayout& layout = info.layout;
    if (layout.ncols * layout.nrows > kMaxCells) return 0;
    std::vector<float> grid;
    if (!DecodeAll(reader, grid)) return 0;
    // A strip read row by row is started again to reach rows above the last decoded: its first block,
    // decoded again after all the others, must give the same cells.
    if (layout.rows_in_order && layout.blocks_down > 1) {
      const float* first = reader.DecodeBlock(0, 0);
      for (std::int64_t r = 0; r < layout.HeightOf(0); ++r) {
        const float* decoded = grid.data() + r * layout.ncols;
        fuzz::Check(std::memcmp(first + r * layout.WidthOf(0), decoded,
                                static_cast<std::size_t>(layout.WidthOf(0)) * sizeof(float)) == 0,
                    "a block decoded again differs");
      }
    }
    for (std::int64_t b = 0; layout.in_place && b < layout.Blocks(); ++b) {
      const std::int64_t x = b % layout.blocks_across;
      const std::int64_t y = b / layout.blocks_across;
      for (std::int64_t r = 0; r < layout.HeightOf(y); ++r) {
        const std::uint8_t* stored =
            data + layout.block_offsets[static_cast<std::size_t>(b)] + 4 * r * layout.block_width;
        const float* decoded = grid.data() + (y * layout.block_height + r) * layout.ncols + x * layout.block_width;
        fuzz::Check(std::memcmp(stored, decoded, static_cast<std::size_t>(layout.WidthOf(x)) * sizeof(float)) == 0,
                    "cells in place differ from the decoded cells");
      }
    }
  } catch (const Error&) {
    // A refusal or a damaged file, in the system's words.
  } catch (const std::exception& e) {
    fuzz::Finding("the reader raised something else:", e.what());
  }
  return 0;
}
