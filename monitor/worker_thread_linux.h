// A worker thread on Linux, with a control block of its own (run flag, wake-up, where its reports
// go), so that a worker given up after a stop time-out can never run again beside its successor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dozerin {

struct LinuxWorkerControl {
  using Report =
      std::function<void(std::uint32_t requests, std::uint32_t kinds, const std::string& why)>;
  using Error = std::function<void(int string_id)>;

  std::atomic<int> run{1};
  std::atomic<int> abandoned{0};
  Report report;  // called on the worker's thread; must hand over to the main thread itself
  Error error;

  // Each hands over to the main thread unless the worker has been given up; the check and the
  // hand-over are one step against the stop that gives it up, after which its receiver may go.
  void Post(std::uint32_t requests, std::uint32_t kinds, const std::string& why) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (abandoned.load() == 0) report(requests, kinds, why);
  }
  void ShowError(int string_id) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (abandoned.load() == 0) error(string_id);
  }
  void Wake();
  // Sleeps until woken; a wake-up that came during a pass is kept (at most one). A self-paced
  // worker also goes on by itself a tick's period after it began to wait.
  void WaitForWakeUp();
  // While the main thread has nothing to do at its ticks it stops them: the worker then keeps
  // time itself, and a report that would change nothing is not sent.
  void SetSelfPaced(bool on);
  bool self_paced() const { return self_paced_.load(); }

  std::mutex mutex;
  std::condition_variable changed;
  bool woken = false;
  bool ended = false;

 private:
  std::atomic<bool> self_paced_{false};
};

class LinuxWorkerThread {
 public:
  using Body = std::function<void(LinuxWorkerControl& control)>;

  LinuxWorkerThread() = default;
  LinuxWorkerThread(LinuxWorkerThread&&) = default;
  LinuxWorkerThread& operator=(LinuxWorkerThread&&) = default;
  ~LinuxWorkerThread();

  // Runs body on a new thread at the lowest priority. An exception that escapes body is reported
  // through error (string id 1120 for out of memory, 1121 otherwise) and the worker ends.
  static LinuxWorkerThread Start(LinuxWorkerControl::Report report, LinuxWorkerControl::Error error,
                                 Body body);

  explicit operator bool() const { return static_cast<bool>(control_); }
  void Wake() const {
    if (control_) control_->Wake();
  }
  void SetSelfPaced(bool on) const {
    if (control_ && control_->self_paced() != on) control_->SetSelfPaced(on);
  }
  // Clears the run flag, wakes the worker and waits for it at most timeout_ms. A worker still
  // running then is given up: its reports are dropped and it ends on its own. Empty afterwards.
  bool Stop(int timeout_ms);

 private:
  std::thread thread_;
  std::shared_ptr<LinuxWorkerControl> control_;
};

}  // namespace dozerin
