// kavrimo-cli preview [--max-size N] IMAGE PNG: a quick-look of an image as an indexed PNG, one pixel
// per cell: grey from MinValue (black) to MaxValue (white), every byte above MaxValue (no-data and the
// like) magenta. With --max-size, every k-th row and column, k the smallest whole number that brings
// both sides to at most N. The picture is encoded row by row, so memory does not depend on the image's
// size. PNG "-" writes to standard output, unless that is a terminal, where binary bytes would garble
// the screen; any other name is written as every output is.
#include <algorithm>
#include <optional>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/image_file.h"
#include "app/cli/options.h"
#include "app/cli/png_stream.h"
#include "app/cli/terminal_host.h"
#include "image/image_pixels.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/temporary_output.h"

namespace kavrimo::cli {
namespace {

constexpr char kMaxSize[] = "max-size";

const CommandSpec kSpec{
    .name = "preview",
    .synopsis = "[--max-size N] IMAGE PNG",
    .description =
        "Writes a quick-look of a Miradel image as a PNG: grey from MinValue to MaxValue, every\n"
        "byte above MaxValue (no-data) in magenta. PNG \"-\" writes it to standard output, which must\n"
        "not be a terminal. With --max-size, every k-th row and column is shown, k the smallest\n"
        "whole number that brings both sides to at most N.",
    .options = {{.name = kMaxSize,
                 .value_name = "N",
                 .values = 1,
                 .help = "Make the PNG at most N pixels wide and high.",
                 .check = CheckPositiveWholeNumber<kMaxSize>}},
    .arguments = {.min = 2, .max = 2}};

// The palette: grey from low (black) to high (white), magenta above high.
std::array<PaletteColour, 256> Palette(int low, int high) {
  std::array<PaletteColour, 256> palette{};
  for (int b = 0; b < 256; ++b) {
    const int grey = b <= low ? 0 : b >= high ? 255 : (b - low) * 255 / (high - low);
    const auto g = static_cast<std::uint8_t>(grey);
    palette[static_cast<std::size_t>(b)] = b > high ? PaletteColour{255, 0, 255} : PaletteColour{g, g, g};
  }
  return palette;
}

// Writes the preview of image (named image_name) to png, or to standard output when there is none.
int Preview(const ParsedArgs& parsed, const std::string& image_name, TKelImg& image,
            std::optional<TemporaryOutput>& png, Streams& io) {
  const std::int64_t rows = image.Rows(), columns = image.Columns();
  if (rows < 1 || columns < 1) throw Error(image_name + " holds no cells to preview");
  const ImagePixels pixels = ImagePixels::OpenForReading(image, image_name);
  // Every step-th row and column: the smallest step that brings both sides within the limit.
  std::int64_t step = 1;
  if (parsed.IsSet(kMaxSize)) {
    const std::int64_t limit = PositiveWholeNumber(parsed.Value(kMaxSize));
    step = std::max((rows + limit - 1) / limit, (columns + limit - 1) / limit);
  }
  const std::int64_t width = (columns + step - 1) / step, height = (rows + step - 1) / step;

  const auto write_picture = [&](const PngStream::Sink& sink) {
    PngStream stream(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                     Palette(image.MinValue(), image.MaxValue()), sink);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(columns));
    std::vector<std::uint8_t> shown(static_cast<std::size_t>(width));
    for (std::int64_t r = 0; r < rows; r += step) {
      pixels.ReadExactlyAt(r * columns, row.data(), row.size());
      for (std::int64_t c = 0; c < width; ++c)
        shown[static_cast<std::size_t>(c)] = row[static_cast<std::size_t>(c * step)];
      stream.WriteRow(shown.data());
    }
    stream.Finish();
  };
  if (!png) {
    write_picture([&](const std::uint8_t* bytes, std::size_t count) {
      io.out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    });
    return 0;
  }
  png->Reserve();
  png->Build([&] {
    BinaryFile out = BinaryFile::OpenExisting(png->Path(), OpenMode::WriteOnly);
    write_picture([&](const std::uint8_t* bytes, std::size_t count) { out.WriteExactly(bytes, count); });
    out.Close();
  });
  png->Commit();
  return 0;
}

}  // namespace

int RunPreview(const std::vector<std::string>& args, Streams& io) {
  std::optional<TemporaryOutput> png;  // none: the picture goes to standard output
  return RunOnImage(
      kSpec, args, io,
      [&](const ParsedArgs& parsed, TKelImg& image) { return Preview(parsed, parsed.Arguments()[0], image, png, io); },
      [&](const ParsedArgs& parsed) {
        const std::vector<std::string>& positionals = parsed.Arguments();
        if (positionals[1] != "-") {
          png.emplace(positionals[1], std::vector<std::string>{positionals[0]});
        } else if (io.out_is_terminal) {
          throw Error("will not write a PNG to a terminal: redirect standard output or name a file");
        }
      });
}

}  // namespace kavrimo::cli
