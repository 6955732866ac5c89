#include "monitor/watches.h"

#include <algorithm>

#include "app/text.h"
#include "monitor/wildcard.h"

namespace dozerin {

bool WatchedProcessRunning(ProcessSource& processes, const std::vector<std::string>& upper_names,
                           std::string* matched) {
  bool hit = false;
  // Upper-casing keeps the length of a name in plain ASCII (on both systems' encodings), so such a
  // name of no watched length is passed over without being upper-cased: most of them.
  std::vector<std::size_t> lengths;
  for (const std::string& watched : upper_names) lengths.push_back(watched.size());
  processes.ForEachProcessName([&](std::string_view name) {
    if (std::find(lengths.begin(), lengths.end(), name.size()) == lengths.end() &&
        std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      return false;
    }
    const std::string upper = text::ToUpper(name);
    for (const std::string& watched : upper_names) {
      if (upper == watched) {
        if (matched != nullptr) matched->assign(name);
        return hit = true;
      }
    }
    return false;
  });
  return hit;
}

std::ptrdiff_t FindMatchingWindow(const std::vector<TopLevelWindow>& upper_windows,
                                  std::string_view title_pattern, std::string_view class_pattern) {
  if (title_pattern.empty()) title_pattern = "*";
  if (class_pattern.empty()) class_pattern = "*";
  for (std::size_t i = 0; i < upper_windows.size(); ++i) {
    const TopLevelWindow& w = upper_windows[i];
    if (w.title.empty() && w.class_name.empty()) continue;  // vanished during the walk
    if (WildcardMatch(w.title, title_pattern) && WildcardMatch(w.class_name, class_pattern)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

bool WatchedWindowExists(WindowSource& windows, const std::vector<std::string>& upper_patterns,
                         std::size_t* which) {
  std::vector<TopLevelWindow> list = windows.TopLevelWindows();
  for (TopLevelWindow& w : list) {
    w.title = text::ToUpper(w.title);
    w.class_name = text::ToUpper(w.class_name);
  }
  for (std::size_t i = 0; i < upper_patterns.size(); ++i) {
    if (FindMatchingWindow(list, upper_patterns[i], "*") >= 0) {
      if (which != nullptr) *which = i;
      return true;
    }
  }
  return false;
}

}  // namespace dozerin
