// Text in the ANSI code page, through the system's own multibyte functions.
#include <windows.h>

#include <limits>

#include "app/text.h"

namespace dozerin::text {

std::size_t CharSize(std::string_view s, std::size_t pos) {
  if (pos >= s.size()) return 0;
  if (pos + 1 < s.size() && IsDBCSLeadByte(static_cast<BYTE>(s[pos]))) return 2;
  return 1;
}

std::string ToUpper(std::string_view s) {
  std::string out(s);
  // CharUpperBuffA takes a 32-bit length; a longer string is upper-cased piece by piece, each
  // piece ending on a character boundary.
  constexpr std::size_t kPiece = std::numeric_limits<DWORD>::max() / 2;
  std::size_t pos = 0;
  while (pos < out.size()) {
    std::size_t len = FittingPrefix(std::string_view(out).substr(pos), kPiece);
    if (len == 0) len = 1;
    CharUpperBuffA(out.data() + pos, static_cast<DWORD>(len));
    pos += len;
  }
  return out;
}

}  // namespace dozerin::text
