// kavrimo-cli convert with one grid: the status lines the window shows, quiet runs, ASCII grids over a
// fixed range, names that are bytes rather than text, and the resources a conversion keeps to.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <string>

#include "app/conversion/cell_coding.h"
#include "runtime/number_text.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/child_process.h"
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
      {"a float grid",
       {"convert", File("dem"), File("o.IMG")},
       "Step 1 of 2\nMax = 2000 and Min = 0\nSlope = 7.90513849258423 and Intecept = 0\nStep 2 of 2\n"
       "Image created succesfully\n",
       "\x0d\x7e\xfd"},
      {"quiet, on one thread", {"convert", "-q", "--threads", "1", File("dem.flt"), File("o.IMG")}, "", "\x0d\x7e\xfd"},
      {"an ASCII grid over a fixed range",
       {"convert", "--range", "-100", "1500", File("a.asc"), File("o.IMG")},
       "Max = 1500 and Min = -100\nSlope = " + FormatReal(fixed.slope) +
           " and Intecept = " + FormatReal(fixed.intercept) +
           "\nStep 2 of 2\n0 cells below the range coded 0 and 1 above it coded 253\nImage created succesfully\n",
       "\x20\xae\xfd"},  // (cell + 100) / (1600 / 253), rounded, and 2000 held at 253
      {"a name that is not UTF-8", {"convert", "-q", File("dem"), File("victim\xff.IMG")}, "", "\x0d\x7e\xfd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetDecimalSeparator(',');  // as a comma locale gives it: the command sets the full stop itself
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

// Resources: threads asked for beyond the work cost nothing (a 3-cell grid with 400 million threads, in
// 1 GiB of address space), and an ASCII grid whose scratch file does not fit beside the image (a file-
// size limit of 64 KiB: the image takes 20 KB, the scratch file 80 KB) says so and leaves nothing behind.
TEST_F(CliTest, ConvertKeepsToTheResourcesItHas) {
  if (UnderAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer reserves the address space";
  WriteGrid(File("dem"), 3, 1, {100, 1000, 2000});
  std::string text = "ncols 200\nnrows 100\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  for (int i = 0; i < 20000; ++i) text += i % 200 == 199 ? "7\n" : "7 ";
  WriteText(File("big.asc"), text);
  const std::string out = Folder("out");
  const struct {
    const char* name;
    rlimit limit;
    int resource;
    Args args;
    std::string result;  // status, then standard error
  } cases[] = {
      // clang-format off
      {"threads", {1u << 30, 1u << 30}, RLIMIT_AS,
       {"convert", "-q", "--threads", "400000000", File("dem"), out + "/dem.IMG"}, "0 "},
      {"scratch space", {64 << 10, 64 << 10}, RLIMIT_FSIZE, {"convert", "-q", File("big.asc"), out + "/big.IMG"},
       // clang-format on
       "1 kavrimo-cli: Not enough space beside " + out + "/big.IMG for the image and the scratch file of " +
           File("big.asc") +
           ": the grid needs 100512 bytes (1 MiB, 5 bytes per cell) there until its image is "
           "complete.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(InChild([&] {
                ::signal(SIGXFSZ, SIG_IGN);
                ::setrlimit(c.resource, &c.limit);
                const CliResult r = Cli(c.args);
                return std::to_string(r.status) + " " + r.err;
              }),
              c.result);
  }
  EXPECT_EQ(ListFolder(out), std::vector<std::string>{"dem.IMG"});
}

// On a file system of 200 KiB (a tmpfs of this test's own), a 300 x 150 ASCII grid's scratch file
// (180,000 bytes) fits but not with its image (45,512 bytes): refused before a cell is parsed, with the
// figure of both, and nothing left behind. The disk used to fill up in pass 2 with a bare "Disk full.".
TEST_F(CliTest, ScratchFileAndImageMustFitTogether) {
  std::string text = "ncols 300\nnrows 150\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  for (int i = 0; i < 300 * 150; ++i) text += i % 300 == 299 ? "7\n" : "7 ";
  WriteText(File("big.asc"), text);
  const std::string out = Folder("small");
  const std::string report = InChild([&] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", out.c_str(), "tmpfs", 0, "size=200k") != 0) {
      return std::string("no tmpfs");
    }
    const CliResult r = Cli({"convert", "-q", File("big.asc"), out + "/big.IMG"});
    return std::to_string(r.status) + " " + r.err + std::to_string(ListFolder(out).size());
  });
  if (report == "no tmpfs") GTEST_SKIP() << "a tmpfs cannot be mounted here (the test needs root)";
  EXPECT_EQ(report,
            "1 kavrimo-cli: Not enough space beside " + out + "/big.IMG for the image and the scratch file of " +
                File("big.asc") +
                ": the grid needs 225512 bytes (1 MiB, 5 bytes per cell) there until its image is complete.\n0");
}

}  // namespace
}  // namespace kavrimo
