#include "monitor/wildcard.h"

#include "app/text.h"

namespace dozerin {
namespace {

// Bytes below 0x80 are characters of their own in every code page the program runs with; only
// the others need the text layer.
inline std::size_t CharAt(std::string_view s, std::size_t pos) {
  return static_cast<unsigned char>(s[pos]) < 0x80 ? 1 : text::CharSize(s, pos);
}

// The next position from `from` on, at a character boundary of text, where `literal` (a run of
// the pattern without '*' or '?', `from` itself when empty) begins; npos when there is none. The
// search skips ahead with the library's substring search. In a double-byte code page a hit may
// begin on a trail byte: the walk from `from` tells, and the search goes on past it.
std::size_t FindLiteral(std::string_view text, std::size_t from, std::string_view literal) {
  std::size_t walked = from;  // a character boundary
  for (;;) {
    const std::size_t hit = text.find(literal, from);
    if (hit == std::string_view::npos) return hit;
    while (walked < hit) walked += CharAt(text, walked);
    if (walked == hit) return hit;
    from = walked;  // the hit began inside the character that ends at `walked`
  }
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
  std::string_view literal;                   // the run of plain characters after that '*'
  while (t < text.size()) {
    if (p < pattern.size()) {
      const std::size_t pc = CharAt(pattern, p);
      if (pc == 1 && pattern[p] == '*') {
        p += 1;
        star = p;
        // The '*' runs up to the next place where the literal run after it (maybe empty) begins;
        // without one there is no match at all.
        literal = pattern.substr(p, pattern.find_first_of("*?", p) - p);
        star_text = t = FindLiteral(text, t, literal);
        if (t == std::string_view::npos) return false;
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
    star_text = FindLiteral(text, star_text + CharAt(text, star_text), literal);
    if (star_text == std::string_view::npos) return false;
    t = star_text;
    p = star;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace dozerin
