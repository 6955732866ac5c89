#include "monitor/activity_worker_win.h"

#include <windows.h>

#include <memory>

#include "control/vocabulary.h"
#include "monitor/load_sampling.h"
#include "monitor/watch_sources_win.h"
#include "monitor/worker.h"
#include "perf/perf_registry_win.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

class Win32WorkerPlatform : public WorkerPlatform {
 public:
  explicit Win32WorkerPlatform(WorkerControl& control) : control_(control) {}
  void Post(std::uint32_t requests, std::uint32_t kinds) override {
    control_.PostReport(WM_ACTIVITY_EVENT, requests, kinds);
  }
  bool Running() const override { return control_.run.load() != 0; }
  void WaitForWakeUp() override { control_.WaitForWakeUp(); }
  void Explain(std::string_view why) override { control_.SetReason(why); }
  void ShowError(int string_id) override {
    // From the background: the box comes to the front instead of waiting unseen behind others.
    win::ShowMessage(nullptr, win::LoadResString(static_cast<UINT>(string_id)),
                     MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
  }

 private:
  WorkerControl& control_;
};

class Win32Sources : public WatchSources {
 public:
  Win32Sources() : WatchSources(processes_, windows_) {}
  bool ReadCursor(std::int32_t* x, std::int32_t* y) override {
    POINT p;
    if (!GetCursorPos(&p)) return false;
    *x = p.x;
    *y = p.y;
    return true;
  }

 private:
  ToolhelpProcesses processes_;
  DesktopWindows windows_;
};

// Everything the worker owns; made on its thread and gone when it ends.
struct WorkThreadObject {
  WorkThreadObject(const SettingsStore& s, WorkerControl& control) : store(s), platform(control) {}
  SettingsStore store;  // a copy: the worker never touches the main thread's objects
  Win32WorkerPlatform platform;
  Win32Sources sources;
  RegistryPerfData perf_data;
  NetworkLoad network{perf_data};
  ProcessorLoad processor{perf_data};
  DiskLoad disk{perf_data};
};

}  // namespace

WorkerThread StartWorkThreadObject(HWND target, const SettingsStore& store) {
  return WorkerThread::Start(target, [store](WorkerControl& control) {
    const auto self = std::make_unique<WorkThreadObject>(store, control);
    RunWorker(self->store, self->platform, self->sources, self->network, self->processor,
              &self->disk);
  });
}

}  // namespace dozerin
