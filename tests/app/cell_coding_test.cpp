// The block loops of the coding against the extended-precision reference, cell for cell: worked
// examples, cells on and beside every rounding tie, the ends of the single range, denormal slopes,
// exhaustive sweeps of small ranges, random grids; and the range scan against a plain loop.
#include "app/core/cell_coding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

constexpr std::int32_t kNoData = -9999;
const CellPath kPaths[] = {CellPath::Best, CellPath::Portable};

std::string PathName(CellPath path) { return path == CellPath::Best ? "best" : "portable"; }

std::vector<float> Neighbours(float v, int ulps) {
  std::vector<float> out{v};
  float up = v, down = v;
  for (int i = 0; i < ulps; ++i) {
    up = std::nextafter(up, std::numeric_limits<float>::infinity());
    down = std::nextafter(down, -std::numeric_limits<float>::infinity());
    out.push_back(up);
    out.push_back(down);
  }
  return out;
}

// Singles whose quotient under scale lies on or next to every tie k + 0.5 (k = 0 to 253), the range's
// ends and 0 with their neighbours, and the smallest and largest single magnitudes that the range holds.
std::vector<float> AdversarialCells(const CellRange& range, const CellScale& scale) {
  std::vector<float> cells;
  const auto add_near = [&](long double v, int ulps) {
    const float nearest = static_cast<float>(v);
    for (const float cell : Neighbours(nearest, ulps)) {
      if (cell >= range.minimum && cell <= range.maximum) cells.push_back(cell);
    }
  };
  for (int k = 0; k <= 253; ++k) {
    add_near(static_cast<long double>(scale.intercept) + (k + 0.5L) * scale.slope, 12);
    add_near(static_cast<long double>(scale.intercept) + k * static_cast<long double>(scale.slope), 2);
  }
  for (const float end : {range.minimum, range.maximum, 0.0f, -0.0f}) add_near(end, 8);
  for (const float magnitude : {FLT_TRUE_MIN, FLT_MIN, FLT_MAX, 1.0f}) {
    add_near(magnitude, 4);
    add_near(-magnitude, 4);
  }
  return cells;
}

void ExpectSameAsReference(const std::vector<float>& cells, std::int32_t nodata, const CellScale& scale) {
  std::vector<std::uint8_t> expected(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) expected[i] = CodeCellReference(cells[i], nodata, scale);
  for (const CellPath path : kPaths) {
    SCOPED_TRACE(PathName(path));
    std::vector<std::uint8_t> got(cells.size(), 77);
    CodeCells(cells.data(), cells.size(), nodata, scale, got.data(), path);
    std::size_t differences = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (got[i] != expected[i] && ++differences <= 5) {
        ADD_FAILURE() << "cell " << i << " = " << std::hexfloat << cells[i] << std::defaultfloat << " ("
                      << cells[i] << "): got " << int{got[i]} << ", reference " << int{expected[i]};
      }
    }
    EXPECT_EQ(differences, 0u);
  }
}

// ---- Worked examples -------------------------------------------------------------------------------

struct ExampleCase {
  std::string name;
  std::vector<float> cells;
  std::int32_t nodata;
  std::vector<int> bytes;
};

class CodingExample : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(CodingExample, GivesTheDocumentedBytes) {
  const ExampleCase& c = GetParam();
  SCOPED_TRACE(c.name);
  for (const CellPath path : kPaths) {
    SCOPED_TRACE(PathName(path));
    CellRange range;
    ScanCells(c.cells.data(), c.cells.size(), c.nodata, range, path);
    const CellScale scale = ScaleFor(range);
    std::vector<std::uint8_t> bytes(c.cells.size());
    CodeCells(c.cells.data(), c.cells.size(), c.nodata, scale, bytes.data(), path);
    EXPECT_EQ(std::vector<int>(bytes.begin(), bytes.end()), c.bytes);
  }
}

// Each cell is repeated past a vector's width so that the vector loops, not only their tails, run.
ExampleCase Repeated(ExampleCase c, int times) {
  ExampleCase out{c.name, {}, c.nodata, {}};
  for (int t = 0; t < times; ++t) {
    out.cells.insert(out.cells.end(), c.cells.begin(), c.cells.end());
    out.bytes.insert(out.bytes.end(), c.bytes.begin(), c.bytes.end());
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CodingExample,
    ::testing::Values(
        // 1000 / 7.905... = 126.4999..., which rounds to the single 126.5, a tie that goes to 126.
        Repeated({"range_0_to_2000", {100, 1000, 2000}, kNoData, {13, 126, 253}}, 11),
        Repeated({"negative_range", {-50, -30, -10}, kNoData, {0, 101, 202}}, 11),
        Repeated({"all_five", {5, 5, 5}, kNoData, {253, 253, 253}}, 11),
        Repeated({"nodata_and_near_nodata", {-9999.0f, -9999.5f, 10}, kNoData, {255, 0, 253}}, 11),
        Repeated({"zero_is_nodata_without_key", {0.0f, -0.0f, 4}, 0, {255, 255, 253}}, 11),
        // 16777217 is no single: no cell equals it, and 16777216 is a valid cell.
        Repeated({"nodata_no_single_holds", {16777216.0f, 0.0f}, 16777217, {253, 0}}, 11),
        Repeated({"all_nodata_slope_zero", {-9999, -9999}, kNoData, {255, 255}}, 11),
        Repeated({"valid_zeros_slope_zero", {0, -9999, 0}, kNoData, {0, 255, 0}}, 11)),
    [](const ::testing::TestParamInfo<ExampleCase>& param) { return param.param.name; });

// ---- Ties, range ends and extreme magnitudes --------------------------------------------------------

struct RangeCase {
  std::string name;
  float minimum;
  float maximum;
};

class CodingAtTies : public ::testing::TestWithParam<RangeCase> {};

TEST_P(CodingAtTies, EqualsTheReferenceOnEveryCell) {
  const RangeCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const CellRange range{c.maximum, c.minimum};
  const CellScale scale = ScaleFor(range);
  std::vector<float> cells = AdversarialCells(range, scale);
  ASSERT_GT(cells.size(), 254u);
  // No-data cells between them, and an odd count, so the vector loops and their tails both run.
  for (std::size_t i = 0; i < cells.size(); i += 7) cells.insert(cells.begin() + static_cast<long>(i), -9999.0f);
  if (cells.size() % 2 == 0) cells.push_back(c.maximum);
  ExpectSameAsReference(cells, kNoData, scale);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, CodingAtTies,
    ::testing::Values(RangeCase{"ordinary", -1000.37f, 2345.6f}, RangeCase{"positive", 0.0f, 2000.0f},
                      RangeCase{"negative", -50.0f, 0.0f}, RangeCase{"tiny", -1.0e-30f, 3.0e-31f},
                      RangeCase{"huge", -FLT_MAX, FLT_MAX}, RangeCase{"largest_maximum", 0.0f, FLT_MAX},
                      RangeCase{"denormal_slope", -300 * FLT_TRUE_MIN, 1000 * FLT_TRUE_MIN},
                      RangeCase{"smallest_normal", -FLT_MIN, FLT_MIN},
                      RangeCase{"one_denormal", 0.0f, FLT_TRUE_MIN},
                      RangeCase{"far_apart_exponents", -1.0e-20f, 1.0e20f}),
    [](const ::testing::TestParamInfo<RangeCase>& param) { return param.param.name; });

// Every single in small ranges, and every single within 2^10 units of each tie of an ordinary range.
TEST(CodingSweep, EqualsTheReferenceOnEverySingleOfSmallRanges) {
  for (const RangeCase& c : {RangeCase{"denormals", -700 * FLT_TRUE_MIN, 2500 * FLT_TRUE_MIN},
                             RangeCase{"around_smallest_normal", -FLT_MIN, 3 * FLT_MIN}}) {
    SCOPED_TRACE(c.name);
    const CellScale scale = ScaleFor({c.maximum, c.minimum});
    std::vector<float> cells;
    for (float v = c.minimum; v <= c.maximum && cells.size() < 40'000'000; v = std::nextafter(v, FLT_MAX)) {
      cells.push_back(v);
    }
    ExpectSameAsReference(cells, kNoData, scale);
  }
}

TEST(CodingSweep, EqualsTheReferenceNearEveryTie) {
  const CellRange range{1234.5678f, -87.25f};
  const CellScale scale = ScaleFor(range);
  std::vector<float> cells;
  for (int k = 0; k <= 253; ++k) {
    const auto tie = static_cast<float>(static_cast<long double>(scale.intercept) + (k + 0.5L) * scale.slope);
    for (const float v : Neighbours(tie, 1 << 10)) cells.push_back(v);
  }
  ExpectSameAsReference(cells, kNoData, scale);
}

// Scales that no range produces: negative slopes, and cells far outside the range.
TEST(CodingSweep, EqualsTheReferenceForScalesNoRangeGives) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> uniform(-300, 300);
  for (const CellScale scale : {CellScale{-2.5f, 10.0f}, CellScale{0.75f, -1.0e6f}, CellScale{1.0e-3f, 0.0f}}) {
    std::vector<float> cells;
    for (int i = 0; i < 5000; ++i) cells.push_back(uniform(random));
    ExpectSameAsReference(cells, kNoData, scale);
  }
}

// ---- Random grids ------------------------------------------------------------------------------------

TEST(CodingRandom, EqualsTheReferenceOnRandomGrids) {
  std::mt19937 random(2024);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Ranges from denormal to huge, of either sign, with the ends drawn as bit patterns.
    std::uniform_int_distribution<std::uint32_t> bits(0, 0x7f7fffff);
    float a, b;
    const std::uint32_t ba = bits(random) >> (round % 4 * 7), bb = bits(random) >> (round % 3 * 9);
    std::memcpy(&a, &ba, 4);
    std::memcpy(&b, &bb, 4);
    const CellRange range{round % 5 == 0 ? 0.0f : a, round % 7 == 0 ? 0.0f : -b};
    const CellScale scale = ScaleFor(range);
    std::uniform_real_distribution<double> within(range.minimum, std::max(range.maximum, range.minimum + 1e-45f));
    std::bernoulli_distribution missing(0.1);
    std::vector<float> cells(10'000 + static_cast<std::size_t>(round));
    for (float& cell : cells) cell = missing(random) ? -9999.0f : static_cast<float>(within(random));
    ExpectSameAsReference(cells, kNoData, scale);
  }
}

// ---- Failures ----------------------------------------------------------------------------------------

TEST(CodingFailure, NanCellRaisesInvalidOperationAfterCodingTheCellsBefore) {
  // With the range 0 to 1, FLT_MAX scales beyond the single range, which overflows.
  const CellScale scale = ScaleFor({1.0f, 0.0f});
  const std::uint8_t byte = CodeCellReference(0.3f, kNoData, scale);
  for (const CellPath path : kPaths) {
    for (const std::size_t at : {0u, 5u, 8u, 21u, 39u}) {
      SCOPED_TRACE(PathName(path) + " NaN at " + std::to_string(at));
      std::vector<float> cells(40, 0.3f);
      cells[at] = std::numeric_limits<float>::quiet_NaN();
      if (at + 1 < cells.size()) cells[at + 1] = FLT_MAX;  // would overflow, but the NaN comes first
      std::vector<std::uint8_t> bytes(cells.size(), 0);
      try {
        CodeCells(cells.data(), cells.size(), kNoData, scale, bytes.data(), path);
        ADD_FAILURE() << "no exception";
      } catch (const EInvalidOp& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
      }
      for (std::size_t i = 0; i < at; ++i) EXPECT_EQ(bytes[i], byte) << i;
    }
  }
}

TEST(CodingFailure, CellBeyondTheSingleRangeOverflowsAsTheReferenceDoes) {
  // The range 0 to 1 puts FLT_MAX far beyond the single range once scaled.
  const CellScale scale = ScaleFor({1.0f, 0.0f});
  for (const CellPath path : kPaths) {
    SCOPED_TRACE(PathName(path));
    std::vector<float> cells(17, 0.5f);
    cells[9] = FLT_MAX;
    std::vector<std::uint8_t> bytes(cells.size());
    EXPECT_THROW(CodeCellReference(FLT_MAX, kNoData, scale), EOverflow);
    EXPECT_THROW(CodeCells(cells.data(), cells.size(), kNoData, scale, bytes.data(), path), EOverflow);
  }
}

// ---- The range scan ------------------------------------------------------------------------------------

// The scan as plainly as it can be written: each valid cell may raise the maximum, then lower the minimum.
CellRange PlainScan(const std::vector<float>& cells, std::int32_t nodata, CellRange range = {}) {
  for (const float v : cells) {
    if (static_cast<double>(v) == static_cast<double>(nodata)) continue;
    if (v > range.maximum) range.maximum = v;
    if (v < range.minimum) range.minimum = v;
  }
  return range;
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RangeScan, FindsWhatAPlainLoopFindsToTheBit) {
  std::mt19937 random(99);
  for (const std::int32_t nodata : {kNoData, 0, 16777217, 100}) {
    for (const std::size_t count : {0u, 1u, 7u, 15u, 16u, 17u, 33u, 1000u, 4099u}) {
      SCOPED_TRACE("nodata " + std::to_string(nodata) + " count " + std::to_string(count));
      std::uniform_int_distribution<int> pick(0, 9);
      std::normal_distribution<float> value(0, 500);
      std::vector<float> cells(count);
      for (float& cell : cells) {
        switch (pick(random)) {
          case 0: cell = static_cast<float>(nodata); break;
          case 1: cell = -0.0f; break;
          case 2: cell = 0.0f; break;
          case 3: cell = 16777216.0f; break;
          default: cell = value(random);
        }
      }
      for (const CellPath path : kPaths) {
        SCOPED_TRACE(PathName(path));
        const CellRange expected = PlainScan(cells, nodata);
        CellRange got;
        ScanCells(cells.data(), cells.size(), nodata, got, path);
        EXPECT_TRUE(SameBits(got.maximum, expected.maximum)) << got.maximum << " vs " << expected.maximum;
        EXPECT_TRUE(SameBits(got.minimum, expected.minimum)) << got.minimum << " vs " << expected.minimum;
        // Continuing from a range that already holds values.
        CellRange start{250.5f, -3.0f};
        const CellRange expected_more = PlainScan(cells, nodata, start);
        ScanCells(cells.data(), cells.size(), nodata, start, path);
        EXPECT_TRUE(SameBits(start.maximum, expected_more.maximum));
        EXPECT_TRUE(SameBits(start.minimum, expected_more.minimum));
      }
    }
  }
}

TEST(RangeScan, ZerosOfEitherSignLeaveTheRangeAtPositiveZero) {
  for (const CellPath path : kPaths) {
    std::vector<float> cells(40, -0.0f);
    CellRange range;
    ScanCells(cells.data(), cells.size(), kNoData, range, path);
    EXPECT_FALSE(std::signbit(range.maximum));
    EXPECT_FALSE(std::signbit(range.minimum));
  }
}

TEST(RangeScan, InfinitiesWidenTheRange) {
  for (const CellPath path : kPaths) {
    std::vector<float> cells(20, 3.0f);
    cells[4] = -std::numeric_limits<float>::infinity();
    cells[17] = std::numeric_limits<float>::infinity();
    CellRange range;
    ScanCells(cells.data(), cells.size(), kNoData, range, path);
    EXPECT_EQ(range.maximum, std::numeric_limits<float>::infinity());
    EXPECT_EQ(range.minimum, -std::numeric_limits<float>::infinity());
  }
}

TEST(RangeScan, NanCellRaisesInvalidOperationWhereverItIs) {
  for (const CellPath path : kPaths) {
    for (const std::size_t at : {0u, 3u, 15u, 16u, 31u, 40u}) {
      SCOPED_TRACE(PathName(path) + " NaN at " + std::to_string(at));
      std::vector<float> cells(41, -9999.0f);
      cells[at] = std::numeric_limits<float>::quiet_NaN();
      CellRange range;
      try {
        ScanCells(cells.data(), cells.size(), kNoData, range, path);
        ADD_FAILURE() << "no exception";
      } catch (const EInvalidOp& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo
