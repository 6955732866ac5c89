#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "app/activity_log.h"

namespace dozerin::log_file {
namespace {

FileError FromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return FileError::kAccessDenied;
    case EWOULDBLOCK:
      return FileError::kSharingViolation;
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return FileError::kBadPath;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileError::kDiskFull;
    default:
      return FileError::kGeneric;
  }
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a failing close can be reported.
  int Release() {
    const int rc = close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

}  // namespace

bool LocalTime(std::int64_t seconds_since_1970, CalendarTime* out) {
  const auto t = static_cast<time_t>(seconds_since_1970);
  if (static_cast<std::int64_t>(t) != seconds_since_1970) return false;
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return false;
  *out = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}

std::int64_t Now() {
  return static_cast<std::int64_t>(time(nullptr));
}

FileError Append(const std::string& path, std::string_view bytes, std::uint64_t max_bytes,
                 Rotation* rotation) {
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (fd.get() < 0) return FromErrno(errno);
  // Other writers are kept out for the moment of this entry; a writer holding the file now
  // makes this entry fail as a sharing violation.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return FromErrno(errno);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return FromErrno(errno);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > 0 && size + bytes.size() > max_bytes) {
    // Full: it becomes the older log, and this entry begins a new one.
    if (rename(path.c_str(), (path + ".1").c_str()) == 0) {
      *rotation = Rotation::kDone;
      fd.Release();
      return Append(path, bytes, UINT64_MAX, rotation);
    }
    *rotation = Rotation::kFailed;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno);
    }
    if (n == 0) return FileError::kDiskFull;
    done += static_cast<std::size_t>(n);
  }
  if (fd.Release() != 0) return FromErrno(errno);
  return FileError::kNone;
}

}  // namespace dozerin::log_file
