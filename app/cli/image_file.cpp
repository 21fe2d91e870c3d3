#include "app/cli/image_file.h"

#include <charconv>

#include "runtime/errors.h"

namespace kavrimo::cli {

void AttachValid(TKelImg& image, const std::string& path) {
  image.SetFileName(path);
  if (image.State() != ImageState::ValidImage) throw Error(path + " is not a valid Miradel image");
}

std::string ShortestText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace kavrimo::cli
