#include "app/cli/conversion_options.h"

#include <cmath>
#include <optional>

#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"
#include "runtime/path.h"

namespace kavrimo::cli {
namespace {

constexpr char kThreads[] = "threads";

// A finite real by the number text rules, "." as decimal separator; nothing for any other text.
std::optional<double> Finite(const std::string& text) {
  try {
    const auto value = static_cast<double>(ParseReal(text, '.'));
    if (std::isfinite(value)) return value;
  } catch (const Error&) {
  }
  return std::nullopt;
}

}  // namespace

std::optional<CellRange> ParseRange(const std::vector<std::string>& texts) {
  try {
    return CellRange{fp::ToSingle(ParseReal(texts[1], '.')), fp::ToSingle(ParseReal(texts[0], '.'))};
  } catch (const Error&) {
  }
  return std::nullopt;
}

std::string CheckRange(const std::vector<std::string>& texts) {
  const std::optional<CellRange> range = ParseRange(texts);
  // Two different numbers that become one single: say so, rather than that MIN is not less than MAX.
  if (range && range->minimum == range->maximum && ParseReal(texts[0], '.') < ParseReal(texts[1], '.')) {
    return "--range needs MIN less than MAX: " + texts[0] + " and " + texts[1] +
           " both round to the same single-precision value, " + ShortestText(range->minimum);
  }
  if (!range || !(range->minimum < range->maximum)) return "--range needs two numbers MIN and MAX, MIN less than MAX";
  return "";
}

std::string CheckBounds(const std::vector<std::string>& values) {
  double v[4];
  for (std::size_t i = 0; i < 4; ++i) {
    const std::optional<double> number = Finite(values[i]);
    if (!number) return "--bounds needs four numbers WEST SOUTH EAST NORTH, not '" + values[i] + "'";
    v[i] = *number;
  }
  if (!(v[0] < v[2])) return "--bounds needs WEST less than EAST";
  if (!(v[1] < v[3])) return "--bounds needs SOUTH less than NORTH";
  return "";
}

std::string CheckCellSize(const std::vector<std::string>& values) {
  const std::optional<double> size = Finite(values.front());
  return size && *size > 0 ? "" : "--cell-size needs a finite number greater than 0, not '" + values.front() + "'";
}

OptionSpec QuietOption(const char* help) { return {.name = "quiet", .letter = 'q', .help = help}; }

OptionSpec TemplateOption() {
  return {.name = "template",
          .value_name = "FILE",
          .values = 1,
          .help = "Header template (default: header.bin beside the program or in ../share/kavrimo)."};
}

OptionSpec RangeOption() {
  return {.name = "range",
          .value_name = "MIN MAX",
          .values = 2,
          .help = "Scale over MIN to MAX (reals, MIN < MAX, \".\" as decimal separator).",
          .check = CheckRange};
}

OptionSpec ThreadsOption(const char* help, const char* excludes) {
  return {.name = "threads",
          .value_name = "N",
          .values = 1,
          .help = help,
          .excludes = excludes,
          .check = CheckPositiveWholeNumber<kThreads>};
}

OptionSpec BoundsOption(const char* excludes) {
  return {.name = "bounds",
          .value_name = "WEST SOUTH EAST NORTH",
          .values = 4,
          .help = "Only the cells that overlap this box (degrees, \".\" as decimal separator).",
          .excludes = excludes,
          .check = CheckBounds};
}

OptionSpec CellSizeOption() {
  return {.name = "cell-size",
          .value_name = "SIZE",
          .values = 1,
          .help = "Cells of SIZE, a whole multiple of the grids' cell size: each the mean of the valid cells it holds.",
          .check = CheckCellSize};
}

MosaicRequest AreaRequest(const ParsedArgs& parsed, std::vector<std::string> inputs) {
  MosaicRequest request;
  request.inputs = std::move(inputs);
  if (parsed.IsSet("bounds")) {
    const std::vector<std::string>& texts = parsed.Values("bounds");
    request.bounds = MosaicBounds{*Finite(texts[0]), *Finite(texts[1]), *Finite(texts[2]), *Finite(texts[3]),
                                  texts[0] + " " + texts[1] + " " + texts[2] + " " + texts[3]};
  }
  if (parsed.IsSet("cell-size")) {
    request.cell_size = *Finite(parsed.Value("cell-size"));
    request.cell_size_text = parsed.Value("cell-size");
  }
  return request;
}

std::string CheckOutput(const std::string& output) {
  for (const char* grid : {".flt", ".hdr", ".asc", ".tif", ".tiff"}) {
    if (HasExtension(output, grid) && PathExists(output)) {
      return output + ": is named as a grid, not an image; give the image to write as OUTPUT";
    }
  }
  return {};
}

}  // namespace kavrimo::cli
