// What the image commands (info, locate, preview) share: attaching an image that must be valid, opening
// its pixels, and reals written so that they read back as the same double.
#pragma once

#include <string>

#include "image/kel_img.h"
#include "runtime/file.h"

namespace kavrimo::cli {

// Attaches path to image; raises the open error, or "<path> is not a valid Miradel image".
void AttachValid(TKelImg& image, const std::string& path);

// Opens the pixels of the attached image path, positioned at the first. The file's size is checked
// against Rows x Columns first, so that nothing is allocated for pixels a file does not hold: a short
// file raises "Read beyond end of file" naming path.
BinaryFile OpenPixels(const TKelImg& image, const std::string& path);

// The shortest text that reads back as the same double ("0.1", "39.5", "1e-05").
std::string ShortestText(double value);

}  // namespace kavrimo::cli
