// dozerin.com, the console face of dozerin.exe beside it: a prompt waits for a console program,
// so `dozerin --status` prints before the next prompt and its exit code reaches the prompt. It
// starts the windowed program of its own name with the same arguments, on its own console and
// standard handles, waits for it and ends with its exit code. (A prompt finds dozerin.com before
// dozerin.exe: .COM comes first in PATHEXT.)
#include <windows.h>

#include <string>

#include "app/framework_win.h"
#include "res/resource.h"

namespace {

// Ctrl-C and Ctrl-Break reach every program on the console: the command under --while takes
// them, and this one waits on until the program it started has ended.
BOOL WINAPI KeepWaiting(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// The command line without this program's own name, as the C runtime would skip it.
const wchar_t* Arguments(const wchar_t* line) {
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  return line;
}

void Say(const wchar_t* text) {
  DWORD written = 0;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (!WriteConsoleW(error, text, lstrlenW(text), &written, nullptr)) {
    // Not a console: the same text in the ANSI code page, as the windowed program writes.
    char bytes[1024] = {};
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length > 1) WriteFile(error, bytes, static_cast<DWORD>(length - 1), &written, nullptr);
  }
}

}  // namespace

int wmain() {
  std::wstring self(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, self.data(), 32768);
  if (length == 0 || length >= 32768) return 127;
  self.resize(length);
  const std::size_t dot = self.find_last_of(L'.');
  const std::size_t slash = self.find_last_of(L"\\/");
  std::wstring program = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)
                              ? self.substr(0, dot)
                              : self) +
                         L".exe";
  std::wstring line = L"\"" + program + L"\"" + Arguments(GetCommandLineW());
  SetConsoleCtrlHandler(KeepWaiting, TRUE);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    wchar_t pattern[512] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_WHILE_NOT_STARTED, pattern, 512) <= 0) {
      lstrcpyW(pattern, L"%1 could not be started.");
    }
    std::wstring text = pattern;
    const std::size_t at = text.find(L"%1");
    if (at != std::wstring::npos) text.replace(at, 2, program);
    Say((text + L"\r\n").c_str());
    return 127;
  }
  const dozerin::win::UniqueHandle process(started.hProcess);
  const dozerin::win::UniqueHandle thread(started.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}
