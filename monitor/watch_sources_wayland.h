// Where the watches look on a Wayland session: the compositor's list of toplevel windows and its
// idle notifications, over a connection that the worker owns, whichever platform the interface
// runs on.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "monitor/watches.h"

namespace dozerin {

// What the session's compositor lets the program see of its windows, found with a short connection
// of its own.
enum class WaylandWindows {
  kNoSession,      // no compositor answers at $WAYLAND_DISPLAY
  kListed,         // a window list is offered
  kGnome,          // GNOME Shell: only through the program's shell extension
  kKdeNotGranted,  // KWin lists windows only for an installed program with a desktop entry
  kNone,           // the compositor offers no window list
};
WaylandWindows ProbeWaylandWindows();

// The windows of $WAYLAND_DISPLAY from ext_foreign_toplevel_list_v1,
// zwlr_foreign_toplevel_manager_v1 (wlroots) or org_kde_plasma_window_management (KDE), and the
// user's activity from ext_idle_notifier_v1 or org_kde_kwin_idle. The lists are kept from the
// compositor's events: a pass reads what is waiting and sends nothing.
class WaylandDesktop : public WindowSource {
 public:
  // The idle notifications' timeout: a pass a second sees any input since the one before.
  static constexpr unsigned kIdleTimeoutMs = 1000;
  // Windows kept at most; more are left out.
  static constexpr std::size_t kMaxWindows = 65536;

  WaylandDesktop();
  ~WaylandDesktop() override;
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  std::vector<TopLevelWindow> TopLevelWindows() override;
  // Whether the user moved the pointer, typed or touched since the previous call; nothing when
  // the compositor does not say.
  std::optional<bool> UserWasActive();

 private:
  friend WaylandWindows ProbeWaylandWindows();
  static constexpr int kReconnectSeconds = 5;
  // Whether a working connection is there, made anew when the last one broke.
  bool Connect();
  struct Connection;
  std::unique_ptr<Connection> c_;
  std::chrono::steady_clock::time_point retry_at_{};
};

}  // namespace dozerin
