// Turns the shell's notifications for the tray icon into single, double and right clicks. A single
// click is reported once the double-click time has passed after the press without a second click;
// a double click when its second button is released, with no single click; a right click when the
// button is released. Reports are posted to the icon window itself as WM_LBUTTONUP,
// WM_LBUTTONDBLCLK and WM_RBUTTONUP.
#pragma once

#include <cstdint>

namespace dozerin {

class TrayClickPlatform {
 public:
  virtual ~TrayClickPlatform() = default;
  virtual void SetClickTimer(std::uint32_t period_ms) = 0;
  virtual void KillClickTimer() = 0;
  virtual void PostToSelf(std::uint32_t message) = 0;
  virtual std::uint32_t DoubleClickTimeMs() const = 0;
};

class TrayClickRecognizer {
 public:
  explicit TrayClickRecognizer(TrayClickPlatform& platform) : platform_(platform) {}

  // The icon's callback message: wParam is the icon id, lParam the mouse message.
  void OnNotify(std::uint32_t icon_id, std::uint32_t mouse_message);
  // Every timer id that reaches the window; only the click timer is acted on.
  void OnTimer(std::uintptr_t timer_id);

 private:
  TrayClickPlatform& platform_;
  bool double_click_seen_ = false;
};

}  // namespace dozerin
