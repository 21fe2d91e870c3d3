// TKelImg: attaching, write-through property sets, misuse messages and creating files from a template.
#include "image/kel_img.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <string>

#include "image/image_pixels.h"
#include "image_test_support.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo {
namespace {

using test::ByteVector;
using test::HeaderBytes;
using test::SampleHeader;
namespace off = test::off;

const std::vector<std::string> kNoImageShown{"No valid image attached"};
const std::vector<bool> kCursorShownAndRestored{true, false};
const std::string kSampleComment = std::string("sample comment").append(66, '\0');
const Real48::Bytes kHundredth{0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23};  // 0.01 as Real48

ByteVector RealBytes(long double v) {
  const Real48::Bytes b = Real48::Round(v).ToBytes();
  return ByteVector(b.begin(), b.end());
}

class KelImgTest : public testing::Test, public test::ImageFixture {};

// --- Attaching ---

TEST_F(KelImgTest, AttachCopiesEveryFieldIntoTheProperties) {
  Attach(SampleHeader());
  ASSERT_EQ(img.State(), ImageState::ValidImage);
  EXPECT_EQ(img.FileName(), path);
  EXPECT_EQ(FileMode(), OpenMode::ReadOnly);
  // The mode the attach leaves behind is not the one the image's pixels are written in.
  const std::uint8_t pixel = 7;
  EXPECT_NO_THROW(ImagePixels::OpenForWriting(path).WriteAt(0, &pixel, 1));
  EXPECT_EQ(img.Comment(), kSampleComment);
  EXPECT_EQ(std::vector<double>({1.0 * img.ImageType(), 1.0 * img.Projection(), 1.0 * img.Rows(), 1.0 * img.Columns(),
                                 img.RefLatitude(), img.RefLongitude(), img.ColumnSpacing(), img.RowSpacing(),
                                 img.ProjParam1(), img.ProjParam2(), 1.0 * img.MissingValue()}),
            std::vector<double>({10, 3, 3, 5, 40, 30, 0.5, 0.5, 12, 34, 254}));  // 254: type 10's default
}

TEST_F(KelImgTest, MissingOrInvalidFileKeepsTheEarlierImage) {
  Attach(SampleHeader());
  const float width = img.CellWidthKm();
  const std::string missing = dir.File("missing.img");
  EXPECT_EQ(test::MessageOf<EInOutError>([&] { img.SetFileName(missing); }), "File not found");
  EXPECT_EQ(img.FileName(), missing);
  EXPECT_EQ(img.State(), ImageState::ValidImage);
  img.SetRows(7);  // stored, then reported: there is no file to write to
  EXPECT_EQ(img.Header().Rows, 7);
  EXPECT_EQ(ui.errors, kNoImageShown);
  EXPECT_FALSE(FileExists(missing));
  // An invalid file leaves the held and derived values alone, without a message.
  Attach(SampleHeader().U8(off::kImageType, 2).I16(off::kRows, 99), "b.img");
  EXPECT_EQ(img.State(), ImageState::InvalidImage);
  EXPECT_EQ(img.Rows(), 7);
  EXPECT_EQ(img.CellWidthKm(), width);
  EXPECT_EQ(ui.errors, kNoImageShown);
}

TEST_F(KelImgTest, UnreadableFileRaisesAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  path = dir.File("locked.img");
  test::WriteBytes(path, SampleHeader().bytes);
  ::chmod(path.c_str(), 0);
  EXPECT_EQ(test::MessageOf<EInOutError>([&] { img.SetFileName(path); }), "File access denied");
  EXPECT_EQ(img.State(), ImageState::NoImage);
}

TEST_F(KelImgTest, WithoutAValidImageSetsAndCreationAreRefused) {
  // Never attached, with an empty FileName: silence.
  EXPECT_EQ(img.State(), ImageState::NoImage);
  img.SetRows(4);
  img.SetGain(2.0);
  img.CreateFromTemplate(dir.File("new.img"), true);
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(img.Rows(), 0);
  EXPECT_EQ(img.CellWidthKm(), 0.0f);
  // A 100-byte file: invalid, without a message until a set or a creation.
  HeaderBytes short_file = SampleHeader();
  short_file.bytes.resize(100);
  Attach(short_file);
  EXPECT_EQ(img.State(), ImageState::InvalidImage);
  EXPECT_TRUE(ui.errors.empty());
  img.SetRows(4);
  EXPECT_EQ(ui.errors, kNoImageShown);
  EXPECT_EQ(img.Rows(), 0);
  EXPECT_EQ(test::ReadBytes(path), short_file.bytes);
  img.CreateFromTemplate(dir.File("new.img"), true);
  EXPECT_EQ(ui.errors, std::vector<std::string>(2, kNoImageShown[0]));
  EXPECT_FALSE(FileExists(dir.File("new.img")));
  EXPECT_EQ(ui.cursor, (std::vector<bool>{true, false, true, false}));
}

// --- Write-through sets ---

TEST(WriteThrough, EachSetWritesOnlyItsOwnFieldAndHoldsTheValue) {
  const struct {
    const char* name;
    std::function<void(TKelImg&)> set;
    int offset;
    ByteVector bytes;  // what the field holds on disk afterwards
  } cases[] = {{"ImageType", [](TKelImg& i) { i.SetImageType(200); }, off::kImageType, {200}},
               {"Projection", [](TKelImg& i) { i.SetProjection(9); }, off::kProjection, {9}},
               {"Rows", [](TKelImg& i) { i.SetRows(-2); }, off::kRows, {0xFE, 0xFF}},
               {"Columns", [](TKelImg& i) { i.SetColumns(0x1234); }, off::kColumns, {0x34, 0x12}},
               {"RefLatitude", [](TKelImg& i) { i.SetRefLatitude(-12.25); }, off::kRefLatitude, RealBytes(-12.25L)},
               {"RefLongitude", [](TKelImg& i) { i.SetRefLongitude(100.5); }, off::kRefLongitude, RealBytes(100.5L)},
               {"RefColumn", [](TKelImg& i) { i.SetRefColumn(3); }, off::kRefColumn, RealBytes(3)},
               {"RefRow", [](TKelImg& i) { i.SetRefRow(4); }, off::kRefRow, RealBytes(4)},
               {"ColumnSpacing", [](TKelImg& i) { i.SetColumnSpacing(0.25); }, off::kColumnSpacing, RealBytes(0.25L)},
               {"RowSpacing", [](TKelImg& i) { i.SetRowSpacing(0.125); }, off::kRowSpacing, RealBytes(0.125L)},
               {"Gain", [](TKelImg& i) { i.SetGain(0.5); }, off::kGain, RealBytes(0.5L)},
               {"Offset", [](TKelImg& i) { i.SetOffset(-1.0); }, off::kOffset, {0x81, 0, 0, 0, 0, 0x80}},
               {"Decimals", [](TKelImg& i) { i.SetDecimals(5); }, off::kDecimals, {5}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ImageFixture f;
    f.Attach(SampleHeader());
    const float width = f.img.CellWidthKm();
    const double min_lat = f.img.MinLatitude(), max_lon = f.img.MaxLongitude();
    c.set(f.img);
    ByteVector expected = SampleHeader().bytes;
    std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + c.offset);
    EXPECT_EQ(test::ReadBytes(f.path), expected);
    EXPECT_TRUE(f.ui.errors.empty());
    EXPECT_EQ(FileMode(), OpenMode::WriteOnly);
    // Sets never re-derive the corner values or the defaults.
    EXPECT_EQ(f.img.CellWidthKm(), width);
    EXPECT_EQ(f.img.MinLatitude(), min_lat);
    EXPECT_EQ(f.img.MaxLongitude(), max_lon);
    EXPECT_EQ(f.img.MissingValue(), 254);
    // The new value is now the held one: setting it again does not touch the file, nor even look for it.
    const auto aged = std::filesystem::last_write_time(f.path) - std::chrono::hours(24);
    std::filesystem::last_write_time(f.path, aged);
    c.set(f.img);
    EXPECT_EQ(std::filesystem::last_write_time(f.path), aged);
    EXPECT_EQ(test::ReadBytes(f.path), expected);
    ::unlink(f.path.c_str());
    c.set(f.img);
    EXPECT_TRUE(f.ui.errors.empty());
  }
}

TEST_F(KelImgTest, GainNotExactlyRepresentableIsWrittenEveryTime) {
  Attach(SampleHeader());
  for (int time = 1; time <= 2; ++time) {
    SCOPED_TRACE(time);
    test::WriteBytes(path, ByteVector(512, 0));  // blank, so that the write shows
    img.SetGain(0.01);
    const ByteVector bytes = test::ReadBytes(path);
    EXPECT_EQ(ByteVector(bytes.begin() + off::kGain, bytes.begin() + off::kGain + 6),
              ByteVector(kHundredth.begin(), kHundredth.end()));
  }
  EXPECT_EQ(img.Gain(), Real48::FromBytes(kHundredth).Value());  // held as its Real48 rounding
  EXPECT_TRUE(ui.errors.empty());
}

TEST_F(KelImgTest, OverflowingRealsAndUnknownIdentifiersChangeNothing) {
  Attach(SampleHeader());
  EXPECT_THROW(img.SetGain(1e39), EOverflow);
  EXPECT_THROW(img.SetOffset(std::numeric_limits<double>::quiet_NaN()), EOverflow);
  EXPECT_THROW(img.SetRefLatitude(std::numeric_limits<double>::infinity()), EOverflow);
  for (int id : {0, 1, 4, 7, 9}) img.WriteHeaderField(static_cast<HeaderFieldId>(id));
  EXPECT_EQ(img.Gain(), 1.0);
  EXPECT_EQ(img.Header().Gain.Value(), 1.0);
  EXPECT_EQ(img.Offset(), 0.0);
  EXPECT_EQ(test::ReadBytes(path), SampleHeader().bytes);
  img.WriteHeaderField(HeaderFieldId::MissingValue);  // a read-only field can still be written by its id
  EXPECT_EQ(test::ReadBytes(path).at(off::kMissingValue), 254);
}

// --- Creating files from the template ---

TEST_F(KelImgTest, HeaderOnlyCopyHasTheStampAndTheInMemoryFields) {
  const HeaderBytes stored = SampleHeader().U8(off::kImageType, 6).Real(off::kGain, 0.5L);
  Attach(stored);  // type 6: Gain 0.01, Offset -1 and the rest of its defaults in memory
  const std::string out = dir.File("new.img");
  img.CreateFromTemplate(out, true);

  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  std::string stamp = "ZUB/Marentaal 1994-" + std::to_string(local.tm_year + 1900);
  stamp.resize(80, ' ');
  HeaderBytes expected = stored;
  for (std::size_t i = 0; i < 512; ++i) {
    if (test::IsUninterpreted(i)) expected.bytes[i] = 0;
  }
  expected.Raw(off::kComment, stamp).Raw(off::kGain, kHundredth).Real(off::kOffset, -1.0L);
  expected.U8(off::kMinValue, 2).U8(off::kMaxValue, 255).U8(off::kMissingValue, 0).U8(off::kDecimals, 2);
  EXPECT_EQ(test::ReadBytes(out), expected.bytes);

  // Still attached to the template, whose Comment property and file are unchanged.
  EXPECT_EQ(img.FileName(), path);
  EXPECT_EQ(img.Comment(), kSampleComment);
  EXPECT_EQ(std::string(img.Header().Comment.begin(), img.Header().Comment.end()), stamp);
  EXPECT_EQ(test::ReadBytes(path), stored.bytes);
  EXPECT_EQ(ui.cursor, kCursorShownAndRestored);
}

TEST_F(KelImgTest, PixelAreaIsRowsTimesColumnsOfMissingValue) {
  // Around the 8192-byte buffer, several buffers with a remainder, and none for a zero or negative area.
  const std::pair<std::int16_t, std::int16_t> sizes[] = {{3, 5},    {1, 1},    {0, 5},    {-3, 5},
                                                         {1, 8191}, {1, 8192}, {1, 8193}, {3, 16385}};
  for (const auto& [rows, columns] : sizes) {
    SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(columns));
    Attach(SampleHeader(rows, columns));
    const std::string out = dir.File("new.img");
    img.CreateFromTemplate(out, false);
    const ByteVector bytes = test::ReadBytes(out);
    const std::size_t pixels = static_cast<std::size_t>(std::max(0, rows * columns));
    ASSERT_EQ(bytes.size(), 512 + pixels);
    EXPECT_EQ(ByteVector(bytes.begin() + 512, bytes.end()), ByteVector(pixels, 254));
  }
  EXPECT_TRUE(ui.errors.empty());
}

TEST_F(KelImgTest, FailedCreationRestoresTheCursorAndRemovesThePartialFile) {
  Attach(SampleHeader(100, 300));
  // A file-size limit makes the pixel area fail part-way.
  const std::string out = dir.File("big.img");
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit lowered = old;
  lowered.rlim_cur = 10000;
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &lowered);
  EXPECT_THROW(img.CreateFromTemplate(out, false), EInOutError);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(FileExists(out));
  EXPECT_EQ(ui.cursor, kCursorShownAndRestored);
}

TEST(PadToWidth, CutsOrPadsToExactlyTheWidth) {
  EXPECT_EQ(TKelImg::PadToWidth("abc", 5), "abc  ");
  EXPECT_EQ(TKelImg::PadToWidth("abcdef", 3), "abc");
  EXPECT_EQ(TKelImg::PadToWidth("abc", -1), "");
}

}  // namespace
}  // namespace kavrimo
