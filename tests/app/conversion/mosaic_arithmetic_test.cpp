// The arithmetic of a mosaic: grids placed on the first grid's lattice or refused, the factor of coarser
// cells, the cells a box overlaps, the extent and the image's corner; the means of coarse cells.
#include "app/conversion/mosaic_lattice.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "app/conversion/mosaic_coarsening.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/support/files.h"

namespace kavrimo {
namespace {

using testing_support::MessageOf;

// A grid of ncols x nrows cells of size, its lower-left corner at (xll, yll).
GridHeader Grid(std::int32_t ncols, std::int32_t nrows, float xll, float yll, float size) {
  GridHeader h;
  h.ncols = ncols;
  h.nrows = nrows;
  h.xllcorner = xll;
  h.yllcorner = yll;
  h.cellsize = size;
  return h;
}

// The lattice of a one-degree tile of 3600 cells of one arc-second, 12 E 35 N.
const float kArcSecond = 1.0f / 3600;
const MosaicLattice kTile("n35e012.tif", Grid(3600, 3600, 12, 35, kArcSecond));

TEST(MosaicLatticeTest, GridsArePlacedOnTheLatticeOrRefused) {
  const struct {
    const char* name;
    GridHeader grid;
    LatticeRect place;
    std::string refusal;
  } cases[] = {
      {"itself", Grid(3600, 3600, 12, 35, kArcSecond), {0, 0, 3600, 3600}, ""},
      {"the tile to the north", Grid(3600, 3600, 12, 36, kArcSecond), {0, -3600, 3600, 3600}, ""},
      {"south-west, 3601 cells", Grid(3601, 3601, 11, 34, kArcSecond), {-3600, 3599, 3601, 3601}, ""},
      {"a fifth of a cell off: the nearest cell",
       Grid(10, 10, 12 + 0.2f * kArcSecond, 35, kArcSecond),
       {0, 3590, 10, 10},
       ""},
      {"half a cell off",
       Grid(3600, 3600, 12 + 0.5f * kArcSecond, 36, kArcSecond),
       {},
       "n36e012.tif is not on the lattice of n35e012.tif: its left edge is 0.5 cells off"},
      {"a third of a cell high",
       Grid(3600, 3600, 12, 36 + kArcSecond / 3, kArcSecond),
       {},
       "n36e012.tif is not on the lattice of n35e012.tif: its top edge is 0.33 cells off"},
      {"cells three times as large",
       Grid(1200, 1200, 12, 36, 3 * kArcSecond),
       {},
       "n36e012.tif has cells of 0.000833 where n35e012.tif has 0.000278"},
      {"a size that differs in the seventh digit",
       Grid(3600, 3600, 12, 36, kArcSecond * 1.00001f),
       {},
       "n36e012.tif has cells of 0.000277781 where n35e012.tif has 0.000277778"},
      {"within a relative 1e-6", Grid(3600, 3600, 12, 36, kArcSecond * (1 + 5e-7f)), {0, -3600, 3600, 3600}, ""},
      {"no cells", Grid(0, 5, 12, 36, kArcSecond), {}, "n36e012.tif has no cells (0 x 5)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LatticeRect place;
    EXPECT_EQ(MessageOf([&] { place = kTile.Place("n36e012.tif", c.grid); }),
              c.refusal.empty() ? "no error" : c.refusal);
    if (c.refusal.empty()) {
      EXPECT_EQ(place, c.place);
    }
  }
}

TEST(MosaicLatticeTest, CoarserCellsAreWholeMultiples) {
  const struct {
    double size;
    std::int64_t k;  // 0: refused
  } cases[] = {{kArcSecond, 1}, {4.0 / 3600, 4}, {4.0 / 3600 * (1 + 5e-7), 4},
               {3.5 / 3600, 0}, {0.4 / 3600, 0}, {4.0 / 3600 * (1 + 3e-6), 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    if (c.k != 0) {
      EXPECT_EQ(kTile.CoarseningOf(c.size, "S"), c.k);
    } else {
      EXPECT_EQ(MessageOf([&] { kTile.CoarseningOf(c.size, "S"); }),
                "--cell-size S is not a whole multiple of 0.000277778, the cell size of n35e012.tif");
    }
  }
}

// Boxes on, near (within a thousandth of a cell) and between the lines of a lattice of cells of 0.5
// whose first grid's upper-left corner is (10, 50); and of coarse cells of 2.
TEST(MosaicLatticeTest, ABoxTakesTheCellsItOverlaps) {
  const MosaicLattice lattice("a", Grid(4, 4, 10, 48, 0.5f));
  const struct {
    const char* name;
    std::array<double, 4> box;  // west, south, east, north
    std::int64_t k;
    std::optional<LatticeRect> cells;
  } cases[] = {
      {"on lines", {11, 47, 12, 49}, 1, LatticeRect{2, 2, 2, 4}},
      {"between lines", {11.2, 47.1, 12.1, 48.9}, 1, LatticeRect{2, 2, 3, 4}},
      {"near lines, inside", {11.0004, 47.0004, 11.9996, 48.9996}, 1, LatticeRect{2, 2, 2, 4}},
      {"near lines, outside", {10.9996, 46.9996, 12.0004, 49.0004}, 1, LatticeRect{2, 2, 2, 4}},
      {"left of and above the first grid", {8, 50, 9, 51}, 1, LatticeRect{-4, -2, 2, 2}},
      {"coarse cells", {11, 47, 12.5, 49}, 4, LatticeRect{0, 0, 2, 2}},
      {"thinner than a thousandth of a cell", {11.0001, 47, 11.0002, 49}, 1, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lattice.CellsOf({c.box[0], c.box[1], c.box[2], c.box[3], ""}, c.k, 0.5 * static_cast<double>(c.k)),
              c.cells);
  }
}

TEST(MosaicLatticeTest, ExtentSizeAndCorner) {
  // Grids left of and above the first: the coarse cells anchored at the first grid's corner cover them.
  EXPECT_EQ(CoveringCells({{0, 0, 4, 4}, {-3, 5, 2, 2}, {4, -1, 3, 1}}, 1), (LatticeRect{-3, -1, 10, 8}));
  EXPECT_EQ(CoveringCells({{0, 0, 4, 4}, {-3, 5, 2, 2}, {4, -1, 3, 1}}, 4), (LatticeRect{-1, -1, 3, 3}));
  const MosaicLattice lattice("a", Grid(4, 4, 10, 48, 0.5f));
  const GridHeader header = lattice.HeaderOf({-1, -1, 3, 3}, 4, 2);
  EXPECT_EQ(header.ncols, 3);
  EXPECT_EQ(header.xllcorner, 8);
  EXPECT_EQ(header.yllcorner, 46);  // top 50 + 2, three cells of 2 down
  EXPECT_EQ(header.cellsize, 2);
  EXPECT_EQ(MessageOf([] {
              CheckMosaicSize({0, 0, 86400, 43200});
            }),
            "The mosaic would be 86400 x 43200 cells; an image holds at most 32767 x 32767: use --bounds or "
            "--cell-size");
  EXPECT_EQ(MessageOf([] { CheckMosaicSize({0, 0, 32767, 32767}); }), "no error");
}

// Coarse means on both paths, against the sums written out: blocks of k from 1 to 9, some with no valid
// cell, and a width that leaves blocks beyond the last four; the same cells summed as they are read, in
// runs that end anywhere, missing as NaN or as a no-data value; a NaN that is not missing is told; and
// means of counts too large for the vectors' conversion.
TEST(MosaicCoarseningTest, BothPathsGiveTheMeansInRowOrder) {
  std::mt19937 random(5);
  const float missing = std::numeric_limits<float>::quiet_NaN();
  const std::int64_t huge = (std::int64_t{1} << 52) + 1;
  const double huge_sums[] = {3.0e16, 1, 2, 3};
  const std::int64_t huge_counts[] = {huge, 1, 2, 3};
  float huge_means[4];
  CoarseMeans(huge_sums, huge_counts, 4, huge_means);
  EXPECT_EQ(huge_means[0], static_cast<float>(3.0e16 / static_cast<double>(huge)));
  for (std::int64_t k = 1; k <= 9; ++k) {
    const std::int64_t cols = 7, stride = cols * k + 3;
    std::vector<float> fine(static_cast<std::size_t>(stride * k));
    for (float& v : fine) {
      v = random() % 3 == 0 ? missing : std::uniform_real_distribution<float>(-1e6f, 1e6f)(random);
    }
    for (std::int64_t r = 0; r < k; ++r) {  // block 2 holds no valid cell
      for (std::int64_t i = 0; i < k; ++i) fine[static_cast<std::size_t>(r * stride + 2 * k + i)] = missing;
    }
    std::vector<float> expected;
    for (std::int64_t c = 0; c < cols; ++c) {
      double sum = 0;
      int count = 0;
      for (std::int64_t r = 0; r < k; ++r) {
        for (std::int64_t i = 0; i < k; ++i) {
          const float v = fine[static_cast<std::size_t>(r * stride + c * k + i)];
          if (std::isnan(v)) continue;
          sum += v;
          ++count;
        }
      }
      expected.push_back(count == 0 ? missing : static_cast<float>(sum / count));
    }
    for (const CellPath path : {CellPath::Best, CellPath::Portable}) {
      std::vector<float> coarse(static_cast<std::size_t>(cols));
      CoarsenRows(fine.data(), stride, k, cols, coarse.data(), path);
      for (std::size_t c = 0; c < coarse.size(); ++c) {
        EXPECT_TRUE(coarse[c] == expected[c] || (std::isnan(coarse[c]) && std::isnan(expected[c])))
            << "k " << k << ", block " << c;
      }
      for (const bool nan_missing : {true, false}) {
        const CellNoData nodata = nan_missing ? CellNoData::NotANumber() : CellNoData(-9999);
        std::vector<double> sums(static_cast<std::size_t>(cols));
        std::vector<std::int64_t> counts(static_cast<std::size_t>(cols));
        for (std::int64_t r = 0; r < k; ++r) {
          std::vector<float> row(fine.begin() + r * stride, fine.begin() + r * stride + cols * k);
          if (!nan_missing)
            std::replace_if(
                row.begin(), row.end(), [](float v) { return v != v; }, -9999.0f);
          for (std::int64_t at = 0, piece = 3 + r % 4 * k; at < cols * k; at += piece) {
            const std::int64_t n = std::min(piece, cols * k - at);
            EXPECT_FALSE(AccumulateCoarse(row.data() + at, n, at, k, nodata, sums.data(), counts.data(), path));
          }
          const float nan = missing;  // one NaN more: missing, or told where a value marks the missing cells
          EXPECT_EQ(AccumulateCoarse(&nan, 1, cols * k - 1, k, nodata, sums.data(), counts.data(), path), !nan_missing);
        }
        CoarseMeans(sums.data(), counts.data(), cols, coarse.data(), path);
        for (std::size_t c = 0; c < coarse.size(); ++c) {
          EXPECT_TRUE(coarse[c] == expected[c] || (std::isnan(coarse[c]) && std::isnan(expected[c])))
              << "k " << k << ", block " << c << (nan_missing ? ", NaN missing" : ", no-data value");
        }
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo
