// The two passes over real files with one and several threads: the same range, bytes and progress as
// a plain one-cell-at-a-time pass, and the first error in cell order. The grid stream and the chunk
// runner beneath them are tested on their own.
#include "app/conversion/passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "runtime/errors.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using testing_support::MessageOf;
using testing_support::NewImagePixels;
using testing_support::TempDir;

constexpr float kNaN = NAN;

GridHeader Header(int ncols, int nrows, bool big_endian = false) {
  return {.ncols = ncols, .nrows = nrows, .NODATA_value = -9999, .big_endian = big_endian};
}

// A smooth field with noise and one cell in ten no-data.
std::vector<float> Field(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> noise(0, 3);
  std::bernoulli_distribution missing(0.1);
  std::vector<float> cells(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    cells[static_cast<std::size_t>(i)] =
        missing(random) ? -9999.0f : 800 * std::sin(static_cast<float>(i) / 900.0f) - 120 + noise(random);
  }
  return cells;
}

// Writes the cells (as many as given) as the grid of header in dir and opens its data file to read.
BinaryFile WriteAndOpen(const TempDir& dir, const GridHeader& header, const std::vector<float>& cells) {
  testing_support::WriteGrid(dir.File("grid"), header.ncols, header.nrows, cells, "", header.big_endian);
  return BinaryFile::OpenExisting(dir.File("grid.flt"), OpenMode::ReadOnly);
}

// Threads, cells per read, cells per chunk, mapping.
// clang-format off
const PassOptions kSplits[] = {
    {1, kPassBlockCells, kPassChunkCells, true}, {1, kPassBlockCells, kPassChunkCells, false},
    {2, kPassBlockCells, kPassChunkCells, true}, {1, 7, 7, true}, {2, 5, 15, false}, {3, 16, 48, true},
    {4, 1, 3, false}, {8, 64, 64, true}};
// clang-format on

std::string Name(const PassOptions& s) {
  return std::to_string(s.threads) + " threads, blocks of " + std::to_string(s.block_cells) + ", chunks of " +
         std::to_string(s.chunk_cells) + (s.map_data ? ", mapped" : ", read");
}

// Three columns show 33, 66 and 100 in each pass; 37 columns show no position twice. Over a fixed range
// narrower than the field, pass 2 gives the clamped bytes and counts each cell outside it once.
TEST(Passes, EverySplitGivesTheRangeBytesAndProgressOfAPlainPass) {
  for (const GridHeader& header : {Header(37, 29), Header(37, 29, true), Header(3, 400)}) {
    SCOPED_TRACE(std::to_string(header.ncols) + (header.big_endian ? " columns, big-endian" : " columns"));
    TempDir dir;
    const std::vector<float> cells = Field(header.ncols * header.nrows, 5);
    const BinaryFile data = WriteAndOpen(dir, header, cells);
    // The plain pass: the range, the bytes after a 512-byte header, and the progress (i * 100) div ncols
    // for i = 1 to ncols in each of the two passes.
    CellRange plain;
    for (const float v : cells) {
      if (v != -9999.0f) plain = {std::max(plain.maximum, v), std::min(plain.minimum, v)};
    }
    const CellScale scale = ScaleFor(plain);
    std::vector<std::uint8_t> bytes(512, 0);
    for (const float v : cells) bytes.push_back(CodeCellReference(v, -9999, scale));
    const FixedScale fixed{ScaleFor({500, -100}), {500, -100}};
    std::vector<std::uint8_t> clamped(512, 0);
    OutsideCounts outside;
    for (const float v : cells) {
      clamped.push_back(CodeCellClampedReference(v, -9999, fixed));
      if (v == -9999.0f) continue;
      outside.below += v < -100;
      outside.above += v > 500;
    }
    ASSERT_GT(outside.below * outside.above, 0);
    std::vector<int> plain_progress;
    for (int i = 0; i < 2 * header.ncols; ++i) plain_progress.push_back((i % header.ncols + 1) * 100 / header.ncols);
    if (header.ncols == 3) {
      ASSERT_EQ(plain_progress, (std::vector<int>{33, 66, 100, 33, 66, 100}));
    }
    for (const PassOptions& split : kSplits) {
      SCOPED_TRACE(Name(split));
      std::vector<int> progress;
      const auto record = [&](int p) { progress.push_back(p); };
      const CellRange range = ScanRange(data, header, record, split);
      EXPECT_EQ(std::pair(range.maximum, range.minimum), std::pair(plain.maximum, plain.minimum));
      ImagePixels out = NewImagePixels(dir.File("out.img"));
      CodeGrid(data, header, scale, out, record, split);
      EXPECT_EQ(testing_support::ReadBytes(dir.File("out.img")), bytes);
      EXPECT_EQ(progress, plain_progress);
      const OutsideCounts counts = CodeGrid(
          data, header, fixed, out, [](int) {}, split);
      out.Close();
      EXPECT_EQ(testing_support::ReadBytes(dir.File("out.img")), clamped);
      EXPECT_EQ(std::pair(counts.below, counts.above), std::pair(outside.below, outside.above));
    }
  }
}

// A short file and a NaN cell: whichever the one-thread order meets first is raised, with any split. A
// NaN in the bytes past the grid's last cell is not read at all.
TEST(Passes, RaiseTheFirstErrorInCellOrder) {
  const std::string beyond = "Read beyond end of file", invalid = "Invalid floating point operation";
  // clang-format off
  const struct { const char* name; int nan_at; int file_cells; std::string message; } cases[] = {
      {"short file", -1, 997, beyond}, {"empty file", -1, 0, beyond}, {"NaN cell", 500, 1000, invalid},
      {"NaN before a short end", 3, 990, invalid}, {"NaN just before a short end", 989, 990, invalid},
      {"NaN in the last cell", 999, 1000, invalid}, {"NaN past the grid", -1, 1040, "no error"}};
  // clang-format on
  const GridHeader header = Header(40, 25);
  for (const auto& c : cases) {
    TempDir dir;
    std::vector<float> cells = Field(1000, 9);
    if (c.nan_at >= 0) cells[static_cast<std::size_t>(c.nan_at)] = kNaN;
    cells.resize(static_cast<std::size_t>(c.file_cells), kNaN);
    const BinaryFile data = WriteAndOpen(dir, header, cells);
    for (const PassOptions& split : kSplits) {
      SCOPED_TRACE(c.name + (", " + Name(split)));
      // clang-format off
      EXPECT_EQ(MessageOf([&] { ScanRange(data, header, [](int) {}, split); }), c.message);
      ImagePixels out = NewImagePixels(dir.File("out.img"));
      EXPECT_EQ(MessageOf([&] { CodeGrid(data, header, ScaleFor({900, -900}), out, [](int) {}, split); }), c.message);
      // clang-format on
    }
  }
}

}  // namespace
}  // namespace kavrimo
