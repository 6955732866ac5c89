// Fuzz target: the title matcher against a plain recursive matcher that tries every split, on any
// bytes (multibyte characters, malformed ones and code page 932 pairs included). The first byte
// splits the rest into text and pattern; both are kept short so that the reference, whose time
// grows with the number of '*', stays quick. The text is also taken as a list of window titles, one
// per line, for the window check's search of all titles at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/text.h"
#include "monitor/watches.h"
#include "monitor/wildcard.h"

namespace {

// Whole-text match, trying for each '*' every place the rest of the text may start.
bool Reference(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '*') {
    for (std::size_t pos = 0;; pos += dozerin::text::CharSize(text, pos)) {
      if (Reference(text.substr(pos), pattern.substr(1))) return true;
      if (pos >= text.size()) return false;
    }
  }
  if (text.empty()) return false;
  const std::size_t tc = dozerin::text::CharSize(text, 0);
  const std::size_t pc = pattern[0] == '?' ? 1 : dozerin::text::CharSize(pattern, 0);
  if (pattern[0] != '?' && pattern.substr(0, pc) != text.substr(0, tc)) return false;
  return Reference(text.substr(tc), pattern.substr(pc));
}

class Titles : public dozerin::WindowSource {
 public:
  std::vector<dozerin::TopLevelWindow> TopLevelWindows() override { return windows; }
  std::vector<dozerin::TopLevelWindow> windows;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t split = data[0] < all.size() ? data[0] : all.size();
  const std::string_view text = all.substr(0, split).substr(0, 40);
  std::string_view pattern = all.substr(split).substr(0, 24);
  int stars = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '*' && ++stars > 5) {
      pattern = pattern.substr(0, i);
      break;
    }
  }
  if (dozerin::WildcardMatch(text, pattern) != Reference(text, pattern)) std::abort();
  if (pattern.empty()) return 0;  // the window check reads an empty pattern as "*"
  Titles titles;
  bool expected = false;
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view title = text.substr(from, end - from);
    titles.windows.push_back({std::string(title), ""});
    expected = expected || (!title.empty() && Reference(dozerin::text::ToUpper(title), pattern));
    from = end + 1;
  }
  if (dozerin::WatchedWindowExists(titles, {std::string(pattern)}) != expected) std::abort();
  return 0;
}
