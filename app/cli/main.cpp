// kavrimo-cli: the command-line front end over the same engine as the window.
#include <unistd.h>

#include <iostream>

#include "app/cli/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kavrimo::cli::Streams io{std::cin, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1};
  const int status = kavrimo::cli::Run(args, io);
  std::cout.flush();
  return status;
}
