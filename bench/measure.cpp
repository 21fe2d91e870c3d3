#include "bench/measure.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/file.h"

namespace kavrimo::bench {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void StoreMedians(std::initializer_list<MedianInto> series) {
  for (const MedianInto& one : series) one.median = Median(one.values);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return SecondsSince(start);
}

CpuClock CpuClock::Now() {
  CpuClock clock;
  if (std::FILE* stat = std::fopen("/proc/stat", "r")) {
    unsigned long long user, nice, system, idle, iowait, irq, softirq, steal;
    if (std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle, &iowait, &irq,
                    &softirq, &steal) == 8) {
      clock.machine =
          static_cast<double>(user + nice + system + irq + softirq) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    std::fclose(stat);
  }
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    ::getrusage(who, &usage);
    clock.ours += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  clock.wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  return clock;
}

double CpuClock::OthersSince(const CpuClock& start) const {
  return std::max(0.0, ((machine - start.machine) - (ours - start.ours)) / (wall - start.wall));
}

bool SameFiles(const std::string& a, const std::string& b) {
  const BinaryFile fa = BinaryFile::OpenExisting(a, OpenMode::ReadOnly);
  const BinaryFile fb = BinaryFile::OpenExisting(b, OpenMode::ReadOnly);
  if (fa.Size() != fb.Size()) return false;
  std::vector<char> ba(std::size_t{4} << 20), bb(ba.size());
  for (std::int64_t at = 0; at < fa.Size(); at += static_cast<std::int64_t>(ba.size())) {
    const std::size_t na = fa.ReadAt(at, ba.data(), ba.size());
    if (fb.ReadAt(at, bb.data(), bb.size()) != na || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
  }
  return true;
}

bool PrintThreadTargets(double floor, double engine1, double engine2, double others) {
  const bool one = engine1 <= 1.3 * floor;
  const bool two = engine2 <= 0.8 * floor;
  std::printf("  one thread <= 1.3 x floor: %s  two threads <= 0.8 x floor: %s%s\n", Verdict(one), Verdict(two),
              others < 0.25 ? "" : "  (other programs kept a processor busy)");
  if (others >= 0.25) std::printf("  other programs used %.2f processors on average while the engine ran\n", others);
  return one && two;
}

}  // namespace kavrimo::bench
