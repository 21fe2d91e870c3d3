// Start-up: kavrimo-cli run as a script runs it, one process per grid, timed from outside (start to
// exit, loading its libraries included): --version, a conversion of the sample float grid, and a
// conversion of the same grid as a GeoTIFF, which opens the GeoTIFF module. An empty program (true)
// is the floor.
#pragma once

#include <string>

#include "bench/bench_files.h"

namespace kavrimo::bench {

// Medians of the seconds from start to exit and of the processor seconds (user and system).
struct StartupTimes {
  double wall = 0, cpu = 0;
};

struct StartupResult {
  StartupTimes empty, version, float_grid, geotiff;
};

StartupResult MeasureStartup(const ScratchFolder& folder, const std::string& template_path, int runs);

// Prints the result; true when --version and the float grid's conversion take under 5 ms.
bool ReportStartup(const StartupResult& result);

}  // namespace kavrimo::bench
