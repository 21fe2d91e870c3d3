#include "app/conversion/ascii_grid_input.h"

#include "app/conversion/ascii_passes.h"
#include "runtime/errors.h"

namespace kavrimo {

AsciiGridInput::AsciiGridInput(const std::string& input, const std::string& output, SweptFolders* swept)
    : ScratchedGridInput(input, output, swept) {
  try {
    text_ = BinaryFile::OpenExisting(input, OpenMode::ReadOnly);
  } catch (const EInOutError&) {
    throw EFOpenError(input);
  }
  const AsciiGridHeader header = ReadAsciiGridHeader(text_, input);
  header_ = header.grid;
  values_.emplace(text_, input, header);
}

CellRange AsciiGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  BinaryFile& scratch = MakeScratch().File();
  scanned_ = true;
  return Scratched([&] { return ScanAsciiValues(*values_, header_, scratch, progress, options); });
}

OutsideCounts AsciiGridInput::CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                                       const PassOptions& options) {
  if (!scanned_) {
    // Over a fixed range the text is parsed and coded in one pass; over the grid's own range pass 1 comes first.
    if (const auto* fixed = std::get_if<FixedScale>(&coding)) {
      return CodeAsciiValues(*values_, header_, *fixed, output, progress, options);
    }
    ScanRange([](int) {}, options);
  }
  return Scratched([&] { return kavrimo::CodeGrid(*ScratchCells(), header_, coding, output, progress, options); });
}

void AsciiGridInput::Close() {
  text_.Close();
  CloseScratch();
}

}  // namespace kavrimo
