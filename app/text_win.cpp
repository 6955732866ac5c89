// Text in the ANSI code page, through the system's own multibyte functions.
#include <windows.h>

#include <algorithm>
#include <limits>

#include "app/text.h"

namespace dozerin::text {

std::size_t CharSize(std::string_view s, std::size_t pos) {
  if (pos >= s.size()) return 0;
  if (pos + 1 < s.size() && IsDBCSLeadByte(static_cast<BYTE>(s[pos]))) return 2;
  return 1;
}

std::string FromUtf16(std::u16string_view wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4)) {
    return {};
  }
  const auto* data = reinterpret_cast<const wchar_t*>(wide.data());
  const int length = static_cast<int>(wide.size());
  const int bytes =
      WideCharToMultiByte(CP_THREAD_ACP, 0, data, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, data, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

namespace {

// Plain ASCII upper-cases by itself, a to z, in every language but those whose 'i' upper-cases
// to a dotted capital; there the system decides.
bool AsciiUpperCasesAlone() {
  static const bool alone = [] {
    const LANGID language = PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID()));
    return language != LANG_TURKISH && language != LANG_AZERI;
  }();
  return alone;
}

}  // namespace

std::string ToUpper(std::string_view s) {
  std::string out(s);
  // Most titles and names are plain ASCII: upper-cased here without a call into the system, which
  // every window title of every pass would otherwise cost.
  if (AsciiUpperCasesAlone() && std::all_of(out.begin(), out.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
      })) {
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }
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
