// The sliding average of a load: the newest sample and up to n earlier ones, always divided by
// n + 1, so the average climbs step by step while the window fills.
#pragma once

#include <cstdint>
#include <deque>

namespace dozerin {

// Trims the window to n samples, appends the sample and returns the sum of the window divided by
// n + 1 (64-bit, rounded down, low 32 bits). A negative n is taken as 0.
std::uint32_t PushAndAverage(std::uint32_t sample, std::deque<std::uint32_t>& window,
                             std::int32_t n);

}  // namespace dozerin
