// The header format: code lists, the validity test on attaching, and the per-type defaults as they
// stand in memory against the bytes that stay on disk.
#include "image/header_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "image/kel_img.h"
#include "image_test_support.h"

namespace kavrimo {
namespace {

using test::HeaderBytes;
namespace off = test::off;

TEST(HeaderCodes, ExactlyTheListedImageTypesAndProjectionsAreValid) {
  const std::set<int> types = {0, 1, 6, 10, 11, 12, 13, 14, 100, 101, 106, 110, 111, 112, 113, 114, 200};
  const std::set<int> projections = {0, 2, 3, 4, 5, 6, 7, 8, 9};
  for (int code = 0; code < 256; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(header_format::IsValidImageType(static_cast<std::uint8_t>(code)), types.count(code) == 1);
    EXPECT_EQ(header_format::IsValidProjection(static_cast<std::uint8_t>(code)), projections.count(code) == 1);
  }
}

TEST(HeaderFields, SixteenBitFieldsAreLittleEndianTwosComplement) {
  TImageHeader h;
  h.Rows = -2;
  h.Columns = 0x1234;
  const auto rows = header_format::EncodeField(h, HeaderFieldId::Rows);
  ASSERT_EQ(rows.size, 2u);
  EXPECT_EQ(rows.data[0], 0xFE);
  EXPECT_EQ(rows.data[1], 0xFF);
  const auto columns = header_format::EncodeField(h, HeaderFieldId::Columns);
  EXPECT_EQ(columns.data[0], 0x34);
  EXPECT_EQ(columns.data[1], 0x12);
  TImageHeader back;
  header_format::DecodeField(back, HeaderFieldId::Rows, rows.data.data());
  EXPECT_EQ(back.Rows, -2);
  EXPECT_EQ(header_format::EncodeField(h, static_cast<HeaderFieldId>(7)).size, 0u);
}

// --- Validity on attaching ---

struct ValidityCase {
  const char* name;
  std::size_t size;
  int image_type;
  int projection;
  bool valid;
};

class AttachValidity : public testing::TestWithParam<ValidityCase> {};

TEST_P(AttachValidity, JudgesTheFile) {
  const ValidityCase& c = GetParam();
  SCOPED_TRACE(c.name);
  test::TempDir dir;
  const std::string path = dir.File("a.img");
  HeaderBytes bytes(std::max<std::size_t>(c.size, 24));
  bytes.U8(off::kImageType, static_cast<std::uint8_t>(c.image_type));
  bytes.U8(off::kProjection, static_cast<std::uint8_t>(c.projection));
  if (c.size >= 34) bytes.I16(off::kRows, 1).I16(off::kColumns, 1);  // no columns: the cell width fails
  bytes.Bytes().resize(c.size);
  test::WriteBytes(path, bytes.Bytes());

  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  EXPECT_EQ(img.State(), c.valid ? ImageState::ValidImage : ImageState::InvalidImage);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(test::ReadBytes(path), bytes.Bytes());  // attaching never writes
}

INSTANTIATE_TEST_SUITE_P(
    Files, AttachValidity,
    testing::Values(ValidityCase{"511 bytes", 511, 0, 0, false}, ValidityCase{"512 bytes", 512, 0, 0, true},
                    ValidityCase{"100 bytes", 100, 0, 0, false}, ValidityCase{"empty", 0, 0, 0, false},
                    ValidityCase{"long file", 2000, 200, 3, true}, ValidityCase{"type 2", 512, 2, 0, false},
                    ValidityCase{"type 15", 512, 15, 0, false}, ValidityCase{"type 201", 512, 201, 0, false},
                    ValidityCase{"type 255", 512, 255, 0, false},
                    ValidityCase{"projection 1", 512, 0, 1, false},
                    ValidityCase{"projection 7", 512, 0, 7, true},
                    ValidityCase{"projection 10", 512, 0, 10, false}),
    [](const testing::TestParamInfo<ValidityCase>& p) { return "Case" + std::to_string(p.index); });

// --- Per-type defaults ---

struct DefaultsCase {
  int image_type;
  int min_value, max_value, missing_value;
  long double gain;
  long double offset;
  int decimals;
  std::optional<Real48::Bytes> gain_bytes;  // where the value is not a short binary fraction
  std::optional<Real48::Bytes> offset_bytes;
};

std::string Name(const DefaultsCase& c) { return "type " + std::to_string(c.image_type); }

// What the file holds before the defaults apply: every defaulted field has a value no type gives.
constexpr long double kStoredGain = 0.5L;
constexpr long double kStoredOffset = 7.0L;
constexpr int kStoredDecimals = 9;

HeaderBytes StoredHeader(int image_type) {
  HeaderBytes bytes;
  bytes.U8(off::kImageType, static_cast<std::uint8_t>(image_type))
      .U8(off::kProjection, 0)
      .I16(off::kRows, 2)
      .I16(off::kColumns, 2)
      .U8(off::kMinValue, 77)
      .U8(off::kMaxValue, 88)
      .U8(off::kMissingValue, 99)
      .Real(off::kGain, kStoredGain)
      .Real(off::kOffset, kStoredOffset)
      .U8(off::kDecimals, kStoredDecimals);
  return bytes;
}

void ExpectDefaults(const DefaultsCase& c, const TImageHeader& h) {
  EXPECT_EQ(h.MinValue, c.min_value);
  EXPECT_EQ(h.MaxValue, c.max_value);
  EXPECT_EQ(h.MissingValue, c.missing_value);
  EXPECT_EQ(h.Gain.Extended(), c.gain);  // exact for the binary fractions, nearest for the others
  if (c.gain_bytes) {
    EXPECT_EQ(h.Gain.ToBytes(), *c.gain_bytes);
  }
  if (c.offset_bytes) {
    EXPECT_EQ(h.Offset.ToBytes(), *c.offset_bytes);
  } else {
    EXPECT_EQ(h.Offset.Extended(), c.offset);
  }
  EXPECT_EQ(h.Decimals, c.decimals);
}

class TypeDefaults : public testing::TestWithParam<DefaultsCase> {};

TEST_P(TypeDefaults, ReplaceTheScaleInMemoryAndLeaveTheFileAlone) {
  const DefaultsCase& c = GetParam();
  SCOPED_TRACE(Name(c));
  test::TempDir dir;
  const std::string path = dir.File("a.img");
  const HeaderBytes stored = StoredHeader(c.image_type);
  test::WriteBytes(path, stored.Bytes());

  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  ASSERT_EQ(img.State(), ImageState::ValidImage);
  ExpectDefaults(c, img.Header());
  // The properties hold the same values.
  EXPECT_EQ(img.MinValue(), c.min_value);
  EXPECT_EQ(img.MaxValue(), c.max_value);
  EXPECT_EQ(img.MissingValue(), c.missing_value);
  EXPECT_EQ(img.Gain(), img.Header().Gain.Value());
  EXPECT_EQ(img.Offset(), img.Header().Offset.Value());
  EXPECT_EQ(img.Decimals(), c.decimals);
  // On disk nothing changed.
  EXPECT_EQ(test::ReadBytes(path), stored.Bytes());
}

using B = Real48::Bytes;
const DefaultsCase kDefaults[] = {
    {0, 0, 255, 0, 1.0L, 0.0L, 0, {}, {}},
    {1, 2, 255, 0, 0.00390625L, -0.3203125L, 2, {}, B{0x7F, 0, 0, 0, 0, 0xA4}},
    {6, 2, 255, 0, Real48::FromBytes({0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}).Extended(), -1.0L, 2,
     B{0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}, {}},
    {10, 0, 253, 254, 1.0L, 0.0L, 0, {}, {}},
    {11, 0, 253, 254, 4.0L, 3.0L, 1, {}, {}},
    {12, 0, 253, 254, Real48::FromBytes({0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03}).Extended(), -1.006L, 2,
     B{0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03}, B{0x81, 0xE3, 0xA5, 0x9B, 0xC4, 0x80}},
    {13, 2, 253, 254, 0.00390625L, -0.3203125L, 2, {}, B{0x7F, 0, 0, 0, 0, 0xA4}},
    {14, 0, 250, 254, Real48::FromBytes({0x78, 0x54, 0xE3, 0xA5, 0x9B, 0x44}).Extended(), 0.0L, 2,
     B{0x78, 0x54, 0xE3, 0xA5, 0x9B, 0x44}, {}},
    {100, 0, 255, 0, 2.0L, -256.0L, 1, {}, {}},
    {101, 2, 255, 0, 0.0078125L, -1.0L, 3, {}, {}},
    {106, 2, 255, 0, Real48::FromBytes({0x7B, 0x71, 0x3D, 0x0A, 0xD7, 0x23}).Extended(), -2.56L, 3,
     B{0x7B, 0x71, 0x3D, 0x0A, 0xD7, 0x23}, B{0x82, 0x71, 0x3D, 0x0A, 0xD7, 0xA3}},
    {110, 0, 253, 254, 2.0L, -256.0L, 1, {}, {}},
    {111, 0, 253, 254, 8.0L, -1024.0L, 2, {}, {}},
    {112, 0, 253, 254, Real48::FromBytes({0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03}).Extended(), -1.024L, 3,
     B{0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03}, B{0x81, 0x8D, 0x97, 0x6E, 0x12, 0x83}},
    {113, 2, 253, 254, 0.0078125L, -1.0L, 3, {}, {}},
    // Offset -0.768, exactly -128 times the gain.
    {114, 0, 250, 254, Real48::FromBytes({0x79, 0x54, 0xE3, 0xA5, 0x9B, 0x44}).Extended(), -0.768L, 3,
     B{0x79, 0x54, 0xE3, 0xA5, 0x9B, 0x44}, B{0x80, 0x54, 0xE3, 0xA5, 0x9B, 0xC4}},
    // Type 200 keeps the stored scale and Decimals (not 0 here).
    {200, 0, 253, 254, kStoredGain, kStoredOffset, kStoredDecimals, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(AllTypes, TypeDefaults, testing::ValuesIn(kDefaults),
                         [](const testing::TestParamInfo<DefaultsCase>& p) {
                           return "Type" + std::to_string(p.param.image_type);
                         });

TEST(TypeDefaultsTable, Type114OffsetIsExactlyMinus128TimesGain) {
  TImageHeader h;
  h.ImageType = 114;
  header_format::ApplyTypeDefaults(h);
  EXPECT_EQ(h.Offset.Extended(), -128.0L * h.Gain.Extended());
}

TEST(TypeDefaultsTable, CodesOutsideTheListGetThePlainByteScale) {
  for (int code : {2, 15, 99, 201, 255}) {
    SCOPED_TRACE(code);
    TImageHeader h;
    h.ImageType = static_cast<std::uint8_t>(code);
    h.MinValue = 77;
    h.MissingValue = 99;
    h.Gain = Real48::Round(0.5L);
    h.Offset = Real48::Round(7.0L);
    h.Decimals = 9;
    header_format::ApplyTypeDefaults(h);
    ExpectDefaults({code, 0, 255, 0, 1.0L, 0.0L, 0, {}, {}}, h);
  }
}

struct DecimalsCase {
  long double gain;
  int decimals;
};

class Type200Decimals : public testing::TestWithParam<DecimalsCase> {};

TEST_P(Type200Decimals, FollowFromThePhysicalRangeWhenStoredAsZero) {
  const DecimalsCase& c = GetParam();
  SCOPED_TRACE("gain " + std::to_string(static_cast<double>(c.gain)));
  test::TempDir dir;
  const std::string path = dir.File("a.img");
  HeaderBytes stored = StoredHeader(200);
  stored.Real(off::kGain, c.gain).Real(off::kOffset, -3.0L).U8(off::kDecimals, 0);
  test::WriteBytes(path, stored.Bytes());

  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  ASSERT_EQ(img.State(), ImageState::ValidImage);
  EXPECT_EQ(img.Decimals(), c.decimals);
  EXPECT_EQ(img.Header().Decimals, c.decimals);
  EXPECT_EQ(img.Gain(), Real48::Round(c.gain).Value());
  EXPECT_EQ(img.Offset(), -3.0);
  EXPECT_EQ(img.MinValue(), 0);
  EXPECT_EQ(img.MaxValue(), 253);
  EXPECT_EQ(img.MissingValue(), 254);
  EXPECT_EQ(test::ReadBytes(path).at(off::kDecimals), 0);
}

// Range = 253 x gain: 0.253, 2.53, 25.3, 253; the limits 0.5, 5 and 50 fall on either side.
INSTANTIATE_TEST_SUITE_P(
    Ranges, Type200Decimals,
    testing::Values(DecimalsCase{0.001L, 3}, DecimalsCase{0.01L, 2}, DecimalsCase{0.1L, 1},
                    DecimalsCase{1.0L, 0}, DecimalsCase{-1.0L, 3}, DecimalsCase{0.0L, 3},
                    DecimalsCase{0.5L / 253 * 0.999L, 3}, DecimalsCase{0.5L / 253 * 1.001L, 2},
                    DecimalsCase{5.0L / 253 * 0.999L, 2}, DecimalsCase{5.0L / 253 * 1.001L, 1},
                    DecimalsCase{50.0L / 253 * 0.999L, 1}, DecimalsCase{50.0L / 253 * 1.001L, 0}),
    [](const testing::TestParamInfo<DecimalsCase>& p) { return "Case" + std::to_string(p.index); });

}  // namespace
}  // namespace kavrimo
