// kavrimo-cli as a user runs it: output lines, exit statuses, error lines. The commands run in-process
// through cli::Run; a few cases run the program itself.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/cli/cli.h"
#include "app/conversion/cell_coding.h"
#include "runtime/number_text.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteGrid;
using testing_support::WriteText;

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class CliTest : public testing::Test {
 protected:
  // kavrimo-cli called in-process; a convert gets the build's template unless it names one.
  Result Cli(std::vector<std::string> args, const std::string& input = "") {
    if (!args.empty() && args[0] == "convert" &&
        std::find(args.begin(), args.end(), "--template") == args.end()) {
      args.insert(args.begin() + 1, {"--template", testing_support::TemplatePath()});
    }
    std::istringstream in(input);
    std::ostringstream out, err;
    cli::Streams io{in, out, err};
    const int status = cli::Run(args, io);
    return {status, out.str(), err.str()};
  }
  // The installed program in a process of its own, for what only a process shows: its exit status
  // and what reaches its standard streams.
  Result Process(const std::string& arguments) {
    const std::string out = dir_.File("stdout.txt"), err = dir_.File("stderr.txt");
    const std::string command = std::string(KAVRIMO_CLI_PATH) + " " + arguments + " </dev/null >" + Quote(out) +
                                " 2>" + Quote(err);
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  }
  TempDir dir_;
};

TEST_F(CliTest, ConvertPrintsTheStatusTextsInOrder) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const Result r = Cli({"convert", dir_.File("dem.flt"), dir_.File("dem.IMG")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\nStep 2 of 2\n"
            "Image created succesfully\n");
  EXPECT_EQ(r.err, "");  // no progress bar: standard error is not a terminal
  const auto image = ReadBytes(dir_.File("dem.IMG"));
  ASSERT_EQ(image.size(), 515u);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 512, image.end()), (std::vector<std::uint8_t>{13, 126, 253}));
}

TEST_F(CliTest, ErrorsAreOneLineWithTheFullStopRule) {
  const Result missing = Cli({"convert", dir_.File("none.flt"), dir_.File("o.IMG")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "kavrimo-cli: Cannot open file " + dir_.File("none.hdr") + ".\n");
  WriteText(dir_.File("bad.hdr"), "ncols 12 \n");
  const Result bad = Cli({"convert", dir_.File("bad"), dir_.File("o.IMG")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "kavrimo-cli: ' 12 ' is not a valid integer value.\n");
}

TEST_F(CliTest, UsageErrorsHelpAndVersion) {
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"convert", "only-one"},
                           Args{"convert", "--no-such-option", "a", "b"}, Args{"convert", "--jobs", "0", "--out-dir", "x", "a"},
                           Args{"locate", "img", "1"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Cli(args).status, 2);
  }
  const Result help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("convert"), std::string::npos);
  for (const char* command : {"convert", "info", "locate", "preview", "export"}) {
    SCOPED_TRACE(command);
    const Result h = Cli({command, "--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find(std::string("kavrimo-cli ") + command), std::string::npos);
  }
  EXPECT_EQ(Cli({"--version"}).out, "kavrimo-cli 1.0.0\n");
}

// What only the program itself shows: its exit statuses and streams, and the template found beside it.
TEST_F(CliTest, ProgramExitsWithTheCommandsStatus) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  const Result ok = Process("convert " + Quote(dir_.File("dem.flt")) + " " + Quote(dir_.File("dem.IMG")));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out.substr(0, 12), "Step 1 of 2\n");
  const Result failed = Process("convert " + Quote(dir_.File("none.flt")) + " " + Quote(dir_.File("o.IMG")));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "kavrimo-cli: Cannot open file " + dir_.File("none.hdr") + ".\n");
  EXPECT_EQ(Process("frobnicate").status, 2);
}

TEST_F(CliTest, TemplateOptionAndInvalidTemplate) {
  WriteGrid(dir_.File("dem"), 2, 1, {1, 2});
  WriteText(dir_.File("t.bin"), "short");
  const Result r = Cli({"convert", "--template", dir_.File("t.bin"), dir_.File("dem"), dir_.File("o.IMG")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kavrimo-cli: Template " + dir_.File("t.bin") + " is not a valid image.\n");
}

TEST_F(CliTest, BatchConvertsEachGridIntoTheDirectory) {
  WriteGrid(dir_.File("a"), 2, 1, {1, 2});
  WriteGrid(dir_.File("b"), 2, 2, {1, 2, 3, 4});
  std::filesystem::create_directory(dir_.File("out"));
  const std::string a = dir_.File("a.flt"), b = dir_.File("b.flt"), c = dir_.File("c.flt");
  const Result r = Cli({"convert", "--jobs", "2", "--out-dir", dir_.File("out"), a, c, b});
  EXPECT_EQ(r.status, 1);  // c does not exist
  EXPECT_EQ(r.out, a + ": Image created succesfully\n" + c + ": Cannot open file " + dir_.File("c.hdr") + "\n" +
                       b + ": Image created succesfully\n");
  EXPECT_EQ(ReadBytes(dir_.File("out/a.IMG")).size(), 514u);
  EXPECT_EQ(ReadBytes(dir_.File("out/b.IMG")).size(), 516u);
  const Result ok = Cli({"convert", "--out-dir", dir_.File("out"), a, b});
  EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
}

// An ASCII grid and a float grid over one fixed range: no first step, the given range as Max and Min,
// and the count line before the success line; in a batch, each grid's count line before its own.
TEST_F(CliTest, ConvertOverAFixedRangeCountsTheCellsOutsideIt) {
  WriteText(dir_.File("a.asc"), "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n100 1000 2000\n");
  WriteGrid(dir_.File("b"), 2, 1, {-100, 1500});
  const CellScale scale = ScaleFor({1500, -100});
  const std::string scale_line =
      "Slope = " + FormatReal(scale.slope) + " and Intecept = " + FormatReal(scale.intercept) + "\n";
  const Result one = Cli({"convert", "--range", "-100", "1500", dir_.File("a.asc"), dir_.File("a.IMG")});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "Max = 1500 and Min = -100\n" + scale_line +
                         "Step 2 of 2\n0 cells below the range coded 0 and 1 above it coded 253\nImage created succesfully\n");
  std::filesystem::create_directory(dir_.File("out"));
  const std::string a = dir_.File("a.asc"), b = dir_.File("b.flt");
  const Result batch = Cli({"convert", "--out-dir", dir_.File("out"), "--range", "-100", "1500.0", a, b});
  EXPECT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(batch.out, a + ": 0 cells below the range coded 0 and 1 above it coded 253\n" + a +
                           ": Image created succesfully\n" + b + ": Image created succesfully\n");
  EXPECT_EQ(ReadBytes(dir_.File("out/a.IMG")), ReadBytes(dir_.File("a.IMG")));
  using Args = std::vector<std::string>;
  for (const Args& range : {Args{"5", "1"}, Args{"1", "1"}, Args{"x", "1"}, Args{"-1e39", "0"}, Args{"0", "1,5"}, Args{"1"}}) {
    SCOPED_TRACE(testing::PrintToString(range));
    Args args = {"convert", "--range"};
    args.insert(args.end(), range.begin(), range.end());
    args.insert(args.end(), {a, dir_.File("x.IMG")});
    const Result r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--range needs"), std::string::npos) << r.err;
  }
}

TEST_F(CliTest, ExportWritesAFloatGridOrOneErrorLine) {
  WriteGrid(dir_.File("dem"), 3, 1, {100, 1000, 2000});
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result r = Cli({"export", "--nodata", "-32768", dir_.File("dem.IMG"), dir_.File("back")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadBytes(dir_.File("back.flt")).size(), 12u);
  EXPECT_EQ(Slurp(dir_.File("back.hdr")).substr(0, 32), "ncols         3\nnrows         1\n");
  using Args = std::vector<std::string>;
  for (const Args& args : {Args{"export", "--nodata", "x", dir_.File("dem.IMG"), dir_.File("g")},
                           Args{"export", "--nodata", "16777217", dir_.File("dem.IMG"), dir_.File("g")},
                           Args{"export", dir_.File("dem.IMG")}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(Cli(args).status, 2);
  }
  const Result refused = Cli({"export", dir_.File("dem.flt"), dir_.File("g")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "kavrimo-cli: " + dir_.File("dem.flt") + " is not a valid Miradel image.\n");
}

TEST_F(CliTest, InfoPrintsEveryPropertyAndDerivedValue) {
  WriteGrid(dir_.File("dem"), 20, 10, std::vector<float>(200, 3.0f), "NODATA_value -9999\n", false, 30, 35, 0.5f);
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result text = Cli({"info", dir_.File("dem.IMG")});
  ASSERT_EQ(text.status, 0) << text.err;
  std::vector<std::string> names;
  std::istringstream lines(text.out);
  for (std::string line; std::getline(lines, line);) names.push_back(line.substr(0, line.find(':')));
  const std::vector<std::string> expected = {
      "State",        "ImageType",     "Projection",   "Rows",        "Columns",      "Comment",     "RefLatitude",
      "RefLongitude", "RefColumn",     "RefRow",       "ColumnSpacing", "RowSpacing", "ProjParam1",  "ProjParam2",
      "MinValue",     "MaxValue",      "MissingValue", "Gain",        "Offset",       "Decimals",    "CellWidthKm",
      "MinLatitude",  "MaxLatitude",   "MinLongitude", "MaxLongitude"};
  EXPECT_EQ(names, expected);
  EXPECT_NE(text.out.find("State: ValidImage\n"), std::string::npos);
  EXPECT_NE(text.out.find("RefLatitude: 40\n"), std::string::npos);
  EXPECT_NE(text.out.find("MaxLongitude: 39.5\n"), std::string::npos);
  EXPECT_NE(text.out.find("MinLatitude: 35.5\n"), std::string::npos);
  const Result json = Cli({"info", "--json", dir_.File("dem.IMG")});
  ASSERT_EQ(json.status, 0);
  for (const std::string& key : expected) EXPECT_NE(json.out.find("\"" + key + "\":"), std::string::npos) << key;
  EXPECT_NE(json.out.find("\"State\": \"ValidImage\""), std::string::npos);

  WriteText(dir_.File("junk.IMG"), std::string(600, 'j'));
  const Result invalid = Cli({"info", dir_.File("junk.IMG")});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_EQ(invalid.err, "kavrimo-cli: " + dir_.File("junk.IMG") + " is not a valid Miradel image.\n");
}

TEST_F(CliTest, LocateFromArgumentsAndFromStandardInput) {
  WriteGrid(dir_.File("dem"), 20, 10, std::vector<float>(200, 3.0f), "NODATA_value -9999\n", false, 30, 35, 0.5f);
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result args = Cli({"locate", dir_.File("dem.IMG"), "0", "0", "4", "2", "-0.5", "3"});
  EXPECT_EQ(args.status, 0) << args.err;
  EXPECT_EQ(args.out, "40 30\n39 32\n-1 -1\n");
  const Result piped = Cli({"locate", dir_.File("dem.IMG")}, "1 1\n\n0.25 0.5\n");
  EXPECT_EQ(piped.out, "39.5 30.5\n39.75 30.125\n");
  const Result bad = Cli({"locate", dir_.File("dem.IMG")}, "1 x\n");
  EXPECT_EQ(bad.status, 1);
}

TEST_F(CliTest, PreviewWritesAPngOfTheImageSize) {
  WriteGrid(dir_.File("dem"), 7, 3, std::vector<float>(21, 3.0f));
  ASSERT_EQ(Cli({"convert", dir_.File("dem"), dir_.File("dem.IMG")}).status, 0);
  const Result r = Cli({"preview", dir_.File("dem.IMG"), dir_.File("q.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto png = ReadBytes(dir_.File("q.png"));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  EXPECT_EQ(png[19], 7);  // IHDR width
  EXPECT_EQ(png[23], 3);  // IHDR height
}

}  // namespace
}  // namespace kavrimo
