#include "app/conversion/float_grid_input.h"

#include "runtime/path.h"

namespace kavrimo {

FloatGridInput::FloatGridInput(const std::string& input) : input_(input) { header_ = ReadGridHeader(input); }

void FloatGridInput::OpenData() {
  data_ = BinaryFile::OpenExisting(ReplaceExtension(input_, ".flt"), OpenMode::ReadOnly);
}

CellRange FloatGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  return kavrimo::ScanRange(data_, header_, progress, options);
}

void FloatGridInput::CodeGrid(const CellScale& scale, ImagePixels& output, const ProgressSink& progress,
                              const PassOptions& options) {
  kavrimo::CodeGrid(data_, header_, scale, output, progress, options);
}

OutsideCounts FloatGridInput::CodeGrid(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                                       const PassOptions& options) {
  return kavrimo::CodeGrid(data_, header_, fixed, output, progress, options);
}

void FloatGridInput::Close() { data_.Close(); }

}  // namespace kavrimo
