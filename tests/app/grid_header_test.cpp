// Grid header reading: key lookup, value text, conversions and failures, and header file names.
#include "app/core/grid_header.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/core/number_text.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;

class GridHeaderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDecimalSeparator('.');
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("kavrimo_grid_header_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes content byte for byte as <dir>/<name>.
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good());
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

GridHeader Header(std::int32_t ncols, std::int32_t nrows, float xll, float yll, float cell, std::int32_t nodata,
                  bool big_endian = false) {
  GridHeader header;
  header.ncols = ncols;
  header.nrows = nrows;
  header.xllcorner = xll;
  header.yllcorner = yll;
  header.cellsize = cell;
  header.NODATA_value = nodata;
  header.big_endian = big_endian;
  return header;
}

void ExpectHeader(const GridHeader& actual, const GridHeader& expected) {
  EXPECT_EQ(actual.ncols, expected.ncols);
  EXPECT_EQ(actual.nrows, expected.nrows);
  EXPECT_EQ(actual.xllcorner, expected.xllcorner);
  EXPECT_EQ(actual.yllcorner, expected.yllcorner);
  EXPECT_EQ(actual.cellsize, expected.cellsize);
  EXPECT_EQ(actual.NODATA_value, expected.NODATA_value);
  EXPECT_EQ(actual.big_endian, expected.big_endian);
}

enum class Outcome { Read, ConvertError, Overflow };

struct HeaderCase {
  const char* name;
  std::string content;
  GridHeader expected;  // for Outcome::Read
  Outcome outcome = Outcome::Read;
  std::string message = {};
};

HeaderCase Fails(const char* name, std::string content, std::string message) {
  return {name, std::move(content), {}, Outcome::ConvertError, std::move(message)};
}
HeaderCase FailsInteger(const char* name, std::string content, const std::string& value_text) {
  return Fails(name, std::move(content), "'" + value_text + "' is not a valid integer value");
}
HeaderCase FailsReal(const char* name, std::string content, const std::string& value_text) {
  return Fails(name, std::move(content), "'" + value_text + "' is not a valid floating point value");
}
HeaderCase Overflows(const char* name, std::string content) {
  return {name, std::move(content), {}, Outcome::Overflow, "Floating point overflow"};
}

class ReadGridHeaderTest : public GridHeaderFiles, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(ReadGridHeaderTest, ReadsOrFails) {
  const HeaderCase& c = GetParam();
  SCOPED_TRACE(c.name);
  Write("grid.hdr", c.content);
  const std::string input = PathOf("grid.flt");
  switch (c.outcome) {
    case Outcome::Read:
      ExpectHeader(ReadGridHeader(input), c.expected);
      break;
    case Outcome::ConvertError:
      try {
        ReadGridHeader(input);
        ADD_FAILURE() << "no error";
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), c.message);
      }
      break;
    case Outcome::Overflow:
      try {
        ReadGridHeader(input);
        ADD_FAILURE() << "no error";
      } catch (const EOverflow& e) {
        EXPECT_EQ(e.Message(), c.message);
      }
      break;
  }
}

const std::string kSpaces100(100, ' ');

INSTANTIATE_TEST_SUITE_P(
    Keys, ReadGridHeaderTest,
    ::testing::Values(
        HeaderCase{"typical header with CR LF",
                   "ncols         4\r\nnrows         3\r\nxllcorner     500000.123\r\n"
                   "yllcorner     4123456.78\r\ncellsize      30\r\nNODATA_value  -9999\r\n"
                   "byteorder     LSBFIRST\r\n",
                   Header(4, 3, 500000.125f, 4123456.75f, 30.0f, -9999)},
        HeaderCase{"upper-case keys", "NCOLS 100\nNROWS 50\nCELLSIZE 2.5\nNODATA_VALUE -1\n",
                   Header(100, 50, 0, 0, 2.5f, -1)},
        HeaderCase{"mixed-case keys", "nCols 100\nNoData_Value 7\n", Header(100, 0, 0, 0, 0, 7)},
        HeaderCase{"key inside a word", "#NCOLS 100\n", Header(100, 0, 0, 0, 0, 0)},
        HeaderCase{"one line matches two keys", "xllcorner_yllcorner 7.5\n", Header(0, 0, 7.5f, 7.5f, 0, 0)},
        HeaderCase{"lone CR line ends", "ncols 5\rnrows 6\r", Header(5, 6, 0, 0, 0, 0)},
        HeaderCase{"lone LF, no final break", "ncols 5\nnrows 6", Header(5, 6, 0, 0, 0, 0)},
        HeaderCase{"mixed breaks and empty lines", "ncols 5\r\n\r\nnrows 6\n\rcellsize 2\n\n",
                   Header(5, 6, 0, 0, 2.0f, 0)},
        HeaderCase{"a NUL ends the text", std::string("ncols 5\n\0nrows 6\n", 17), Header(5, 0, 0, 0, 0, 0)},
        HeaderCase{"a NUL ends the line", std::string("ncols 5\0" "7\n", 10), Header(5, 0, 0, 0, 0, 0)},
        HeaderCase{"empty file", "", Header(0, 0, 0, 0, 0, 0)},
        HeaderCase{"NUL first", std::string("\0ncols 5", 8), Header(0, 0, 0, 0, 0, 0)},
        HeaderCase{"unknown keys are ignored", "xllcorn 5\nleft 7\nfoo bar\n", Header(0, 0, 0, 0, 0, 0)},
        HeaderCase{"last line wins", "ncols 5\ncellsize 1\nncols 7\ncellsize 2.5\n", Header(7, 0, 0, 0, 2.5f, 0)},
        HeaderCase{"hexadecimal integer", "ncols $10\nnrows 0x20\n", Header(16, 32, 0, 0, 0, 0)},
        HeaderCase{"real without a point", "cellsize 30\n", Header(0, 0, 0, 0, 30.0f, 0)},
        HeaderCase{"real trimmed of blanks and controls", "cellsize \t30 \t\x01\n", Header(0, 0, 0, 0, 30.0f, 0)},
        HeaderCase{"real rounded to the largest single", "cellsize 3.4028234e38\n", Header(0, 0, 0, 0, FLT_MAX, 0)},
        HeaderCase{"value text of exactly 100 characters", "ncols" + std::string(99, ' ') + "5\n",
                   Header(5, 0, 0, 0, 0, 0)},
        HeaderCase{"negative no-data", "NODATA_value -9999\n", Header(0, 0, 0, 0, 0, -9999)}));

INSTANTIATE_TEST_SUITE_P(
    Failures, ReadGridHeaderTest,
    ::testing::Values(
        FailsInteger("line begins with a blank", " ncols 100\n", " ncols 100"),
        FailsInteger("tab between key and integer", "ncols\t100\n", "ncols\t100"),
        FailsReal("tab between key and real", "cellsize\t30\n", "cellsize\t30"),
        FailsInteger("trailing blank after an integer", "nrows 100 \n", " 100 "),
        FailsInteger("no-data with a point", "NODATA_value -9999.0\n", " -9999.0"),
        FailsInteger("no-data with an exponent", "NODATA_value -1e4\n", " -1e4"),
        FailsInteger("earlier bad line fails before a later good one", "ncols x\nncols 7\n", " x"),
        FailsInteger("keys fail in table order", "cellsize bad\nNODATA_value 1.5\nnrows 2.5\n", " 2.5"),
        FailsReal("reals before the no-data value", "NODATA_value 1.5\ncellsize bad\n", "bad"),
        FailsInteger("integer value past the hundredth character", "ncols" + kSpaces100 + "5\n", kSpaces100),
        FailsReal("real value past the hundredth character", "cellsize" + kSpaces100 + "30\n", ""),
        FailsInteger("no blank: the first 100 characters", "ncols" + std::string(200, 'x') + "\n",
                     "ncols" + std::string(95, 'x')),
        FailsReal("comma in a real", "cellsize 30,5\n", "30,5"),
        FailsReal("key without a value", "cellsize\n", "cellsize"),
        FailsReal("blank without a value", "cellsize \n", ""),
        Overflows("real beyond single", "cellsize 1e39\n"),
        Overflows("negative real beyond single", "yllcorner -3.5e38\n")));

INSTANTIATE_TEST_SUITE_P(
    ByteOrder, ReadGridHeaderTest,
    ::testing::Values(HeaderCase{"MSBFIRST", "byteorder MSBFIRST\n", Header(0, 0, 0, 0, 0, 0, true)},
                      HeaderCase{"lower case with CR LF", "BYTEORDER msbfirst\r\n", Header(0, 0, 0, 0, 0, 0, true)},
                      HeaderCase{"M", "byteorder M\n", Header(0, 0, 0, 0, 0, 0, true)},
                      HeaderCase{"m padded", "byteorder  m \t\n", Header(0, 0, 0, 0, 0, 0, true)},
                      HeaderCase{"LSBFIRST", "byteorder LSBFIRST\n", Header(0, 0, 0, 0, 0, 0)},
                      HeaderCase{"other word", "byteorder MSB\n", Header(0, 0, 0, 0, 0, 0)},
                      HeaderCase{"no value", "byteorder\n", Header(0, 0, 0, 0, 0, 0)},
                      HeaderCase{"last line wins, little", "byteorder MSBFIRST\nbyteorder LSBFIRST\n",
                                 Header(0, 0, 0, 0, 0, 0)},
                      HeaderCase{"last line wins, big", "byteorder LSBFIRST\nbyteorder M\n",
                                 Header(0, 0, 0, 0, 0, 0, true)}));

INSTANTIATE_TEST_SUITE_P(
    CellCentre, ReadGridHeaderTest,
    ::testing::Values(
        HeaderCase{"centres give corners half a cell away", "xllcenter 100\nyllcenter 200\ncellsize 30\n",
                   Header(0, 0, 85.0f, 185.0f, 30.0f, 0)},
        // 1.00000003 is held as 1; from the unrounded centre the corner would round to 1 as well.
        HeaderCase{"centre rounded to single first", "xllcenter 1.00000003\ncellsize 1.1920928955078125e-7\n",
                   Header(0, 0, 1.0f - 0x1p-24f, 0, 0x1p-23f, 0)},
        HeaderCase{"corner wins over centre", "xllcorner 1\nxllcenter 100\nyllcenter 200\ncellsize 30\n",
                   Header(0, 0, 1.0f, 185.0f, 30.0f, 0)},
        HeaderCase{"centre without cell size", "yllcenter 100\n", Header(0, 0, 0, 100.0f, 0, 0)},
        HeaderCase{"centre not read when the corner is there", "xllcenter bad\nxllcorner 5\n",
                   Header(0, 0, 5.0f, 0, 0, 0)},
        FailsReal("bad centre", "xllcenter bad\n", "bad"),
        FailsInteger("centres are read after the table keys", "yllcenter bad\nNODATA_value x\n", " x"),
        Overflows("centre beyond single", "yllcenter 1e39\n"),
        Overflows("corner from centre beyond single", "xllcenter 3.4e38\ncellsize -3.4e38\n")));

TEST_F(GridHeaderFiles, HeaderNameFollowsTheInputWithAnyExtension) {
  Write("dem.hdr", "ncols 3\n");
  for (const char* input : {"dem.flt", "dem.FLT", "dem", "dem.anything"}) {
    SCOPED_TRACE(input);
    EXPECT_EQ(ReadGridHeader(PathOf(input)).ncols, 3);
  }
}

TEST_F(GridHeaderFiles, DotInAFolderNameIsNotAnExtension) {
  fs::create_directories(dir_ / "old.grids");
  Write("old.grids/dem.hdr", "nrows 9\n");
  EXPECT_EQ(ReadGridHeader(PathOf("old.grids/dem")).nrows, 9);
}

void ExpectCannotOpen(const std::string& input, const std::string& header_name) {
  try {
    ReadGridHeader(input);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file " + header_name);
  }
}

TEST_F(GridHeaderFiles, MissingHeaderCannotBeOpened) {
  ExpectCannotOpen(PathOf("missing.flt"), PathOf("missing.hdr"));
}

TEST_F(GridHeaderFiles, DirectoryCannotBeOpened) {
  fs::create_directories(dir_ / "folder.hdr");
  ExpectCannotOpen(PathOf("folder.flt"), PathOf("folder.hdr"));
}

TEST_F(GridHeaderFiles, UnreadableHeaderCannotBeOpened) {
  Write("locked.hdr", "ncols 3\n");
  ::chmod(PathOf("locked.hdr").c_str(), 0);
  if (::access(PathOf("locked.hdr").c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not apply to this user";
  ExpectCannotOpen(PathOf("locked.flt"), PathOf("locked.hdr"));
}

struct ExtensionCase {
  const char* name;
  std::string expected;
};

class ReplaceExtensionTest : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(ReplaceExtensionTest, ReplacesOrAppends) {
  SCOPED_TRACE(GetParam().name);
  EXPECT_EQ(ReplaceExtension(GetParam().name, ".hdr"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReplaceExtensionTest,
                         ::testing::Values(ExtensionCase{"dem.flt", "dem.hdr"}, ExtensionCase{"dem.FLT", "dem.hdr"},
                                           ExtensionCase{"dem", "dem.hdr"}, ExtensionCase{"a.b.flt", "a.b.hdr"},
                                           ExtensionCase{"old.grids/dem", "old.grids/dem.hdr"},
                                           ExtensionCase{"old.grids\\dem", "old.grids\\dem.hdr"},
                                           ExtensionCase{"c:dem", "c:dem.hdr"}, ExtensionCase{"dem.", "dem.hdr"},
                                           ExtensionCase{"", ".hdr"}));

}  // namespace
}  // namespace kavrimo
