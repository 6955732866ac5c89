#include "monitor/proc_loads.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "monitor/load_average.h"

namespace dozerin {
namespace {

constexpr std::size_t kMaxLines = 65536;

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

// Calls line for each line of text, up to kMaxLines; stops when it returns false.
template <typename F>
void ForEachLine(std::string_view text, F&& line) {
  for (std::size_t n = 0; !text.empty() && n < kMaxLines; ++n) {
    const std::size_t end = text.find('\n');
    if (!line(text.substr(0, end))) return;
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

// The blank-separated decimal numbers of s, at most max of them; nothing when one is not a plain
// number or does not fit 64 bits.
std::optional<std::vector<std::uint64_t>> Numbers(std::string_view s, std::size_t max) {
  std::vector<std::uint64_t> out;
  std::size_t pos = 0;
  while (out.size() < max) {
    while (pos < s.size() && Blank(s[pos])) ++pos;
    if (pos == s.size()) break;
    std::uint64_t value = 0;
    const std::size_t start = pos;
    for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
      const auto digit = static_cast<std::uint64_t>(s[pos] - '0');
      if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
      value = value * 10 + digit;
    }
    if (pos == start || (pos < s.size() && !Blank(s[pos]))) return std::nullopt;
    out.push_back(value);
  }
  return out;
}

bool AddChecked(std::uint64_t* sum, std::uint64_t value) {
  if (*sum > std::numeric_limits<std::uint64_t>::max() - value) return false;
  *sum += value;
  return true;
}

}  // namespace

std::vector<InterfaceBytes> ParseNetDev(std::string_view text) {
  std::vector<InterfaceBytes> out;
  ForEachLine(text, [&](std::string_view line) {
    const std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos) return true;  // a heading
    const std::string_view name = Trim(line.substr(0, colon));
    const auto numbers = Numbers(line.substr(colon + 1), 16);
    if (name.empty() || !numbers || numbers->size() < 9) return true;
    out.push_back({std::string(name), (*numbers)[0], (*numbers)[8]});
    return true;
  });
  return out;
}

std::vector<ProcessorTimes> ParseProcStat(std::string_view text) {
  std::vector<ProcessorTimes> out;
  ForEachLine(text, [&](std::string_view line) {
    if (line.size() < 4 || line.substr(0, 3) != "cpu" || line[3] < '0' || line[3] > '9') {
      return true;
    }
    std::size_t pos = 3;
    std::uint64_t index = 0;
    for (; pos < line.size() && line[pos] >= '0' && line[pos] <= '9'; ++pos) {
      index = index * 10 + static_cast<std::uint64_t>(line[pos] - '0');
      if (index > std::numeric_limits<std::uint32_t>::max()) return true;
    }
    // user nice system idle iowait irq softirq steal (guest time is within user already)
    const auto n = Numbers(line.substr(pos), 8);
    if (!n || n->size() < 4) return true;
    ProcessorTimes times;
    times.index = static_cast<std::uint32_t>(index);
    for (std::size_t i = 0; i < n->size(); ++i) {
      const bool idle = i == 3 || i == 4;
      if (!idle && !AddChecked(&times.busy, (*n)[i])) return true;
      if (!AddChecked(&times.total, (*n)[i])) return true;
    }
    out.push_back(times);
    return true;
  });
  return out;
}

std::vector<DiskBytes> ParseDiskStats(std::string_view text) {
  std::vector<DiskBytes> out;
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    // major and minor, then the name, then the counters.
    std::size_t pos = 0;
    for (int field = 0; field < 2; ++field) {
      const std::size_t end = line.find_first_of(" \t", pos);
      if (end == std::string_view::npos || !Numbers(line.substr(pos, end - pos), 1)) return true;
      pos = line.find_first_not_of(" \t", end);
      if (pos == std::string_view::npos) return true;
    }
    const std::size_t name_end = line.find_first_of(" \t", pos);
    if (name_end == std::string_view::npos) return true;
    const auto n = Numbers(line.substr(name_end), 20);
    if (!n || n->size() < 7 || (*n)[2] > (std::uint64_t{1} << 54) ||
        (*n)[6] > (std::uint64_t{1} << 54)) {
      return true;
    }
    out.push_back({std::string(line.substr(pos, name_end - pos)), (*n)[2] * 512, (*n)[6] * 512});
    return true;
  });
  return out;
}

namespace {

std::optional<std::uint32_t> Hex(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : s) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// "0100007F" is 127.0.0.1: the word's bytes from its lowest.
std::string Dotted(std::uint32_t word) {
  return std::to_string(word & 0xff) + "." + std::to_string((word >> 8) & 0xff) + "." +
         std::to_string((word >> 16) & 0xff) + "." + std::to_string(word >> 24);
}

// An address of 8 or 32 hex digits and the port after its colon; nothing when it does not read.
std::optional<std::pair<std::string, std::uint16_t>> Endpoint(std::string_view s) {
  const std::size_t colon = s.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto port = Hex(s.substr(colon + 1));
  if (!port || *port > 0xffff || s.substr(colon + 1).size() != 4) return std::nullopt;
  const std::string_view hex = s.substr(0, colon);
  std::uint32_t words[4] = {};
  const std::size_t count = hex.size() / 8;
  if (hex.size() != 8 && hex.size() != 32) return std::nullopt;
  for (std::size_t i = 0; i < count; ++i) {
    const auto word = Hex(hex.substr(i * 8, 8));
    if (!word) return std::nullopt;
    words[i] = *word;
  }
  const auto port16 = static_cast<std::uint16_t>(*port);
  if (count == 1) return std::make_pair(Dotted(words[0]), port16);
  if (words[0] == 0 && words[1] == 0 && words[2] == 0xffff0000u) {
    return std::make_pair(Dotted(words[3]), port16);  // ::ffff:a.b.c.d
  }
  std::uint16_t groups[8];
  for (int i = 0; i < 4; ++i) {
    // The word's bytes from its lowest are the address's bytes in order.
    const std::uint32_t w = words[i];
    groups[2 * i] = static_cast<std::uint16_t>(((w & 0xff) << 8) | ((w >> 8) & 0xff));
    groups[2 * i + 1] = static_cast<std::uint16_t>((((w >> 16) & 0xff) << 8) | (w >> 24));
  }
  // The longest run of two or more zero groups is written "::".
  int best = -1;
  int best_length = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > best_length) best = i, best_length = j - i;
    i = j == i ? i + 1 : j;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return std::make_pair(text, port16);
}

}  // namespace

std::vector<TcpConnection> ParseProcNetTcp(std::string_view text) {
  std::vector<TcpConnection> out;
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos || !Numbers(line.substr(0, colon), 1)) return true;
    std::string_view fields[3];
    std::size_t pos = colon + 1;
    for (std::string_view& field : fields) {
      pos = line.find_first_not_of(" \t", pos);
      if (pos == std::string_view::npos) return true;
      const std::size_t end = std::min(line.find_first_of(" \t", pos), line.size());
      field = line.substr(pos, end - pos);
      pos = end;
    }
    const auto local = Endpoint(fields[0]);
    const auto remote = Endpoint(fields[1]);
    const auto state = Hex(fields[2]);
    if (!local || !remote || !state) return true;
    out.push_back({local->second, remote->first, *state == 1});
    return true;
  });
  return out;
}

std::optional<std::uint32_t> ParseInterfaceType(std::string_view text) {
  const auto n = Numbers(Trim(text.substr(0, text.find('\n'))), 2);
  if (!n || n->size() != 1 || (*n)[0] > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>((*n)[0]);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[8192];
  while (text.size() < max_bytes && in.read(buffer, sizeof buffer).gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  if (text.size() > max_bytes) text.resize(max_bytes);
  return text;
}

bool FolderHasEntries(const std::string& path) {
  std::error_code error;
  const std::filesystem::directory_iterator entries(path, error);
  return !error && entries != std::filesystem::directory_iterator();
}

bool ProcNetworkLoad::Open() {
  // The first sample: every interface starts from here.
  return Sample().has_value();
}

bool ProcNetworkLoad::Loopback(const std::string& name) {
  const auto known = loopback_.find(name);
  if (known != loopback_.end()) return known->second;
  // A name that could leave the folder is nobody's interface.
  const bool bad_name = name.find('/') != std::string::npos || name == "." || name == "..";
  const auto type = bad_name ? std::nullopt : read_(root_ + "/sys/class/net/" + name + "/type");
  const bool loopback = bad_name || (type && ParseInterfaceType(*type) == kLoopbackType) ||
                        name == "lo" ||
                        read_(root_ + "/sys/devices/virtual/net/" + name + "/type").has_value();
  return loopback_[name] = loopback;
}

std::uint64_t CounterRates::Update(const std::map<std::string, std::uint64_t>& counters,
                                   std::chrono::steady_clock::time_point now) {
  std::map<std::string, Previous> seen;
  std::uint64_t sum = 0;
  for (const auto& [name, bytes] : counters) {
    const auto before = previous_.find(name);
    if (before != previous_.end()) {
      // Counters wrap like the kernel's own; one that went backwards counts as nothing.
      const auto delta = static_cast<std::int64_t>(bytes - before->second.bytes);
      const double seconds = std::chrono::duration<double>(now - before->second.at).count();
      if (delta > 0 && seconds > 0) {
        const double rate = static_cast<double>(delta) / seconds;
        sum = SaturatingAdd(
            sum, rate < 18446744073709551616.0 ? static_cast<std::uint64_t>(rate) : UINT64_MAX);
      }
    }
    seen[name] = {bytes, now};
  }
  previous_ = std::move(seen);
  return sum;
}

std::optional<std::uint64_t> ProcNetworkLoad::Sample() {
  const std::optional<std::string> text = read_(root_ + "/proc/net/dev");
  if (!text) return std::nullopt;
  std::map<std::string, std::uint64_t> counters;
  for (const InterfaceBytes& i : ParseNetDev(*text)) {
    if (counters.count(i.name) != 0 || Loopback(i.name)) continue;
    counters[i.name] = i.received + i.sent;  // wraps like the counters themselves
  }
  const std::uint64_t rate = rates_.Update(counters, now_());
  // What was looked up about interfaces that have gone is forgotten.
  for (auto it = loopback_.begin(); it != loopback_.end();) {
    it = rates_.Known(it->first) || it->second ? std::next(it) : loopback_.erase(it);
  }
  if (loopback_.size() > 4096) loopback_.clear();
  return rate;
}

bool ProcDiskLoad::Counted(const std::string& name) {
  const auto known = counted_.find(name);
  if (known != counted_.end()) return known->second;
  if (counted_.size() > 4096) counted_.clear();
  const bool bad_name = name.find('/') != std::string::npos || name == "." || name == "..";
  const bool virtual_device =
      name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0;
  // A partition has a "partition" file in its sysfs folder; its disk counts for it. A stacked
  // device lists the devices below it in "slaves".
  const std::string folder = root_ + "/sys/class/block/" + name;
  return counted_[name] = !bad_name && !virtual_device && !read_(folder + "/partition") &&
                          !filled_(folder + "/slaves");
}

std::optional<std::uint64_t> ProcDiskLoad::Sample() {
  const std::optional<std::string> text = read_(root_ + "/proc/diskstats");
  if (!text) return std::nullopt;
  std::map<std::string, std::uint64_t> counters;
  for (const DiskBytes& d : ParseDiskStats(*text)) {
    if (Counted(d.name)) counters[d.name] = d.read + d.written;
  }
  return rates_.Update(counters, now_());
}

bool ProcProcessorLoad::Open() {
  return Sample().has_value();
}

std::optional<std::uint64_t> ProcProcessorLoad::Sample() {
  const std::optional<std::string> text = read_(root_ + "/proc/stat");
  if (!text) return std::nullopt;
  std::map<std::uint32_t, ProcessorTimes> now;
  std::uint32_t busiest = 0;
  for (const ProcessorTimes& t : ParseProcStat(*text)) {
    const auto before = previous_.find(t.index);
    if (before != previous_.end() && t.total > before->second.total &&
        t.busy >= before->second.busy) {
      const std::uint64_t busy = t.busy - before->second.busy;
      const std::uint64_t total = t.total - before->second.total;
      const auto percent = static_cast<std::uint32_t>(
          busy >= total ? 100.0 : static_cast<double>(busy) * 100.0 / static_cast<double>(total));
      if (percent > busiest) busiest = percent;
    }
    now[t.index] = t;
  }
  previous_ = std::move(now);
  return busiest;
}

}  // namespace dozerin
