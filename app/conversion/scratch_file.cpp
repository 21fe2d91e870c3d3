#include "app/conversion/scratch_file.h"

#include "image/header_format.h"

namespace kavrimo {

ScratchFile::ScratchFile(const std::string& output, const std::string& input, std::int64_t cells, SweptFolders* swept)
    : output_(output), input_(input), cells_(cells) {
  {
    TemporaryOutput reserved(output, {}, swept);  // never committed: its name goes when this block ends
    reserved.Reserve();
    path_ = reserved.Path();
    file_ = BinaryFile::OpenExisting(path_, OpenMode::ReadWrite);
  }
  NamingOutput([&] { file_.Reserve(cells_ * std::int64_t{sizeof(float)}); });
  // The image is written beside it while it is held: both must fit before the first pass reads a cell.
  const std::int64_t left = file_.SpaceLeft();
  if (left >= 0 && left < ImageBytes()) RaiseFor(EInOutError(101, path_));
}

std::int64_t ScratchFile::ImageBytes() const { return static_cast<std::int64_t>(header_format::kHeaderSize) + cells_; }

void ScratchFile::RaiseFor(const EInOutError& error) const {
  if (error.ErrorCode() != 101) throw EInOutError(error.ErrorCode(), output_);
  // The scratch file's space as well as the image's, which the user may not know of.
  const std::int64_t bytes = cells_ * std::int64_t{sizeof(float)} + ImageBytes();
  throw Error("Not enough space beside " + output_ + " for the image and the scratch file of " + input_ +
              ": the grid needs " + std::to_string(bytes) + " bytes (" + std::to_string((bytes + (1 << 20) - 1) >> 20) +
              " MiB, 5 bytes per cell) there until its image is complete");
}

}  // namespace kavrimo
