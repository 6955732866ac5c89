// A helper for the end-to-end tests: a program with a known name (watchme.exe) that shows one
// top-level window with a known title until it is closed, or for two minutes at most. Started as
// "watchme.exe --say FILE ..." it writes its whole command line to FILE (UTF-16) instead.
#include <windows.h>
// windows.h first: shellapi.h relies on its types.
#include <shellapi.h>

namespace {

LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  if (message == WM_TIMER) {
    DestroyWindow(w);
    return 0;
  }
  return DefWindowProcW(w, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args != nullptr && count >= 3 && lstrcmpW(args[1], L"--say") == 0) {
    HANDLE file = CreateFileW(args[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, line, lstrlenW(line) * sizeof(wchar_t), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return ok ? 0 : 1;
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"WatchMeWindow";
  RegisterClassW(&wc);
  HWND w =
      CreateWindowExW(0, L"WatchMeWindow", L"Watch Me \u30A6\u30A9\u30C3\u30C1",
                      WS_OVERLAPPEDWINDOW, 600, 500, 300, 120, nullptr, nullptr, instance, nullptr);
  if (w == nullptr) return 1;
  ShowWindow(w, SW_SHOWNORMAL);
  SetTimer(w, 1, 120000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
