#include "app/conversion/ascii_grid_input.h"

#include "app/conversion/ascii_passes.h"
#include "app/conversion/scratch_file.h"
#include "runtime/errors.h"

namespace kavrimo {

AsciiGridInput::AsciiGridInput(const std::string& input, const std::string& output, SweptFolders* swept)
    : input_(input), output_(output), swept_(swept) {
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
  scratch_.emplace(output_, input_, std::int64_t{header_.ncols} * header_.nrows, swept_);
  return scratch_->NamingOutput(
      [&] { return ScanAsciiValues(*values_, header_, scratch_->File(), progress, options); });
}

void AsciiGridInput::CodeGrid(const CellScale& scale, ImagePixels& output, const ProgressSink& progress,
                              const PassOptions& options) {
  if (!scratch_) ScanRange([](int) {}, options);  // the coding over the grid's own range needs pass 1
  scratch_->NamingOutput([&] { kavrimo::CodeGrid(scratch_->File(), header_, scale, output, progress, options); });
}

OutsideCounts AsciiGridInput::CodeGrid(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                                       const PassOptions& options) {
  if (scratch_) {
    return scratch_->NamingOutput(
        [&] { return kavrimo::CodeGrid(scratch_->File(), header_, fixed, output, progress, options); });
  }
  return CodeAsciiValues(*values_, header_, fixed, output, progress, options);
}

void AsciiGridInput::Close() {
  text_.Close();
  if (scratch_) scratch_->Close();
}

}  // namespace kavrimo
