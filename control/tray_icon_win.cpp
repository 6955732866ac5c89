#include "control/tray_icon_win.h"

#include <shellapi.h>

#include <cstring>

#include "app/text.h"
#include "control/vocabulary.h"

namespace dozerin {

BOOL CTrayIcon::NotifyIcon(DWORD operation, HICON icon, const char* tip) {
  NOTIFYICONDATAA data;
  std::memset(&data, 0, sizeof data);
  // The version-2 layout of this build's headers (488 bytes in a 32-bit build).
  data.cbSize = NOTIFYICONDATAA_V2_SIZE;
  data.hWnd = hwnd();
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  if (icon != nullptr) {
    data.uFlags |= NIF_ICON;
    data.hIcon = icon;
  }
  if (tip != nullptr) {
    data.uFlags |= NIF_TIP;
    // At most 127 bytes, never half of a double-byte character.
    const std::size_t max = sizeof data.szTip - 1;
    std::size_t len = std::strlen(tip);
    if (len > max) {
      len = 0;
      while (tip[len] != '\0') {
        const std::size_t step =
            IsDBCSLeadByte(static_cast<BYTE>(tip[len])) && tip[len + 1] ? 2 : 1;
        if (len + step > max) break;
        len += step;
      }
    }
    std::memcpy(data.szTip, tip, len);
    data.szTip[len] = '\0';
  }
  if (FindWindowA("Shell_TrayWnd", nullptr) == nullptr) return TRUE;
  return Shell_NotifyIconA(operation, &data);
}

BOOL CTrayIcon::NotifyIcon(DWORD operation, HICON icon, UINT tip_string_id) {
  const std::string tip = win::LoadResString(tip_string_id);
  return NotifyIcon(operation, icon, tip.c_str());
}

bool CTrayIcon::CreateTrayWnd() {
  return CreateHidden(WS_EX_TOOLWINDOW, "TrayIconHandler");
}

LRESULT CTrayIcon::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      OnTrayTimer(wparam);
      return 0;
    case WM_RBUTTONUP:
      OnTrayRightClick();
      return 0;
    case WM_LBUTTONDBLCLK:
      OnTrayDoubleClick();
      return 0;
    case WM_LBUTTONUP:
      OnTrayClick();
      return 0;
    case WM_TRAY_NOTIFY:
      clicks_.OnNotify(static_cast<std::uint32_t>(wparam), static_cast<std::uint32_t>(lparam));
      return 0;
    default:
      return Window::WindowProc(message, wparam, lparam);
  }
}

void CTrayIcon::SetClickTimer(std::uint32_t period_ms) {
  SetTimer(hwnd(), kClickTimerId, period_ms, nullptr);
}

void CTrayIcon::KillClickTimer() {
  KillTimer(hwnd(), kClickTimerId);
}

void CTrayIcon::PostToSelf(std::uint32_t message) {
  PostMessageA(hwnd(), message, 0, 0);
}

std::uint32_t CTrayIcon::DoubleClickTimeMs() const {
  return GetDoubleClickTime();
}

}  // namespace dozerin
