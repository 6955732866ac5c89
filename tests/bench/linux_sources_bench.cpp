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
#include <vector>

#include "monitor/watch_sources_linux.h"

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

void BM_ProcessCheckWithSleepers(benchmark::State& state) {
  static SleepingChildren children(500);
  ProcProcesses processes;
  const std::vector<std::string> watched = {"VLC-NOT-HERE", "OBS-NOT-HERE", "HANDBRAKE-NOT-HERE"};
  WatchedProcessRunning(processes, watched);  // the first pass reads every name
  for (auto _ : state) benchmark::DoNotOptimize(WatchedProcessRunning(processes, watched));
  state.counters["processes"] = static_cast<double>(processes.cached());
}
BENCHMARK(BM_ProcessCheckWithSleepers)->Unit(benchmark::kMicrosecond);

// 300 titled top-level windows, made once; the connection that made them stays open, since a
// display server may reset itself when its last client leaves.
xcb_connection_t* MakeWindows() {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x) != 0) return nullptr;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  auto atom = [x](const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r != nullptr ? r->atom : XCB_NONE;
    free(r);
    return a;
  };
  const xcb_atom_t net_wm_name = atom("_NET_WM_NAME");
  const xcb_atom_t utf8 = atom("UTF8_STRING");
  for (int i = 0; i < 300; ++i) {
    const xcb_window_t w = xcb_generate_id(x);
    xcb_create_window(x, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const std::string title = "Window number " + std::to_string(i) + " - Some Program";
    // As toolkits set them: the UTF-8 title, and the old one for old clients.
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, net_wm_name, utf8, 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
  }
  free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));  // all made
  return x;
}

void BM_WindowReadOf300(benchmark::State& state) {
  static xcb_connection_t* const maker = MakeWindows();
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
