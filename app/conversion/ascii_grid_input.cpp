#include "app/conversion/ascii_grid_input.h"

#include "app/conversion/ascii_passes.h"
#include "app/conversion/scratch_file.h"
#include "runtime/errors.h"

namespace kavrimo {

AsciiGridInput::AsciiGridInput(const std::string& input, const std::string& output) : input_(input), output_(output) {
  try {
    text_ = BinaryFile::OpenExisting(input, OpenMode::ReadOnly);
  } catch (const EInOutError&) {
    throw EFOpenError(input);
  }
  const AsciiGridHeader header = ReadAsciiGridHeader(text_, input);
  header_ = header.grid;
  values_.emplace(text_, input, header);
}

template <typename Work>
auto AsciiGridInput::NamingOutput(Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const EInOutError& e) {
    if (!scratch_.IsOpen() || e.Path() != scratch_.Path()) throw;
    throw EInOutError(e.ErrorCode(), output_);
  }
}

CellRange AsciiGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  scratch_ = OpenScratchBeside(output_);
  return NamingOutput([&] { return ScanAsciiValues(*values_, header_, scratch_, progress, options); });
}

void AsciiGridInput::CodeGrid(const CellScale& scale, ImagePixels& output, const ProgressSink& progress,
                              const PassOptions& options) {
  if (!scratch_.IsOpen()) ScanRange([](int) {}, options);  // the coding over the grid's own range needs pass 1
  NamingOutput([&] { kavrimo::CodeGrid(scratch_, header_, scale, output, progress, options); });
}

OutsideCounts AsciiGridInput::CodeGrid(const FixedScale& fixed, ImagePixels& output, const ProgressSink& progress,
                                       const PassOptions& options) {
  if (scratch_.IsOpen()) {
    return NamingOutput([&] { return kavrimo::CodeGrid(scratch_, header_, fixed, output, progress, options); });
  }
  return CodeAsciiValues(*values_, header_, fixed, output, progress, options);
}

void AsciiGridInput::Close() {
  text_.Close();
  scratch_.Close();
}

}  // namespace kavrimo
