// The batch case: many small grids converted into a folder that already holds many files, against the
// same into an empty folder. The output folder is swept for leftovers of killed runs once per run (for the
// images and for the scratch files of ASCII grids alike), so the two must take about the same time.
#pragma once

#include <string>

#include "bench/bench_files.h"

namespace kavrimo::bench {

struct BatchResult {
  int grids = 0;
  int files_present = 0;
  double empty_seconds = 0;  // medians
  double full_seconds = 0;
};

// Converts grids small grids (float grids, or ASCII grids, which each make a scratch file beside the
// image) with `kavrimo-cli convert --out-dir` (in-process, one job) into an empty folder and into a
// folder of files_present other files, runs times each.
BatchResult MeasureBatch(const ScratchFolder& folder, const std::string& template_path, int grids, int files_present,
                         int runs, bool ascii);

}  // namespace kavrimo::bench
