// The float grid behind GridInput: its .hdr read at once, its .flt streamed by both passes.
#pragma once

#include <string>

#include "app/conversion/grid_input.h"
#include "runtime/file.h"

namespace kavrimo {

class FloatGridInput : public GridInput {
 public:
  // Reads the header named after input (ReadGridHeader).
  explicit FloatGridInput(const std::string& input);

  void OpenData() override;
  CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) override;
  OutsideCounts CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                         const PassOptions& options) override;
  void Close() override;

 private:
  std::string input_;
  BinaryFile data_;
};

}  // namespace kavrimo
