// Why the machine is kept awake, in the words the tray icon's tooltip shows under the program's
// title: "busy: process vlc", "margin: 42 s left (mouse)", "idle".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "control/vocabulary.h"

namespace dozerin {

// The state line for the state the icon shows, the margin still to run and the reason of the
// last report that kept the machine awake.
std::string StateLine(InhibitState shown, std::uint32_t countdown, std::string_view reason);

// The whole tooltip: the title, a line break, the state line.
std::string Tooltip(std::string_view title, InhibitState shown, std::uint32_t countdown,
                    std::string_view reason);

// A rate in bytes per second as a person reads it: "512 B/s", "300 KB/s", "2.4 MB/s".
std::string FormatRate(std::uint64_t bytes_per_second);

}  // namespace dozerin
