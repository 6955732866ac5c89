#include "app/allocator_linux.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "app/paths.h"

namespace dozerin {
namespace {

constexpr std::string_view kThreadCache = "glibc.malloc.tcache_count";
// Set only between the two starts: "+" and the earlier value, or "-" when there was none.
constexpr const char* kEarlier = "DOZERIN_EARLIER_GLIBC_TUNABLES";

// Puts GLIBC_TUNABLES back from the marker's form of it.
void PutBack(const std::string& earlier) {
  if (earlier[0] == '+') {
    setenv("GLIBC_TUNABLES", earlier.c_str() + 1, 1);
  } else {
    unsetenv("GLIBC_TUNABLES");
  }
  unsetenv(kEarlier);
}

}  // namespace

std::optional<std::string> TunablesWithoutThreadCache(const char* current) {
  const std::string_view value = current != nullptr ? current : "";
  for (std::size_t start = 0; start <= value.size();) {
    std::size_t end = value.find(':', start);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view entry = value.substr(start, end - start);
    if (entry.substr(0, entry.find('=')) == kThreadCache) return std::nullopt;
    start = end + 1;
  }
  // First: glibc stops reading at an entry it cannot parse.
  std::string tunables(kThreadCache);
  tunables += "=0";
  if (!value.empty()) tunables.append(":").append(value);
  return tunables;
}

void StartWithoutThreadCache(char** argv) {
  if (const char* earlier = std::getenv(kEarlier)) {
    PutBack(earlier);
    return;
  }
  const char* current = std::getenv("GLIBC_TUNABLES");
  const std::optional<std::string> tunables = TunablesWithoutThreadCache(current);
  if (!tunables || argv == nullptr || argv[0] == nullptr) return;
  // The executable itself, by its path: a name looked up again could find another.
  const std::string path = ExecutablePath();
  if (path.empty()) return;
  const std::string earlier = current != nullptr ? std::string("+") + current : "-";
  setenv(kEarlier, earlier.c_str(), 1);
  setenv("GLIBC_TUNABLES", tunables->c_str(), 1);
  execv(path.c_str(), argv);
  PutBack(earlier);  // not started again (the file gone): go on with the cache
}

}  // namespace dozerin
