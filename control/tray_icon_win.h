// A hidden window that owns one notification-area icon, talks to the shell for it and turns the
// shell's notifications into click, double-click and right-click calls for a derived class.
#pragma once

#include <windows.h>

#include "app/framework_win.h"
#include "control/tray_click.h"

namespace dozerin {

class CTrayIcon : public win::Window, private TrayClickPlatform {
 public:
  // One shell request for icon 100 (NIM_ADD, NIM_MODIFY or NIM_DELETE). With no taskbar the request
  // is skipped and counts as done.
  BOOL NotifyIcon(DWORD operation, HICON icon, const char* tip);
  // The same with the tooltip taken from the string table.
  BOOL NotifyIcon(DWORD operation, HICON icon, UINT tip_string_id);

 protected:
  CTrayIcon() : clicks_(*this) {}

  // Creates the hidden tool window; returns false when it fails (the object is then deleted).
  virtual bool CreateTrayWnd();
  virtual void OnTrayRightClick() {}
  virtual void OnTrayClick() {}
  virtual void OnTrayDoubleClick() {}

  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  // Timer handling for every timer id that reaches the window; acts on the click timer only.
  void OnTrayTimer(UINT_PTR id) { clicks_.OnTimer(id); }

 private:
  void SetClickTimer(std::uint32_t period_ms) override;
  void KillClickTimer() override;
  void PostToSelf(std::uint32_t message) override;
  std::uint32_t DoubleClickTimeMs() const override;

  TrayClickRecognizer clicks_;
};

}  // namespace dozerin
