// Fuzz target: the parsers of /proc/net/dev, /proc/stat, /proc/diskstats and an interface's type
// file, on any text. What they return must hold together: names without line breaks, busy time
// within total.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/proc_loads.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const dozerin::InterfaceBytes& i : dozerin::ParseNetDev(text)) {
    if (i.name.empty() || i.name.find('\n') != std::string::npos) std::abort();
  }
  for (const dozerin::ProcessorTimes& t : dozerin::ParseProcStat(text)) {
    if (t.busy > t.total) std::abort();
  }
  for (const dozerin::DiskBytes& d : dozerin::ParseDiskStats(text)) {
    if (d.name.empty() || d.name.find_first_of(" \t\n") != std::string::npos) std::abort();
  }
  for (const dozerin::TcpConnection& c : dozerin::ParseProcNetTcp(text)) {
    if (c.peer.empty() || c.peer.size() > 39) std::abort();
  }
  (void)dozerin::ParseInterfaceType(text);
  return 0;
}
