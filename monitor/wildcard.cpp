#include "monitor/wildcard.h"

#include "app/text.h"

namespace dozerin {
namespace {

// Bytes below 0x80 are characters of their own in every code page the program runs with; only
// the others need the text layer.
inline std::size_t CharAt(std::string_view s, std::size_t pos) {
  return static_cast<unsigned char>(s[pos]) < 0x80 ? 1 : text::CharSize(s, pos);
}

}  // namespace

bool WildcardMatch(std::string_view text, std::string_view pattern) {
  // Greedy scan with one point to return to: the last '*' seen and the text position it has been
  // tried up to. A mismatch lets that '*' swallow one more character and resumes after it. An
  // earlier '*' never needs another try: whatever it could have swallowed more, the later '*'
  // can swallow as well.
  std::size_t t = 0;
  std::size_t p = 0;
  std::size_t star = std::string_view::npos;  // pattern position just after the last '*'
  std::size_t star_text = 0;                  // text position that '*' currently runs up to
  while (t < text.size()) {
    if (p < pattern.size()) {
      const std::size_t pc = CharAt(pattern, p);
      if (pc == 1 && pattern[p] == '*') {
        p += 1;
        star = p;
        star_text = t;
        continue;
      }
      const std::size_t tc = CharAt(text, t);
      const bool same = pc == tc && (pc == 1 ? pattern[p] == text[t]
                                             : pattern.compare(p, pc, text.substr(t, tc)) == 0);
      if ((pc == 1 && pattern[p] == '?') || same) {
        p += pc;
        t += tc;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    star_text += CharAt(text, star_text);
    t = star_text;
    p = star;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace dozerin
