// TKelImg: attaching, write-through property sets, misuse messages and creating files from a template.
#include "image/kel_img.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "image_test_support.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo {
namespace {

using test::ByteVector;
using test::HeaderBytes;
namespace off = test::off;

constexpr char kNoImage[] = "No valid image attached";

// A geographic type-10 image of 3 rows and 5 columns with a full set of fields.
HeaderBytes SampleHeader() {
  HeaderBytes bytes;
  bytes.U8(off::kImageType, 10)
      .U8(off::kProjection, 3)
      .I16(off::kRows, 3)
      .I16(off::kColumns, 5)
      .Real(off::kRefLatitude, 40)
      .Real(off::kRefLongitude, 30)
      .Real(off::kRefColumn, 0)
      .Real(off::kRefRow, 0)
      .Real(off::kColumnSpacing, 0.5L)
      .Real(off::kRowSpacing, 0.5L)
      .Real(off::kProjParam1, 12)
      .Real(off::kProjParam2, 34);
  const std::string comment = "sample comment";
  for (std::size_t i = 0; i < comment.size(); ++i) bytes.U8(off::kComment + static_cast<int>(i), comment[i]);
  // Bytes the format does not interpret, to show they are left alone.
  bytes.U8(0, 0xAA).U8(21, 0xBB).U8(25, 0xCC).U8(118, 0xDD).U8(511, 0xEE);
  return bytes;
}

class KelImgTest : public testing::Test {
 protected:
  void Attach(const HeaderBytes& bytes, const std::string& name = "a.img") {
    path_ = dir_.File(name);
    test::WriteBytes(path_, bytes.Bytes());
    img_.SetFileName(path_);
  }

  test::TempDir dir_;
  test::RecordingUi ui_;
  TKelImg img_{ui_};
  std::string path_;
};

// --- Attaching ---

TEST_F(KelImgTest, ConstructedWithoutImage) {
  EXPECT_EQ(img_.State(), ImageState::NoImage);
  EXPECT_EQ(img_.FileName(), "");
  EXPECT_EQ(img_.Rows(), 0);
  EXPECT_EQ(img_.CellWidthKm(), 0.0f);
}

TEST_F(KelImgTest, AttachCopiesEveryFieldIntoTheProperties) {
  Attach(SampleHeader());
  ASSERT_EQ(img_.State(), ImageState::ValidImage);
  EXPECT_EQ(img_.FileName(), path_);
  EXPECT_EQ(img_.ImageType(), 10);
  EXPECT_EQ(img_.Projection(), 3);
  EXPECT_EQ(img_.Rows(), 3);
  EXPECT_EQ(img_.Columns(), 5);
  EXPECT_EQ(img_.Comment(), test::PadForTest("sample comment", '\0'));
  EXPECT_EQ(img_.RefLatitude(), 40.0);
  EXPECT_EQ(img_.RefLongitude(), 30.0);
  EXPECT_EQ(img_.ColumnSpacing(), 0.5);
  EXPECT_EQ(img_.RowSpacing(), 0.5);
  EXPECT_EQ(img_.ProjParam1(), 12.0);
  EXPECT_EQ(img_.ProjParam2(), 34.0);
  EXPECT_EQ(img_.MissingValue(), 254);  // type 10's default
  EXPECT_EQ(FileMode(), OpenMode::ReadOnly);
}

TEST_F(KelImgTest, MissingFileRaisesAndKeepsTheEarlierImage) {
  Attach(SampleHeader());
  const std::string missing = dir_.File("missing.img");
  try {
    img_.SetFileName(missing);
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
    EXPECT_EQ(e.ErrorCode(), 2);
  }
  EXPECT_EQ(img_.FileName(), missing);
  EXPECT_EQ(img_.State(), ImageState::ValidImage);
  EXPECT_EQ(img_.Rows(), 3);
  // The next set finds no file to write to.
  img_.SetRows(7);
  EXPECT_EQ(img_.Rows(), 7);
  EXPECT_EQ(ui_.errors, std::vector<std::string>{kNoImage});
  EXPECT_FALSE(FileExists(missing));
}

TEST_F(KelImgTest, UnreadableFileRaisesAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = dir_.File("locked.img");
  test::WriteBytes(path, SampleHeader().Bytes());
  ::chmod(path.c_str(), 0);
  try {
    img_.SetFileName(path);
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
  EXPECT_EQ(img_.State(), ImageState::NoImage);
}

TEST_F(KelImgTest, InvalidFileKeepsTheHeldValuesOfTheEarlierImage) {
  Attach(SampleHeader());
  const float width = img_.CellWidthKm();
  HeaderBytes invalid = SampleHeader();
  invalid.U8(off::kImageType, 2).I16(off::kRows, 99);
  Attach(invalid, "b.img");
  EXPECT_EQ(img_.State(), ImageState::InvalidImage);
  EXPECT_EQ(img_.Rows(), 3);
  EXPECT_EQ(img_.CellWidthKm(), width);
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(KelImgTest, ShortFileIsInvalidAndRefusesSets) {
  HeaderBytes short_file = SampleHeader();
  short_file.Bytes().resize(100);
  Attach(short_file);
  EXPECT_EQ(img_.State(), ImageState::InvalidImage);
  EXPECT_TRUE(ui_.errors.empty());
  img_.SetRows(4);
  EXPECT_EQ(ui_.errors, std::vector<std::string>{kNoImage});
  EXPECT_EQ(img_.Rows(), 0);
  EXPECT_EQ(test::ReadBytes(path_), short_file.Bytes());
}

TEST_F(KelImgTest, SetsWithoutAFileNameAreSilent) {
  img_.SetRows(4);
  img_.SetGain(2.0);
  img_.CreateFromTemplate(dir_.File("new.img"), true);
  EXPECT_TRUE(ui_.errors.empty());
  EXPECT_EQ(img_.Rows(), 0);
  EXPECT_FALSE(FileExists(dir_.File("new.img")));
  EXPECT_EQ(ui_.cursor, (std::vector<bool>{true, false}));
}

// --- Write-through sets ---

struct SetCase {
  const char* name;
  std::function<void(TKelImg&)> set;
  int offset;
  ByteVector bytes;  // what the field holds on disk afterwards
  std::function<double(const TKelImg&)> get;
  double expected;
};

ByteVector RealBytes(long double v) {
  const Real48::Bytes b = Real48::Round(v).ToBytes();
  return ByteVector(b.begin(), b.end());
}

class WriteThrough : public testing::TestWithParam<SetCase> {};

TEST_P(WriteThrough, WritesOnlyItsOwnField) {
  const SetCase& c = GetParam();
  SCOPED_TRACE(c.name);
  test::TempDir dir;
  const std::string path = dir.File("a.img");
  const HeaderBytes original = SampleHeader();
  test::WriteBytes(path, original.Bytes());
  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  const float width = img.CellWidthKm();
  const double min_lat = img.MinLatitude();

  c.set(img);

  ByteVector expected = original.Bytes();
  std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + c.offset);
  EXPECT_EQ(test::ReadBytes(path), expected);
  EXPECT_EQ(c.get(img), c.expected);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(FileMode(), OpenMode::WriteOnly);
  // Sets never re-derive the corner values or the defaults.
  EXPECT_EQ(img.CellWidthKm(), width);
  EXPECT_EQ(img.MinLatitude(), min_lat);
  EXPECT_EQ(img.MissingValue(), 254);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, WriteThrough,
    testing::Values(
        SetCase{"ImageType", [](TKelImg& i) { i.SetImageType(200); }, off::kImageType, {200},
                [](const TKelImg& i) { return i.ImageType(); }, 200},
        SetCase{"Projection", [](TKelImg& i) { i.SetProjection(9); }, off::kProjection, {9},
                [](const TKelImg& i) { return i.Projection(); }, 9},
        SetCase{"Rows", [](TKelImg& i) { i.SetRows(-2); }, off::kRows, {0xFE, 0xFF},
                [](const TKelImg& i) { return i.Rows(); }, -2},
        SetCase{"Columns", [](TKelImg& i) { i.SetColumns(0x1234); }, off::kColumns, {0x34, 0x12},
                [](const TKelImg& i) { return i.Columns(); }, 0x1234},
        SetCase{"RefLatitude", [](TKelImg& i) { i.SetRefLatitude(-12.25); }, off::kRefLatitude,
                RealBytes(-12.25L), [](const TKelImg& i) { return i.RefLatitude(); }, -12.25},
        SetCase{"RefLongitude", [](TKelImg& i) { i.SetRefLongitude(100.5); }, off::kRefLongitude,
                RealBytes(100.5L), [](const TKelImg& i) { return i.RefLongitude(); }, 100.5},
        SetCase{"RefColumn", [](TKelImg& i) { i.SetRefColumn(3); }, off::kRefColumn, RealBytes(3),
                [](const TKelImg& i) { return i.RefColumn(); }, 3},
        SetCase{"RefRow", [](TKelImg& i) { i.SetRefRow(4); }, off::kRefRow, RealBytes(4),
                [](const TKelImg& i) { return i.RefRow(); }, 4},
        SetCase{"ColumnSpacing", [](TKelImg& i) { i.SetColumnSpacing(0.25); }, off::kColumnSpacing,
                RealBytes(0.25L), [](const TKelImg& i) { return i.ColumnSpacing(); }, 0.25},
        SetCase{"RowSpacing", [](TKelImg& i) { i.SetRowSpacing(0.125); }, off::kRowSpacing,
                RealBytes(0.125L), [](const TKelImg& i) { return i.RowSpacing(); }, 0.125},
        // 0.01 is held as its Real48 rounding, which differs from the double 0.01.
        SetCase{"Gain", [](TKelImg& i) { i.SetGain(0.01); }, off::kGain,
                {0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}, [](const TKelImg& i) { return i.Gain(); },
                Real48::FromBytes({0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}).Value()},
        SetCase{"Offset", [](TKelImg& i) { i.SetOffset(-1.0); }, off::kOffset, {0x81, 0, 0, 0, 0, 0x80},
                [](const TKelImg& i) { return i.Offset(); }, -1},
        SetCase{"Decimals", [](TKelImg& i) { i.SetDecimals(5); }, off::kDecimals, {5},
                [](const TKelImg& i) { return i.Decimals(); }, 5}),
    [](const testing::TestParamInfo<SetCase>& p) { return std::string(p.param.name); });

TEST_F(KelImgTest, SettingTheHeldValueLeavesTheFileAlone) {
  Attach(SampleHeader());
  const ByteVector before = test::ReadBytes(path_);
  test::AgeFile(path_);
  const std::int64_t aged = test::ModificationTime(path_);
  img_.SetRows(3);
  img_.SetProjection(3);
  img_.SetRefLatitude(40.0);
  img_.SetColumnSpacing(0.5);
  img_.SetGain(1.0);
  img_.SetDecimals(0);
  EXPECT_EQ(test::ModificationTime(path_), aged);
  EXPECT_EQ(test::ReadBytes(path_), before);
  EXPECT_TRUE(ui_.errors.empty());
  // A held value survives even when the file is gone: nothing opens it.
  ::unlink(path_.c_str());
  img_.SetRows(3);
  EXPECT_TRUE(ui_.errors.empty());
}

// Overwrites the Gain field on disk with a marker so that the next write shows.
void ScribbleGain(const std::string& path) {
  ByteVector bytes = test::ReadBytes(path);
  std::fill(bytes.begin() + off::kGain, bytes.begin() + off::kGain + 6, 0x5A);
  test::WriteBytes(path, bytes);
}

TEST_F(KelImgTest, GainNotExactlyRepresentableIsWrittenEveryTime) {
  Attach(SampleHeader());
  const Real48::Bytes hundredth{0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23};
  img_.SetGain(0.01);
  EXPECT_EQ(test::BytesAt(test::ReadBytes(path_), off::kGain), hundredth);
  ScribbleGain(path_);
  img_.SetGain(0.01);
  EXPECT_EQ(test::BytesAt(test::ReadBytes(path_), off::kGain), hundredth);  // written again

  img_.SetGain(0.5);
  EXPECT_EQ(test::BytesAt(test::ReadBytes(path_), off::kGain), Real48::Round(0.5L).ToBytes());
  ScribbleGain(path_);
  img_.SetGain(0.5);
  EXPECT_EQ(test::BytesAt(test::ReadBytes(path_), off::kGain), (Real48::Bytes{0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}));
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(KelImgTest, OverflowingRealChangesNothing) {
  Attach(SampleHeader());
  const ByteVector before = test::ReadBytes(path_);
  EXPECT_THROW(img_.SetGain(1e39), EOverflow);
  EXPECT_THROW(img_.SetOffset(std::numeric_limits<double>::quiet_NaN()), EOverflow);
  EXPECT_THROW(img_.SetRefLatitude(std::numeric_limits<double>::infinity()), EOverflow);
  EXPECT_EQ(img_.Gain(), 1.0);
  EXPECT_EQ(img_.Header().Gain.Value(), 1.0);
  EXPECT_EQ(img_.Offset(), 0.0);
  EXPECT_EQ(test::ReadBytes(path_), before);
}

TEST_F(KelImgTest, SetAfterTheFileWasDeletedStoresTheValueAndReports) {
  Attach(SampleHeader());
  ::unlink(path_.c_str());
  img_.SetColumns(9);
  EXPECT_EQ(img_.Columns(), 9);
  EXPECT_EQ(img_.Header().Columns, 9);
  EXPECT_EQ(ui_.errors, std::vector<std::string>{kNoImage});
  EXPECT_FALSE(FileExists(path_));
}

TEST_F(KelImgTest, IdentifiersThatNameNoFieldWriteNothing) {
  Attach(SampleHeader());
  const ByteVector before = test::ReadBytes(path_);
  for (int id : {0, 1, 4, 7, 9}) img_.WriteHeaderField(static_cast<HeaderFieldId>(id));
  EXPECT_EQ(test::ReadBytes(path_), before);
  // A read-only field can still be written by its identifier.
  img_.WriteHeaderField(HeaderFieldId::MissingValue);
  EXPECT_EQ(test::ReadBytes(path_).at(off::kMissingValue), 254);
}

// --- Creating files from the template ---

std::string ExpectedStamp() {
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  std::string stamp = "ZUB/Marentaal 1994-" + std::to_string(local.tm_year + 1900);
  stamp.resize(80, ' ');
  return stamp;
}

// Every byte the format does not interpret.
bool IsUninterpreted(std::size_t i) {
  return i < 22 || (i >= 24 && i < 30) || (i >= 34 && i < 38) || (i >= 118 && i < 120) || i >= 184;
}

TEST_F(KelImgTest, HeaderOnlyCopyHasTheStampAndTheInMemoryFields) {
  HeaderBytes stored = SampleHeader();
  stored.U8(off::kImageType, 6).Real(off::kGain, 0.5L);  // type 6: Gain 0.01 in memory
  Attach(stored);
  const std::string out = dir_.File("new.img");
  img_.CreateFromTemplate(out, true);

  const ByteVector bytes = test::ReadBytes(out);
  ASSERT_EQ(bytes.size(), 512u);
  for (std::size_t i = 0; i < 512; ++i) {
    if (IsUninterpreted(i)) {
      ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
  EXPECT_EQ(std::string(bytes.begin() + off::kComment, bytes.begin() + off::kComment + 80), ExpectedStamp());
  EXPECT_EQ(bytes[off::kImageType], 6);
  EXPECT_EQ(bytes[off::kProjection], 3);
  EXPECT_EQ(bytes[off::kRows], 3);
  EXPECT_EQ(bytes[off::kColumns], 5);
  EXPECT_EQ(test::BytesAt(bytes, off::kGain), (Real48::Bytes{0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}));
  EXPECT_EQ(test::BytesAt(bytes, off::kOffset), Real48::Round(-1.0L).ToBytes());
  EXPECT_EQ(test::BytesAt(bytes, off::kColumnSpacing), Real48::Round(0.5L).ToBytes());
  EXPECT_EQ(test::BytesAt(bytes, off::kProjParam2), Real48::Round(34.0L).ToBytes());
  EXPECT_EQ(bytes[off::kMinValue], 2);
  EXPECT_EQ(bytes[off::kMaxValue], 255);
  EXPECT_EQ(bytes[off::kDecimals], 2);

  // Still attached to the template, whose Comment property and file are unchanged.
  EXPECT_EQ(img_.FileName(), path_);
  EXPECT_EQ(img_.State(), ImageState::ValidImage);
  EXPECT_EQ(img_.Comment(), test::PadForTest("sample comment", '\0'));
  EXPECT_EQ(std::string(img_.Header().Comment.begin(), img_.Header().Comment.end()), ExpectedStamp());
  EXPECT_EQ(test::ReadBytes(path_), stored.Bytes());
  EXPECT_EQ(ui_.cursor, (std::vector<bool>{true, false}));
  EXPECT_TRUE(ui_.errors.empty());

  // The new file is a valid image in its own right.
  test::RecordingUi other_ui;
  TKelImg other(other_ui);
  other.SetFileName(out);
  EXPECT_EQ(other.State(), ImageState::ValidImage);
}

struct SizeCase {
  std::int16_t rows;
  std::int16_t columns;
};

class CreateSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(CreateSizes, PixelAreaIsRowsTimesColumnsOfMissingValue) {
  const SizeCase& c = GetParam();
  SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.columns));
  test::TempDir dir;
  const std::string path = dir.File("t.img");
  HeaderBytes stored = SampleHeader();
  stored.I16(off::kRows, c.rows).I16(off::kColumns, c.columns);
  test::WriteBytes(path, stored.Bytes());
  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  ASSERT_EQ(img.State(), ImageState::ValidImage);

  const std::string out = dir.File("new.img");
  img.CreateFromTemplate(out, false);
  const ByteVector bytes = test::ReadBytes(out);
  const long pixels = std::max(0L, long{c.rows} * c.columns);
  ASSERT_EQ(static_cast<long>(bytes.size()), 512 + pixels);
  EXPECT_EQ(std::count(bytes.begin() + 512, bytes.end(), 254), pixels);
  EXPECT_EQ(ui.cursor, (std::vector<bool>{true, false}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CreateSizes,
                         testing::Values(SizeCase{3, 5}, SizeCase{1, 1}, SizeCase{0, 5}, SizeCase{-3, 5},
                                         SizeCase{1, 8191}, SizeCase{1, 8192}, SizeCase{1, 8193},
                                         SizeCase{128, 64}, SizeCase{3, 16385}, SizeCase{300, 200}),
                         [](const testing::TestParamInfo<SizeCase>& p) {
                           return "Case" + std::to_string(p.index);
                         });

TEST_F(KelImgTest, ThreeByFiveGivesFifteenBytesOf254) {
  Attach(SampleHeader());
  const std::string out = dir_.File("new.img");
  img_.CreateFromTemplate(out, false);
  const ByteVector bytes = test::ReadBytes(out);
  ASSERT_EQ(bytes.size(), 527u);
  EXPECT_EQ(ByteVector(bytes.begin() + 512, bytes.end()), ByteVector(15, 254));
}

TEST_F(KelImgTest, CreateFromAnInvalidImageReportsAndCreatesNothing) {
  HeaderBytes invalid = SampleHeader();
  invalid.U8(off::kProjection, 1);
  Attach(invalid);
  const std::string out = dir_.File("new.img");
  img_.CreateFromTemplate(out, true);
  EXPECT_EQ(ui_.errors, std::vector<std::string>{kNoImage});
  EXPECT_FALSE(FileExists(out));
  EXPECT_EQ(ui_.cursor, (std::vector<bool>{true, false}));
}

TEST_F(KelImgTest, CreateIntoAMissingDirectoryRaisesAndRestoresTheCursor) {
  Attach(SampleHeader());
  EXPECT_THROW(img_.CreateFromTemplate(dir_.File("no/such/dir.img"), true), EInOutError);
  EXPECT_EQ(ui_.cursor, (std::vector<bool>{true, false}));
}

// Lowers the file-size limit for its lifetime, so that writes beyond it fail part-way.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_{};
  sighandler_t old_handler_;
};

TEST_F(KelImgTest, CreationFailingMidwayRemovesThePartialFile) {
  Attach(SampleHeader());
  img_.SetRows(100);
  img_.SetColumns(300);
  const std::string out = dir_.File("big.img");
  {
    FileSizeLimit limit(10000);
    EXPECT_THROW(img_.CreateFromTemplate(out, false), EInOutError);
  }
  EXPECT_FALSE(FileExists(out));
  EXPECT_EQ(ui_.cursor, (std::vector<bool>{true, false}));
  // Without the limit the same creation succeeds.
  img_.CreateFromTemplate(out, false);
  EXPECT_EQ(test::ReadBytes(out).size(), 512u + 30000u);
}

TEST(PadToWidth, CutsOrPadsToExactlyTheWidth) {
  EXPECT_EQ(TKelImg::PadToWidth("abc", 5), "abc  ");
  EXPECT_EQ(TKelImg::PadToWidth("abcdef", 3), "abc");
  EXPECT_EQ(TKelImg::PadToWidth("abc", 3), "abc");
  EXPECT_EQ(TKelImg::PadToWidth("", 2), "  ");
  EXPECT_EQ(TKelImg::PadToWidth("abc", 0), "");
  EXPECT_EQ(TKelImg::PadToWidth("abc", -1), "");
}

}  // namespace
}  // namespace kavrimo
