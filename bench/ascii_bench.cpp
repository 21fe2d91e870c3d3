// The ASCII grid benchmark: writing the text, the from_chars floor, the engine in a child process.
#include "bench/ascii_bench.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "bench/engine_child.h"
#include "bench/measure.h"
#include "runtime/file.h"

namespace kavrimo::bench {
namespace {

constexpr std::size_t kBlock = std::size_t{4} << 20;

// base.asc from base.flt (a synthetic grid of side x side cells): the float grid's header keys, then
// one row per line, each cell as the shortest text that reads back as the same single.
void WriteAsciiTwin(const std::string& base, int side) {
  BinaryFile cells = BinaryFile::OpenExisting(base + ".flt", OpenMode::ReadOnly);
  BinaryFile text = BinaryFile::Create(base + ".asc");
  std::string out = "ncols " + std::to_string(side) + "\nnrows " + std::to_string(side) +
                    "\nxllcorner -180\nyllcorner -60\ncellsize 0.01\nNODATA_value " + std::to_string(kNoData) + "\n";
  std::vector<float> row(static_cast<std::size_t>(side));
  char number[32];
  for (int r = 0; r < side; ++r) {
    cells.ReadExactly(row.data(), row.size() * sizeof(float));
    for (std::size_t i = 0; i < row.size(); ++i) {
      out.append(number, std::to_chars(number, number + sizeof number, row[i]).ptr);
      out += i + 1 < row.size() ? ' ' : '\n';
    }
    if (out.size() >= kBlock) {
      text.WriteExactly(out.data(), out.size());
      out.clear();
    }
  }
  text.WriteExactly(out.data(), out.size());
  ::fdatasync(text.Descriptor());
  text.Close();
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The floor: the file read in blocks, every number parsed once with std::from_chars (a word that is
// no number, in the header, is stepped over). Returns the count of numbers.
std::int64_t ParseEveryNumberOnce(const std::string& path, double& checksum) {
  BinaryFile file = BinaryFile::OpenExisting(path, OpenMode::ReadOnly);
  std::vector<char> buffer(kBlock + 1);
  std::size_t carried = 0;
  std::int64_t count = 0;
  float sum = 0;
  for (;;) {
    const std::size_t got = file.Read(buffer.data() + carried, kBlock - carried);
    const std::size_t size = carried + got;
    if (size == 0) break;
    const char* p = buffer.data();
    const char* const end = p + size;
    const char* stop = end;
    if (got > 0) {
      while (stop > p && !IsSpace(stop[-1])) --stop;  // a number cut by the block waits for the next
    }
    while (p < stop) {
      while (p < stop && IsSpace(*p)) ++p;
      if (p == stop) break;
      float value;
      const auto [next, error] = std::from_chars(p, stop, value);
      if (error == std::errc()) {
        sum += value;
        ++count;
        p = next;
      } else {
        while (p < stop && !IsSpace(*p)) ++p;
      }
    }
    carried = static_cast<std::size_t>(end - stop);
    std::memmove(buffer.data(), stop, carried);
    if (got == 0) break;
  }
  checksum = sum;
  return count;
}

}  // namespace

AsciiResult MeasureAscii(const ScratchFolder& folder, int side, const std::string& template_path, int runs) {
  AsciiResult result;
  result.side = side;
  const std::string base = folder.File("ascii" + std::to_string(side));
  std::printf("  ASCII %d x %d: writing the float grid and its ASCII twin...", side, side);
  std::fflush(stdout);
  auto start = std::chrono::steady_clock::now();
  WriteSyntheticGrid(base, side, 0xa5c11000u + static_cast<unsigned>(side));
  WriteAsciiTwin(base, side);
  result.text_mib = static_cast<double>(std::filesystem::file_size(base + ".asc")) / (1 << 20);
  std::printf(" %.0f MiB of text, %.1f s\n", result.text_mib, SecondsSince(start));

  const std::string twin = folder.File("ascii-twin.img"), out = folder.File("ascii.img");
  RunEngine(base + ".flt", twin, template_path, 2);
  const auto engine = [&](int threads, std::vector<double>& times, double& peak) {
    const EngineRun run = RunEngineInChild(base + ".asc", out, template_path, threads);
    if (!run.error.empty()) throw std::runtime_error("engine: " + run.error);
    times.push_back(run.seconds);
    peak = std::max(peak, static_cast<double>(run.peak_kib) / 1024);
    if (!SameFiles(out, twin)) {
      result.identical = false;
      std::printf("  ! %d thread(s): the ASCII grid's image differs from its float twin's\n", threads);
    }
    std::filesystem::remove(out);
  };

  double checksum = 0;
  // Warms the page cache; the six header values are numbers too.
  if (ParseEveryNumberOnce(base + ".asc", checksum) != std::int64_t{side} * side + 6) {
    throw std::runtime_error("the floor did not parse every number of the ASCII grid");
  }
  std::vector<double> floor, engine1, engine2, others;
  for (int run = 0; run < runs; ++run) {
    const CpuClock before = CpuClock::Now();
    start = std::chrono::steady_clock::now();
    ParseEveryNumberOnce(base + ".asc", checksum);
    floor.push_back(SecondsSince(start));
    engine(1, engine1, result.peak1);
    engine(2, engine2, result.peak2);
    others.push_back(CpuClock::Now().OthersSince(before));
    std::printf("  run %d: floor %.3f  engine %.3f / %.3f s  (other programs: %.2f processors)\n", run + 1,
                floor.back(), engine1.back(), engine2.back(), others.back());
    std::fflush(stdout);
  }
  StoreMedians({{floor, result.floor}, {engine1, result.engine1}, {engine2, result.engine2}, {others, result.others}});
  std::filesystem::remove(base + ".asc");
  std::filesystem::remove(base + ".flt");
  std::filesystem::remove(twin);

  // The same thread counts on a grid a sixteenth the size: the peak must not follow the grid. The
  // highest of as many runs as above, since how far the threads overlap varies from run to run.
  const int small = side / 4;
  const std::string small_base = folder.File("ascii" + std::to_string(small));
  WriteSyntheticGrid(small_base, small, 0xa5c12000u);
  WriteAsciiTwin(small_base, small);
  for (int run_index = 0; run_index < runs; ++run_index) {
    for (const int threads : {1, 2}) {
      const EngineRun run = RunEngineInChild(small_base + ".asc", out, template_path, threads);
      if (!run.error.empty()) throw std::runtime_error("engine: " + run.error);
      double& peak = threads == 1 ? result.small_peak1 : result.small_peak2;
      peak = std::max(peak, static_cast<double>(run.peak_kib) / 1024);
      std::filesystem::remove(out);
    }
  }
  return result;
}

bool ReportAscii(const AsciiResult& r) {
  std::printf(
      "\nESRI ASCII grid  text MiB   floor  engine1  engine2 | e1/floor e2/floor | peak MiB 1t  2t  (at %d^2: "
      "1t  2t) | bytes\n",
      r.side / 4);
  std::printf(
      "%5d x %-5d      %7.0f  %6.3f   %6.3f   %6.3f |   %5.2f    %5.2f  |       %5.1f %5.1f        %5.1f "
      "%5.1f  | %s\n",
      r.side, r.side, r.text_mib, r.floor, r.engine1, r.engine2, r.engine1 / r.floor, r.engine2 / r.floor, r.peak1,
      r.peak2, r.small_peak1, r.small_peak2, r.identical ? "identical" : "DIFFER");
  const bool memory = r.peak1 <= r.small_peak1 * 1.1 + 1 && r.peak2 <= r.small_peak2 * 1.1 + 1 && r.peak2 < 64;
  std::printf(
      "ASCII targets (floor: every number parsed once with std::from_chars, one thread, from the page cache):\n");
  const bool threads = PrintThreadTargets(r.floor, r.engine1, r.engine2, r.others);
  std::printf("  peak memory the same on a grid 16 times smaller, under 64 MiB: %s\n", Verdict(memory));
  std::printf("  images identical to the float twin's, header and pixels: %s\n", Verdict(r.identical));
  return threads && memory && r.identical;
}

}  // namespace kavrimo::bench
