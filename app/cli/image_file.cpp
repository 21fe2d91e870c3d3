#include "app/cli/image_file.h"

#include <algorithm>
#include <charconv>

#include "image/header_format.h"
#include "runtime/errors.h"

namespace kavrimo::cli {

void AttachValid(TKelImg& image, const std::string& path) {
  image.SetFileName(path);
  if (image.State() != ImageState::ValidImage) throw Error(path + " is not a valid Miradel image");
}

BinaryFile OpenPixels(const TKelImg& image, const std::string& path) {
  BinaryFile file = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  const auto pixels = std::int64_t{image.Rows()} * std::int64_t{image.Columns()};
  const auto header = static_cast<std::int64_t>(header_format::kHeaderSize);
  if (file.Size() < header + std::max<std::int64_t>(pixels, 0)) throw EInOutError(100, path);
  file.Seek(header);
  return file;
}

std::string ShortestText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace kavrimo::cli
