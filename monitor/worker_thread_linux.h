// A worker thread on Linux, with a control block of its own (run flag, wake-up, where its reports
// go), so that a worker given up after a stop time-out can never run again beside its successor.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace dozerin {

// A report as it crosses to the main thread: plain data in a slot that both threads reuse, so
// that nothing one thread allocates is freed by the other.
struct WorkerReport {
  static constexpr std::size_t kWhyBytes = 256;  // longer reasons are cut between characters
  std::uint32_t requests = 0;
  std::uint32_t kinds = 0;
  std::size_t why_size = 0;
  char why[kWhyBytes];
  std::string_view Why() const { return {why, why_size}; }
};

constexpr std::size_t kReportSlots = 16;
using WorkerReports = std::array<WorkerReport, kReportSlots>;

struct LinuxWorkerControl {
  using Error = std::function<void(int string_id)>;

  LinuxWorkerControl();
  ~LinuxWorkerControl();
  LinuxWorkerControl(const LinuxWorkerControl&) = delete;
  LinuxWorkerControl& operator=(const LinuxWorkerControl&) = delete;

  std::atomic<int> run{1};
  std::atomic<int> abandoned{0};
  Error error;  // called on the worker's thread; must hand over to the main thread itself

  // Queues a report for the main thread and makes reports_fd() readable, unless the worker has
  // been given up. When the main thread has let all the slots fill, the oldest report goes.
  void Post(std::uint32_t requests, std::uint32_t kinds, std::string_view why);
  // On the main thread: the reports queued since the last call, oldest first, into *out.
  std::size_t TakeReports(WorkerReports* out);
  // An eventfd, readable while reports wait; -1 when it could not be made.
  int reports_fd() const { return reports_fd_; }

  // Hands over to the main thread unless the worker has been given up; the check and the
  // hand-over are one step against the stop that gives it up, after which its receiver may go.
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
  int reports_fd_ = -1;
  WorkerReports reports_;  // a ring: count_ reports from first_, under mutex
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

class LinuxWorkerThread {
 public:
  using Body = std::function<void(LinuxWorkerControl& control)>;

  LinuxWorkerThread() = default;
  LinuxWorkerThread(LinuxWorkerThread&&) = default;
  LinuxWorkerThread& operator=(LinuxWorkerThread&&) = default;
  ~LinuxWorkerThread();

  // Runs body on a new thread at the lowest priority. An exception that escapes body is reported
  // through error (string id 1120 for out of memory, 1121 otherwise) and the worker ends. Empty
  // when the thread or its report queue could not be made.
  static LinuxWorkerThread Start(LinuxWorkerControl::Error error, Body body);

  explicit operator bool() const { return static_cast<bool>(control_); }
  void Wake() const {
    if (control_) control_->Wake();
  }
  int reports_fd() const { return control_ ? control_->reports_fd() : -1; }
  std::size_t TakeReports(WorkerReports* out) const {
    return control_ ? control_->TakeReports(out) : 0;
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
