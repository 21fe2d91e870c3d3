// kavrimo-cli convert with one grid: the status lines the window shows, quiet runs, ASCII grids over a
// fixed range, and names that are bytes rather than text.
#include <gtest/gtest.h>

#include <string>

#include "app/conversion/cell_coding.h"
#include "runtime/number_text.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// The lines on standard output, nothing on standard error (no progress bar: it is not a terminal), and
// the image's cells. A name that is not UTF-8 reaches the system unchanged, so the file that its
// conversion to text would name stays as it was.
TEST_F(CliTest, ConvertPrintsTheStatusLinesAndWritesTheImage) {
  WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
  WriteText(File("a.asc"), "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n100 1000 2000\n");
  WriteText(File("victim\xef\xbf\xbd.IMG"), "unrelated");
  const CellScale fixed = ScaleFor({1500, -100});
  const struct {
    const char* name;
    Args args;
    std::string out;
    std::string cells;
  } cases[] = {
      {"a float grid", {"convert", File("dem"), File("o.IMG")},
       "Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\nStep 2 of 2\n"
       "Image created succesfully\n",
       "\x0d\x7e\xfd"},
      {"quiet, on one thread", {"convert", "-q", "--threads", "1", File("dem.flt"), File("o.IMG")}, "", "\x0d\x7e\xfd"},
      {"an ASCII grid over a fixed range", {"convert", "--range", "-100", "1500", File("a.asc"), File("o.IMG")},
       "Max = 1500 and Min = -100\nSlope = " + FormatReal(fixed.slope) + " and Intecept = " +
           FormatReal(fixed.intercept) +
           "\nStep 2 of 2\n0 cells below the range coded 0 and 1 above it coded 253\nImage created succesfully\n",
       "\x20\xae\xfd"},  // (cell + 100) / (1600 / 253), rounded, and 2000 held at 253
      {"a name that is not UTF-8", {"convert", "-q", File("dem"), File("victim\xff.IMG")}, "", "\x0d\x7e\xfd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CliResult r = Cli(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    const std::string image = ReadText(c.args.back());
    ASSERT_EQ(image.size(), 512 + c.cells.size());
    EXPECT_EQ(image.substr(512), c.cells);
  }
  EXPECT_EQ(ReadText(File("victim\xef\xbf\xbd.IMG")), "unrelated");
}

}  // namespace
}  // namespace kavrimo
