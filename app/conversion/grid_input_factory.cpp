// The choice of reader by the input's name.
#include "app/conversion/grid_input_factory.h"

#include "app/conversion/ascii_grid_input.h"
#include "app/conversion/float_grid_input.h"
#include "app/conversion/geotiff_grid_input.h"
#include "app/grid/ascii_grid.h"
#include "app/grid/geotiff_grid.h"
#include "runtime/path.h"

namespace kavrimo {

std::vector<std::string> GridInputFiles(const std::string& input) {
  if (IsAsciiGridName(input) || IsGeoTiffName(input)) return {input};
  return {ReplaceExtension(input, ".hdr"), ReplaceExtension(input, ".flt")};
}

std::unique_ptr<GridInput> ReadGridInput(const std::string& input, const std::string& output, SweptFolders* swept) {
  if (IsAsciiGridName(input)) return std::make_unique<AsciiGridInput>(input, output, swept);
  if (IsGeoTiffName(input)) return std::make_unique<GeoTiffGridInput>(input, output, swept);
  return std::make_unique<FloatGridInput>(input);
}

}  // namespace kavrimo
