// kavrimo-cli info and locate: every header property and derived value as text or JSON, controls in
// the header escaped; positions from the arguments or standard input, and what is not a position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/json_text.h"
#include "image/kel_img.h"
#include "projection/dispatcher.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// An image from the template with the projection, size and spacing given.
void WriteImage(const std::string& path, int projection, std::int16_t size, double spacing) {
  std::filesystem::copy_file(TemplatePath(), path, std::filesystem::copy_options::overwrite_existing);
  RecordingHost host;
  TKelImg writer(host);
  writer.SetFileName(path);
  writer.SetProjection(static_cast<std::uint8_t>(projection));
  writer.SetColumns(size);
  writer.SetRows(size);
  writer.SetColumnSpacing(spacing);
  writer.SetRowSpacing(spacing);
}

TEST_F(CliTest, InfoPrintsEveryPropertyAndDerivedValue) {
  const std::string image = GeographicImage();
  const CliResult text = Cli({"info", image});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.err, "");
  std::vector<std::string> names;
  std::istringstream lines(text.out);
  for (std::string line; std::getline(lines, line);) names.push_back(line.substr(0, line.find(':')));
  const std::vector<std::string> expected = {
      "State",        "ImageType",   "Projection",   "Rows",          "Columns",    "Comment",    "RefLatitude",
      "RefLongitude", "RefColumn",   "RefRow",       "ColumnSpacing", "RowSpacing", "ProjParam1", "ProjParam2",
      "MinValue",     "MaxValue",    "MissingValue", "Gain",          "Offset",     "Decimals",   "CellWidthKm",
      "MinLatitude",  "MaxLatitude", "MinLongitude", "MaxLongitude"};
  EXPECT_EQ(names, expected);
  for (const char* line : {"State: ValidImage\n", "RefLatitude: 40\n", "MaxLongitude: 39.5\n", "MinLatitude: 35.5\n"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line;
  }
  const CliResult json = Cli({"info", "--json", image});
  ASSERT_EQ(json.status, 0);
  for (const std::string& key : expected) EXPECT_NE(json.out.find("\"" + key + "\":"), std::string::npos) << key;
  EXPECT_NE(json.out.find("\"State\": \"ValidImage\""), std::string::npos);

  // A Comment holding terminal controls is shown escaped.
  auto bytes = ReadBytes(image);
  const std::string comment = "\x1b]0;owned\x07\x1b[2J";
  std::copy(comment.begin(), comment.end(), bytes.begin() + 38);
  WriteText(File("controls.IMG"), std::string(bytes.begin(), bytes.end()));
  const CliResult controls = Cli({"info", File("controls.IMG")});
  EXPECT_NE(controls.out.find("Comment: \\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << controls.out;
  EXPECT_EQ(controls.out.find('\x1b'), std::string::npos);
}

// info --json prints JSON or nothing, for images of every projection, corners in and out of the
// projection's domain; the azimuthal projection's report line goes to standard error.
TEST_F(CliTest, InfoJsonIsJsonForEveryProjection) {
  SetProjectionReportStream(stderr);
  for (const int projection : {0, 2, 3, 4, 5, 6, 7, 8, 9}) {
    for (const double spacing : {0.001, 1000.0, 1e6}) {
      SCOPED_TRACE(std::to_string(projection) + " " + std::to_string(spacing));
      WriteImage(File("p.IMG"), projection, 100, spacing);
      const CliResult r = Cli({"info", "--json", File("p.IMG")});
      if (r.status != 0) {
        EXPECT_EQ(r.out, "");
        continue;
      }
      EXPECT_TRUE(nlohmann::json::accept(r.out)) << r.out;
    }
  }
  WriteImage(File("lamaz.IMG"), 6, 100, 1e6);
  const CliResult lamaz = Process("info --json " + Quote(File("lamaz.IMG")));
  EXPECT_EQ(lamaz.status, 0);
  EXPECT_EQ(lamaz.out.substr(0, 1), "{");
  EXPECT_NE(lamaz.err.find("Error in lamaz_inverse\n"), std::string::npos);
}

// info --json gives the text its readers have always had, byte for byte: keys in byte order, the
// Comment's bytes as Latin-1 characters with controls escaped, whole numbers without a point.
TEST_F(CliTest, InfoJsonTextIsExact) {
  auto bytes = ReadBytes(GeographicImage());
  std::string comment = "\x1b\"\\ \xe9\xff/\x7f tab\there";
  comment += std::string(79 - comment.size(), '.');
  std::copy(comment.begin(), comment.end(), bytes.begin() + 38);
  WriteText(File("c.IMG"), std::string(bytes.begin(), bytes.end()));
  const CliResult r = Cli({"info", "--json", File("c.IMG")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "{\n    \"CellWidthKm\": 41.589454650878906,\n    \"ColumnSpacing\": 0.5,\n    \"Columns\": 20,\n"
      "    \"Comment\": \"\\u001b\\\"\\\\ \xc3\xa9\xc3\xbf/\x7f tab\\there"
      ".............................................................. \",\n"
      "    \"Decimals\": 2,\n    \"Gain\": 0.011857707053422928,\n    \"ImageType\": 200,\n"
      "    \"MaxLatitude\": 40,\n    \"MaxLongitude\": 39.5,\n    \"MaxValue\": 253,\n    \"MinLatitude\": 35.5,\n"
      "    \"MinLongitude\": 30,\n    \"MinValue\": 0,\n    \"MissingValue\": 254,\n    \"Offset\": 0,\n"
      "    \"ProjParam1\": 0,\n    \"ProjParam2\": 0,\n    \"Projection\": 3,\n    \"RefColumn\": 0,\n"
      "    \"RefLatitude\": 40,\n    \"RefLongitude\": 30,\n    \"RefRow\": 0,\n    \"RowSpacing\": 0.5,\n"
      "    \"Rows\": 10,\n    \"State\": \"ValidImage\"\n}\n");
}

// Numbers as the object has always written them: the shortest digits, decimal or exponent form
// whichever is shorter (decimal on a tie), whole numbers up to 2^53 as integers.
TEST(InfoJson, NumbersAreWrittenAsBefore) {
  const std::vector<std::pair<double, std::string>> cases = {
      {0.0, "0"},
      {-0.0, "0"},
      {3.0, "3"},
      {-9999.0, "-9999"},
      {9007199254740992.0, "9007199254740992"},
      {9007199254740994.0, "9007199254740994"},
      {1e16, "1e+16"},
      {7.087391374564554e16, "70873913745645540"},
      {4.0879714249597277e21, "4087971424959727700000"},
      {1e21, "1e+21"},
      {-1.5e300, "-1.5e+300"},
      {0.00615812, "0.00615812"},
      {0.001, "0.001"},
      {0.0001, "1e-04"},
      {0.0001234, "0.0001234"},
      {0.00001234, "1.234e-05"},
      {5e-324, "5e-324"},
      {700506711710573.8, "700506711710573.8"},
      {0.012500000186264515, "0.012500000186264515"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(cli::JsonNumberText(value), text) << value;
}

TEST_F(CliTest, LocateFromArgumentsAndFromStandardInput) {
  const std::string image = GeographicImage();
  const CliResult args = Cli({"locate", image, "0", "0", "4", "2", "-0.5", "3"});
  EXPECT_EQ(args.status, 0) << args.err;
  EXPECT_EQ(args.out, "40 30\n39 32\n-1 -1\n");
  const CliResult piped = Cli({"locate", image}, "1 1\n\n0.25 0.5\n");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "39.5 30.5\n39.75 30.125\n");
  // Positions are finite numbers; "--" ends the options once; rejected text is escaped and cut short.
  const struct {
    Args args;
    std::string input, shown;
  } rejected[] = {
      {{"locate", image, "nan", "0"}, "", "nan 0"},
      {{"locate", image, "1", "inf"}, "", "1 inf"},
      {{"locate", image, "-inf", "2"}, "", "-inf 2"},
      {{"locate", image, "--", "--", "2"}, "", "-- 2"},
      {{"locate", image}, "1 x\n", "1 x"},
      {{"locate", image}, "1 2 \x1b[2J\n", "1 2 \\x1b[2J"},
      {{"locate", image}, "1 2 " + std::string(100000, 'z') + "\n", "1 2 " + std::string(76, 'z') + "..."},
      {{"locate", image}, "0 0\n1 2 " + std::string(100000, 'z'), "1 2 " + std::string(76, 'z') + "..."},
  };
  for (const auto& c : rejected) {
    SCOPED_TRACE(c.shown.substr(0, 20));
    const CliResult r = Cli(c.args, c.input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavrimo-cli: '" + c.shown + "' is not a pixel position (COLUMN ROW)\n");
  }
  // Standard input that never ends a line is rejected without being gathered; one that cannot be
  // read is an error, not an empty success.
  std::string zeros;
  for (int i = 0; i < 80; ++i) zeros += "\\x00";
  const CliResult endless = Process("locate " + Quote(image), "", "/dev/zero");
  EXPECT_EQ(endless.status, 1);
  EXPECT_EQ(endless.err, "kavrimo-cli: '" + zeros + "...' is not a pixel position (COLUMN ROW)\n");
  const CliResult folder = Process("locate " + Quote(image), "", dir_.Path());
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "kavrimo-cli: read error: Is a directory.\n");
}

}  // namespace
}  // namespace kavrimo
