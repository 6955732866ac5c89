// UTF-8 text. Case mapping comes from the C library's C.UTF-8 locale, so it does not depend on
// the user's own locale settings.
#include <locale.h>
#include <wctype.h>

#include <cstdint>

#include "app/text.h"

namespace dozerin::text {
namespace {

bool IsContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// Decodes one well-formed UTF-8 character at s[pos]; returns its size, or 0 when malformed
// (overlong forms, surrogates and values past U+10FFFF count as malformed).
std::size_t Decode(std::string_view s, std::size_t pos, char32_t* out) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  std::size_t size;
  char32_t cp;
  char32_t min;
  if (b0 < 0x80) {
    *out = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    size = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    size = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    size = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - pos < size) return 0;
  for (std::size_t i = 1; i < size; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if (!IsContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *out = cp;
  return size;
}

void Encode(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

locale_t Utf8Locale() {
  // Made once and kept for the life of the process.
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

char32_t UpperOf(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 'a' + 'A' : cp;
  const locale_t locale = Utf8Locale();
  if (locale == static_cast<locale_t>(0)) return cp;
  const wint_t upper = towupper_l(static_cast<wint_t>(cp), locale);
  const auto result = static_cast<char32_t>(upper);
  if (result > 0x10FFFF || (result >= 0xD800 && result <= 0xDFFF)) return cp;
  return result;
}

}  // namespace

std::size_t CharSize(std::string_view s, std::size_t pos) {
  if (pos >= s.size()) return 0;
  char32_t cp;
  const std::size_t size = Decode(s, pos, &cp);
  return size == 0 ? 1 : size;
}

std::string FromUtf16(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate
    }
    Encode(cp, &out);
  }
  return out;
}

std::string ToUpper(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    char32_t cp;
    const std::size_t size = Decode(s, pos, &cp);
    if (size == 0) {  // a stray byte stays as it is
      out.push_back(s[pos]);
      ++pos;
      continue;
    }
    Encode(UpperOf(cp), &out);
    pos += size;
  }
  return out;
}

}  // namespace dozerin::text
