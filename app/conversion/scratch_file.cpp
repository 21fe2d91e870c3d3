#include "app/conversion/scratch_file.h"

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
}

void ScratchFile::RaiseFor(const EInOutError& error) const {
  if (error.ErrorCode() != 101) throw EInOutError(error.ErrorCode(), output_);
  // Not the image's space: the scratch file's, which the user may not know of.
  const std::int64_t bytes = cells_ * std::int64_t{sizeof(float)};
  throw Error("No room beside " + output_ + " for the scratch file of " + input_ + ": the grid needs " +
              std::to_string(bytes) + " bytes (" + std::to_string((bytes + (1 << 20) - 1) >> 20) +
              " MiB, 4 bytes per cell) there until its image is complete");
}

}  // namespace kavrimo
