// Years of running simulated in seconds: the portable core (state machine with holds by hand,
// worker pass, load averages, click recognition) driven tick by tick with a fake clock and fake
// sources through random activity, checked after every step against a slow reference model. Usage:
//   years_sim [ticks]      (default 10^8, more than three years of seconds)
// Prints the figures; exits 1 at the first step that breaks an invariant.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "control/inhibit_state_machine.h"
#include "control/tray_click.h"
#include "monitor/proc_loads.h"
#include "monitor/worker.h"

namespace dozerin {
namespace {

std::uint64_t g_rng = 0x9E3779B97F4A7C15u;
std::uint64_t Next() {  // xorshift64*
  g_rng ^= g_rng >> 12;
  g_rng ^= g_rng << 25;
  g_rng ^= g_rng >> 27;
  return g_rng * 0x2545F4914F6CDD1Du;
}
bool OneIn(std::uint64_t n) {
  return Next() % n == 0;
}

std::uint64_t g_tick = 0;
[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken at tick %" PRIu64 ": %s\n", g_tick, what);
  std::exit(1);
}
void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

struct Platform : InhibitPlatform {
  void SetExecutionState(std::uint32_t flags) override { requests |= flags; }
  void WakeWorker() override {}
  void ShowState(InhibitState state) override { shown = state; }
  bool LoggingOn() const override { return false; }
  FileError Log(std::string_view) override { return FileError::kNone; }
  std::int64_t WallClock() const override { return wall; }
  std::uint32_t requests = 0;
  std::int64_t wall = 1'800'000'000;
  InhibitState shown = STATE_IDLE;
};

using Report = std::pair<std::uint32_t, std::uint32_t>;

struct Worker : WorkerPlatform {
  void Post(std::uint32_t r, std::uint32_t k) override { posts.emplace_back(r, k); }
  bool Running() const override { return true; }
  void WaitForWakeUp() override {}
  void ShowError(int) override { Fail("a reader failed"); }
  std::vector<Report> posts;
};

struct Sources : ActivitySources {
  bool ReadCursor(std::int32_t* x, std::int32_t* y) override {
    *x = cx;
    *y = cy;
    return true;
  }
  bool WatchedProcessRunning(const std::vector<std::string>&, std::string* m) override {
    if (process) *m = "vlc";
    return process;
  }
  bool WatchedWindowExists(const std::vector<std::string>&, std::size_t* which) override {
    if (window) *which = 0;
    return window;
  }
  std::int32_t cx = 0, cy = 0;
  bool process = false, window = false;
};

// A processor probe that returns what the world says.
struct Cpu : LoadProbe {
  bool Open() override { return true; }
  std::optional<std::uint64_t> Sample() override { return sample; }
  std::uint64_t sample = 0;
};

// Two interfaces whose byte counters wrap: one at 2^64, one at 2^32 (as 32-bit kernels count).
struct Network {
  std::uint64_t eth0 = ~std::uint64_t{0} - 5'000'000'000u;  // wraps within the first hours
  std::uint64_t wlan0 = 0xFFFFFFFFu - 3'000'000u;
  std::uint64_t eth0_rate = 0, wlan0_rate = 0;
  std::string Text() const {
    return "h\nh\neth0: " + std::to_string(eth0) +
           " 0 0 0 0 0 0 0 0\nwlan0: " + std::to_string(wlan0) + " 0 0 0 0 0 0 0 0\n";
  }
};

// The slow reference of one sliding average.
std::uint64_t SlowAverage(std::deque<std::uint64_t>& window, std::uint64_t sample, int n) {
  window.push_back(sample);
  while (static_cast<int>(window.size()) > n + 1) window.pop_front();
  std::uint64_t sum = 0;
  for (std::uint64_t s : window) sum += s;
  return sum / static_cast<std::uint64_t>(n + 1);
}

struct Clicks : TrayClickPlatform {
  void SetClickTimer(std::uint32_t) override { armed = true; }
  void KillClickTimer() override { armed = false; }
  void PostToSelf(std::uint32_t m) override { posted.push_back(m); }
  std::uint32_t DoubleClickTimeMs() const override { return 500; }
  bool armed = false;
  std::vector<std::uint32_t> posted;
};

int Run(std::uint64_t ticks) {
  Platform platform;
  InhibitStateMachine machine(platform);
  Worker worker;
  Sources sources;
  Cpu cpu;
  Network net;
  std::chrono::steady_clock::time_point now{};
  // Only the counters: every interface is a physical one.
  auto reader = [&](const std::string& path) -> std::optional<std::string> {
    if (path != "/proc/net/dev") return std::nullopt;
    return net.Text();
  };
  WorkerSettings ws;
  InhibitSettings is;
  std::unique_ptr<ProcNetworkLoad> network;
  std::unique_ptr<Observer> observer;
  // The reference model.
  std::deque<std::uint64_t> ref_net, ref_cpu;
  std::uint64_t prev_eth0 = 0, prev_wlan0 = 0;
  bool have_prev = false;
  std::int32_t anchor_x = -1, anchor_y = -1;
  std::uint32_t countdown = 0;
  bool worker_busy = false;
  bool held = false;  // a hold by hand runs
  std::int64_t hold_length = 0, hold_start = 0;
  std::uint64_t reports = 0, restarts = 0, wraps_seen = 0, holds = 0, holds_over_in_sleep = 0;

  // A worker (re)start: fresh settings, fresh readers, fresh averages and anchor.
  auto restart = [&] {
    ws.network_traffic = OneIn(3) ? 0 : static_cast<std::uint32_t>(Next() % 200000 + 1);
    ws.cpu_usage = OneIn(3) ? 0 : static_cast<std::uint32_t>(Next() % 100 + 1);
    ws.mouse_cap = Next() % 2;
    ws.network_ave_time = static_cast<std::int32_t>(Next() % 9);
    ws.cpu_ave_time = static_cast<std::int32_t>(Next() % 9);
    ws.process_names = {"VLC"};
    ws.window_patterns = {"*"};
    is.max_margin = static_cast<std::int32_t>(Next() % 600);
    is.busy_display = Next() % 2;
    is.set_margin_on_wakeup = Next() % 2;
    machine.SetSettings(is);
    machine.Reset();
    countdown = 0;
    worker_busy = false;
    network = std::make_unique<ProcNetworkLoad>("", reader, [&] { return now; });
    observer = std::make_unique<Observer>(worker, sources, *network, cpu);
    observer->SetSettings(ws);
    if (observer->OpenReaders() != 0) Fail("open");
    ref_net.clear();
    ref_cpu.clear();
    prev_eth0 = net.eth0;
    prev_wlan0 = net.wlan0;
    have_prev = ws.network_traffic != 0;
    anchor_x = anchor_y = -1;
    ++restarts;
  };
  restart();

  Clicks clicks;
  TrayClickRecognizer recognizer(clicks);
  std::uint64_t dblclk_notes = 0;
  bool ref_double = false, ref_armed = false;

  for (g_tick = 1; g_tick <= ticks; ++g_tick) {
    now += std::chrono::seconds(1);
    ++platform.wall;
    // Holds by hand come and go: of the menu's lengths, without an end, or short ones.
    if (OneIn(20000)) {
      const std::int64_t lengths[] = {1800, 3600, 7200, 14400, 0, 5, 100};
      hold_length = lengths[Next() % 7];
      hold_start = platform.wall;
      held = true;
      machine.StartHold(hold_length);
      ++holds;
    } else if (held && OneIn(30000)) {
      machine.StopHold();
      held = false;
      countdown = static_cast<std::uint32_t>(is.max_margin);
    }
    // The world changes.
    if (OneIn(500)) net.eth0_rate = OneIn(2) ? 0 : Next() % 3'000'000;
    if (OneIn(500)) net.wlan0_rate = OneIn(2) ? 0 : Next() % 300'000;
    const std::uint64_t before = net.eth0;
    net.eth0 += net.eth0_rate;
    if (net.eth0 < before) ++wraps_seen;
    net.wlan0 = (net.wlan0 + net.wlan0_rate) & 0xFFFFFFFFu;
    if (OneIn(300)) cpu.sample = static_cast<std::uint32_t>(Next() % 101);
    if (OneIn(400)) sources.process = !sources.process;
    if (OneIn(700)) sources.window = !sources.window;
    if (OneIn(50)) {
      sources.cx += static_cast<std::int32_t>(Next() % 61) - 30;
      sources.cy += static_cast<std::int32_t>(Next() % 61) - 30;
    }

    // One pass, and what the reference says it must post.
    worker.posts.clear();
    observer->Pass();
    std::vector<Report> expected;
    bool load = false;
    if (ws.network_traffic != 0) {
      std::uint64_t sum = 0;
      if (have_prev) {
        for (auto [now_c, prev_c] : {std::pair{net.eth0, prev_eth0}, {net.wlan0, prev_wlan0}}) {
          const auto d = static_cast<std::int64_t>(now_c - prev_c);
          if (d > 0) sum += static_cast<std::uint64_t>(d);
        }
      }
      prev_eth0 = net.eth0;
      prev_wlan0 = net.wlan0;
      have_prev = true;
      if (SlowAverage(ref_net, sum, ws.network_ave_time) > ws.network_traffic) {
        expected.emplace_back(SET_BUSY | SET_MARGIN, KIND_NETWORK);
        load = true;
      }
    }
    if (ws.cpu_usage != 0) {
      const std::uint64_t avg = SlowAverage(ref_cpu, cpu.sample, ws.cpu_ave_time);
      if (!load && avg > ws.cpu_usage) {
        expected.emplace_back(SET_BUSY | SET_MARGIN, KIND_CPU);
        load = true;
      }
    }
    if (!load) {
      if (ws.mouse_cap != 0) {
        if (anchor_x == -1 && anchor_y == -1) {
          anchor_x = sources.cx;
          anchor_y = sources.cy;
        } else if (std::llabs(std::int64_t{sources.cx} - anchor_x) > 20 ||
                   std::llabs(std::int64_t{sources.cy} - anchor_y) > 20) {
          expected.emplace_back(SET_MARGIN, KIND_MOUSE);
          anchor_x = sources.cx;
          anchor_y = sources.cy;
        }
      }
      if (sources.process) {
        expected.emplace_back(SET_BUSY, KIND_PROCESS);
      } else if (sources.window) {
        expected.emplace_back(SET_BUSY, KIND_WINDOW);
      } else {
        expected.emplace_back(SET_IDLE, 0);
      }
    }
    Check(worker.posts == expected, "the pass posted other reports than the reference");

    // The reports reach the state machine, then the tick.
    for (const Report& r : worker.posts) {
      machine.OnActivityEvent(r.first, r.second);
      if (r.first & SET_BUSY)
        worker_busy = true;
      else if (r.first & SET_IDLE)
        worker_busy = false;
      if (r.first & SET_MARGIN) countdown = static_cast<std::uint32_t>(is.max_margin);
      ++reports;
    }
    platform.requests = 0;
    if (held && hold_length != 0 && platform.wall - hold_start >= hold_length) {
      held = false;  // its time is up: the margin follows
      countdown = static_cast<std::uint32_t>(is.max_margin);
    }
    const bool busy = worker_busy || held;
    const InhibitState effective = busy ? STATE_BUSY : countdown != 0 ? STATE_MARGIN : STATE_IDLE;
    if (countdown != 0) --countdown;
    machine.OnTick();
    Check(machine.displayed_state() == effective, "displayed state");
    Check(platform.shown == effective, "icon state");
    Check(machine.margin_countdown() == countdown, "countdown");
    Check(machine.margin_countdown() <= static_cast<std::uint32_t>(is.max_margin),
          "countdown above MaxMargin");
    const bool awake = effective != STATE_IDLE;
    Check(((platform.requests & kEsSystemRequired) != 0) == awake, "system request");
    Check(((platform.requests & kEsDisplayRequired) != 0) == (awake && is.busy_display != 0),
          "display request");
    Check((machine.QuerySuspendAnswer() != 0) == busy, "suspend answer");
    Check(machine.holding() == held, "hold");

    // Now and then: suspend and resume, or settings confirmed (both restart the worker).
    if (OneIn(100000)) {
      restart();
      platform.wall += static_cast<std::int64_t>(Next() % 20000);  // asleep for up to 5.5 hours
      restart();
      machine.OnResume();
      if (held && hold_length != 0 && platform.wall - hold_start >= hold_length) {
        held = false;
        countdown = static_cast<std::uint32_t>(is.max_margin);
        ++holds_over_in_sleep;
      }
      if (is.set_margin_on_wakeup != 0) countdown = static_cast<std::uint32_t>(is.max_margin);
      Check((machine.QuerySuspendAnswer() != 0) == held, "suspend answer after a resume");
    } else if (OneIn(200000)) {
      restart();
    }

    // Clicks on the icon, against a reference of which click each sequence is.
    if (OneIn(20)) {
      const std::uint32_t notes[] = {kWmLButtonDown, kWmLButtonUp, kWmLButtonDblClk, kWmRButtonUp};
      const std::uint32_t note = notes[Next() % 4];
      clicks.posted.clear();
      std::vector<std::uint32_t> want;
      recognizer.OnNotify(kTrayIconId, note);
      switch (note) {
        case kWmLButtonDown:
          ref_double = false;
          ref_armed = true;
          break;
        case kWmLButtonUp:
          if (ref_double) want.push_back(kWmLButtonDblClk);
          break;
        case kWmLButtonDblClk:
          ++dblclk_notes;
          ref_double = true;
          ref_armed = false;
          break;
        default:
          want.push_back(kWmRButtonUp);
          break;
      }
      if (ref_armed && OneIn(3)) {  // the double-click time runs out on the armed timer
        recognizer.OnTimer(kClickTimerId);
        want.push_back(kWmLButtonUp);
        ref_armed = false;
      }
      Check(clicks.posted == want && clicks.armed == ref_armed, "click recognition");
    }
  }
  std::printf("%" PRIu64 " ticks (%.1f years of seconds), %" PRIu64 " reports, %" PRIu64
              " worker restarts, %" PRIu64 " 64-bit counter wraps, %" PRIu64
              " double-click notifications, %" PRIu64 " holds by hand (%" PRIu64
              " over during a sleep): every invariant held\n",
              ticks, static_cast<double>(ticks) / (365.25 * 86400), reports, restarts, wraps_seen,
              dblclk_notes, holds, holds_over_in_sleep);
  return 0;
}

}  // namespace
}  // namespace dozerin

int main(int argc, char** argv) {
  const std::uint64_t ticks = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000'000u;
  const auto start = std::chrono::steady_clock::now();
  const int rc = dozerin::Run(ticks);
  std::printf("%.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return rc;
}
