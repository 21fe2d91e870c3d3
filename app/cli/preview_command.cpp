// kavrimo-cli preview IMAGE PNG: a quick-look of an image as an indexed PNG, one pixel per cell: grey
// from MinValue (black) to MaxValue (white), every byte above MaxValue (no-data and the like) magenta.
#include <QColor>
#include <QCommandLineParser>
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

constexpr const char* kSyntax = "IMAGE PNG";

}  // namespace

int RunPreview(const std::vector<std::string>& args, Streams& io) {
  QCommandLineParser parser;
  parser.addPositionalArgument("IMAGE", "The image file.");
  parser.addPositionalArgument("PNG", "The PNG file to write.");
  if (auto status = ParseCommandLine(parser, "preview", kSyntax, args, io)) return *status;
  const std::vector<std::string> positionals = Positionals(parser);
  if (positionals.size() != 2) return UsageError(io.err, UsageLine("preview", kSyntax));

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
