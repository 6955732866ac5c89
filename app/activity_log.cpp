#include "app/activity_log.h"

#include <cstdio>

namespace dozerin {

ActivityLog::ActivityLog() : clock_(log_file::Now) {}

void ActivityLog::Configure(std::string path, bool enabled) {
  path_ = std::move(path);
  enabled_ = enabled;
}

std::string ActivityLog::FormatTimestamp(std::int64_t seconds_since_1970) {
  log_file::CalendarTime t{};
  if (!log_file::LocalTime(seconds_since_1970, &t) || t.year < 0 || t.year > 9999) {
    return "Invalid DateTime";
  }
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return buffer;
}

FileError ActivityLog::Write(std::string_view message) const {
  if (!enabled_) return FileError::kNone;
  std::string entry = FormatTimestamp(clock_());
  entry += " - ";
  entry += message;
  log_file::Rotation rotation = log_file::Rotation::kNone;
  const FileError error = log_file::Append(path_, entry, rotate_at_, &rotation);
  if (rotation == log_file::Rotation::kDone) rotate_at_ = max_bytes_;
  if (rotation == log_file::Rotation::kFailed) rotate_at_ += retry_bytes_;
  return error;
}

}  // namespace dozerin
