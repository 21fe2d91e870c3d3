// kavrimo-cli mosaic and convert --bounds/--cell-size: the usage errors, the names --inputs-from gives
// (odd ones, and from standard input), the one-grid identity with convert, and the files never written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "runtime/errors.h"
#include "runtime/file.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// An existing grid named as OUTPUT (its OUTPUT forgotten, or a glob of grids) is refused before any file
// is read: nothing is written over.
TEST_F(CliTest, MosaicUsageErrors) {
  WriteGrid(File("a"), 2, 2, {1, 2, 3, 4});
  const std::string a = File("a"), o = File("o.IMG");
  WriteText(File("b.TIF"), "tif");
  WriteText(File("b.asc"), "asc");
  const auto grid_named = [](const std::string& output) {
    return output + ": is named as a grid, not an image; give the image to write as OUTPUT";
  };
  const struct {
    Args args;
    std::string err;
  } cases[] = {
      {{"mosaic", o}, "mosaic needs at least one INPUT"},
      {{"mosaic", "--inputs-from", "/dev/null", o}, "mosaic needs at least one INPUT"},
      {{"mosaic", a, a + ".flt"}, grid_named(a + ".flt")},
      {{"mosaic", a, File("b.TIF")}, grid_named(File("b.TIF"))},
      {{"convert", a, File("b.asc")}, grid_named(File("b.asc"))},
      {{"mosaic", "--inputs-from", File("none"), a, File("b.TIF")}, grid_named(File("b.TIF"))},
      {{"convert", a, a + ".hdr"}, grid_named(a + ".hdr")},
      {{"convert", "--template", File("none"), a, File("b.asc")}, grid_named(File("b.asc"))},
      {{"mosaic", "--bounds", "1", "2", "x", "4", a, o}, "--bounds needs four numbers WEST SOUTH EAST NORTH, not 'x'"},
      {{"mosaic", "--bounds", "1", "2", "inf", "4", a, o},
       "--bounds needs four numbers WEST SOUTH EAST NORTH, not 'inf'"},
      {{"mosaic", "--bounds", "3", "0", "1", "1", a, o}, "--bounds needs WEST less than EAST"},
      {{"convert", "--bounds", "0", "2", "1", "2", a, o}, "--bounds needs SOUTH less than NORTH"},
      {{"mosaic", "--cell-size", "0", a, o}, "--cell-size needs a finite number greater than 0, not '0'"},
      {{"convert", "--cell-size", "inf", a, o}, "--cell-size needs a finite number greater than 0, not 'inf'"},
      {{"mosaic", "--inputs-from", "x", "--inputs-from", "y", o}, "option '--inputs-from' may be given only once"},
      {{"convert", "--bounds", "0", "0", "1", "1", "--out-dir", File(""), a},
       "option '--bounds' cannot go with --out-dir"},
  };
  const auto before = ListFolder(dir_.Path());
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CliResult r = Cli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kavrimo-cli: " + WithFullStop(c.err) + "\n");
  }
  EXPECT_EQ(ListFolder(dir_.Path()), before);
  EXPECT_EQ(ReadText(File("b.TIF")), "tif");
  EXPECT_EQ(ReadText(File("b.asc")), "asc");
  EXPECT_EQ(ReadBytes(a + ".flt").size(), 16u);
  for (const std::string command : {"convert", "mosaic"}) {  // a new file of a grid's name is written
    const CliResult r = Cli({command, "-q", a, File(command + ".tif")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(File(command + ".tif")));
  }
}

// Names from a file or standard input, byte for byte (blanks, a leading dash, bytes that are not UTF-8),
// empty lines skipped, after those given; the image is that of the names on the command line.
TEST_F(CliTest, MosaicTakesNamesFromAFileOrStandardInput) {
  const std::vector<std::string> names = {File(" a b "), File("-c"), File("d\xff")};
  for (std::size_t i = 0; i < names.size(); ++i) {
    WriteGrid(names[i], 2, 2, {1.0f + static_cast<float>(i), 2, -9999, 4}, "NODATA_value -9999\n", false,
              static_cast<float>(i), 0, 1);
  }
  const std::string list = names[1] + "\n\n" + names[2] + "\n";
  WriteText(File("list"), list);
  const CliResult given = Cli({"mosaic", "--", names[0], names[1], names[2], File("given.IMG")});
  EXPECT_EQ(given.status, 0) << given.err;
  EXPECT_TRUE(given.out.starts_with("Mosaic of 3 of 3 grids: 4 x 2 cells\nStep 1 of 2\n")) << given.out;
  ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0666), 0);
  for (const Args& args : {Args{"mosaic", "-q", "--inputs-from", File("list"), names[0], File("o.IMG")},
                           Args{"mosaic", "-q", "--inputs-from", "-", names[0], File("o.IMG")},
                           Args{"mosaic", "-q", "--inputs-from", File("fifo"), names[0], File("o.IMG")}}) {
    SCOPED_TRACE(args[3]);
    std::thread writer([&] {  // a FIFO (or a process substitution) is read as standard input is
      if (args[3] == File("fifo")) std::ofstream(File("fifo")) << list;
    });
    const CliResult r = Cli(args, list);
    const int reader = ::open(File("fifo").c_str(), O_RDONLY | O_NONBLOCK);  // a writer still waiting goes on
    writer.join();
    ::close(reader);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(File("o.IMG")), ReadBytes(File("given.IMG")));
  }
  // A line that cannot be a name stops the list where it stands: a device without end is not read on.
  WriteText(File("nul"), names[1] + "\n" + std::string("x\0y", 3) + "\n");
  const struct {
    Args args;
    std::string err;
    std::string in = "";
  } failures[] = {
      {{"mosaic", "--inputs-from", File("none"), File("o.IMG")}, "Cannot open file " + File("none")},
      {{"mosaic", "--inputs-from", File("list"), names[0], File("list")},
       "Cannot write over " + File("list") + ", which this command reads"},
      {{"mosaic", "--inputs-from", File("nul"), File("o.IMG")},
       File("nul") + ": line 2 holds a NUL byte, which no file name holds"},
      {{"mosaic", "--inputs-from", "-", File("o.IMG")},
       "standard input: line 1 is longer than 4095 bytes, the longest file name",
       std::string(4096, 'n')},
  };
  for (const auto& c : failures) {
    const CliResult r = Cli(c.args, c.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kavrimo-cli: " + c.err + ".\n");
  }
  EXPECT_EQ(ReadText(File("list")), list);
}

// A mosaic of one grid without --bounds and --cell-size is the image convert makes; convert with them
// is the mosaic of its grid.
TEST_F(CliTest, MosaicOfOneGridIsConvert) {
  std::vector<float> cells;
  for (int i = 0; i < 30 * 20; ++i) cells.push_back(i % 7 == 0 ? -9999.0f : static_cast<float>(i % 101) - 20);
  WriteGrid(File("dem"), 30, 20, cells, "NODATA_value -9999\n", false, 30.25f, -10.5f, 0.25f);
  for (const Args& options : {Args{}, Args{"--bounds", "31", "-10", "33.1", "-8"}, Args{"--cell-size", "0.75"}}) {
    Args convert = {"convert", "-q"}, mosaic = {"mosaic", "-q"};
    convert.insert(convert.end(), options.begin(), options.end());
    mosaic.insert(mosaic.end(), options.begin(), options.end());
    convert.insert(convert.end(), {File("dem"), File("c.IMG")});
    mosaic.insert(mosaic.end(), {File("dem"), File("m.IMG")});
    ASSERT_EQ(Cli(convert).status, 0);
    ASSERT_EQ(Cli(mosaic).status, 0);
    EXPECT_EQ(ReadBytes(File("c.IMG")), ReadBytes(File("m.IMG")));
    if (options.empty()) {
      ASSERT_EQ(Cli({"convert", "-q", File("dem"), File("plain.IMG")}).status, 0);
      EXPECT_EQ(ReadBytes(File("m.IMG")), ReadBytes(File("plain.IMG")));
    }
  }
}

}  // namespace
}  // namespace kavrimo
