// What every benchmark here prints after Google Benchmark's table: the ratio
// of our time to the baseline's, measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tavrolin::bench {

// Keeps each benchmark's time per iteration, by the name it was registered
// under, so the ratios can be printed after the table. CPU time by default
// (steadier on a shared machine); wall time where waiting is part of the cost.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(bool wall_time = false) : wall_time_(wall_time) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        const std::string name = run.benchmark_name();
        times_[name.substr(0, name.find('/'))] =
            wall_time_ ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Our time over the baseline's: lower is better.
  void PrintRatio(const char* label, const std::string& ours, const std::string& baseline,
                  double at_most) const {
    if (!Have(ours, baseline)) return;
    const double ratio = times_.at(ours) / times_.at(baseline);
    std::printf("ratio %-12s = %5.2f  (target <= %.1fx: %s)\n", label, ratio, at_most,
                ratio <= at_most ? "met" : "MISSED");
  }

  // Our throughput over the baseline's: higher is better.
  void PrintSpeedRatio(const char* label, const std::string& ours, const std::string& baseline,
                       double at_least) const {
    if (!Have(ours, baseline)) return;
    const double ratio = times_.at(baseline) / times_.at(ours);
    std::printf("throughput %-20s = %5.2f of the baseline's  (target >= %.2f: %s)\n", label, ratio,
                at_least, ratio >= at_least ? "met" : "MISSED");
  }

 private:
  bool Have(const std::string& ours, const std::string& baseline) const {
    return times_.count(ours) && times_.count(baseline) && times_.at(ours) > 0;
  }

  bool wall_time_;
  std::map<std::string, double> times_;
};

}  // namespace tavrolin::bench
