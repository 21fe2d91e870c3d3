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

template <typename Work>
auto AsciiGridInput::NamingOutput(Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const EInOutError& e) {
    if (!scratch_.IsOpen() || e.Path() != scratch_.Path()) throw;
    if (e.ErrorCode() == 101) {
      // Not the image's room: the scratch file's, which the user may not know of.
      const std::int64_t bytes = std::int64_t{header_.ncols} * header_.nrows * std::int64_t{sizeof(float)};
      throw Error("No room beside " + output_ + " for the scratch file of " + input_ + ": the grid needs " +
                  std::to_string(bytes) + " bytes (" + std::to_string((bytes + (1 << 20) - 1) >> 20) +
                  " MiB, 4 bytes per cell) there until its image is complete");
    }
    throw EInOutError(e.ErrorCode(), output_);
  }
}

CellRange AsciiGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  scratch_ = OpenScratchBeside(output_, swept_);
  return NamingOutput([&] {
    // Room for every cell first, so that a full disk stops the conversion before the text is parsed.
    scratch_.Reserve(std::int64_t{header_.ncols} * header_.nrows * std::int64_t{sizeof(float)});
    return ScanAsciiValues(*values_, header_, scratch_, progress, options);
  });
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
