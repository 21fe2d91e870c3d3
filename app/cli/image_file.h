// What the image commands (info, locate, preview) share: attaching an image that must be valid, and
// reals written so that they read back as the same double.
#pragma once

#include <string>

#include "image/kel_img.h"

namespace kavrimo::cli {

// Attaches path to image; raises the open error, or "<path> is not a valid Miradel image".
void AttachValid(TKelImg& image, const std::string& path);


// The shortest text that reads back as the same double ("0.1", "39.5", "1e-05").
std::string ShortestText(double value);

}  // namespace kavrimo::cli
