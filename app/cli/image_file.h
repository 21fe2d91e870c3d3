// The prelude the image commands (info, locate, preview) share: their arguments parsed, then the image
// they inspect attached and checked valid.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/options.h"
#include "image/kel_img.h"

namespace kavrimo::cli {

// Parses args by the command's syntax (a usage error or --help ends the command with its status); runs
// before(parsed), where a command checks what it writes before anything is read; attaches the image that the first
// argument names through a host that shows nothing but the component's own error lines on io's standard
// error (the open error, or "<path> is not a valid Miradel image"); and returns command(parsed, image).
int RunOnImage(const CommandSpec& syntax, const std::vector<std::string>& args, Streams& io,
               const std::function<int(const ParsedArgs&, TKelImg&)>& command,
               const std::function<void(const ParsedArgs&)>& before = {});

}  // namespace kavrimo::cli
