#include "monitor/watches.h"

#include <algorithm>
#include <array>
#include <cstdint>

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

namespace {

// Which byte values a text holds.
class ByteSet {
 public:
  void Add(std::string_view text) {
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      bits_[b >> 6] |= std::uint64_t{1} << (b & 63);
    }
  }
  bool Holds(const ByteSet& other) const {
    for (std::size_t i = 0; i < bits_.size(); ++i) {
      if ((other.bits_[i] & ~bits_[i]) != 0) return false;
    }
    return true;
  }

 private:
  std::array<std::uint64_t, 4> bits_{};
};

}  // namespace

bool WatchedWindowExists(WindowSource& windows, const std::vector<std::string>& upper_patterns,
                         std::size_t* which) {
  std::vector<TopLevelWindow> list = windows.TopLevelWindows();
  // A title can match a pattern only when it holds every byte the pattern has beside '*' and '?':
  // a cheap look at each title's set of bytes passes over most pairs before the matcher runs.
  std::vector<ByteSet> held(list.size());
  for (std::size_t w = 0; w < list.size(); ++w) {
    list[w].title = text::ToUpper(list[w].title);
    list[w].class_name = text::ToUpper(list[w].class_name);
    held[w].Add(list[w].title);
  }
  for (std::size_t i = 0; i < upper_patterns.size(); ++i) {
    const std::string_view pattern = upper_patterns[i];
    std::string plain(pattern);
    plain.erase(
        std::remove_if(plain.begin(), plain.end(), [](char c) { return c == '*' || c == '?'; }),
        plain.end());
    ByteSet needed;
    needed.Add(plain);
    for (std::size_t w = 0; w < list.size(); ++w) {
      const TopLevelWindow& window = list[w];
      if (window.title.empty() && window.class_name.empty()) continue;  // vanished during the walk
      if (!held[w].Holds(needed)) continue;
      if (WildcardMatch(window.title, pattern.empty() ? std::string_view("*") : pattern)) {
        if (which != nullptr) *which = i;
        return true;
      }
    }
  }
  return false;
}

}  // namespace dozerin
