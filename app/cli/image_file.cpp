#include "app/cli/image_file.h"

#include "app/cli/terminal_host.h"
#include "runtime/errors.h"

namespace kavrimo::cli {

int RunOnImage(const CommandSpec& syntax, const std::vector<std::string>& args, Streams& io,
               const std::function<int(const ParsedArgs&, TKelImg&)>& command,
               const std::function<void(const ParsedArgs&)>& before) {
  ParsedArgs parsed;
  if (auto status = ParseCommandLine(syntax, args, io, parsed)) return *status;
  if (before) before(parsed);
  const std::string& path = parsed.Arguments().front();
  TerminalHost host(io.out, io.err, false, true);
  TKelImg image(host);
  image.SetFileName(path);
  if (image.State() != ImageState::ValidImage) throw Error(path + " is not a valid Miradel image");
  return command(parsed, image);
}

}  // namespace kavrimo::cli
