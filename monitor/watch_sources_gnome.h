// Where the watches look on GNOME Shell, which lists its windows to no ordinary client: the
// program's own shell extension lists them on the session bus, and Mutter's idle monitor tells of
// the user's activity. A listener on the main thread keeps both from their signals; the worker
// reads what it kept.
#pragma once

#include <optional>
#include <vector>

#include "monitor/watches.h"

namespace dozerin {

// The extension's bus name, object and interface.
inline constexpr char kShellWindowsService[] = "org.dozerin.Dozerin.Shell";
inline constexpr char kShellWindowsPath[] = "/org/dozerin/Dozerin/Shell";
inline constexpr char kShellWindowsInterface[] = "org.dozerin.Dozerin.Shell";
// The extension's uuid, as `gnome-extensions enable` takes it.
inline constexpr char kShellExtensionUuid[] = "dozerin@dozerin.org";

// Whether the extension answers on the session bus now.
bool GnomeShellWindowsEnabled();

// Starts listening on the main thread's session bus (once; later calls do nothing). Without GNOME
// Shell or Mutter nothing is kept.
void ListenToGnomeShell();

// What the listener kept: the windows the extension listed, and whether the user was active since
// the previous call. Nothing where there is no extension or idle monitor.
class GnomeShellWindows : public WindowSource {
 public:
  std::vector<TopLevelWindow> TopLevelWindows() override;
  std::optional<bool> UserWasActive();
};

}  // namespace dozerin
