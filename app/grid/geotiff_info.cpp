// What the programs know of GeoTIFFs without the GeoTIFF module: their names, their layouts' blocks and
// what decoding a block takes.
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

std::int64_t GeoTiffInfo::SampleBytes() const {
  switch (sample) {
    case GeoTiffSample::kUnsigned8:
    case GeoTiffSample::kSigned8: return 1;
    case GeoTiffSample::kUnsigned16:
    case GeoTiffSample::kSigned16: return 2;
    case GeoTiffSample::kUnsigned32:
    case GeoTiffSample::kSigned32:
    case GeoTiffSample::kReal32: return 4;
    case GeoTiffSample::kReal64: return 8;
  }
  return 8;
}

std::int64_t GeoTiffInfo::BlockBufferBytes() const {
  const std::int64_t cell_bytes = layout.rows_in_order ? 4 : std::max<std::int64_t>(4, SampleBytes());
  return layout.block_width * layout.block_height * cell_bytes;
}

std::int64_t GeoTiffInfo::DecodingBytes() const {
  const std::int64_t row = layout.rows_in_order ? layout.ncols * SampleBytes() : 0;
  return BlockBufferBytes() + row + static_cast<std::int64_t>(layout.largest_stored_block);
}

}  // namespace kavrimo
