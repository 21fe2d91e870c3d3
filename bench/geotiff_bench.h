// The GeoTIFF's part of the benchmark. An 8192 x 8192 float32 GeoTIFF in tiles of 512 x 512, Deflate after
// the floating-point predictor, against its floor (every tile decoded once by libtiff on one thread, the
// file in the page cache), on one and two threads; the same cells uncompressed against converting their
// float twin; each image against the twin's; the peak memory of float64 tiles of 2048 x 2048 on 1, 2, 4 and
// 8 threads (the threads hold their blocks within one budget); and the peak memory of 32767 x 32767
// GeoTIFFs, tiled and as one strip, where the disk has space for them.
#pragma once

#include <string>

#include "bench/bench_files.h"

namespace kavrimo::bench {

struct GeoTiffResult {
  int side = 0;
  double floor = 0, engine1 = 0, engine2 = 0;         // the Deflate file: medians, seconds
  double plain1 = 0, twin1 = 0;                       // uncompressed, and the float twin, one thread
  double peak1 = 0, peak2 = 0;                        // MiB, the Deflate file
  double others = 0;                                  // processors other programs kept busy meanwhile
  bool identical = true;                              // every image equal to the float twin's
  int large_side = 0;                                 // 0 when the large files were skipped
  double large_tiled_peak = 0, large_strip_peak = 0;  // MiB, two threads
  double large_tiled_seconds = 0, large_strip_seconds = 0;
  double wide_tile_peaks[4] = {};  // MiB, float64 tiles of 2048 x 2048 on 1, 2, 4 and 8 threads
};

GeoTiffResult MeasureGeoTiff(const ScratchFolder& folder, int side, int large_side, const std::string& template_path,
                             int runs);

// Prints the table and the targets; returns whether all were met.
bool ReportGeoTiff(const GeoTiffResult& result);

}  // namespace kavrimo::bench
