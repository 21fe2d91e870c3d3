// The check of standard output before the program exits.
#include <cerrno>
#include <cstring>
#include <ostream>

#include "app/cli/cli.h"

namespace kavrimo::cli {

int FinishOutput(std::ostream& out, const DescriptorBuffer& buffer, std::ostream& err, int status) {
  out.flush();
  if (buffer.Error() == 0 && out) return status;
  PrintError(err, std::string("write error: ") + std::strerror(buffer.Error() != 0 ? buffer.Error() : EIO));
  return kExitFailure;
}

}  // namespace kavrimo::cli
