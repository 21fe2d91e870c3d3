// kavrimo-cli convert --out-dir: every grid into the folder, each reported in the order given, successes
// on standard output and failures on standard error, status 1 when any failed; control characters of a
// name escaped. Each image is the one a single conversion of its grid makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/app/cli/cli_fixture.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

TEST_F(CliTest, BatchReportsEachGridInTheOrderGiven) {
  WriteGrid(File("a"), 2, 1, {1, 2});
  WriteGrid(File("b\n\x1b[2J"), 2, 2, {1, 2, 3, 4});
  WriteText(File("c.asc"), "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n100 1000 2000\n");
  WriteText(Folder("sub") + "/a.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n5\n");
  WriteGrid(File("g\xfe"), 2, 1, {1, 2});
  WriteGrid(File("g\xff"), 3, 1, {1, 2, 3});
  const std::string bad_asc = File("bad.asc"), bad_tif = File("worse.tif");
  WriteText(bad_asc, "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 x\n");
  WriteText(bad_tif, "garbage");
  const std::string out = File("out");
  const std::string a = File("a.flt"), b = File("b\n\x1b[2J.flt"), c = File("c.asc"), none = File("none.flt");
  const std::string done = ": Image created succesfully\n";
  const struct {
    const char* name;
    Args args;
    int status;
    std::string out, err;
    std::vector<std::pair<std::string, std::string>> images;  // grid, image in out
    Args range;
  } cases[] = {
      {"a missing grid among others, two at a time",
       {"convert", "--jobs", "2", "--out-dir", out, a, none, b},
       1,
       a + done + File("b\\x0a\\x1b[2J.flt") + done,
       "kavrimo-cli: " + none + ": Cannot open file " + File("none.hdr") + ".\n",
       {{a, "a.IMG"}, {b, "b\n\x1b[2J.IMG"}},
       {}},
      {"quiet", {"convert", "-q", "--out-dir", out, a, b}, 0, "", "", {{a, "a.IMG"}, {b, "b\n\x1b[2J.IMG"}}, {}},
      // clang-format off
      {"over a fixed range", {"convert", "--out-dir", out, "--range", "-100", "1500.0", c, a}, 0,
       c + ": 0 cells below the range coded 0 and 1 above it coded 253\n" + c + done + a + done, "",
       {{c, "c.IMG"}, {a, "a.IMG"}}, {"--range", "-100", "1500"}},
      {"two grids for one image", {"convert", "--out-dir", out, a, File("sub/a.asc")}, 1, a + done,
       "kavrimo-cli: " + File("sub/a.asc") + ": the output " + out + "/a.IMG is already taken by " + a + ".\n",
       {{a, "a.IMG"}}, {}},
      {"names that are not UTF-8", {"convert", "--out-dir", out, File("g\xfe.flt"), File("g\xff.flt")}, 0,
       File("g\xfe.flt") + done + File("g\xff.flt") + done, "",
       {{File("g\xfe.flt"), "g\xfe.IMG"}, {File("g\xff.flt"), "g\xff.IMG"}}, {}},
      {"a missing folder", {"convert", "--out-dir", File("none"), a, b}, 1, "",
       "kavrimo-cli: " + File("none") + ": Invalid filename.\n", {}, {}},
      // An ASCII grid's and a GeoTIFF's errors name their file themselves: once a line.
      {"errors that name their file", {"convert", "--out-dir", out, bad_asc, bad_tif, a}, 1, a + done,
       "kavrimo-cli: Line 6 of " + bad_asc + ": 'x' is not a number.\nkavrimo-cli: " + bad_tif +
           " is not a TIFF file.\n", {{a, "a.IMG"}}, {}},
      // clang-format on
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    std::filesystem::remove_all(out);
    Folder("out");
    const CliResult r = Cli(k.args);
    EXPECT_EQ(r.status, k.status);
    EXPECT_EQ(r.out, k.out);
    EXPECT_EQ(r.err, k.err);
    std::vector<std::string> images;
    for (const auto& [grid, image] : k.images) {
      Args single = {"convert", "-q"};
      single.insert(single.end(), k.range.begin(), k.range.end());
      single.insert(single.end(), {grid, File("single.IMG")});
      ASSERT_EQ(Cli(single).status, 0);
      EXPECT_EQ(ReadBytes(out + "/" + image), ReadBytes(File("single.IMG"))) << image;
      images.push_back(image);
    }
    std::sort(images.begin(), images.end());
    EXPECT_EQ(ListFolder(out), images);
  }
  EXPECT_FALSE(std::filesystem::exists(File("none")));
}

}  // namespace
}  // namespace kavrimo
