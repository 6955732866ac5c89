// Costs of the Linux worker's sources on this machine: the process check over the real /proc with
// 500 extra sleeping processes (names cached after the first pass), and the window read with 300
// top-level windows (titled as toolkits title them) on the X display named by $DISPLAY.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "monitor/watch_sources_linux.h"
#include "tests/bench/titled_windows.h"

namespace dozerin {
namespace {

// 500 children sleeping until the benchmark ends.
class SleepingChildren {
 public:
  explicit SleepingChildren(int n) {
    for (int i = 0; i < n; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        execlp("sleep", "sleep", "600", static_cast<char*>(nullptr));
        _exit(127);
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~SleepingChildren() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  SleepingChildren(const SleepingChildren&) = delete;
  SleepingChildren& operator=(const SleepingChildren&) = delete;

 private:
  std::vector<pid_t> pids_;
};

// /1: on a busy machine more pids are handed out between two passes than are looked into one by
// one, so that every pass lists /proc.
void BM_ProcessCheckWithSleepers(benchmark::State& state) {
  static SleepingChildren children(500);
  ProcProcesses processes;
  const std::vector<std::string> watched = {"VLC-NOT-HERE", "OBS-NOT-HERE", "HANDBRAKE-NOT-HERE"};
  WatchedProcessRunning(processes, watched);  // the first pass reads every name
  for (auto _ : state) {
    if (state.range(0) != 0) {
      state.PauseTiming();
      for (long i = 0; i <= ProcProcesses::kMostNewPids; ++i) std::thread([] {}).join();
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(WatchedProcessRunning(processes, watched));
  }
  state.counters["processes"] = static_cast<double>(processes.cached());
}
BENCHMARK(BM_ProcessCheckWithSleepers)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_WindowReadOf300(benchmark::State& state) {
  static xcb_connection_t* const maker = MakeTitledWindows(300);
  if (maker == nullptr) {
    state.SkipWithError("no X display");
    return;
  }
  X11Desktop desktop;
  for (auto _ : state) benchmark::DoNotOptimize(desktop.TopLevelWindows());
  state.counters["windows"] = static_cast<double>(desktop.TopLevelWindows().size());
}
BENCHMARK(BM_WindowReadOf300)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dozerin

BENCHMARK_MAIN();
