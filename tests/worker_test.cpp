#include "monitor/worker.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "control/vocabulary.h"
#include "monitor/load_average.h"
#include "settings/settings_store.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

using Report = std::pair<std::uint32_t, std::uint32_t>;
using Reports = std::vector<Report>;

const Report kIdle{SET_IDLE, 0};
const Report kMouse{SET_MARGIN, KIND_MOUSE};
const Report kNetwork{SET_BUSY | SET_MARGIN, KIND_NETWORK};
const Report kCpu{SET_BUSY | SET_MARGIN, KIND_CPU};
const Report kProcess{SET_BUSY, KIND_PROCESS};
const Report kWindow{SET_BUSY, KIND_WINDOW};

class FakeWorkerPlatform : public WorkerPlatform {
 public:
  void Post(std::uint32_t requests, std::uint32_t kinds) override {
    posts.emplace_back(requests, kinds);
    if (on_post) on_post();
  }
  bool Running() const override { return running; }
  void WaitForWakeUp() override {
    ++waits;
    if (on_wait) on_wait();
  }
  void ShowError(int string_id) override { errors.push_back(string_id); }
  void Explain(std::string_view why) override { reasons.emplace_back(why); }

  Reports posts;
  std::vector<std::string> reasons;
  std::vector<int> errors;
  bool running = true;
  int waits = 0;
  std::function<void()> on_post;
  std::function<void()> on_wait;
};

class FakeSources : public ActivitySources {
 public:
  bool ReadCursor(std::int32_t* x, std::int32_t* y) override {
    ++cursor_reads;
    if (!cursor_ok) return false;
    *x = cx;
    *y = cy;
    return true;
  }
  bool WatchedProcessRunning(const std::vector<std::string>& names, std::string* matched) override {
    ++process_checks;
    seen_names = names;
    if (process_running) *matched = "vlc";
    return process_running;
  }
  bool WatchedWindowExists(const std::vector<std::string>&, std::size_t* which) override {
    ++window_checks;
    if (window_exists) *which = 1;
    return window_exists;
  }
  std::int32_t cx = 100, cy = 100;
  bool cursor_ok = true;
  bool process_running = false;
  bool window_exists = false;
  int cursor_reads = 0, process_checks = 0, window_checks = 0;
  std::vector<std::string> seen_names;
};

class FakeProbe : public LoadProbe {
 public:
  bool Open() override {
    ++opens;
    return open_ok;
  }
  std::optional<std::uint64_t> Sample() override {
    ++samples_taken;
    return sample;
  }
  bool open_ok = true;
  std::optional<std::uint64_t> sample;
  int opens = 0, samples_taken = 0;
};

class ObserverTest : public ::testing::Test {
 protected:
  Reports Pass() {
    platform_.posts.clear();
    observer_.Pass();
    return platform_.posts;
  }
  FakeWorkerPlatform platform_;
  FakeSources sources_;
  FakeProbe network_, processor_;
  Observer observer_{platform_, sources_, network_, processor_};
};

TEST_F(ObserverTest, EverythingOffPostsOnlyTheIdleReport) {
  EXPECT_EQ(Pass(), Reports{kIdle});
  EXPECT_EQ(Pass(), Reports{kIdle});
  EXPECT_EQ(sources_.cursor_reads + sources_.process_checks + sources_.window_checks, 0);
  EXPECT_EQ(network_.samples_taken + processor_.samples_taken, 0);
}

TEST_F(ObserverTest, MouseAnchorRule) {
  WorkerSettings s;
  s.mouse_cap = 1;
  observer_.SetSettings(s);
  struct Step {
    std::int32_t x, y;
    Reports expected;
  };
  const Step steps[] = {
      {100, 100, {kIdle}},          // the first pass only sets the anchor
      {120, 80, {kIdle}},           // 20 pixels along both axes: not yet
      {121, 100, {kMouse, kIdle}},  // 21: reported, mouse first; the anchor moves here
      {100, 100, {kMouse, kIdle}},  // 21 back
      {100, 79, {kMouse, kIdle}},  {100, 79, {kIdle}},
  };
  for (const Step& step : steps) {
    sources_.cx = step.x;
    sources_.cy = step.y;
    EXPECT_EQ(Pass(), step.expected) << step.x << "," << step.y;
  }
}

TEST_F(ObserverTest, CreepingCursorIsReportedInTheFifthPass) {
  WorkerSettings s;
  s.mouse_cap = 1;
  observer_.SetSettings(s);
  Pass();  // anchor at 100
  for (int pass = 1; pass <= 5; ++pass) {
    sources_.cx += 5;
    EXPECT_EQ(Pass(), pass < 5 ? Reports{kIdle} : (Reports{kMouse, kIdle})) << pass;
  }
}

TEST_F(ObserverTest, FailedCursorReadPostsNothingAndKeepsTheAnchor) {
  WorkerSettings s;
  s.mouse_cap = 1;
  observer_.SetSettings(s);
  Pass();
  sources_.cx = 500;
  sources_.cursor_ok = false;
  EXPECT_EQ(Pass(), Reports{kIdle});
  sources_.cursor_ok = true;
  EXPECT_EQ(Pass(), (Reports{kMouse, kIdle}));
}

TEST_F(ObserverTest, LoadReportEndsThePass) {
  WorkerSettings s;
  s.network_traffic = 1000;
  s.network_ave_time = 0;
  s.mouse_cap = 1;
  s.process_names = {"X.EXE"};
  s.window_patterns = {"*"};
  observer_.SetSettings(s);
  sources_.process_running = true;
  network_.sample = 1001;
  EXPECT_EQ(Pass(), Reports{kNetwork});
  sources_.cx += 100;  // moved while loaded: not looked at
  EXPECT_EQ(Pass(), Reports{kNetwork});
  EXPECT_EQ(sources_.cursor_reads + sources_.process_checks + sources_.window_checks, 0);
  network_.sample = 1000;  // equal to the threshold does not count
  EXPECT_EQ(Pass(), Reports{kProcess});
  EXPECT_EQ(sources_.cursor_reads, 1);  // first look at the cursor: sets the anchor only
  EXPECT_EQ(sources_.window_checks, 0);
}

TEST_F(ObserverTest, NetworkBeforeProcessorBeforeProcessBeforeWindow) {
  WorkerSettings s;
  s.network_traffic = 10;
  s.cpu_usage = 50;
  s.network_ave_time = 0;
  s.cpu_ave_time = 0;
  s.process_names = {"A.EXE"};
  s.window_patterns = {"B", "*YOUTUBE*"};
  s.window_patterns_as_written = {"b", "*YouTube*"};
  observer_.SetSettings(s);
  sources_.process_running = sources_.window_exists = true;
  network_.sample = 11;
  processor_.sample = 51;
  EXPECT_EQ(Pass(), Reports{kNetwork});
  EXPECT_EQ(processor_.samples_taken, 1);  // both samples are taken in every pass
  network_.sample = 0;
  EXPECT_EQ(Pass(), Reports{kCpu});
  processor_.sample = 50;
  EXPECT_EQ(Pass(), Reports{kProcess});
  sources_.process_running = false;
  EXPECT_EQ(Pass(), Reports{kWindow});
  sources_.window_exists = false;
  EXPECT_EQ(Pass(), Reports{kIdle});
  // Each busy report comes with its reason in words, the pattern as it was written.
  EXPECT_EQ(platform_.reasons, (std::vector<std::string>{"network 11 B/s", "processor 51 %",
                                                         "process vlc", "window *YouTube*"}));
}

TEST_F(ObserverTest, FailedReadingKeepsTheLastAverage) {
  WorkerSettings s;
  s.network_traffic = 10;
  s.network_ave_time = 0;
  observer_.SetSettings(s);
  network_.sample = 50;
  EXPECT_EQ(Pass(), Reports{kNetwork});
  network_.sample = std::nullopt;
  EXPECT_EQ(Pass(), Reports{kNetwork});
}

TEST_F(ObserverTest, OpensNetworkFirstAndStopsAtTheFirstFailure) {
  WorkerSettings s;
  s.network_traffic = 1;
  s.cpu_usage = 1;
  observer_.SetSettings(s);
  network_.open_ok = false;
  EXPECT_EQ(observer_.OpenReaders(), IDS_PERF_INIT_NETWORK);
  EXPECT_EQ(processor_.opens, 0);
  network_.open_ok = true;
  processor_.open_ok = false;
  EXPECT_EQ(observer_.OpenReaders(), IDS_PERF_INIT_PROCESSOR);
  s.network_traffic = s.cpu_usage = 0;
  observer_.SetSettings(s);
  network_.opens = processor_.opens = 0;
  EXPECT_EQ(observer_.OpenReaders(), 0);
  EXPECT_EQ(network_.opens + processor_.opens, 0);
}

TEST(PushAndAverage, DividesByTheWindowLengthPlusOne) {
  struct Row {
    std::int32_t n;
    std::vector<std::uint64_t> samples, averages;
  };
  const Row rows[] = {
      {4, {100, 100, 100, 100, 100, 0}, {20, 40, 60, 80, 100, 80}},
      {0, {7, 9}, {7, 9}},
      {1, {3, 4}, {1, 3}},
      {-1, {7, 9}, {7, 9}},  // a negative length counts as 0
      {-2147483647 - 1, {5}, {5}},
      {2, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, {0x55555555, 0xAAAAAAAA, 0xFFFFFFFF}},
      {1, {10000000000, 10000000000}, {5000000000, 10000000000}},       // 10 GB/s
      {1, {UINT64_MAX, UINT64_MAX}, {UINT64_MAX / 2, UINT64_MAX / 2}},  // the sum saturates
  };
  for (const Row& r : rows) {
    std::deque<std::uint64_t> window;
    std::vector<std::uint64_t> averages;
    for (std::uint64_t s : r.samples) averages.push_back(PushAndAverage(s, window, r.n));
    EXPECT_EQ(averages, r.averages) << "n=" << r.n;
    EXPECT_LE(window.size(), static_cast<std::size_t>(r.n < 0 ? 1 : r.n + 1));
  }
}

class RunWorkerTest : public ::testing::Test {
 protected:
  void Ini(const std::string& text) { testing::WriteFileBytes(store_.path(), text); }
  void Run() { RunWorker(store_, platform_, sources_, network_, processor_); }
  testing::ScratchDir dir_;
  SettingsStore store_{dir_.File("dozerin.ini")};
  FakeWorkerPlatform platform_;
  FakeSources sources_;
  FakeProbe network_, processor_;
};

TEST_F(RunWorkerTest, FirstPassRunsAtOnceAndASleepingWorkerEndsWithoutAnotherReport) {
  Ini("[GENERAL]\nMouseCap=1\n[PROCESS]\n0=notepad.exe\n1=-1\n2=y.exe\n");
  platform_.on_wait = [&] { platform_.running = false; };
  Run();
  EXPECT_EQ(platform_.posts, Reports{kIdle});
  EXPECT_EQ(platform_.waits, 1);
  EXPECT_EQ(sources_.seen_names, std::vector<std::string>{"NOTEPAD.EXE"});
}

TEST_F(RunWorkerTest, AStopDuringAPassLetsThatPassPostFirst) {
  Ini("[GENERAL]\nMouseCap=1\n");
  int passes = 0;
  platform_.on_wait = [&] {
    if (++passes == 2) sources_.cx += 50;  // the third pass sees a move
  };
  platform_.on_post = [&] {
    if (platform_.posts.size() == 3)
      platform_.running = false;  // stop asked after the mouse report
  };
  Run();
  EXPECT_EQ(platform_.posts, (Reports{kIdle, kIdle, kMouse, kIdle}));
  EXPECT_EQ(platform_.waits, 2);
}

TEST_F(RunWorkerTest, StoppedBeforeTheFirstPassPostsNothing) {
  platform_.running = false;
  Run();
  EXPECT_TRUE(platform_.posts.empty());
}

TEST_F(RunWorkerTest, ReaderThatCannotBeOpenedEndsTheWorkerWithItsMessage) {
  Ini("[GENERAL]\nNetworkTraffic=1024\nCPUUsage=50\n[PROCESS]\n0=a.exe\n");
  network_.open_ok = false;
  Run();
  EXPECT_EQ(platform_.errors, std::vector<int>{IDS_PERF_INIT_NETWORK});
  EXPECT_EQ(processor_.opens, 0);
  EXPECT_TRUE(platform_.posts.empty());
  EXPECT_EQ(platform_.waits, 0);
}

TEST_F(RunWorkerTest, ADiskReaderThatCannotBeOpenedSwitchesOnlyTheDiskCheckOff) {
  Ini("[GENERAL]\nDiskTraffic=1\nMouseCap=1\n");
  FakeProbe disk;
  disk.open_ok = false;
  platform_.on_wait = [&] { platform_.running = false; };
  RunWorker(store_, platform_, sources_, network_, processor_, &disk);
  EXPECT_EQ(platform_.errors, std::vector<int>{IDS_PERF_INIT_DISK});
  EXPECT_EQ(platform_.posts, Reports{kIdle});  // the pass ran
  EXPECT_EQ(disk.samples_taken, 0);
}

}  // namespace
}  // namespace dozerin
