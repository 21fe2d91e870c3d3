// kavrimo-cli preview IMAGE PNG: a quick-look of an image as an indexed PNG, one pixel per cell: grey
// from MinValue (black) to MaxValue (white), every byte above MaxValue (no-data and the like) magenta.
// PNG "-" writes to standard output, unless that is a terminal, where binary bytes would garble the
// screen; any other name is written as every output is.
#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <optional>

#include "app/cli/cli.h"
#include "app/cli/image_file.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "image/image_pixels.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/temporary_output.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{"preview", "IMAGE PNG",
                        "Writes a quick-look of a Miradel image as a PNG: grey from MinValue to MaxValue, every\n"
                        "byte above MaxValue (no-data) in magenta. PNG \"-\" writes it to standard output, which must\n"
                        "not be a terminal.",
                        {},
                        {.min = 2, .max = 2}};

}  // namespace

int RunPreview(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  const std::vector<std::string>& positionals = parsed.Arguments();
  const std::string& image_name = positionals[0];
  const bool to_standard_output = positionals[1] == "-";
  if (to_standard_output && io.out_is_terminal) {
    throw Error("will not write a PNG to a terminal: redirect standard output or name a file");
  }
  std::optional<TemporaryOutput> png;
  if (!to_standard_output) png.emplace(positionals[1], std::vector<std::string>{image_name});

  TerminalHost host(io.out, io.err, false, true);
  TKelImg image(host);
  AttachValid(image, image_name);
  const int rows = image.Rows(), columns = image.Columns();
  if (rows < 1 || columns < 1) throw Error(image_name + " holds no cells to preview");
  const ImagePixels pixels = ImagePixels::OpenForReading(image, image_name);

  QImage picture(columns, rows, QImage::Format_Indexed8);
  if (picture.isNull()) throw Error("not enough memory for a preview of " + image_name);
  const int low = image.MinValue(), high = image.MaxValue();
  QList<QRgb> table(256);
  for (int b = 0; b < 256; ++b) {
    const int grey = b <= low ? 0 : b >= high ? 255 : (b - low) * 255 / (high - low);
    table[b] = b > high ? qRgb(255, 0, 255) : qRgb(grey, grey, grey);
  }
  picture.setColorTable(table);
  for (int r = 0; r < rows; ++r) pixels.ReadExactlyAt(std::int64_t{r} * columns, picture.scanLine(r), static_cast<std::size_t>(columns));

  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  if (!writer.write(picture)) throw Error("Cannot encode the preview: " + writer.errorString().toStdString());
  if (to_standard_output) {
    io.out.write(encoded.constData(), encoded.size());
    return 0;
  }
  png->Reserve();
  png->Build([&] {
    BinaryFile out = BinaryFile::OpenExisting(png->Path(), OpenMode::WriteOnly);
    out.WriteExactly(encoded.constData(), static_cast<std::size_t>(encoded.size()));
    out.Close();
  });
  png->Commit();
  return 0;
}

}  // namespace kavrimo::cli
