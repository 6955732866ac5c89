// The Windows side of tools/bench-floor-wine, run under Wine by hand.
//   floor_win.exe             the floor of a once-a-second check: once a second it walks the
//                             process snapshot, reads every top-level window's title and asks for
//                             the cursor, and nothing else;
//   floor_win.exe --windows N makes N titled top-level windows and keeps them until it is ended;
//   floor_win.exe --time      times the program's own process and window checks against those
//                             windows (50 watched names, 50 patterns, none found), and the window
//                             check on their titles read once (the matching alone), and prints the
//                             microseconds a check takes, the least of ten rounds of 200.
#include <windows.h>
// windows.h first: tlhelp32.h relies on its types.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "monitor/watch_sources_win.h"
#include "monitor/watches.h"

namespace {

void MakeWindows(int count) {
  WNDCLASSA kind = {};
  kind.lpfnWndProc = DefWindowProcA;
  kind.hInstance = GetModuleHandleA(nullptr);
  kind.lpszClassName = "EditorFrame";
  RegisterClassA(&kind);
  for (int i = 0; i < count; ++i) {
    const std::string title = "Document " + std::to_string(i) + " - Some Editor";
    CreateWindowExA(0, kind.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                    nullptr, nullptr, kind.hInstance, nullptr);
  }
}

BOOL CALLBACK ReadTitle(HWND w, LPARAM seen) {
  wchar_t title[256];
  *reinterpret_cast<std::size_t*>(seen) += static_cast<std::size_t>(GetWindowTextW(w, title, 256));
  return TRUE;
}

class Listed : public dozerin::WindowSource {
 public:
  std::vector<dozerin::TopLevelWindow> TopLevelWindows() override { return windows; }
  std::vector<dozerin::TopLevelWindow> windows;
};

template <typename Check>
double MicrosecondsPerCheck(Check check) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  for (int round = 0; round < 10; ++round) {
    QueryPerformanceCounter(&start);
    for (int i = 0; i < 200; ++i) check();
    QueryPerformanceCounter(&end);
    best = std::min(best, static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                              static_cast<double>(frequency.QuadPart) / 200);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--windows") == 0) {
    MakeWindows(std::atoi(argv[2]));
    std::puts("made");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--time") == 0) {
    std::vector<std::string> names, patterns;
    for (int i = 0; i < 50; ++i) {
      names.push_back("WATCHED" + std::to_string(i) + ".EXE");
      patterns.push_back("*PATTERN" + std::to_string(i) + "*VIEWER");
    }
    dozerin::ToolhelpProcesses processes;
    dozerin::DesktopWindows windows;
    std::printf("process check, 50 names: %.1f us\n", MicrosecondsPerCheck([&] {
                  return dozerin::WatchedProcessRunning(processes, names);
                }));
    // The same windows read once: what the matching alone costs.
    Listed listed;
    listed.windows = windows.TopLevelWindows();
    std::printf(
        "window check, %zu windows x 50 patterns: %.1f us; on titles read once: %.1f us\n",
        listed.windows.size(),
        MicrosecondsPerCheck([&] { return dozerin::WatchedWindowExists(windows, patterns); }),
        MicrosecondsPerCheck([&] { return dozerin::WatchedWindowExists(listed, patterns); }));
    return 0;
  }
  for (;;) {
    std::size_t seen = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
      seen += std::strlen(entry.szExeFile);
    }
    CloseHandle(snapshot);
    EnumWindows(ReadTitle, reinterpret_cast<LPARAM>(&seen));
    POINT cursor;
    GetCursorPos(&cursor);
    if (seen == 0) return 2;  // keeps the reads from being left out
    Sleep(1000);
  }
}
