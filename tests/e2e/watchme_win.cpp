// A helper for the end-to-end tests: a program with a known name (watchme.exe) that shows one
// top-level window with a known title until it is closed, or for two minutes at most.
#include <windows.h>

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
