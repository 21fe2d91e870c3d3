// The GeoTIFF behind GridInput: its tags read at once; cells stored plainly read in place by both passes,
// others decoded once by pass 1 into a scratch file beside the output that pass 2 codes, or decoded and
// coded in one pass over a fixed range (geotiff_passes.h).
#pragma once

#include <optional>
#include <string>

#include "app/conversion/geotiff_passes.h"
#include "app/conversion/scratched_grid_input.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

class GeoTiffGridInput : public ScratchedGridInput {
 public:
  // Opens input and reads its tags (GeoTiffReader's errors); a scratch file, where one is needed, goes
  // beside output (swept: a batch's record of the folders swept for leftovers, or null).
  GeoTiffGridInput(const std::string& input, const std::string& output, SweptFolders* swept = nullptr);

  CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) override;
  OutsideCounts CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                         const PassOptions& options) override;
  void Close() override;

 private:
  GeoTiffSource source_;
  bool scanned_ = false;
};

}  // namespace kavrimo
