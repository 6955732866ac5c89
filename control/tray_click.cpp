#include "control/tray_click.h"

#include "control/vocabulary.h"

namespace dozerin {

void TrayClickRecognizer::OnNotify(std::uint32_t icon_id, std::uint32_t mouse_message) {
  if (icon_id != kTrayIconId) return;
  switch (mouse_message) {
    case kWmLButtonDown:
      double_click_seen_ = false;
      platform_.SetClickTimer(platform_.DoubleClickTimeMs());
      break;
    case kWmLButtonUp:
      if (double_click_seen_) platform_.PostToSelf(kWmLButtonDblClk);
      break;
    case kWmLButtonDblClk:
      double_click_seen_ = true;
      platform_.KillClickTimer();
      break;
    case kWmRButtonUp:
      platform_.PostToSelf(kWmRButtonUp);
      break;
    default:
      break;
  }
}

void TrayClickRecognizer::OnTimer(std::uintptr_t timer_id) {
  if (timer_id != kClickTimerId) return;
  platform_.KillClickTimer();
  platform_.PostToSelf(kWmLButtonUp);
}

}  // namespace dozerin
