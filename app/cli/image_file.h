// What the image commands (info, locate, preview) share: attaching an image that must be valid.
#pragma once

#include <string>

#include "app/cli/cli.h"
#include "app/cli/terminal_host.h"
#include "image/kel_img.h"

namespace kavrimo::cli {

// Attaches path to image; raises the open error, or "<path> is not a valid Miradel image".
void AttachValid(TKelImg& image, const std::string& path);

// The image a command inspects: a component attached to path (AttachValid) through a host that shows
// nothing but the component's own error lines, on io's standard error.
class InspectedImage {
 public:
  InspectedImage(Streams& io, const std::string& path) : host_(io.out, io.err, false, true), image_(host_) {
    AttachValid(image_, path);
  }
  TKelImg& Image() { return image_; }

 private:
  TerminalHost host_;
  TKelImg image_;
};

}  // namespace kavrimo::cli
