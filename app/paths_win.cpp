#include <windows.h>

#include <string>

#include "app/paths.h"

namespace dozerin {

std::string ExecutablePath() {
  // MAX_PATH first; long paths (\\?\ prefixed or with long-path support) get a larger buffer.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size() && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace dozerin
