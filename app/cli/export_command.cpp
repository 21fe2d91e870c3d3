// kavrimo-cli export [--nodata N] [--epsg CODE] IMAGE GRID: a latitude/longitude image back to a grid, to
// be shown in a GIS beside its source: a GeoTIFF when GRID ends in .tif or .tiff, otherwise an ArcGIS
// float grid (GRID's .hdr and .flt) with its coordinate system in GRID's .prj. The work is ExportImage's.
#include <charconv>
#include <optional>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/export/image_export.h"
#include "app/grid/geotiff_library.h"

namespace kavrimo::cli {
namespace {

// The --nodata value as a whole number; nothing when it is not one that a single holds exactly.
std::optional<std::int32_t> ParseNoData(const std::string& text) {
  std::int32_t nodata = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), nodata);
  if (error != std::errc() || end != text.data() + text.size() || !IsExportableNoData(nodata)) return std::nullopt;
  return nodata;
}

std::string CheckNoData(const std::vector<std::string>& values) {
  return ParseNoData(values.front()) ? "" : "--nodata needs a whole number that a single holds exactly, such as -9999";
}

// The --epsg code as a whole number; nothing when it is not one.
std::optional<int> ParseCode(const std::string& text) {
  int code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return code;
}

// A code that names a geographic 2D coordinate system in degrees from Greenwich in the database that
// comes with the system. Each refusal repeats the code as it was typed.
std::string CheckCode(const std::vector<std::string>& values) {
  const std::string& typed = values.front();
  const std::optional<int> code = ParseCode(typed);
  if (!code) {
    return "--epsg '" + Printable(typed) +
           "': an EPSG code is the whole number of a geographic coordinate system in degrees from Greenwich, such as "
           "4326";
  }
  try {
    CheckDegreesFromGreenwich(GeographicSystemOf(*code));
  } catch (const ECoordinateSystemError& e) {
    return "--epsg '" + Printable(typed) + "': " + e.Message();
  }
  return "";
}

const CommandSpec kSpec{
    .name = "export",
    .synopsis = "[--nodata N] [--epsg CODE] IMAGE GRID",
    .description =
        "Writes a Miradel image of projection 3 (latitude/longitude) with square cells as a grid: a GeoTIFF\n"
        "when GRID ends in .tif or .tiff (any letter case: 32-bit reals, tiles of 256 x 256, Deflate), otherwise\n"
        "an ArcGIS float grid, GRID's .hdr and .flt files, with the coordinate system in GRID's .prj. Each data\n"
        "byte becomes byte x Gain + Offset as a single; bytes above MaxValue and the MissingValue byte become N.\n"
        "The files are replaced together, or none.",
    .options = {{.name = "nodata",
                 .value_name = "N",
                 .values = 1,
                 .help = "The no-data value, a whole number that a single holds exactly (default -9999).",
                 .check = CheckNoData},
                {.name = "epsg",
                 .value_name = "CODE",
                 .values = 1,
                 .help = "The grid's geographic coordinate system in degrees from Greenwich, by its EPSG code "
                         "(default 4326, WGS 84: the image names no datum).",
                 .check = CheckCode}},
    .arguments = {.min = 2, .max = 2}};

}  // namespace

int RunExport(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  const std::vector<std::string>& positionals = parsed.Arguments();
  const std::int32_t nodata = parsed.IsSet("nodata") ? *ParseNoData(parsed.Value("nodata")) : kDefaultExportNoData;
  TerminalHost host(io.out, io.err, false, true);
  const int code = parsed.IsSet("epsg") ? *ParseCode(parsed.Value("epsg")) : kDefaultExportCode;
  ExportImage(positionals[0], positionals[1], nodata, code, host);
  return 0;
}

}  // namespace kavrimo::cli
