// A worker thread on Windows and the control block it shares with the window that started it: its
// own run flag, its own wake-up event and the window it reports to. Each worker has a block of its
// own, so a worker that was given up after a stop time-out can never be set running again by a
// later start, nor take the wake-ups meant for its successor.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/framework_win.h"

namespace dozerin {

struct WorkerControl {
  std::atomic<LONG> run{1};        // 0: end at the next check
  std::atomic<LONG> abandoned{0};  // 1: the window has given up on this worker; drop its reports
  win::UniqueHandle wake_event;    // auto-reset, not signalled at first, unnamed
  HWND target = nullptr;           // where the reports go

  // Posts a message to the target unless the worker has been given up. The check and the post
  // are one step against the stop that gives it up.
  void Post(UINT message, WPARAM wparam, LPARAM lparam);
  // Posts a report (requests, kinds) that carries the reason given since the last one.
  void PostReport(UINT message, std::uint32_t requests, std::uint32_t kinds);
  // Sleeps until the wake-up event is signalled, then resets it.
  void WaitForWakeUp() const;
  // The reason of the next report, in words ("process vlc"); the worker's thread only.
  void SetReason(std::string_view why) { reason_ = why; }

  std::mutex post_mutex;

 private:
  std::string reason_;
};

// A report's reason, as it was when the worker posted it (empty for a report without one, such
// as one sent from outside), and its requests without the reason's mark.
std::string ReportReason(WPARAM wparam);
std::uint32_t ReportRequests(WPARAM wparam);

class WorkerThread {
 public:
  using Body = std::function<void(WorkerControl& control)>;

  WorkerThread() = default;
  WorkerThread(WorkerThread&&) = default;
  WorkerThread& operator=(WorkerThread&&) = default;
  ~WorkerThread();

  // Runs body on a new thread at idle priority. Empty when the thread could not be made. An
  // exception that escapes body is reported in a message box on the worker's thread, and the
  // worker ends.
  static WorkerThread Start(HWND target, Body body);

  explicit operator bool() const { return static_cast<bool>(thread_); }
  // Signals the wake-up event: the worker runs one more pass.
  void Wake() const;
  // Clears the run flag, wakes the worker and waits for its thread at most timeout_ms, handling
  // the messages other threads send to this one meanwhile. A worker still running then is given
  // up: its reports are dropped and it ends at its next look at its own run flag. The object is
  // empty afterwards. True when the thread ended in time.
  bool Stop(DWORD timeout_ms);

 private:
  win::UniqueHandle thread_;
  std::shared_ptr<WorkerControl> control_;
};

// Waits for handle at most timeout_ms while dispatching the messages sent to this thread, so that
// a thread that sends to this one meanwhile is not blocked. True when the handle was signalled.
bool WaitHandlingSentMessages(HANDLE handle, DWORD timeout_ms);

}  // namespace dozerin
