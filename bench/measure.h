// How the benchmark measures: medians, wall time, the processors other programs kept busy meanwhile,
// files compared byte for byte, and the word for a target met or missed.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace kavrimo::bench {

double Median(std::vector<double> values);

// One series of runs' values and the result field its median goes to.
struct MedianInto {
  const std::vector<double>& values;
  double& median;
};
// Stores the median of each series in its field.
void StoreMedians(std::initializer_list<MedianInto> series);

// The seconds since start, and the seconds run takes.
double SecondsSince(std::chrono::steady_clock::time_point start);
double Seconds(const std::function<void()>& run);

// CPU seconds spent by the whole machine (all processors, not idle) and by this process and its
// waited-for children, so the time other programs took can be told apart.
struct CpuClock {
  double machine = 0;
  double ours = 0;
  double wall = 0;
  static CpuClock Now();
  // Processors kept busy by other programs since start, on average.
  double OthersSince(const CpuClock& start) const;
};

// True when the two files hold the same bytes.
bool SameFiles(const std::string& a, const std::string& b);

inline const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// The thread targets of a reader against its floor (one thread within 1.3 x, two within 0.8 x), printed
// as one line with a note where other programs kept a processor busy; true when both are met.
bool PrintThreadTargets(double floor, double engine1, double engine2, double others);

}  // namespace kavrimo::bench
