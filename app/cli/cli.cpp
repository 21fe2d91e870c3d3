// kavrimo-cli's dispatcher: the table of commands, the top-level help and version, and the one place
// that turns an error escaping a command into the "kavrimo-cli: <message>" line and status 1.
#include "app/cli/cli.h"

#include <array>
#include <functional>
#include <new>
#include <string_view>

#include "kavrimo_version.h"
#include "runtime/errors.h"

namespace kavrimo::cli {
namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>&, Streams&);
};

constexpr std::array<Command, 6> kCommands{{
    {.name = "convert",
     .summary = "convert float grids, ASCII grids and GeoTIFFs to Miradel images",
     .run = RunConvert},
    {.name = "mosaic", .summary = "one image from many grids, cut to a box, with coarser cells", .run = RunMosaic},
    {.name = "info", .summary = "print the header fields and extent of an image", .run = RunInfo},
    {.name = "locate", .summary = "latitude and longitude of pixel positions", .run = RunLocate},
    {.name = "preview", .summary = "write a grey-scale PNG quick-look of an image", .run = RunPreview},
    {.name = "export", .summary = "write an image back as a float grid or a GeoTIFF", .run = RunExport},
}};

void PrintUsage(std::ostream& out) {
  out << "Usage: kavrimo-cli COMMAND [OPTIONS] ARGUMENTS\n\n"
         "Converts ArcGIS float grids (*.hdr + *.flt), ESRI ASCII grids (*.asc) and GeoTIFFs (*.tif) to 8-bit\n"
         "Miradel images, inspects images, and exports them back to float grids or GeoTIFFs.\n\n"
         "Commands:\n";
  for (const Command& c : kCommands)
    out << "  " << c.name << std::string(10 - std::string(c.name).size(), ' ') << c.summary << "\n";
  out << "\nOptions:\n  --help     show this help (also after a command)\n  --version  show the version\n";
}

}  // namespace

std::string Printable(const std::string& text, std::size_t max_bytes) {
  std::string out;
  const bool cut = text.size() > max_bytes;
  for (const char c : cut ? text.substr(0, max_bytes) : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[code >> 4];
      out += kHex[code & 15];
    } else {
      out += c;
    }
  }
  return cut ? out + "..." : out;
}

void PrintError(std::ostream& err, const std::string& message) {
  err << "kavrimo-cli: " << Printable(WithFullStop(message)) << std::endl;
}

namespace {

// Whether message names file as a word of its own: at the start or after a blank or a quote, and at the
// end or before a blank, a colon, a comma or a quote ("Line 6 of dem.asc: ...", "dem.tif is not ...").
bool Names(const std::string& message, const std::string& file) {
  if (file.empty()) return false;
  for (std::size_t at = message.find(file); at != std::string::npos; at = message.find(file, at + 1)) {
    const std::size_t end = at + file.size();
    const bool starts = at == 0 || message[at - 1] == ' ' || message[at - 1] == '\'';
    const bool ends = end == message.size() || std::string_view(" :,'").find(message[end]) != std::string_view::npos;
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace

void PrintFailure(std::ostream& err, const std::exception& error, const std::string& context) {
  // The context is left out where the message names it already: one name a line.
  std::string line = context.empty() || Names(error.what(), context) ? "" : context + ": ";
  if (const auto* io = dynamic_cast<const EInOutError*>(&error);
      io != nullptr && !io->Path().empty() && io->Path() != context) {
    line += io->Path() + ": ";
  }
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    line += "not enough memory";
  } else {
    line += error.what();
  }
  PrintError(err, line);
}

int UsageError(std::ostream& err, const std::string& message) {
  PrintError(err, message);
  return kExitUsage;
}

int Run(const std::vector<std::string>& args, Streams& io) {
  if (args.empty()) {
    PrintUsage(io.err);
    return kExitUsage;
  }
  const std::string& first = args.front();
  if (first == "--help" || first == "-h" || first == "help") {
    PrintUsage(io.out);
    return 0;
  }
  if (first == "--version") {
    io.out << "kavrimo-cli " << kVersion << "\n";
    return 0;
  }
  for (const Command& c : kCommands) {
    if (first == c.name) {
      const std::vector<std::string> rest(args.begin() + 1, args.end());
      try {
        return c.run(rest, io);
      } catch (const std::exception& e) {
        PrintFailure(io.err, e);
      } catch (...) {
        PrintError(io.err, "unknown failure");
      }
      return kExitFailure;
    }
  }
  return UsageError(io.err, "unknown command '" + first + "' (try --help)");
}

}  // namespace kavrimo::cli
