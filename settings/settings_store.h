// The settings store: typed reads and writes of the INI file beside the executable. Nothing is
// cached: every read goes to the file, every write changes one key of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dozerin {

// Section GENERAL and its keys, with the default every reader uses.
namespace settings {
inline constexpr char kGeneral[] = "GENERAL";
inline constexpr char kProcess[] = "PROCESS";
inline constexpr char kWindow[] = "WINDOW";
// Local TCP ports whose established incoming connections keep the machine awake ("22", "3389").
inline constexpr char kConnection[] = "CONNECTION";

struct IntKey {
  const char* name;
  std::int32_t default_value;
};
inline constexpr IntKey kNetworkTraffic{"NetworkTraffic", 0};
inline constexpr IntKey kCpuUsage{"CPUUsage", 0};
inline constexpr IntKey kMouseCap{"MouseCap", 0};
inline constexpr IntKey kMaxMargin{"MaxMargin", 0};
inline constexpr IntKey kBusyDisplay{"BusyDisplay", 0};
inline constexpr IntKey kResetDisplayOnWakeup{"ResetDisplayOnWakeup", 0};
inline constexpr IntKey kSetMarginOnWakeup{"SetMarginOnWakeup", 0};
inline constexpr IntKey kNetworkAveTime{"NetworkAveTime", 4};
inline constexpr IntKey kCpuAveTime{"CPUAveTime", 4};
// Disk transfers: a threshold in KB/s (0: off) and the samples averaged, like the network's.
inline constexpr IntKey kDiskTraffic{"DiskTraffic", 0};
inline constexpr IntKey kDiskAveTime{"DiskAveTime", 4};
inline constexpr IntKey kLog{"Log", 0};
// On battery: 0 lets no automatic trigger keep the machine awake; at or below the floor (percent,
// 0 = off) nothing does, a hold by hand included.
inline constexpr IntKey kBatteryHold{"BatteryHold", 1};
inline constexpr IntKey kBatteryFloor{"BatteryFloor", 0};

// Positions "0" to "99" are what the program stores of a list.
inline constexpr int kMaxStoredListEntries = 100;
// The end mark of a numbered list, and the default every position is read with.
inline constexpr char kListEnd[] = "-1";
}  // namespace settings

// The integer rule of the file: an optional sign and the decimal digits up to the first other
// character, taken modulo 2^32; an empty value gives the default, any other text 0.
std::uint32_t ParseProfileInt(std::string_view value, std::int32_t default_value);

// An entry of the connection list: a port number 1 to 65535 in decimal digits and nothing else.
std::optional<std::uint16_t> ParsePortEntry(std::string_view entry);

class SettingsStore {
 public:
  SettingsStore() = default;
  explicit SettingsStore(std::string path) : path_(std::move(path)) {}

  void SetPath(std::string path) { path_ = std::move(path); }
  const std::string& path() const { return path_; }

  std::uint32_t ReadInt(std::string_view section, std::string_view key,
                        std::int32_t default_value) const;
  std::uint32_t ReadInt(const settings::IntKey& key) const {
    return ReadInt(settings::kGeneral, key.name, key.default_value);
  }
  // At most 4095 bytes; the default when the key is missing.
  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view default_text) const;

  // Writes return false when the file could not be written; it is then left as it was. Names and
  // values that would break the line structure of the file (line ends, NUL bytes, '=' in a key,
  // ']' in a section) are refused the same way.
  bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);
  bool WriteInt(const settings::IntKey& key, std::int32_t value) {
    return WriteInt(settings::kGeneral, key.name, value);
  }
  // No text deletes the key; deleting a missing key succeeds and changes nothing.
  bool WriteText(std::string_view section, std::string_view key,
                 std::optional<std::string_view> text);

  // Entries "0", "1", ... up to the first missing key or the first entry "-1".
  std::vector<std::string> ReadList(std::string_view section) const;
  // Writes keys "0" to "99": the entries first, then deletes of the unused positions. Entries past
  // the hundredth are not stored; keys from "100" up are left alone. Stops at the first failure.
  bool WriteList(std::string_view section, const std::vector<std::string>& entries);

 private:
  std::string path_;
};

// The platform's profile functions, always given the full path.
namespace profile {
struct Entry {
  std::string key;
  std::optional<std::string> value;  // as a read of that key returns it; empty when it has none
};
std::string ReadText(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view default_text);
std::uint32_t ReadInt(const std::string& path, std::string_view section, std::string_view key,
                      std::int32_t default_value);
// The lines of the first section of that name, in file order.
std::vector<Entry> ReadSection(const std::string& path, std::string_view section);
// value == nullopt deletes the key.
bool Write(const std::string& path, std::string_view section, std::string_view key,
           std::optional<std::string_view> value);
}  // namespace profile

}  // namespace dozerin
