// A long session: the same grid converted 200 times in one process through the engine, with one image
// component and one settings file for the whole run, as the window keeps them. Open files, threads,
// heap and resident memory must not grow, and every run must give the same image.
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "app/core/conversion.h"
#include "app/core/ini_file.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "tests/support/grid_files.h"

#if defined(__SANITIZE_ADDRESS__)
#define KAVRIMO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVRIMO_ASAN 1
#endif
#endif

#ifdef KAVRIMO_ASAN
// Freed memory goes straight back to the allocator instead of a quarantine, so resident memory
// measures what the program keeps, not what the sanitizer holds back.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=0"; }
#endif

namespace kavrimo {
namespace {

using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteGrid;

// The window's side of a conversion, keeping nothing that grows with the number of runs.
class WindowLikeHost : public ConversionHost {
 public:
  explicit WindowLikeHost(const std::string& ini) : settings_(ini) {}
  void SaveNames(const std::string& input, const std::string& output) override {
    settings_.WriteString("files", "input", input);
    settings_.WriteString("files", "output", output);
  }
  void SetStatus(const std::string& text) override { status = text; }
  void SetProgress(int position) override { progress = position; }
  void ProcessMessages() override {}
  void ShowInformation(const std::string& text) override { information = text; }
  void ShowError(const std::string& text) override { error = text; }
  void SetBusyCursor(bool on) override { busy = on; }

  std::string status, information, error;
  int progress = 0;
  bool busy = false;

 private:
  TIniFile settings_;
};

struct Usage {
  int descriptors = 0;
  int threads = 0;
  long resident_kib = 0;
  std::size_t heap_bytes = 0;  // in use by malloc (0 under AddressSanitizer, which replaces it)
};

Usage Measure() {
  Usage usage;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++usage.descriptors;
    ::closedir(d);
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) usage.resident_kib = std::stol(line.substr(6));
    if (line.rfind("Threads:", 0) == 0) usage.threads = std::stoi(line.substr(8));
  }
#ifndef KAVRIMO_ASAN
  usage.heap_bytes = ::mallinfo2().uordblks;
#endif
  return usage;
}

class Soak : public testing::TestWithParam<int> {};

TEST_P(Soak, TwoHundredConversionsKeepFilesThreadsAndMemoryFlat) {
  const int threads = GetParam();
  TempDir dir;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-100, 3000);
  std::vector<float> cells(512 * 512);
  for (float& v : cells) v = value(random);
  WriteGrid(dir.File("dem"), 512, 512, cells);
  const ConversionRequest request{dir.File("dem.flt"), dir.File("out.IMG"), testing_support::TemplatePath(), threads};

  WindowLikeHost host(dir.File("kavrimo.ini"));
  TKelImg KelImg1(host);
  const auto convert = [&] {
    host.information.clear();
    Convert(request, KelImg1, host);
    ASSERT_EQ(host.information, "Image created succesfully");
    ASSERT_FALSE(host.busy);
  };

  constexpr int kWarmUp = 20;
  constexpr int kRuns = 200;
  for (int run = 0; run < kWarmUp; ++run) ASSERT_NO_FATAL_FAILURE(convert());
  const std::vector<std::uint8_t> first = ReadBytes(request.output);
  const Usage before = Measure();
  for (int run = kWarmUp; run < kRuns; ++run) ASSERT_NO_FATAL_FAILURE(convert());
  const Usage after = Measure();

  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  // 180 runs: a leak of even one 16 KiB block per run would add almost 3 MiB.
  EXPECT_LT(after.resident_kib - before.resident_kib, 1024) << before.resident_kib << " KiB before";
  EXPECT_LT(static_cast<long long>(after.heap_bytes) - static_cast<long long>(before.heap_bytes), 16 * 1024);
  EXPECT_EQ(host.error, "");
  EXPECT_EQ(ReadBytes(request.output), first);
  EXPECT_EQ(first.size(), 512u + cells.size());
  EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"dem.flt", "dem.hdr", "kavrimo.ini", "out.IMG"}));
  EXPECT_EQ(KelImg1.FileName(), request.output);
}

INSTANTIATE_TEST_SUITE_P(Threads, Soak, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& param_info) { return "Threads" + std::to_string(param_info.param); });

}  // namespace
}  // namespace kavrimo
