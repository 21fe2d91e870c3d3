#include "bench/startup.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "bench/measure.h"

namespace kavrimo::bench {
namespace {

// Runs program with args, its output thrown away: its seconds from start to exit, and the processor
// seconds (user and system) it took. posix_spawn, not fork: the parent's size must not count.
StartupTimes RunProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + program);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double seconds = SecondsSince(start);
  const auto in_seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(program + " " + (args.empty() ? "" : args.front()) + " failed: status " +
                             std::to_string(status));
  }
  return {seconds, in_seconds(usage.ru_utime) + in_seconds(usage.ru_stime)};
}

StartupTimes MedianOf(int runs, const std::string& program, const std::vector<std::string>& args) {
  RunProcess(program, args);  // the page cache warmed
  std::vector<double> wall, cpu;
  for (int run = 0; run < runs; ++run) {
    const StartupTimes times = RunProcess(program, args);
    wall.push_back(times.wall);
    cpu.push_back(times.cpu);
  }
  return {Median(wall), Median(cpu)};
}

}  // namespace

StartupResult MeasureStartup(const ScratchFolder& folder, const std::string& template_path, int runs) {
  const std::string cli = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kavrimo-cli").string();
  const std::string sample = KAVRIMO_SAMPLE_GRID;
  const std::string image = folder.File("startup.IMG"), tif = folder.File("startup.tif");
  RunProcess(cli, {"convert", "-q", "--template", template_path, sample, image});
  RunProcess(cli, {"export", image, tif});
  StartupResult result;
  result.empty = MedianOf(runs, "/bin/true", {});
  result.version = MedianOf(runs, cli, {"--version"});
  result.float_grid = MedianOf(runs, cli, {"convert", "-q", "--template", template_path, sample, image});
  result.geotiff = MedianOf(runs, cli, {"convert", "-q", "--template", template_path, tif, image});
  std::filesystem::remove(image);
  std::filesystem::remove(tif);
  return result;
}

bool ReportStartup(const StartupResult& r) {
  // Wall time on a shared machine counts other programs too; the processor time is the process's own.
  const bool met = r.version.cpu < 0.005 && r.float_grid.cpu < 0.005;
  std::printf("start-up of kavrimo-cli, whole process, median ms   wall    cpu\n");
  const std::pair<const char*, StartupTimes> rows[] = {{"empty program (true)", r.empty},
                                                       {"--version", r.version},
                                                       {"the sample float grid converted", r.float_grid},
                                                       {"the same grid as a GeoTIFF", r.geotiff}};
  for (const auto& [name, times] : rows) std::printf("  %-42s %6.1f %6.1f\n", name, times.wall * 1e3, times.cpu * 1e3);
  std::printf("  --version and the float grid under 5 ms of processor time: %s\n", Verdict(met));
  return met;
}

}  // namespace kavrimo::bench
