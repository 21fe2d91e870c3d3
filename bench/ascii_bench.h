// The ESRI ASCII grid's part of the benchmark: an ASCII grid written from a synthetic float grid, its
// floor (every number of the text parsed once with std::from_chars on one thread, the file in the page
// cache), the engine on one and two threads, its peak memory, and its image against the float twin's.
#pragma once

#include <string>

#include "bench/bench_files.h"

namespace kavrimo::bench {

struct AsciiResult {
  int side = 0;
  double text_mib = 0;
  double floor = 0, engine1 = 0, engine2 = 0;  // medians, seconds
  double peak1 = 0, peak2 = 0;                 // MiB, the largest of the runs
  double small_peak1 = 0, small_peak2 = 0;     // MiB, on a grid a sixteenth the size
  double others = 0;                           // processors other programs kept busy meanwhile
  bool identical = true;                       // every image equal to the float twin's, header included
};

AsciiResult MeasureAscii(const ScratchFolder& folder, int side, const std::string& template_path, int runs);

// Prints the table and the targets; returns whether all were met.
bool ReportAscii(const AsciiResult& result);

}  // namespace kavrimo::bench
