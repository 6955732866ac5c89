// Where the watches look on Windows: the Tool Help process snapshot and the top-level windows.
#pragma once

#include "monitor/watches.h"

namespace dozerin {

class ToolhelpProcesses : public ProcessSource {
 public:
  bool ForEachProcessName(const std::function<bool(std::string_view name)>& visit) override;
};

class DesktopWindows : public WindowSource {
 public:
  std::vector<TopLevelWindow> TopLevelWindows() override;
};

}  // namespace dozerin
