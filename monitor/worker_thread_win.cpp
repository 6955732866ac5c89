#include "monitor/worker_thread_win.h"

#include <new>

#include "control/vocabulary.h"

namespace dozerin {
namespace {

// What the thread owns: its share of the control block and its body. Deleted by the thread.
struct ThreadStart {
  std::shared_ptr<WorkerControl> control;
  WorkerThread::Body body;
};

DWORD WINAPI WorkerEntry(LPVOID parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  // Ends like a worker whose reader failed: the main window tells the user, nothing more is
  // reported.
  try {
    start->body(*start->control);
  } catch (const std::bad_alloc&) {
    start->control->Post(WM_WORKER_ERROR, IDS_OUT_OF_MEMORY, 0);
  } catch (...) {
    start->control->Post(WM_WORKER_ERROR, IDS_UNEXPECTED_ERROR, 0);
  }
  return 0;
}

// Reasons travel beside their reports: a report's wParam carries, in its top byte, the slot that
// holds its reason. Slots are reused in turn; a report would have to wait behind 254 others for
// its reason to be overwritten.
constexpr unsigned kReasonShift = 24;
constexpr unsigned kReasonSlots = 255;
struct ReasonSlots {
  std::mutex mutex;
  std::string text[kReasonSlots + 1];  // slot 0: no reason
  unsigned last = 0;
};

ReasonSlots& Reasons() {
  static ReasonSlots slots;
  return slots;
}

}  // namespace

void WorkerControl::Post(UINT message, WPARAM wparam, LPARAM lparam) {
  const std::lock_guard<std::mutex> lock(post_mutex);
  if (abandoned.load() == 0) PostMessageA(target, message, wparam, lparam);
}

void WorkerControl::PostReport(UINT message, std::uint32_t requests, std::uint32_t kinds) {
  unsigned slot = 0;
  if (!reason_.empty()) {
    ReasonSlots& reasons = Reasons();
    const std::lock_guard<std::mutex> lock(reasons.mutex);
    slot = reasons.last = reasons.last % kReasonSlots + 1;
    reasons.text[slot] = std::move(reason_);
  }
  reason_.clear();
  Post(message, static_cast<WPARAM>(requests) | (static_cast<WPARAM>(slot) << kReasonShift),
       static_cast<LPARAM>(kinds));
}

std::string ReportReason(WPARAM wparam) {
  const unsigned slot = static_cast<unsigned>(wparam >> kReasonShift) & 0xFF;
  if (slot == 0 || slot > kReasonSlots) return {};
  ReasonSlots& reasons = Reasons();
  const std::lock_guard<std::mutex> lock(reasons.mutex);
  return reasons.text[slot];
}

std::uint32_t ReportRequests(WPARAM wparam) {
  return static_cast<std::uint32_t>(wparam) & ((1u << kReasonShift) - 1);
}

void WorkerControl::WaitForWakeUp() const {
  WaitForSingleObject(wake_event.get(), INFINITE);
  ResetEvent(wake_event.get());
}

bool WaitHandlingSentMessages(HANDLE handle, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return false;  // timed out, or the wait failed
    // Dispatches the sent messages only; posted ones stay queued for the message loop.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

WorkerThread::~WorkerThread() = default;

WorkerThread WorkerThread::Start(HWND target, Body body) {
  auto control = std::make_shared<WorkerControl>();
  control->target = target;
  control->wake_event.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!control->wake_event) return {};
  auto start = std::make_unique<ThreadStart>(ThreadStart{control, std::move(body)});
  // Made suspended so that it never runs above idle priority, then let go at once.
  win::UniqueHandle thread(
      CreateThread(nullptr, 0, WorkerEntry, start.get(), CREATE_SUSPENDED, nullptr));
  if (!thread) return {};
  start.release();  // the thread owns it now
  SetThreadPriority(thread.get(), THREAD_PRIORITY_IDLE);
  ResumeThread(thread.get());
  WorkerThread worker;
  worker.thread_ = std::move(thread);
  worker.control_ = std::move(control);
  return worker;
}

void WorkerThread::Wake() const {
  if (control_) SetEvent(control_->wake_event.get());
}

bool WorkerThread::Stop(DWORD timeout_ms) {
  if (!thread_) return true;
  control_->run = 0;
  SetEvent(control_->wake_event.get());
  const bool ended = WaitHandlingSentMessages(thread_.get(), timeout_ms);
  if (!ended) {
    const std::lock_guard<std::mutex> lock(control_->post_mutex);
    control_->abandoned = 1;
  }
  thread_.Reset();
  control_.reset();  // a given-up worker keeps the block alive through its own share
  return ended;
}

}  // namespace dozerin
