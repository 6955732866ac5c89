#include <unistd.h>

#include <string>
#include <string_view>

#include "app/paths.h"

namespace dozerin {

namespace {

std::string ReadExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      break;
    }
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
  // Once a package upgrade has replaced the file, the path is still the program's.
  return std::string(WithoutDeletedMark(buffer));
}

}  // namespace

std::string ExecutablePath() {
  // Read at start-up and kept: the path the program was started from stays its path.
  static const std::string path = ReadExecutablePath();
  return path;
}

}  // namespace dozerin
