// The Linux worker's process list, on a recorded /proc tree (which name stands for a process,
// which processes a pass reads again), and its thread's stop.
#include "monitor/watch_sources_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <future>
#include <set>
#include <string>

#include "monitor/worker_thread_linux.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> Names(ProcProcesses& p) {
  std::set<std::string> names;
  EXPECT_TRUE(p.ForEachProcessName([&](std::string_view n) {
    names.emplace(n);
    return false;
  }));
  return names;
}

TEST(ProcProcesses, ExeThenCommandLineThenStatAndSettledOnesNotReadAgain) {
  testing::ScratchDir root;
  const std::string proc = root.path() + "/proc";
  mkdir(proc.c_str(), 0700);
  const struct {
    const char* pid;
    const char* exe;      // link target, or null
    const char* cmdline;  // NUL-separated arguments, or null
    const char* stat;
  } processes[] = {
      {"10", "/usr/bin/vlc", nullptr, "10 (vlc) S 1"},
      {"11", "/opt/tool (deleted)", nullptr, "11 (tool) S 1"},
      {"12", nullptr, "/usr/lib/firefox/firefox\0-new-tab", "12 (Web Content) S 1"},
      {"13", nullptr, nullptr, "13 (kworker/0:1) I 2"},
      {"14", nullptr, nullptr, "14 (a) (b)) S 1"},
  };
  for (const auto& p : processes) {
    const std::string dir = proc + "/" + p.pid;
    mkdir(dir.c_str(), 0700);
    if (p.exe != nullptr) {
      ASSERT_EQ(symlink(p.exe, (dir + "/exe").c_str()), 0);
    }
    if (p.cmdline != nullptr) Write(dir + "/cmdline", std::string(p.cmdline, 34));
    Write(dir + "/stat", p.stat);
  }
  mkdir((proc + "/self").c_str(), 0700);  // not a process number
  ProcProcesses source(root.path());
  EXPECT_EQ(Names(source),
            (std::set<std::string>{"vlc", "tool", "firefox", "kworker/0:1", "a) (b)"}));
  EXPECT_EQ(source.cached(), 5u);

  // Known processes are not read again once they are no longer young; an ended one is forgotten.
  for (std::uint64_t pass = 0; pass < ProcProcesses::kYoungPasses; ++pass) Names(source);
  Write(proc + "/13/stat", "13 (renamed) I 2");
  unlink((proc + "/12/cmdline").c_str());
  unlink((proc + "/12/stat").c_str());
  rmdir((proc + "/12").c_str());
  EXPECT_EQ(Names(source), (std::set<std::string>{"vlc", "tool", "kworker/0:1", "a) (b)"}));
  EXPECT_EQ(source.cached(), 4u);

  EXPECT_FALSE(ProcProcesses(root.path() + "/missing").ForEachProcessName([](std::string_view) {
    return false;
  }));
}

// A launcher that `exec`s the watched program in its pid, and a watched program that ends and is
// left unreaped (its stat says "Z"), each seen at the pass after.
TEST(ProcProcesses, ExecAndZombiesSeenAtTheNextPass) {
  testing::ScratchDir root;
  const std::string dir = root.path() + "/proc/20";
  mkdir((root.path() + "/proc").c_str(), 0700);
  mkdir(dir.c_str(), 0700);
  const int old = ProcProcesses::kYoungPasses + 3;
  // A settled process that is not watched is seen at the listing that checks its stat.
  const int listing = ProcProcesses::kListingPasses;
  const struct {
    int passes;  // before the change
    const char *before, *after, *stat_after;
    bool watched_after;
    int within;  // passes after the change
  } cases[] = {
      {2, "sh", "vlc", "20 (vlc) S 1", true, 1},
      {old, "vlc", "sh", "20 (sh) S 1", false, 1},
      {old, "vlc", "", "20 (vlc) Z 1", false, 1},
      {old, "sh", "vlc", "20 (vlc) S 1", true, listing},
      // The pid given to a new process: its start time tells.
      {old, "sh", "vlc", "20 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 999", true, listing}};
  for (const auto& c : cases) {
    Write(dir + "/cmdline", c.before);
    Write(dir + "/stat", "20 (x) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 42");
    ProcProcesses source(root.path());
    for (int i = 0; i < c.passes; ++i) WatchedProcessRunning(source, {"VLC"});
    Write(dir + "/cmdline", c.after);
    Write(dir + "/stat", c.stat_after);
    int passes = 1;
    while (WatchedProcessRunning(source, {"VLC"}) != c.watched_after && passes < c.within) {
      ++passes;
    }
    EXPECT_EQ(WatchedProcessRunning(source, {"VLC"}), c.watched_after) << c.before << c.after;
  }
}

// Between listings: the pids /proc/loadavg says were handed out are looked into; young and matched
// names are read again, an old one before it counts; a listing a hit left unread is read again.
TEST(ProcProcesses, BetweenListingsThePidsHandedOutAreLookedInto) {
  testing::ScratchDir root;
  const std::string proc = root.path() + "/proc";
  mkdir(proc.c_str(), 0700);
  ASSERT_EQ(symlink(std::to_string(getpid()).c_str(), (proc + "/self").c_str()), 0);
  const auto start = [&](const char* pid, const char* name, const char* tasks) {
    mkdir((proc + "/" + pid).c_str(), 0700);
    Write(proc + "/" + pid + "/cmdline", name);
    if (tasks != nullptr) Write(proc + "/loadavg", std::string("0.00 0.01 0.05 1/") + tasks);
  };
  start("10", "vlc", "2 10");
  start("11", "obs", "2 11");
  ProcProcesses source(root.path());
  EXPECT_TRUE(WatchedProcessRunning(source, {"VLC", "OBS"}));
  EXPECT_EQ(source.cached(), 1u);  // the other one is not looked into after the hit
  EXPECT_EQ(Names(source), (std::set<std::string>{"vlc", "obs"}));
  Write(proc + "/10/cmdline", "mpv");  // exec while young
  EXPECT_EQ(Names(source), (std::set<std::string>{"mpv", "obs"}));
  start("12", "HandBrake", nullptr);
  EXPECT_FALSE(WatchedProcessRunning(source, {"HANDBRAKE"}));  // no pid was handed out
  start("12", "HandBrake", "3 12");
  EXPECT_TRUE(WatchedProcessRunning(source, {"HANDBRAKE"}));
  for (std::uint64_t pass = 0; pass < ProcProcesses::kYoungPasses; ++pass) Names(source);
  unlink((proc + "/11/cmdline").c_str());
  rmdir((proc + "/11").c_str());
  EXPECT_FALSE(WatchedProcessRunning(source, {"OBS"}));

  // A /proc/loadavg whose last pid stays behind the processes that the listing meets is let go.
  start("200", "vlc", nullptr);
  std::uint64_t passes = 1;
  while (!WatchedProcessRunning(source, {"VLC"}) && passes <= ProcProcesses::kListingPasses) {
    ++passes;
  }
  EXPECT_LE(passes, ProcProcesses::kListingPasses);
  start("300", "kodi", nullptr);
  EXPECT_TRUE(WatchedProcessRunning(source, {"KODI"}));
}

// A worker given up by a stop: once the stop has returned, nothing more reaches its receiver.
TEST(LinuxWorkerThread, AStopThatGivesUpWaitsForAMessageUnderWay) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  LinuxWorkerThread worker = LinuxWorkerThread::Start(
      [&](int) {
        entered.set_value();
        released.wait();
      },
      [](LinuxWorkerControl& control) { control.ShowError(1); });
  entered.get_future().wait();
  auto stop = std::async(std::launch::async, [&] { return worker.Stop(10); });
  EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  release.set_value();
  stop.get();
}

// Reports wait in the queue in order; a main thread that fell behind loses the oldest, and a
// long reason is cut before the character that would not fit. A self-paced worker that is never
// woken goes on by itself.
TEST(LinuxWorkerThread, QueuesItsReportsAndGoesOnByItselfOnceSelfPaced) {
  const std::string long_why = std::string(WorkerReport::kWhyBytes - 1, 'a') + "\u00e9b";
  std::promise<void> posted, third;
  std::atomic<int> passes{0};
  LinuxWorkerThread worker =
      LinuxWorkerThread::Start([](int) {},
                               [&](LinuxWorkerControl& control) {
                                 for (std::uint32_t i = 0; i < kReportSlots + 2; ++i)
                                   control.Post(1, i, "x");
                                 control.Post(2, 99, long_why);
                                 posted.set_value();
                                 for (; control.run.load() != 0; control.WaitForWakeUp()) {
                                   if (++passes == 3) third.set_value();
                                 }
                               });
  posted.get_future().wait();
  WorkerReports taken;
  ASSERT_EQ(worker.TakeReports(&taken), kReportSlots);
  EXPECT_EQ(taken[0].kinds, 3u);
  EXPECT_EQ(taken[kReportSlots - 2].kinds, kReportSlots + 1);
  EXPECT_EQ(taken[kReportSlots - 1].Why(), long_why.substr(0, WorkerReport::kWhyBytes - 1));
  EXPECT_EQ(worker.TakeReports(&taken), 0u);
  worker.SetSelfPaced(true);
  EXPECT_EQ(third.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  worker.Stop(10000);
}

}  // namespace
}  // namespace dozerin
