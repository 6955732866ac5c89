#include "monitor/load_average.h"

namespace dozerin {

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::uint64_t PushAndAverage(std::uint64_t sample, std::deque<std::uint64_t>& window,
                             std::int32_t n) {
  // A negative length (only possible by editing the file by hand) would empty an empty window
  // and divide by zero; it counts as 0, the newest sample alone.
  const std::uint64_t length = n < 0 ? 0u : static_cast<std::uint64_t>(n);
  while (window.size() > length) window.pop_front();
  window.push_back(sample);
  std::uint64_t sum = 0;
  for (const std::uint64_t s : window) sum = SaturatingAdd(sum, s);
  return sum / (length + 1);
}

}  // namespace dozerin
