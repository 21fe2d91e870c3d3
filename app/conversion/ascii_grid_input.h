// The ESRI ASCII grid behind GridInput: its header read at once, its text parsed once by pass 1 into a
// scratch file beside the output that pass 2 codes (ascii_passes.h), or parsed and coded in one pass
// over a fixed range.
#pragma once

#include <optional>
#include <string>

#include "app/conversion/scratched_grid_input.h"
#include "app/grid/ascii_grid.h"
#include "runtime/file.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

class AsciiGridInput : public ScratchedGridInput {
 public:
  // Opens input ("Cannot open file <input>" when it cannot be opened) and reads its header; the scratch
  // file goes beside output (swept: a batch's record of the folders swept for leftovers, or null).
  AsciiGridInput(const std::string& input, const std::string& output, SweptFolders* swept = nullptr);

  CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) override;
  OutsideCounts CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                         const PassOptions& options) override;
  void Close() override;

 private:
  BinaryFile text_;
  std::optional<AsciiValues> values_;
  bool scanned_ = false;
};

}  // namespace kavrimo
