// For the Google Benchmark programs: keeps the best bytes per second of each
// benchmark's repetitions, by name, for a summary printed after the
// benchmark's own table. On a shared machine the best run is the one least
// disturbed by other work.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class BestRates : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      double& best = rates[run.run_name.function_name];
      if (it->second > best) best = it->second;
    }
  }
  // Best bytes per second by benchmark name; 0 for one that did not run.
  std::map<std::string, double> rates;
};
