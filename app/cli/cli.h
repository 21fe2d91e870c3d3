// kavrimo-cli: batch conversion and image inspection from the command line.
//
// A table of subcommands; each handler takes its arguments and output streams and returns the exit
// status: 0 success, 1 failure, 2 usage error. One printer turns an error into the standard-error line
// "kavrimo-cli: <message>" with the full-stop rule of the window.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kavrimo::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Streams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool err_is_terminal = false;
};

// The directory of the running executable, with a trailing "/".
std::string ExecutableDirectory();
// Prints "kavrimo-cli: <message>" (full stop appended by the window's rule) to err.
void PrintError(std::ostream& err, const std::string& message);
// Prints message as PrintError does and returns the usage-error status.
int UsageError(std::ostream& err, const std::string& message);

int RunConvert(const std::vector<std::string>& args, Streams& io);
int RunInfo(const std::vector<std::string>& args, Streams& io);
int RunLocate(const std::vector<std::string>& args, Streams& io);
int RunPreview(const std::vector<std::string>& args, Streams& io);
int RunExport(const std::vector<std::string>& args, Streams& io);

// Dispatches argv[1..] to the subcommand.
int Run(const std::vector<std::string>& args, Streams& io);

}  // namespace kavrimo::cli
