#include "app/cli/image_file.h"

#include "runtime/errors.h"

namespace kavrimo::cli {

void AttachValid(TKelImg& image, const std::string& path) {
  image.SetFileName(path);
  if (image.State() != ImageState::ValidImage) throw Error(path + " is not a valid Miradel image");
}

}  // namespace kavrimo::cli
