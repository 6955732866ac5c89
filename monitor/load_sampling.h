// The loads the worker samples once per pass: network traffic summed over the interfaces that are
// not loopbacks (bytes per second), the busiest processor's percentage, and the disks' transfers
// (bytes per second, all physical disks together).
#pragma once

#include "monitor/worker.h"
#include "perf/perf_counter.h"

namespace dozerin {

class NetworkLoad : public LoadProbe {
 public:
  explicit NetworkLoad(PerfDataSource& source) : counter_(source) {}
  bool Open() override;
  std::optional<std::uint64_t> Sample() override;

 private:
  CPerfCounter counter_;
};

class DiskLoad : public LoadProbe {
 public:
  explicit DiskLoad(PerfDataSource& source) : counter_(source) {}
  bool Open() override;
  std::optional<std::uint64_t> Sample() override;

 private:
  CPerfCounter counter_;
};

class ProcessorLoad : public LoadProbe {
 public:
  explicit ProcessorLoad(PerfDataSource& source) : counter_(source) {}
  bool Open() override;
  std::optional<std::uint64_t> Sample() override;

 private:
  CPerfCounter counter_;
};

}  // namespace dozerin
