#include "app/text.h"

namespace dozerin::text {

std::size_t CountChars(std::string_view s) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < s.size(); pos += CharSize(s, pos)) ++count;
  return count;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  return ToUpper(a) == ToUpper(b);
}

bool Contains(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return true;
  for (std::size_t pos = 0; pos + needle.size() <= haystack.size();
       pos += CharSize(haystack, pos)) {
    if (haystack.compare(pos, needle.size(), needle) == 0) return true;
  }
  return false;
}

std::size_t FittingPrefix(std::string_view s, std::size_t max_bytes) {
  if (s.size() <= max_bytes) return s.size();
  std::size_t pos = 0;
  while (pos < s.size()) {
    const std::size_t next = pos + CharSize(s, pos);
    if (next > max_bytes) break;
    pos = next;
  }
  return pos;
}

std::string FillIn(std::string_view pattern, std::string_view value) {
  std::string text(pattern);
  if (const std::size_t at = text.find("%1"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace dozerin::text
