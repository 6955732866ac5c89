#include "monitor/worker_thread_linux.h"

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

#include "control/vocabulary.h"

namespace dozerin {

LinuxWorkerControl::LinuxWorkerControl() : reports_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

LinuxWorkerControl::~LinuxWorkerControl() {
  if (reports_fd_ >= 0) close(reports_fd_);
}

void LinuxWorkerControl::Post(std::uint32_t requests, std::uint32_t kinds, std::string_view why) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (abandoned.load() != 0) return;
    if (count_ == reports_.size()) {
      first_ = (first_ + 1) % reports_.size();
      --count_;
    }
    WorkerReport& slot = reports_[(first_ + count_) % reports_.size()];
    ++count_;
    slot.requests = requests;
    slot.kinds = kinds;
    std::size_t size = std::min(why.size(), WorkerReport::kWhyBytes);
    // Not inside a character: back to the first byte of the one that would be cut.
    if (size < why.size()) {
      while (size > 0 && (static_cast<unsigned char>(why[size]) & 0xC0) == 0x80) --size;
    }
    std::memcpy(slot.why, why.data(), size);
    slot.why_size = size;
  }
  const std::uint64_t one = 1;
  // The counter only overflows past 2^64 - 1 reports unread; a full one is readable anyway.
  [[maybe_unused]] const ssize_t written = write(reports_fd_, &one, sizeof one);
}

std::size_t LinuxWorkerControl::TakeReports(WorkerReports* out) {
  std::uint64_t ignored = 0;
  [[maybe_unused]] const ssize_t read_size = read(reports_fd_, &ignored, sizeof ignored);
  const std::lock_guard<std::mutex> lock(mutex);
  const std::size_t taken = count_;
  for (std::size_t i = 0; i < taken; ++i) (*out)[i] = reports_[(first_ + i) % reports_.size()];
  first_ = count_ = 0;
  return taken;
}

void LinuxWorkerControl::Wake() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    woken = true;
  }
  changed.notify_all();
}

void LinuxWorkerControl::WaitForWakeUp() {
  std::unique_lock<std::mutex> lock(mutex);
  const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTickPeriodMs);
  while (!woken) {
    if (!self_paced_.load()) {
      changed.wait(lock);
    } else if (changed.wait_until(lock, due) == std::cv_status::timeout) {
      break;
    }
  }
  woken = false;
}

void LinuxWorkerControl::SetSelfPaced(bool on) {
  {
    // Under the lock, so that a worker about to wait without end sees it.
    const std::lock_guard<std::mutex> lock(mutex);
    self_paced_ = on;
  }
  changed.notify_all();
}

LinuxWorkerThread::~LinuxWorkerThread() {
  Stop(10000);
}

LinuxWorkerThread LinuxWorkerThread::Start(LinuxWorkerControl::Error error, Body body) {
  auto control = std::make_shared<LinuxWorkerControl>();
  LinuxWorkerThread worker;
  if (control->reports_fd() < 0) return worker;
  control->error = std::move(error);
  try {
    worker.thread_ = std::thread([control, body = std::move(body)] {
      // The worker only observes: it yields to everything else (nice 19 for this thread alone).
      setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
      try {
        body(*control);
      } catch (const std::bad_alloc&) {
        control->ShowError(1120);
      } catch (...) {
        control->ShowError(1121);
      }
      {
        const std::lock_guard<std::mutex> lock(control->mutex);
        control->ended = true;
      }
      control->changed.notify_all();
    });
  } catch (const std::system_error&) {
    return worker;  // no thread to be had
  }
  worker.control_ = std::move(control);
  return worker;
}

bool LinuxWorkerThread::Stop(int timeout_ms) {
  if (!control_) return true;
  control_->run = 0;
  control_->Wake();
  bool ended = false;
  {
    std::unique_lock<std::mutex> lock(control_->mutex);
    ended = control_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                       [this] { return control_->ended; });
    if (!ended) control_->abandoned = 1;
  }
  if (ended) {
    thread_.join();
  } else {
    thread_.detach();  // it holds its own share of the control block
  }
  control_.reset();
  return ended;
}

}  // namespace dozerin
