// kavrimo-cli preview IMAGE PNG: a quick-look of an image as an indexed PNG, one pixel per cell: grey
// from MinValue (black) to MaxValue (white), every byte above MaxValue (no-data and the like) magenta.
#include <QColor>
#include <QImage>
#include <QImageWriter>

#include "app/cli/cli.h"
#include "app/cli/image_file.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "image/header_format.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{"preview", "IMAGE PNG",
                        "Writes a quick-look of a Miradel image as a PNG: grey from MinValue to MaxValue, every\n"
                        "byte above MaxValue (no-data) in magenta.",
                        {}};

}  // namespace

int RunPreview(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  const std::vector<std::string>& positionals = parsed.Arguments();
  if (positionals.size() != 2) return CommandUsageError(kSpec, io);

  TerminalHost host(io.out, io.err, false, true);
  TKelImg image(host);
  AttachValid(image, positionals[0]);
  const int rows = image.Rows(), columns = image.Columns();
  if (rows < 1 || columns < 1) throw Error(positionals[0] + " holds no cells to preview");

  QImage picture(columns, rows, QImage::Format_Indexed8);
  if (picture.isNull()) throw Error("not enough memory for a preview of " + positionals[0]);
  const int low = image.MinValue(), high = image.MaxValue();
  QList<QRgb> table(256);
  for (int b = 0; b < 256; ++b) {
    const int grey = b <= low ? 0 : b >= high ? 255 : (b - low) * 255 / (high - low);
    table[b] = b > high ? qRgb(255, 0, 255) : qRgb(grey, grey, grey);
  }
  picture.setColorTable(table);
  BinaryFile file = BinaryFile::OpenExisting(positionals[0], OpenMode::ReadOnly);
  file.Seek(header_format::kHeaderSize);
  for (int r = 0; r < rows; ++r) file.ReadExactly(picture.scanLine(r), static_cast<std::size_t>(columns));
  file.Close();
  QImageWriter writer(QString::fromLocal8Bit(positionals[1].c_str()), "png");
  if (!writer.write(picture)) {
    throw Error("Cannot write " + positionals[1] + ": " + writer.errorString().toStdString());
  }
  return 0;
}

}  // namespace kavrimo::cli
