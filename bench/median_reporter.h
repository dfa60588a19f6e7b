// median_reporter.h: a console reporter that also keeps the median of each
// benchmark run with repetitions, so that a program can print ratios of them.

#ifndef VELTRANE_BENCH_MEDIAN_REPORTER_H
#define VELTRANE_BENCH_MEDIAN_REPORTER_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class MedianKeeper : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name == "median") {
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
        medians[name] = run.GetAdjustedRealTime();
      }
    }
  }

  // The median of `name` in nanoseconds, or 0 when it did not run.
  double Median(const std::string& name) const {
    const auto found = medians.find(name);
    return found != medians.end() ? found->second : 0;
  }

  std::map<std::string, double> medians;
};

#endif  // VELTRANE_BENCH_MEDIAN_REPORTER_H
