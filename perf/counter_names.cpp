#include "perf/counter_names.h"

#include <optional>

#include "app/text.h"

namespace dozerin {
namespace {

// The string that starts at pos: up to its NUL, or up to the end of the text.
std::string_view StringAt(std::string_view text, std::size_t pos) {
  const std::size_t nul = text.find('\0', pos);
  return text.substr(pos, (nul == std::string_view::npos ? text.size() : nul) - pos);
}

// An index string as the table writes it: blanks, an optional sign, decimal digits up to the
// first other character; no digits give 0. A negative index, or one too large for 32 bits, is no
// index at all (nothing), never a wrapped-round one that could land on a real entry.
std::optional<std::uint32_t> ParseIndex(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size() && (s[pos] == ' ' || (s[pos] >= '\t' && s[pos] <= '\r'))) ++pos;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  std::uint64_t value = 0;
  bool any_digit = false;
  for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
    value = value * 10u + static_cast<std::uint64_t>(s[pos] - '0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
    any_digit = true;
  }
  if (negative && any_digit && value != 0) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

CounterNames::CounterNames(std::string text, std::uint32_t last_counter) : text_(std::move(text)) {
  const std::string_view all(text_);
  std::size_t pos = 0;
  while (pos < all.size()) {
    const std::string_view index = StringAt(all, pos);
    if (index.empty()) break;
    pos += index.size() + 1;
    if (pos >= all.size()) break;  // the text ends without a name
    const std::string_view name = StringAt(all, pos);
    pos += name.size() + 1;
    const std::optional<std::uint32_t> number = ParseIndex(index);
    if (number && *number <= last_counter) names_[*number] = name;
  }
}

std::uint32_t CounterNames::FindCounterIndex(std::string_view name) const {
  for (const auto& [index, entry] : names_) {
    if (text::EqualNoCase(entry, name)) return index;
  }
  return 0;
}

}  // namespace dozerin
