// The Win32 layer under the program's threads and windows: a worker given up after its stop
// time-out, titles read without messages, and exceptions that must not unwind through the system.
#include "monitor/worker_thread_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <future>
#include <new>
#include <stdexcept>
#include <string>

#include "app/framework_win.h"
#include "control/vocabulary.h"
#include "monitor/watch_sources_win.h"

namespace dozerin {
namespace {

constexpr UINT kReport = WM_APP + 7;
constexpr char kTitle[] = "Dozerin unit tests";

// A window of the test's thread to which workers post; posted reports wait in this thread's queue.
struct Target {
  Target()
      : hwnd(CreateWindowExA(0, "STATIC", "target", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                             nullptr)) {}
  ~Target() { DestroyWindow(hwnd); }
  // Takes the queued reports; counts[tag] for each report's wParam tag.
  void Drain(int* a, int* b) {
    MSG msg;
    while (PeekMessageA(&msg, hwnd, kReport, kReport, PM_REMOVE)) {
      (msg.wParam == 'A' ? *a : *b) += 1;
    }
  }
  HWND hwnd;
};

// A UTF-8 text of this source in the ANSI code page, as the program's string table gives it.
std::string Acp(const char* utf8) {
  wchar_t wide[256];
  char out[512];
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256);
  WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, nullptr);
  return out;
}

// Closes the next message box of the test, from another thread; its text, or "<none>".
std::future<std::string> CloseNextBox() {
  return std::async(std::launch::async, [] {
    for (int i = 0; i < 500; ++i) {
      if (HWND box = FindWindowA("#32770", kTitle)) {
        char text[512] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return std::string(text);
      }
      Sleep(20);
    }
    return std::string("<none>");
  });
}

TEST(WorkerThread, AGivenUpWorkerNeverReportsAgainAndEndsByItself) {
  win::SetAppTitle(kTitle);
  Target target;
  ASSERT_NE(target.hwnd, nullptr);
  win::UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win::UniqueHandle a_ended(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win::UniqueHandle b_reported(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  // One report per pass. Worker A's first pass is held (the fault seam) past the stop time-out.
  auto body = [&](WPARAM tag, bool hold) {
    return [&, tag, hold](WorkerControl& control) {
      for (;;) {
        if (hold) WaitForSingleObject(release.get(), INFINITE);
        control.Post(kReport, tag, 0);
        if (tag == 'B') SetEvent(b_reported.get());
        if (control.run == 0) break;
        control.WaitForWakeUp();
        if (control.run == 0) break;
      }
      if (tag == 'A') SetEvent(a_ended.get());
    };
  };
  WorkerThread a = WorkerThread::Start(target.hwnd, body('A', true));
  ASSERT_TRUE(a);
  EXPECT_FALSE(a.Stop(200));
  EXPECT_FALSE(a);

  WorkerThread b = WorkerThread::Start(target.hwnd, body('B', false));
  int from_a = 0, from_b = 0;
  // Each wake-up follows the report of the one before: an auto-reset event merges two that meet.
  for (int wakes = 0; wakes < 3; ++wakes) {
    ASSERT_EQ(WaitForSingleObject(b_reported.get(), 5000), WAIT_OBJECT_0);
    b.Wake();
  }
  ASSERT_EQ(WaitForSingleObject(b_reported.get(), 5000), WAIT_OBJECT_0);
  SetEvent(release.get());  // A finishes its pass: it must not report, and must end
  EXPECT_EQ(WaitForSingleObject(a_ended.get(), 5000), WAIT_OBJECT_0) << "the old worker runs on";
  b.Wake();
  ASSERT_EQ(WaitForSingleObject(b_reported.get(), 5000), WAIT_OBJECT_0);
  target.Drain(&from_a, &from_b);
  EXPECT_EQ(from_a, 0);
  EXPECT_EQ(from_b, 5) << "the new worker lost wake-ups";
  EXPECT_TRUE(b.Stop(5000));
}

TEST(WorkerThread, AReportCarriesItsOwnReasonPastTheNextWorker) {
  Target target;
  for (const char* why : {"process vlc", ""}) {
    EXPECT_TRUE(WorkerThread::Start(target.hwnd, [why](WorkerControl& control) {
                  control.SetReason(why);
                  control.PostReport(kReport, SET_BUSY, 1);
                }).Stop(5000));
  }
  MSG m[2];
  for (MSG& msg : m) ASSERT_TRUE(PeekMessageA(&msg, target.hwnd, kReport, kReport, PM_REMOVE));
  EXPECT_EQ(ReportReason(m[0].wParam), "process vlc");
  EXPECT_EQ(ReportReason(m[1].wParam), "");
  EXPECT_EQ(ReportRequests(m[0].wParam), SET_BUSY);
}

TEST(WorkerThread, StopWaitServesMessagesSentToTheWaitingThread) {
  // A worker that sends to the thread that stops it (as a title read by WM_GETTEXT would) still
  // ends within the wait.
  Target target;
  WorkerThread w = WorkerThread::Start(target.hwnd, [&](WorkerControl& control) {
    control.WaitForWakeUp();
    SendMessageA(target.hwnd, WM_NULL, 0, 0);
  });
  EXPECT_TRUE(w.Stop(5000));
}

TEST(WindowTitles, AreReadWithoutSendingMessages) {
  // The window's thread (this one) does not answer messages while the walk runs elsewhere; a
  // read through WM_GETTEXT would hang. Japanese text comes back in the ANSI code page.
  const char title_utf8[] = "\xe3\x83\xa1\xe3\x83\xa2\xe5\xb8\xb3 walk test";  // メモ帳
  wchar_t wide[64];
  MultiByteToWideChar(CP_UTF8, 0, title_utf8, -1, wide, 64);
  HWND w = CreateWindowExW(0, L"STATIC", wide, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                           nullptr);
  ASSERT_NE(w, nullptr);
  char expected[64];
  WideCharToMultiByte(CP_ACP, 0, wide, -1, expected, sizeof expected, nullptr, nullptr);
  auto walk = std::async(std::launch::async, [] { return DesktopWindows().TopLevelWindows(); });
  ASSERT_EQ(walk.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the walk waits on this thread";
  bool found = false;
  for (const TopLevelWindow& t : walk.get()) found = found || t.title == expected;
  EXPECT_TRUE(found);
  DestroyWindow(w);
}

// A window whose handlers throw.
class Thrower : public win::Window {
 public:
  static Thrower* Make() {
    auto* w = new Thrower;  // deletes itself with its window
    return w->CreateHidden(0, "thrower") ? w : nullptr;
  }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_APP) throw std::bad_alloc();
    if (message == WM_APP + 1) throw std::runtime_error("broken");
    if (message == WM_APP + 2) return 42;
    return Window::WindowProc(message, wparam, lparam);
  }
};

TEST(Exceptions, AreReportedAtTheWindowProcedureAndTheWorkerBoundary) {
  win::SetAppTitle(kTitle);
  Thrower* w = Thrower::Make();
  ASSERT_NE(w, nullptr);
  const std::string out_of_memory = Acp("メモリが不足しています。");
  const std::string unexpected = Acp("予期しないエラーが発生しました。");
  struct Case {
    UINT message;
    const std::string& text;
  } cases[] = {{WM_APP, out_of_memory}, {WM_APP + 1, unexpected}};
  for (const Case& c : cases) {
    auto box = CloseNextBox();
    EXPECT_EQ(SendMessageA(w->hwnd(), c.message, 0, 0), 0);
    EXPECT_EQ(box.get(), c.text);
  }
  EXPECT_EQ(SendMessageA(w->hwnd(), WM_APP + 2, 0, 0), 42) << "the window goes on";
  // While a box is shown, a handler that throws again ends without a second box.
  auto nested = std::async(std::launch::async, [&] {
    for (int i = 0; i < 500 && FindWindowA("#32770", kTitle) == nullptr; ++i) Sleep(20);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(w->hwnd(), WM_APP + 1, 0, 0, SMTO_NORMAL, 5000, &ignored);
    std::size_t boxes = 0;
    for (HWND b = nullptr; (b = FindWindowExA(nullptr, b, "#32770", kTitle)) != nullptr; ++boxes) {
      PostMessageA(b, WM_COMMAND, IDOK, 0);
    }
    return boxes;
  });
  SendMessageA(w->hwnd(), WM_APP + 1, 0, 0);
  EXPECT_EQ(nested.get(), 1u);
  DestroyWindow(w->hwnd());

  // On the worker's thread: no box there (a stop would wait for it), the main window is told,
  // and the worker ends.
  HWND target =
      CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  WorkerThread worker = WorkerThread::Start(target, [](WorkerControl&) { throw std::bad_alloc(); });
  EXPECT_TRUE(worker.Stop(5000));
  MSG msg = {};
  EXPECT_TRUE(PeekMessageA(&msg, target, WM_WORKER_ERROR, WM_WORKER_ERROR, PM_REMOVE));
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>(IDS_OUT_OF_MEMORY));
  EXPECT_EQ(FindWindowA("#32770", kTitle), nullptr);
  DestroyWindow(target);
}

}  // namespace
}  // namespace dozerin
