// kavrimo-cli export [--nodata N] IMAGE GRID: a latitude/longitude image back to an ArcGIS float grid
// (GRID's .hdr and .flt), to be shown in a GIS beside its source. The work is ExportImage's.
#include <charconv>
#include <optional>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "app/cli/terminal_host.h"
#include "app/conversion/image_export.h"

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

const CommandSpec kSpec{
    "export", "[--nodata N] IMAGE GRID",
    "Writes a Miradel image of projection 3 (latitude/longitude) with square cells as an ArcGIS float\n"
    "grid: GRID's .hdr and .flt files, named after it. Each data byte becomes byte x Gain + Offset as a\n"
    "single; bytes above MaxValue and the MissingValue byte become N.",
    {{"nodata", 0, "N", 1, "The no-data value, a whole number that a single holds exactly (default -9999).", nullptr,
      nullptr, CheckNoData}},
    {.min = 2, .max = 2}};

}  // namespace

int RunExport(const std::vector<std::string>& args, Streams& io) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(kSpec, args, io, parsed)) return *status;
  const std::vector<std::string>& positionals = parsed.Arguments();
  const std::int32_t nodata = parsed.IsSet("nodata") ? *ParseNoData(parsed.Value("nodata")) : kDefaultExportNoData;
  TerminalHost host(io.out, io.err, false, true);
  ExportImage(positionals[0], positionals[1], nodata, host);
  return 0;
}

}  // namespace kavrimo::cli
