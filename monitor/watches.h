// The process watch and the window watch: is a watched program running, does a window exist
// whose title matches a watched pattern. Portable decisions over lists that the platform reads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/worker.h"

namespace dozerin {

// The executable file names of the running processes, in any order.
class ProcessSource {
 public:
  virtual ~ProcessSource() = default;
  // Calls visit with each name until it returns true. Returns false when no list could be had.
  // A name that was true may be read again and given to visit once more: the last call decides.
  virtual bool ForEachProcessName(const std::function<bool(std::string_view name)>& visit) = 0;
};

struct TopLevelWindow {
  std::string title;
  std::string class_name;  // at most 99 bytes
};

// The top-level windows, front to back, hidden ones included.
class WindowSource {
 public:
  virtual ~WindowSource() = default;
  virtual std::vector<TopLevelWindow> TopLevelWindows() = 0;
};

// True when some process's name equals one of the watched names, ignoring case (whole names,
// whole characters). Names are upper-cased already.
// *matched, when given, receives the running process's name as the system lists it.
bool WatchedProcessRunning(ProcessSource& processes, const std::vector<std::string>& upper_names,
                           std::string* matched = nullptr);

// The index of the first window, front to back, whose title matches title_pattern and whose class
// name matches class_pattern, or -1. Windows and patterns are upper-cased already; an empty
// pattern stands for "*". Windows whose title and class name are both empty are skipped.
std::ptrdiff_t FindMatchingWindow(const std::vector<TopLevelWindow>& upper_windows,
                                  std::string_view title_pattern, std::string_view class_pattern);

// True when some pattern, in list order, finds a window (with the class pattern "*"). The windows
// are read and upper-cased once for all patterns.
// *which, when given, receives the position of the pattern that found a window.
bool WatchedWindowExists(WindowSource& windows, const std::vector<std::string>& upper_patterns,
                         std::size_t* which = nullptr);

// The worker's process and window checks over a platform's two lists; the platform adds the
// pointer.
class WatchSources : public ActivitySources {
 public:
  WatchSources(ProcessSource& processes, WindowSource& windows)
      : processes_(processes), windows_(windows) {}
  bool WatchedProcessRunning(const std::vector<std::string>& names, std::string* matched) override {
    return dozerin::WatchedProcessRunning(processes_, names, matched);
  }
  bool WatchedWindowExists(const std::vector<std::string>& patterns, std::size_t* which) override {
    return dozerin::WatchedWindowExists(windows_, patterns, which);
  }

 private:
  ProcessSource& processes_;
  WindowSource& windows_;
};

}  // namespace dozerin
