// Mosaics end to end: tiles of the three formats against the image of their merged float twin, made
// here cell by cell (the first valid cell in order, coarse cells as means); tables of overlaps, gaps,
// boxes and coarse blocks, then random tile sets; the refusals; what a mosaic does not read; and an
// interrupted mosaic.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>

#include "app/conversion/conversion.h"
#include "runtime/errors.h"
#include "tests/support/geotiff_files.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// Cells of 0.5 on a lattice whose line 0 lies at 10 E and 50 N.
constexpr double kCell = 0.5;

// A tile at (col, row) of the lattice; format: 'f' float grid, 'a' ASCII grid, 't' GeoTIFF read in place,
// 'z' GeoTIFF compressed (Deflate) in tiles of 16; its no-data value marks its missing cells.
struct Tile {
  int col, row, ncols, nrows;
  char format;
  int nodata;
  std::vector<float> cells;
};

// Cells for a tile: values from seed, a share of them missing.
std::vector<float> Cells(int count, int nodata, unsigned seed, double missing = 0.2) {
  std::mt19937 random(seed);
  std::vector<float> cells;
  for (int i = 0; i < count; ++i) {
    cells.push_back(std::uniform_real_distribution<>(0, 1)(random) < missing
                        ? static_cast<float>(nodata)
                        : static_cast<float>(std::uniform_real_distribution<>(-100, 1000)(random)));
  }
  return cells;
}

std::string WriteTile(const TempDir& dir, int index, const Tile& t) {
  const double xll = 10 + t.col * kCell, yll = 50 - (t.row + t.nrows) * kCell;
  const std::string base = dir.File("t" + std::to_string(index));
  if (t.format == 'f') {
    const bool big_endian = index % 2 == 1;
    WriteGrid(base, t.ncols, t.nrows, t.cells,
              "NODATA_value " + std::to_string(t.nodata) + (big_endian ? "\nbyteorder MSBFIRST\n" : "\n"), big_endian,
              static_cast<float>(xll), static_cast<float>(yll), static_cast<float>(kCell));
    return base;
  }
  if (t.format == 'a') {
    char header[256];
    std::snprintf(header, sizeof header,
                  "ncols %d\nnrows %d\nxllcorner %.9g\nyllcorner %.9g\ncellsize 0.5\n"
                  "NODATA_value %d\n",
                  t.ncols, t.nrows, xll, yll, t.nodata);
    std::string text = header;
    for (std::size_t i = 0; i < t.cells.size(); ++i) {
      char number[32];
      std::snprintf(number, sizeof number, "%.9g%c", static_cast<double>(t.cells[i]),
                    i % static_cast<std::size_t>(t.ncols) + 1 == static_cast<std::size_t>(t.ncols) ? '\n' : ' ');
      text += number;
    }
    WriteText(base + ".asc", text);
    return base + ".asc";
  }
  TiffImage image;
  image.ncols = t.ncols;
  image.nrows = t.nrows;
  image.pixel_scale = {kCell, kCell, 0};
  image.tiepoints = {0, 0, 0, xll, 50 - t.row * kCell, 0};
  image.nodata = std::to_string(t.nodata);
  if (t.format == 'z') {
    image.compression = 8;
    image.tile = 16;
  }
  WriteTiff(base + ".tif", image, std::vector<double>(t.cells.begin(), t.cells.end()));
  return base + ".tif";
}

// The extent of a mosaic in coarse cells of k: [col, col_end) x [row, row_end).
struct Extent {
  int col, row, col_end, row_end;
};

int FloorDiv(int a, int k) { return a >= 0 ? a / k : -((-a + k - 1) / k); }

// The merged twin's image: the first valid cell of the tiles in order, coarsened, written as a float grid
// and converted.
std::vector<std::uint8_t> TwinImage(const TempDir& dir, const std::vector<Tile>& tiles, Extent e, int k,
                                    std::optional<CellRange> fixed) {
  const int cols = e.col_end - e.col, rows = e.row_end - e.row;
  std::vector<float> twin;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      double sum = 0;
      int count = 0;
      for (int fr = (e.row + r) * k; fr < (e.row + r + 1) * k; ++fr) {
        for (int fc = (e.col + c) * k; fc < (e.col + c + 1) * k; ++fc) {
          for (const Tile& t : tiles) {
            if (fr < t.row || fr >= t.row + t.nrows || fc < t.col || fc >= t.col + t.ncols) continue;
            const float v = t.cells[static_cast<std::size_t>((fr - t.row) * t.ncols + fc - t.col)];
            if (v == static_cast<float>(t.nodata)) continue;
            sum += v;
            ++count;
            break;
          }
        }
      }
      twin.push_back(count == 0 ? -9999.0f : static_cast<float>(sum / count));
    }
  }
  const double size = kCell * k;
  WriteGrid(dir.File("twin"), cols, rows, twin, "NODATA_value -9999\n", false, static_cast<float>(10 + e.col * size),
            static_cast<float>(50 - e.row_end * size), static_cast<float>(size));
  RecordingHost host;
  ConversionRequest request{dir.File("twin"), dir.File("twin.IMG"), TemplatePath()};
  request.fixed_range = fixed;
  EXPECT_EQ(ConvertMessage(request, host), "");
  return ReadBytes(dir.File("twin.IMG"));
}

struct Mosaic {
  std::string message;  // "" on success
  std::vector<std::uint8_t> image;
  std::vector<std::string> statuses;
};

Mosaic MakeMosaic(const TempDir& dir, const std::vector<std::string>& inputs, std::optional<MosaicBounds> bounds, int k,
                  int threads, std::optional<CellRange> fixed) {
  ConversionRequest request{inputs.front(), dir.File("mosaic.IMG"), TemplatePath(), threads};
  request.fixed_range = fixed;
  request.mosaic.emplace();
  request.mosaic->inputs = inputs;
  request.mosaic->bounds = bounds;
  if (k != 1) request.mosaic->cell_size = kCell * k;
  request.mosaic->cell_size_text = "S";
  RecordingHost host;
  Mosaic m;
  m.message = ConvertMessage(request, host);
  if (m.message.empty()) m.image = ReadBytes(dir.File("mosaic.IMG"));
  m.statuses = host.statuses;
  return m;
}

// The box of cells [x0, x1) x [y0, y1) of coarse cells of k, each edge moved by its share of a cell.
MosaicBounds Box(Extent e, int k, double west, double south, double east, double north) {
  const double size = kCell * k;
  return {10 + (e.col + west) * size, 50 - (e.row_end + south) * size, 10 + (e.col_end + east) * size,
          50 - (e.row + north) * size, "box"};
}

struct Case {
  const char* name;
  std::vector<Tile> tiles = {};
  int k = 1;
  std::optional<Extent> box = std::nullopt;  // the cells --bounds should select
  double nudge = 0;                          // how far each box edge lies outside the box's cells, in cells
};

// fixed: the range both images are scaled over, or none for their own.
void Check(const Case& c, int threads, std::optional<CellRange> fixed = std::nullopt) {
  SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
  TempDir dir;
  std::vector<std::string> inputs;
  for (std::size_t i = 0; i < c.tiles.size(); ++i) inputs.push_back(WriteTile(dir, static_cast<int>(i), c.tiles[i]));
  Extent e{};
  std::optional<MosaicBounds> bounds;
  if (c.box) {
    e = *c.box;
    bounds = Box(e, c.k, -c.nudge, c.nudge, c.nudge, -c.nudge);
  } else {
    e = {c.tiles[0].col, c.tiles[0].row, c.tiles[0].col + c.tiles[0].ncols, c.tiles[0].row + c.tiles[0].nrows};
    for (const Tile& t : c.tiles) {
      e = {std::min(e.col, t.col), std::min(e.row, t.row), std::max(e.col_end, t.col + t.ncols),
           std::max(e.row_end, t.row + t.nrows)};
    }
    e = {FloorDiv(e.col - c.tiles[0].col, c.k) * c.k + c.tiles[0].col,
         FloorDiv(e.row - c.tiles[0].row, c.k) * c.k + c.tiles[0].row, e.col_end, e.row_end};
    e.col_end = e.col + (e.col_end - e.col + c.k - 1) / c.k * c.k;
    e.row_end = e.row + (e.row_end - e.row + c.k - 1) / c.k * c.k;
    e = {e.col / c.k, e.row / c.k, e.col_end / c.k, e.row_end / c.k};  // tiles[0] lies at a multiple of k
  }
  const Mosaic m = MakeMosaic(dir, inputs, bounds, c.k, threads, fixed);
  ASSERT_EQ(m.message, "");
  const std::vector<std::uint8_t> twin = TwinImage(dir, c.tiles, e, c.k, fixed);
  std::string tiles;
  for (const Tile& t : c.tiles) {
    tiles += std::string(1, t.format) + " " + std::to_string(t.col) + "," + std::to_string(t.row) + " " +
             std::to_string(t.ncols) + "x" + std::to_string(t.nrows) + "; ";
  }
  const auto differ = std::mismatch(m.image.begin(), m.image.end(), twin.begin(), twin.end());
  EXPECT_TRUE(differ.first == m.image.end() && differ.second == twin.end())
      << "k " << c.k << ", tiles " << tiles << (c.box ? "a box" : "") << ", byte " << differ.first - m.image.begin()
      << " of " << m.image.size() << " and " << twin.size();
}

Tile T(int col, int row, int ncols, int nrows, char format, int nodata = -9999, double missing = 0.2) {
  static unsigned seed = 1;
  return {col, row, ncols, nrows, format, nodata, Cells(ncols * nrows, nodata, ++seed, missing)};
}

TEST(MosaicTest, TilesGiveTheImageOfTheirMergedTwin) {
  const Tile a = T(0, 0, 20, 18, 'f'), b = T(12, 6, 21, 17, 'a', -32768), holes = T(5, 5, 20, 20, 'z', 7, 0.5);
  const Case cases[] = {
      {.name = "one tile of each format side by side",
       .tiles = {T(0, 0, 20, 18, 'f'), T(20, 0, 20, 18, 'a', 0), T(0, 18, 20, 18, 't'), T(20, 18, 20, 18, 'z', -1)}},
      {.name = "overlaps, in one order", .tiles = {a, b, holes}},
      {.name = "and in the other", .tiles = {holes, b, a}},
      {.name = "gaps between tiles", .tiles = {T(0, 0, 5, 5, 'f'), T(9, 7, 5, 3, 't'), T(-4, 12, 3, 3, 'z')}},
      {.name = "a box on lattice lines", .tiles = {a, b}, .box = Extent{3, 4, 25, 20}},
      {.name = "near them", .tiles = {a, b}, .box = Extent{3, 4, 25, 20}, .nudge = -0.0005},
      {.name = "between them", .tiles = {a, b}, .box = Extent{3, 4, 25, 20}, .nudge = -0.3},
      {.name = "a box beyond the tiles", .tiles = {a}, .box = Extent{-5, -3, 30, 22}},
      {.name = "blocks with some, all and no valid cells",
       .tiles = {a, holes, T(40, 0, 6, 3, 'f', -9999, 1.0)},
       .k = 3},
      {.name = "coarse cells within a box", .tiles = {a, b}, .k = 4, .box = Extent{1, 0, 6, 5}, .nudge = -0.3},
      {.name = "coarse cells of 512 x 512 fine ones, a band taken in strips of them",
       .tiles = {T(0, 0, 4608, 600, 'f'), T(100, 512, 700, 100, 'a')},
       .k = 512},
  };
  for (const Case& c : cases) {
    for (int threads : {1, 3}) Check(c, threads);
    Check(c, 2, CellRange{500, -20});  // in one pass, over a fixed range
  }
}

// Random tile sets of every format, order, overlap and gap, cut to boxes and coarsened.
TEST(MosaicTest, RandomTileSetsGiveTheImageOfTheirMergedTwin) {
  std::mt19937 random(2026);
  const auto pick = [&](int low, int high) { return std::uniform_int_distribution<>(low, high)(random); };
  for (int round = 0; round < 40; ++round) {
    Case c{.name = "random"};
    c.k = std::max(1, pick(-1, 3));
    const int count = pick(1, 5);
    for (int i = 0; i < count; ++i) {
      const int col = i == 0 ? 0 : pick(-12, 20), row = i == 0 ? 0 : pick(-12, 20);
      c.tiles.push_back(
          T(col, row, pick(1, 24), pick(1, 24), "fatz"[pick(0, 3)], pick(0, 1) == 0 ? -9999 : 3, pick(0, 4) * 0.2));
    }
    if (pick(0, 2) == 0) {
      const int col = pick(-4, 6), row = pick(-4, 6);
      c.box = Extent{col, row, col + pick(1, 8), row + pick(1, 8)};
      c.nudge = std::array{0.0, -0.3, 0.0005, -0.0005}[static_cast<std::size_t>(pick(0, 3))];
      bool covered = false;
      for (const Tile& t : c.tiles) {
        covered = covered || (t.col < c.box->col_end * c.k && t.col + t.ncols > c.box->col * c.k &&
                              t.row < c.box->row_end * c.k && t.row + t.nrows > c.box->row * c.k);
      }
      if (!covered) c.box.reset();
    }
    Check(c, pick(1, 3));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace kavrimo

namespace kavrimo {
namespace {

// A host that gives up at the first progress of the second pass, as the window does when it is closed.
class CancellingHost : public RecordingHost {
 public:
  void SetProgress(int position) override {
    RecordingHost::SetProgress(position);
    if (statuses.back() == "Step 2 of 2" && position > 0) throw ConversionCancelled();
  }
};

// Every refusal comes before any cell is read, and grids the image does not reach are read no further than
// their headers: here they have no cells at all. A grid that fails while it is read is named; nothing is
// left behind and an earlier image stays.
TEST(MosaicTest, RefusalsFailuresAndWhatIsNotRead) {
  TempDir dir;
  const auto grid = [&](const std::string& name, float xll, float yll, float size, int ncols = 4) {
    WriteGrid(dir.File(name), ncols, 4, std::vector<float>(static_cast<std::size_t>(ncols) * 4, 5),
              "NODATA_value -9999\n", false, xll, yll, size);
    return dir.File(name);
  };
  const std::string a = grid("a", 10, 48, 0.5f), half = grid("half", 10.25f, 48, 0.5f);
  const std::string coarse = grid("coarse", 12, 48, 1.5f), huge = grid("huge", 12, 48, 0.5f, 70000);
  const std::string far = grid("far", 40, 48, 0.5f), nan = grid("nan", 12, 48, 0.5f);
  std::remove((far + ".flt").c_str());  // never read: the box does not reach it
  WriteText(dir.File("far.asc"), "ncols 4\nnrows 4\nxllcorner 50\nyllcorner 48\ncellsize 0.5\n1 2 3 zz\n");
  WriteText(nan + ".flt", CellBytes({5, 5, std::nanf(""), 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, false));
  WriteText(dir.File("mosaic.IMG"), "earlier");
  const MosaicBounds box{10, 48, 11, 50, "10 48 11 50"};
  // Headers are read in runs on two threads: the error is still that of the first failing grid in order.
  std::vector<std::string> many(40, a);
  many[17] = dir.File("none");
  many[38] = dir.File("later");
  const struct {
    const char* name;
    std::vector<std::string> inputs;
    std::optional<MosaicBounds> bounds;
    int k;
    std::string message;
  } cases[] = {
      {"half a cell off",
       {a, half},
       std::nullopt,
       1,
       half + " is not on the lattice of " + a + ": its left edge is 0.5 cells off"},
      {"other cells", {a, coarse}, std::nullopt, 1, coarse + " has cells of 1.5 where " + a + " has 0.5"},
      {"not a multiple", {a}, std::nullopt, 0, "--cell-size S is not a whole multiple of 0.5, the cell size of " + a},
      {"no grid in the box",
       {a},
       MosaicBounds{20, 48, 21, 50, "20 48 21 50"},
       1,
       "No grid covers the bounds 20 48 21 50"},
      {"too large",
       {a, huge},
       std::nullopt,
       1,
       "The mosaic would be 70004 x 4 cells; an image holds at most 32767 x 32767: use --bounds or --cell-size"},
      {"a missing header", {a, dir.File("none")}, std::nullopt, 1, "Cannot open file " + dir.File("none.hdr")},
      {"two missing headers", many, std::nullopt, 1, "Cannot open file " + dir.File("none.hdr")},
      {"a NaN cell", {a, nan}, std::nullopt, 1, nan + ": Invalid floating point operation"},
      {"grids outside the box", {a, far, dir.File("far.asc"), huge}, box, 1, ""},
      {"a large grid coarsened", {huge}, std::nullopt, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionRequest request{c.inputs.front(), dir.File("mosaic.IMG"), TemplatePath(), 2};
    request.mosaic.emplace();
    request.mosaic->inputs = c.inputs;
    request.mosaic->bounds = c.bounds;
    if (c.k != 1) request.mosaic->cell_size = c.k == 0 ? 0.75 : 0.5 * c.k;
    request.mosaic->cell_size_text = "S";
    RecordingHost host;
    EXPECT_EQ(ConvertMessage(request, host), c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(ReadText(dir.File("mosaic.IMG")), "earlier");
    }
    WriteText(dir.File("mosaic.IMG"), "earlier");
  }
  CancellingHost host;
  ConversionRequest request{a, dir.File("mosaic.IMG"), TemplatePath(), 2};
  request.mosaic.emplace();
  request.mosaic->inputs = {a, grid("b", 12, 48, 0.5f)};
  const std::vector<std::string> before = ListFolder(dir.Path());
  EXPECT_EQ(ConvertMessage(request, host), "Conversion cancelled");
  EXPECT_EQ(ListFolder(dir.Path()), before);
  EXPECT_EQ(ReadText(dir.File("mosaic.IMG")), "earlier");
}

}  // namespace
}  // namespace kavrimo
