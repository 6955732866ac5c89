// The two loads the worker samples once per pass: network traffic summed over the interfaces that
// are not loopbacks (bytes per second), and the busiest processor's percentage.
#pragma once

#include "monitor/worker.h"
#include "perf/perf_counter.h"

namespace dozerin {

class NetworkLoad : public LoadProbe {
 public:
  explicit NetworkLoad(PerfDataSource& source) : counter_(source) {}
  bool Open() override;
  std::optional<std::uint32_t> Sample() override;

 private:
  CPerfCounter counter_;
};

class ProcessorLoad : public LoadProbe {
 public:
  explicit ProcessorLoad(PerfDataSource& source) : counter_(source) {}
  bool Open() override;
  std::optional<std::uint32_t> Sample() override;

 private:
  CPerfCounter counter_;
};

}  // namespace dozerin
