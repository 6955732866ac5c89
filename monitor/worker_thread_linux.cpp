#include "monitor/worker_thread_linux.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <new>

#include "control/vocabulary.h"

namespace dozerin {

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

LinuxWorkerThread LinuxWorkerThread::Start(LinuxWorkerControl::Report report,
                                           LinuxWorkerControl::Error error, Body body) {
  auto control = std::make_shared<LinuxWorkerControl>();
  control->report = std::move(report);
  control->error = std::move(error);
  LinuxWorkerThread worker;
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
