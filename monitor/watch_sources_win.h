// Where the watches look on Windows: the Tool Help process snapshot and the top-level windows.
#pragma once

#include "monitor/watches.h"

namespace dozerin {

class ToolhelpProcesses : public ProcessSource {
 public:
  bool ForEachProcessName(const std::function<bool(std::string_view name)>& visit) override;
};

// The top-level windows front to back, each with its title; the class name only of an untitled
// window, where it tells whether the window still exists.
class DesktopWindows : public WindowSource {
 public:
  std::vector<TopLevelWindow> TopLevelWindows() override;
};

}  // namespace dozerin
