// The options convert and mosaic share: the scale's --range MIN MAX, and the area of the grids that
// --bounds WEST SOUTH EAST NORTH and --cell-size SIZE choose.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/cli/options.h"
#include "app/conversion/mosaic_grid_input.h"

namespace kavrimo::cli {

// MIN and MAX of --range: reals by the number text rules with "." as separator, rounded to single.
// Nothing when they are not numbers.
std::optional<CellRange> ParseRange(const std::vector<std::string>& texts);
// Why the values of --range cannot be used ("" when they can).
std::string CheckRange(const std::vector<std::string>& texts);

// Why the values of --bounds cannot be used ("" when they can): four finite numbers, "." as decimal
// separator, WEST < EAST and SOUTH < NORTH.
std::string CheckBounds(const std::vector<std::string>& values);
// Why the value of --cell-size cannot be used ("" when it can): a finite number greater than 0.
std::string CheckCellSize(const std::vector<std::string>& values);

// The option lines of both, for a command's table; -q and --threads with the command's own help, as
// each prints and works on one grid or many.
OptionSpec QuietOption(const char* help);
OptionSpec TemplateOption();
OptionSpec RangeOption();
OptionSpec ThreadsOption(const char* help, const char* excludes = nullptr);
OptionSpec BoundsOption(const char* excludes = nullptr);
OptionSpec CellSizeOption();

// Why OUTPUT is refused ("" when it is not): an existing file named as a grid (.flt, .hdr, .asc, .tif or
// .tiff, any letter case) is most likely the last INPUT of a command whose OUTPUT was forgotten, and is
// never replaced by an image. A new file of such a name is written.
std::string CheckOutput(const std::string& output);

// A mosaic of inputs over what --bounds and --cell-size say (both checked).
MosaicRequest AreaRequest(const ParsedArgs& parsed, std::vector<std::string> inputs);

}  // namespace kavrimo::cli
