// The activity log: one time-stamped line per entry, appended to a text file beside the
// executable, only while logging is on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dozerin {

// Why a file could not be written; each cause has its own message for the user.
enum class FileError {
  kNone,
  kAccessDenied,
  kSharingViolation,
  kBadPath,
  kDiskFull,
  kGeneric,
};

// When an entry would take the log past this size, the file becomes "<name>.log.1" (replacing an
// older one) and a new one is begun: about five days of busy seconds, never more than twice this
// on disk. A rotation that fails (a reader holds the file so that it cannot be renamed) fails no
// entry: the log grows on, and the rotation is tried again after each further kLogRetryBytes.
inline constexpr std::uint64_t kLogMaxBytes = 16u << 20;
inline constexpr std::uint64_t kLogRetryBytes = 1u << 20;

class ActivityLog {
 public:
  using Clock = std::function<std::int64_t()>;  // seconds since 1970

  ActivityLog();

  void Configure(std::string path, bool enabled);
  bool enabled() const { return enabled_; }
  const std::string& path() const { return path_; }

  // Appends "<local time> - <message>" to the file, opening and closing it for this entry alone
  // and denying other writers meanwhile. With logging off nothing is computed or opened and the
  // result is kNone. A failure is returned to the caller, never thrown.
  FileError Write(std::string_view message) const;

  // "%Y/%m/%d %H:%M:%S" of the local time, or "Invalid DateTime" when it cannot be converted.
  static std::string FormatTimestamp(std::int64_t seconds_since_1970);

  void SetClockForTesting(Clock clock) { clock_ = std::move(clock); }
  void SetMaxBytesForTesting(std::uint64_t max_bytes, std::uint64_t retry_bytes) {
    max_bytes_ = rotate_at_ = max_bytes;
    retry_bytes_ = retry_bytes;
  }

 private:
  std::string path_;
  bool enabled_ = false;
  Clock clock_;
  std::uint64_t max_bytes_ = kLogMaxBytes;
  std::uint64_t retry_bytes_ = kLogRetryBytes;
  mutable std::uint64_t rotate_at_ = kLogMaxBytes;  // later after a failed rotation
};

namespace log_file {
// Platform parts. LocalTime fills *out and returns true, or returns false when the time cannot be
// converted; Append opens path (create if missing, keep contents, deny other writers), writes bytes
// at its end and closes it; a file that would grow past max_bytes is first renamed to path + ".1"
// (replacing an older one) and begun anew, and *rotation says how that went. A failed rename is
// not the entry's failure: the entry goes at the end of the file as it is.
struct CalendarTime {
  int year, month, day, hour, minute, second;
};
bool LocalTime(std::int64_t seconds_since_1970, CalendarTime* out);
std::int64_t Now();
enum class Rotation { kNone, kDone, kFailed };
FileError Append(const std::string& path, std::string_view bytes, std::uint64_t max_bytes,
                 Rotation* rotation);
}  // namespace log_file

}  // namespace dozerin
