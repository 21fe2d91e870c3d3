#include "app/conversion/geotiff_grid_input.h"

#include <memory>

namespace kavrimo {

GeoTiffGridInput::GeoTiffGridInput(const std::string& input, const std::string& output, SweptFolders* swept)
    : input_(input), output_(output), swept_(swept), source_(input, OpenGeoTiff(input)) {
  header_ = source_.Info().header;
}

CellRange GeoTiffGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  if (!source_.Layout().in_place) {
    scratch_.emplace(output_, input_, std::int64_t{header_.ncols} * header_.nrows, swept_);
  }
  scanned_ = true;
  return Scratched(
      [&] { return ScanGeoTiff(source_, header_, scratch_ ? &scratch_->File() : nullptr, progress, options); });
}

void GeoTiffGridInput::CodeGrid(const CellScale& scale, ImagePixels& output, const ProgressSink& progress,
                                const PassOptions& options) {
  if (!scanned_ && !source_.Layout().in_place) ScanRange([](int) {}, options);  // decoded cells come from pass 1
  Scratched(
      [&] { CodeGeoTiff(source_, header_, scratch_ ? &scratch_->File() : nullptr, scale, output, progress, options); });
}

OutsideCounts GeoTiffGridInput::CodeGrid(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                                         const PassOptions& options) {
  return CodeGeoTiff(source_, header_, fixed, output, progress, options);
}

void GeoTiffGridInput::Close() {
  source_.Close();
  if (scratch_) scratch_->Close();
}

}  // namespace kavrimo
