// kavrimo-cli info, locate and preview: what an image holds and where it lies.
#include <QColor>
#include <QCommandLineParser>
#include <QImage>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <charconv>
#include <istream>
#include <sstream>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo::cli {
namespace {

// Shortest text that reads back as the same double.
std::string Real(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

bool ParseDouble(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

// Attaches path; raises when it cannot be opened or is not a valid image.
void AttachValid(TKelImg& image, const std::string& path) {
  image.SetFileName(path);
  if (image.State() != ImageState::ValidImage) throw Error(path + " is not a valid Miradel image");
}

struct Field {
  const char* name;
  bool is_text;   // Comment and State
  bool is_real;
  std::string text;
  double number;
};

std::vector<Field> Fields(const TKelImg& image) {
  auto integer = [](const char* n, double v) { return Field{n, false, false, {}, v}; };
  auto real = [](const char* n, double v) { return Field{n, false, true, {}, v}; };
  return {
      {"State", true, false, image.State() == ImageState::ValidImage ? "ValidImage" : "InvalidImage", 0},
      integer("ImageType", image.ImageType()),
      integer("Projection", image.Projection()),
      integer("Rows", image.Rows()),
      integer("Columns", image.Columns()),
      {"Comment", true, false, image.Comment(), 0},
      real("RefLatitude", image.RefLatitude()),
      real("RefLongitude", image.RefLongitude()),
      real("RefColumn", image.RefColumn()),
      real("RefRow", image.RefRow()),
      real("ColumnSpacing", image.ColumnSpacing()),
      real("RowSpacing", image.RowSpacing()),
      real("ProjParam1", image.ProjParam1()),
      real("ProjParam2", image.ProjParam2()),
      integer("MinValue", image.MinValue()),
      integer("MaxValue", image.MaxValue()),
      integer("MissingValue", image.MissingValue()),
      real("Gain", image.Gain()),
      real("Offset", image.Offset()),
      integer("Decimals", image.Decimals()),
      real("CellWidthKm", image.CellWidthKm()),
      real("MinLatitude", image.MinLatitude()),
      real("MaxLatitude", image.MaxLatitude()),
      real("MinLongitude", image.MinLongitude()),
      real("MaxLongitude", image.MaxLongitude()),
  };
}

}  // namespace

int RunInfo(const std::vector<std::string>& args, Streams& io) {
  QCommandLineParser parser;
  parser.addOption({"json", "Print one JSON object."});
  parser.addPositionalArgument("IMAGE", "The image file.");
  if (auto status = ParseCommandLine(parser, "info", "[--json] IMAGE", args, io)) return *status;
  const std::vector<std::string> positionals = Positionals(parser);
  if (positionals.size() != 1) {
    PrintError(io.err, "usage: kavrimo-cli info [--json] IMAGE");
    return kExitUsage;
  }
  TerminalHost host(io.out, io.err, false, true);
  TKelImg image(host);
  AttachValid(image, positionals[0]);
  const std::vector<Field> fields = Fields(image);
  if (parser.isSet("json")) {
    QJsonObject object;
    for (const Field& f : fields) {
      object.insert(f.name, f.is_text ? QJsonValue(QString::fromLatin1(f.text.data(), static_cast<qsizetype>(f.text.size())))
                                      : QJsonValue(f.number));
    }
    io.out << QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
  } else {
    for (const Field& f : fields) {
      io.out << f.name << ": "
             << (f.is_text ? f.text : f.is_real ? Real(f.number) : std::to_string(static_cast<long long>(f.number)))
             << "\n";
    }
  }
  return 0;
}

int RunLocate(const std::vector<std::string>& args, Streams& io) {
  QCommandLineParser parser;
  parser.addPositionalArgument("IMAGE", "The image file.");
  parser.addPositionalArgument("COLUMN ROW", "Pixel positions in cells; read from standard input when none.");
  if (auto status = ParseCommandLine(parser, "locate", "IMAGE [COLUMN ROW]...", args, io, true)) return *status;
  std::vector<std::string> positionals = Positionals(parser);
  if (positionals.empty() || positionals.size() % 2 == 0) {
    PrintError(io.err, "usage: kavrimo-cli locate IMAGE [COLUMN ROW]...");
    return kExitUsage;
  }
  TerminalHost host(io.out, io.err, false, true);
  TKelImg image(host);
  AttachValid(image, positionals[0]);

  auto locate = [&](const std::string& column_text, const std::string& row_text) {
    double column = 0, row = 0;
    if (!ParseDouble(column_text, column) || !ParseDouble(row_text, row)) {
      throw Error("'" + column_text + " " + row_text + "' is not a pixel position (COLUMN ROW)");
    }
    double longitude = 0, latitude = 0;
    image.PixelToGeo(column, row, longitude, latitude);
    io.out << Real(latitude) << " " << Real(longitude) << "\n";
  };
  if (positionals.size() > 1) {
    for (std::size_t i = 1; i + 1 < positionals.size(); i += 2) locate(positionals[i], positionals[i + 1]);
    return 0;
  }
  for (std::string line; std::getline(io.in, line);) {
    std::istringstream words(line);
    std::string column, row, extra;
    if (!(words >> column)) continue;  // blank line
    if (!(words >> row) || (words >> extra)) throw Error("'" + line + "' is not a pixel position (COLUMN ROW)");
    locate(column, row);
  }
  return 0;
}

int RunPreview(const std::vector<std::string>& args, Streams& io) {
  QCommandLineParser parser;
  parser.addPositionalArgument("IMAGE", "The image file.");
  parser.addPositionalArgument("PNG", "The PNG file to write.");
  if (auto status = ParseCommandLine(parser, "preview", "IMAGE PNG", args, io)) return *status;
  const std::vector<std::string> positionals = Positionals(parser);
  if (positionals.size() != 2) {
    PrintError(io.err, "usage: kavrimo-cli preview IMAGE PNG");
    return kExitUsage;
  }
  TerminalHost host(io.out, io.err, false, true);
  TKelImg image(host);
  AttachValid(image, positionals[0]);
  const int rows = image.Rows(), columns = image.Columns();
  if (rows < 1 || columns < 1) throw Error(positionals[0] + " holds no cells to preview");

  // One byte per pixel with a colour table: grey from MinValue to MaxValue, a loud magenta above it.
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
  file.Seek(512);
  for (int r = 0; r < rows; ++r) file.ReadExactly(picture.scanLine(r), static_cast<std::size_t>(columns));
  file.Close();
  QImageWriter writer(QString::fromLocal8Bit(positionals[1].c_str()), "png");
  if (!writer.write(picture)) {
    throw Error("Cannot write " + positionals[1] + ": " + writer.errorString().toStdString());
  }
  return 0;
}

}  // namespace kavrimo::cli
