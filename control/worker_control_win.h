// What the main window and the worker share, one instance for the whole run: the run flag, the
// wake-up event and the window the worker reports to.
#pragma once

#include <windows.h>

#include <atomic>

#include "app/framework_win.h"

namespace dozerin {

struct WorkerControl {
  std::atomic<LONG> run{0};
  win::UniqueHandle wake_event;  // auto-reset, not signalled at first, unnamed
  std::atomic<HWND> target{nullptr};
};

// Made when the program is loaded, before start-up.
WorkerControl& SharedWorkerControl();
// The number of the registered "TaskbarCreated" message.
UINT TaskbarCreatedMessage();

}  // namespace dozerin
