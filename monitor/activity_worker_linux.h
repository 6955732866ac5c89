// The activity worker on Linux: /proc and the display behind the worker's pass, run on a worker
// thread (worker_thread_linux.h).
#pragma once

#include "monitor/worker_thread_linux.h"

namespace dozerin {

class SettingsStore;

// Starts the worker, which reads its settings from a copy of store, queues its reports on its
// control block and reports failures through error (called on its own thread). /proc and /sys
// are read under $DOZERIN_PROC_ROOT when that is set: a seam for the tests, which steer recorded
// counters there.
LinuxWorkerThread StartWorkThreadObject(LinuxWorkerControl::Error error,
                                        const SettingsStore& store);

}  // namespace dozerin
