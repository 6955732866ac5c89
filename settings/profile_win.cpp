// The INI file on Windows: the system's private-profile functions, always with the full path.
#include <windows.h>

#include <string>

#include "settings/ini_document.h"
#include "settings/settings_store.h"

namespace dozerin::profile {
namespace {

constexpr DWORD kValueBuffer = 4096;
// A section listing larger than this is not taken in whole; the listing is cut after its last
// complete line.
constexpr DWORD kMaxSectionBuffer = 64u << 20;

std::string Z(std::string_view s) {
  return std::string(s);
}

}  // namespace

std::string ReadText(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view default_text) {
  char buffer[kValueBuffer] = {};
  const DWORD n =
      GetPrivateProfileStringA(Z(section).c_str(), Z(key).c_str(), Z(default_text).c_str(), buffer,
                               kValueBuffer, path.c_str());
  return std::string(buffer, n < kValueBuffer ? n : kValueBuffer - 1);
}

std::uint32_t ReadInt(const std::string& path, std::string_view section, std::string_view key,
                      std::int32_t default_value) {
  return GetPrivateProfileIntA(Z(section).c_str(), Z(key).c_str(), default_value, path.c_str());
}

std::vector<Entry> ReadSection(const std::string& path, std::string_view section) {
  // The listing is a run of zero-terminated lines ended by an empty one; a listing that fills the
  // buffer comes back cut, so the buffer grows until it fits.
  std::string buffer;
  DWORD size = 1u << 16;
  DWORD n = 0;
  for (;;) {
    buffer.assign(size, '\0');
    n = GetPrivateProfileSectionA(Z(section).c_str(), buffer.data(), size, path.c_str());
    if (n + 2 < size || size >= kMaxSectionBuffer) break;
    size *= 2;
  }
  std::vector<Entry> entries;
  std::size_t pos = 0;
  const std::size_t end = n < buffer.size() ? n : buffer.size();
  while (pos < end) {
    const std::size_t nul = buffer.find('\0', pos);
    if (nul == std::string::npos || nul > end) break;  // a cut-off last line is dropped
    const std::string_view line(buffer.data() + pos, nul - pos);
    pos = nul + 1;
    if (line.empty()) continue;
    ini::KeyValue kv = ini::ParseKeyLine(line);
    entries.push_back({std::move(kv.key), std::move(kv.value)});
  }
  return entries;
}

bool Write(const std::string& path, std::string_view section, std::string_view key,
           std::optional<std::string_view> value) {
  const std::string v = value ? Z(*value) : std::string();
  return WritePrivateProfileStringA(Z(section).c_str(), Z(key).c_str(), value ? v.c_str() : nullptr,
                                    path.c_str()) != FALSE;
}

}  // namespace dozerin::profile
