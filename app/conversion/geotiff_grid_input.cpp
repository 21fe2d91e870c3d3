#include "app/conversion/geotiff_grid_input.h"

#include <memory>

namespace kavrimo {

GeoTiffGridInput::GeoTiffGridInput(const std::string& input, const std::string& output, SweptFolders* swept)
    : ScratchedGridInput(input, output, swept), source_(input, OpenGeoTiff(input)) {
  header_ = source_.Info().header;
}

CellRange GeoTiffGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  if (!source_.Layout().in_place) MakeScratch();
  scanned_ = true;
  return Scratched([&] { return ScanGeoTiff(source_, header_, ScratchCells(), progress, options); });
}

OutsideCounts GeoTiffGridInput::CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                                         const PassOptions& options) {
  if (const auto* fixed = std::get_if<FixedScale>(&coding)) {
    return CodeGeoTiff(source_, header_, *fixed, output, progress, options);
  }
  if (!scanned_ && !source_.Layout().in_place) ScanRange([](int) {}, options);  // decoded cells come from pass 1
  const CellScale& scale = std::get<CellScale>(coding);
  Scratched([&] { CodeGeoTiff(source_, header_, ScratchCells(), scale, output, progress, options); });
  return {};
}

void GeoTiffGridInput::Close() {
  source_.Close();
  CloseScratch();
}

}  // namespace kavrimo
