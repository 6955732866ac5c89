#include "monitor/activity_worker_linux.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "control/vocabulary.h"
#include "monitor/proc_loads.h"
#include "monitor/watch_sources_gnome.h"
#include "monitor/watch_sources_linux.h"
#include "monitor/watch_sources_wayland.h"
#include "monitor/worker.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

class LinuxWorkerPlatform : public WorkerPlatform {
 public:
  explicit LinuxWorkerPlatform(LinuxWorkerControl& control) : control_(control) {}
  void Post(std::uint32_t requests, std::uint32_t kinds) override {
    // Idle is what the main thread already has while it lets the worker keep time.
    if (requests != SET_IDLE || kinds != 0 || !control_.self_paced()) {
      control_.Post(requests, kinds, why_);
    }
    why_.clear();
  }
  void Explain(std::string_view why) override { why_ = why; }
  bool Running() const override { return control_.run.load() != 0; }
  void WaitForWakeUp() override { control_.WaitForWakeUp(); }
  void ShowError(int string_id) override { control_.ShowError(string_id); }

 private:
  LinuxWorkerControl& control_;
  std::string why_;  // of the next report
};

// The windows of both displays of a Wayland session: the compositor's own, and XWayland's.
class SessionWindows : public WindowSource {
 public:
  std::vector<TopLevelWindow> TopLevelWindows() override {
    std::vector<TopLevelWindow> windows = x11.TopLevelWindows();
    for (WindowSource* source : std::array<WindowSource*, 2>{&wayland, &gnome}) {
      std::vector<TopLevelWindow> more = source->TopLevelWindows();
      windows.insert(windows.end(), std::make_move_iterator(more.begin()),
                     std::make_move_iterator(more.end()));
    }
    return windows;
  }
  X11Desktop x11;
  WaylandDesktop wayland;
  GnomeShellWindows gnome;
};

class LinuxSources : public WatchSources {
 public:
  explicit LinuxSources(const std::string& root)
      : WatchSources(processes_, desktop_), root_(root), processes_(root) {}
  bool ReadCursor(std::int32_t* x, std::int32_t* y) override {
    return desktop_.x11.ReadPointer(x, y);
  }
  std::optional<Connection> RemoteConnection(const std::vector<std::uint16_t>& ports) override {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
      const std::optional<std::string> text = ReadWholeFile(root_ + table);
      if (!text) continue;
      for (const TcpConnection& c : ParseProcNetTcp(*text)) {
        if (c.established && std::find(ports.begin(), ports.end(), c.local_port) != ports.end()) {
          return Connection{c.local_port, c.peer};
        }
      }
    }
    return std::nullopt;
  }
  // The compositor sees all input, XWayland's included.
  std::optional<bool> UserWasActive() override {
    const std::optional<bool> active = desktop_.wayland.UserWasActive();
    return active ? active : desktop_.gnome.UserWasActive();
  }

 private:
  std::string root_;
  ProcProcesses processes_;
  SessionWindows desktop_;
};

std::string ProcRoot() {
  const char* root = std::getenv("DOZERIN_PROC_ROOT");
  return root != nullptr ? root : "";
}

// Everything the worker owns; made on its thread and gone when it ends.
struct WorkThreadObject {
  WorkThreadObject(const SettingsStore& s, LinuxWorkerControl& control)
      : store(s),
        platform(control),
        sources(ProcRoot()),
        network(
            ProcRoot(), [](const std::string& p) { return ReadWholeFile(p); },
            [] { return std::chrono::steady_clock::now(); }),
        processor(ProcRoot(), [](const std::string& p) { return ReadWholeFile(p); }),
        disk(
            ProcRoot(), [](const std::string& p) { return ReadWholeFile(p); },
            [] { return std::chrono::steady_clock::now(); }) {}
  SettingsStore store;
  LinuxWorkerPlatform platform;
  LinuxSources sources;
  ProcNetworkLoad network;
  ProcProcessorLoad processor;
  ProcDiskLoad disk;
};

}  // namespace

LinuxWorkerThread StartWorkThreadObject(LinuxWorkerControl::Error error,
                                        const SettingsStore& store) {
  return LinuxWorkerThread::Start(std::move(error), [store](LinuxWorkerControl& control) {
    const auto self = std::make_unique<WorkThreadObject>(store, control);
    RunWorker(self->store, self->platform, self->sources, self->network, self->processor,
              &self->disk);
  });
}

}  // namespace dozerin
