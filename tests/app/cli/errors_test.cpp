// What kavrimo-cli says when it cannot do what it was asked: usage errors (status 2) and failures
// (status 1), each one line on standard error with nothing on standard output; and its help and version.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

#include "kavrimo_version.h"
#include "runtime/number_text.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

const std::string kConvertUsage =
    "kavrimo-cli: usage: kavrimo-cli convert [-q] [--template FILE] [--range MIN MAX] [--threads N] [--bounds WEST "
    "SOUTH EAST NORTH] [--cell-size SIZE] INPUT OUTPUT\n"
    "                    kavrimo-cli convert [-q] [--template FILE] [--range MIN MAX] [--jobs N] [--cell-size SIZE] "
    "--out-dir DIR INPUT...\n";

TEST_F(CliTest, UsageErrorsSayWhatIsWrongAndEndWithStatusTwo) {
  const std::string range = "--range needs two numbers MIN and MAX, MIN less than MAX.";
  const std::string nodata = "--nodata needs a whole number that a single holds exactly, such as -9999.";
  const std::string no_code =
      "an EPSG code is the whole number of a geographic coordinate system in degrees from Greenwich, such as 4326.";
  const struct {
    Args args;
    std::string err;  // after "kavrimo-cli: "
  } cases[] = {
      {{"frobnicate"}, "unknown command 'frobnicate' (try --help)"},
      {{"convert", "only-one"}, kConvertUsage.substr(13)},
      {{"convert", "--out-dir", "d"}, kConvertUsage.substr(13)},
      {{"convert", "--no-such-option", "a", "b"}, "unknown option '--no-such-option' (try kavrimo-cli convert --help)"},
      {{"convert", "--template"}, "option '--template' needs FILE."},
      {{"convert", "--template", "", "a", "b"}, "option '--template' needs FILE, not an empty text."},
      {{"convert", "", "o.IMG"}, "an empty name is no file."},
      {{"convert", "--threads", "0", "a", "b"}, "--threads needs a whole number of at least 1."},
      {{"convert", "--threads", "2", "--out-dir", "d", "a"}, "option '--threads' cannot go with --out-dir."},
      {{"convert", "--jobs", "2", "a", "b"}, "option '--jobs' needs --out-dir."},
      {{"convert", "--jobs", "0", "--out-dir", "d", "a"}, "--jobs needs a whole number of at least 1."},
      {{"convert", "--range", "5", "1", "a", "b"}, range},
      {{"convert", "--range", "1", "1", "a", "b"}, range},
      {{"convert", "--range", "x", "1", "a", "b"}, range},
      {{"convert", "--range", "-1e39", "0", "a", "b"}, range},
      {{"convert", "--range", "0", "1,5", "a", "b"}, range},
      {{"convert", "--range", "1", "a", "b"}, range},
      {{"info", "--json=yes", "a"}, "option '--json' takes no '=' value."},
      {{"info"}, "usage: kavrimo-cli info [--json] IMAGE."},
      {{"locate", "img", "1"}, "usage: kavrimo-cli locate IMAGE [COLUMN ROW]..."},
      {{"preview", "", "x.png"}, "an empty name is no file."},
      {{"export", "--nodata", "x", "a", "g"}, nodata},
      {{"export", "--nodata", "16777217", "a", "g"}, nodata},
      {{"export", "a"}, "usage: kavrimo-cli export [--nodata N] [--epsg CODE] IMAGE GRID."},
      // A code must name a geographic 2D coordinate system.
      // --epsg takes geographic 2D systems in degrees from Greenwich only, and repeats what was typed.
      {{"export", "--epsg", "wgs84", "a", "g"}, "--epsg 'wgs84': " + no_code},
      {{"export", "--epsg", "99999999999", "a", "g"}, "--epsg '99999999999': " + no_code},
      {{"export", "--epsg", "32633", "a", "g"},
       "--epsg '32633': EPSG code 32633 names a projected coordinate system, not a geographic 2D coordinate system."},
      {{"export", "--epsg", "4979", "a", "g"},
       "--epsg '4979': EPSG code 4979 names a geographic 3D coordinate system, not a geographic 2D coordinate system."},
      {{"export", "--epsg", "0", "a", "g"}, "--epsg '0': EPSG code 0 is not in the coordinate system database."},
      {{"export", "--epsg", "4807", "a", "g"}, "--epsg '4807': EPSG code 4807 (NTF (Paris)) is in grads, not degrees."},
      {{"export", "--epsg", "04807", "a", "g"},
       "--epsg '04807': EPSG code 4807 (NTF (Paris)) is in grads, not degrees."},
      {{"export", "--epsg", "4801", "a", "g"},
       "--epsg '4801': EPSG code 4801 (Bern 1898 (Bern)) counts longitudes from Bern, not Greenwich."},
      // An empty name where a file is needed is a usage error in every command.
      {{"info", ""}, "an empty name is no file."},
      {{"info", "--json", ""}, "an empty name is no file."},
      {{"locate", ""}, "an empty name is no file."},
      {{"export", "", "g"}, "an empty name is no file."},
      {{"export", "a", ""}, "an empty name is no file."},
      // Two different numbers that become one single.
      {{"convert", "--range", "100", "100.000001", "a", "b"},
       "--range needs MIN less than MAX: 100 and 100.000001 both round to the same single-precision value, 100."},
      {{"convert", "--range", "1e-45", "2e-45", "a", "b"},
       "--range needs MIN less than MAX: 1e-45 and 2e-45 both round to the same single-precision value, "
       "1.401298464324817e-45."},
      {{"preview", "--max-size", "0", "a", "b"}, "--max-size needs a whole number of at least 1."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    SetDecimalSeparator(',');
    const CliResult r = Cli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "kavrimo-cli: " + c.err + (c.err.ends_with("\n") ? "" : "\n"));
    EXPECT_EQ(DecimalSeparator(), ',') << "the checks of the arguments change no process state";
  }
  SetDecimalSeparator('.');
}

TEST_F(CliTest, HelpListsEveryCommandAndVersionNamesTheBuild) {
  const CliResult help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(help.out.starts_with("Usage: kavrimo-cli COMMAND [OPTIONS] ARGUMENTS\n")) << help.out;
  EXPECT_EQ(Cli({"-h"}).out, help.out);
  const CliResult bare = Cli({});  // a usage error that shows the same text
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err, help.out);
  for (const std::string command : {"convert", "info", "locate", "preview", "export"}) {
    SCOPED_TRACE(command);
    EXPECT_NE(help.out.find("\n  " + command + " "), std::string::npos) << help.out;
    const CliResult own = Cli({command, "--help"});
    EXPECT_EQ(own.status, 0);
    EXPECT_EQ(own.err, "");
    EXPECT_TRUE(own.out.starts_with("Usage: kavrimo-cli " + command + " ")) << own.out;
    EXPECT_NE(own.out.find("\nOptions:\n"), std::string::npos) << own.out;
  }
  const CliResult version = Cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out + version.err, "kavrimo-cli " + std::string(kVersion) + "\n");
}

// The file a failure concerns is named, as the user named it or as derived from that name, and the
// full stop follows the window's rule; nothing is written. The template is read after pass 1, as the
// window reads it, so the lines of pass 1 come first.
TEST_F(CliTest, FailuresAreOneLineNamingTheirFile) {
  const std::string image = ExampleImage();
  WriteGrid(File("nodata"), 3, 1, {1, 2, 3});
  std::filesystem::remove(File("nodata.flt"));
  WriteText(File("bad.hdr"), "ncols 12 \n");
  WriteGrid(File("nan"), 2, 1, {1, std::numeric_limits<float>::quiet_NaN()});
  WriteText(File("short.bin"), "short");
  WriteText(File("junk.IMG"), std::string(600, 'j'));
  ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0666), 0);
  const std::string pass_one = "Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\n";
  const std::string typed_template = std::filesystem::relative(File("short.bin")).string();  // as typed
  const std::string long_name = File(std::string(300, 'n') + ".IMG");
  const struct {
    Args args;
    std::string err;  // after "kavrimo-cli: ", before the full stop
    std::string out = "";
  } cases[] = {
      {{"convert", File("none.flt"), File("o.IMG")}, "Cannot open file " + File("none.hdr")},
      {{"convert", File("bad"), File("o.IMG")}, File("bad") + ": ' 12 ' is not a valid integer value"},
      {{"convert", File("nan"), File("o.IMG")}, File("nan") + ": Invalid floating point operation", "Step 1 of 2\n"},
      {{"convert", File("nodata"), File("o.IMG")}, File("nodata.flt") + ": File not found"},
      {{"convert", File("dem"), File("none/o.IMG")}, File("none/o.IMG") + ": Invalid filename"},
      {{"convert", "--template", File("no.bin"), File("dem"), File("o.IMG")},
       File("no.bin") + ": File not found",
       pass_one},
      {{"convert", "--template", File("short.bin"), File("dem"), File("o.IMG")},
       "Template " + File("short.bin") + " is not a valid image",
       pass_one},
      {{"convert", "--template", typed_template, File("dem"), File("o.IMG")},
       "Template " + typed_template + " is not a valid image",
       pass_one},
      // A name the file system cannot hold is refused before the grid is read: no status line.
      {{"convert", File("dem"), long_name}, long_name + ": Invalid filename"},
      {{"convert", File("dem"), File("fifo")}, File("fifo") + " is not a regular file"},
      {{"info", File("fifo")}, File("fifo") + ": File access denied"},
      {{"info", File("none.IMG")}, File("none.IMG") + ": File not found"},
      {{"info", File("junk.IMG")}, File("junk.IMG") + " is not a valid Miradel image"},
      {{"preview", image, image}, "Cannot write over " + image + ", which this command reads"},
      {{"preview", image, File("fifo")}, File("fifo") + " is not a regular file"},
      {{"export", File("dem.flt"), File("g")}, File("dem.flt") + " is not a valid Miradel image"},
  };
  const auto before = ListFolder(dir_.Path());
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CliResult r = Cli(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "kavrimo-cli: " + c.err + ".\n");
  }
  EXPECT_EQ(ListFolder(dir_.Path()), before);
  EXPECT_EQ(ReadBytes(image).size(), 515u);
}

}  // namespace
}  // namespace kavrimo
