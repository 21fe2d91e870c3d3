#include "bench/batch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "app/cli/cli.h"
#include "bench/measure.h"

namespace kavrimo::bench {
namespace {

// One run of the batch into out; returns its seconds. The images it wrote are removed afterwards.
double RunBatch(const std::vector<std::string>& inputs, const std::string& out, const std::string& template_path) {
  std::vector<std::string> args = {"convert", "-q", "--jobs", "1", "--template", template_path, "--out-dir", out};
  args.insert(args.end(), inputs.begin(), inputs.end());
  std::istringstream in;
  std::ostringstream sink_out, sink_err;
  cli::Streams io{in, sink_out, sink_err};
  const auto start = std::chrono::steady_clock::now();
  const int status = cli::Run(args, io);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) throw std::runtime_error("batch failed: " + sink_err.str());
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    if (entry.path().extension() == ".IMG") std::filesystem::remove(entry.path());
  }
  return seconds;
}

}  // namespace

BatchResult MeasureBatch(const ScratchFolder& folder, const std::string& template_path, int grids, int files_present,
                         int runs, bool ascii) {
  BatchResult result{grids, files_present, 0, 0};
  const std::string sources = folder.File("grids"), empty = folder.File("empty"), full = folder.File("full");
  for (const std::string& dir : {sources, empty, full}) std::filesystem::create_directory(dir);
  std::vector<std::string> inputs;
  for (int i = 0; i < grids; ++i) {
    const std::string base = sources + "/g" + std::to_string(i);
    if (ascii) {
      std::ofstream text(base + ".asc");
      text << "ncols 8\nnrows 8\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
      for (int cell = 0; cell < 64; ++cell) text << i % 97 << (cell % 8 == 7 ? "\n" : " ");
      inputs.push_back(base + ".asc");
    } else {
      WriteGridCells(base, std::vector<float>(64, static_cast<float>(i % 97)), 8);
      inputs.push_back(base + ".flt");
    }
  }
  for (int i = 0; i < files_present; ++i) std::ofstream(full + "/archive" + std::to_string(i) + ".IMG") << "x";
  std::vector<double> empty_times, full_times;
  for (int run = 0; run < runs; ++run) {
    empty_times.push_back(RunBatch(inputs, empty, template_path));
    full_times.push_back(RunBatch(inputs, full, template_path));
  }
  result.empty_seconds = Median(empty_times);
  result.full_seconds = Median(full_times);
  std::filesystem::remove_all(sources);
  std::filesystem::remove_all(empty);
  std::filesystem::remove_all(full);
  return result;
}

}  // namespace kavrimo::bench
