// The engine in a child process, timed and measured from inside; the busy loop.
#include "bench/engine_child.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "app/conversion/conversion.h"
#include "image/kel_img.h"

namespace kavrimo::bench {
namespace {

class SilentHost : public ConversionHost {
 public:
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  void ShowInformation(const std::string&) override {}
  void ShowError(const std::string& text) override { throw std::runtime_error(text); }
  void SetBusyCursor(bool) override {}
};

long PeakResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

struct Report {
  double seconds;
  long peak_kib;
  char error[240];
};

}  // namespace

void RunEngine(const std::string& input, const std::string& output, const std::string& template_path, int threads) {
  SilentHost host;
  TKelImg image(host);
  Convert({input, output, template_path, threads}, image, host);
}

EngineRun RunEngineInChild(const std::string& input, const std::string& output, const std::string& template_path,
                           int threads) {
  return RunRequestInChild({input, output, template_path, threads});
}

EngineRun RunRequestInChild(const ConversionRequest& request) {
  int channel[2];
  if (::pipe(channel) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive an interrupted benchmark
    ::close(channel[0]);
    Report report{};
    try {
      const auto start = std::chrono::steady_clock::now();
      SilentHost host;
      TKelImg image(host);
      Convert(request, image, host);
      report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } catch (const std::exception& e) {
      std::snprintf(report.error, sizeof report.error, "%s", e.what());
    }
    report.peak_kib = PeakResidentKib();
    const ssize_t written = ::write(channel[1], &report, sizeof report);
    ::_exit(written == static_cast<ssize_t>(sizeof report) ? 0 : 1);
  }
  ::close(channel[1]);
  Report report{};
  const ssize_t got = ::read(channel[0], &report, sizeof report);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EngineRun run;
  if (got != static_cast<ssize_t>(sizeof report) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    run.error = "the engine's child process failed";
    return run;
  }
  run.seconds = report.seconds;
  run.peak_kib = report.peak_kib;
  run.error = report.error;
  return run;
}

BusyLoop::BusyLoop() {
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    volatile unsigned long spin = 0;
    for (;;) spin = spin + 1;
  }
}

BusyLoop::~BusyLoop() {
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

}  // namespace kavrimo::bench
