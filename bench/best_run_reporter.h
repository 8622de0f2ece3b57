// What every benchmark here shares: the console report as usual, plus the
// best of each benchmark's runs (on a shared machine the least disturbed run
// says the most about the code), and the start-up with repeated, interleaved
// runs that gives it several to choose from.
#ifndef QUORVANT_BENCH_BEST_RUN_REPORTER_H_
#define QUORVANT_BENCH_BEST_RUN_REPORTER_H_

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace quorvant::bench {

// What "best" means.
enum class BestOf {
  kRealSeconds,     // the lowest wall time per iteration, in seconds
  kCpuSeconds,      // the lowest CPU time per iteration, in seconds
  kItemsPerSecond,  // the highest items_per_second
  kBytesPerSecond,  // the highest bytes_per_second
};

class BestRunReporter : public benchmark::ConsoleReporter {
 public:
  explicit BestRunReporter(BestOf measure) : measure_(measure) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const double iterations = static_cast<double>(run.iterations);
      double value = 0;
      bool lowest = true;
      switch (measure_) {
        case BestOf::kRealSeconds:
          value = run.real_accumulated_time / iterations;
          break;
        case BestOf::kCpuSeconds:
          value = run.cpu_accumulated_time / iterations;
          break;
        case BestOf::kItemsPerSecond:
        case BestOf::kBytesPerSecond: {
          const auto counter = run.counters.find(
              measure_ == BestOf::kItemsPerSecond ? "items_per_second" : "bytes_per_second");
          if (counter == run.counters.end()) continue;
          value = counter->second.value;
          lowest = false;
          break;
        }
      }
      const auto [it, fresh] = best_.emplace(run.run_name.function_name, value);
      if (!fresh && (lowest ? value < it->second : value > it->second)) it->second = value;
    }
  }

  // The best value of the benchmark; 0 when it did not run.
  double best(const std::string& name) const {
    const auto it = best_.find(name);
    return it == best_.end() ? 0.0 : it->second;
  }

 private:
  const BestOf measure_;
  std::map<std::string, double> best_;
};

// benchmark::Initialize with three repetitions in random interleaving (and
// `minTime` seconds a run, when given) ahead of the caller's own flags,
// which win. False on a flag it does not know.
inline bool InitializeRepeated(int argc, char** argv, const char* minTime = nullptr) {
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=3";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string time = std::string("--benchmark_min_time=") + (minTime != nullptr ? minTime : "");
  std::vector<char*> added = {reps.data(), interleave.data()};
  if (minTime != nullptr) added.push_back(time.data());
  args.insert(args.begin() + 1, added.begin(), added.end());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

}  // namespace quorvant::bench

#endif  // QUORVANT_BENCH_BEST_RUN_REPORTER_H_
