// kavrimo-cli preview and export: a PNG of the image's size, or a smaller one of every k-th row and
// column, to a file or standard output (never to a terminal), in memory that does not grow with the
// image; a float grid back from an image.
#include <png.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
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

// The PNG's pixels in red, green and blue, decoded by libpng; empty when it is no PNG.
std::vector<std::uint8_t> DecodePng(const std::string& bytes, png_uint_32& width, png_uint_32& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return {};
  width = image.width, height = image.height;
  return pixels;
}

// Every k-th row and column of a 20 x 10 image, k the smallest whole number that brings both sides within
// --max-size: grey from 0 to 253, magenta above.
TEST_F(CliTest, PreviewShowsEveryKthRowAndColumnInGreyAndMagenta) {
  std::vector<std::uint8_t> image = ReadBytes(GeographicImage());
  const auto byte_at = [](int row, int column) { return static_cast<std::uint8_t>((row * 37 + column * 11) % 256); };
  for (int r = 0; r < 10; ++r) {
    for (int c = 0; c < 20; ++c) image[512 + static_cast<std::size_t>(r * 20 + c)] = byte_at(r, c);
  }
  WriteText(File("dem.IMG"), std::string(image.begin(), image.end()));
  const struct {
    Args options;
    int step;
    png_uint_32 width, height;
    // clang-format off
  } cases[] = {{{}, 1, 20, 10}, {{"--max-size", "20"}, 1, 20, 10}, {{"--max-size", "7"}, 3, 7, 4},
               {{"--max-size=9"}, 3, 7, 4}, {{"--max-size", "1"}, 20, 1, 1}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    Args args = {"preview"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {File("dem.IMG"), "-"});
    const CliResult r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    png_uint_32 width = 0, height = 0;
    const std::vector<std::uint8_t> rgb = DecodePng(r.out, width, height);
    ASSERT_EQ(std::pair(width, height), std::pair(c.width, c.height));
    for (png_uint_32 y = 0; y < height; ++y) {
      for (png_uint_32 x = 0; x < width; ++x) {
        const int b = byte_at(static_cast<int>(y) * c.step, static_cast<int>(x) * c.step);
        const int grey = b >= 253 ? 255 : b * 255 / 253;
        const std::vector<int> expected = b > 253 ? std::vector<int>{255, 0, 255} : std::vector<int>{grey, grey, grey};
        const std::size_t at = 3 * (y * width + x);
        EXPECT_EQ((std::vector<int>{rgb[at], rgb[at + 1], rgb[at + 2]}), expected) << x << "," << y;
      }
    }
  }
}

// Memory does not grow with the image: a 16384 x 16384 image (of sparse zeros) previews in 300 MB of
// address space, less than its pixels take. An image whose header promises 32767 x 32767 pixels on a
// file of three is refused before anything is set aside for them.
TEST_F(CliTest, PreviewNeedsLittleMemoryWhateverTheImageSize) {
  if (UnderAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer reserves the address space";
  auto bytes = ReadBytes(ExampleImage());
  bytes[30] = bytes[32] = 0xff;
  bytes[31] = bytes[33] = 0x7f;
  WriteText(File("huge.IMG"), std::string(bytes.begin(), bytes.end()));
  bytes[30] = bytes[32] = 0x00;
  bytes[31] = bytes[33] = 0x40;
  WriteText(File("big.IMG"), std::string(bytes.begin(), bytes.begin() + 512));
  std::filesystem::resize_file(File("big.IMG"), 512 + (std::uint64_t{1} << 28));
  EXPECT_EQ(InChild([&] {
              const rlimit limit{300u << 20, 300u << 20};
              ::setrlimit(RLIMIT_AS, &limit);
              const CliResult big = Cli({"preview", File("big.IMG"), File("big.png")});
              return std::to_string(big.status) + big.err + Cli({"preview", File("huge.IMG"), File("q.png")}).err;
            }),
            "0kavrimo-cli: " + File("huge.IMG") + " holds 3 pixels; its header promises 1073676289.\n");
  png_uint_32 width = 0, height = 0;
  EXPECT_FALSE(DecodePng(ReadText(File("big.png")), width, height).empty());
  EXPECT_EQ(width, 16384u);
  EXPECT_EQ(height, 16384u);
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
