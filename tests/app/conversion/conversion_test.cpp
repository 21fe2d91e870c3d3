// The Convert command end to end through the engine: status texts, progress, header fields, bytes, and
// the behaviour on bad input.
#include "app/conversion/conversion.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <numeric>
#include <random>

#include "image/kel_img.h"
#include "runtime/errors.h"
#include "runtime/real48.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

constexpr std::size_t kHeader = 512;

// The coding as plainly as it can be written: range from 0, scale in long double rounded to single,
// quotient rounded to single, ties to even, low 8 bits.
std::vector<std::uint8_t> SlowCoding(const std::vector<float>& cells, std::int32_t nodata) {
  float maximum = 0, minimum = 0;
  for (float v : cells) {
    if (v == static_cast<float>(nodata) && static_cast<double>(v) == nodata) continue;
    maximum = std::max(maximum, v);
    minimum = std::min(minimum, v);
  }
  const long double span = static_cast<long double>(maximum) - minimum;
  const auto slope = static_cast<float>(span / 253);
  const auto intercept = static_cast<float>(maximum - span);
  std::vector<std::uint8_t> bytes;
  for (float v : cells) {
    if (static_cast<double>(v) == nodata) {
      bytes.push_back(255);
    } else if (slope == 0) {
      bytes.push_back(0);
    } else {
      const auto q = static_cast<float>((static_cast<long double>(v) - intercept) / slope);
      bytes.push_back(static_cast<std::uint8_t>(static_cast<long long>(std::nearbyint(q)) & 0xFF));
    }
  }
  return bytes;
}

std::int16_t Int16At(const std::vector<std::uint8_t>& file, std::size_t offset) {
  return static_cast<std::int16_t>(file[offset] | (file[offset + 1] << 8));
}

class ConversionTest : public testing::Test {
 protected:
  // Converts the grid "dem" of the temporary folder to "out.IMG"; returns the error message or "".
  std::string Run(int threads = 1) {
    TKelImg image(host_);
    try {
      Convert({Grid(), Output(), testing_support::TemplatePath(), threads}, image, host_);
    } catch (const Error& e) {
      attached_ = image.FileName();
      return e.Message();
    }
    attached_ = image.FileName();
    EXPECT_EQ(image.State(), ImageState::ValidImage);
    return "";
  }
  std::string Grid() const { return dir_.File("dem.flt"); }
  std::string Base() const { return dir_.File("dem"); }
  std::string Output() const { return dir_.File("out.IMG"); }
  std::vector<std::uint8_t> Pixels() const {
    const auto file = ReadBytes(Output());
    return {file.begin() + kHeader, file.end()};
  }

  TempDir dir_;
  RecordingHost host_;
  std::string attached_;
};

struct WorkedExample {
  const char* name;
  std::vector<float> cells;
  const char* header_extra;
  const char* max_min;
  const char* slope_intercept;
  int decimals;
  std::vector<std::uint8_t> bytes;
};

class WorkedExamples : public ConversionTest, public testing::WithParamInterface<WorkedExample> {};

TEST_P(WorkedExamples, StatusTextsHeaderAndBytes) {
  const WorkedExample& c = GetParam();
  WriteGrid(Base(), static_cast<int>(c.cells.size()), 1, c.cells, c.header_extra);
  ASSERT_EQ(Run(), "");
  ASSERT_EQ(host_.statuses.size(), 4u);
  EXPECT_EQ(host_.statuses[0], "Step 1 of 2");
  EXPECT_EQ(host_.statuses[1], c.max_min);
  EXPECT_EQ(host_.statuses[2], c.slope_intercept);
  EXPECT_EQ(host_.statuses[3], "Step 2 of 2");
  EXPECT_EQ(Pixels(), c.bytes);
  EXPECT_EQ(ReadBytes(Output())[183], c.decimals);
}

// The first three are the documented examples; the other slopes are single(span / 253) printed with
// printf's %.15g, and the bytes follow the documented coding.
INSTANTIATE_TEST_SUITE_P(
    Grids, WorkedExamples,
    // clang-format off
    testing::Values(
        WorkedExample{"Range0To2000", {100, 1000, 2000}, "NODATA_value -9999\n", "Max = 2000 and Min = 0",
                      "Slope = 7.90513849258423 and Intecept = 0", 0, {13, 126, 253}},
        WorkedExample{"NegativeRange", {-50, -30, -10}, "NODATA_value -9999\n", "Max = 0 and Min = -50",
                      "Slope = 0.197628453373909 and Intecept = -50", 1, {0, 101, 202}},
        WorkedExample{"AllFive", {5, 5, 5, 5}, "NODATA_value -9999\n", "Max = 5 and Min = 0",
                      "Slope = 0.0197628457099199 and Intecept = 0", 2, {253, 253, 253, 253}},
        WorkedExample{"NoDataAndJustBelowIt", {-9999.0f, -9999.5f, 0}, "NODATA_value -9999\n",
                      "Max = 0 and Min = -9999.5", "Slope = 39.5237159729004 and Intecept = -9999.5", 0,
                      {255, 0, 253}},
        WorkedExample{"MissingNoDataMakesZeroNoData", {0, 10, 0}, "", "Max = 10 and Min = 0",
                      "Slope = 0.0395256914198399 and Intecept = 0", 2, {255, 253, 255}},
        WorkedExample{"AllNoData", {-9999, -9999}, "NODATA_value -9999\n", "Max = 0 and Min = 0",
                      "Slope = 0 and Intecept = 0", 3, {255, 255}},
        // A zero slope codes every valid cell as 0 (it used to fail half-way with 0 / 0).
        WorkedExample{"AllValidZeroCodesZero", {0, 0, -9999}, "NODATA_value -9999\n", "Max = 0 and Min = 0",
                      "Slope = 0 and Intecept = 0", 3, {0, 0, 255}},
        WorkedExample{"SmallSlopeKeepsTemplateDecimals", {0.1265f}, "NODATA_value -9999\n",
                      "Max = 0.126499995589256 and Min = 0", "Slope = 0.000499999965541065 and Intecept = 0", 3,
                      {253}}),
    // clang-format on
    [](const testing::TestParamInfo<WorkedExample>& param_info) { return param_info.param.name; });

TEST_F(ConversionTest, EventsInTheOrderTheWindowShowsThem) {
  WriteGrid(Base(), 3, 2, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(Run(), "");
  const std::vector<std::string> expected = {
      "progress 0", "status Step 1 of 2", "process", "progress 33", "progress 66", "progress 100",
      "status Max = 6 and Min = 0", "status Slope = 0.0237154141068459 and Intecept = 0",
      // the component's own busy cursor while it creates the file
      "busy 1", "busy 0", "progress 0", "status Step 2 of 2", "process", "progress 33", "progress 66", "progress 100",
      "info Image created succesfully"};
  EXPECT_EQ(host_.events, expected);
  EXPECT_EQ(attached_, Output());
}

TEST_F(ConversionTest, HeaderFieldsDescribeTheGrid) {
  WriteGrid(Base(), 4, 3, std::vector<float>(12, 7.0f), "NODATA_value -1\n", false, 500000.123f, 4123456.78f, 30);
  ASSERT_EQ(Run(), "");
  const auto file = ReadBytes(Output());
  ASSERT_EQ(file.size(), kHeader + 12);
  EXPECT_EQ(file[22], 200);
  EXPECT_EQ(file[23], 3);
  EXPECT_EQ(Int16At(file, 30), 3);
  EXPECT_EQ(Int16At(file, 32), 4);
  EXPECT_EQ(Real48At(file, 126), 500000.125);       // the single value of 500000.123
  EXPECT_EQ(Real48At(file, 120), 4123456.75 + 90);  // top edge: yllcorner + nrows * cellsize
  EXPECT_EQ(Real48At(file, 132), 0);
  EXPECT_EQ(Real48At(file, 138), 0);
  EXPECT_EQ(Real48At(file, 144), 30);
  EXPECT_EQ(Real48At(file, 150), 30);
  EXPECT_EQ(Real48At(file, 171), Real48::Round(static_cast<float>(7.0L / 253)).Value());
  EXPECT_EQ(Real48At(file, 177), 0);
  EXPECT_EQ(file[183], 2);
  const std::string comment(file.begin() + 38, file.begin() + 118);
  EXPECT_EQ(comment.rfind("ZUB/Marentaal 1994-", 0), 0u);
  for (std::size_t i = 0; i < 22; ++i) EXPECT_EQ(file[i], 0) << i;
}

// The bar follows the outer loop, (i x 100) div ncols, moving at least every 1 % of the steps; when a
// cell fails, it shows the failing cell's step before the error.
TEST_F(ConversionTest, ProgressShowsWhereAPassStands) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    int ncols, nrows;
    std::int64_t bad_cell;  // NaN there; -1 for none, -2 for a file one cell short
    int threads;
    // clang-format off
    int last;               // the last position shown
  } cases[] = {{3, 1, -1, 1, 100}, {4, 1, 2, 1, 75}, {4, 30000, 2 * 30000 + 7, 2, 75},
               {2000, 1000, 1500 * 1000, 1, 75}, {2000, 1000, 1500 * 1000, 2, 75}, {4, 4, -2, 1, 100}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.ncols) + " x " + std::to_string(c.nrows) + ", cell " + std::to_string(c.bad_cell));
    std::vector<float> cells(static_cast<std::size_t>(c.ncols) * static_cast<std::size_t>(c.nrows), 7.0f);
    if (c.bad_cell >= 0) cells[static_cast<std::size_t>(c.bad_cell)] = nan;
    if (c.bad_cell == -2) cells.pop_back();
    WriteGrid(Base(), c.ncols, c.nrows, cells);
    host_.progress.clear();
    EXPECT_EQ(Run(c.threads), c.bad_cell == -1   ? ""
                              : c.bad_cell == -2 ? "Read beyond end of file"
                                                 : "Invalid floating point operation");
    ASSERT_FALSE(host_.progress.empty());
    EXPECT_EQ(host_.progress.back(), c.last);
  }
  EXPECT_EQ(host_.progress.front(), 0);
  WriteGrid(Base(), 3, 1, {1, 2, 3});
  host_.progress.clear();
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(host_.progress, (std::vector<int>{0, 33, 66, 100, 0, 33, 66, 100}));
  WriteGrid(Base(), 1000, 1000, std::vector<float>(1000 * 1000, 7.0f));
  host_.progress.clear();
  ASSERT_EQ(Run(2), "");
  std::vector<int> every(101);
  std::iota(every.begin(), every.end(), 0);
  EXPECT_EQ(std::vector<int>(host_.progress.begin(), host_.progress.begin() + 101), every);
}

TEST_F(ConversionTest, ExtraBytesPastTheGridAreIgnoredAndOutputReplaced) {
  WriteText(Output(), std::string(5000, 'x'));
  WriteGrid(Base(), 2, 1, {1, 2, 3, 4});
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(Pixels(), (std::vector<std::uint8_t>{126, 253}));  // 1 / slope rounds to the tie 126.5
}

TEST_F(ConversionTest, ReadOnlyGridConverts) {
  WriteGrid(Base(), 2, 1, {1, 2});
  ::chmod(Grid().c_str(), 0444);
  EXPECT_EQ(Run(), "");
}

struct RandomCase {
  int ncols, nrows;
  float low, high;
  double nodata_share;
  bool big_endian;
  unsigned seed;
};

class RandomGrids : public ConversionTest, public testing::WithParamInterface<RandomCase> {};

TEST_P(RandomGrids, EveryByteEqualsThePlainLongDoubleCoding) {
  const RandomCase& c = GetParam();
  std::mt19937 random(c.seed);
  std::uniform_real_distribution<float> value(c.low, c.high);
  std::bernoulli_distribution missing(c.nodata_share);
  std::vector<float> cells(static_cast<std::size_t>(c.ncols) * c.nrows);
  for (float& v : cells) v = missing(random) ? -9999.0f : value(random);
  WriteGrid(Base(), c.ncols, c.nrows, cells, "NODATA_value -9999\n" + std::string(c.big_endian ? "byteorder M\n" : ""),
            c.big_endian);
  for (int threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    ASSERT_EQ(Run(threads), "");
    EXPECT_EQ(Pixels(), SlowCoding(cells, -9999));
  }
}

INSTANTIATE_TEST_SUITE_P(Grids, RandomGrids,
                         testing::Values(RandomCase{97, 89, -100, 2000, 0.1, false, 1},
                                         RandomCase{1, 5000, 0, 1, 0.0, false, 2},
                                         RandomCase{1000, 1100, -1e-3f, 5e-4f, 0.3, true, 3},
                                         RandomCase{300, 7, 1e30f, 3e38f, 0.05, false, 4},
                                         RandomCase{50, 50, -1.5e38f, -1e-30f, 0.0, false, 5},
                                         RandomCase{2048, 1030, 0, 1e-40f, 0.1, false, 6}));

// ---- refusals, failures and what they leave behind

// Each refusal or failure names its reason and leaves the folder as it was: no new file, an earlier
// output kept byte for byte, the busy cursor off.
TEST_F(ConversionTest, FailuresLeaveTheFolderAsItWas) {
  const auto header = [this](std::string text) { return [this, text] { WriteText(Base() + ".hdr", text); }; };
  const auto grid = [this](std::vector<float> cells) {
    return [this, cells] { WriteGrid(Base(), static_cast<int>(cells.size()), 1, cells); };
  };
  const float inf = std::numeric_limits<float>::infinity();
  const std::string too_big = " cannot be converted: a Miradel image holds 1 to 32767 of each";
  const std::string bad_template = dir_.File("header.bin");
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::string message;
    std::string output = {}, template_path = {};  // "" for out.IMG and the build's template
    const char* last_status = nullptr;
  } cases[] = {
      // The size is judged from the header alone: there is no data file, and nothing may be opened.
      {"too many columns", header("ncols 40000\nnrows 2\n"), "Grid of 40000 columns and 2 rows" + too_big},
      {"no columns", header("ncols 0\nnrows 2\n"), "Grid of 0 columns and 2 rows" + too_big},
      {"ncols missing", header("nrows 2\n"), "Grid of 0 columns and 2 rows" + too_big},
      {"negative rows", header("ncols 2\nnrows -1\n"), "Grid of 2 columns and -1 rows" + too_big},
      {"too many rows", header("ncols 32767\nnrows 32768\n"), "Grid of 32767 columns and 32768 rows" + too_big},
      {"short data file", [this] { WriteGrid(Base(), 4, 4, std::vector<float>(15, 1.0f)); }, "Read beyond end of file"},
      {"infinite cell", grid({1, inf}), "Invalid floating point operation"},
      // The infinite slope cannot be stored as Gain.
      {"negative infinite cell", grid({1, -inf}), "Floating point overflow", "", "", "Slope = INF and Intecept = -INF"},
      {"no header", [] {}, "Cannot open file " + Base() + ".hdr"},
      {"no data file", header("ncols 1\nnrows 1\n"), "File not found"},
      // clang-format off
      {"template not an image", [&] { grid({1, 2})(), WriteText(bad_template, std::string(100, '\0')); },
       // clang-format on
       "Template " + bad_template + " is not a valid image", "", bad_template},
      {"template missing", grid({1, 2}), "File not found", "", dir_.File("none.bin")},
      {"output folder missing", grid({1, 2}), "Invalid filename", dir_.File("no/such/out.IMG")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) std::filesystem::remove(entry.path());
    host_ = {};
    WriteText(Output(), "earlier image");
    c.prepare();
    const std::vector<std::string> before = ListFolder(dir_.Path());
    const std::string output = c.output.empty() ? Output() : c.output;
    EXPECT_EQ(ConvertMessage({Grid(), output, c.template_path.empty() ? TemplatePath() : c.template_path, 1}, host_),
              c.message);
    EXPECT_EQ(ListFolder(dir_.Path()), before);
    EXPECT_EQ(ReadText(Output()), "earlier image");
    EXPECT_FALSE(host_.busy);
    if (c.last_status != nullptr) {
      EXPECT_EQ(host_.statuses.back(), c.last_status);
    }
  }
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++count;
    ::closedir(d);
  }
  return count;
}

TEST_F(ConversionTest, FailuresCloseEveryFile) {
  WriteGrid(Base(), 4, 4, std::vector<float>(15, 1.0f));
  const int before = OpenDescriptors();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Run(), "Read beyond end of file");
  WriteGrid(Base(), 2, 1, {1, -std::numeric_limits<float>::infinity()});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Run(), "Floating point overflow");
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace kavrimo
