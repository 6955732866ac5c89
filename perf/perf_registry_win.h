// Performance data from the Windows registry: the English counter-name table and object blocks
// of HKEY_PERFORMANCE_DATA.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "perf/counter_names.h"
#include "perf/perf_counter.h"

namespace dozerin {

// Loads the English (009) counter-name table; returns ERROR_SUCCESS with *names set, or the
// failing registry call's error code.
LONG LoadCounterNames(HKEY machine_key, HKEY performance_key, std::optional<CounterNames>* names);

// Title index of an English name: the index, 0 when the table holds no such name, -1 when the
// table cannot be loaded. Reads the table afresh for each call.
std::int32_t GetCounterIndex(std::string_view name);

// Reads a registry value into *buffer, enlarging it while the value does not fit; *length_read
// receives the bytes the read returned, *queries (when given) how many reads it took. Returns the
// read's error code.
LONG ReadRegistryValue(HKEY key, const char* value_name, std::vector<unsigned char>* buffer,
                       DWORD* length_read, int* queries = nullptr);

// Object blocks of HKEY_PERFORMANCE_DATA (or, for tests, of another key). Each read of a block
// makes the system collect the data afresh, so each object's next read starts at the size that
// held its last block.
class RegistryPerfData : public PerfDataSource {
 public:
  explicit RegistryPerfData(HKEY key = HKEY_PERFORMANCE_DATA) : key_(key) {}
  ~RegistryPerfData() override;
  RegistryPerfData(const RegistryPerfData&) = delete;
  RegistryPerfData& operator=(const RegistryPerfData&) = delete;
  std::int32_t GetCounterIndex(std::string_view name) override;
  bool ReadObjectBlock(std::int32_t object_index, std::vector<unsigned char>* block) override;
  int last_queries() const { return last_queries_; }  // the reads the last block took

 private:
  HKEY key_;
  std::map<std::int32_t, std::size_t> sizes_;  // the buffer that held each object's last block
  int last_queries_ = 0;
};

}  // namespace dozerin
