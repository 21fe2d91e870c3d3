// The command line's tests: kavrimo-cli called in-process through cli::Run, or run as a process of its
// own for what only a process shows (exit status, standard streams, a terminal, signals), in a
// temporary folder with small grids and images.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"

namespace kavrimo::testing_support {

using Args = std::vector<std::string>;

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

// text quoted for the shell.
std::string Quote(const std::string& text);

class CliTest : public testing::Test {
 protected:
  // kavrimo-cli in-process, with input on standard input; a convert or mosaic gets the build's template unless it
  // names one.
  CliResult Cli(Args args, const std::string& input = "") const;
  // kavrimo-cli in a process of its own, arguments as the shell reads them, standard input from in.
  // Standard output goes to out when named (and is then not read back). A convert gets the build's
  // template.
  CliResult Process(std::string arguments, const std::string& out = "", const std::string& in = "/dev/null") const;
  // What kavrimo-cli shows on a terminal, standard output and error both on it; the command (args[0])
  // gets the build's template.
  std::string OnTerminal(Args args) const;

  std::string File(const std::string& name) const { return dir_.File(name); }
  // A new folder of that name; returns its path.
  std::string Folder(const std::string& name) const;
  // The grid "dem" of the cells 100, 1000 and 2000 in a row (coded 13, 126 and 253), converted to
  // dem.IMG; returns the image's name.
  std::string ExampleImage() const;
  // The grid "dem" of 20 x 10 cells of 3, half a degree each, its lower left corner at 30 E 35 N,
  // converted to dem.IMG; returns the image's name.
  std::string GeographicImage() const;

  TempDir dir_;
};

}  // namespace kavrimo::testing_support
