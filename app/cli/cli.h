// kavrimo-cli: batch conversion and image inspection from the command line.
//
// A table of subcommands; each handler takes its arguments and output streams and returns the exit
// status: 0 success, 1 failure, 2 usage error. One printer turns an error into the standard-error line
// "kavrimo-cli: <message>" with the full-stop rule of the window.
#pragma once

#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/standard_streams.h"

namespace kavrimo::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Streams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool err_is_terminal = false;
  bool out_is_terminal = false;
};

// text fit for a terminal: control characters (codes below 32, and 127) written as \xHH, so text from
// a file cannot move the cursor or change the terminal; cut to max_bytes with "..." where longer.
std::string Printable(const std::string& text, std::size_t max_bytes = std::string::npos);

// Prints "kavrimo-cli: <message>" (full stop appended by the window's rule, control characters
// escaped) to err.
void PrintError(std::ostream& err, const std::string& message);
// The one error printer: "kavrimo-cli: [<context>: ][<file>: ]<message>." for an error escaping a
// command; the context is left out where the message names it as a word of its own, and file, the file
// an I/O error concerns, where it is the context itself: each line names a file once.
void PrintFailure(std::ostream& err, const std::exception& error, const std::string& context = {});
// Prints message as PrintError does and returns the usage-error status.
int UsageError(std::ostream& err, const std::string& message);

int RunConvert(const std::vector<std::string>& args, Streams& io);
int RunMosaic(const std::vector<std::string>& args, Streams& io);
int RunInfo(const std::vector<std::string>& args, Streams& io);
int RunLocate(const std::vector<std::string>& args, Streams& io);
int RunPreview(const std::vector<std::string>& args, Streams& io);
int RunExport(const std::vector<std::string>& args, Streams& io);

// Dispatches argv[1..] to the subcommand.
int Run(const std::vector<std::string>& args, Streams& io);

// Flushes out and reports a lost write on err as "kavrimo-cli: write error: <reason>."; returns status,
// or 1 when output was lost.
int FinishOutput(std::ostream& out, const DescriptorBuffer& buffer, std::ostream& err, int status);

}  // namespace kavrimo::cli
