// The header format: code lists, the validity test on attaching (listed and random files), the per-type
// defaults as they stand in memory against the bytes that stay on disk, and the header.bin template.
#include "image/header_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "image/kel_img.h"
#include "image_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::HeaderBytes;
namespace off = test::off;
using B = Real48::Bytes;

TEST(HeaderCodes, ExactlyTheListedImageTypesAndProjectionsAreValid) {
  for (int code = 0; code < 256; ++code) {
    SCOPED_TRACE(code);
    const auto c = static_cast<std::uint8_t>(code);
    EXPECT_EQ(header_format::IsValidImageType(c), test::kValidTypes.count(code) == 1);
    EXPECT_EQ(header_format::IsValidProjection(c), test::kValidProjections.count(code) == 1);
  }
}

TEST(AttachValidity, JudgesTheFileBySizeAndCodes) {
  // Size, image type, projection, valid.
  const std::tuple<std::size_t, std::uint8_t, std::uint8_t, bool> cases[] = {
      {511, 0, 0, false},  {512, 0, 0, true},    {0, 0, 0, false},   {2000, 200, 3, true}, {512, 2, 0, false},
      {512, 15, 0, false}, {512, 201, 0, false}, {512, 0, 1, false}, {512, 0, 7, true},    {512, 0, 10, false}};
  for (const auto& [size, image_type, projection, valid] : cases) {
    SCOPED_TRACE(std::to_string(size) + " bytes, type " + std::to_string(image_type) + ", projection " +
                 std::to_string(projection));
    HeaderBytes bytes(std::max<std::size_t>(size, 512));
    bytes.U8(off::kImageType, image_type).U8(off::kProjection, projection).I16(off::kColumns, 1);
    bytes.bytes.resize(size);
    test::ImageFixture f;
    f.Attach(bytes);
    EXPECT_EQ(f.img.State(), valid ? ImageState::ValidImage : ImageState::InvalidImage);
    EXPECT_TRUE(f.ui.errors.empty());
    EXPECT_EQ(test::ReadBytes(f.path), bytes.bytes);  // attaching never writes
  }
}

// Thousands of random and truncated files: only the runtime's own errors, and validity exactly by
// size and codes.
TEST(AttachRobustness, RandomAndTruncatedFilesRaiseOnlyRuntimeErrors) {
  test::ImageFixture f;  // one component throughout, so every transition between files is exercised
  const std::vector<int> types(test::kValidTypes.begin(), test::kValidTypes.end());
  std::mt19937 rng(20240601);
  int valid = 0, raised = 0;

  for (int i = 0; i < 3000; ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    // Anything up to a bit past 512, one byte short, or a full header.
    const std::size_t size = i % 4 == 0 ? rng() % 600 : i % 4 == 1 ? 511 : 512 + rng() % 64;
    test::HeaderBytes h(size);
    for (auto& b : h.bytes) b = static_cast<std::uint8_t>(rng());
    // Mostly valid codes, so that the defaults and the projections are reached.
    if (size > off::kProjection && rng() % 5 != 0) {
      h.U8(off::kImageType, static_cast<std::uint8_t>(types[rng() % types.size()]))
          .U8(off::kProjection, static_cast<std::uint8_t>(rng() % 10));
    }
    // Small sane geometry for some, so the projections see positions inside their domains as well.
    if (size >= 512 && i % 3 == 0) {
      const auto pick = [&](unsigned n) { return static_cast<std::int16_t>(rng() % n); };
      h.I16(off::kRows, pick(50) + 1).I16(off::kColumns, pick(50) + 1);
      h.Real(off::kRefLatitude, pick(180) - 90).Real(off::kRefLongitude, pick(360) - 180);
      h.Real(off::kColumnSpacing, 0.001L * (pick(1000) + 1)).Real(off::kRowSpacing, 0.001L * (pick(1000) + 1));
    }
    try {
      f.Attach(h);
    } catch (const Error&) {
      ++raised;  // a floating-point error of the corner computation
    } catch (const std::exception& e) {
      FAIL() << "unexpected exception: " << e.what();
    }
    const bool expect_valid = size >= 512 && test::kValidTypes.count(h.bytes[off::kImageType]) == 1 &&
                              test::kValidProjections.count(h.bytes[off::kProjection]) == 1;
    ASSERT_EQ(f.img.State(), expect_valid ? ImageState::ValidImage : ImageState::InvalidImage);
    ASSERT_TRUE(f.ui.errors.empty());
    valid += expect_valid;
  }
  // The mix reached both outcomes.
  EXPECT_GT(valid, 1000);
  EXPECT_LT(raised, valid);
}

// --- Per-type defaults ---

// Type, MinValue, MaxValue, MissingValue, Decimals, Gain, Offset.
struct Defaults {
  int image_type, min_value, max_value, missing_value, decimals;
  B gain, offset;
};

// The six bytes of a short binary fraction.
B R(long double v) { return Real48::Round(v).ToBytes(); }

void ExpectDefaults(const Defaults& c, const TImageHeader& h) {
  EXPECT_EQ((std::tuple<int, int, int, int>(h.MinValue, h.MaxValue, h.MissingValue, h.Decimals)),
            (std::tuple(c.min_value, c.max_value, c.missing_value, c.decimals)));
  EXPECT_EQ(h.Gain.ToBytes(), c.gain);
  EXPECT_EQ(h.Offset.ToBytes(), c.offset);
}

// What the file holds before the defaults apply: every defaulted field has a value no type gives.
HeaderBytes StoredHeader(int image_type) {
  HeaderBytes bytes;
  bytes.U8(off::kImageType, static_cast<std::uint8_t>(image_type)).I16(off::kRows, 2).I16(off::kColumns, 2);
  bytes.U8(off::kMinValue, 77).U8(off::kMaxValue, 88).U8(off::kMissingValue, 99);
  bytes.Real(off::kGain, 0.5L).Real(off::kOffset, 7.0L).U8(off::kDecimals, 9);
  return bytes;
}

class TypeDefaults : public testing::TestWithParam<Defaults> {};

TEST_P(TypeDefaults, ReplaceTheScaleInMemoryAndLeaveTheFileAlone) {
  const Defaults& c = GetParam();
  test::ImageFixture f;
  const HeaderBytes stored = StoredHeader(c.image_type);
  f.Attach(stored);
  ASSERT_EQ(f.img.State(), ImageState::ValidImage);
  ExpectDefaults(c, f.img.Header());
  EXPECT_EQ(f.img.MissingValue(), c.missing_value);  // the properties follow the defaults
  EXPECT_EQ(test::ReadBytes(f.path), stored.bytes);
}

const B k8Thousandths{0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03};
INSTANTIATE_TEST_SUITE_P(
    AllTypes, TypeDefaults,
    testing::Values(
        Defaults{0, 0, 255, 0, 0, R(1), R(0)}, Defaults{1, 2, 255, 0, 2, R(0.00390625L), R(-0.3203125L)},
        Defaults{6, 2, 255, 0, 2, {0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}, R(-1)},
        Defaults{10, 0, 253, 254, 0, R(1), R(0)}, Defaults{11, 0, 253, 254, 1, R(4), R(3)},
        Defaults{12, 0, 253, 254, 2, k8Thousandths, {0x81, 0xE3, 0xA5, 0x9B, 0xC4, 0x80}},
        Defaults{13, 2, 253, 254, 2, R(0.00390625L), R(-0.3203125L)},
        Defaults{14, 0, 250, 254, 2, {0x78, 0x54, 0xE3, 0xA5, 0x9B, 0x44}, R(0)},
        Defaults{100, 0, 255, 0, 1, R(2), R(-256)}, Defaults{101, 2, 255, 0, 3, R(0.0078125L), R(-1)},
        Defaults{106, 2, 255, 0, 3, {0x7B, 0x71, 0x3D, 0x0A, 0xD7, 0x23}, {0x82, 0x71, 0x3D, 0x0A, 0xD7, 0xA3}},
        Defaults{110, 0, 253, 254, 1, R(2), R(-256)}, Defaults{111, 0, 253, 254, 2, R(8), R(-1024)},
        Defaults{112, 0, 253, 254, 3, k8Thousandths, {0x81, 0x8D, 0x97, 0x6E, 0x12, 0x83}},
        Defaults{113, 2, 253, 254, 3, R(0.0078125L), R(-1)},
        // Offset -0.768, exactly -128 times the gain.
        Defaults{114, 0, 250, 254, 3, {0x79, 0x54, 0xE3, 0xA5, 0x9B, 0x44}, {0x80, 0x54, 0xE3, 0xA5, 0x9B, 0xC4}},
        // Type 200 keeps the stored scale and Decimals (not 0 here).
        Defaults{200, 0, 253, 254, 9, R(0.5L), R(7)}),
    [](const testing::TestParamInfo<Defaults>& p) { return "Type" + std::to_string(p.param.image_type); });

TEST(TypeDefaultsTable, CodesOutsideTheListGetThePlainByteScale) {
  for (int code : {2, 15, 201, 255}) {
    SCOPED_TRACE(code);
    TImageHeader h;
    h.ImageType = static_cast<std::uint8_t>(code);
    h.MinValue = h.MissingValue = h.Decimals = 9;
    h.Gain = h.Offset = Real48::Round(0.5L);
    header_format::ApplyTypeDefaults(h);
    ExpectDefaults({code, 0, 255, 0, 0, R(1), R(0)}, h);
  }
}

TEST(TypeDefaultsTable, Type200DecimalsFollowFromThePhysicalRangeWhenStoredAsZero) {
  // Range = 253 x gain: 0.253, 2.53, 25.3, 253; the limits 0.5, 5 and 50 fall on either side.
  const struct {
    long double gain;
    int decimals;
    // clang-format off
  } cases[] = {{0.001L, 3}, {0.01L, 2}, {0.1L, 1}, {1.0L, 0}, {-1.0L, 3}, {0.0L, 3},
               {0.5L / 253 * 0.999L, 3}, {0.5L / 253 * 1.001L, 2}, {5.0L / 253 * 0.999L, 2},
               {5.0L / 253 * 1.001L, 1}, {50.0L / 253 * 0.999L, 1}, {50.0L / 253 * 1.001L, 0}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE("gain " + std::to_string(static_cast<double>(c.gain)));
    test::ImageFixture f;
    f.Attach(StoredHeader(200).Real(off::kGain, c.gain).Real(off::kOffset, -3.0L).U8(off::kDecimals, 0));
    ASSERT_EQ(f.img.State(), ImageState::ValidImage);
    EXPECT_EQ(f.img.Decimals(), c.decimals);
    EXPECT_EQ(f.img.Header().Decimals, c.decimals);
    EXPECT_EQ(test::ReadBytes(f.path).at(off::kDecimals), 0);
  }
}

// The header template header.bin that the build writes beside the executables.
TEST(HeaderTemplate, IsAValidType200GeographicImage) {
  test::ImageFixture f;
  f.img.SetFileName(KAVRIMO_TEMPLATE_PATH);
  const test::ByteVector bytes = test::ReadBytes(KAVRIMO_TEMPLATE_PATH);
  ASSERT_EQ(bytes.size(), 512u);
  ASSERT_EQ(f.img.State(), ImageState::ValidImage);
  // Type, projection, rows, columns, Gain, Offset, Decimals (stored, not derived on attaching).
  EXPECT_EQ((std::vector<double>{1.0 * f.img.ImageType(), 1.0 * f.img.Projection(), 1.0 * f.img.Rows(),
                                 1.0 * f.img.Columns(), f.img.Gain(), f.img.Offset(), 1.0 * bytes[off::kDecimals]}),
            (std::vector<double>{200, 3, 1, 1, 1, 0, 3}));
  EXPECT_EQ(f.img.Comment().rfind("ZUB/Marentaal 1994-", 0), 0u);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (test::IsUninterpreted(i)) {
      ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace kavrimo
