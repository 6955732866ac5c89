#include "monitor/load_sampling.h"

#include "app/text.h"
#include "monitor/load_average.h"

namespace dozerin {

bool NetworkLoad::Open() {
  return counter_.Open("Network Interface", "Bytes Total/sec");
}

std::optional<std::uint64_t> NetworkLoad::Sample() {
  if (!counter_.Query()) return std::nullopt;
  std::uint64_t sum = 0;
  do {
    // Loopback interfaces carry no traffic that leaves the machine.
    if (!text::Contains(counter_.GetInstanceName(), "Loopback")) {
      sum = SaturatingAdd(sum, counter_.GetRate());
    }
  } while (counter_.NextInstance());
  return sum;
}

bool DiskLoad::Open() {
  return counter_.Open("PhysicalDisk", "Disk Bytes/sec");
}

std::optional<std::uint64_t> DiskLoad::Sample() {
  if (!counter_.Query()) return std::nullopt;
  do {
    // The disks together; each disk's own instance is left out, as it is counted in _Total.
    if (counter_.GetInstanceName() == "_Total") return counter_.GetRate();
  } while (counter_.NextInstance());
  return 0;
}

bool ProcessorLoad::Open() {
  return counter_.Open("Processor", "% Processor Time");
}

std::optional<std::uint64_t> ProcessorLoad::Sample() {
  if (!counter_.Query()) return std::nullopt;
  std::uint32_t busiest = 0;
  do {
    // Readings outside 0 to 100 (a negative one is huge as unsigned) are left out.
    const auto percent = static_cast<std::uint32_t>(counter_.GetPercent());
    if (percent <= 100 && percent > busiest) busiest = percent;
  } while (counter_.NextInstance());
  return busiest;
}

}  // namespace dozerin
