// Costs of one pass's watches: the process check, the window check and the matcher's worst cases.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "monitor/watches.h"
#include "monitor/wildcard.h"

namespace dozerin {
namespace {

class ListedProcesses : public ProcessSource {
 public:
  bool ForEachProcessName(const std::function<bool(std::string_view)>& visit) override {
    for (const std::string& n : names) {
      if (visit(n)) break;
    }
    return true;
  }
  std::vector<std::string> names;
};

class ListedWindows : public WindowSource {
 public:
  std::vector<TopLevelWindow> TopLevelWindows() override { return windows; }
  std::vector<TopLevelWindow> windows;
};

// 500 running processes, 50 watched names, none running: every pair is compared.
void BM_ProcessCheck500x50(benchmark::State& state) {
  ListedProcesses processes;
  for (int i = 0; i < 500; ++i)
    processes.names.push_back("SomeProcess" + std::to_string(i) + ".exe");
  std::vector<std::string> watched;
  for (int i = 0; i < 50; ++i) watched.push_back("WATCHED" + std::to_string(i) + ".EXE");
  for (auto _ : state) benchmark::DoNotOptimize(WatchedProcessRunning(processes, watched));
}
BENCHMARK(BM_ProcessCheck500x50)->Unit(benchmark::kMicrosecond);

// 300 windows, 50 patterns with stars, none matching: every window against every pattern.
void BM_WindowCheck300x50(benchmark::State& state) {
  ListedWindows windows;
  for (int i = 0; i < 300; ++i) {
    windows.windows.push_back({"Document " + std::to_string(i) + " - Some Editor", "EditorFrame"});
  }
  std::vector<std::string> patterns;
  for (int i = 0; i < 50; ++i) patterns.push_back("*PATTERN" + std::to_string(i) + "*VIEWER");
  for (auto _ : state) benchmark::DoNotOptimize(WatchedWindowExists(windows, patterns));
}
BENCHMARK(BM_WindowCheck300x50)->Unit(benchmark::kMicrosecond);

// A 1 MB title against 20 stars that cannot match.
void BM_MatcherTwentyStarsOneMegabyte(benchmark::State& state) {
  const std::string title(1 << 20, 'A');
  std::string pattern;
  for (int i = 0; i < 20; ++i) pattern += "*A";
  pattern += "B";
  for (auto _ : state) benchmark::DoNotOptimize(WildcardMatch(title, pattern));
}
BENCHMARK(BM_MatcherTwentyStarsOneMegabyte)->Unit(benchmark::kMillisecond);

// A 1 MB title of repeated words against a pattern that finds its word only at the very end.
void BM_MatcherLateMatchOneMegabyte(benchmark::State& state) {
  std::string title;
  while (title.size() < (1u << 20)) title += "AB";
  title += "ABC";
  for (auto _ : state) benchmark::DoNotOptimize(WildcardMatch(title, "*A*B*A*B*A*B*C"));
}
BENCHMARK(BM_MatcherLateMatchOneMegabyte)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dozerin

BENCHMARK_MAIN();
