// kavrimo-cli preview and export: a PNG of the image's size to a file or standard output (never to a
// terminal), checked against the file's size before memory is set aside; a float grid back from an
// image.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "app/cli/cli.h"
#include "tests/app/cli/cli_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

TEST_F(CliTest, PreviewWritesAPngOfTheImageSize) {
  WriteGrid(File("dem"), 7, 3, std::vector<float>(21, 3.0f));
  ASSERT_EQ(Cli({"convert", File("dem"), File("dem.IMG")}).status, 0);
  const CliResult r = Cli({"preview", File("dem.IMG"), File("q.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  const auto png = ReadBytes(File("q.png"));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  EXPECT_EQ(png[19], 7);  // IHDR width
  EXPECT_EQ(png[23], 3);  // IHDR height
  const CliResult piped = Cli({"preview", File("dem.IMG"), "-"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, std::string(png.begin(), png.end()));
  std::istringstream in;
  std::ostringstream on_terminal, err;
  cli::Streams terminal{in, on_terminal, err, true, true};
  EXPECT_EQ(cli::Run({"preview", File("dem.IMG"), "-"}, terminal), 1);
  EXPECT_EQ(on_terminal.str() + err.str(),
            "kavrimo-cli: will not write a PNG to a terminal: redirect standard output or name a file.\n");
}

// An image whose header promises 32767 x 32767 pixels on a file of three: the size is checked before
// a gigabyte is set aside for them (the preview runs with 300 MB of address space).
TEST_F(CliTest, PreviewChecksTheFileSizeBeforeAllocating) {
  if (UnderAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer reserves the address space";
  auto bytes = ReadBytes(ExampleImage());
  bytes[30] = bytes[32] = 0xff;
  bytes[31] = bytes[33] = 0x7f;
  WriteText(File("huge.IMG"), std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(InChild([&] {
              const rlimit limit{300u << 20, 300u << 20};
              ::setrlimit(RLIMIT_AS, &limit);
              return Cli({"preview", File("huge.IMG"), File("q.png")}).err;
            }),
            "kavrimo-cli: " + File("huge.IMG") + " holds 3 pixels; its header promises 1073676289.\n");
}

// Each byte back as byte x Gain + Offset (here 2000 / 253 and 0), the missing byte as the no-data value.
TEST_F(CliTest, ExportWritesAFloatGrid) {
  WriteGrid(File("dem"), 3, 1, {100, -9999, 2000});
  ASSERT_EQ(Cli({"convert", File("dem"), File("dem.IMG")}).status, 0);
  const CliResult r = Cli({"export", "--nodata", "-32768", File("dem.IMG"), File("back")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadText(File("back.hdr")),
            "ncols         3\nnrows         1\nxllcorner     0\nyllcorner     0\ncellsize      1\n"
            "NODATA_value  -32768\nbyteorder     LSBFIRST\n");
  const auto cells = ReadBytes(File("back.flt"));
  ASSERT_EQ(cells.size(), 12u);
  float values[3];
  std::memcpy(values, cells.data(), sizeof values);
  EXPECT_FLOAT_EQ(values[0], 13 * 2000.0f / 253);
  EXPECT_EQ(values[1], -32768.0f);
  EXPECT_FLOAT_EQ(values[2], 2000.0f);
}

}  // namespace
}  // namespace kavrimo
