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

OutsideCounts FloatGridInput::CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                                       const PassOptions& options) {
  return kavrimo::CodeGrid(data_, header_, coding, output, progress, options);
}

void FloatGridInput::Close() { data_.Close(); }

}  // namespace kavrimo
