#include "settings/settings_store.h"

#include <string>
#include <unordered_map>

namespace dozerin {
namespace {

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool SafeSection(std::string_view section) {
  return !section.empty() && !HasLineBreakOrNul(section) && section.find(']') == std::string::npos;
}

bool SafeKey(std::string_view key) {
  if (key.empty() || HasLineBreakOrNul(key) || key.find('=') != std::string::npos) return false;
  const std::size_t first = key.find_first_not_of(" \t");
  return first != std::string_view::npos && key[first] != '[';
}

}  // namespace

std::uint32_t ParseProfileInt(std::string_view value, std::int32_t default_value) {
  if (value.empty()) return static_cast<std::uint32_t>(default_value);
  std::size_t pos = 0;
  bool negative = false;
  if (value[pos] == '+' || value[pos] == '-') {
    negative = value[pos] == '-';
    ++pos;
  }
  std::uint32_t result = 0;
  for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
    result = result * 10u + static_cast<std::uint32_t>(value[pos] - '0');
  }
  return negative ? 0u - result : result;
}

std::optional<std::uint16_t> ParsePortEntry(std::string_view entry) {
  if (entry.empty() || entry.size() > 5) return std::nullopt;
  std::uint32_t port = 0;
  for (const char c : entry) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

std::uint32_t SettingsStore::ReadInt(std::string_view section, std::string_view key,
                                     std::int32_t default_value) const {
  return profile::ReadInt(path_, section, key, default_value);
}

std::string SettingsStore::ReadText(std::string_view section, std::string_view key,
                                    std::string_view default_text) const {
  return profile::ReadText(path_, section, key, default_text);
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
  return WriteText(section, key, std::to_string(value));
}

bool SettingsStore::WriteText(std::string_view section, std::string_view key,
                              std::optional<std::string_view> text) {
  if (!SafeSection(section) || !SafeKey(key)) return false;
  if (text && HasLineBreakOrNul(*text)) return false;
  return profile::Write(path_, section, key, text);
}

std::vector<std::string> SettingsStore::ReadList(std::string_view section) const {
  // One read of the section and a lookup per position: the same result as reading key "0", "1",
  // ... one by one (the first line of a key wins), without reading the file once per entry.
  const std::vector<profile::Entry> lines = profile::ReadSection(path_, section);
  std::unordered_map<std::string_view, const profile::Entry*> first_of_key;
  first_of_key.reserve(lines.size());
  for (const profile::Entry& line : lines) first_of_key.emplace(line.key, &line);

  std::vector<std::string> entries;
  for (std::size_t position = 0;; ++position) {
    const auto it = first_of_key.find(std::to_string(position));
    if (it == first_of_key.end() || !it->second->value) break;
    const std::string& value = *it->second->value;
    if (value == settings::kListEnd) break;
    entries.push_back(value);
  }
  return entries;
}

bool SettingsStore::WriteList(std::string_view section, const std::vector<std::string>& entries) {
  for (int position = 0; position < settings::kMaxStoredListEntries; ++position) {
    const std::string key = std::to_string(position);
    const bool ok = static_cast<std::size_t>(position) < entries.size()
                        ? WriteText(section, key, entries[position])
                        : WriteText(section, key, std::nullopt);
    if (!ok) return false;
  }
  return true;
}

}  // namespace dozerin
