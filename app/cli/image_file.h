// What the image commands (info, locate, preview) share: attaching an image that must be valid.
#pragma once

#include <string>

#include "image/kel_img.h"

namespace kavrimo::cli {

// Attaches path to image; raises the open error, or "<path> is not a valid Miradel image".
void AttachValid(TKelImg& image, const std::string& path);

}  // namespace kavrimo::cli
