#include "monitor/work_thread_win.h"

#include <windows.h>

#include <memory>

#include "control/vocabulary.h"
#include "control/worker_control_win.h"
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
    PostMessageA(control_.target.load(), WM_ACTIVITY_EVENT, requests, kinds);
  }
  bool Running() const override { return control_.run.load() != 0; }
  void WaitForWakeUp() override {
    WaitForSingleObject(control_.wake_event.get(), INFINITE);
    ResetEvent(control_.wake_event.get());
  }
  void ShowError(int string_id) override {
    win::ShowMessage(nullptr, win::LoadResString(static_cast<UINT>(string_id)),
                     MB_OK | MB_ICONEXCLAMATION);
  }

 private:
  WorkerControl& control_;
};

class Win32Sources : public ActivitySources {
 public:
  bool ReadCursor(std::int32_t* x, std::int32_t* y) override {
    POINT p;
    if (!GetCursorPos(&p)) return false;
    *x = p.x;
    *y = p.y;
    return true;
  }
  bool WatchedProcessRunning(const std::vector<std::string>& names) override {
    return dozerin::WatchedProcessRunning(processes_, names);
  }
  bool WatchedWindowExists(const std::vector<std::string>& patterns) override {
    return dozerin::WatchedWindowExists(windows_, patterns);
  }

 private:
  ToolhelpProcesses processes_;
  DesktopWindows windows_;
};

// Everything the thread owns; deleted by the thread when it ends.
struct WorkThreadObject {
  explicit WorkThreadObject(const SettingsStore& s) : store(s), platform(SharedWorkerControl()) {}
  SettingsStore store;  // a copy: the worker never touches the main thread's objects
  Win32WorkerPlatform platform;
  Win32Sources sources;
  RegistryPerfData perf_data;
  NetworkLoad network{perf_data};
  ProcessorLoad processor{perf_data};
};

DWORD WINAPI WorkThread(LPVOID parameter) {
  const std::unique_ptr<WorkThreadObject> self(static_cast<WorkThreadObject*>(parameter));
  RunWorker(self->store, self->platform, self->sources, self->network, self->processor);
  return 0;
}

}  // namespace

win::UniqueHandle StartWorkThreadObject(const SettingsStore& store) {
  auto object = std::make_unique<WorkThreadObject>(store);
  // Made suspended so that it never runs above idle priority, then let go at once.
  win::UniqueHandle thread(
      CreateThread(nullptr, 0, WorkThread, object.get(), CREATE_SUSPENDED, nullptr));
  if (!thread) return {};
  object.release();  // the thread owns it now
  SetThreadPriority(thread.get(), THREAD_PRIORITY_IDLE);
  ResumeThread(thread.get());
  return thread;
}

}  // namespace dozerin
