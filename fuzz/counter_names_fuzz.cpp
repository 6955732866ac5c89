// Fuzz target: the counter-name text parser and search. The first four bytes are the highest
// index in use, the rest is the text as the registry would return it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "perf/counter_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t last_counter = 0;
  if (size >= 4) {
    std::memcpy(&last_counter, data, 4);
    data += 4;
    size -= 4;
  }
  const dozerin::CounterNames names(std::string(reinterpret_cast<const char*>(data), size),
                                    last_counter);
  (void)names.FindCounterIndex("Processor");
  (void)names.FindCounterIndex("% Processor Time");
  (void)names.FindCounterIndex("");
  return 0;
}
