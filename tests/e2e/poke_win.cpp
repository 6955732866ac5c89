// A command-line helper for the soaks: one action on the running dozerin.exe per call.
//   poke ping | suspend | resume | taskbar | handles | close | cursor X Y | sheet ok|cancel
//        | hold SECONDS|off
// Exit code 0 when the action was done (ping: the program answered within 5 s), 3 when the
// program's window is not there, 1 otherwise.
// "poke serve" takes one action a line from its input and answers each with its code, so that
// the compressed soak need not start a Wine process for each.
#include <windows.h>
// windows.h first: commctrl.h relies on its types.
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/vocabulary.h"

namespace {

HWND MainWindow() {
  return FindWindowA("DozerinWindow", "Dozerin");
}

bool Send(HWND w, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result = nullptr) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(w, message, wparam, lparam, SMTO_NORMAL, 5000,
                             result != nullptr ? result : &ignored) != 0;
}

// The settings sheet of the program's process, once it shows (at most 10 s).
HWND Sheet(DWORD pid) {
  for (int i = 0; i < 200; ++i) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", "Dozerin")) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid && IsWindowVisible(w) &&
          FindWindowExA(w, nullptr, "SysTabControl32", nullptr) != nullptr) {
        return w;
      }
    }
    Sleep(50);
  }
  return nullptr;
}

}  // namespace

int Act(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* action = argv[1];
  HWND w = MainWindow();
  if (w == nullptr) return 3;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (std::strcmp(action, "ping") == 0) return Send(w, WM_NULL, 0, 0) ? 0 : 1;
  if (std::strcmp(action, "suspend") == 0) return Send(w, WM_POWERBROADCAST, 4, 0) ? 0 : 1;
  if (std::strcmp(action, "resume") == 0) return Send(w, WM_POWERBROADCAST, 7, 0) ? 0 : 1;
  if (std::strcmp(action, "taskbar") == 0) {
    return Send(w, RegisterWindowMessageA("TaskbarCreated"), 0, 0) ? 0 : 1;
  }
  if (std::strcmp(action, "close") == 0) return PostMessageA(w, WM_COMMAND, 8, 0) ? 0 : 1;
  if (std::strcmp(action, "cursor") == 0 && argc == 4) {
    return SetCursorPos(std::atoi(argv[2]), std::atoi(argv[3])) ? 0 : 1;
  }
  if (std::strcmp(action, "handles") == 0) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    DWORD count = 0;
    const bool ok = process != nullptr && GetProcessHandleCount(process, &count);
    if (process != nullptr) CloseHandle(process);
    std::printf("%lu\n", static_cast<unsigned long>(count));
    return ok ? 0 : 1;
  }
  if (std::strcmp(action, "sheet") == 0 && argc == 3) {
    PostMessageA(w, WM_COMMAND, 32774, 0);
    HWND sheet = Sheet(pid);
    if (sheet == nullptr) return 1;
    Sleep(300);
    PostMessageA(sheet, PSM_PRESSBUTTON, std::strcmp(argv[2], "ok") == 0 ? PSBTN_OK : PSBTN_CANCEL,
                 0);
    for (int i = 0; i < 200 && IsWindow(sheet); ++i) Sleep(50);
    return IsWindow(sheet) ? 1 : 0;
  }
  if (std::strcmp(action, "hold") == 0 && argc == 3) {
    std::int64_t seconds = std::atoll(argv[2]);
    const bool stop = std::strcmp(argv[2], "off") == 0;
    COPYDATASTRUCT data = {stop ? dozerin::kCopyDataStopHold : dozerin::kCopyDataHold,
                           stop ? 0u : static_cast<DWORD>(sizeof seconds),
                           stop ? nullptr : &seconds};
    DWORD_PTR taken = 0;
    return Send(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), &taken) && taken != 0 ? 0 : 1;
  }
  return 2;
}

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "serve") != 0) return Act(argc, argv);
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    char* args[8] = {argv[0]};
    int count = 1;
    for (char* word = std::strtok(line, " \r\n"); word != nullptr && count < 8;
         word = std::strtok(nullptr, " \r\n")) {
      args[count++] = word;
    }
    std::printf("%d\n", Act(count, args));
    std::fflush(stdout);
  }
  return 0;
}
