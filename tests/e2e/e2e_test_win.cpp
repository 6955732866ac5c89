// End-to-end tests of dozerin.exe under Wine and Xvfb: the real program in a scratch folder,
// driven through its window messages, the mouse and its tray menu, checked by its log, its exit
// code and the screen.
#include <gtest/gtest.h>
#include <winsock2.h>
// winsock2.h before windows.h, which would bring the old winsock in.
#include <windows.h>
// windows.h first: shellapi.h relies on its types.
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "control/vocabulary.h"
#include "tests/e2e/driver_win.h"

namespace dozerin::e2e {
namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

constexpr Hue kCyan = Hue::kCyan;
constexpr Hue kYellow = Hue::kYellow;
constexpr Hue kRed = Hue::kRed;

LRESULT Send(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(w, message, wparam, lparam, SMTO_NORMAL, 5000, &result);
  return static_cast<LRESULT>(result);
}

bool AwayModeCapable() {
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  return GetVersionExA(&v) && v.dwMajorVersion >= 6;
}

// dozerin.exe started in a scratch folder of its own, and its main window.
struct Started {
  explicit Started(const std::string& ini, const std::string& arguments = {})
      : inst(ini), p(inst.exe(), arguments), w(p.WaitForWindow()) {}
  Installation inst;
  Program p;
  HWND w;
};

// Whether the program refuses a suspend query (it does while busy).
bool Refused(HWND w) {
  return static_cast<DWORD>(Send(w, WM_POWERBROADCAST, kPbtQuerySuspend, 0)) == kBroadcastQueryDeny;
}

// Stops the program's worker with a suspend notification, so that from now on only the test's own
// events move the state. A report the worker posted just before it stopped is let through first.
void StopWorker(HWND w) {
  Send(w, WM_POWERBROADCAST, kPbtSuspend, 0);
  std::this_thread::sleep_for(500ms);
}

// Closes the program through its menu command; returns the exit code.
DWORD Close(Program& p, HWND w) {
  PostMessageA(w, WM_COMMAND, ID_APP_EXIT, 0);
  return p.WaitForExit();
}

TEST(Startup, HiddenWindowWithTheTitleAndACleanExit) {
  Installation inst("[GENERAL]\r\nLog=1\r\n");
  Program p(inst.exe());
  ASSERT_TRUE(p.started());
  HWND w = p.WaitForWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  ASSERT_TRUE(WaitForLogLine(inst.log(), "Start WorkThread!!"));
  EXPECT_EQ(Close(p, w), 0u);
  EXPECT_EQ(EventLines(inst.log()), (Lines{"Start WorkThread!!", "Finish WorkThread!!"}));
}

TEST(Startup, NoLogFileWithoutLogOn) {
  Started s("[GENERAL]\r\nMaxMargin=3\r\n");
  ASSERT_NE(s.w, nullptr);
  Send(s.w, WM_ACTIVITY_EVENT, SET_BUSY | SET_MARGIN, KIND_CPU);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(Close(s.p, s.w), 0u);
  EXPECT_EQ(GetFileAttributesA(s.inst.log().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Startup, SecondStartEndsAtOnceAndWritesNothing) {
  Installation inst("[GENERAL]\r\nLog=1\r\n");
  Program first(inst.exe());
  HWND w = first.WaitForWindow();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(WaitForLogLine(inst.log(), "Start WorkThread!!"));
  Program second(inst.exe());
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(FindWindowOf(second.pid(), "Dozerin"), nullptr);
  EXPECT_EQ(EventLines(inst.log()), Lines{"Start WorkThread!!"});
  EXPECT_EQ(Close(first, w), 0u);
}

TEST(Startup, AStartThatOnlyAsksDoesNotKeepTheNextInstanceOut) {
  Installation inst("[GENERAL]\r\nLog=1\r\n");
  // An instance that is ending: its mutex still there, its window gone already.
  HANDLE ending = CreateMutexA(nullptr, TRUE, "dozerin");
  ASSERT_NE(ending, nullptr);
  Program asker(inst.exe(), "--keep-awake=1h");
  HWND box = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (box = FindWindowOf(asker.pid(), "Dozerin", "#32770")); }, 20s))
      << "the hold that nobody took was not reported";
  CloseHandle(ending);
  // The asker's message is still open; a normal start becomes the instance all the same.
  Program next(inst.exe());
  HWND w = next.WaitForWindow();
  EXPECT_NE(w, nullptr) << "the normal start found the mutex taken";
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(asker.WaitForExit(), 1u);
  if (w != nullptr) {
    EXPECT_EQ(Close(next, w), 0u);
  }
}

TEST(Startup, RenamedCopyRunsBesideWithItsOwnFiles) {
  Installation inst("[GENERAL]\r\nLog=1\r\n");
  inst.AddCopy("other.exe", "[GENERAL]\r\nLog=1\r\n");
  Program a(inst.exe());
  Program b(inst.Path("other.exe"));
  HWND wa = a.WaitForWindow();
  HWND wb = b.WaitForWindow();
  ASSERT_NE(wa, nullptr);
  ASSERT_NE(wb, nullptr);
  EXPECT_NE(wa, wb);
  ASSERT_TRUE(WaitForLogLine(inst.Path("other.log"), "Start WorkThread!!"));
  EXPECT_EQ(Close(b, wb), 0u);
  EXPECT_TRUE(a.Running());
  EXPECT_EQ(EventLines(inst.Path("other.log")),
            (Lines{"Start WorkThread!!", "Finish WorkThread!!"}));
  EXPECT_EQ(EventLines(inst.log()), Lines{"Start WorkThread!!"});
  EXPECT_EQ(Close(a, wa), 0u);
}

TEST(Power, SuspendQueryIsRefusedOnlyWhileBusy) {
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=30\r\n");
  ASSERT_NE(s.w, nullptr);
  // Without a worker no idle report can come between the event and the query.
  StopWorker(s.w);
  EXPECT_FALSE(Refused(s.w));
  Send(s.w, WM_ACTIVITY_EVENT, SET_MARGIN, KIND_MOUSE);
  EXPECT_FALSE(Refused(s.w));  // a margin does not refuse
  Send(s.w, WM_ACTIVITY_EVENT, SET_BUSY, KIND_PROCESS);
  EXPECT_TRUE(Refused(s.w));
  Send(s.w, WM_ACTIVITY_EVENT, SET_IDLE, 0);
  EXPECT_FALSE(Refused(s.w));
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Power, SuspendStopsTheWorkerAndTwoResumesStartItOnce) {
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=2\r\nSetMarginOnWakeup=1\r\n");
  ASSERT_NE(s.w, nullptr);
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Start WorkThread!!"));
  Send(s.w, WM_POWERBROADCAST, kPbtSuspend, 0);
  Send(s.w, WM_POWERBROADCAST, kPbtResumeAutomatic, 0);
  Send(s.w, WM_POWERBROADCAST, kPbtResumeSuspend, 0);
  // Each notification starts a margin of its own.
  EXPECT_EQ(EventLines(s.inst.log()),
            (Lines{"Start WorkThread!!", "Finish WorkThread!!", "Start WorkThread!!",
                   "Set STATE_MARGIN", "Set STATE_MARGIN"}));
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Set ES_SYSTEM_REQUIRED"));
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Events, ActivityEventsAndTicksWriteTheirLinesInOrder) {
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=2\r\nBusyDisplay=1\r\n");
  ASSERT_NE(s.w, nullptr);
  StopWorker(s.w);
  Send(s.w, WM_ACTIVITY_EVENT, SET_BUSY | SET_MARGIN, KIND_NETWORK);
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Set ES_DISPLAY_REQUIRED"));
  Send(s.w, WM_ACTIVITY_EVENT, SET_IDLE, 0);
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Set ES_DISPLAY_REQUIRED", 2));
  std::this_thread::sleep_for(2500ms);  // the margin is over: nothing more is requested
  Lines expected = {"Start WorkThread!!", "Finish WorkThread!!", "Event KIND_NETWORK",
                    "Set STATE_BUSY", "Set STATE_MARGIN"};
  if (AwayModeCapable()) expected.push_back("Set Enable ES_AWAYMODE_REQUIRED|ES_CONTINUOUS");
  expected.insert(expected.end(), {"Set ES_SYSTEM_REQUIRED", "Set ES_DISPLAY_REQUIRED"});
  if (AwayModeCapable()) expected.push_back("Set ES_CONTINUOUS");
  expected.insert(expected.end(), {"Set ES_SYSTEM_REQUIRED", "Set ES_DISPLAY_REQUIRED"});
  EXPECT_EQ(LogLines(s.inst.log()), expected);
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Mouse, CursorMovedMoreThan20PixelsStartsAMargin) {
  SetCursorPos(300, 300);
  Started s("[GENERAL]\r\nLog=1\r\nMouseCap=1\r\nMaxMargin=3\r\n");
  ASSERT_NE(s.w, nullptr);
  std::this_thread::sleep_for(1500ms);  // the first passes set the anchor
  SetCursorPos(320, 280);               // 20 pixels: not yet
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(EventLines(s.inst.log()), Lines{"Start WorkThread!!"});
  SetCursorPos(321, 300);
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Set ES_SYSTEM_REQUIRED"));
  EXPECT_EQ(EventLines(s.inst.log()),
            (Lines{"Start WorkThread!!", "Event KIND_MOUSE", "Set STATE_MARGIN"}));
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

// Another writer holds the log, and an activity event makes the next entry fail: the program
// shows the file error. Returns the holding handle (the caller closes it) and the box's text.
HANDLE FailALogEntry(Started& s, HWND* box, std::string* text) {
  HANDLE other = CreateFileA(s.inst.log().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  PostMessageA(s.w, WM_ACTIVITY_EVENT, SET_BUSY, KIND_CPU);
  *box = nullptr;
  WaitUntil([&] { return (*box = FindWindowOf(s.p.pid(), "Dozerin", "#32770")) != nullptr; });
  char buffer[1024] = {};
  if (*box != nullptr) GetDlgItemTextA(*box, 0xFFFF, buffer, sizeof buffer);
  *text = buffer;
  return other;
}

TEST(Log, FailedWriteShowsTheFileErrorAndTheProgramGoesOn) {
  Started s("[GENERAL]\r\nLog=1\r\n");
  ASSERT_NE(s.w, nullptr);
  StopWorker(s.w);
  // Another writer holds the log: the next entry fails with a sharing violation.
  HWND box = nullptr;
  std::string text;
  HANDLE other = FailALogEntry(s, &box, &text);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(text, s.inst.log() + Acp(" へのアクセス中に共有違反が発生しました。"));
  std::this_thread::sleep_for(500ms);  // let it paint
  SaveScreenshot("log_sharing_violation");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return FindWindowOf(s.p.pid(), "Dozerin", "#32770") == nullptr; }));
  CloseHandle(other);
  // The handler ended early: the state did not change. The program runs on, icon and all.
  EXPECT_FALSE(Refused(s.w));
  EXPECT_TRUE(s.p.Running());
  EXPECT_GT(CountTrayPixels(kCyan), 3);
  // The next entry tries again.
  Send(s.w, WM_ACTIVITY_EVENT, SET_BUSY, KIND_CPU);
  EXPECT_TRUE(Refused(s.w));
  EXPECT_EQ(EventLines(s.inst.log()), (Lines{"Start WorkThread!!", "Finish WorkThread!!",
                                             "Event KIND_CPU", "Set STATE_BUSY"}));
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

// A close from outside (WM_CLOSE, or the session ending) while one of the program's modal loops
// runs ends it cleanly: worker stopped and logged, icon gone, exit code 0.
TEST(Close, FromOutsideWhileAModalLoopRuns) {
  enum Loop { kSheet, kMessageBox };
  const struct {
    Loop loop;
    UINT message;
  } cases[] = {{kSheet, WM_CLOSE}, {kMessageBox, WM_CLOSE}, {kSheet, WM_ENDSESSION}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loop == kSheet ? "sheet" : "message box");
    Started s("[GENERAL]\r\nLog=1\r\n");
    ASSERT_NE(s.w, nullptr);
    ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Start WorkThread!!"));
    HANDLE other = INVALID_HANDLE_VALUE;
    if (c.loop == kSheet) {
      PostMessageA(s.w, WM_COMMAND, ID_SETTINGS, 0);
    } else {  // a failed log write shows its message box
      other = CreateFileA(s.inst.log().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      PostMessageA(s.w, WM_ACTIVITY_EVENT, SET_BUSY, KIND_CPU);
    }
    ASSERT_TRUE(WaitUntil([&] { return FindWindowOf(s.p.pid(), "Dozerin", "#32770"); }));
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    if (c.message == WM_CLOSE) {
      PostMessageA(s.w, WM_CLOSE, 0, 0);
    } else {
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(s.w, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 15000, &ignored);
    }
    EXPECT_EQ(s.p.WaitForExit(), 0u);
    const Lines lines = EventLines(s.inst.log());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Finish WorkThread!!");
    EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kCyan) == 0; })) << "the icon stayed";
  }
}

// The helper's window title, as the program reads it, and the INI text that names the helper.
const char kHelperTitleUtf8[] = "Watch Me ウォッチ";

TEST(Watches, RunningWatchedProcessKeepsBusyUntilItEnds) {
  Started s("[GENERAL]\r\nLog=1\r\n[PROCESS]\r\n0=other.exe\r\n1=WatchMe.EXE\r\n");
  ASSERT_NE(s.w, nullptr);
  std::this_thread::sleep_for(1500ms);
  EXPECT_FALSE(Refused(s.w));
  {
    Program helper(BesideDriver("watchme.exe"));
    ASSERT_TRUE(helper.started());
    ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_PROCESS"));
    EXPECT_TRUE(WaitUntil([&] { return Refused(s.w); }));
  }  // the helper ends here
  EXPECT_TRUE(WaitUntil([&] { return !Refused(s.w); })) << "the state did not fall back";
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Watches, WindowWithAMatchingTitleKeepsBusyUntilItCloses) {
  Started s(Acp("[GENERAL]\r\nLog=1\r\n[WINDOW]\r\n0=nothing like it\r\n1=*me ウォッチ\r\n"));
  ASSERT_NE(s.w, nullptr);
  {
    Program helper(BesideDriver("watchme.exe"));
    HWND shown = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      return (shown = FindWindowOf(helper.pid(), Acp(kHelperTitleUtf8).c_str())) != nullptr;
    }));
    ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_WINDOW"));
    EXPECT_TRUE(WaitUntil([&] { return Refused(s.w); }));
    PostMessageA(shown, WM_CLOSE, 0, 0);
    EXPECT_EQ(helper.WaitForExit(), 0u);
  }
  EXPECT_TRUE(WaitUntil([&] { return !Refused(s.w); })) << "the state did not fall back";
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Watches, APatternForTheProgramsOwnTitleFindsItsHiddenWindow) {
  Started s("[GENERAL]\r\nLog=1\r\n[WINDOW]\r\n0=dozer?n\r\n");
  ASSERT_NE(s.w, nullptr);
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_WINDOW", 2));
  EXPECT_TRUE(Refused(s.w));
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Watches, WithBothPresentOnlyTheProcessIsReported) {
  Started s(
      Acp("[GENERAL]\r\nLog=1\r\n[PROCESS]\r\n0=watchme.exe\r\n"
          "[WINDOW]\r\n0=Watch Me ウォッチ\r\n"));
  ASSERT_NE(s.w, nullptr);
  Program helper(BesideDriver("watchme.exe"));
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_PROCESS", 3));
  for (const std::string& line : EventLines(s.inst.log())) EXPECT_NE(line, "Event KIND_WINDOW");
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

// Wine has no "Network Interface" or "Processor" counters: a reader cannot be opened there.
void ExpectReaderFailure(const char* ini, const char* message_utf8, const char* shot) {
  SetCursorPos(200, 200);
  Started s(ini);
  ASSERT_NE(s.w, nullptr);
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    return (box = FindWindowOf(s.p.pid(), "Dozerin", "#32770")) != nullptr;
  })) << "no message box";
  char text[1024] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  EXPECT_EQ(std::string(text), Acp(message_utf8));
  std::this_thread::sleep_for(500ms);  // let it paint
  SaveScreenshot(shot);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return FindWindowOf(s.p.pid(), "Dozerin", "#32770") == nullptr; }));
  // The worker has ended: no report follows, not even for the mouse or the window pattern "*".
  SetCursorPos(400, 400);
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(EventLines(s.inst.log()), Lines{"Start WorkThread!!"});
  EXPECT_FALSE(Refused(s.w));
  // Stopping waits for the worker that ended by itself; the program ends cleanly.
  EXPECT_EQ(Close(s.p, s.w), 0u);
  EXPECT_EQ(EventLines(s.inst.log()), (Lines{"Start WorkThread!!", "Finish WorkThread!!"}));
}

TEST(Load, NetworkReaderThatCannotBeOpenedEndsTheWorkerWithItsMessage) {
  ExpectReaderFailure(
      "[GENERAL]\r\nLog=1\r\nNetworkTraffic=1024\r\nCPUUsage=50\r\nMouseCap=1\r\n"
      "MaxMargin=5\r\n[WINDOW]\r\n0=*\r\n",
      "パフォーマンスモニタの初期化に失敗しました。(Network Interface)", "perf_network_failed");
}

TEST(Load, ProcessorReaderThatCannotBeOpenedEndsTheWorkerWithItsMessage) {
  ExpectReaderFailure(
      "[GENERAL]\r\nLog=1\r\nCPUUsage=50\r\nMouseCap=1\r\nMaxMargin=5\r\n"
      "[WINDOW]\r\n0=*\r\n",
      "パフォーマンスモニタの初期化に失敗しました。(Processor)", "perf_processor_failed");
}

// Wine has no "PhysicalDisk" counters either; only the disk check goes off.
TEST(Load, DiskReaderThatCannotBeOpenedSwitchesOnlyTheDiskCheckOff) {
  Started s("[GENERAL]\r\nLog=1\r\nDiskTraffic=1\r\nMaxMargin=5\r\n[WINDOW]\r\n0=*\r\n");
  ASSERT_NE(s.w, nullptr);
  auto box = [&] { return FindWindowOf(s.p.pid(), "Dozerin", "#32770"); };
  ASSERT_TRUE(WaitUntil([&] { return box() != nullptr; })) << "no message box";
  char text[1024] = {};
  GetDlgItemTextA(box(), 0xFFFF, text, sizeof text);
  EXPECT_EQ(std::string(text), Acp("パフォーマンスモニタの初期化に失敗しました。(PhysicalDisk)"));
  // The worker goes on while the box is open: the pattern "*" finds the program's own window.
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_WINDOW"));
  // A suspend does not wait for the box (the system gives it about 2 s).
  DWORD_PTR ignored = 0;
  ASSERT_NE(
      SendMessageTimeoutA(s.w, WM_POWERBROADCAST, kPbtSuspend, 0, SMTO_NORMAL, 5000, &ignored), 0)
      << "the suspend waited";
  PostMessageA(box(), WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return box() == nullptr; }));
  // The worker started again at the resume fails again, and says nothing more.
  const Lines before = LogLines(s.inst.log());
  const auto passes = std::count(before.begin(), before.end(), "Event KIND_WINDOW");
  Send(s.w, WM_POWERBROADCAST, kPbtResumeAutomatic, 0);
  ASSERT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_WINDOW", static_cast<int>(passes) + 1))
      << "no pass after the resume";
  EXPECT_EQ(box(), nullptr);
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

// Run with an English locale (the e2e_tests_english test): the boxes show the English copies.
TEST(English, MessageBoxesHaveTheirText) {
  {
    Started s("[GENERAL]\r\nLog=1\r\n");
    ASSERT_NE(s.w, nullptr);
    StopWorker(s.w);
    HWND box = nullptr;
    std::string text;
    HANDLE other = FailALogEntry(s, &box, &text);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text, "A sharing violation occurred while accessing " + s.inst.log() + ".");
    SaveScreenshot("english_log_sharing_violation");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    CloseHandle(other);
    EXPECT_EQ(Close(s.p, s.w), 0u);
  }
  ExpectReaderFailure("[GENERAL]\r\nLog=1\r\nCPUUsage=50\r\n",
                      "Error at initialize perfmon. (Processor)", "english_perf_processor_failed");
}

TEST(Tray, IconShowsEachStateAndTheMenuClosesTheProgram) {
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=600\r\n");
  ASSERT_NE(s.w, nullptr);
  StopWorker(s.w);
  const bool shown_tray_idle = WaitUntil([] { return CountTrayPixels(kCyan) > 3; });
  SaveScreenshot("tray_idle");
  ASSERT_TRUE(shown_tray_idle) << "no idle icon";

  Send(s.w, WM_ACTIVITY_EVENT, SET_MARGIN, KIND_MOUSE);
  const bool shown_tray_margin = WaitUntil([] { return CountTrayPixels(kYellow) > 3; });
  SaveScreenshot("tray_margin");
  ASSERT_TRUE(shown_tray_margin) << "no margin icon";
  EXPECT_EQ(CountTrayPixels(kCyan), 0);

  Send(s.w, WM_ACTIVITY_EVENT, SET_BUSY, KIND_WINDOW);
  const bool shown_tray_busy = WaitUntil([] { return CountTrayPixels(kRed) > 3; });
  SaveScreenshot("tray_busy");
  ASSERT_TRUE(shown_tray_busy) << "no busy icon";
  EXPECT_EQ(CountTrayPixels(kYellow), 0);

  // A right click on the icon opens the menu; its close item ends the program, which stops its
  // worker on the way out.
  Send(s.w, WM_POWERBROADCAST, kPbtResumeSuspend, 0);
  PostMessageA(s.w, WM_TRAY_NOTIFY, kTrayIconId, kWmRButtonUp);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    menu = FindWindowOf(s.p.pid(), nullptr, "#32768");
    return menu != nullptr && IsWindowVisible(menu);
  })) << "no menu";
  std::this_thread::sleep_for(300ms);
  SaveScreenshot("tray_menu");
  PostMessageA(menu, WM_KEYDOWN, 'X', 0);
  PostMessageA(menu, WM_CHAR, 'x', 0);
  EXPECT_EQ(s.p.WaitForExit(), 0u);
  EXPECT_EQ(EventLines(s.inst.log()).back(), "Finish WorkThread!!");
  // The icon is gone with the program.
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) == 0; }));
  SaveScreenshot("tray_after_exit");
}

// Opens the tray menu and its keep-awake submenu with the keyboard; returns the submenu's window.
HWND OpenKeepAwakeSubmenu(Started& s) {
  PostMessageA(s.w, WM_TRAY_NOTIFY, kTrayIconId, kWmRButtonUp);
  HWND menu = nullptr;
  if (!WaitUntil([&] { return (menu = FindWindowOf(s.p.pid(), nullptr, "#32768")) != nullptr; })) {
    return nullptr;
  }
  std::this_thread::sleep_for(300ms);
  PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageA(menu, WM_KEYDOWN, VK_RIGHT, 0);
  HWND submenu = nullptr;
  WaitUntil([&] {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32768", nullptr)) != nullptr;) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == s.p.pid() && w != menu && IsWindowVisible(w)) submenu = w;
    }
    return submenu != nullptr;
  });
  std::this_thread::sleep_for(300ms);
  return submenu;
}

void CloseMenus(HWND submenu) {
  for (int i = 0; i < 2; ++i) PostMessageA(submenu, WM_KEYDOWN, VK_ESCAPE, 0);
  std::this_thread::sleep_for(300ms);
}

// A hold set by the command line at start-up runs out; one chosen from the menu keeps the machine
// awake until another start of the program stops it.
TEST(Hold, FromTheCommandLineAndTheMenu) {
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=2\r\n", "--keep-awake=6s");
  ASSERT_NE(s.w, nullptr);
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) > 3; })) << "no busy icon";
  EXPECT_TRUE(Refused(s.w));
  // The hold ends, the margin runs out, the idle reports of the worker take over.
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kCyan) > 3; }, 20s)) << "no idle icon";
  EXPECT_FALSE(Refused(s.w));

  HWND submenu = OpenKeepAwakeSubmenu(s);
  ASSERT_NE(submenu, nullptr) << "no submenu";
  SaveScreenshot("tray_menu_keep_awake");
  // The submenu opens with its first item highlighted; the next is 1 hour.
  PostMessageA(submenu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageA(submenu, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) > 3; })) << "no busy icon";
  EXPECT_TRUE(Refused(s.w));
  submenu = OpenKeepAwakeSubmenu(s);
  ASSERT_NE(submenu, nullptr);
  SaveScreenshot("tray_menu_keep_awake_running");  // 1 hour checked, the stop enabled
  CloseMenus(submenu);

  // A bad value is refused in a box, with exit code 2; the running instance is untouched.
  Program bad(s.inst.exe(), "--keep-awake=soon");
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindWindowOf(bad.pid(), "Dozerin", "#32770")); }));
  char text[1024] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  EXPECT_NE(std::string(text).find(Acp("--keep-awake の値 'soon' は使えません")),
            std::string::npos);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(bad.WaitForExit(), 2u);
  EXPECT_TRUE(Refused(s.w));

  // Later starts ask how things stand and open the settings; with none running --status says 1.
  Program status(s.inst.exe(), "--status");
  EXPECT_EQ(status.WaitForExit(), 0u);
  Program settings(s.inst.exe(), "--settings");
  EXPECT_EQ(settings.WaitForExit(), 0u);
  ASSERT_TRUE(WaitUntil([&] { return (box = FindWindowOf(s.p.pid(), "Dozerin", "#32770")); }));
  PostMessageA(box, WM_COMMAND, IDCANCEL, 0);

  Program stop(s.inst.exe(), "--keep-awake=off");
  EXPECT_EQ(stop.WaitForExit(), 0u);
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kCyan) > 3; }, 20s)) << "no idle icon";
  EXPECT_FALSE(Refused(s.w));
  EXPECT_EQ(Close(s.p, s.w), 0u);
  EXPECT_EQ(Program(s.inst.exe(), "--status").WaitForExit(), 1u);
  const Lines lines = EventLines(s.inst.log());
  Lines holds;  // the log's story without the worker's reports
  for (const std::string& line : lines) {
    if ((line.rfind("Event KIND_MANUAL", 0) == 0 || line == "Set STATE_MARGIN") &&
        (holds.empty() || holds.back() != line)) {
      holds.push_back(line);
    }
  }
  EXPECT_EQ(holds, (Lines{"Event KIND_MANUAL", "Set STATE_MARGIN", "Event KIND_MANUAL",
                          "Set STATE_MARGIN"}));
}

// What `dozerin.exe --status` writes to a pipe.
std::string StatusOf(const std::string& exe) {
  std::string out;
  if (FILE* pipe = _popen(("\"" + exe + "\" --status").c_str(), "r")) {
    for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    _pclose(pipe);
  }
  return out;
}

// Sets the made-up power supply of tests/e2e/with-fake-power.sh: mains, or battery at a charge.
bool SetPowerSupply(bool mains, int percent) {
  const auto put = [](const char* file, const std::string& value) {
    FILE* f = std::fopen((std::string("Z:\\sys\\class\\power_supply\\") + file).c_str(), "w");
    if (f == nullptr) return false;
    std::fputs((value + "\n").c_str(), f);
    return std::fclose(f) == 0;
  };
  return put("AC\\online", mains ? "1" : "0") &&
         put("BAT0\\status", mains ? "Charging" : "Discharging") &&
         put("BAT0\\charge_now", std::to_string(50000 * percent));
}

// On battery only a hold by hand holds with BatteryHold=0, and under the floor nothing does; the
// power status broadcast makes the program read the source again, which Wine takes from sysfs.
TEST(Power, BatteryRules) {
  if (!SetPowerSupply(true, 80)) GTEST_SKIP() << "no made-up power supply (needs root)";
  Started s("[GENERAL]\r\nLog=1\r\nBatteryHold=0\r\nBatteryFloor=20\r\n", "--keep-awake");
  ASSERT_NE(s.w, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return Refused(s.w); }));
  struct Step {
    bool mains;
    int percent;
    bool held;
    const char* status;  // how --status begins
  };
  const Step steps[] = {{false, 50, true, "手動で抑止中"},
                        {false, 10, false, "バッテリー残量 10 %のため抑止を停止中"},
                        {true, 80, true, "手動で抑止中"}};
  for (const Step& step : steps) {
    ASSERT_TRUE(SetPowerSupply(step.mains, step.percent));
    PostMessageA(s.w, WM_POWERBROADCAST, kPbtPowerStatusChange, 0);
    std::string status;
    EXPECT_TRUE(WaitUntil([&] {
      status = StatusOf(s.inst.exe());
      return status.rfind(Acp(step.status), 0) == 0;
    })) << step.percent
        << ": " << status;
    EXPECT_EQ(Refused(s.w), step.held) << step.percent;
  }
  EXPECT_EQ(Close(s.p, s.w), 0u);
  std::vector<std::string> battery;
  for (const std::string& line : EventLines(s.inst.log())) {
    if (line.rfind("Battery", 0) == 0) battery.push_back(line);
  }
  EXPECT_EQ(battery, (std::vector<std::string>{"Battery hold off", "Battery hold on"}));
}

// --while: the running instance holds while the asking process runs, and ends the hold when it is
// killed; the command's exit code comes back, 127 when it cannot start.
TEST(Hold, WhileACommandRuns) {
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=1\r\n");
  ASSERT_NE(s.w, nullptr);
  const std::string watchme = "\"" + BesideDriver("watchme.exe") + "\"";
  for (const bool kill : {false, true}) {
    Program asker(s.inst.exe(), "--while " + watchme);
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindWindowA("WatchMeWindow", nullptr)); }));
    EXPECT_TRUE(WaitUntil([&] { return Refused(s.w); }));
    std::string status;
    EXPECT_TRUE(WaitUntil([&] {
      status = StatusOf(s.inst.exe());
      return status.rfind("watchme.exe (pid ", 0) == 0 &&
             status.find(Acp(") の終了まで抑止中")) != std::string::npos;
    })) << status;
    if (kill) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, asker.pid());
      TerminateProcess(process, 9);
      CloseHandle(process);
      EXPECT_TRUE(WaitUntil([&] { return !Refused(s.w); }, 20s)) << "hold kept after a kill";
      PostMessageA(window, WM_CLOSE, 0, 0);
      EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));  // no helper left for later tests
    } else {
      // A hold by hand beside it is a reason of its own: its stop leaves the command's.
      EXPECT_EQ(Program(s.inst.exe(), "--keep-awake=1h").WaitForExit(), 0u);
      EXPECT_TRUE(
          WaitUntil([&] { return StatusOf(s.inst.exe()).find("watchme") == std::string::npos; }));
      EXPECT_EQ(Program(s.inst.exe(), "--keep-awake=off").WaitForExit(), 0u);
      EXPECT_TRUE(WaitUntil([&] {
        status = StatusOf(s.inst.exe());
        return status.rfind("watchme.exe (pid ", 0) == 0;
      })) << status;
      PostMessageA(window, WM_CLOSE, 0, 0);
      EXPECT_EQ(asker.WaitForExit(), 0u);
      EXPECT_TRUE(WaitUntil([&] { return !Refused(s.w); }, 20s)) << "hold kept after the end";
    }
  }
  EXPECT_EQ(Program(s.inst.exe(), "--while no-such-program.exe").WaitForExit(), 127u);
  EXPECT_EQ(Close(s.p, s.w), 0u);
  // With no instance the asker holds on its own; the exit code is the command's either way.
  EXPECT_EQ(Program(s.inst.exe(), "--while cmd /c exit 5").WaitForExit(), 5u);
}

// A connection from this test to a loopback listener whose port the settings list keeps the
// machine awake until it closes and the margin runs out.
TEST(Hold, WhileTakesTheCommandAsTyped) {
  Installation inst("[GENERAL]\r\n");
  WriteText(inst.Path("t.cmd"), "@echo %1> echoed.txt\r\n");
  // Started with a wide command line, as a prompt starts it.
  auto run = [&](const std::wstring& arguments) {
    return RunToEnd(L"\"" + Wide(inst.exe()) + L"\" " + arguments, inst.folder());
  };
  // Characters outside the ANSI code page, and a fullwidth quote, reach the command as typed.
  const std::wstring helper = Wide(BesideDriver("watchme.exe"));
  const std::wstring said = L" x caf\u00e9 \uff02a b\uff02 \u65e5\u2713";
  EXPECT_EQ(run(L"--while \"" + helper + L"\" --say said.txt" + said), 0u);
  const std::string bytes = ReadText(inst.Path("said.txt"));
  const std::wstring line(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  EXPECT_EQ(line.substr(line.size() - std::min(line.size(), said.size())), said);
  // A batch file is found through PATHEXT and run through cmd...
  EXPECT_EQ(run(L"--while t hello"), 0u);
  EXPECT_EQ(ReadText(inst.Path("echoed.txt")), "hello\r\n");
  // ...but not with arguments cmd would take as commands of their own.
  EXPECT_EQ(run(L"--while t.cmd x\"&mkdir INJ&\""), 126u);
  EXPECT_EQ(GetFileAttributesA(inst.Path("INJ").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The console face: dozerin.com runs dozerin.exe beside it and passes on its output and exit code.
TEST(Console, TheConsoleFacePassesOnOutputAndTheExitCode) {
  Installation inst("[GENERAL]\r\n");
  const std::string com = g_dozerin_exe.substr(0, g_dozerin_exe.rfind('.')) + ".com";
  ASSERT_TRUE(CopyFileA(com.c_str(), inst.Path("dozerin.com").c_str(), FALSE)) << com;
  auto run = [&](const std::wstring& arguments, std::string* said) {
    return RunToEnd(L"\"" + Wide(inst.Path("dozerin.com")) + L"\" " + arguments, inst.folder(),
                    said);
  };
  std::string said;
  EXPECT_EQ(run(L"--status", &said), 1u);
  EXPECT_EQ(said, Acp("Dozerin は起動していません。") + "\r\n");
  said.clear();
  EXPECT_EQ(run(L"--while cmd /c echo hi", &said), 0u);
  EXPECT_EQ(said, "hi\r\n");
  EXPECT_EQ(run(L"--while cmd /c exit 5", &said), 5u);
}

// A copy of this process's token at medium integrity (a plain prompt's); null when it cannot be
// made.
HANDLE MediumIntegrityToken() {
  HANDLE own = nullptr, token = nullptr;
  PSID medium = nullptr;
  if (OpenProcessToken(GetCurrentProcess(),
                       TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT | TOKEN_ASSIGN_PRIMARY,
                       &own) &&
      DuplicateTokenEx(own, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                       &token) &&
      ConvertStringSidToSidA("S-1-16-8192", &medium)) {
    TOKEN_MANDATORY_LABEL label = {{medium, SE_GROUP_INTEGRITY}};
    if (!SetTokenInformation(token, TokenIntegrityLevel, &label,
                             sizeof label + GetLengthSid(medium))) {
      CloseHandle(token);
      token = nullptr;
    }
  }
  if (medium != nullptr) LocalFree(medium);
  if (own != nullptr) CloseHandle(own);
  return token;
}

// On Windows itself, run elevated (as its runners run): requests cross integrity levels both ways.
TEST(Integrity, RequestsCrossIntegrityLevels) {
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr) {
    GTEST_SKIP() << "Wine has no integrity levels";
  }
  if (!IsUserAnAdmin()) GTEST_SKIP() << "needs an elevated test run";
  HANDLE medium = MediumIntegrityToken();
  ASSERT_NE(medium, nullptr);
  {
    Started s("[GENERAL]\r\n");  // elevated, like this test
    ASSERT_NE(s.w, nullptr);
    auto plain = [&](const wchar_t* arguments) {
      return RunToEnd(L"\"" + Wide(s.inst.exe()) + L"\" " + arguments, s.inst.folder(), nullptr,
                      medium);
    };
    EXPECT_EQ(plain(L"--keep-awake=1h"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Refused(s.w); })) << "the plain prompt's hold was dropped";
    EXPECT_EQ(plain(L"--status"), 0u);
    EXPECT_EQ(plain(L"--keep-awake=off"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !Refused(s.w); }));
    EXPECT_EQ(Close(s.p, s.w), 0u);
  }
  // A plain instance answers an elevated prompt.
  Installation inst("[GENERAL]\r\n");
  std::wstring line = L"\"" + Wide(inst.exe()) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessAsUserW(medium, nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &si, &pi));
  EXPECT_TRUE(WaitUntil([&] { return Program(inst.exe(), "--status").WaitForExit() == 0; }, 20s))
      << "the answer from the plain instance was dropped";
  if (HWND w = FindWindowOf(pi.dwProcessId, "Dozerin", "DozerinWindow")) {
    PostMessageA(w, WM_CLOSE, 0, 0);
  }
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(medium);
}

TEST(Remote, AConnectionToAListedPort) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);
  Started s("[GENERAL]\r\nLog=1\r\nMaxMargin=2\r\n[CONNECTION]\r\n0=" + std::to_string(port) +
            "\r\n");
  ASSERT_NE(s.w, nullptr);
  SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  SOCKET accepted = accept(listener, nullptr, nullptr);
  EXPECT_TRUE(WaitForLogLine(s.inst.log(), "Event KIND_REMOTE"));
  EXPECT_TRUE(Refused(s.w));
  for (SOCKET open : {accepted, client, listener}) closesocket(open);
  EXPECT_TRUE(WaitUntil([&] { return !Refused(s.w); }, 20s));
  EXPECT_EQ(Close(s.p, s.w), 0u);
  WSACleanup();
}

TEST(English, KeepAwakeSubmenu) {
  Started s("[GENERAL]\r\n");
  ASSERT_NE(s.w, nullptr);
  HWND submenu = OpenKeepAwakeSubmenu(s);
  ASSERT_NE(submenu, nullptr) << "no submenu";
  SaveScreenshot("english_tray_menu_keep_awake");
  CloseMenus(submenu);
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

TEST(Tray, TaskbarRestartBringsTheIconBackInItsState) {
  Started s("[GENERAL]\r\nLog=1\r\n");
  ASSERT_NE(s.w, nullptr);
  StopWorker(s.w);
  Send(s.w, WM_ACTIVITY_EVENT, SET_BUSY, KIND_PROCESS);
  ASSERT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) > 3; }));
  // The icon goes, as it does when the taskbar ends...
  NOTIFYICONDATAA icon;
  ZeroMemory(&icon, sizeof icon);
  icon.cbSize = NOTIFYICONDATAA_V2_SIZE;
  icon.hWnd = s.w;
  icon.uID = kTrayIconId;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
  ASSERT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) == 0; }));
  // ...and a new taskbar announces itself: the icon comes back, showing the current state.
  Send(s.w, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) > 3; }));
  // A shell that lost the icon without a word refuses its next change: the icon is added again.
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
  ASSERT_TRUE(WaitUntil([] { return CountTrayPixels(kRed) == 0; }));
  Send(s.w, WM_ACTIVITY_EVENT, SET_IDLE, 0);
  EXPECT_TRUE(WaitUntil([] { return CountTrayPixels(kCyan) > 3; })) << "the icon stayed away";
  EXPECT_EQ(Close(s.p, s.w), 0u);
}

}  // namespace
}  // namespace dozerin::e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--dozerin=", 0) == 0) dozerin::e2e::g_dozerin_exe = arg.substr(10);
    if (arg.rfind("--shots=", 0) == 0) dozerin::e2e::g_shots_dir = arg.substr(8);
  }
  if (dozerin::e2e::g_dozerin_exe.empty()) {
    std::fprintf(stderr, "usage: e2e_tests --dozerin=<path of dozerin.exe> [--shots=<folder>]\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
