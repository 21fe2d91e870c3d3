// kavrimo-cli info [--json] IMAGE: every header property of an image, as the image component holds it
// after attaching (type defaults applied), and the derived extent: one "Name: value" line each, or one
// JSON object with the same keys in byte order.
#include "app/cli/cli.h"
#include "app/cli/image_file.h"
#include "app/cli/json_text.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "runtime/number_text.h"

namespace kavrimo::cli {
namespace {

const CommandSpec kSpec{.name = "info",
                        .synopsis = "[--json] IMAGE",
                        .description = "Prints every header field of a Miradel image and the extent of its corners.",
                        .options = {{.name = "json", .help = "Print one JSON object."}},
                        .arguments = {.min = 1, .max = 1}};

enum class FieldKind { Text, Integer, Real };

struct Field {
  const char* name;
  FieldKind kind;
  std::string text;  // for Text
  double number;     // for Integer and Real
};

std::vector<Field> Fields(const TKelImg& image) {
  auto integer = [](const char* n, double v) { return Field{n, FieldKind::Integer, {}, v}; };
  auto real = [](const char* n, double v) { return Field{n, FieldKind::Real, {}, v}; };
  auto text = [](const char* n, std::string v) { return Field{n, FieldKind::Text, std::move(v), 0}; };
  return {
      text("State", image.State() == ImageState::ValidImage ? "ValidImage" : "InvalidImage"),
      integer("ImageType", image.ImageType()),
      integer("Projection", image.Projection()),
      integer("Rows", image.Rows()),
      integer("Columns", image.Columns()),
      text("Comment", image.Comment()),
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

std::string AsText(const Field& f) {
  switch (f.kind) {
    case FieldKind::Text: return Printable(f.text);  // a Comment may hold any byte
    case FieldKind::Integer: return std::to_string(static_cast<long long>(f.number));
    case FieldKind::Real: return ShortestText(f.number);
  }
  return {};
}

}  // namespace

int RunInfo(const std::vector<std::string>& args, Streams& io) {
  return RunOnImage(kSpec, args, io, [&](const ParsedArgs& parsed, TKelImg& image) {
    const std::vector<Field> fields = Fields(image);
    if (parsed.IsSet("json")) {
      std::vector<std::pair<std::string, JsonValue>> members;
      members.reserve(fields.size());
      for (const Field& f : fields) {
        members.emplace_back(f.name, f.kind == FieldKind::Text ? JsonValue(f.text) : JsonValue(f.number));
      }
      io.out << JsonObjectText(std::move(members));
    } else {
      for (const Field& f : fields) io.out << f.name << ": " << AsText(f) << "\n";
    }
    return 0;
  });
}

}  // namespace kavrimo::cli
