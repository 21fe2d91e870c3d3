// ESRI ASCII grids: every header form and header error; the values against strtof, one token at a time,
// whatever the pieces and the white space; bad tokens with their lines; the short number path against
// strtof near every kind of rounding trap.
#include "app/grid/ascii_grid.h"

#include <locale.h>

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/number_text.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

// The independent reference: glibc's strtof in the C locale, correctly rounded.
float Strtof(const std::string& token) {
  static const locale_t c_locale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  return ::strtof_l(token.c_str(), nullptr, c_locale);
}

class AsciiGridFiles : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalSeparator('.'); }
  std::string Write(const std::string& content) const {
    testing_support::WriteText(Path(), content);
    return Path();
  }
  std::string Path() const { return dir_.File("dem.asc"); }

  // The header, or the error's message.
  std::string HeaderMessage(const std::string& content, AsciiGridHeader* header = nullptr) const {
    Write(content);
    try {
      const BinaryFile file = BinaryFile::OpenExisting(Path(), OpenMode::ReadOnly);
      const AsciiGridHeader read = ReadAsciiGridHeader(file, "dem.asc");
      if (header != nullptr) *header = read;
    } catch (const Error& e) {
      return e.Message();
    }
    return "";
  }

  // Every value of the file parsed piece by piece in order, on one thread; or the error's message.
  std::string Values(const std::string& content, std::size_t piece_bytes, std::vector<float>& cells) const {
    Write(content);
    cells.clear();
    try {
      const BinaryFile file = BinaryFile::OpenExisting(Path(), OpenMode::ReadOnly);
      const AsciiValues values(file, "dem.asc", ReadAsciiGridHeader(file, "dem.asc"), piece_bytes);
      AsciiValues::Buffers buffers(values);
      for (std::int64_t piece = 0; piece < values.Pieces(); ++piece) {
        const std::size_t count = values.Parse(piece, buffers);
        cells.insert(cells.end(), buffers.Cells(), buffers.Cells() + count);
      }
      values.CheckCount(static_cast<std::int64_t>(cells.size()));
    } catch (const Error& e) {
      return e.Message();
    }
    return "";
  }

  const testing_support::TempDir dir_;
};

const std::string kSquare = "ncols 3\nnrows 2\nxllcorner 10\nyllcorner 40\ncellsize 0.5\n";

TEST(AsciiGridName, EndsInAscInAnyLetterCase) {
  for (const char* name : {"dem.asc", "DEM.ASC", "a/b.Asc", ".asc"}) EXPECT_TRUE(IsAsciiGridName(name)) << name;
  for (const char* name : {"dem.flt", "dem.asc.flt", "asc", "dem.ascii", "dem"})
    EXPECT_FALSE(IsAsciiGridName(name)) << name;
}

TEST_F(AsciiGridFiles, EveryHeaderFormGivesItsFields) {
  const struct {
    const char* name;
    std::string text;
    float xll, yll, cellsize;
    std::optional<float> cell_height;
    float nodata;
    std::int64_t values_line;
    std::string values;  // the text from the start of the values on
  } cases[] = {
      {"lower case, LF", kSquare + "1 2 3 4 5 6\n", 10, 40, 0.5f, {}, -9999, 6, "1 2 3 4 5 6\n"},
      // clang-format off
      {"upper case, CR LF, no-data", "NCOLS 3\r\nNROWS 2\r\nXLLCORNER 10\r\nYLLCORNER 40\r\nCELLSIZE 0.5\r\nNODATA_VALUE -1.5\r\n1\r\n",
       10, 40, 0.5f, {}, -1.5f, 7, "1\r\n"},
      {"CR alone, tabs and leading blanks", "  ncols\t3\r\tnrows  2 \rxllcorner 10\ryllcorner\t \t40\rcellsize 0.5\r 7", 10, 40,
       0.5f, {}, -9999, 6, " 7"},
      // The centre of the lower-left cell lies half a cell inside the corner, in each direction by its own size.
      {"centres", "ncols 3\nnrows 2\nxllcenter 10.25\nyllcenter 40.25\ncellsize 0.5\n-1", 10, 40, 0.5f, {}, -9999, 6, "-1"},
      {"dx and dy", "ncols 3\nnrows 2\nxllcenter 10\nyllcenter 40\ndx 2\ndy 0.5\n", 9, 39.75f, 2, 0.5f, -9999, 7, ""},
      {"reals rounded to single", "ncols 3\nnrows 2\nxllcorner 500000.123\nyllcorner 4123456.78\ncellsize 30\n"
                                  "nodata_value 16777217\n.5",
       500000.125f, 4123456.75f, 30, {}, 16777216, 7, ".5"},
      {"tiny no-data rounds to zero", kSquare + "nodata_value -1e-50\n", 10, 40, 0.5f, {}, -0.0f, 7, ""},
      {"header alone, no line end", "ncols 3\nnrows 2\nxllcorner 10\nyllcorner 40\ncellsize 0.5", 10, 40, 0.5f, {}, -9999, 6, ""},
      {"blank line ends the header", kSquare + " \t\nnodata_value 5\n", 10, 40, 0.5f, {}, -9999, 6, " \t\nnodata_value 5\n"},
      // clang-format on
      // Some editors put a UTF-8 byte order mark first; it is no part of the first key.
      {"byte order mark", "\xEF\xBB\xBF" + kSquare + "1 2\n", 10, 40, 0.5f, {}, -9999, 6, "1 2\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AsciiGridHeader header;
    ASSERT_EQ(HeaderMessage(c.text, &header), "");
    const GridHeader& g = header.grid;
    EXPECT_EQ(std::tuple(g.ncols, g.nrows, g.xllcorner, g.yllcorner, g.cellsize, g.cell_height),
              std::tuple(3, 2, c.xll, c.yll, c.cellsize, c.cell_height));
    ASSERT_TRUE(g.nodata_single.has_value());
    EXPECT_EQ(std::bit_cast<std::uint32_t>(*g.nodata_single), std::bit_cast<std::uint32_t>(c.nodata));
    EXPECT_EQ(header.values_line, c.values_line);
    EXPECT_EQ(c.text.substr(static_cast<std::size_t>(header.values_offset)), c.values);
  }
}

TEST_F(AsciiGridFiles, HeaderErrorsNameTheirLine) {
  const std::string sized = "ncols 3\nnrows 2\n";
  const std::pair<std::string, std::string> cases[] = {
      {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\nsize 1\n", "Line 5 of dem.asc: unknown key 'size'"},
      {sized + "NCOLS 4\n", "Line 3 of dem.asc: ncols given twice (first on line 1)"},
      {sized + "xllcorner 1\nxllcenter 1\n", "Line 4 of dem.asc: xllcenter conflicts with xllcorner on line 3"},
      {sized + "dy 1\ncellsize 1\n", "Line 4 of dem.asc: cellsize conflicts with dy on line 3"},
      {sized + "xllcorner\n", "Line 3 of dem.asc: a header line holds one key and one value, not 'xllcorner'"},
      {sized + "xllcorner 1 2\n", "Line 3 of dem.asc: a header line holds one key and one value, not 'xllcorner 1 2'"},
      {"ncols 4.5\n", "Line 1 of dem.asc: ncols '4.5' is not a whole number"},
      {"ncols +-4\n", "Line 1 of dem.asc: ncols '+-4' is not a whole number"},
      {"ncols 99999999999999999999\n", "Line 1 of dem.asc: ncols '99999999999999999999' is out of range"},
      {sized + "xllcorner 1,5\n", "Line 3 of dem.asc: xllcorner '1,5' is not a number"},
      {sized + "cellsize 1e39\n", "Line 3 of dem.asc: cellsize '1e39' is too large for a single"},
      {sized + "nodata_value nan\n", "Line 3 of dem.asc: nodata_value 'nan' is not a number"},
      {sized + "nodata_value -4e38\n", "Line 3 of dem.asc: nodata_value '-4e38' is too large for a single"},
      {"nrows 2\nxllcorner 1\nyllcorner 1\ncellsize 1\n1 2\n", "Line 5 of dem.asc: the header has no ncols"},
      {sized + "xllcorner 1\ncellsize 1\n1 2\n", "Line 5 of dem.asc: the header has no yllcorner or yllcenter"},
      {sized + "xllcorner 1\nyllcorner 1\n", "Line 5 of dem.asc: the header has no cellsize (or dx and dy)"},
      {sized + "xllcorner 1\nyllcorner 1\ndx 1\n\n",
       "Line 6 of dem.asc: the header ends at this blank line and has no dy beside dx"},
      // A blank line inside the header ends it: the message says so rather than blame the key's absence.
      {"ncols 3\n\nnrows 2\nxllcorner 1\nyllcorner 1\ncellsize 1\n",
       "Line 2 of dem.asc: the header ends at this blank line and has no nrows"},
      {"", "Line 1 of dem.asc: the header has no ncols"},
      {"ncols 40000\nnrows 2\nxllcorner 1\nyllcorner 1\ncellsize 1\n",
       "Grid of 40000 columns and 2 rows cannot be converted: a Miradel image holds 1 to 32767 of each"},
      {"ncols 3\nnrows 0\nxllcorner 1\nyllcorner 1\ncellsize 1\n",
       "Grid of 3 columns and 0 rows cannot be converted: a Miradel image holds 1 to 32767 of each"},
      {"ncols " + std::string(70000, '1') + "\n", "Line 1 of dem.asc: the header is longer than 64 KiB"}};
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text.substr(0, 60));
    EXPECT_EQ(HeaderMessage(text), message);
  }
}

// Numbers in every form strtod reads (less hexadecimal, infinities and NaN), with long, short and
// exponent forms, zeros of both signs, denormals and values that round to zero, between runs of every
// kind of white space; rows wrapped and joined. Cut into pieces of every size from 2 bytes, every
// value comes out as strtof reads its token.
TEST_F(AsciiGridFiles, ValuesAreWhatStrtofReadsWhateverThePieces) {
  std::mt19937 random(4242);
  std::uniform_int_distribution<int> digit(0, 9), length(1, 24), form(0, 9), gap(0, 7);
  std::vector<std::string> tokens;
  for (int i = 0; i < 3000; ++i) {
    std::string t = form(random) < 3 ? "-" : form(random) == 0 ? "+" : "";
    const int digits = form(random) < 7 ? 1 + length(random) % 8 : length(random);
    const int point = form(random) < 8 ? digit(random) % (digits + 1) : -1;
    for (int d = 0; d < digits; ++d) {
      if (d == point) t += '.';
      t += static_cast<char>('0' + digit(random));
    }
    if (point == digits) t += '.';
    if (form(random) == 0) t += (form(random) < 5 ? "e" : "E") + std::to_string(digit(random) * 9 - 40);
    if (!std::isinf(Strtof(t))) tokens.push_back(t);
  }
  for (const char* t : {"0", "-0", "-0.0", ".5", "5.", "1e-45", "7e-46", "-1e-60", "3.4028234e38", "1.17549435e-38",
                        "16777217", "0.1", "99999999999999999999999", "1.000000059604644775390625"}) {
    tokens.push_back(t);
  }
  const char* const gaps[] = {" ", "  ", "\t", "\n", "\r\n", "\r", " \r\n\t", "\n\n"};
  std::string text = "ncols 1\nnrows " + std::to_string(tokens.size()) + "\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  for (const std::string& t : tokens) text += t + gaps[gap(random)];
  std::vector<float> expected;
  for (const std::string& t : tokens) expected.push_back(Strtof(t));
  for (const std::size_t piece :
       {std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{64}, std::size_t{4099}, kAsciiPieceBytes}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    std::vector<float> cells;
    ASSERT_EQ(Values(text, piece, cells), "");
    ASSERT_EQ(cells.size(), expected.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(cells[i]), std::bit_cast<std::uint32_t>(expected[i])) << tokens[i];
    }
  }
}

TEST_F(AsciiGridFiles, BadTokensAndCountsFailWithTheirLines) {
  const std::string header = "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n";  // values on line 6
  const std::string long_token(50, '7');
  const std::pair<std::string, std::string> cases[] = {
      {"1 2\n3 x\n", "Line 7 of dem.asc: 'x' is not a number"},
      {"1 2\r\n3 inf\r\n", "Line 7 of dem.asc: 'inf' is not a number"},
      {"1\r2\r3\rnan", "Line 9 of dem.asc: 'nan' is not a number"},
      {"1\r\n\r\n2\n\r3 0x10", "Line 10 of dem.asc: '0x10' is not a number"},
      {"1 2 3 1e", "Line 6 of dem.asc: '1e' is not a number"},
      {"1 2 3 +-1", "Line 6 of dem.asc: '+-1' is not a number"},
      {"1 2 3 1,5", "Line 6 of dem.asc: '1,5' is not a number"},
      {"1 2 3 1e39", "Line 6 of dem.asc: '1e39' is too large for a single"},
      {"1 2 3 " + long_token + "x", "Line 6 of dem.asc: '" + long_token.substr(0, 40) + "' is not a number"},
      {"1 2 3 " + std::string(kMaxNumberBytes + 1, '1'),
       "Line 6 of dem.asc: '" + std::string(40, '1') + "' is not a number"},
      {std::string("1 2 3 4\0", 8), "Line 6 of dem.asc: '4?' is not a number"},
      {"1 x\n3 y", "Line 6 of dem.asc: 'x' is not a number"},  // the first in file order
      {"1 2 3", "dem.asc holds 3 values; its header promises 4"},
      {"1 2 3 4 5\n", "dem.asc holds 5 values; its header promises 4"},
      {"", "dem.asc holds 0 values; its header promises 4"}};
  for (const auto& [values, message] : cases) {
    for (const std::size_t piece : {std::size_t{2}, std::size_t{5}, kAsciiPieceBytes}) {
      SCOPED_TRACE(values.substr(0, 40) + ", pieces of " + std::to_string(piece));
      std::vector<float> cells;
      EXPECT_EQ(Values(header + values, piece, cells), message);
    }
  }
}

// The short path decides a value in double precision, the decimal exactly scaled; it must never differ
// from the correctly rounded single. Traps: decimals on and next to the midpoints between neighbouring
// singles (a double rounding there would go the wrong way), with every digit count the path takes.
TEST(CellText, ShortPathEqualsStrtofOnMidpointsAndRandomDecimals) {
  std::mt19937_64 random(99);
  std::uniform_int_distribution<std::uint32_t> bits(0x00800000, 0x7f000000);
  std::vector<std::string> texts;
  char text[64];
  for (int i = 0; i < 20000; ++i) {
    // The midpoint above a random single, written with 9 to 19 significant digits: with few digits
    // it is rounded off the midpoint, with more it lies on it or within the last digit.
    const float f = std::bit_cast<float>(bits(random));
    const double mid = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, INFINITY))) / 2;
    std::snprintf(text, sizeof text, "%.*g", 9 + i % 11, mid);
    texts.push_back(text);
    std::snprintf(text, sizeof text, "%.*e", i % 17, static_cast<double>(f) * (1 + 1e-9 * (i % 5)));
    texts.push_back(text);
  }
  // Midpoints whose decimal is short and exact: 2^24 + 1 and its neighbours, and 0.5-steps above 2^24.
  for (const char* t :
       {"16777217", "16777219", "16777217.0", "1.6777217e7", "33554434", "33554438", "0.30000001192092896"}) {
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    float value = 0;
    ASSERT_EQ(ParseCellText(t, value), NumberText::kNumber) << t;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(value), std::bit_cast<std::uint32_t>(Strtof(t))) << t;
  }
  float value = 0;
  for (const char* t : {"", "+", "-", ".", "e5", "inf", "-nan", "infinity", "0x1p3", "1e", "1e+", "--1", "1 2"}) {
    EXPECT_EQ(ParseCellText(t, value), NumberText::kNotANumber) << t;
  }
  EXPECT_EQ(ParseCellText("3.4028236e38", value), NumberText::kTooLarge);
  EXPECT_EQ(ParseCellText("-1e400", value), NumberText::kTooLarge);
}

}  // namespace
}  // namespace kavrimo
