// The network, disk and processor loads as Linux shows them: the counters of /proc/net/dev and
// /proc/diskstats and the per-processor times of /proc/stat, read from a root folder (the real "/"
// or a recorded tree), turned into the worker's two figures by the same rules as the Windows
// counters: a first sample and a counter that went backwards count as no load.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/worker.h"

namespace dozerin {

struct InterfaceBytes {
  std::string name;
  std::uint64_t received = 0;
  std::uint64_t sent = 0;
};

// /proc/net/dev: after two heading lines, "name: rx_bytes rx_packets ... tx_bytes ..." with the
// sent bytes as the ninth number. Lines that do not read so (short, not numbers, numbers too large
// for 64 bits) are left out; so is everything after the first 65536 lines.
std::vector<InterfaceBytes> ParseNetDev(std::string_view text);

struct ProcessorTimes {
  std::uint32_t index = 0;  // N of "cpuN"
  std::uint64_t busy = 0;   // user, nice, system, irq, softirq, steal
  std::uint64_t total = 0;  // busy plus idle and iowait
};

// The "cpuN" lines of /proc/stat (the "cpu" line of all processors together is left out). Lines
// that do not read so are left out.
std::vector<ProcessorTimes> ParseProcStat(std::string_view text);

struct DiskBytes {
  std::string name;
  std::uint64_t read = 0;  // bytes: sectors of 512 bytes
  std::uint64_t written = 0;
};

// /proc/diskstats: "major minor name reads merged sectors_read ms writes merged sectors_written
// ..." Lines that do not read so are left out, and so is everything after the first 65536 lines.
std::vector<DiskBytes> ParseDiskStats(std::string_view text);

struct TcpConnection {
  std::uint16_t local_port = 0;
  std::string peer;  // "192.0.2.7", "2001:db8::7"
  bool established = false;
};

// /proc/net/tcp and /proc/net/tcp6: "sl: local_address rem_address st ...", addresses in hex as
// the kernel keeps them (each 32-bit word in this machine's little-endian order), ports in hex.
// An IPv4 address mapped into IPv6 is given as IPv4. Lines that do not read so are left out, and
// so is everything after the first 65536 lines.
std::vector<TcpConnection> ParseProcNetTcp(std::string_view text);

// /sys/class/net/<name>/type: the interface's type number (772 is a loopback).
std::optional<std::uint32_t> ParseInterfaceType(std::string_view text);
constexpr std::uint32_t kLoopbackType = 772;

// Reads a whole file under the root folder; nothing when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;
using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;
// Whether a folder holds anything; false for one that is not there.
using FolderFilled = std::function<bool(const std::string& path)>;
bool FolderHasEntries(const std::string& path);
// Reads at most max_bytes of a file with the standard library.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes = 1 << 22);

// The sum of named byte counters' rates since their previous reading. As with the Windows
// counters, a first reading, a counter that went backwards and no time between readings count as
// nothing; a name that is no longer read is forgotten.
class CounterRates {
 public:
  std::uint64_t Update(const std::map<std::string, std::uint64_t>& counters,
                       std::chrono::steady_clock::time_point now);
  bool Known(const std::string& name) const { return previous_.count(name) != 0; }
  std::size_t size() const { return previous_.size(); }

 private:
  struct Previous {
    std::uint64_t bytes;
    std::chrono::steady_clock::time_point at;
  };
  std::map<std::string, Previous> previous_;
};

// Bytes per second read plus written on the physical disks: whole disks (not their partitions),
// with nothing below them (not device-mapper, RAID or other stacked devices, whose transfers their
// disks count already), and not loop, ram and zram devices.
class ProcDiskLoad : public LoadProbe {
 public:
  ProcDiskLoad(std::string root, FileReader read, SteadyClock now,
               FolderFilled filled = FolderHasEntries)
      : root_(std::move(root)),
        read_(std::move(read)),
        now_(std::move(now)),
        filled_(std::move(filled)) {}
  bool Open() override { return Sample().has_value(); }
  std::optional<std::uint64_t> Sample() override;

 private:
  bool Counted(const std::string& name);

  std::string root_;
  FileReader read_;
  SteadyClock now_;
  FolderFilled filled_;
  CounterRates rates_;
  std::map<std::string, bool> counted_;  // looked up once per device
};

// Bytes per second received plus sent over every interface that is neither a loopback nor
// virtual (bridges, veth, tun: traffic between containers, or counted again on a real interface).
class ProcNetworkLoad : public LoadProbe {
 public:
  ProcNetworkLoad(std::string root, FileReader read, SteadyClock now)
      : root_(std::move(root)), read_(std::move(read)), now_(std::move(now)) {}
  bool Open() override;
  std::optional<std::uint64_t> Sample() override;
  std::size_t interfaces_known() const { return rates_.size(); }

 private:
  bool Loopback(const std::string& name);

  std::string root_;
  FileReader read_;
  SteadyClock now_;
  CounterRates rates_;                    // interfaces of the last reading only
  std::map<std::string, bool> loopback_;  // looked up once per interface
};

// The busiest processor's busy percentage since the previous sample.
class ProcProcessorLoad : public LoadProbe {
 public:
  ProcProcessorLoad(std::string root, FileReader read)
      : root_(std::move(root)), read_(std::move(read)) {}
  bool Open() override;
  std::optional<std::uint64_t> Sample() override;

 private:
  std::string root_;
  FileReader read_;
  std::map<std::uint32_t, ProcessorTimes> previous_;
};

}  // namespace dozerin
