// The mosaic's part of the benchmark: an 8192 x 8192 float grid cut into 64 tiles of 1024 x 1024 and
// into 1024 tiles of 256 x 256, their mosaics against converting the grid itself; a box touching a
// sixteenth of the 1024 tiles against their whole mosaic; cells four times as large against converting
// the grid; every image checked against the grid's own. Then the peak memory of 32000 x 32000 mosaics
// of 1024 tiles of 1000 x 1000, float grids (in order and shuffled) and GeoTIFFs (Deflate), where the disk
// has space for them.
#pragma once

#include <string>

#include "bench/bench_files.h"

namespace kavrimo::bench {

struct MosaicBenchResult {
  // Medians in seconds, on one thread and on two.
  double twin[2] = {}, tiles64[2] = {}, tiles1024[2] = {}, bounds[2] = {}, coarse[2] = {};
  // The floors, on one thread: the files read twice and the image written (mosaic_bench.cpp).
  double floor64 = 0, floor1024 = 0, floor_bounds = 0;
  double others = 0;  // processors other programs kept busy meanwhile
  bool identical = true;
  int large_side = 0;  // 0 when the large mosaics were skipped
  double large_float_peak = 0, large_shuffled_peak = 0, large_geotiff_peak = 0;  // MiB, two threads
  double large_float_seconds = 0, large_geotiff_seconds = 0;
};

MosaicBenchResult MeasureMosaic(const ScratchFolder& folder, const std::string& template_path, int runs, bool large);

// Prints the table and the targets; returns whether all were met.
bool ReportMosaic(const MosaicBenchResult& result);

}  // namespace kavrimo::bench
