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
      return hit = false;
    }
    const std::string upper = text::ToUpper(name);
    hit = std::find(upper_names.begin(), upper_names.end(), upper) != upper_names.end();
    if (hit && matched != nullptr) matched->assign(name);
    return hit;
  });
  return hit;
}

namespace {

// Which byte values a text holds.
class ByteSet {
 public:
  explicit ByteSet(std::string_view text, std::string_view left_out = {}) {
    for (const char c : text) {
      if (left_out.find(c) != std::string_view::npos) continue;
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

// The search over windows whose titles' byte sets are known. A title can match the pattern only
// when it holds every byte the pattern has beside '*' and '?': that cheap look passes over most
// windows before the matcher runs.
std::ptrdiff_t FindMatchingWindow(const std::vector<TopLevelWindow>& upper_windows,
                                  const std::vector<ByteSet>& title_bytes,
                                  std::string_view title_pattern, std::string_view class_pattern) {
  if (title_pattern.empty()) title_pattern = "*";
  if (class_pattern.empty()) class_pattern = "*";
  const ByteSet needed(title_pattern, "*?");
  for (std::size_t i = 0; i < upper_windows.size(); ++i) {
    const TopLevelWindow& w = upper_windows[i];
    if (w.title.empty() && w.class_name.empty()) continue;  // vanished during the walk
    if (!title_bytes[i].Holds(needed)) continue;
    if (WildcardMatch(w.title, title_pattern) && WildcardMatch(w.class_name, class_pattern)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::vector<ByteSet> TitleBytes(const std::vector<TopLevelWindow>& windows) {
  std::vector<ByteSet> sets;
  sets.reserve(windows.size());
  for (const TopLevelWindow& w : windows) sets.emplace_back(w.title);
  return sets;
}

}  // namespace

std::ptrdiff_t FindMatchingWindow(const std::vector<TopLevelWindow>& upper_windows,
                                  std::string_view title_pattern, std::string_view class_pattern) {
  return FindMatchingWindow(upper_windows, TitleBytes(upper_windows), title_pattern, class_pattern);
}

bool WatchedWindowExists(WindowSource& windows, const std::vector<std::string>& upper_patterns,
                         std::size_t* which) {
  std::vector<TopLevelWindow> list = windows.TopLevelWindows();
  for (TopLevelWindow& w : list) {
    w.title = text::ToUpper(w.title);
    w.class_name = text::ToUpper(w.class_name);
  }
  // Each title's byte set once for all patterns.
  const std::vector<ByteSet> title_bytes = TitleBytes(list);
  for (std::size_t i = 0; i < upper_patterns.size(); ++i) {
    if (FindMatchingWindow(list, title_bytes, upper_patterns[i], "*") >= 0) {
      if (which != nullptr) *which = i;
      return true;
    }
  }
  return false;
}

}  // namespace dozerin
