// Where the watches look on Linux: the processes of /proc, the top-level windows and the pointer
// of the X11 display.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "monitor/watches.h"

namespace dozerin {

// The executable's base name of every process: the target of /proc/<pid>/exe, else the first
// command-line argument, else the name in stat; none for an ended process. A pass reads a process
// again only while it is young (a launcher `exec`s the real program in the same pid during its
// first seconds) or while its name is the one a visit matched (it may have ended as a zombie, or
// `exec`d something else since). The listing itself is read only now and then: the processes
// begun since the last pass are the pids that /proc/loadavg says were handed out meanwhile, and
// a process that ended is seen when its name would match, which is read again first.
class ProcProcesses : public ProcessSource {
 public:
  // Passes during which a newly met process is read again.
  static constexpr std::uint64_t kYoungPasses = 10;
  // Passes between two listings of /proc at most, and the most pids handed out between two passes
  // that are looked into one by one rather than listed.
  static constexpr std::uint64_t kListingPasses = 60;
  static constexpr long kMostNewPids = 64;

  explicit ProcProcesses(std::string root = "") : root_(std::move(root)) {}
  bool ForEachProcessName(const std::function<bool(std::string_view name)>& visit) override;
  std::size_t cached() const { return names_.size(); }

 private:
  std::string NameOf(const std::string& pid_dir) const;
  // The last pid handed out, from /proc/loadavg; none when it cannot be read, or /proc is not of
  // this program's pid namespace, or its pids were seen to run ahead of it.
  std::optional<long> ReadLastPid(const std::string& proc);
  // A pass without the listing: the pids handed out since the last pass are looked into, and
  // the known processes visited.
  void VisitKnown(const std::string& proc, long first_new, long last_new,
                  const std::function<bool(std::string_view)>& visit);

  std::string root_;
  std::optional<bool> last_pid_usable_;
  std::optional<long> last_pid_;  // at the last pass
  bool complete_ = false;         // the last listing looked into every process it held
  std::uint64_t listed_ = 0;      // the pass of the last listing
  std::uint64_t stamped_ = 0;     // the pass of the last listing that compared the stamps
  struct Known {
    std::string name;
    std::uint64_t pass;   // the last pass whose listing held the process
    std::uint64_t first;  // the pass that met it
    bool matched;         // a visit took its name for a watched one
    std::string stamp;    // its short name and start time, which an exec or a new process change
  };
  // "comm starttime" from the process's stat, read once: empty when it cannot be read.
  static std::string StampOf(const std::string& pid_dir);
  Known Meet(const std::string& pid_dir) const {
    return Known{NameOf(pid_dir), pass_, pass_, false, StampOf(pid_dir)};
  }
  // Young or matched: its name is read again at each pass that looks into it.
  bool Fresh(const Known& known) const {
    return known.matched || pass_ - known.first <= kYoungPasses;
  }
  std::map<long, Known> names_;
  std::uint64_t pass_ = 0;
};

// The base name of an executable path or command-line argument: what follows the last '/'.
std::string_view BaseName(std::string_view path);

// The X11 display named by $DISPLAY. All requests of a walk are sent before the first reply is
// awaited.
class X11Desktop : public WindowSource {
 public:
  X11Desktop();
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // False without a display (no $DISPLAY, or a pure Wayland session): no windows, no pointer.
  bool connected() const;
  std::vector<TopLevelWindow> TopLevelWindows() override;
  bool ReadPointer(std::int32_t* x, std::int32_t* y);

 private:
  struct Connection;
  std::unique_ptr<Connection> c_;
};

// Whether an X11 display answers at $DISPLAY.
bool X11Available();

}  // namespace dozerin
