// The steering block of the test performance provider (testperf.dll): shared memory that the
// end-to-end driver writes and the provider, loaded into dozerin.exe by the system's performance
// data collection, reads at every collection.
#pragma once

#include <windows.h>

namespace dozerin::e2e {

constexpr char kTestPerfMapping[] = "DozerinTestPerfSteering";

// A title index under which nothing is served.
constexpr LONG kNotServed = 65000;

enum TestPerfMode : LONG {
  kServe = 0,      // well-formed objects
  kDamaged = 1,    // counts, lengths and offsets that point outside the block
  kTruncated = 2,  // objects cut off in the middle of an instance
  kFail = 3,       // the provider's collection fails
};

constexpr int kAdapters = 3;  // a loopback, then two adapters
constexpr int kCpus = 5;      // four cores, then _Total

struct TestPerfSteering {
  // Written by the driver: the title indices of each object and its counter, or kNotServed.
  volatile LONG network_object, network_counter;
  volatile LONG processor_object, processor_counter;
  volatile LONG disk_object, disk_counter;
  volatile LONG mode;
  volatile LONG bytes_per_second[kAdapters];
  volatile LONG busy_percent[kCpus];
  volatile LONG burst_bytes[kAdapters];  // added once, at the next collection
  volatile LONG disk_bytes_per_second;   // of "_Total"
  // Kept by the provider.
  volatile LONG collections;
  LONGLONG last_counter_time;  // QueryPerformanceCounter
  LONGLONG last_file_time;     // GetSystemTimeAsFileTime, 100-ns units
  LONGLONG byte_counts[kAdapters];
  LONGLONG idle_times[kCpus];
  LONGLONG disk_bytes;
};

}  // namespace dozerin::e2e
