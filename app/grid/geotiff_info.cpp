// What the programs know of GeoTIFFs without the GeoTIFF module: their names and their layouts' blocks.
#include <algorithm>

#include "app/grid/geotiff_grid.h"
#include "runtime/path.h"

namespace kavrimo {

bool IsGeoTiffName(const std::string& name) { return HasExtension(name, ".tif") || HasExtension(name, ".tiff"); }

std::int64_t GeoTiffLayout::WidthOf(std::int64_t block_x) const {
  return std::min(block_width, ncols - block_x * block_width);
}

std::int64_t GeoTiffLayout::HeightOf(std::int64_t block_y) const {
  return std::min(block_height, nrows - block_y * block_height);
}

}  // namespace kavrimo
