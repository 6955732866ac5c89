// Fuzz target: the performance data block decoder. The input is a block for the network object;
// the reader walks it twice, as the worker would in two passes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "perf/perf_counter.h"

namespace {

class InputBlock : public dozerin::PerfDataSource {
 public:
  InputBlock(const std::uint8_t* data, std::size_t size) : bytes_(data, data + size) {}
  std::int32_t GetCounterIndex(std::string_view name) override {
    return name == "Network Interface" ? 510 : 388;
  }
  bool ReadObjectBlock(std::int32_t, std::vector<unsigned char>* block) override {
    *block = bytes_;
    return true;
  }

 private:
  std::vector<unsigned char> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputBlock source(data, size);
  dozerin::CPerfCounter counter(source);
  if (!counter.Open("Network Interface", "Bytes Total/sec")) return 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (!counter.Query()) break;
    do {
      (void)counter.GetInstanceName();
      (void)counter.GetRate();
      (void)counter.GetPercent();
    } while (counter.NextInstance());
  }
  return 0;
}
