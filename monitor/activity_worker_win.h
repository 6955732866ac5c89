// The activity worker on Windows: the system's sources behind the worker's pass, run on a worker
// thread (worker_thread_win.h).
#pragma once

#include <windows.h>

#include "monitor/worker_thread_win.h"

namespace dozerin {

class SettingsStore;

// Starts WorkThread at idle priority, reporting to target. It reads its settings from a copy of
// store. Empty when the thread could not be started.
WorkerThread StartWorkThreadObject(HWND target, const SettingsStore& store);

}  // namespace dozerin
