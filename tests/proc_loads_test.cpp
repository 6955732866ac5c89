// The Linux load sources as text: /proc/net/dev, /proc/stat and interface types, recorded and
// hostile; and the two loads over a recorded tree with a fake clock.
#include "monitor/proc_loads.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace dozerin {
namespace {

const char kNetDev[] =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n"
    "    lo:  123456     100    0    0    0     0          0         0   123456     100    0 "
    "   0    0     0       0          0\n"
    "  eth0: 9876543    7000    0    0    0     0          0         0  1234567    5000    0 "
    "   0    0     0       0          0\n"
    "my if0: 10 1 0 0 0 0 0 0 20 2 0 0 0 0 0 0\n";

TEST(ProcText, NetDevRecordedAndHostile) {
  const auto recorded = ParseNetDev(kNetDev);
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[1].name, "eth0");
  EXPECT_EQ(recorded[1].received, 9876543u);
  EXPECT_EQ(recorded[1].sent, 1234567u);
  EXPECT_EQ(recorded[2].name, "my if0");  // spaces inside a name are kept
  const struct {
    const char* text;
    std::size_t interfaces;
  } hostile[] = {
      {"", 0},
      {"eth0: 1 2 3", 0},                                 // truncated
      {"eth0: 1 2 3 4 5 6 7 8 9 10 11", 1},               // enough numbers
      {"eth0: 99999999999999999999 0 0 0 0 0 0 0 1", 0},  // beyond 64 bits
      {"eth0: 18446744073709551615 0 0 0 0 0 0 0 1", 1},  // the largest
      {"eth0: 1 2 3 4 5 6 7 8 x9", 0},                    // not a number
      {": 1 2 3 4 5 6 7 8 9", 0},                         // no name
      {"a:b: 1 2 3 4 5 6 7 8 9", 1},                      // the last colon counts
  };
  for (const auto& h : hostile) EXPECT_EQ(ParseNetDev(h.text).size(), h.interfaces) << h.text;
}

TEST(ProcText, ProcStatRecordedAndHostile) {
  const auto times = ParseProcStat(
      "cpu  100 0 50 1000 10 0 0 0 0 0\n"
      "cpu0 10 1 5 100 4 2 3 1 7 0\n"
      "cpu1 1 2 3 4\n"
      "intr 12345\n"
      "cpux 1 2 3 4\n"
      "cpu2 1 2 3\n"
      "cpu3 18446744073709551615 1 0 0\n");
  ASSERT_EQ(times.size(), 2u);  // cpu2 is short, cpu3 overflows, the total line is left out
  EXPECT_EQ(times[0].index, 0u);
  EXPECT_EQ(times[0].busy, 10u + 1 + 5 + 2 + 3 + 1);  // guest time is within user already
  EXPECT_EQ(times[0].total, times[0].busy + 100 + 4);
  EXPECT_EQ(times[1].busy, 6u);

  std::string many;
  for (int i = 0; i < 4096; ++i) many += "cpu" + std::to_string(i) + " 1 0 0 1\n";
  EXPECT_EQ(ParseProcStat(many).size(), 4096u);

  const struct {
    const char* text;
    std::size_t disks;
  } disks[] = {
      {"   8       0 sda 100 0 2000 0 50 0 4000 0 0 0 0 0 0 0 0 0 0\n 7 0 loop0 1 0 8 0 0 0 0\n",
       2},
      {"8 0 sda 1 2 3 4 5 6\n", 0},                    // too few counters
      {"8 0 sda 1 2 3 4 5 6 x7\n", 0},                 // not a number
      {"x 0 sda 1 2 3 4 5 6 7\n", 0},                  // no major number
      {"8 0 sda 1 2 36028797018963968 4 5 6 7\n", 0},  // sectors past 2^54 bytes
      {"8 0\n8\n\n", 0},                               // no name
  };
  for (const auto& d : disks) EXPECT_EQ(ParseDiskStats(d.text).size(), d.disks) << d.text;
  const auto sda = ParseDiskStats(disks[0].text)[0];
  EXPECT_EQ(sda.name + " " + std::to_string(sda.read) + " " + std::to_string(sda.written),
            "sda 1024000 2048000");

  const auto tcp = ParseProcNetTcp(
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
      "   0: 0100007F:0016 0700020C:C350 01 00000000:00000000 00:00000000 00000000 0\n"
      "   1: 00000000:0016 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0\n"
      "   2: 00000000000000000000000000000000:0D3D 0000000000000000FFFF0000070200C0:1F90 01 0\n"
      "   3: 00000000000000000000000000000000:170C B80D0120000000000000000007000000:1F90 01 0\n"
      "   4: 0100007F:16 0700020C:C350 01\n"      // a short port
      "   5: 0100007F:0016 0700020C:C350\n"       // no state
      "   6: 0100007G:0016 0700020C:C350 01\n"    // not hex
      "   x: 0100007F:0016 0700020C:C350 01\n");  // no slot number
  ASSERT_EQ(tcp.size(), 4u);
  EXPECT_EQ(tcp[0].local_port, 22);
  EXPECT_EQ(tcp[0].peer, "12.2.0.7");
  EXPECT_TRUE(tcp[0].established);
  EXPECT_FALSE(tcp[1].established);  // listening
  EXPECT_EQ(tcp[2].peer + " " + tcp[3].peer, "192.0.2.7 2001:db8::7");
  EXPECT_EQ(tcp[3].local_port, 5900);

  EXPECT_EQ(ParseInterfaceType("772\n"), 772u);
  EXPECT_FALSE(ParseInterfaceType(""));
  EXPECT_FALSE(ParseInterfaceType("77x"));
  EXPECT_FALSE(ParseInterfaceType("99999999999"));
}

// A recorded tree whose files the test rewrites, and a clock the test moves.
struct Tree {
  std::map<std::string, std::string> files;
  std::chrono::steady_clock::time_point now{};
  FileReader reader() {
    return [this](const std::string& path) -> std::optional<std::string> {
      const auto it = files.find(path);
      if (it == files.end()) return std::nullopt;
      return it->second;
    };
  }
  void NetDev(std::uint64_t lo, std::uint64_t eth0, bool with_wlan = false) {
    auto line = [](const char* name, std::uint64_t bytes) {
      return std::string(name) + ": " + std::to_string(bytes) + " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    };
    files["/r/proc/net/dev"] =
        "h\nh\n" + line("lo", lo) + line("eth0", eth0) + (with_wlan ? line("wlan9", 0) : "");
  }
};

TEST(ProcLoads, NetworkRateLeavesOutLoopbacksAndTreatsFirstAndBackwardsAsNone) {
  Tree t;
  t.files["/r/sys/class/net/lo/type"] = "772\n";
  t.files["/r/sys/class/net/eth0/type"] = "1\n";
  ProcNetworkLoad load("/r", t.reader(), [&] { return t.now; });
  t.NetDev(0, 1000);
  ASSERT_TRUE(load.Open());
  const struct {
    int seconds;
    std::uint64_t lo, eth0;
    std::uint64_t rate;
  } steps[] = {
      {1, 5000000, 3000, 2000},                // loopback traffic is left out
      {2, 5000000, 7000, 2000},                // per second
      {1, 5000000, 3000007000, 3000000000},    // 3 GB/s, past 31 bits
      {1, 5000000, 13000007000, 10000000000},  // 10 GB/s, past 32 bits
      {1, 5000000, 100, 0},                    // went backwards (a reset): no load
      {1, 5000000, 100, 0},                    // no traffic
      {0, 5000000, 900, 0},                    // no time passed
  };
  for (const auto& s : steps) {
    t.now += std::chrono::seconds(s.seconds);
    t.NetDev(s.lo, s.eth0);
    EXPECT_EQ(load.Sample(), s.rate) << s.eth0;
  }
  // An interface that comes and goes is forgotten with it.
  t.NetDev(0, 900, true);
  load.Sample();
  EXPECT_EQ(load.interfaces_known(), 2u);
  t.NetDev(0, 900);
  load.Sample();
  EXPECT_EQ(load.interfaces_known(), 1u);
  t.files.erase("/r/proc/net/dev");
  EXPECT_FALSE(load.Sample());
}

TEST(ProcLoads, OnlyPhysicalDisksAndInterfacesCount) {
  // Each device moves 1 MiB in a second; a file of its sysfs folders may give it away.
  const struct {
    const char *name, *mark;
    bool disk, counted;
  } devices[] = {
      {"sda", "", true, true},
      {"nvme0n1", "/r/sys/class/block/nvme0n1/slaves/", true, true},  // an empty folder
      {"sda2", "/r/sys/class/block/sda2/partition", true, false},
      {"dm-0", "/r/sys/class/block/dm-0/slaves/sda2", true, false},  // LVM or LUKS over sda2
      {"md0", "/r/sys/class/block/md0/slaves/sdb", true, false},
      {"loop0", "", true, false},
      {"eth0", "/r/sys/class/net/eth0/type", false, true},
      {"br0", "/r/sys/devices/virtual/net/br0/type", false, false},
      {"veth1a2b", "/r/sys/devices/virtual/net/veth1a2b/type", false, false},
      {"tun0", "/r/sys/devices/virtual/net/tun0/type", false, false},
  };
  for (const auto& d : devices) {
    Tree t;
    if (*d.mark != '\0') t.files[d.mark] = "1\n";
    ProcDiskLoad disk(
        "/r", t.reader(), [&] { return t.now; },
        [&t](const std::string& folder) {
          const auto next = t.files.upper_bound(folder + "/");
          return next != t.files.end() && next->first.rfind(folder + "/", 0) == 0;
        });
    ProcNetworkLoad network("/r", t.reader(), [&] { return t.now; });
    LoadProbe& load = d.disk ? static_cast<LoadProbe&>(disk) : network;
    for (const std::uint64_t mib : {1, 2}) {
      t.files["/r/proc/diskstats"] =
          "8 0 " + std::string(d.name) + " 1 0 " + std::to_string(mib * 2048) + " 0 0 0 0 0 0 0\n";
      t.files["/r/proc/net/dev"] = "h\nh\n" + std::string(d.name) + ": " +
                                   std::to_string(mib << 20) + " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
      if (mib == 1) {
        ASSERT_TRUE(load.Open()) << d.name;
        t.now += std::chrono::seconds(1);
      }
    }
    EXPECT_EQ(load.Sample(), d.counted ? 1u << 20 : 0u) << d.name;
  }
}

TEST(ProcLoads, ProcessorIsTheBusiestCoreSinceThePreviousSample) {
  Tree t;
  ProcProcessorLoad load("/r", t.reader());
  t.files["/r/proc/stat"] = "cpu0 0 0 0 0\ncpu1 0 0 0 0\n";
  ASSERT_TRUE(load.Open());
  t.files["/r/proc/stat"] = "cpu0 10 0 0 90\ncpu1 90 0 0 10\n";
  EXPECT_EQ(load.Sample(), 90u);
  t.files["/r/proc/stat"] = "cpu0 10 0 0 90\ncpu1 90 0 0 10\ncpu2 50 0 0 50\n";
  EXPECT_EQ(load.Sample(), 0u);  // nothing moved; a new core has no previous sample
  t.files["/r/proc/stat"] = "cpu0 5 0 0 200\ncpu1 140 0 0 60\ncpu2 75 0 0 75\n";
  EXPECT_EQ(load.Sample(), 50u);  // cpu0 went backwards and counts as nothing
}

}  // namespace
}  // namespace dozerin
