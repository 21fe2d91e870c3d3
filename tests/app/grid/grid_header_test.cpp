// Grid header reading: key lookup, value text, conversions and failures, and header file names.
#include "app/grid/grid_header.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cfloat>
#include <filesystem>
#include <string>
#include <tuple>

#include "runtime/errors.h"
#include "runtime/number_text.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Each test works in a folder of its own, removed afterwards.
class GridHeaderFiles : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalSeparator('.'); }

  // Writes content byte for byte as <dir>/<name> and returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    testing_support::WriteText(PathOf(name), content);
    return PathOf(name);
  }
  std::string PathOf(const std::string& name) const { return dir_.File(name); }

  const testing_support::TempDir dir_;
};

auto Fields(const GridHeader& h) {
  return std::tuple(h.ncols, h.nrows, h.xllcorner, h.yllcorner, h.cellsize, h.NODATA_value, h.big_endian);
}
std::string NotInteger(const std::string& text) { return "'" + text + "' is not a valid integer value"; }
std::string NotReal(const std::string& text) { return "'" + text + "' is not a valid floating point value"; }
const std::string kOverflow = "Floating point overflow";
const std::string kSpaces100(100, ' ');
const GridHeader kBigEndian{.big_endian = true};

struct HeaderCase {
  const char* name;
  std::string content;
  GridHeader expected;       // when no message is given
  std::string message = {};  // the message of the EConvertError or EOverflow raised
};
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class ReadGridHeaderTest : public GridHeaderFiles, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(ReadGridHeaderTest, ReadsOrFails) {
  const HeaderCase& c = GetParam();
  SCOPED_TRACE(c.name);
  Write("grid.hdr", c.content);
  try {
    const GridHeader header = ReadGridHeader(PathOf("grid.flt"));
    EXPECT_EQ(c.message, "") << "no error";
    EXPECT_EQ(Fields(header), Fields(c.expected));
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), c.message);
  } catch (const EOverflow& e) {
    EXPECT_EQ(e.Message(), c.message);
  }
}

const HeaderCase kHeaderCases[] = {
    // The singles hold 500000.123 as 500000.125 and 4123456.78 as 4123456.75.
    {"typical header with CR LF",
     "ncols         4\r\nnrows         3\r\nxllcorner     500000.123\r\nyllcorner     4123456.78\r\n"
     "cellsize      30\r\nNODATA_value  -9999\r\nbyteorder     LSBFIRST\r\n",
     {4, 3, 500000.125f, 4123456.75f, 30, -9999}},
    {"keys in any case",
     "NCOLS 100\nNRows 50\nCELLSIZE 2.5\nNODATA_VALUE -1\n",
     {.ncols = 100, .nrows = 50, .cellsize = 2.5f, .NODATA_value = -1}},
    {"key inside a word", "#NCOLS 100\n", {.ncols = 100}},
    {"one line matches two keys", "xllcorner_yllcorner 7.5\n", {.xllcorner = 7.5f, .yllcorner = 7.5f}},
    {"lone CR line ends", "ncols 5\rnrows 6\r", {.ncols = 5, .nrows = 6}},
    {"lone LF, no final break", "ncols 5\nnrows 6", {.ncols = 5, .nrows = 6}},
    {"mixed breaks, empty lines", "ncols 5\r\n\r\nnrows 6\n\rcellsize 2\n\n", {.ncols = 5, .nrows = 6, .cellsize = 2}},
    // clang-format off
    {"a NUL ends the text", "ncols 5\0" "7\nnrows 6\n"s, {.ncols = 5}},
    // clang-format on
    {"empty file", "", {}},
    {"unknown keys are ignored", "xllcorn 5\nleft 7\nfoo bar\n", {}},
    {"last line wins", "ncols 5\ncellsize 1\nncols 7\ncellsize 2.5\n", {.ncols = 7, .cellsize = 2.5f}},
    {"real trimmed of blanks and controls", "cellsize \t30 \t\x01\n", {.cellsize = 30}},
    {"real rounded to the largest single", "cellsize 3.4028234e38\n", {.cellsize = FLT_MAX}},
    {"value text of exactly 100 characters", "ncols" + std::string(99, ' ') + "5\n", {.ncols = 5}},
    // Failures: the value text as cut out (integers) or trimmed (reals) is quoted.
    {"line begins with a blank", " ncols 100\n", {}, NotInteger(" ncols 100")},
    {"tab between key and integer", "ncols\t100\n", {}, NotInteger("ncols\t100")},
    {"trailing blank after an integer", "nrows 100 \n", {}, NotInteger(" 100 ")},
    {"no-data with a point", "NODATA_value -9999.0\n", {}, NotInteger(" -9999.0")},
    {"no-data with an exponent", "NODATA_value -1e4\n", {}, NotInteger(" -1e4")},
    {"earlier bad line fails before a later good one", "ncols x\nncols 7\n", {}, NotInteger(" x")},
    {"keys fail in table order", "cellsize bad\nNODATA_value 1.5\nnrows 2.5\n", {}, NotInteger(" 2.5")},
    {"reals before the no-data value", "NODATA_value 1.5\ncellsize bad\n", {}, NotReal("bad")},
    {"integer past the hundredth character", "ncols" + kSpaces100 + "5\n", {}, NotInteger(kSpaces100)},
    {"real past the hundredth character", "cellsize" + kSpaces100 + "30\n", {}, NotReal("")},
    {"no blank: the first 100 characters",
     "ncols" + std::string(200, 'x') + "\n",
     {},
     NotInteger("ncols" + std::string(95, 'x'))},
    {"key without a value", "cellsize\n", {}, NotReal("cellsize")},
    {"real beyond single", "cellsize 1e39\n", {}, kOverflow},
    {"negative real beyond single", "yllcorner -3.5e38\n", {}, kOverflow},
    // "byteorder" MSBFIRST or M, in any case, marks big-endian cells; any other word little-endian.
    // clang-format off
    {"MSBFIRST", "byteorder MSBFIRST\n", kBigEndian}, {"lower case, CR LF", "BYTEORDER msbfirst\r\n", kBigEndian},
    {"M", "byteorder M\n", kBigEndian}, {"m padded", "byteorder  m \t\n", kBigEndian},
    {"LSBFIRST", "byteorder LSBFIRST\n", {}}, {"other word", "byteorder MSB\n", {}},
    {"no value", "byteorder\n", {}}, {"last wins", "byteorder MSBFIRST\nbyteorder LSBFIRST\n", {}},
    // clang-format on
    {"last wins, big", "byteorder LSBFIRST\nbyteorder M\n", kBigEndian},
    // A header that places the grid by its first cell's centre gets the corner half a cell away.
    {"centres give corners",
     "xllcenter 100\nyllcenter 200\ncellsize 30\n",
     {.xllcorner = 85, .yllcorner = 185, .cellsize = 30}},
    // 1.00000003 is held as 1; from the unrounded centre the corner would round to 1 as well.
    {"centre rounded to single first",
     "xllcenter 1.00000003\ncellsize 1.1920928955078125e-7\n",
     {.xllcorner = 1.0f - 0x1p-24f, .cellsize = 0x1p-23f}},
    {"corner wins over centre",
     "xllcorner 1\nxllcenter 100\nyllcenter 200\ncellsize 30\n",
     {.xllcorner = 1, .yllcorner = 185, .cellsize = 30}},
    {"centre without cell size", "yllcenter 100\n", {.yllcorner = 100}},
    {"centre not read when the corner is there", "xllcenter bad\nxllcorner 5\n", {.xllcorner = 5}},
    {"bad centre", "xllcenter bad\n", {}, NotReal("bad")},
    {"centres are read after the table keys", "yllcenter bad\nNODATA_value x\n", {}, NotInteger(" x")},
    {"centre beyond single", "yllcenter 1e39\n", {}, kOverflow},
    {"corner from centre beyond single", "xllcenter 3.4e38\ncellsize -3.4e38\n", {}, kOverflow}};
INSTANTIATE_TEST_SUITE_P(Table, ReadGridHeaderTest, ::testing::ValuesIn(kHeaderCases));

TEST_F(GridHeaderFiles, HeaderIsNamedAfterTheInputWhateverItsExtension) {
  Write("dem.hdr", "ncols 3\n");
  for (const char* input : {"dem.flt", "dem.FLT", "dem"}) {
    EXPECT_EQ(ReadGridHeader(PathOf(input)).ncols, 3) << input;
  }
}

auto CannotOpen(const std::string& header_name) {
  return ::testing::ThrowsMessage<EFOpenError>(::testing::StrEq("Cannot open file " + header_name));
}

TEST_F(GridHeaderFiles, MissingHeaderOrFolderCannotBeOpened) {
  fs::create_directories(dir_.Path() / "folder.hdr");
  for (const std::string base : {"missing", "folder"}) {
    EXPECT_THAT([&] { return ReadGridHeader(PathOf(base + ".flt")); }, CannotOpen(PathOf(base + ".hdr")));
  }
}

TEST_F(GridHeaderFiles, UnreadableHeaderCannotBeOpened) {
  ::chmod(Write("locked.hdr", "ncols 3\n").c_str(), 0);
  if (::access(PathOf("locked.hdr").c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not apply to this user";
  EXPECT_THAT([&] { return ReadGridHeader(PathOf("locked.flt")); }, CannotOpen(PathOf("locked.hdr")));
}

}  // namespace
}  // namespace kavrimo
