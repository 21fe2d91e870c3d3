// Running the engine's whole conversion in a child process, to time it and read its peak resident
// memory apart from the benchmark's own; and a busy loop that keeps another core occupied.
#pragma once

#include <sys/types.h>

#include <string>

#include "app/conversion/conversion.h"
#include "runtime/no_copy.h"

namespace kavrimo::bench {

struct EngineRun {
  double seconds = 0;
  long peak_kib = 0;  // VmHWM of the child that ran the conversion
  std::string error;  // empty on success
};

// Forks; the child runs kavrimo::Convert(input -> output, template, threads) with a silent host, the
// way the command line does, and reports its time and VmHWM through a pipe.
EngineRun RunEngineInChild(const std::string& input, const std::string& output, const std::string& template_path,
                           int threads);

// The same for any request (a mosaic, say).
EngineRun RunRequestInChild(const ConversionRequest& request);

// The same conversion in this process (for small grids).
void RunEngine(const std::string& input, const std::string& output, const std::string& template_path, int threads);

// A child process spinning on the CPU until it is stopped; stopping kills and reaps that one process.
class BusyLoop : NoCopy {
 public:
  BusyLoop();
  ~BusyLoop();

 private:
  pid_t pid_ = -1;
};

}  // namespace kavrimo::bench
