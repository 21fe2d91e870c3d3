// kavrimo-cli: the command-line front end over the same engine as the window. Results go to standard
// output, which is checked before exit; messages and the progress bar (on a terminal only) go to
// standard error; an interruption removes the temporary file of a conversion and ends with status
// 128 + the signal number, unless the output is in place already (the command then finishes).
// Started with a standard descriptor closed, no file it opens takes its place.
#include <cstdio>
#include <iostream>

#include "app/cli/cli.h"
#include "projection/dispatcher.h"
#include "runtime/file.h"
#include "runtime/interrupt.h"
#include "runtime/standard_streams.h"

int main(int argc, char** argv) {
  kavrimo::ReserveStandardDescriptors();
  kavrimo::InstallInterruptHandlers(kavrimo::AfterCommit::kFinish);  // a committed output ends in success
  kavrimo::SetProjectionReportStream(stderr);
  kavrimo::DescriptorBuffer buffer(kavrimo::kStandardOutput);
  std::ostream out(&buffer);
  kavrimo::DescriptorInput input(kavrimo::kStandardInput);
  std::istream in(&input);
  const std::vector<std::string> args(argv + 1, argv + argc);
  kavrimo::cli::Streams io{in, out, std::cerr, kavrimo::IsTerminal(kavrimo::kStandardError),
                           kavrimo::IsTerminal(kavrimo::kStandardOutput)};
  const int status = kavrimo::cli::Run(args, io);
  return kavrimo::cli::FinishOutput(out, buffer, std::cerr, status);
}
