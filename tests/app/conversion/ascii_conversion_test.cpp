// ESRI ASCII grids and fixed ranges through the whole Convert command: ASCII grids against their
// float-grid twins, byte for byte; the ASCII passes with small pieces on several threads; conversions
// over a fixed range, with their status lines and counts; and what failures leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/conversion/ascii_passes.h"
#include "app/conversion/conversion.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"
#include "runtime/real48.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

constexpr std::size_t kHeader = 512;

// How the values are laid out: per_line values on a line (0: one row per line), line ends, and the
// separator between values on a line.
struct Layout {
  int per_line = 0;
  const char* line_end = "\n";
  const char* separator = " ";
};

// The ASCII text of cells under header_text, each value written as the shortest text that reads back
// as the same single.
std::string AsciiText(const std::string& header_text, const std::vector<float>& cells, int ncols, Layout layout = {}) {
  std::string text = header_text;
  const int per_line = layout.per_line > 0 ? layout.per_line : ncols;
  char number[32];
  for (std::size_t i = 0; i < cells.size(); ++i) {
    text.append(number, std::to_chars(number, number + sizeof number, cells[i]).ptr);
    text += (i + 1) % static_cast<std::size_t>(per_line) == 0 ? layout.line_end : layout.separator;
  }
  return text;
}

std::string CornerHeader(int ncols, int nrows) {
  return "ncols " + std::to_string(ncols) + "\nnrows " + std::to_string(nrows) +
         "\nxllcorner 12.5\nyllcorner -40.25\ncellsize 0.25\nNODATA_value -9999\n";
}

std::vector<float> RandomCells(std::size_t count, float low, float high, double nodata_share, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(low, high);
  std::bernoulli_distribution missing(nodata_share);
  std::vector<float> cells(count);
  for (float& v : cells) v = missing(random) ? -9999.0f : value(random);
  return cells;
}

class AsciiConversion : public testing::Test {
 protected:
  // Converts input to output; returns the error message or "".
  std::string Run(const std::string& input, const std::string& output, int threads = 1,
                  std::optional<CellRange> fixed = std::nullopt) {
    host_ = {};
    return ConvertMessage({input, output, TemplatePath(), threads, fixed}, host_);
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

  TempDir dir_;
  RecordingHost host_;
};

struct TwinCase {
  const char* name;
  int ncols, nrows;
  float low, high;
  double nodata_share;
  Layout layout;
  int threads;
};

class AsciiTwins : public AsciiConversion, public testing::WithParamInterface<TwinCase> {};

// The same cells as a float grid and as an ASCII grid: the same status texts and the same image, header
// and pixels. The last case's text (about 10 MB) is cut into pieces that both threads parse.
TEST_P(AsciiTwins, GiveTheImageOfTheirFloatGridTwin) {
  const TwinCase& c = GetParam();
  const std::vector<float> cells = RandomCells(static_cast<std::size_t>(c.ncols) * c.nrows, c.low, c.high,
                                               c.nodata_share, static_cast<unsigned>(c.ncols));
  WriteGrid(File("twin"), c.ncols, c.nrows, cells, "NODATA_value -9999\n", false, 12.5f, -40.25f, 0.25f);
  WriteText(File("dem.asc"), AsciiText(CornerHeader(c.ncols, c.nrows), cells, c.ncols, c.layout));
  ASSERT_EQ(Run(File("twin.flt"), File("twin.IMG"), c.threads), "");
  const std::vector<std::string> statuses = host_.statuses;
  ASSERT_EQ(Run(File("dem.asc"), File("dem.IMG"), c.threads), "");
  EXPECT_EQ(host_.statuses, statuses);
  EXPECT_EQ(ReadBytes(File("dem.IMG")), ReadBytes(File("twin.IMG")));
  EXPECT_EQ(host_.progress.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(Grids, AsciiTwins,
                         testing::Values(TwinCase{"OneRowPerLine", 97, 89, -100, 2000, 0.1, {}, 1},
                                         TwinCase{"RowsWrappedCrLf", 50, 40, -1e-3f, 5e-4f, 0.3, {7, "\r\n", "\t"}, 2},
                                         TwinCase{"RowsJoinedCr", 13, 200, 1e30f, 3e38f, 0.05, {1000, "\r", "  "}, 3},
                                         TwinCase{"OneValuePerLine", 5, 300, -1.5e38f, -1e-30f, 0.0, {1, "\n", " "}, 2},
                                         TwinCase{"ManyPieces", 1100, 1000, -500, 3000, 0.1, {}, 2}),
                         [](const testing::TestParamInfo<TwinCase>& param_info) { return param_info.param.name; });

// Cells that are not square place the image by dy: RowSpacing dy and the top edge nrows x dy above the
// corner, which the centres place half a cell inside. A real no-data value marks the cells it rounds to.
TEST_F(AsciiConversion, DxDyCentresAndRealNoDataPlaceAndMarkTheImage) {
  WriteText(File("dem.asc"),
            "ncols 3\nnrows 2\nxllcenter 101\nyllcenter 30.25\ndx 2\ndy 0.5\nnodata_value -0.1\n"
            "1 2 -0.1\n-0.100000001 4 5\n");
  ASSERT_EQ(Run(File("dem.asc"), File("dem.IMG")), "");
  const auto file = ReadBytes(File("dem.IMG"));
  EXPECT_EQ(Real48At(file, 126), 100);           // RefLongitude: xllcenter - dx / 2
  EXPECT_EQ(Real48At(file, 120), 30 + 2 * 0.5);  // RefLatitude: yllcenter - dy / 2 + nrows x dy
  EXPECT_EQ(Real48At(file, 144), 2);             // ColumnSpacing
  EXPECT_EQ(Real48At(file, 150), 0.5);           // RowSpacing
  // -0.100000001 is the same single as -0.1.
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + kHeader, file.end()),
            (std::vector<std::uint8_t>{51, 101, 255, 255, 202, 253}));
}

// Nothing is written when the text fails, and an earlier image of the output's name stays.
TEST_F(AsciiConversion, FailuresLeaveTheEarlierOutput) {
  const std::string header = "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  const std::pair<std::string, std::string> cases[] = {
      {header + "1 2\n3 4x\n", "Line 7 of " + File("dem.asc") + ": '4x' is not a number"},
      {header + "1 2\n3\n", File("dem.asc") + " holds 3 values; its header promises 4"},
      {header + "1 2\n3 4 5\n", File("dem.asc") + " holds 5 values; its header promises 4"},
      {"ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\n",
       "Line 5 of " + File("dem.asc") + ": the header has no cellsize (or dx and dy)"},
      {"ncols 0\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n",
       "Grid of 0 columns and 2 rows cannot be converted: a Miradel image holds 1 to 32767 of each"}};
  for (const auto& [text, message] : cases) {
    for (const auto& fixed : {std::optional<CellRange>{}, std::optional<CellRange>{CellRange{5, 0}}}) {
      SCOPED_TRACE(message + (fixed ? ", fixed range" : ""));
      WriteText(File("dem.asc"), text);
      WriteText(File("out.IMG"), "earlier image");
      EXPECT_EQ(Run(File("dem.asc"), File("out.IMG"), 2, fixed), message);
      EXPECT_EQ(ListFolder(dir_.Path()), (std::vector<std::string>{"dem.asc", "out.IMG"}));
      EXPECT_EQ(ReadText(File("out.IMG")), "earlier image");
      EXPECT_FALSE(host_.busy);
    }
  }
  EXPECT_EQ(Run(File("none.asc"), File("out.IMG")), "Cannot open file " + File("none.asc"));
}

// ---- The passes over the text, cut into small pieces -------------------------------------------------

// Pieces of a few bytes to a few thousand, on one to three threads: the range, the scratch file's cells
// and the progress of the float grid's pass 1; the clamped bytes and counts in one pass; and the error of
// the first bad token in file order, whichever thread meets it first.
TEST(AsciiPasses, EveryPieceSizeAndThreadCountGivesTheFloatGridPasses) {
  TempDir dir;
  SetDecimalSeparator('.');
  const int ncols = 37, nrows = 29;
  const std::vector<float> cells = RandomCells(ncols * nrows, -300, 800, 0.1, 8);
  const std::string path = dir.File("dem.asc");
  WriteText(path, AsciiText(CornerHeader(ncols, nrows), cells, ncols, {5, "\r\n", " "}));
  GridHeader header{.ncols = ncols, .nrows = nrows, .nodata_single = -9999.0f};
  CellRange plain;
  const FixedScale fixed{ScaleFor({500, -100}), {500, -100}};
  std::vector<std::uint8_t> clamped;
  OutsideCounts outside;
  for (const float v : cells) {
    clamped.push_back(CodeCellClampedReference(v, CellNoData::Single(-9999), fixed));
    if (v == -9999.0f) continue;
    plain = {std::max(plain.maximum, v), std::min(plain.minimum, v)};
    outside.below += v < -100;
    outside.above += v > 500;
  }
  std::vector<int> plain_progress;
  for (int i = 1; i <= ncols; ++i) plain_progress.push_back(i * 100 / ncols);
  // A bad token half-way, and another at the end that must not be the one reported.
  std::string bad = AsciiText(CornerHeader(ncols, nrows), cells, ncols, {7});
  const std::size_t blank = bad.find(' ', bad.size() / 2);
  bad.replace(blank, 1, " x ");
  bad += "@";
  WriteText(dir.File("bad.asc"), bad);
  const std::string bad_line =
      "Line " + std::to_string(1 + std::count(bad.begin(), bad.begin() + static_cast<std::ptrdiff_t>(blank), '\n')) +
      " of bad.asc: 'x' is not a number";
  for (const std::size_t piece : {std::size_t{3}, std::size_t{50}, std::size_t{4096}}) {
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(piece) + "-byte pieces, " + std::to_string(threads) + " threads");
      const BinaryFile text = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
      const AsciiValues values(text, path, ReadAsciiGridHeader(text, path), piece);
      BinaryFile scratch = BinaryFile::Create(dir.File("scratch"));
      std::vector<int> progress;
      const CellRange range =
          ScanAsciiValues(values, header, scratch, [&](int p) { progress.push_back(p); }, {threads});
      EXPECT_EQ(std::pair(range.maximum, range.minimum), std::pair(plain.maximum, plain.minimum));
      EXPECT_EQ(progress, plain_progress);
      const auto stored = ReadBytes(dir.File("scratch"));
      ASSERT_EQ(stored.size(), cells.size() * 4);
      EXPECT_EQ(std::memcmp(stored.data(), cells.data(), stored.size()), 0);
      ImagePixels out = NewImagePixels(dir.File("out.img"));
      const OutsideCounts counts = CodeAsciiValues(values, header, fixed, out, [](int) {}, {threads});
      out.Close();
      const auto bytes = ReadBytes(dir.File("out.img"));
      EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + kHeader, bytes.end()), clamped);
      EXPECT_EQ(std::pair(counts.below, counts.above), std::pair(outside.below, outside.above));

      const BinaryFile bad_text = BinaryFile::OpenExisting(dir.File("bad.asc"), OpenMode::ReadOnly);
      const AsciiValues bad_values(bad_text, "bad.asc", ReadAsciiGridHeader(bad_text, "bad.asc"), piece);
      EXPECT_EQ(MessageOf([&] { ScanAsciiValues(bad_values, header, scratch, [](int) {}, {threads}); }), bad_line);
    }
  }
}

// ---- A fixed range ----------------------------------------------------------------------------------

struct FixedCase {
  const char* name;
  CellRange range;
  const char* max_min;
  const char* outside;  // the count line, or "" for none
};

class FixedRanges : public AsciiConversion, public testing::WithParamInterface<FixedCase> {};

// Both kinds of grid, read once: no "Step 1 of 2"; Max and Min are the range given, the scale follows
// from it as from a scanned range, and the count line comes last, before the success box, when cells
// lie outside.
TEST_P(FixedRanges, ScaleOverTheGivenRangeAndCountTheCellsOutside) {
  const FixedCase& c = GetParam();
  const std::vector<float> cells = {-250, -100, 0, 100, 499.5f, 500, 2000, -9999, 7, 16};
  WriteGrid(File("twin"), 5, 2, cells);
  WriteText(File("dem.asc"), AsciiText(CornerHeader(5, 2), cells, 5));
  const FixedScale fixed{ScaleFor(c.range), c.range};
  std::vector<std::uint8_t> expected;
  for (const float v : cells) expected.push_back(CodeCellClampedReference(v, -9999, fixed));
  for (const char* input : {"twin.flt", "dem.asc"}) {
    for (const int threads : {1, 2}) {
      SCOPED_TRACE(std::string(input) + ", " + std::to_string(threads) + " threads");
      ASSERT_EQ(Run(File(input), File("out.IMG"), threads, c.range), "");
      std::vector<std::string> statuses = {
          c.max_min,
          "Slope = " + FormatReal(fixed.scale.slope) + " and Intecept = " + FormatReal(fixed.scale.intercept),
          "Step 2 of 2"};
      if (*c.outside != '\0') statuses.push_back(c.outside);
      EXPECT_EQ(host_.statuses, statuses);
      EXPECT_EQ(host_.events.back(), "info Image created succesfully");
      const auto file = ReadBytes(File("out.IMG"));
      EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + kHeader, file.end()), expected);
      EXPECT_EQ(Real48At(file, 171), Real48::Round(fixed.scale.slope).Value());
      EXPECT_EQ(Real48At(file, 177), Real48::Round(fixed.scale.intercept).Value());
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ranges, FixedRanges,
    testing::Values(
        FixedCase{"CellsBothSides", {500, -100}, "Max = 500 and Min = -100",
                  "1 cells below the range coded 0 and 1 above it coded 253"},
        FixedCase{"MinimumAboveZero", {600, 10}, "Max = 600 and Min = 10",
                  "4 cells below the range coded 0 and 1 above it coded 253"},
        FixedCase{"AllInside", {2000, -250}, "Max = 2000 and Min = -250", ""},
        FixedCase{"AllAbove", {-300, -1000}, "Max = -300 and Min = -1000",
                  "0 cells below the range coded 0 and 9 above it coded 253"}),
    [](const testing::TestParamInfo<FixedCase>& param_info) { return param_info.param.name; });
// clang-format on

}  // namespace
}  // namespace kavrimo
