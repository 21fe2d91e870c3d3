// The block loops of the coding against the extended-precision reference, cell for cell, on the vector
// and the portable path: worked examples, cells on and beside every rounding tie, the ends of the single
// range, denormal slopes, exhaustive sweeps of small ranges, random grids, the first failing cell; and
// the range scan against a plain loop.
#include "app/conversion/cell_coding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
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

constexpr std::int32_t kNoData = -9999;
constexpr float kInf = INFINITY;
constexpr float kNaN = NAN;
const CellPath kPaths[] = {CellPath::Best, CellPath::Portable};

std::string PathName(CellPath path) { return path == CellPath::Best ? "best" : "portable"; }

// Reports the first cell whose byte differs from the reference's.
void ExpectSameBytes(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& expected,
                     const std::vector<float>& cells, CellPath path) {
  const auto i = static_cast<std::size_t>(std::mismatch(got.begin(), got.end(), expected.begin()).first - got.begin());
  if (i < cells.size()) {
    ADD_FAILURE() << PathName(path) << ": cell " << i << " = " << std::hexfloat << cells[i] << std::defaultfloat << " ("
                  << cells[i] << "): got " << int{got[i]} << ", reference " << int{expected[i]};
  }
}

// Codes cells on both paths and compares each byte with the reference.
void ExpectSameAsReference(const std::vector<float>& cells, std::int32_t nodata, const CellScale& scale) {
  std::vector<std::uint8_t> expected(cells.size()), got(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) expected[i] = CodeCellReference(cells[i], nodata, scale);
  for (const CellPath path : kPaths) {
    std::fill(got.begin(), got.end(), 77);
    CodeCells(cells.data(), cells.size(), nodata, scale, got.data(), path);
    ExpectSameBytes(got, expected, cells, path);
  }
}

// The cells repeated eleven times, past a vector's width, so that the vector loops run and not only
// their tails.
std::vector<float> PastAVector(const std::vector<float>& cells) {
  std::vector<float> repeated(11 * cells.size());
  for (std::size_t i = 0; i < repeated.size(); ++i) repeated[i] = cells[i % cells.size()];
  return repeated;
}

TEST(CodingExample, GivesTheDocumentedBytes) {
  // clang-format off
  const struct { const char* name; std::vector<float> cells; std::int32_t nodata; std::vector<int> bytes; } cases[] = {
      // 1000 / 7.905... = 126.4999..., which rounds to the single 126.5, a tie that goes to 126.
      {"range 0 to 2000", {100, 1000, 2000}, kNoData, {13, 126, 253}},
      {"negative range", {-50, -30, -10}, kNoData, {0, 101, 202}},
      {"all five", {5, 5, 5}, kNoData, {253, 253, 253}},
      {"no-data and near no-data", {-9999.0f, -9999.5f, 10}, kNoData, {255, 0, 253}},
      {"zero is no-data without the key", {0.0f, -0.0f, 4}, 0, {255, 255, 253}},
      // 16777217 is no single: no cell equals it, and 16777216 is a valid cell.
      {"no-data that no single holds", {16777216.0f, 0.0f}, 16777217, {253, 0}},
      {"all no-data, slope 0", {-9999, -9999}, kNoData, {255, 255}},
      {"valid zeros, slope 0", {0, -9999, 0}, kNoData, {0, 255, 0}}};
  // clang-format on
  for (const auto& c : cases) {
    const std::vector<float> cells = PastAVector(c.cells);
    for (const CellPath path : kPaths) {
      SCOPED_TRACE(c.name + (", " + PathName(path)));
      CellRange range;
      ScanCells(cells.data(), cells.size(), c.nodata, range, path);
      std::vector<std::uint8_t> bytes(cells.size());
      CodeCells(cells.data(), cells.size(), c.nodata, ScaleFor(range), bytes.data(), path);
      for (std::size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(bytes[i], c.bytes[i % c.bytes.size()]) << i;
    }
  }
}

TEST(CodingAtTies, EqualsTheReferenceOnEveryCell) {
  // tie_ulps: the singles taken on each side of every tie; -1: every single of the range instead.
  // clang-format off
  const struct { const char* name; float minimum, maximum; int tie_ulps; } cases[] = {
      {"ordinary", -1000.37f, 2345.6f, 12}, {"positive", 0.0f, 2000.0f, 12}, {"negative", -50.0f, 0.0f, 12},
      {"tiny", -1.0e-30f, 3.0e-31f, 12}, {"huge", -FLT_MAX, FLT_MAX, 12}, {"largest maximum", 0.0f, FLT_MAX, 12},
      {"denormal slope", -300 * FLT_TRUE_MIN, 1000 * FLT_TRUE_MIN, 12}, {"smallest normal", -FLT_MIN, FLT_MIN, 12},
      {"one denormal", 0.0f, FLT_TRUE_MIN, 12}, {"far apart exponents", -1.0e-20f, 1.0e20f, 12},
      {"every single near each tie", -87.25f, 1234.5678f, 1 << 10},
      {"every denormal", -700 * FLT_TRUE_MIN, 2500 * FLT_TRUE_MIN, -1},
      {"every single around the smallest normal", -FLT_MIN, 3 * FLT_MIN, -1}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CellScale scale = ScaleFor({c.maximum, c.minimum});
    // Cells inside the range, with a no-data cell before every seventh so that no-data is mixed in.
    std::vector<float> cells;
    const auto add = [&](float v) {
      if (v < c.minimum || v > c.maximum) return;
      if (cells.size() % 7 == 0) cells.push_back(-9999.0f);
      cells.push_back(v);
    };
    const auto add_near = [&](long double v, int ulps) {
      float up = static_cast<float>(v), down = up;
      add(up);
      for (int i = 0; i < ulps; ++i) add(up = std::nextafter(up, kInf)), add(down = std::nextafter(down, -kInf));
    };
    if (c.tie_ulps < 0) {
      for (float v = c.minimum; v <= c.maximum; v = std::nextafter(v, kInf)) add(v);
    } else {
      // Quotients on and next to every tie k + 0.5 and every whole k, the range's ends and 0, and the
      // smallest and largest single magnitudes.
      for (int k = 0; k <= kTopByte; ++k) {
        add_near(static_cast<long double>(scale.intercept) + (k + 0.5L) * scale.slope, c.tie_ulps);
        add_near(static_cast<long double>(scale.intercept) + k * static_cast<long double>(scale.slope), 2);
      }
      for (const float end : {c.minimum, c.maximum, 0.0f, -0.0f}) add_near(end, 8);
      for (const float m : {FLT_TRUE_MIN, FLT_MIN, FLT_MAX, 1.0f}) add_near(m, 4), add_near(-m, 4);
    }
    if (cells.size() % 2 == 0) cells.push_back(c.maximum);  // an odd count: the vector tails run too
    EXPECT_GT(cells.size(), 254u);
    ExpectSameAsReference(cells, kNoData, scale);
  }
}

TEST(CodingRandom, EqualsTheReferenceOnRandomGrids) {
  std::mt19937 random(2024);
  std::uniform_int_distribution<std::uint32_t> bits(0, 0x7f7fffff);
  std::bernoulli_distribution missing(0.1);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Ranges from denormal to huge, of either sign, with the ends drawn as bit patterns.
    const float a = std::bit_cast<float>(bits(random) >> (round % 4 * 7));
    const float b = std::bit_cast<float>(bits(random) >> (round % 3 * 9));
    const CellRange range{round % 5 == 0 ? 0.0f : a, round % 7 == 0 ? 0.0f : -b};
    std::uniform_real_distribution<double> within(range.minimum, std::max(range.maximum, range.minimum + 1e-45f));
    std::vector<float> cells(10'000 + static_cast<std::size_t>(round));
    for (float& cell : cells) cell = missing(random) ? -9999.0f : static_cast<float>(within(random));
    ExpectSameAsReference(cells, kNoData, ScaleFor(range));
  }
  // Scales that no range gives: negative slopes, and cells far outside the range, whose bytes wrap.
  std::uniform_real_distribution<float> uniform(-300, 300);
  for (const CellScale scale : {CellScale{-2.5f, 10.0f}, CellScale{0.75f, -1.0e6f}, CellScale{1.0e-3f, 0.0f}}) {
    std::vector<float> cells(5000);
    for (float& cell : cells) cell = uniform(random);
    ExpectSameAsReference(cells, kNoData, scale);
  }
}

// With the range 0 to 1, FLT_MAX scales beyond the single range, which overflows; a NaN fails the
// no-data comparison, in the scan too. The first failing cell in order decides, and the cells before it
// are coded all the same.
TEST(CodingFailure, FirstFailingCellRaisesAfterTheCellsBeforeAreCoded) {
  const CellScale scale = ScaleFor({1.0f, 0.0f});
  EXPECT_EQ(MessageOf([&] { CodeCellReference(FLT_MAX, kNoData, scale); }), "Floating point overflow");
  const std::uint8_t byte = CodeCellReference(0.3f, kNoData, scale);
  for (const CellPath path : kPaths) {
    for (const float bad : {kNaN, FLT_MAX}) {
      for (const std::size_t at : {0u, 5u, 15u, 16u, 31u, 40u}) {
        SCOPED_TRACE(PathName(path) + (std::isnan(bad) ? " NaN" : " FLT_MAX") + " at " + std::to_string(at));
        std::vector<float> cells(41, 0.3f);
        cells[at] = bad;
        if (at + 1 < cells.size()) cells[at + 1] = std::isnan(bad) ? FLT_MAX : kNaN;  // fails later in order
        std::vector<std::uint8_t> bytes(cells.size(), 0);
        const std::string message = std::isnan(bad) ? "Invalid floating point operation" : "Floating point overflow";
        EXPECT_EQ(MessageOf([&] { CodeCells(cells.data(), cells.size(), kNoData, scale, bytes.data(), path); }),
                  message);
        for (std::size_t i = 0; i < at; ++i) EXPECT_EQ(bytes[i], byte) << i;
        CellRange range;
        if (!std::isnan(bad)) continue;
        EXPECT_EQ(MessageOf([&] { ScanCells(cells.data(), cells.size(), kNoData, range, path); }), message);
      }
    }
  }
}

// ---- The range scan ------------------------------------------------------------------------------------

// The scan as plainly as it can be written: each valid cell may raise the maximum, then lower the minimum;
// compared to the bit, from the empty range and from one that already holds values.
void ExpectScanAsPlainLoop(const std::vector<float>& cells, std::int32_t nodata) {
  const auto bits = [](CellRange r) { return std::pair(std::bit_cast<int>(r.maximum), std::bit_cast<int>(r.minimum)); };
  for (const CellRange start : {CellRange{}, CellRange{250.5f, -3.0f}}) {
    CellRange expected = start;
    for (const float v : cells) {
      if (static_cast<double>(v) == static_cast<double>(nodata)) continue;
      if (v > expected.maximum) expected.maximum = v;
      if (v < expected.minimum) expected.minimum = v;
    }
    for (const CellPath path : kPaths) {
      CellRange got = start;
      ScanCells(cells.data(), cells.size(), nodata, got, path);
      EXPECT_EQ(bits(got), bits(expected)) << PathName(path) << " from " << start.maximum;
    }
  }
}

TEST(RangeScan, FindsWhatAPlainLoopFindsToTheBit) {
  ExpectScanAsPlainLoop(std::vector<float>(40, -0.0f), kNoData);  // the range stays at +0
  ExpectScanAsPlainLoop({3, 3, 3, 3, -kInf, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, kInf, 3, 3}, kNoData);
  std::mt19937 random(99);
  std::uniform_int_distribution<int> pick(0, 9);
  std::normal_distribution<float> value(0, 500);
  for (const std::int32_t nodata : {kNoData, 0, 16777217, 100}) {
    for (const std::size_t count : {0u, 1u, 7u, 15u, 16u, 17u, 33u, 1000u, 4099u}) {
      SCOPED_TRACE("nodata " + std::to_string(nodata) + " count " + std::to_string(count));
      const float special[] = {static_cast<float>(nodata), -0.0f, 0.0f, 16777216.0f};
      std::vector<float> cells(count);
      for (float& cell : cells) {
        const int kind = pick(random);
        cell = kind < 4 ? special[kind] : value(random);
      }
      ExpectScanAsPlainLoop(cells, nodata);
    }
  }
}

// Grids whose NaN cells are the missing ones: NaN codes as 255 and leaves the range alone on every path,
// past a vector's width, in the wrapping and the clamped coding; -9999 is then an ordinary value.
TEST(NotANumberMissing, NaNCellsAreSkippedAndCoded255) {
  const CellNoData nan = CellNoData::NotANumber();
  const std::vector<float> cells = PastAVector({100, kNaN, 1000, -kNaN, 2000, -9999});
  const FixedScale fixed{ScaleFor({2000, 0}), {2000, 0}};
  for (const CellPath path : kPaths) {
    SCOPED_TRACE(PathName(path));
    CellRange range;
    ScanCells(cells.data(), cells.size(), nan, range, path);
    EXPECT_EQ(std::pair(range.maximum, range.minimum), std::pair(2000.0f, -9999.0f));
    std::vector<std::uint8_t> bytes(cells.size());
    CodeCells(cells.data(), cells.size(), nan, ScaleFor({2000, 0}), bytes.data(), path);
    OutsideCounts counts;
    std::vector<std::uint8_t> clamped(cells.size());
    CodeCellsClamped(cells.data(), cells.size(), nan, fixed, clamped.data(), counts, path);
    for (std::size_t i = 0; i < cells.size(); i += 6) {
      EXPECT_EQ(std::vector<int>(bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i) + 5),
                (std::vector<int>{13, 255, 126, 255, 253}));
      EXPECT_EQ(int{clamped[i + 1]}, 255);
      EXPECT_EQ(int{clamped[i + 5]}, 0);
    }
    EXPECT_EQ(counts.below, 11);
    EXPECT_EQ(counts.above, 0);
  }
}

// ---- The coding over a fixed range -------------------------------------------------------------------

// The clamped coding as the user reads it: the usual byte of the cell, with codes below 0 held at 0
// and above 253 at 253 (a code that would overflow single is far above 253); no-data 255.
int PlainCodeClamped(float v, std::int32_t nodata, const CellScale& scale) {
  if (static_cast<double>(v) == static_cast<double>(nodata)) return 255;
  if (scale.slope == 0) return 0;
  const long double q = (static_cast<long double>(v) - scale.intercept) / scale.slope;
  if (q > 1e6L) return kTopByte;
  if (q < -1e6L) return 0;
  return static_cast<int>(std::clamp(std::nearbyint(static_cast<long double>(static_cast<float>(q))), 0.0L, 253.0L));
}

// Codes cells on both paths and compares each byte with the reference and the counts with a plain count.
void ExpectClampedSameAsReference(const std::vector<float>& cells, std::int32_t nodata, const FixedScale& fixed) {
  std::vector<std::uint8_t> expected(cells.size()), got(cells.size());
  OutsideCounts plain;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    expected[i] = CodeCellClampedReference(cells[i], nodata, fixed);
    if (expected[i] == 255) continue;
    plain.below += cells[i] < fixed.range.minimum;
    plain.above += cells[i] > fixed.range.maximum;
  }
  for (const CellPath path : kPaths) {
    std::fill(got.begin(), got.end(), 77);
    OutsideCounts counts{5, 7};  // added to, not replaced
    CodeCellsClamped(cells.data(), cells.size(), nodata, fixed, got.data(), counts, path);
    EXPECT_EQ(std::pair(counts.below - 5, counts.above - 7), std::pair(plain.below, plain.above)) << PathName(path);
    ExpectSameBytes(got, expected, cells, path);
  }
}

FixedScale Fixed(float minimum, float maximum) { return {ScaleFor({maximum, minimum}), {maximum, minimum}}; }

TEST(ClampedCoding, HoldsCodesOutsideTheRangeAtItsEnds) {
  // clang-format off
  const struct { const char* name; FixedScale fixed; std::vector<float> cells; std::vector<int> bytes; } cases[] = {
      // Over 0 to 2000 the cells code as over their own range 0 to 2000; 3000 would wrap to 123.
      {"wider grid", Fixed(0, 2000), {100, 1000, 2000, 3000, -1, -9999}, {13, 126, 253, 253, 0, 255}},
      // A range that does not include 0, the user's minimum not widened to 0.
      {"range above 0", Fixed(100, 353), {100, 101, 226.5f, 353, 99.9f, 1e30f}, {0, 1, 126, 253, 0, 253}},
      {"negative range", Fixed(-100, 2500), {-100, 0, 2500, -3000, 1e4f}, {0, 10, 253, 0, 253}},
      {"infinities", Fixed(0, 1), {INFINITY, -INFINITY, 0.5f}, {253, 0, 126}},
      // A span that no single slope holds: every cell inside codes 0, those above 253.
      {"slope 0", Fixed(0, FLT_TRUE_MIN), {0, FLT_TRUE_MIN, 1, -1}, {0, 0, 253, 0}},
      // The denormal slope 300/253 x 2^-149 rounds to 2^-149: codes inside the range reach 300, held at 253.
      {"denormal slope", Fixed(0, 300 * FLT_TRUE_MIN), {300 * FLT_TRUE_MIN, 254 * FLT_TRUE_MIN, 100 * FLT_TRUE_MIN},
       {253, 253, 100}}};
  // clang-format on
  for (const auto& c : cases) {
    const std::vector<float> cells = PastAVector(c.cells);
    for (const CellPath path : kPaths) {
      SCOPED_TRACE(c.name + (", " + PathName(path)));
      std::vector<std::uint8_t> bytes(cells.size());
      OutsideCounts counts;
      CodeCellsClamped(cells.data(), cells.size(), kNoData, c.fixed, bytes.data(), counts, path);
      OutsideCounts expected;
      for (std::size_t i = 0; i < cells.size(); ++i) {
        EXPECT_EQ(bytes[i], c.bytes[i % c.bytes.size()]) << i;
        if (cells[i] == -9999) continue;
        expected.below += cells[i] < c.fixed.range.minimum;
        expected.above += cells[i] > c.fixed.range.maximum;
      }
      EXPECT_EQ(std::pair(counts.below, counts.above), std::pair(expected.below, expected.above));
      EXPECT_EQ(MessageOf([&] { CodeCellClampedReference(kNaN, kNoData, c.fixed); }),
                "Invalid floating point operation");
    }
  }
}

// Random fixed ranges, of any sign and width, not including 0 or including it; cells on and beside every
// tie k + 0.5 from far below the range to far above it, its ends, and cells drawn across three times its
// width. The reference also equals the usual byte held to 0..253 wherever the slope is not denormal.
TEST(ClampedCoding, EqualsTheReferenceOnRandomRangesAndTies) {
  std::mt19937 random(77);
  std::uniform_real_distribution<double> magnitude(-30, 30);
  std::bernoulli_distribution negative(0.4), missing(0.05);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const auto draw = [&] {
      return static_cast<float>((negative(random) ? -1 : 1) * std::pow(10.0, magnitude(random) / 3));
    };
    float a = draw(), b = round % 4 == 0 ? a * (1 + 1e-5f) : draw();  // every fourth range narrow
    if (a == b) b = std::nextafter(a, kInf);
    const FixedScale fixed = Fixed(std::min(a, b), std::max(a, b));
    const CellScale& scale = fixed.scale;
    std::vector<float> cells;
    const auto add_near = [&](long double v, int ulps) {
      float up = static_cast<float>(v), down = up;
      cells.push_back(up);
      for (int i = 0; i < ulps; ++i)
        cells.push_back(up = std::nextafter(up, kInf)), cells.push_back(down = std::nextafter(down, -kInf));
      if (missing(random)) cells.push_back(-9999.0f);
    };
    for (int k = -6; k <= kTopByte + 6; ++k) add_near(scale.intercept + (k + 0.5L) * scale.slope, 3);
    for (const float end : {fixed.range.minimum, fixed.range.maximum}) add_near(end, 6);
    const double width = static_cast<double>(fixed.range.maximum) - fixed.range.minimum;
    std::uniform_real_distribution<double> across(fixed.range.minimum - width, fixed.range.maximum + width);
    for (int i = 0; i < 2000; ++i) cells.push_back(static_cast<float>(across(random)));
    ExpectClampedSameAsReference(cells, kNoData, fixed);
    if (!std::isnormal(scale.slope)) continue;
    for (const float v : cells) {
      ASSERT_EQ(int{CodeCellClampedReference(v, kNoData, fixed)}, PlainCodeClamped(v, kNoData, scale))
          << std::hexfloat << v << " over " << fixed.range.minimum << " to " << fixed.range.maximum;
    }
  }
}
}  // namespace
}  // namespace kavrimo
