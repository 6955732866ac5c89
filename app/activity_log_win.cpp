#include <time.h>
#include <windows.h>

#include <algorithm>

#include "app/activity_log.h"

namespace dozerin::log_file {
namespace {

FileError FromLastError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FileError::kAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileError::kSharingViolation;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_DRIVE:
      return FileError::kBadPath;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileError::kDiskFull;
    default:
      return FileError::kGeneric;
  }
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return h_; }
  BOOL Release() {
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

}  // namespace

bool LocalTime(std::int64_t seconds_since_1970, CalendarTime* out) {
  const __time64_t t = seconds_since_1970;
  struct tm tm {};
  if (_localtime64_s(&tm, &t) != 0) return false;
  *out = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}

std::int64_t Now() {
  return static_cast<std::int64_t>(_time64(nullptr));
}

FileError Append(const std::string& path, std::string_view bytes, std::uint64_t max_bytes,
                 Rotation* rotation) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return FromLastError(GetLastError());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return FromLastError(GetLastError());
  if (size.QuadPart > 0 && static_cast<std::uint64_t>(size.QuadPart) + bytes.size() > max_bytes) {
    // Full: it becomes the older log, and this entry begins a new one. A reader that holds the
    // file without FILE_SHARE_DELETE keeps it from being renamed; the entry then goes on its end.
    if (!file.Release()) return FromLastError(GetLastError());
    const bool renamed =
        MoveFileExA(path.c_str(), (path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    *rotation = renamed ? Rotation::kDone : Rotation::kFailed;
    return Append(path, bytes, UINT64_MAX, rotation);
  }
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file.get(), zero, nullptr, FILE_END)) {
    return FromLastError(GetLastError());
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) {
      return FromLastError(GetLastError());
    }
    if (written == 0) return FileError::kDiskFull;
    done += written;
  }
  if (!file.Release()) return FromLastError(GetLastError());
  return FileError::kNone;
}

}  // namespace dozerin::log_file
