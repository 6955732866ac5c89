// The sliding average of a load: the newest sample and up to n earlier ones, always divided by
// n + 1, so the average climbs step by step while the window fills.
#pragma once

#include <cstdint>
#include <deque>

namespace dozerin {

// Trims the window to n samples, appends the sample and returns the sum of the window divided by
// n + 1, rounded down; a sum past 64 bits stays at the largest value. A negative n is taken as 0.
std::uint64_t PushAndAverage(std::uint64_t sample, std::deque<std::uint64_t>& window,
                             std::int32_t n);

// a + b, or the largest value when that does not fit.
std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b);

}  // namespace dozerin
