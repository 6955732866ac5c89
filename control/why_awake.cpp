#include "control/why_awake.h"

#include <cstdio>

namespace dozerin {

std::string StateLine(InhibitState shown, std::uint32_t countdown, std::string_view reason) {
  switch (shown) {
    case STATE_BUSY:
      return reason.empty() ? std::string("busy") : "busy: " + std::string(reason);
    case STATE_MARGIN: {
      std::string line = "margin: " + std::to_string(countdown) + " s left";
      if (!reason.empty()) line += " (" + std::string(reason) + ")";
      return line;
    }
    default:
      return "idle";
  }
}

std::string Tooltip(std::string_view title, InhibitState shown, std::uint32_t countdown,
                    std::string_view reason) {
  return std::string(title) + "\n" + StateLine(shown, countdown, reason);
}

std::string FormatRate(std::uint64_t bytes_per_second) {
  char text[48];
  if (bytes_per_second >= 1024u * 1024u) {
    std::snprintf(text, sizeof text, "%.1f MB/s",
                  static_cast<double>(bytes_per_second) / (1024.0 * 1024.0));
  } else if (bytes_per_second >= 1024u) {
    std::snprintf(text, sizeof text, "%u KB/s", static_cast<unsigned>(bytes_per_second / 1024u));
  } else {
    std::snprintf(text, sizeof text, "%u B/s", static_cast<unsigned>(bytes_per_second));
  }
  return text;
}

}  // namespace dozerin
